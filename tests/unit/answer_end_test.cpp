// Where quick mode ends a collection: the bytes that have arrived so far, as modems send them.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "serial/answer_end.h"
#include "serial/unasked_lines.h"

namespace {

// command: the line just written, when it matters.
struct EndCase { const char* source; Awaited awaited; std::string arrived; bool complete; const char* command = nullptr; };
const EndCase EndCases[] = {
    {"OK", AwaitFinalResult, "\r\nOK\r\n", true},
    {"echo still on", AwaitFinalResult, "AT\r\r\nOK\r\n", true},
    {"+CMS ERROR", AwaitFinalResult, "\r\n+CMS ERROR: 321\r\n", true},
    {"+CME ERROR, verbose", AwaitFinalResult, "\r\n+CME ERROR: SIM not inserted\r\n", true},
    {"NUL before the OK", AwaitFinalResult, std::string("\r\n\0\r\nOK\r\n", 9), true},
    {"OK without its line end", AwaitFinalResult, "\r\nOK", false},
    {"listing not yet ended", AwaitFinalResult, "\r\n+CMGL: 1,1,,23\r\n07919471...\r\n", false},
    {"OK at the end of another word", AwaitFinalResult, "\r\nBOOK\r\n", false},
    {"unsolicited line after the OK", AwaitFinalResult, "\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n", true},
    {"the command's own line after an OK", AwaitFinalResult, "\r\nOK\r\n\r\n+CMGR: \"REC READ\",\"0031\"\r\n", false,
     "AT+CMGR=1\r"},
    {"prompt", AwaitPrompt, "\r\n> ", true},
    {"prompt without its blank", AwaitPrompt, "\r\n>", true},
    {"a '>' inside a line", AwaitPrompt, "\r\n+CMTI: a> ", false},
    {"unsolicited line before the prompt", AwaitPrompt, "\r\n+CREG: 1\r\n", false},
    {"AT+CMGS refused", AwaitPrompt, "\r\n+CMS ERROR: 304\r\n", true},
    {"network's answer", AwaitUssdResult, "\r\n+CUSD: 0,\"Balance: 12.34 EUR\",15\r\n", true},
    {"a blank before the DCS", AwaitUssdResult, "\r\n+CUSD: 0,\"Balance\", 15\r\n", true},
    {"answer without a DCS", AwaitUssdResult, "\r\n+CUSD: 0,\"Balance\"\r\n", true},
    {"status only", AwaitUssdResult, "\r\n+CUSD: 2\r\n", true},
    {"after an unsolicited line", AwaitUssdResult, "\r\n^RSSI: 17\r\n\r\n+CUSD: 0,\"Hi\",15\r\n", true},
    {"quotes inside the text", AwaitUssdResult, "\r\n+CUSD: 0,\"say \"hi\" now\",15\r\n", true},
    {"DCS without its line end", AwaitUssdResult, "\r\n+CUSD: 0,\"Balance\",15", false},
    {"menu lines inside the quotes", AwaitUssdResult, "\r\n+CUSD: 1,\"1. Balance\r\n2. Bundles\r\n", false},
    {"whole menu", AwaitUssdResult, "\r\n+CUSD: 1,\"1. Balance\r\n2. Bundles\",15\r\n", true},
    {"menu line ending in a quote, more behind it", AwaitUssdResult, "\r\n+CUSD: 1,\"Choose \"1\"\r\n2. B", false},
    {"OK before the network's answer", AwaitUssdResult, "\r\nOK\r\n", false},
    {"request accepted", AwaitUssdAck, "\r\nOK\r\n", true},
    {"request refused", AwaitUssdAck, "\r\n+CME ERROR: 258\r\n", true},
    {"request refused in one maker's words", AwaitUssdAck, "\r\nCOMMAND NOT SUPPORT\r\n", true},
    {"those words inside a line", AwaitUssdAck, "\r\n+CUSD: 0,\"COMMAND NOT SUPPORT\r\n", false},
    {"the network's answer in the read of the OK", AwaitUssdAck, "\r\nOK\r\n\r\n+CUSD: 0,\"Hi\",15\r\n", true},
    {"its menu still coming", AwaitUssdAck, "\r\nOK\r\n\r\n+CUSD: 1,\"1. Balance\r\n", false},
    {"an unsolicited line after the OK", AwaitUssdAck, "\r\nOK\r\n\r\n^RSSI: 17\r\n", true},
    {"the answer before the OK", AwaitUssdAck, "\r\n+CUSD: 0,\"Hi\",15\r\n\r\nOK\r\n", true},
    {"no final result yet", AwaitUssdAck, "\r\n+CUSD: 0,\"Hi\",15\r\n", false},
};

TEST(AnswerComplete, CapturedTails) {
  for (const EndCase& c : EndCases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(c.complete, AnswerComplete(c.arrived.data(), (int)c.arrived.size(), c.awaited, c.command));
  }
}

struct LineCase { const char* line; const char* awaited; bool unasked; };
const LineCase LineCases[] = {
    {"+CMTI: \"SM\",3", "+CMGR:", true},
    {"^RSSI:17", nullptr, true},
    {"+CMGR: \"REC READ\",\"0031\",,\"24/05/01,10:20:30+08\"", "+CMGR:", false},
    {"+CME ERROR: 14", nullptr, false},
    {"+CMS ERROR: 314", "+CMGL:", false},
    {"RING", nullptr, true},
    {"DST: 1", nullptr, true},
    {"DST: ", nullptr, false},
    {"RINGING", nullptr, false},
};

TEST(IsUnaskedLine, CapturedLines) {
  for (const LineCase& c : LineCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.unasked, IsUnaskedLine(c.line, (int)strlen(c.line), c.awaited));
  }
  EXPECT_STREQ("0048\r\n", SkipUnaskedLines("\r\nRING\r\n+CMTI: \"SM\",3\r\n\r\n0048\r\n", "+CMGR:"));
}

}  // namespace
