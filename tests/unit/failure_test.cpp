// The line a diagnostic quotes from a modem's answer, and what the numbered error results mean.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "modem/failure.h"

namespace {

struct DescribeCase { const char* source; std::string answer; int kind; std::string line; };
const DescribeCase DescribeCases[] = {
    {"SIM locked, 27.007 code", "\r\n+CME ERROR: 11\r\n", 2, "+CME ERROR: 11 (SIM PIN required)"},
    {"SIM locked, 27.005 code", "\r\n+CMS ERROR: 311\r\n", 2, "+CMS ERROR: 311 (SIM PIN required)"},
    {"network cause below 128", "\r\n+CMS ERROR: 38\r\n", 2, "+CMS ERROR: 38 (network out of order)"},
    {"TP-FCS value", "\r\n+CMS ERROR: 130\r\n", 2, "+CMS ERROR: 130 (cannot replace short message)"},
    {"unnamed code: the number alone", "\r\n+CMS ERROR: 3110\r\n", 2, "+CMS ERROR: 3110"},
    // Each family reads its own table: 11 is a SIM PIN under +CME, a reserved cause under +CMS.
    {"a +CME code that is no +CMS code", "\r\n+CMS ERROR: 11\r\n", 2, "+CMS ERROR: 11"},
    {"a +CMS code that is no +CME code", "\r\n+CME ERROR: 500\r\n", 2, "+CME ERROR: 500"},
    {"the first +CMS code", "\r\n+CMS ERROR: 1\r\n", 2, "+CMS ERROR: 1 (unassigned (unallocated) number)"},
    {"the last +CMS code", "\r\n+CMS ERROR: 500\r\n", 2, "+CMS ERROR: 500 (unknown error)"},
    {"no code 0", "\r\n+CMS ERROR: 0\r\n", 2, "+CMS ERROR: 0"},
    {"no blank after the colon", "\r\n+CME ERROR:10\r\n", 2, "+CME ERROR:10 (SIM not inserted)"},
    {"in words, quoted as is", "\r\n+CME ERROR: SIM PIN required\r\n", 2, "+CME ERROR: SIM PIN required"},
    {"code and words", "\r\n+CMS ERROR: 500 unknown\r\n", 2, "+CMS ERROR: 500 unknown"},
    {"bare ERROR", "\r\nERROR\r\n", 2, "ERROR"},
    {"echo, error, then an unsolicited line", "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CMS ERROR: 310\r\n\r\n+CMTI: \"SM\",3\r\n",
     2, "+CMS ERROR: 310 (SIM not inserted)"},
    {"no error line: the last line", "\r\n+CPMS: 0,30,0,30,0,30\r\n\r\nCOMMAND NOT SUPPORT\r\n", 1, "COMMAND NOT SUPPORT"},
    {"blanks around the line", "\r\n  ERROR \t\r\n \r\n", 2, "ERROR"},
    {"only blank lines", "\r\n \r\n\r\n", 0, ""},
    {"nothing", "", 0, ""},
    {"a long line is cut", std::string(200, 'x'), 1, std::string(60, 'x') + "..."},
    {"never inside a UTF-8 character", std::string(59, 'e') + "\xC3\xA9" + std::string(9, 'e'), 1,
     std::string(59, 'e') + "..."},
};

TEST(DescribeAnswer, CapturedAnswers) {
  for (const DescribeCase& c : DescribeCases) {
    SCOPED_TRACE(c.source);
    char line[64];
    memset(line, 0xAA, sizeof line);
    EXPECT_EQ(c.kind, DescribeAnswer(line, sizeof line, c.answer.c_str()));
    EXPECT_EQ(c.line, line);
  }
}

}  // namespace
