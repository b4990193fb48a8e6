// The text codecs: UTF-8 to UCS-2 hex for sending, UCS-2 hex to UTF-8 for the listing, GSM 7-bit
// septets to UTF-8 for answers from the network.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "codec/gsm7.h"
#include "codec/ucs2_to_utf8.h"
#include "codec/utf8_to_ucs2.h"

namespace {

constexpr unsigned char Canary = 0xAA;

TEST(Utf8SequenceLength, LeadBytes) {
  const struct { int lead; int want; } cases[] = {
      {0x00, 1}, {0x41, 1}, {0x7F, 1}, {0x80, 0}, {0xBF, 0}, {0xC0, 0}, {0xC1, 0}, {0xC2, 2},
      {0xDF, 2}, {0xE0, 3}, {0xED, 3}, {0xEF, 3}, {0xF0, 4}, {0xF4, 4}, {0xF5, 0}, {0xFF, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lead);
    EXPECT_EQ(c.want, Utf8SequenceLength[c.lead]);
  }
}

// want "" with digits 0: nothing written, the output must keep its canary bytes.
struct Utf8Case { const char* source; const char* text; const char* want; int digits; };
const Utf8Case Utf8Cases[] = {
    {"ASCII word", "Hello", "00480065006C006C006F", 20},
    {"two-byte e acute", "\xC3\xA9", "00E9", 4},
    {"three-byte euro", "\xE2\x82\xAC", "20AC", 4},
    {"line feed", "\n", "000A", 4},
    {"lowest two-byte", "\xC2\x80", "0080", 4},
    {"lowest three-byte", "\xE0\xA0\x80", "0800", 4},
    {"last before the surrogates", "\xED\x9F\xBF", "D7FF", 4},
    {"FFFF passes", "\xEF\xBF\xBF", "FFFF", 4},
    {"emoji becomes a surrogate pair", "\xF0\x9F\x98\x80", "D83DDE00", 8},
    {"lowest four-byte", "\xF0\x90\x80\x80", "D800DC00", 8},
    {"highest code point", "\xF4\x8F\xBF\xBF", "DBFFDFFF", 8},
    {"emoji between letters", "A\xF0\x9F\x98\x80" "B", "0041D83DDE000042", 16},
    {"stops at FF", "A\xFF" "B", "0041", 4},
    {"lone lead byte at the end", "A\xC3", "0041", 4},
    {"four-byte cut short", "A\xF0\x9F\x98", "0041", 4},
    {"above 10FFFF after a letter", "A\xF4\x90\x80\x80" "B", "0041", 4},
    {"empty", "", "", 0},
    {"overlong two-byte", "\xC0\x80", "", 0},
    {"overlong three-byte", "\xE0\x80\x80", "", 0},
    {"overlong four-byte", "\xF0\x80\x80\x80", "", 0},
    {"above 10FFFF", "\xF4\x90\x80\x80", "", 0},
    {"lone continuation byte", "\x80" "A", "", 0},
    {"missing continuation", "\xC3" "A", "", 0},
    {"third byte missing", "\xE2\x82" "A", "", 0},
    {"encoded high surrogate", "\xED\xA0\x80", "", 0},
    {"encoded low surrogate after a letter", "A\xED\xBF\xBF", "0041", 4},
};

TEST(Utf8ToUcs2Hex, Table) {
  for (const Utf8Case& c : Utf8Cases) {
    SCOPED_TRACE(c.source);
    char output[64];
    memset(output, Canary, sizeof output);
    ssize_t digits = Utf8ToUcs2Hex(output, c.text);
    EXPECT_EQ(c.digits, digits);
    size_t untouchedFrom = 0;
    if (c.digits > 0) {
      EXPECT_STREQ(c.want, output);
      untouchedFrom = strlen(c.want) + 1;
    }
    for (size_t i = untouchedFrom; i < sizeof output; ++i)
      ASSERT_EQ(Canary, (unsigned char)output[i]) << "byte " << i << " written";
  }
}

TEST(HexDigitValue, Characters) {
  const struct { int ch; int want; } cases[] = {
      {'0', 0}, {'9', 9}, {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15},
      {'g', -1}, {'G', -1}, {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}, {' ', -1}, {0, -1}, {0xFF, -1},
      {-1, -1},             // EOF: low 8 bits are FF
      {0x100 + '7', 7},     // only the low 8 bits count
      {0x100 + 'c', 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ch);
    EXPECT_EQ(c.want, HexDigitValue(c.ch));
  }
}

// bytes -1: refused, dest must keep all its canary bytes.
struct Ucs2Case { const char* source; const char* want; int bytes; };
const Ucs2Case Ucs2Cases[] = {
    {"004", "", -1},
    {"00410", "", -1},
    {"D83DDE0", "", -1},
    {"", "", 0},
    {"00480069", "Hi", 2},
    {"041F0440", "\xD0\x9F\xD1\x80", 4},
    {"20AC", "\xE2\x82\xAC", 3},
    {"00e9", "\xC3\xA9", 2},
    {"00E9", "\xC3\xA9", 2},
    {"007F", "\x7F", 1},
    {"0080", "\xC2\x80", 2},
    {"07FF", "\xDF\xBF", 2},
    {"0800", "\xE0\xA0\x80", 3},
    {"E000", "\xEE\x80\x80", 3},
    {"FFFE", "\xEF\xBF\xBE", 3},
    {"0041FFFF0042", "AB", 2},
    {"004100000042", "A", 1},
    {"0041004G", "A", 1},
    {"G0410042", "", 0},
    {"0041 042", "A", 1},
    // A surrogate pair is one character; a lone half is U+FFFD.
    {"D83DDE00", "\xF0\x9F\x98\x80", 4},
    {"d83dde00", "\xF0\x9F\x98\x80", 4},
    {"D800DC00", "\xF0\x90\x80\x80", 4},
    {"DBFFDFFF", "\xF4\x8F\xBF\xBF", 4},
    {"0041D83DDE000042", "A\xF0\x9F\x98\x80" "B", 6},
    {"D800", "\xEF\xBF\xBD", 3},
    {"DC00", "\xEF\xBF\xBD", 3},
    {"D83D0041", "\xEF\xBF\xBD" "A", 4},
    {"DE00D83D", "\xEF\xBF\xBD\xEF\xBF\xBD", 6},
    {"D83DD83DDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80", 7},
    {"D83D0000", "\xEF\xBF\xBD", 3},
    {"D83D004G", "\xEF\xBF\xBD", 3},
};

TEST(Ucs2HexToUtf8, Table) {
  for (const Ucs2Case& c : Ucs2Cases) {
    SCOPED_TRACE(c.source);
    char dest[64];
    memset(dest, Canary, sizeof dest);
    EXPECT_EQ(c.bytes, Ucs2HexToUtf8(dest, c.source));
    size_t untouchedFrom = 0;
    if (c.bytes >= 0) {
      EXPECT_EQ(std::string(c.want), std::string(dest, strnlen(dest, sizeof dest)));
      untouchedFrom = strlen(c.want) + 1;
    }
    for (size_t i = untouchedFrom; i < sizeof dest; ++i)
      ASSERT_EQ(Canary, (unsigned char)dest[i]) << "byte " << i << " written";
  }
}

std::string Octets(const char* hex) {
  std::string octets;
  for (; hex[0] && hex[1]; hex += 2) octets.push_back((char)(HexDigitValue(hex[0]) << 4 | HexDigitValue(hex[1])));
  return octets;
}

// Packed septets (hex) read from firstBit on; want nullptr: -1 and dest "".
struct Gsm7Case { const char* source; const char* packed; int firstBit; int count; bool strict; const char* want; };
const Gsm7Case Gsm7Cases[] = {
    {"*100#", "AA180C3602", 0, 5, true, "*100#"},
    {"specials and extension, eight in seven octets", "80006453DEA0BE", 0, 8, true,
     "@\xC2\xA3\xCE\x94\xE2\x82\xAC{\xC2\xA7"},
    {"CR and LF", "C886220D", 0, 4, true, "H\r\ni"},
    {"undefined escape: the default character", "C84D10", 0, 3, false, "HA"},
    {"undefined escape, strict", "C84D10", 0, 3, true, nullptr},
    {"escape to an escape: a space", "C8CD260D", 0, 4, false, "H i"},
    {"escape at the end: a space", "C8F406", 0, 3, false, "Hi "},
    {"page break", "C88D220D", 0, 4, false, "H\fi"},
    {"page break, strict: a control character", "C88D220D", 0, 4, true, nullptr},
    {"septets past the octets", "AA180C3602", 0, 6, false, nullptr},
    {"no septets after a header", "050003CC0201", 49, 0, true, ""},
};

TEST(Gsm7ToUtf8, Table) {
  for (const Gsm7Case& c : Gsm7Cases) {
    SCOPED_TRACE(c.source);
    const std::string octets = Octets(c.packed);
    char dest[64];
    memset(dest, Canary, sizeof dest);
    const int bytes = Gsm7ToUtf8(dest, sizeof dest, (const unsigned char*)octets.data(), (int)octets.size(),
                                 c.firstBit, c.count, c.strict);
    EXPECT_EQ(c.want ? (int)strlen(c.want) : -1, bytes);
    EXPECT_STREQ(c.want ? c.want : "", dest);
    if (!c.want || !*c.want) continue;
    // One byte short of the room it needs: refused, nothing written past the room.
    const int room = (int)strlen(c.want);
    memset(dest, Canary, sizeof dest);
    EXPECT_EQ(-1, Gsm7ToUtf8(dest, room, (const unsigned char*)octets.data(), (int)octets.size(), c.firstBit,
                             c.count, c.strict));
    EXPECT_EQ('\0', dest[0]);
    for (size_t i = room; i < sizeof dest; ++i) ASSERT_EQ(Canary, (unsigned char)dest[i]) << "byte " << i;
  }
}

}  // namespace
