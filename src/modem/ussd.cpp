#include "modem/ussd.h"

#include <stdio.h>
#include <string.h>

#include "codec/gsm7.h"
#include "modem/commands.h"
#include "listing/escape.h"
#include "listing/output_check.h"
#include "modem/failure.h"
#include "modem/prepare.h"
#include "modem/step.h"
#include "modem/ussd_reply.h"
#include "serial/exchange.h"

namespace {

constexpr int AnswerTries = 10;
constexpr int CommandSize = PackedUssdSize + sizeof CmdUssdFormat;

// The network's answer, kept as the answers come: every read overwrites ResponseBuffer.
UssdReply Reply;

// Reads one answer, traces it with the counter on standard error and keeps its "+CUSD:" lines.
void ReadTraced(int port, int counter, Awaited awaited) {
  ReadResponseFor(port, awaited);
  fprintf(stderr, "%s - %d\n", ResponseBuffer, counter);
  ReadUssdReply(&Reply, ResponseBuffer);
}

// After a request the modem accepted: the network's answer, or why there is none to show.
void PrintReply(const UssdReply& reply) {
  if (reply.hasText)
    PrintUssdReply(stderr, &reply);
  else if (!reply.received)
    fputs("atsms: the network sent no reply\n", stderr);
  else {
    fputs("atsms: the network ended the request without text", stderr);
    if (reply.status >= 0) fprintf(stderr, " (status %d)", reply.status);  // none after "+CUSD:" alone
    fputc('\n', stderr);
  }
}

bool Refused() { return ResponseHas(AnsError) || ResponseHas(AnsNotSupported); }

// An error line in ResponseBuffer from from on, before any "+CUSD:" line: after the request's "OK",
// the network refused it.
bool ErrorBeforeReply(const char* from) {
  bool ok = false;
  const char* result = FindFinalResult(from, &ok);
  const char* reply = strstr(from, AnsUssdLine);
  return result && !ok && (!reply || result < reply);
}

// One request: the command line on standard error, the modem's answers until it accepts or refuses
// it (a busy SIM's refusal is waited out: the request is written again), then, once accepted, the
// network's answer, each traced with a counter from 10 down. The network's answer ends up in Reply.
UssdAck Request(int port, const char* command) {
  int counter;
  do {
    fprintf(stderr, "%s\n", command);
    SendCmd(port, command);
    Reply = UssdReply{};
    for (counter = AnswerTries;; --counter) {
      ReadTraced(port, counter, AwaitUssdAck);
      if (ResponseHas(AnsOk) || Refused() || counter == 0 || PortLost()) break;
    }
  } while (!ResponseHas(AnsOk) && Refused() && !PortLost() && RetryWhenBusy(command));
  bool ok = false;
  const char* result = FindFinalResult(ResponseBuffer, &ok);
  if (result && ok && ErrorBeforeReply(result + 2)) return UssdNetworkRefused;
  if (Refused()) return UssdRefused;
  if (!ResponseHas(AnsOk) || counter == 0) return UssdUnconfirmed;
  // The network's answer arrives as an unsolicited +CUSD, usually later; when it came with the
  // "OK", or before it, there is nothing left to wait for.
  for (counter = AnswerTries; !Reply.received; --counter) {
    ReadTraced(port, counter, AwaitUssdResult);
    if (ErrorBeforeReply(ResponseBuffer)) return UssdNetworkRefused;
    if (ResponseHas(AnsUssdReply) || counter == 0 || PortLost()) break;
  }
  return PortLost() ? UssdUnconfirmed : UssdAccepted;
}

// The OK or ERROR block; under json also the form of the request it comes from, and the reply.
void PrintBlock(bool ok, bool json, UssdForm form) {
  if (!json) {
    fputs(ok ? ResultOk : ResultError, stdout);
    return;
  }
  printf("\n{\n \"msg\":\"%s\",\n \"form\":\"%s\"", ok ? "OK" : "ERROR", form == UssdText ? "text" : "packed");
  if (ok && Reply.hasText) {
    fputs(",\n \"reply\":", stdout);
    PrintJsonString(stdout, Reply.text);
    printf(",\n \"status\":%d", Reply.textStatus);
  }
  fputs("\n}\n", stdout);
}

}  // namespace

int PackUssd(char* packed, const char* code) {
  if (strlen(code) > (size_t)MaxUssdLength) return -1;
  return PackSeptetsHex(packed, PackedUssdSize, code);
}

bool IsPlainUssd(const char* code) {
  for (; *code; ++code)
    if (*code < ' ' || *code > '~' || *code == '"') return false;
  return true;
}

bool HoldsControlCharacter(const char* code) {
  for (; *code; ++code)
    if (ControlCharacterAt(code) > 0) return true;
  return false;
}

bool ResendUssdAsText(UssdAck ack, const UssdReply& reply, const char* code) {
  if (!*code || !IsPlainUssd(code)) return false;
  if (reply.received) return reply.status == 4;  // the network saw it: only "not supported" is retried
  return ack == UssdRefused;
}

bool UssdNetworkFailed(const UssdReply& reply) { return reply.received && (reply.status == 4 || reply.status == 5); }

int SendUssd(int port, const char* code, bool json, UssdForm form) {
  char packed[PackedUssdSize];
  const bool tooLong = PackUssd(packed, code) < 0;
  if (tooLong || (form == UssdText && !IsPlainUssd(code))) {  // refused before a byte reaches the modem
    fputs(tooLong ? "atsms: the USSD string is longer than 72 characters\n" : UssdNotPlain, stderr);
    NoteExplained();
    fputs(ResultError, stdout);
    return -1;
  }
  if (PrepareModem(port, 0, -1) < 0) return -1;
  char command[CommandSize];  // kept for the diagnostic: the answers overwrite ResponseBuffer
  snprintf(command, sizeof command, CmdUssdFormat, form == UssdText ? code : packed);
  UssdAck ack = Request(port, command);
  // A modem that takes only the plain form refuses the packed one, or passes it on and the
  // network does not know it. Once only: the answer to the plain one is the result.
  if (form == UssdPacked && !PortLost() && !SimStayedBusy() && ResendUssdAsText(ack, Reply, code)) {
    form = UssdText;
    snprintf(command, sizeof command, CmdUssdFormat, code);
    ack = Request(port, command);
  }
  if (ack != UssdAccepted) {
    if (ack == UssdNetworkRefused)
      NoteNetworkRefusal();
    else if (ResponseHas(AnsOk) && !Refused())
      NoteFailure("the modem accepted %s too late", command);
    else
      NoteRefusal(command);
    PrintUssdReply(stderr, &Reply);
    PrintBlock(false, json, form);
    return -1;
  }
  PrintReply(Reply);
  const bool failed = UssdNetworkFailed(Reply);
  if (failed && !Reply.hasText)
    NoteExplained();  // the line without text says it
  else if (failed)
    NoteFailure(Reply.status == 4 ? "the network answered %s with +CUSD: 4 (operation not supported)"
                                  : "the network answered %s with +CUSD: 5 (network time-out)",
                command);
  PrintBlock(!failed, json, form);
  const int error = failed ? 0 : OutputError(stdout);
  if (error != 0) ReportOutputError(error, "the USSD request was sent");  // its reply line says what came back
  return failed ? -1 : 0;
}
