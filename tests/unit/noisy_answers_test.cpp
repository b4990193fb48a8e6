// Answers as noisy modems send them: echoes, lines sent unasked before, inside and after the answer.
// Each parser must read them as it reads the quiet answer.
#include <gtest/gtest.h>

#include <string>

#include "modem/failure.h"
#include "modem/ussd_reply.h"
#include "serial/answer_end.h"

namespace {

// What the parsers make of answer to command: "nothing" while no answer has begun; else whether
// it is whole (-q), its final result, the line a diagnostic names, and a USSD reply's text.
std::string Meaning(const char* command, Awaited awaited, const std::string& answer) {
  if (OnlyEcho(answer.data(), (int)answer.size(), command)) return "nothing";
  std::string meaning = AnswerComplete(answer.data(), (int)answer.size(), awaited, command) ? "whole" : "open";
  bool ok = false;
  meaning += !FindFinalResult(answer.c_str(), &ok) ? ", no result" : ok ? ", OK" : ", error";
  char line[96];
  DescribeAnswer(line, sizeof line, answer.c_str(), command);
  meaning += std::string(", ") + line;
  UssdReply reply{};
  ReadUssdReply(&reply, answer.c_str());
  if (reply.hasText) meaning += std::string(", reply ") + reply.text;
  return meaning;
}

const char Cmgf[] = "AT+CMGF=0\r";
const char Cmgs[] = "AT+CMGS=14\r";
const char Cusd[] = "AT+CUSD=1,\"AA180C3602\",15\r";
const char Pdu[] = "00010005912143F500080400480069\x1a\r";

struct NoisyCase { const char* source; const char* command; Awaited awaited; std::string answer; const char* want; };
const NoisyCase NoisyCases[] = {
    {"echo alone", Cmgf, AwaitFinalResult, "AT+CMGF=0\r\r\n", "nothing"},
    {"echo still arriving", Cmgf, AwaitFinalResult, "AT+CMG", "nothing"},
    {"unasked line glued in front of the echo", Cmgf, AwaitFinalResult, "+CMTI: \"SM\",3\r\nAT+CMGF=0\r", "nothing"},
    {"... and the answer behind it", Cmgf, AwaitFinalResult, "+CMTI: \"SM\",3\r\nAT+CMGF=0\r\r\nOK\r\n",
     "whole, OK, OK"},
    {"unasked lines alone", Cmgf, AwaitFinalResult, "\r\n^RSSI:17\r\n\r\nCall Ready\r\n", "nothing"},
    {"ESC echoed or swallowed", "\x1b" "AT\r", AwaitFinalResult, "AT\r", "nothing"},
    {"the PDU's echo", Pdu, AwaitFinalResult, "00010005912143F500080400480069\x1a", "nothing"},
    {"DST: 1 and SMS DONE before the OK", Cmgf, AwaitFinalResult, "\r\nDST: 1\r\n\r\nSMS DONE\r\n\r\nOK\r\n",
     "whole, OK, OK"},
    {"busy refusal, +CREG behind it", "AT+CPMS=\"ME\",\"ME\",\"ME\"\r", AwaitFinalResult,
     "\r\n+CME ERROR: 515\r\n\r\n+CREG: 1\r\n", "whole, error, +CME ERROR: 515"},
    {"the storage's own line is named", "AT+CPMS=\"ME\",\"ME\",\"ME\"\r", AwaitFinalResult,
     "\r\n+CPMS: 0,100,0,100,0,100\r\n\r\n+CMTI: \"ME\",1\r\n", "open, no result, +CPMS: 0,100,0,100,0,100"},
    {"refusal in words after the echo", "ATE0\r", AwaitFinalResult, "ATE0\r\r\nCOMMAND NOT SUPPORT\r\n",
     "open, no result, COMMAND NOT SUPPORT"},
    {"prompt after an unasked line", Cmgs, AwaitPrompt, "\r\n+CREG: 1\r\n\r\n> ", "whole, no result, >"},
    {"bare prompt, an unasked line behind it", Cmgs, AwaitPrompt, "AT+CMGS=14\r\r\n>\r\n+CMTI: \"SM\",3\r\n",
     "whole, no result, >"},
    {"unasked line after the network's answer", Cusd, AwaitUssdResult,
     "\r\n+CUSD: 0,\"Balance 5\"\r\n\r\n+CMTI: \"SM\",3\r\n", "whole, no result, +CUSD: 0,\"Balance 5\", reply Balance 5"},
    {"unasked line between the OK and the answer", Cusd, AwaitUssdAck,
     "\r\nOK\r\n\r\n^RSSI: 17\r\n\r\n+CUSD: 0,\"Hi\",15\r\n", "whole, OK, +CUSD: 0,\"Hi\",15, reply Hi"},
    {"a menu line starting with '+'", Cusd, AwaitUssdResult, "\r\n+CUSD: 1,\"Bonus\r\n+100 MB\r\n2. Back\",15\r\n",
     "whole, no result, 2. Back\",15, reply Bonus\r\n+100 MB\r\n2. Back"},
    {"an error instead of the network's answer", Cusd, AwaitUssdResult, "\r\n^RSSI: 17\r\n\r\n+CME ERROR: 132\r\n",
     "whole, error, +CME ERROR: 132 (service option not supported)"},
};

TEST(NoisyAnswers, MeanWhatTheQuietAnswerMeans) {
  for (const NoisyCase& c : NoisyCases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(c.want, Meaning(c.command, c.awaited, c.answer));
  }
}

}  // namespace
