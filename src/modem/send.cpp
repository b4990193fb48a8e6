#include "modem/send.h"

#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "codec/codec_buffer.h"
#include "codec/gsm7.h"
#include "codec/utf8_to_ucs2.h"
#include "listing/output_check.h"
#include "modem/commands.h"
#include "modem/failure.h"
#include "modem/prepare.h"
#include "modem/reports.h"
#include "modem/step.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

constexpr int AnswerTries = 10;
constexpr long long ConfirmMicros = 60000000;  // a network may take that long to take an SMS
constexpr int CommandSize = 32;  // "AT+CMGS=<octets>\r"

bool IsQuote(char c) { return c == '\'' || c == '"'; }

// Whether text is wrapped in a pair of the same quote ('TEXT' or "TEXT"), as some shells and
// front ends pass it: only such a pair is taken off, once.
bool IsWrapped(const char* text, size_t length) { return length >= 2 && IsQuote(text[0]) && text[length - 1] == text[0]; }

char* StripQuotes(char* text) {
  const size_t length = strlen(text);
  if (!IsWrapped(text, length)) return text;
  text[length - 1] = '\0';
  return text + 1;
}

// Copies text with backslash-r and backslash-n turned into CR and LF; any other backslash stays.
void ExpandEscapes(char* out, const char* text) {
  for (; *text; ++text) {
    if (text[0] == '\\' && (text[1] == 'r' || text[1] == 'n')) {
      *out++ = text[1] == 'r' ? '\r' : '\n';
      ++text;
    } else {
      *out++ = *text;
    }
  }
  *out = '\0';
}

// Judges the answer to AT+CMGS in ResponseBuffer, then reads more until one holds the prompt: it
// counts only within the first AnswerTries answers, and at most AnswerTries + 1 are read. An error
// line ends the wait as command's refusal.
bool PromptCame(int port, const char* command) {
  for (int counter = AnswerTries;; --counter) {
    if (ResponseHas(AnsPrompt)) return counter > 0;
    if (NoteErrorAnswer(command) || counter == 0 || PortLost()) return false;
    ReadResponseFor(port, AwaitPrompt);
  }
}

// After the PDU: reads until a final result comes, for up to ConfirmMicros. True for OK; an error
// line is noted as step's refusal.
bool Confirmed(int port, const char* step) {
  const long long end = NowMicros() + ConfirmMicros;
  do {
    ReadResponse(port);
    bool ok = false;
    if (FindFinalResult(ResponseBuffer, &ok)) {
      if (!ok) NoteRefusal(step);
      return ok;
    }
  } while (NowMicros() < end && !PortLost());
  NoteFailure("the modem did not confirm %s", step);
  return false;
}

// What a signal during the confirmation of part leaves unknown.
char InterruptedNote[128];
void NoteConfirming(const PartHeader& part) {
  if (part.total > 1)
    snprintf(InterruptedNote, sizeof InterruptedNote,
             "atsms: interrupted while the modem confirmed part %d of %d; that part may have been sent\n",
             part.sequence, part.total);
  else
    snprintf(InterruptedNote, sizeof InterruptedNote,
             "atsms: interrupted while the modem confirmed the SMS; the SMS may have been sent\n");
  SetSignalNote(InterruptedNote);
}

// Hands one PDU to the modem: AT+CMGS, the prompt, the PDU line, the confirmation. True once
// confirmed, with *reference the TP-MR the confirmation gave (-1: none).
bool SendPdu(int port, const char* pdu, int pduLength, const PartHeader& part, int* reference) {
  // AT+CMGS counts the TPDU octets, without the one SMSC length octet "00".
  char command[CommandSize];
  const int length = snprintf(command, sizeof command, CmdSendFormat, (pduLength - 1) / 2);
  Exchange(port, command, AwaitPrompt);
  if (!PromptCame(port, command)) {
    NoteFailure("the modem gave no prompt for %s", command);
    return false;
  }
  snprintf(ResponseBuffer, ResponseBufferSize, CmdPduLineFormat, pdu);
  SetPromptOpen(true);  // until the Ctrl-Z is out, a signal leaves the modem waiting for it
  const bool written = SendCmd(port, ResponseBuffer) == 0;
  if (written) NoteConfirming(part);  // its Ctrl-Z is out: the modem may send it whatever comes
  SetPromptOpen(!written);  // never written again: the modem may have sent it
  char step[CommandSize + 32];
  snprintf(step, sizeof step, "the PDU sent after %.*s", length - 1, command);  // without the CR
  const bool confirmed = Confirmed(port, step);
  SetSignalNote(nullptr);
  if (!confirmed) return false;
  *reference = ReadSendReference(ResponseBuffer);  // "+CMGS: <mr>" comes with the OK
  return true;
}

// A sent SMS whose block could not be written: "atsms: the SMS was sent (references 17, 18) but the
// result could not be written: ...", the references the modem gave, so that nobody sends it again.
void SayWhenUnwritten(const int* references, int count) {
  const int error = OutputError(stdout);
  if (error == 0) return;
  char done[32 + MaxParts * 6] = "the SMS was sent";
  int length = (int)strlen(done);
  const char* separator = count > 1 ? " (references " : " (reference ";
  for (int i = 0; i < count && length < (int)sizeof done; ++i) {  // a reference is at most 3 digits: it fits
    if (references[i] < 0) continue;
    length += snprintf(done + length, sizeof done - (size_t)length, "%s%d", separator, references[i]);
    separator = ", ";
  }
  if (separator[0] == ',' && length < (int)sizeof done) snprintf(done + length, sizeof done - (size_t)length, ")");
  ReportOutputError(error, done);
}

// The result block; with report, the references of the parts that went out (count), in order,
// null for one the modem did not give.
int Result(bool ok, bool report, const int* references, int count) {
  if (!report) {
    fputs(ok ? ResultOk : ResultError, stdout);
    if (ok) SayWhenUnwritten(references, count);
    return ok ? 0 : -1;
  }
  printf("\n{\n \"msg\":\"%s\",\n \"references\":[", ok ? "OK" : "ERROR");
  for (int i = 0; i < count; ++i) {
    if (i > 0) fputc(',', stdout);
    if (references[i] < 0)
      fputs("null", stdout);
    else
      printf("%d", references[i]);
  }
  fputs("]\n}\n", stdout);
  if (ok) SayWhenUnwritten(references, count);
  return ok ? 0 : -1;
}

}  // namespace

bool IsEmptyText(const char* text) {
  const size_t length = strlen(text);
  return length == 0 || (length == 2 && IsWrapped(text, length));
}

int EncodeSubmitText(char* message, const char* phone, char* text, const char** problem) {
  if (!PhoneDigits(phone)) {
    *problem = "the phone number must be 1 to 18 digits after an optional '+'";
    return -1;
  }
  text = StripQuotes(text);
  if (strlen(text) > (size_t)MessageBufferSize - 1) {
    *problem = "the text is longer than 1023 bytes";
    return -1;
  }
  ExpandEscapes(message, text);
  CodecBuffer[0] = '\0';  // an empty text leaves no user data
  size_t converted;
  ssize_t hexDigits = Utf8ToUcs2Hex(CodecBuffer, message, &converted);
  if (message[converted] != '\0') {  // sending only the part before a bad byte would cut the message
    *problem = "the text is not valid UTF-8";
    return -1;
  }
  return (int)(hexDigits / 4);
}

int SendMessage(int port, const char* phone, char* text, int charset, int storage, bool report, bool gsm7) {
  char message[MessageBufferSize];
  const char* problem = "";
  int partLength[MaxParts];  // units of UCS-2, or septets
  int references[MaxParts];
  int units = EncodeSubmitText(message, phone, text, &problem);
  unsigned char septets[SeptetsLimit];
  // -1: the text goes as UCS-2, without --gsm7 or when a character has no place in the alphabet.
  const int count = gsm7 && units >= 0 ? Ucs2HexToGsm7(septets, SeptetsLimit, CodecBuffer, units) : -1;
  int total = units < 0    ? -1
              : count >= 0 ? SplitSeptets(septets, count, partLength, MaxParts)
                           : SplitUserData(CodecBuffer, units, partLength, MaxParts);
  if (units >= 0 && total < 0) problem = "the text would need more than 16 SMS";  // not within 1023 bytes
  if (total < 0) {  // refused before a byte reaches the modem
    fputs("atsms: ", stderr);
    fputs(problem, stderr);
    fputc('\n', stderr);
    NoteExplained();
    return Result(false, report, nullptr, 0);
  }
  if (PrepareModem(port, charset, storage) < 0) return -1;
  Exchange(port, CmdPduMode);
  if (!ResponseHas(AnsOk)) {
    NoteRefusal(CmdPduMode);
    return -1;
  }
  if (report) KeepStatusReports(port);  // the message goes whether or not its report will be kept

  // Tells this message's parts from those of the previous long message to the same phone.
  int reference = (int)((time(nullptr) ^ getpid()) & 0xFF);
  size_t from = 0;  // the first unit or septet of the part
  for (int i = 0; i < total; from += (size_t)partLength[i++]) {
    PartHeader part = {reference, total, i + 1};
    int pduLength = count >= 0 ? BuildGsm7SubmitPdu(message, phone, septets + from, partLength[i], part, report)
                               : BuildSubmitPdu(message, phone, CodecBuffer + 4 * from, partLength[i], part, report);
    if (SendPdu(port, message, pduLength, part, &references[i])) continue;
    if (total > 1 && !PortLost()) {  // the parts sent already wait on the phone for the rest
      fprintf(stderr, "atsms: part %d of %d was not accepted; %d %s\n", i + 1, total, i,
              i == 1 ? "part was sent" : "parts were sent");
      NoteExplained();
    }
    return Result(false, report, references, i);
  }
  return Result(true, report, references, total);
}
