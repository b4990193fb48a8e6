#include "modem/send.h"

#include <stdio.h>
#include <string.h>

#include "codec/codec_buffer.h"
#include "codec/utf8_to_ucs2.h"
#include "modem/commands.h"
#include "modem/prepare.h"
#include "serial/exchange.h"

namespace {

constexpr int AddressDigitsSize = 20;
constexpr int MaxPhoneDigits = 18;
constexpr int MaxUserDataOctets = 255;  // TP-UDL is one octet
constexpr int AnswerTries = 10;

bool IsQuote(char c) { return c == '\'' || c == '"'; }

// Shell users write 'TEXT': drop a trailing and a leading quote, each on its own.
char* StripQuotes(char* text) {
  size_t length = strlen(text);
  if (length <= 2) return text;
  if (IsQuote(text[length - 1])) text[length - 1] = '\0';
  return IsQuote(text[0]) ? text + 1 : text;
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

// After one optional "+": 1 to 18 decimal digits, nothing else (a CR would end the PDU line early).
const char* PhoneDigits(const char* phone) {
  const char* digits = phone[0] == '+' ? phone + 1 : phone;
  size_t n = strspn(digits, "0123456789");
  if (n == 0 || n > MaxPhoneDigits || digits[n] != '\0') return nullptr;
  return digits;
}

// TP-DA digits in semi-octet order: pairs swapped, "F" filling an odd count (TS 23.040 9.1.2.3).
void SwapSemiOctets(char* out, const char* digits, int count) {
  snprintf(out, AddressDigitsSize, count % 2 ? "%sF" : "%s", digits);
  for (int i = 0; out[i] && out[i + 1]; i += 2) {
    char c = out[i];
    out[i] = out[i + 1];
    out[i + 1] = c;
  }
}

// Reads answers until one contains text; it counts only within the first AnswerTries answers,
// and at most AnswerTries + 1 are read.
bool WaitFor(int port, const char* text) {
  Awaited awaited = strcmp(text, AnsPrompt) == 0 ? AwaitPrompt : AwaitFinalResult;  // for quick mode
  for (int counter = AnswerTries; counter >= 0 && !PortLost(); --counter) {
    ReadResponseFor(port, awaited);
    if (ResponseHas(text)) return counter > 0;
  }
  return false;
}

int Fail() {
  fputs(ResultError, stdout);
  return -1;
}

}  // namespace

int BuildSubmitPdu(char* message, const char* phone, char* text, const char** problem) {
  const char* digits = PhoneDigits(phone);
  if (!digits) {
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
  if (hexDigits / 2 > MaxUserDataOctets) {
    *problem = "the text is too long: its user data would exceed 255 octets";
    return -1;
  }
  int count = (int)strlen(digits);
  char address[AddressDigitsSize];
  SwapSemiOctets(address, digits, count);
  // SMSC from the modem, SMS-SUBMIT, MR 0, TP-DA (international), PID 0, DCS UCS-2, UDL, UD.
  return snprintf(message, MessageBufferSize, "000100%.2X91%s0008%.2X%s", (unsigned)count, address,
                  (unsigned)(hexDigits / 2), CodecBuffer);
}

int SendMessage(int port, const char* phone, char* text, int charset, int storage) {
  char message[MessageBufferSize];
  const char* problem = "";
  int pduLength = BuildSubmitPdu(message, phone, text, &problem);
  if (pduLength < 0) {  // refused before a byte reaches the modem
    fputs("atsms: ", stderr);
    fputs(problem, stderr);
    fputc('\n', stderr);
    return Fail();
  }
  if (PrepareModem(port, charset, storage) < 0) return -1;
  SendCmd(port, CmdPduMode);
  ReadResponse(port);
  if (!ResponseHas(AnsOk)) return -1;

  // AT+CMGS counts the TPDU octets, without the one SMSC length octet "00".
  snprintf(ResponseBuffer, ResponseBufferSize, CmdSendFormat, (pduLength - 1) / 2);
  SendCmd(port, ResponseBuffer);
  if (!WaitFor(port, AnsPrompt)) return Fail();
  snprintf(ResponseBuffer, ResponseBufferSize, CmdPduLineFormat, message);
  SendCmd(port, ResponseBuffer);
  if (!WaitFor(port, AnsOk)) return Fail();
  fputs(ResultOk, stdout);
  return 0;
}
