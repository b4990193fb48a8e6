// The SMS-DELIVER reader and the text of its user data, fed PDUs as modems list them.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "codec/ucs2_to_utf8.h"
#include "pdu/deliver_pdu.h"
#include "pdu/message_id.h"
#include "../captured_pdus.h"

namespace {

using namespace captured;

std::vector<unsigned char> Octets(const std::string& hex) {
  std::vector<unsigned char> octets;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    octets.push_back((unsigned char)(HexDigitValue(hex[i]) << 4 | HexDigitValue(hex[i + 1])));
  return octets;
}

// want -1: not read. text nullptr: no text (8-bit data).
struct PduCase { const char* source; std::string pdu; int want; int alphabet; bool header; int length; const char* text; };
const PduCase PduCases[] = {
    {"7-bit, IE 00 ref 0x4C, part 1 of 2", Part1Of2, 0, AlphabetGsm7, true, 160, Part1Text},
    {"7-bit, part 2 of 2", Part2Of2, 0, AlphabetGsm7, true, 50, Part2Text},
    {"7-bit, lower-case hex, part 2 of 2 (ref 0xC4)", LowerCasePart, 0, AlphabetGsm7, true, 62, LowerCaseText},
    {"UCS-2, IE 08: the text starts at an odd octet", "00440B919471103254F60008425010010203801906080412340201041F0440"
     "04380432043504420020D83DDE00", 0, AlphabetUcs2, true, 25, "Привет 😀"},
    {"UCS-2, an odd last octet", "00440B919471103254F60008425010010203800B050003210202004F006B41", 0, AlphabetUcs2,
     true, 11, "Ok"},
    {"7-bit, national language shift: default tables all the same",
     "00440B919471103254F6000042501001020380170800032102012501010099066D507474595EDEA400", 0, AlphabetGsm7, true, 23,
     "Hi {there}"},
    {"message waiting (store), 7-bit, with a header",
     "00440B919471103254F600C84250100102038010050003770101ACEFF4B8DC0EA7D9", 0, AlphabetGsm7, true, 16, "Voicemail"},
    {"message waiting (store), UCS-2", "00040B919471103254F600E8425010010203800400480069", 0, AlphabetUcs2, false, 4, "Hi"},
    {"class 1, 7-bit", "00040B919471103254F600F14250100102038002C834", 0, AlphabetGsm7, false, 2, "Hi"},
    {"8-bit data", "00040B919471103254F6000442501001020380040102ABCD", 0, Alphabet8Bit, false, 4, nullptr},
    {"class 2, 8-bit data", "00040B919471103254F600F642501001020380040102ABCD", 0, Alphabet8Bit, false, 4, nullptr},
    {"compressed", "00040B919471103254F6002042501001020380040102ABCD", -1, 0, false, 0, nullptr},
    {"reserved alphabet", "00040B919471103254F6000C42501001020380040102ABCD", -1, 0, false, 0, nullptr},
    {"reserved coding group", "00040B919471103254F6008042501001020380040102ABCD", -1, 0, false, 0, nullptr},
    {"SMS-SUBMIT", "00010005912143F500080400480069", -1, 0, false, 0, nullptr},
    {"one octet short", std::string(Part2Of2).substr(0, sizeof Part2Of2 - 3), -1, 0, false, 0, nullptr},
    {"one octet too many", std::string(Part2Of2) + "00", -1, 0, false, 0, nullptr},
    {"header longer than the user data", "00440B919471103254F600084250100102038006090500030102", -1, 0, false, 0, nullptr},
    {"header septets past TP-UDL", "00440B919471103254F6000042501001020380060500034C0201", -1, 0, false, 0, nullptr},
    {"UCS-2 user data over 140 octets", "00040B919471103254F60008425010010203808D" + std::string(282, '0'), -1, 0, false,
     0, nullptr},
    {"SMSC part past the end", "0C0791", -1, 0, false, 0, nullptr},
    {"nothing", "", -1, 0, false, 0, nullptr},
};

TEST(ReadDeliverPdu, CapturedPdus) {
  for (const PduCase& c : PduCases) {
    SCOPED_TRACE(c.source);
    const std::vector<unsigned char> pdu = Octets(c.pdu);
    DeliverPdu deliver{};
    ASSERT_EQ(c.want, ReadDeliverPdu(pdu.data(), (int)pdu.size(), &deliver));
    if (c.want < 0) continue;
    const UserData& ud = deliver.userData;
    EXPECT_EQ(c.alphabet, ud.alphabet);
    EXPECT_EQ(c.header, ud.header);
    EXPECT_EQ(c.length, ud.length);
    char text[UserDataTextSize];
    memset(text, 0xAA, sizeof text);
    EXPECT_EQ(c.text ? (int)strlen(c.text) : -1, UserDataText(text, sizeof text, &ud));
    EXPECT_STREQ(c.text ? c.text : "", text);
    if (!c.text) continue;
    // One byte short of the room it needs: refused, nothing but an empty string written.
    memset(text, 0xAA, sizeof text);
    EXPECT_EQ(-1, UserDataText(text, (int)strlen(c.text), &ud));
    EXPECT_EQ('\0', text[0]);
    for (size_t i = strlen(c.text); i < sizeof text; ++i) ASSERT_EQ((char)0xAA, text[i]) << "byte " << i;
  }
}

// Address fields (length in semi-octets, type, value) and time stamps, as text mode shows them.
struct FieldCase { const char* source; std::string field; const char* text; };
const FieldCase AddressCases[] = {
    {"international", "0B919471103254F6", "+49170123456"},
    {"national", "0B819471103254F6", "49170123456"},
    {"short code with * and #", "04A11A0B", "*1#0"},
    {"alphanumeric", "0ED0D637396C7EBBCB", "Vodafone"},
    {"alphanumeric, an escape to the extension table", "04D09B32", "\xE2\x82\xAC"},  // a euro sign
    {"digits past the field", "0B919471", nullptr},
    {"more digits than an address holds", "16919471103254F6947110325476", nullptr},
};
const FieldCase TimestampCases[] = {
    {"zone +2 hours", "42501001020380", "24/05/01,10:20:30+08"},
    {"zone -4 hours, sign in bit 3", "42501001020369", "24/05/01,10:20:30-16"},
    {"zone semi-octet above 9", "425010010203A0", "24/05/01,10:20:30+10"},
    {"date semi-octet above 9", "A4501001020380", "50/05/01,10:20:30+08"},
};

TEST(PduFields, AddressesAndTimeStamps) {
  for (const FieldCase& c : AddressCases) {
    SCOPED_TRACE(c.source);
    const std::vector<unsigned char> field = Octets(c.field);
    char text[AddressTextSize];
    EXPECT_EQ(c.text ? (int)strlen(c.text) : -1, AddressText(text, sizeof text, field.data(), (int)field.size()));
    EXPECT_STREQ(c.text ? c.text : "", text);
  }
  for (const FieldCase& c : TimestampCases) {
    SCOPED_TRACE(c.source);
    char text[TimestampTextSize];
    TimestampText(text, sizeof text, Octets(c.field).data());
    EXPECT_STREQ(c.text, text);
  }
}

// FNV-1a 64's published test vectors; a joined id hashes its parts' ids as big-endian octets.
struct IdVector { const char* source; std::string octets; const char* id; };
const IdVector IdVectors[] = {
    {"no octets", "", "cbf29ce484222325"},
    {"a", "a", "af63dc4c8601ec8c"},
    {"foobar", "foobar", "85944171f73967e8"},
};

TEST(MessageId, FnvVectorsAndText) {
  for (const IdVector& c : IdVectors) {
    SCOPED_TRACE(c.source);
    char text[IdTextSize];
    IdText(text, PduId((const unsigned char*)c.octets.data(), (int)c.octets.size()));
    EXPECT_STREQ(c.id, text);
  }
  // "foobar" in two parts of 8 octets: the ids of "foo" and "bar", most significant octet first.
  const MessageId parts[] = {PduId((const unsigned char*)"foo", 3), PduId((const unsigned char*)"bar", 3)};
  std::vector<unsigned char> octets;
  for (MessageId part : parts)
    for (int shift = 56; shift >= 0; shift -= 8) octets.push_back((unsigned char)(part >> shift));
  EXPECT_EQ(PduId(octets.data(), (int)octets.size()), JoinedId(parts, 2));
}

// --id takes exactly 16 hex digits, in either case.
struct ReadIdCase { const char* text; int want; MessageId id; };
const ReadIdCase ReadIdCases[] = {
    {"0123456789abcdef", 0, 0x0123456789abcdefULL}, {"FFFFFFFFFFFFFFFF", 0, ~0ULL},
    {"0123456789ABCDEf", 0, 0x0123456789abcdefULL}, {"0123456789abcde", -1, 0},
    {"0123456789abcdef0", -1, 0},                    {"0123456789abcdeg", -1, 0},
    {"", -1, 0},                                     {"+123456789abcdef", -1, 0},
};

TEST(MessageId, ReadId) {
  for (const ReadIdCase& c : ReadIdCases) {
    SCOPED_TRACE(c.text);
    MessageId id = 7;
    EXPECT_EQ(c.want, ReadId(c.text, &id));
    EXPECT_EQ(c.want == 0 ? c.id : 7, id);
  }
}

}  // namespace
