// The pure builders of what is sent: the SMS-SUBMIT PDU and the packed USSD string.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "codec/codec_buffer.h"
#include "codec/gsm7.h"
#include "modem/send.h"
#include "modem/ussd.h"

namespace {

// Units of text in CodecBuffer, or -1 when refused (then *problem must say why).
int Encode(const char* phone, const std::string& text) {
  std::vector<char> writable(text.begin(), text.end());
  writable.push_back('\0');
  char message[MessageBufferSize];
  const char* problem = nullptr;
  int units = EncodeSubmitText(message, phone, writable.data(), &problem);
  if (units < 0) {
    EXPECT_NE(nullptr, problem);
    if (problem) {
      EXPECT_NE('\0', problem[0]);
    }
  }
  return units;
}

// The one-SMS PDU for phone and text, or "" when refused; with gsm7 in the GSM 7-bit alphabet, or
// "no place" when a character has none there.
std::string Pdu(const char* phone, const std::string& text, int* result, bool report = false, bool gsm7 = false) {
  int units = Encode(phone, text);
  *result = -1;
  if (units < 0) return "";
  char message[MessageBufferSize];
  if (!gsm7) {
    *result = BuildSubmitPdu(message, phone, CodecBuffer, units, PartHeader{0, 1, 1}, report);
    return message;
  }
  unsigned char septets[SeptetsLimit];
  const int count = Ucs2HexToGsm7(septets, SeptetsLimit, CodecBuffer, units);
  if (count < 0) return "no place";
  *result = BuildGsm7SubmitPdu(message, phone, septets, count, PartHeader{0, 1, 1}, report);
  return message;
}

struct PduCase { const char* source; const char* phone; std::string text; const char* want; bool report = false;
                 bool gsm7 = false; };
const PduCase PduCases[] = {
    {"international number", "+491701234567", "Hi", "0001000C91947110325476000804" "00480069"},
    {"same digits without plus: type unknown", "491701234567", "Hi", "0001000C81947110325476000804" "00480069"},
    {"national number", "01701234567", "Hi", "0001000B811007214365F7000804" "00480069"},
    {"00 prefix as dialled", "0049170123", "Hi", "0001000A810094711032000804" "00480069"},
    {"odd digit count gets the F filler", "12345", "Hi", "00010005812143F5000804" "00480069"},
    {"two digits", "+12", "Hi", "000100029121000804" "00480069"},
    {"17 digits", "12345678901234567", "Hi", "00010011812143658709214365F7000804" "00480069"},
    {"18 digits", "123456789012345678", "Hi", "00010012812143658709214365870008040048" "0069"},
    {"plus and 18 digits", "+123456789012345678", "Hi", "00010012912143658709214365870008040048" "0069"},
    {"quotes removed", "12345", "'Hi'", "00010005812143F500080400480069"},
    {"double quotes removed", "12345", "\"Hi\"", "00010005812143F500080400480069"},
    // Only a pair of the same quote is taken off; any other text goes as typed.
    {"quotes that do not match stay", "12345", "'Hi\"", "00010005812143F5000808" "002700480069" "0022"},
    {"a leading quote alone stays", "12345", "'Tis", "00010005812143F5000808" "0027005400690073"},
    {"a trailing quote alone stays", "12345", "Hi'", "00010005812143F5000806" "004800690027"},
    {"quoted words at the end", "12345", "at \"A\"", "00010005812143F500080C" "00610074002000220041" "0022"},
    {"quoted words at the start", "12345", "\"A,\" B", "00010005812143F500080C" "00220041002C00220020" "0042"},
    {"two characters keep a lone quote", "12345", "'a", "00010005812143F5000804" "00270061"},
    {"three quotes leave one", "12345", "'''", "00010005812143F5000802" "0027"},
    {"a pair around a quote", "12345", "\"'\"", "00010005812143F5000802" "0027"},
    {"inner quote kept", "12345", "'it's'", "00010005812143F5000808" "0069007400270073"},
    {"backslash-n", "12345", "Line1\\nLine2",
     "00010005812143F5000816" "004C0069006E00650031000A004C0069006E00650032"},
    {"backslash-r", "12345", "a\\rb", "00010005812143F5000806" "0061000D0062"},
    {"backslash, backslash, n", "12345", "a\\\\nb", "00010005812143F5000808" "0061005C000A0062"},
    {"other escape copied", "12345", "a\\tb", "00010005812143F5000808" "0061005C00740062"},
    {"trailing backslash", "12345", "ab\\", "00010005812143F5000806" "00610062005C"},
    {"escape inside quotes", "12345", "'\\n'", "00010005812143F5000802" "000A"},
    {"euro", "12345", "\xE2\x82\xAC", "00010005812143F5000802" "20AC"},
    {"emoji as a surrogate pair", "12345", "\xF0\x9F\x98\x80", "00010005812143F5000804" "D83DDE00"},
    {"empty text", "12345", "", "00010005812143F5000800"},
    {"status report requested: TP-SRR", "12345", "Hi", "00210005812143F500080400480069", true},
    // --gsm7: TP-DCS 00, TP-UDL in septets, septets packed low bit first (8 in 7 octets).
    {"GSM 7-bit", "12345", "Hi", "00010005812143F5000002" "C834", false, true},
    {"GSM 7-bit, extension character: escape and its septet", "12345", "\xE2\x82\xAC" "1",
     "00010005812143F5000003" "9B720C", false, true},
    {"GSM 7-bit, eight septets fill seven octets", "+12", "@\xC2\xA3$\xC2\xA5\xC3\xA8\xC3\xA9\xC3\xB9\xC3\xAC",
     "000100029121000008" "8080604028180E", false, true},
    {"GSM 7-bit with TP-SRR", "12345", "{}", "00210005812143F5000004" "1BD42605", true, true},
    {"no place in GSM 7-bit: Cyrillic", "12345", "\xD0\x96", "no place", false, true},
    {"no place in GSM 7-bit: the page break", "12345", "a\f", "no place", false, true},
};

TEST(BuildSubmitPdu, Table) {
  for (const PduCase& c : PduCases) {
    SCOPED_TRACE(c.source);
    int result = 0;
    const std::string pdu = Pdu(c.phone, c.text, &result, c.report, c.gsm7);
    EXPECT_EQ(c.want, pdu);
    if (pdu != "no place") {
      EXPECT_EQ((int)strlen(c.want), result);
    }
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

// Any length up to 1023 bytes goes (as several SMS beyond 70 units); what is not UTF-8 never does.
TEST(EncodeSubmitText, TextUpTo1023Bytes) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string emoji63, emoji64;
  for (int i = 0; i < 63; ++i) emoji63 += emoji;
  emoji64 = emoji63 + emoji;
  std::string escapes127;  // 254 bytes of text, 127 line feeds after the escapes
  for (int i = 0; i < 127; ++i) escapes127 += "\\n";
  const struct { const char* source; std::string text; int units; } cases[] = {
      {"127 letters", std::string(127, 'a'), 127},
      {"128 letters", std::string(128, 'a'), 128},
      {"quotes make 127 of 129", "'" + std::string(127, 'a') + "'", 127},
      {"63 emoji", emoji63, 126},
      {"64 emoji", emoji64, 128},
      {"126 letters and an emoji", std::string(126, 'a') + emoji, 128},
      {"127 escaped line feeds", escapes127, 127},
      {"1023 bytes", std::string(1023, 'a'), 1023},
      {"1023 bytes after the quotes", "'" + std::string(1023, 'a') + "'", 1023},
      {"1024 bytes", std::string(1024, 'a'), -1},
      {"4000 bytes", std::string(4000, 'a'), -1},
      // Malformed UTF-8 is refused: sending the part before the bad byte would cut the message.
      {"Latin-1 byte", "Caf\xE9 ouvert", -1},
      {"lone continuation byte", "A\x80", -1},
      {"sequence cut at the end", "A\xC3", -1},
      {"overlong NUL", "A\xC0\x80" "B", -1},
      {"above U+10FFFF", "\xF4\x90\x80\x80", -1},
      {"valid two-byte text", "Caf\xC3\xA9", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(c.units, Encode("12345", c.text));
    if (c.units >= 0) {
      EXPECT_EQ((size_t)(4 * c.units), strlen(CodecBuffer));
    }
  }
}

std::string Units(const char* hex, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += hex;
  return out;
}

// UCS-2 hex as the codec writes it, and the units of each part.
TEST(SplitUserData, PartsOf67UnitsWithPairsKeptWhole) {
  const std::string emoji = "D83DDE00";
  std::vector<int> sixteen(15, 67);
  sixteen.push_back(18);
  const struct { const char* source; std::string hex; std::vector<int> want; } cases[] = {
      {"empty", "", {0}},
      {"70 units fit one SMS", Units("0061", 70), {70}},
      {"70 units ending in a pair", Units("0061", 68) + emoji, {70}},
      {"71 units", Units("0061", 71), {67, 4}},
      {"135 units", Units("0061", 135), {67, 67, 1}},
      {"pair across units 67 and 68", Units("0061", 66) + emoji + Units("0061", 10), {66, 12}},
      {"only emoji", Units("D83DDE00", 36), {66, 6}},
      {"lone high surrogate as unit 67", Units("0061", 66) + "D800" + Units("0061", 10), {67, 10}},
      {"second split moved too", Units("0061", 66) + emoji + Units("0061", 64) + emoji + "0061", {66, 66, 3}},
      {"1023 units", Units("0061", 1023), sixteen},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    int parts[MaxParts];
    int total = SplitUserData(c.hex.c_str(), (int)c.hex.size() / 4, parts, MaxParts);
    ASSERT_EQ((int)c.want.size(), total);
    EXPECT_EQ(c.want, std::vector<int>(parts, parts + total));
  }
  int parts[MaxParts + 1] = {0};
  const std::string long1073 = Units("0061", 16 * 67 + 1);
  EXPECT_EQ(-1, SplitUserData(long1073.c_str(), 16 * 67 + 1, parts, MaxParts));
  EXPECT_EQ(0, parts[MaxParts]) << "wrote past maxParts";
  EXPECT_EQ(-1, SplitUserData(long1073.c_str(), 1023, parts, 15));
}

// The parts of a long GSM 7-bit text: the header and a fill bit, so that the first septet starts on a
// septet boundary (bit 49); the rest as in one SMS.
TEST(BuildGsm7SubmitPdu, PartsOpenWithTheHeaderAndAFillBit) {
  // septets: letters have the septets of their ASCII codes.
  const struct { const char* source; const char* septets; PartHeader part; const char* want; } cases[] = {
      {"part 2 of 2", "Hi", {0x2A, 2, 2}, "00410005812143F5000009" "0500032A0202" "9069"},
      {"part 1 of 3, eight septets", "abcdefgh", {0xF0, 3, 1}, "00410005812143F500000F" "050003F00301" "C2E231B96C3EA301"},
      {"a reference past 255 keeps its low octet", "a", {0x1FF, 2, 1}, "00410005812143F5000008" "050003FF0201" "C2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    char message[MessageBufferSize];
    EXPECT_EQ((int)strlen(c.want), BuildGsm7SubmitPdu(message, "12345", (const unsigned char*)c.septets,
                                                      (int)strlen(c.septets), c.part));
    EXPECT_STREQ(c.want, message);
  }
}

// One SMS up to 160 septets, else parts of 153; an escape never ends a part without its septet.
TEST(SplitSeptets, PartsOf153WithEscapesKeptWhole) {
  const std::string euro = "\x1B\x65";
  const struct { const char* source; std::string septets; std::vector<int> want; } cases[] = {
      {"160 fit one SMS", std::string(160, 'a'), {160}},
      {"161", std::string(161, 'a'), {153, 8}},
      {"escape as the 153rd septet moves on", std::string(152, 'a') + euro + std::string(10, 'a'), {152, 12}},
      {"an escape pair as septets 152 and 153 stays", std::string(151, 'a') + euro + std::string(10, 'a'), {153, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    int parts[MaxParts];
    const int total = SplitSeptets((const unsigned char*)c.septets.data(), (int)c.septets.size(), parts, MaxParts);
    ASSERT_EQ((int)c.want.size(), total);
    EXPECT_EQ(c.want, std::vector<int>(parts, parts + total));
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
