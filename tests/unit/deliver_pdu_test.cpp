// The SMS-DELIVER reader and the text of its user data, fed PDUs as modems list them.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "codec/ucs2_to_utf8.h"
#include "modem/deliver_pdu.h"

namespace {

// Parts of long messages recorded from real networks (7-bit, IE 00).
const char Part1Of2[] =
    "07912160130320F5440B916171056429F5000021405291650569A00500034C0201A9E8F41C949E83C2207B599E07B1DFEE33885E9E"
    "D341E4F23C7D7697C920FA1B54C697E5E3F4BC0C6AD7D9F434081E96D341E3303C2C4EB3D3F4BC0B94A483E6E8779D4D06CDD1EF3B"
    "A80E0785E7A0B7BB0C6A97E7F3F0B9CC02B9DF7450780EA2DFDF2C50780EA2A3CBA0BA9B5C96B3F369F71954768FDFE4B4FB0C9297"
    "E1F2F2BCECA6CF41";
const char Part2Of2[] =
    "07912160130320F6440B916171056429F5000021405291651569320500034C0202E9E8301D44479741F0B09C3E0785E56590BCCC0E"
    "D3CB6410FD0D7ABBCBA0B0FB4D4797E52E10";
const char LowerCasePart[] =
    "07912160130300f4440b915155685703f900005240713104738a3e050003c40202da6f37881e969fcbf4b4fb0ccabfeb20f4fb0ea2"
    "87e5e7323ded3e83dae17519747fcbd96490b95c6683d273101d5d0601";
const char Part1Text[] =
    "This is a very long test designed to exercise multi part capability. It should show up as one message, "
    "not as two, as the underlying encoding represents ";

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
    {"7-bit, part 2 of 2", Part2Of2, 0, AlphabetGsm7, true, 50, "that the parts are related to one another. "},
    {"7-bit, lower-case hex, part 2 of 2 (ref 0xC4)", LowerCasePart, 0, AlphabetGsm7, true, 62,
     "mon targeting you how targeting make world feel is the "},
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
    UserData ud{};
    ASSERT_EQ(c.want, ReadDeliverPdu(pdu.data(), (int)pdu.size(), &ud));
    if (c.want < 0) continue;
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

}  // namespace
