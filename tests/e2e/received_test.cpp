// Received messages as real modems show them in text mode: every part of a long message listed
// with its own text whatever the modem makes of its header, and every form of the alpha field;
// with --join one line per long message.
#include <gtest/gtest.h>

#include <algorithm>

#include "../captured_pdus.h"
#include "harness.h"

namespace {

using namespace e2e;
using namespace captured;

const char EightBit[] = "00040B919471103254F6000442501001020380040102ABCD";  // 8-bit data, no header

// Long texts whose first part is exactly one SMS beside its header: 67 UTF-16 units (IE 00), 66
// (IE 08, so the text starts at an odd octet) and 152 septets (IE 08).
const std::string Ucs2First = "Привет! Это длинное сообщение из двух частей 😀, первая часть тут, ";
const std::string Ucs2Second = "а вторая — здесь.";
const std::string OddFirst = "Ответ с 16-битной ссылкой: текст начинается с нечётного октета 👍 ";
const std::string OddSecond = "и второй части.";
const std::string Gsm7First =
    "Your parcel 4711 is on its way. Costs: 12 € {incl. tax} [see ~ ^ | \\ page]. We deliver it tomorrow "
    "between 8:00 and 12:00, be at home then! OK ";
const std::string Gsm7Second = "and sign for it.";

void StoreReceived(sim::Modem& modem) {
  modem.AddPduMessage("SM", 1, "REC UNREAD", Part1Of2);
  modem.AddPduMessage("SM", 2, "REC READ", Part2Of2);
  modem.AddPduMessage("SM", 3, "REC READ", LowerCasePart);
  modem.AddLongMessage("SM", {4, "REC UNREAD", "+79161234567", "24/05/02,09:15:00+12", Ucs2First + Ucs2Second},
                       sim::PartCoding::Ucs2);
  modem.AddLongMessage("SM", {6, "REC READ", "+491701234567", "24/05/03,10:00:00+08", Gsm7First + Gsm7Second},
                       sim::PartCoding::Gsm7Wide);
  modem.AddLongMessage("SM", {8, "REC UNREAD", "+4930123456", "24/05/04,11:00:00+08", OddFirst + OddSecond},
                       sim::PartCoding::Ucs2Wide);
  modem.AddPduMessage("SM", 10, "REC READ", EightBit);
  modem.AddMessage("SM", {11, "REC READ", "+4912345", "24/05/05,12:00:00+08", "no header here"});
  modem.AddPhonebookEntry("+1234", "Mum");
  modem.AddMessage("SM", {12, "REC UNREAD", "+1234", "24/05/01,10:20:30+08", "Hi, it's Mum"});
}

// The same lines whatever the modem's text mode shows; the sender column keeps the number, a phonebook
// name is not shown.
const std::string ReceivedListing =
    ListHeader +
    "1\t1\t+16175046925\t12/04/25,19:56:50-16\t" + Part1Text + "\n"
    "2\t0\t+16175046925\t12/04/25,19:56:51-16\t" + Part2Text + "\n"
    "3\t0\t+15558675309\t25/04/17,13:40:37-28\t" + LowerCaseText + "\n"
    "4\t1\t+79161234567\t24/05/02,09:15:00+12\t" + Ucs2First + "\n"
    "5\t1\t+79161234567\t24/05/02,09:15:00+12\t" + Ucs2Second + "\n"
    "6\t0\t+491701234567\t24/05/03,10:00:00+08\tYour parcel 4711 is on its way. Costs: 12 € {incl. tax} "
    "[see ~ ^ | \\\\ page]. We deliver it tomorrow between 8:00 and 12:00, be at home then! OK \n"
    "7\t0\t+491701234567\t24/05/03,10:00:00+08\t" + Gsm7Second + "\n"
    "8\t1\t+4930123456\t24/05/04,11:00:00+08\t" + OddFirst + "\n"
    "9\t1\t+4930123456\t24/05/04,11:00:00+08\t" + OddSecond + "\n"
    "10\t0\t+49170123456\t24/05/01,10:20:30+08\t0102ABCD\n"
    "11\t0\t+4912345\t24/05/05,12:00:00+08\tno header here\n"
    "12\t1\t+1234\t24/05/01,10:20:30+08\tHi, it's Mum\n";

// Each row one way of showing a header and one way of writing the alpha field.
struct FormCase { const char* name; sim::HeaderForm header; sim::AlphaField alpha; };
void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }
class TextModeForms : public ::testing::TestWithParam<FormCase> {
 protected:
  // The simulator showing headers and the alpha field as this row says.
  static sim::Options FormOptions() {
    sim::Options options = SimOptions();
    options.headerForm = GetParam().header;
    options.alphaField = GetParam().alpha;
    return options;
  }
};

// Whatever the modem shows, the same lines with and without -q: without it every index is read in
// text mode, with it every line comes from its PDU in the listing.
TEST_P(TextModeForms, EveryPartListedWithItsOwnText) {
  for (bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "-q" : "without -q");
    sim::Modem modem(FormOptions());
    StoreReceived(modem);
    START_MODEM(modem);
    RunResult run = RunAtsms(quick ? Lines{"-q", modem.SlavePath(), "sim", "list"} : Lines{modem.SlavePath(), "sim", "list"});
    EXPECT_EQ(12, run.exitStatus);
    EXPECT_EQ(ReceivedListing, run.out);
    EXPECT_EQ("", run.err);
    const Lines listing = Cat({Prepared(StorageSim), {PduMode, ListAll}});
    EXPECT_EQ(quick ? listing : Cat({listing, {TextMode}, ReadCmds(1, 12)}), modem.Commands());
  }
}

// Parts out of order with a message between them (GSM 7-bit, 8-bit reference), and a message with a
// part missing (UCS-2, 16-bit reference).
void StoreParts(sim::Modem& modem) {
  const char anna[] = "+4917012";
  modem.AddPart("SM", {1, "REC UNREAD", anna, "24/05/01,10:20:30+08", "the end."}, sim::PartCoding::Gsm7, 7, 3, 3);
  modem.AddPart("SM", {2, "REC READ", anna, "24/05/02,08:00:00+08", "Привет, "}, sim::PartCoding::Ucs2Wide, 4711, 1, 3);
  modem.AddPart("SM", {3, "REC READ", anna, "24/05/01,10:19:00+08", "Start, "}, sim::PartCoding::Gsm7, 7, 1, 3);
  modem.AddMessage("SM", {4, "REC READ", "+4912345", "24/05/05,12:00:00+08", "no header here"});
  modem.AddPart("SM", {5, "REC READ", anna, "24/05/02,08:00:01+08", "мир 😀"}, sim::PartCoding::Ucs2Wide, 4711, 3, 3);
  modem.AddPart("SM", {6, "REC READ", anna, "24/05/01,10:19:30+08", "middle, "}, sim::PartCoding::Gsm7, 7, 2, 3);
}

const std::string JoinedListing = ListHeader +
                                  "1\t1\t+4917012\t24/05/01,10:19:00+08\tStart, middle, the end.\n"
                                  "2\t0\t+4917012\t24/05/02,08:00:00+08\tПривет, [...]мир 😀\n"
                                  "4\t0\t+4912345\t24/05/05,12:00:00+08\tno header here\n";

// Whatever the modem shows of a header, each long message is one line, and each index is read once
// (-q reads none and joins from the listing: the -q --join delete below, the joined-listing table).
TEST_P(TextModeForms, JoinedListingReadsEachIndexOnce) {
  sim::Modem modem(FormOptions());
  StoreParts(modem);
  START_MODEM(modem);
  RunResult run = RunAtsms({"--join", modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(6, run.exitStatus);
  EXPECT_EQ(JoinedListing, run.out);
  EXPECT_EQ("", run.err);
  const Lines listing = Cat({Prepared(StorageSim), {PduMode, ListAll, TextMode}});
  Lines commands = modem.Commands();
  ASSERT_LE(listing.size(), commands.size());
  std::sort(commands.begin() + static_cast<long>(listing.size()), commands.end());  // the reads, 1 to 6
  EXPECT_EQ(Cat({listing, ReadCmds(1, 6)}), commands);
}

// del N --join deletes every stored part of N's message in ascending order, then lists the rest.
TEST(JoinedParts, DeleteOneDeletesEveryPart) {
  sim::Modem modem(SimOptions());
  StoreParts(modem);
  START_MODEM(modem);
  RunResult run = RunAtsms({"-q", "--join", modem.SlavePath(), "sim", "del", "6"});
  EXPECT_EQ(5, run.exitStatus);  // the highest index left
  EXPECT_EQ(ListHeader + JoinedListing.substr(JoinedListing.find("\n2\t") + 1), run.out);
  EXPECT_EQ("", run.err);
  const Lines commands = modem.Commands();
  EXPECT_EQ(Cat({Prepared(StorageSim), {PduMode, ListAll, DeleteCmd(1), DeleteCmd(3), DeleteCmd(6)},
                 Prepared(StorageSim), {PduMode, ListAll}}),
            commands);
}

INSTANTIATE_TEST_SUITE_P(
    Modems, TextModeForms,
    ::testing::Values(FormCase{"a_hex_alpha_empty", sim::HeaderForm::Hex, sim::AlphaField::Empty},
                      FormCase{"b_characters_alpha_quoted", sim::HeaderForm::Characters, sim::AlphaField::Quoted},
                      FormCase{"c_ucs2_characters_alpha_absent", sim::HeaderForm::Ucs2Only, sim::AlphaField::Absent},
                      FormCase{"d_stripped_alpha_phonebook_name", sim::HeaderForm::Stripped, sim::AlphaField::Name}),
    [](const ::testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

}  // namespace
