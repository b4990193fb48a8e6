// The pure builders of what is sent: the SMS-SUBMIT PDU and the packed USSD string.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "modem/send.h"
#include "modem/ussd.h"

namespace {

// PDU for phone and text, or "" when refused (then *problem must say why).
std::string Pdu(const char* phone, const std::string& text, int* result) {
  std::vector<char> writable(text.begin(), text.end());
  writable.push_back('\0');
  char message[MessageBufferSize];
  const char* problem = nullptr;
  *result = BuildSubmitPdu(message, phone, writable.data(), &problem);
  if (*result < 0) {
    EXPECT_NE(nullptr, problem);
    if (problem) {
      EXPECT_NE('\0', problem[0]);
    }
    return "";
  }
  return message;
}

struct PduCase { const char* source; const char* phone; std::string text; const char* want; };
const PduCase PduCases[] = {
    {"international number", "+491701234567", "Hi", "0001000C91947110325476000804" "00480069"},
    {"same number without plus", "491701234567", "Hi", "0001000C91947110325476000804" "00480069"},
    {"odd digit count gets the F filler", "12345", "Hi", "00010005912143F5000804" "00480069"},
    {"two digits", "+12", "Hi", "000100029121000804" "00480069"},
    {"17 digits", "12345678901234567", "Hi", "00010011912143658709214365F7000804" "00480069"},
    {"18 digits", "123456789012345678", "Hi", "00010012912143658709214365870008040048" "0069"},
    {"plus and 18 digits", "+123456789012345678", "Hi", "00010012912143658709214365870008040048" "0069"},
    {"quotes removed", "12345", "'Hi'", "00010005912143F500080400480069"},
    {"double quotes removed", "12345", "\"Hi\"", "00010005912143F500080400480069"},
    {"quotes need not match", "12345", "'Hi\"", "00010005912143F500080400480069"},
    {"only the leading quote", "12345", "'Hi", "00010005912143F500080400480069"},
    {"only the trailing quote", "12345", "Hi\"", "00010005912143F500080400480069"},
    {"two bytes keep their quotes", "12345", "'a", "00010005912143F5000804" "00270061"},
    {"two quotes kept", "12345", "''", "00010005912143F5000804" "00270027"},
    {"three quotes leave one", "12345", "'''", "00010005912143F5000802" "0027"},
    {"inner quote kept", "12345", "'it's'", "00010005912143F5000808" "0069007400270073"},
    {"backslash-n", "12345", "Line1\\nLine2",
     "00010005912143F5000816" "004C0069006E00650031000A004C0069006E00650032"},
    {"backslash-r", "12345", "a\\rb", "00010005912143F5000806" "0061000D0062"},
    {"backslash, backslash, n", "12345", "a\\\\nb", "00010005912143F5000808" "0061005C000A0062"},
    {"other escape copied", "12345", "a\\tb", "00010005912143F5000808" "0061005C00740062"},
    {"trailing backslash", "12345", "ab\\", "00010005912143F5000806" "00610062005C"},
    {"escape inside quotes", "12345", "'\\n'", "00010005912143F5000802" "000A"},
    {"euro", "12345", "\xE2\x82\xAC", "00010005912143F5000802" "20AC"},
    {"emoji as a surrogate pair", "12345", "\xF0\x9F\x98\x80", "00010005912143F5000804" "D83DDE00"},
    {"empty text", "12345", "", "00010005912143F5000800"},
};

TEST(BuildSubmitPdu, Table) {
  for (const PduCase& c : PduCases) {
    SCOPED_TRACE(c.source);
    int result = 0;
    EXPECT_EQ(c.want, Pdu(c.phone, c.text, &result));
    EXPECT_EQ((int)strlen(c.want), result);
  }
}

TEST(BuildSubmitPdu, RefusesNumbersThatAreNotOneToEighteenDigits) {
  for (const char* phone : {"", "+", "++123", "1+23", " 123", "12 34", "123 ", "12a4", "0x12", "123\r", "123\rAT",
                            "12\x1a", "\"123\"", "'123'", "-123", "#123", "1234567890123456789",
                            "+1234567890123456789", "123456789012345678901234567890"}) {
    SCOPED_TRACE(phone);
    int result = 0;
    EXPECT_EQ("", Pdu(phone, "Hi", &result));
    EXPECT_EQ(-1, result);
  }
}

TEST(BuildSubmitPdu, UserDataUpTo255Octets) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string emoji63, emoji64;
  for (int i = 0; i < 63; ++i) emoji63 += emoji;
  emoji64 = emoji63 + emoji;
  std::string escapes127;  // 254 bytes of text, 127 line feeds after the escapes
  for (int i = 0; i < 127; ++i) escapes127 += "\\n";
  const struct { const char* source; std::string text; int udl; } cases[] = {
      {"127 letters", std::string(127, 'a'), 254},
      {"128 letters", std::string(128, 'a'), -1},
      {"quotes make 127 of 129", "'" + std::string(127, 'a') + "'", 254},
      {"63 emoji", emoji63, 252},
      {"64 emoji", emoji64, -1},
      {"126 letters and an emoji", std::string(126, 'a') + emoji, -1},
      {"127 escaped line feeds", escapes127, 254},
      {"1023 bytes", std::string(1023, 'a'), -1},
      {"1024 bytes", std::string(1024, 'a'), -1},
      {"4000 bytes", std::string(4000, 'a'), -1},
      // Malformed UTF-8 is refused: sending the part before the bad byte would cut the message.
      {"Latin-1 byte", "Caf\xE9 ouvert", -1},
      {"lone continuation byte", "A\x80", -1},
      {"sequence cut at the end", "A\xC3", -1},
      {"overlong NUL", "A\xC0\x80" "B", -1},
      {"above U+10FFFF", "\xF4\x90\x80\x80", -1},
      {"valid two-byte text", "Caf\xC3\xA9", 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    int result = 0;
    std::string pdu = Pdu("12345", c.text, &result);
    if (c.udl < 0) {
      EXPECT_EQ(-1, result);
      continue;
    }
    ASSERT_EQ(22 + 2 * c.udl, result);
    char udl[3];
    snprintf(udl, sizeof udl, "%.2X", c.udl);
    EXPECT_EQ("00010005912143F50008" + std::string(udl), pdu.substr(0, 22));
  }
}

TEST(PackUssd, Table) {
  const struct { const char* code; const char* want; } cases[] = {
      {"*100#", "AA180C3602"},
      {"*101#", "AA182C3602"},
      {"", ""},
      {"*", "2A"},
      {"\xAA", "2A"},  // only the low seven bits count
      {"1234567", "31D98C56B3DD00"},
      {"12345678", "31D98C56B3DD70"},  // 8 characters: 7 octets, no trailing group
      {"*123*45#", "AA986CA6A2D546"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    char packed[PackedUssdSize];
    EXPECT_EQ((int)strlen(c.want), PackUssd(packed, c.code));
    EXPECT_STREQ(c.want, packed);
  }
}

TEST(PackUssd, SeventyTwoCharactersFitAndSeventyThreeAreRefused) {
  std::string code, want;
  for (int i = 0; i < 9; ++i) {
    code += "12345678";
    want += "31D98C56B3DD70";
  }
  char packed[PackedUssdSize];
  EXPECT_EQ(126, PackUssd(packed, code.c_str()));
  EXPECT_EQ(want, packed);
  EXPECT_EQ(-1, PackUssd(packed, (code + "9").c_str()));
  EXPECT_EQ(-1, PackUssd(packed, std::string(500, '*').c_str()));
}

}  // namespace
