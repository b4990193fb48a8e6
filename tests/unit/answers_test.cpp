// The pure parsers of one modem answer, fed the bytes modems send ("\r\n" written out).
#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/decimal.h"
#include "listing/escape.h"
#include "listing/listing_answer.h"
#include "listing/listing_output.h"
#include "listing/read_answer.h"
#include "../captured_pdus.h"
#include "../fnv_id.h"
#include "serial/exchange.h"

namespace {

using namespace captured;

// The parsers write into the answer: each call gets its own copy, sized like ResponseBuffer.
std::vector<char> Writable(const std::string& answer) {
  std::vector<char> buffer(answer.begin(), answer.end());
  buffer.resize(answer.size() < ResponseBufferSize ? ResponseBufferSize + 1 : answer.size() + 1, '\0');
  return buffer;
}

struct CmglCase { const char* source; const char* answer; int want; bool zero; };
const CmglCase CmglAnswers[] = {
    {"two stored, ascending", "\r\n+CMGL: 1,1,,23\r\n0791...\r\n+CMGL: 4,0,,25\r\n0791...\r\n\r\nOK\r\n", 4, false},
    {"descending", "\r\n+CMGL: 17,1,,23\r\nAB\r\n+CMGL: 15,1,,23\r\nAB\r\n+CMGL: 13,0,,23\r\nAB\r\n"
                   "+CMGL: 11,0,,23\r\nAB\r\n\r\nOK\r\n", 17, false},
    {"mixed order", "\r\n+CMGL: 3,1,,23\r\nAB\r\n+CMGL: 9,1,,23\r\nAB\r\n+CMGL: 2,1,,23\r\nAB\r\n\r\nOK\r\n", 9, false},
    {"gaps", "\r\n+CMGL: 2,1,,23\r\nAB\r\n+CMGL: 5,1,,23\r\nAB\r\n+CMGL: 9,1,,23\r\nAB\r\n\r\nOK\r\n", 9, false},
    {"numbered from 0, alone", "\r\n+CMGL: 0,1,,23\r\n0791...\r\n\r\nOK\r\n", 0, true},
    {"numbered from 0, with others", "\r\n+CMGL: 0,1,,23\r\nAB\r\n+CMGL: 1,1,,25\r\nAB\r\n\r\nOK\r\n", 1, true},
    {"index 0 listed last", "\r\n+CMGL: 3,1,,23\r\nAB\r\n+CMGL: 0,1,,25\r\nAB\r\n\r\nOK\r\n", 3, true},
    {"two-digit index 10 is not 0", "\r\n+CMGL: 10,0,,23\r\nAB\r\n\r\nOK\r\n", 10, false},
    {"index 0 after the first OK", "\r\n+CMGL: 2,1,,23\r\nAB\r\n\r\nOK\r\n+CMGL: 0,1,,23\r\nAB\r\n", 2, false},
    {"higher index after the first OK", "\r\n+CMGL: 2,1,,23\r\nAB\r\n\r\nOK\r\n+CMGL: 7,1,,23\r\n", 2, false},
    {"three-digit index", "\r\n+CMGL: 255,1,,23\r\nAB\r\n\r\nOK\r\n", 255, false},
    {"empty storage", "\r\nOK\r\n", -1, false},
    {"only line after the OK", "\r\nOK\r\n\r\n+CMGL: 2,0,,25\r\n", -1, false},
    {"digits run into the OK", "\r\n+CMGL: 12OK\r\n", -1, false},
    {"no OK", "\r\n+CMGL: 1,1,,23\r\n0791...\r\n", -1, false},
    {"no digits before the OK", "\r\n+CMGL: \r\nOK\r\n", -1, false},
    {"refused", "\r\n+CMS ERROR: 321\r\n", -1, false},
    {"nothing", "", -1, false},
};

TEST(FindHighestIndex, CapturedAnswers) {
  for (const CmglCase& c : CmglAnswers) {
    SCOPED_TRACE(c.source);
    std::vector<char> answer = Writable(c.answer);
    bool zeroInUse = !c.zero && c.want >= 0;  // the opposite, so that a missing write shows
    EXPECT_EQ(c.want, FindHighestIndex(answer.data(), &zeroInUse));
    EXPECT_EQ(c.zero, zeroInUse);
    answer = Writable(c.answer);
    EXPECT_EQ(c.want, FindHighestIndex(answer.data(), nullptr));
  }
}

// A full SIM as a modem lists it: 30 entries, each a 160-character GSM 7-bit SMS-DELIVER, in the
// order given. About 10 KB, so ResponseBuffer holds less than half of it.
const char FullPdu[] =
    "0791947122723033040C91947110325476000042501021030280A0C63A9B0D9AD3DFF2F0B90CA297E77450BB3C9F87CF"
    "6590BBDE1697E520D84D07A2A3CBA0783D3D5E83C4F2F7DD0D32BFF12075BD0D9F83DEF6B21C44479741ECB03E0F22BFCF"
    "20639DCD06CDE96F79F85C06D1CB733AA85D9ECFC3E732C85D6F8BCB7210ECA603D1D16550BC9E1EAF4162F9FBEE0699DF"
    "7890BADE86CF416F7B590EA2A3CB2076589F0791DF";
std::string FullListing(const std::vector<int>& indexes, const std::string& end = "\r\nOK\r\n") {
  std::string answer = "\r\n";
  for (int index : indexes) answer += "+CMGL: " + std::to_string(index) + ",1,,159\r\n" + FullPdu + "\r\n";
  return answer + end;
}
std::vector<int> Range(int first, int last) {
  std::vector<int> indexes;
  for (int i = first; i <= last; ++i) indexes.push_back(i);
  return indexes;
}

// "<index>:<own text>|", "<index>:hex|" (8-bit data), "<index>:twice|" or "<index>:other|" in index
// order, then the number of received messages listed without a header.
std::string Entries(const Listing& listing) {
  std::string out;
  int plain = 0;
  for (int i = 0; i < ListedIndexes; ++i) {
    const ListedKind kind = listing.kind[i];
    const ListedMessage* message = DeliverAt(&listing, i);
    char text[UserDataTextSize] = "";
    if (message) UserDataText(text, sizeof text, &message->pdu.userData);
    if (message && !message->pdu.userData.header && message->pdu.userData.alphabet != Alphabet8Bit)
      ++plain;
    else if (kind != NotListed)
      out += std::to_string(i) + ":" +
             (message && message->pdu.userData.alphabet == Alphabet8Bit ? "hex"
              : kind == ListedTwice                                      ? "twice"
              : kind == ListedOther                                      ? "other"
                                                                         : text) +
             "|";
  }
  return out + std::to_string(plain) + " plain";
}

// "<highest>[ and 0], <PDU lines>: <entries>" for the answer fed in pieces that end at the given
// offsets (the last piece runs to the end).
std::string ScanInPieces(const std::string& answer, const std::vector<size_t>& cuts) {
  ListingScan scan;
  auto listing = std::make_unique<Listing>();
  BeginListingScan(&scan, listing.get());
  size_t from = 0;
  for (size_t cut : cuts) {
    ScanListingPiece(&scan, answer.data() + from, cut - from);
    from = cut;
  }
  ScanListingPiece(&scan, answer.data() + from, answer.size() - from);
  bool zero = false;
  const int index = EndListingScan(&scan, &zero);
  return std::to_string(index) + (zero ? " and 0, " : ", ") + std::to_string(scan.pduLines) + ": " + Entries(*listing);
}

const char EightBit[] = "00040B919471103254F6000442501001020380040102ABCD";
const std::string PartsListing = std::string("\r\n") +
    "+CMGL: 0,1,,159\r\n" + Part1Of2 + "\r\n+CMGL: 0,1,,159\r\n" + Part1Of2 + "\r\n" +  // both parts at 0
    "+CMGL: 3,0,,61\r\n" + LowerCasePart + "\r\n+CMGL: 4,1,,21\r\n" + EightBit + "\r\n" +
    "+CMGL: 5,1,,159\r\n" + FullPdu + "\r\n+CMGL: 6,1,,159\r\n" + std::string(Part1Of2).insert(60, " ") + "\r\n" +
    "+CMGL: 7,1,,159\r\n" + Part1Of2 + "\r\n+CMGL: 300,1,,61\r\n" + LowerCasePart + "\r\n\r\nOK\r\n";

struct SplitCase { const char* source; std::string answer; std::string want; };
const SplitCase SplitAnswers[] = {
    {"full SIM, 30 of 160 characters", FullListing(Range(1, 30)), "30, 30: 30 plain"},
    {"numbered from 0, descending", FullListing({12, 11, 3, 0}), "12 and 0, 4: 4 plain"},
    {"digits run into the OK", FullListing(Range(1, 12), "+CMGL: 13OK\r\n"), "-1, 12: 12 plain"},
    {"no digits before the OK", FullListing(Range(1, 12), "+CMGL: ,\r\nOK\r\n"), "-1, 12: 12 plain"},
    {"no OK", FullListing(Range(1, 12), "\r\n"), "-1, 12: 12 plain"},
    {"higher index after the OK", FullListing(Range(1, 12), "\r\nOK\r\n+CMGL: 99,1,,159\r\n"), "12, 12: 12 plain"},
    {"lines sent unasked between an entry and its PDU, and after it",
     std::string("\r\n+CMGL: 3,0,,61\r\n+CMTI: \"SM\",4\r\n\r\n^RSSI:17\r\n") + LowerCasePart +
         "\r\nRING\r\n+CMGL: 4,1,,21\r\nSMS DONE\r\n" + EightBit + "\r\n\r\nOK\r\n",
     std::string("4, 2: 3:") + LowerCaseText + "|4:hex|0 plain"},
    {"parts of long messages; 0 twice, 300 past the table", PartsListing,
     std::string("300 and 0, 8: 0:twice|3:") + LowerCaseText + "|4:hex|6:other|7:" + Part1Text + "|1 plain"},
};

// However the answer is cut, every piece gives what FindHighestIndex gives for the whole of it.
TEST(ListingScan, SplitAtEveryByteGivesTheWholeAnswersResult) {
  for (const SplitCase& c : SplitAnswers) {
    SCOPED_TRACE(c.source);
    std::vector<char> whole(c.answer.begin(), c.answer.end());
    whole.push_back('\0');
    bool zero = false;
    const int index = FindHighestIndex(whole.data(), &zero);
    EXPECT_EQ(c.want.substr(0, c.want.find(',')), std::to_string(index) + (zero ? " and 0" : ""));
    EXPECT_EQ(c.want, ScanInPieces(c.answer, {}));
    std::vector<size_t> everyByte;
    for (size_t cut = 1; cut < c.answer.size(); ++cut) {
      everyByte.push_back(cut);
      const std::string split = ScanInPieces(c.answer, {cut});
      if (split != c.want) ADD_FAILURE() << "cut at " << cut << ": " << split;
    }
    EXPECT_EQ(c.want, ScanInPieces(c.answer, everyByte));
  }
}

// The id the listing gives index: the PDU's whatever the case of its hex digits and the <stat>
// before it; none for a line that is no whole octets, and none for an index listed twice.
std::string Upper(std::string hex) {
  for (char& c : hex) c = (char)toupper((unsigned char)c);
  return hex;
}
struct IdCase { const char* source; std::string answer; int index; std::string pdu; };
const IdCase IdAnswers[] = {
    {"lower-case hex", "\r\n+CMGL: 3,0,,61\r\n" + std::string(LowerCasePart) + "\r\n\r\nOK\r\n", 3, Upper(LowerCasePart)},
    {"the same upper-case, read", "\r\n+CMGL: 3,1,,61\r\n" + Upper(LowerCasePart) + "\r\n\r\nOK\r\n", 3,
     Upper(LowerCasePart)},
    {"8-bit data, unsent", "\r\n+CMGL: 4,2,,21\r\n" + std::string(EightBit) + "\r\n\r\nOK\r\n", 4, EightBit},
    {"full length, after an unasked line", "\r\n+CMGL: 5,1,,159\r\n+CMTI: \"SM\",6\r\n" +
     std::string(FullPdu) + "\r\n\r\nOK\r\n", 5, FullPdu},
    {"odd number of digits", "\r\n+CMGL: 1,1,,1\r\n07919\r\n\r\nOK\r\n", 1, ""},
    {"not hex", "\r\n+CMGL: 1,1,,1\r\n0791 94\r\n\r\nOK\r\n", 1, ""},
    {"listed twice", PartsListing, 0, ""},
    {"past the indexes noted", PartsListing, 300, ""},
};

TEST(ListingScan, IdOfEachListedPdu) {
  for (const IdCase& c : IdAnswers) {
    SCOPED_TRACE(c.source);
    ListingScan scan;
    auto listing = std::make_unique<Listing>();
    BeginListingScan(&scan, listing.get());
    ScanListingPiece(&scan, c.answer.data(), c.answer.size());
    EndListingScan(&scan, nullptr);
    MessageId id = 0;
    const int found = IdAt(listing.get(), c.index, &id);
    EXPECT_EQ(c.pdu.empty() ? -1 : 0, found);
    if (found == 0) {
      EXPECT_EQ(fnv::Text(fnv::OfPdu(c.pdu)), fnv::Text(id));
    }
  }
}

std::string Printed(int index, const std::string& text, int* result) {
  std::vector<char> answer = Writable(text);
  char* data = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&data, &size);
  *result = PrintMessage(out, index, answer.data());
  fclose(out);
  std::string printed(data, size);
  free(data);
  return printed;
}

std::string Cmgr(const char* status, const std::string& sender, const std::string& date, const std::string& text) {
  return "\r\n+CMGR: \"" + std::string(status) + "\",\"" + sender + "\",,\"" + date + "\"\r\n" + text + "\r\n\r\nOK\r\n";
}

const char Plus1234[] = "002B0031003200330034";
const char Date[] = "24/05/01,10:20:30+08";

// want "" means: nothing printed and -1.
struct CmgrCase { const char* source; int index; std::string answer; const char* want; };
const CmgrCase CmgrAnswers[] = {
    {"unread", 3, Cmgr("REC UNREAD", Plus1234, Date, "00480069"), "3\t1\t+1234\t24/05/01,10:20:30+08\tHi\n"},
    {"read", 3, Cmgr("REC READ", Plus1234, Date, "00480069"), "3\t0\t+1234\t24/05/01,10:20:30+08\tHi\n"},
    {"index 0", 0, Cmgr("REC READ", "0031", Date, "0041"), "0\t0\t1\t24/05/01,10:20:30+08\tA\n"},
    {"lower-case hex", 7, Cmgr("REC READ", "002b0031", Date, "00e90020006f006b"),
     "7\t0\t+1\t24/05/01,10:20:30+08\t\xC3\xA9 ok\n"},
    {"alphanumeric sender", 2, Cmgr("REC UNREAD", "0056006F006400610066006F006E0065", Date, "0041"),
     "2\t1\tVodafone\t24/05/01,10:20:30+08\tA\n"},
    {"empty sender", 4, Cmgr("REC READ", "", Date, "00480069"), "4\t0\t\t24/05/01,10:20:30+08\tHi\n"},
    {"emoji text", 5, Cmgr("REC READ", "0031", Date, "D83DDE00"), "5\t0\t1\t24/05/01,10:20:30+08\t\xF0\x9F\x98\x80\n"},
    {"Cyrillic text", 6, Cmgr("REC READ", "0031", Date, "041F04400438043204350442"),
     "6\t0\t1\t24/05/01,10:20:30+08\t\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\n"},
    {"line feed in the text", 1, Cmgr("REC READ", "0031", Date, "0041000A0042"), "1\t0\t1\t24/05/01,10:20:30+08\tA\\nB\n"},
    {"tab, CR, backslash in the text", 1, Cmgr("REC READ", "0031", Date, "00410009000D005C0042"),
     "1\t0\t1\t24/05/01,10:20:30+08\tA\\t\\r\\\\B\n"},
    // A stranger's SMS must not drive the reader's terminal: ESC, BEL, DEL and C1 controls as escapes.
    {"escape sequence and bell in the text", 1, Cmgr("REC READ", "0031", Date, "001B005B00330031006D0041001B005B006D0007"),
     "1\t0\t1\t24/05/01,10:20:30+08\t\\x1b[31mA\\x1b[m\\x07\n"},
    {"DEL, C1 controls and the characters around them", 1, Cmgr("REC READ", "0031", Date, "007F0080009B009F00A000E9"),
     "1\t0\t1\t24/05/01,10:20:30+08\t\\x7f\\u0080\\u009b\\u009f\xC2\xA0\xC3\xA9\n"},
    {"a control in the sender", 1, Cmgr("REC READ", "001B0031", Date, "0041"),
     "1\t0\t\\x1b1\t24/05/01,10:20:30+08\tA\n"},
    {"tab and backslash in the sender", 1, Cmgr("REC READ", "0009005C", Date, "0041"),
     "1\t0\t\\t\\\\\t24/05/01,10:20:30+08\tA\n"},
    {"tab in the date", 1, Cmgr("REC READ", "0031", "24/05/01\t10:20", "0041"), "1\t0\t1\t24/05/01\\t10:20\tA\n"},
    {"sender not whole groups, shown raw", 1, Cmgr("REC READ", "002B003", Date, "0041"),
     "1\t0\t002B003\t24/05/01,10:20:30+08\tA\n"},
    {"text not whole groups, shown raw", 1, Cmgr("REC READ", Plus1234, Date, "0048006"),
     "1\t0\t+1234\t24/05/01,10:20:30+08\t0048006\n"},
    {"stored sent", 1, Cmgr("STO SENT", Plus1234, Date, "00480069"), ""},
    {"stored unsent", 1, Cmgr("STO UNSENT", Plus1234, Date, "00480069"), ""},
    {"alpha field", 1, "\r\n+CMGR: \"REC READ\",\"002B0031\",\"004A006F\",\"24/05/01,10:20:30+08\"\r\n0041\r\n\r\nOK\r\n",
     "1\t0\t+1\t24/05/01,10:20:30+08\tA\n"},
    {"header values after the date (AT+CSDH=1)", 1,
     "\r\n+CMGR: \"REC READ\",\"002B0031\",,\"24/05/01,10:20:30+08\",145,4,0,0,\"002B0034\",145,2\r\n00480069\r\n\r\nOK\r\n",
     "1\t0\t+1\t24/05/01,10:20:30+08\tHi\n"},
    {"unsolicited line between the text and its OK", 1,
     "\r\n+CMGR: \"REC READ\",\"002B0031\",,\"24/05/01,10:20:30+08\"\r\n00480069\r\n\r\n^RSSI: 17\r\n\r\nOK\r\n",
     "1\t0\t+1\t24/05/01,10:20:30+08\tHi\n"},
    {"unasked lines between the header and the text", 1,
     "\r\n+CMGR: \"REC READ\",\"002B0031\",,\"24/05/01,10:20:30+08\"\r\n+CMTI: \"SM\",3\r\n^RSSI:17\r\n\r\nRING\r\n"
     "00480069\r\n\r\nOK\r\n",
     "1\t0\t+1\t24/05/01,10:20:30+08\tHi\n"},
    {"bare lines after the text", 1, Cmgr("REC READ", "002B0031", Date, "00480069\r\nDST: 1\r\nSMS DONE"),
     "1\t0\t+1\t24/05/01,10:20:30+08\tHi\n"},
    {"empty text", 1, Cmgr("REC READ", Plus1234, Date, ""), ""},
    {"refused", 1, "\r\n+CMS ERROR: 321\r\n", ""},
    {"OK alone", 1, "\r\nOK\r\n", ""},
    {"nothing", 1, "", ""},
};

TEST(PrintMessage, CapturedAnswers) {
  for (const CmgrCase& c : CmgrAnswers) {
    SCOPED_TRACE(c.source);
    int result = 0;
    EXPECT_EQ(c.want, Printed(c.index, c.answer, &result));
    EXPECT_EQ(*c.want ? 0 : -1, result);
  }
}

// The field between sender and date, where the end-to-end forms cannot go: a phonebook name that is
// all digits is no date, and a name with no date after it is no message.
struct AlphaCase { const char* source; const char* header; const char* want; };
const AlphaCase AlphaAnswers[] = {
    {"phonebook name of digits", "\"REC READ\",\"002B0031\",\"0031\",\"24/05/01,10:20:30+08\"",
     "5\t0\t+1\t24/05/01,10:20:30+08\tHi\n"},
    {"name, then no date", "\"REC READ\",\"002B0031\",\"004D0075006D\"", ""},
};

TEST(PrintMessage, AlphaFieldTellsNameFromDate) {
  for (const AlphaCase& c : AlphaAnswers) {
    SCOPED_TRACE(c.source);
    int result = 0;
    EXPECT_EQ(c.want, Printed(5, "\r\n+CMGR: " + std::string(c.header) + "\r\n00480069\r\n\r\nOK\r\n", &result));
    EXPECT_EQ(*c.want ? 0 : -1, result);
  }
}

// The listing decides where the text comes from: its own text from the PDU, but the text-mode
// answer's when the index was listed twice (which entry a read shows is unknown); and a message it
// listed unread stays unread, although the modem marked it read on listing.
TEST(ParseListedMessage, AsTheListingSays) {
  const std::string entry = std::string("+CMGL: 9,0,,61\r\n") + Part2Of2 + "\r\n";
  const struct { const char* source; std::string listing; const char* text; } cases[] = {
      {"listed once", "\r\n" + entry + "\r\nOK\r\n", Part2Text},
      {"listed twice", "\r\n" + entry + entry + "\r\nOK\r\n", "Hi"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    auto listing = std::make_unique<Listing>();
    ListingScan scan;
    BeginListingScan(&scan, listing.get());
    ScanListingPiece(&scan, c.listing.data(), c.listing.size());
    ASSERT_EQ(9, EndListingScan(&scan, nullptr));
    std::vector<char> answer = Writable(Cmgr("REC READ", Plus1234, Date, "00480069"));
    MessageFields fields{};
    ASSERT_EQ(0, ParseListedMessage(answer.data(), 9, listing.get(), &fields));
    EXPECT_STREQ(c.text, fields.text);
    EXPECT_STREQ("+1234", fields.sender);
    EXPECT_TRUE(fields.unread);
  }
}

TEST(PrintMessage, UndecodableTextNeverShowsTheLastMessage) {
  int result = 0;
  Printed(1, Cmgr("REC READ", "0031", Date, "0053006F006D0065007400680069006E0067"), &result);
  EXPECT_EQ("2\t0\t1\t24/05/01,10:20:30+08\t004100420\n",
            Printed(2, Cmgr("REC READ", "0031", Date, "004100420"), &result));
}

// Just run these: with -fsanitize=address any write past the 128-byte copies is caught.
TEST(PrintMessage, OverlongSenderAndDateStayInTheirColumns) {
  std::string longSender;
  for (int i = 0; i < 300; ++i) longSender += "0041";
  const std::string longDate(1000, '7');
  for (const std::string& answer : {Cmgr("REC READ", longSender, Date, "0041"), Cmgr("REC READ", "0031", longDate, "0041"),
                                    Cmgr("REC UNREAD", longSender, longDate, "0041")}) {
    int result = 0;
    std::string printed = Printed(9, answer, &result);
    if (result != 0) {
      EXPECT_EQ("", printed);
      continue;
    }
    // index, type, sender, date, text
    std::vector<std::string> columns;
    size_t start = 0;
    for (size_t tab; (tab = printed.find('\t', start)) != std::string::npos; start = tab + 1)
      columns.push_back(printed.substr(start, tab - start));
    ASSERT_EQ(4u, columns.size()) << printed;
    EXPECT_LE(columns[2].size(), 127u);
    EXPECT_LE(columns[3].size(), 127u);
  }
}

// What PrintJsonString writes for text, quotes included.
std::string JsonString(const char* text) {
  char* data = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&data, &size);
  PrintJsonString(out, text);
  fclose(out);
  std::string printed(data, size);
  free(data);
  return printed;
}

#define FFFD "\xEF\xBF\xBD"
struct JsonCase { const char* source; const char* text; const char* want; };
const JsonCase JsonTexts[] = {
    {"empty", "", "\"\""},
    {"quote, backslash, slash", "say \"hi\" \\ 1/2", "\"say \\\"hi\\\" \\\\ 1/2\""},
    {"named controls", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
    {"other controls", "\x01\x0B\x1B\x1F", "\"\\u0001\\u000b\\u001b\\u001f\""},
    {"DEL and printable ASCII as they are", "~\x7F ", "\"~\x7F \""},
    {"two-, three-, four-byte characters", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
    {"lowest and highest of the narrowed ranges", "\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
     "\"\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\""},
    {"Latin-1 byte", "caf\xE9!", "\"caf" FFFD "!\""},
    {"lone continuation bytes", "\x80\xBF", "\"" FFFD FFFD "\""},
    {"overlong two-byte form", "\xC0\xAF\xC1\xBF", "\"" FFFD FFFD FFFD FFFD "\""},
    {"overlong three- and four-byte forms", "\xE0\x9F\xBF\xF0\x8F\xBF\xBF",
     "\"" FFFD FFFD FFFD FFFD FFFD FFFD FFFD "\""},
    {"surrogate", "\xED\xA0\x80", "\"" FFFD FFFD FFFD "\""},
    {"above U+10FFFF", "\xF4\x90\x80\x80\xF5\x80", "\"" FFFD FFFD FFFD FFFD FFFD FFFD "\""},
    {"cut sequences: one U+FFFD each", "\xE2\x82" "A\xF0\x9F\x98\"\xC3", "\"" FFFD "A" FFFD "\\\"" FFFD "\""},
    {"cut by a control character", "\xE2\n", "\"" FFFD "\\n\""},
};
#undef FFFD

TEST(PrintJsonString, EscapesAndInvalidUtf8) {
  for (const JsonCase& c : JsonTexts) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(c.want, JsonString(c.text));
  }
}

TEST(ReadDecimal, AtoiWithSaturation) {
  const struct { const char* text; int want; } cases[] = {
      {"42", 42}, {"  -7", -7}, {"\t+5", 5}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"007", 7},
      {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"-99999999999999999999", INT_MIN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.want, ReadDecimal(c.text));
  }
}

}  // namespace
