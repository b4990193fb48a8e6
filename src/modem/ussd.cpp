#include "modem/ussd.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "modem/commands.h"
#include "modem/escape.h"
#include "modem/failure.h"
#include "modem/prepare.h"
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

}  // namespace

int PackUssd(char* packed, const char* code) {
  if (strlen(code) > (size_t)MaxUssdLength) return -1;
  static const char hex[] = "0123456789ABCDEF";
  uint32_t bits = 0;
  int shift = 0;
  int digits = 0;
  packed[0] = '\0';
  auto putOctet = [&] {
    packed[digits++] = hex[(bits >> 4) & 0xF];
    packed[digits++] = hex[bits & 0xF];
    packed[digits] = '\0';
  };
  // The first character fills the low 7 bits of the first octet; 8 characters fill 7 octets.
  for (const unsigned char* c = (const unsigned char*)code; *c; ++c) {
    bits |= (uint32_t)(*c & 0x7F) << shift;
    if (shift == 0) {
      shift = 7;
      continue;
    }
    putOctet();
    bits >>= 8;
    --shift;
  }
  if (shift != 0) putOctet();
  return digits;
}

int SendUssd(int port, const char* code, bool json) {
  char packed[PackedUssdSize];
  if (PackUssd(packed, code) < 0) {  // refused before a byte reaches the modem
    fputs("atsms: the USSD string is longer than 72 characters\n", stderr);
    NoteExplained();
    fputs(ResultError, stdout);
    return -1;
  }
  if (PrepareModem(port, 0, -1) < 0) return -1;
  char command[CommandSize];  // kept for the diagnostic: the answers overwrite ResponseBuffer
  snprintf(command, sizeof command, CmdUssdFormat, packed);
  fprintf(stderr, "%s\n", command);
  SendCmd(port, command);

  Reply = UssdReply{};
  int counter = AnswerTries;
  for (;; --counter) {
    ReadTraced(port, counter, AwaitUssdAck);
    if (ResponseHas(AnsOk) || ResponseHas(AnsError) || counter == 0 || PortLost()) break;
  }
  if (!ResponseHas(AnsOk) || ResponseHas(AnsError) || counter == 0) {
    if (ResponseHas(AnsOk) && !ResponseHas(AnsError))
      NoteFailure("the modem accepted %s too late", command);
    else
      NoteRefusal(command);
    PrintUssdReply(stderr, &Reply);
    fputs(ResultError, stdout);
    return -1;
  }
  // The network's answer arrives as an unsolicited +CUSD, usually later; when it came with the
  // "OK", or before it, there is nothing left to wait for.
  for (counter = AnswerTries; !Reply.received; --counter) {
    ReadTraced(port, counter, AwaitUssdResult);
    if (ResponseHas(AnsUssdReply) || counter == 0 || PortLost()) break;
  }
  if (PortLost()) {
    PrintUssdReply(stderr, &Reply);
    fputs(ResultError, stdout);
    return -1;
  }
  PrintReply(Reply);
  if (json && Reply.hasText) {
    fputs("\n{\n \"msg\":\"OK\",\n \"reply\":", stdout);
    PrintJsonString(stdout, Reply.text);
    printf(",\n \"status\":%d\n}\n", Reply.textStatus);
  } else {
    fputs(ResultOk, stdout);
  }
  return 0;
}
