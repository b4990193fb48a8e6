// The network's USSD answer: "+CUSD:" lines as modems send them, and the one line made of them.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <string>

#include "modem/ussd_reply.h"

namespace {

// What PrintUssdReply writes for reply.
std::string Printed(const UssdReply& reply) {
  char buffer[2 * UssdTextSize + 64] = {};
  FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
  PrintUssdReply(out, &reply);
  fclose(out);
  return buffer;
}

const char Russian[] = "Для справки о балансе наберите *105#. Услуга бесплатна.";

// answer: what one or more collections held; status: <m> of the last "+CUSD:" line, if one came.
struct ReplyCase { const char* source; std::string answer; bool received; int status; std::string line; };
const ReplyCase ReplyCases[] = {
    {"UCS-2 hex, DCS 72",
     "\r\n+CUSD: 0,\"0414043B044F00200441043F044004300432043A04380020043E002004310430043B0430043D04410435002004"
     "3D04300431043504400438044204350020002A0031003000350023002E002004230441043B0443043304300020043104350441043F"
     "043B04300442043D0430002E\",72\r\n",
     true, 0, std::string("USSD reply: ") + Russian + "\n"},
    {"UCS-2 hex under DCS 15",
     "\r\n+CUSD: 2,\"00480061007600690020006B0065007200650074003A00200035003000300020004D0042002C00200066006500"
     "6C006800610073007A006E00E1006C0074003A00200031003200300020004D0042\",15\r\n",
     true, 2, "USSD reply: Havi keret: 500 MB, felhaszn\xC3\xA1lt: 120 MB\n"},
    {"a number too short to be hex", "\r\n+CUSD: 0,\"1000\",15\r\n", true, 0, "USSD reply: 1000\n"},
    {"a number is never packed", "\r\n+CUSD: 0,\"20240501\",15\r\n", true, 0, "USSD reply: 20240501\n"},
    {"hex whose septets are no text", "\r\n+CUSD: 0,\"C84D1004\",15\r\n", true, 0, "USSD reply: C84D1004\n"},
    // A modem in its HEX character set, whatever AT+CSCS asked for: hex of the characters.
    {"hex of characters, DCS 0", "\r\n+CUSD: 0,\"53697361206B756F746120353030204D42\",0\r\n", true, 0,
     "USSD reply: Sisa kuota 500 MB\n"},
    {"hex of a menu", "\r\n+CUSD: 1,\"312E2050756C73610D0A322E2050616B6574\",15\r\n", true, 1,
     "USSD reply: 1. Pulsa\\r\\n2. Paket [reply expected]\n"},
    {"digits that are hex of characters", "\r\n+CUSD: 0,\"3132333435\",15\r\n", true, 0, "USSD reply: 12345\n"},
    {"an 8-bit DCS: as it came", "\r\n+CUSD: 0,\"48656C6C6F21\",68\r\n", true, 0, "USSD reply: 48656C6C6F21\n"},
    {"UCS-2 DCS, emoji as a pair", "\r\n+CUSD: 0,\"D83DDE00\",72\r\n", true, 0, "USSD reply: \xF0\x9F\x98\x80\n"},
    {"UCS-2 DCS, a lone half: as it came", "\r\n+CUSD: 0,\"D83D0041\",72\r\n", true, 0, "USSD reply: D83D0041\n"},
    {"unquoted text runs to the end of its line", "\r\n+CUSD: 0,Balance 5,00 EUR \r\n", true, 0,
     "USSD reply: Balance 5,00 EUR\n"},
    {"menu: one line, status 1", "\r\n+CUSD: 1,\"1. Balance\r\n2. Top up\\now\",15\r\n", true, 1,
     "USSD reply: 1. Balance\\r\\n2. Top up\\\\now [reply expected]\n"},
    {"escape sequence and bell in a menu", "\r\n+CUSD: 1,\"\x1b[2J1. Balance\x07\",15\r\n", true, 1,
     "USSD reply: \\x1b[2J1. Balance\\x07 [reply expected]\n"},
    {"C1 controls in UCS-2", "\r\n+CUSD: 0,\"009B0032004A0041\",72\r\n", true, 0, "USSD reply: \\u009b2JA\n"},
    {"the last line with text counts", "\r\n+CUSD: 1,\"first\",15\r\n\r\n+CUSD: 0,\"second\",15\r\n", true, 0,
     "USSD reply: second\n"},
    {"a later line without text", "\r\n+CUSD: 0,\"Bye\",15\r\n\r\n+CUSD: 2\r\n", true, 2, "USSD reply: Bye\n"},
    {"no text at all", "\r\n+CUSD: 4\r\n", true, 4, ""},
    {"an empty text", "\r\n+CUSD: 2,\"\",15\r\n", true, 2, ""},
    {"no status", "\r\n+CUSD:\r\n", true, -1, ""},
    {"no +CUSD line", "\r\nOK\r\n", false, 0, ""},
    // Plausible neither as UCS-2 nor as septets, and too long anyway: cut, not decoded.
    {"overlong text", "\r\n+CUSD: 0,\"00410042" + std::string(1200, 'A') + "\",72\r\n", true, 0,
     "USSD reply: 00410042" + std::string(UssdStringLimit - 8, 'A') + "\n"},
};

TEST(ReadUssdReply, CapturedAnswers) {
  for (const ReplyCase& c : ReplyCases) {
    SCOPED_TRACE(c.source);
    UssdReply reply{};
    ReadUssdReply(&reply, c.answer.c_str());
    EXPECT_EQ(c.received, reply.received);
    if (c.received) {
      EXPECT_EQ(c.status, reply.status);
    }
    EXPECT_EQ(c.line, Printed(reply));
  }
}

}  // namespace
