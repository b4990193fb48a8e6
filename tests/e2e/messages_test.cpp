// Listing and deleting stored messages: the real atsms against the simulated modem on a pty.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace e2e;

std::vector<int> Indexes(const sim::Modem& modem, const std::string& storage) {
  std::vector<int> indexes;
  for (const sim::Message& m : modem.Messages(storage)) indexes.push_back(m.index);
  return indexes;
}

// Gaps at 3 and 6, Cyrillic and an emoji, an alphanumeric and an empty sender, two lines of text,
// and a sent message that is not listed.
void AddInbox(sim::Modem& modem, const std::string& storage) {
  modem.AddMessage(storage, {1, "REC UNREAD", "+491701234567", "24/05/01,10:20:30+08", "Hello!\nSee you at 8"});
  modem.AddMessage(storage, {2, "REC READ", "Vodafone", "24/05/02,08:15:00+08", "Баланс: 12,34 €"});
  modem.AddMessage(storage, {4, "REC UNREAD", "", "24/05/03,21:00:05+08", "Smile \xF0\x9F\x98\x80 ok"});
  modem.AddMessage(storage, {5, "STO SENT", "+4930123456", "", "sent earlier"});
  modem.AddMessage(storage, {7, "REC READ", "12345", "24/05/04,07:00:00+08", "tab\there"});
}

const std::string InboxListing = ListHeader +
                                 "1\t1\t+491701234567\t24/05/01,10:20:30+08\tHello!\\nSee you at 8\n"
                                 "2\t0\tVodafone\t24/05/02,08:15:00+08\tБаланс: 12,34 €\n"
                                 "4\t1\t\t24/05/03,21:00:05+08\tSmile \xF0\x9F\x98\x80 ok\n"
                                 "7\t0\t12345\t24/05/04,07:00:00+08\ttab\\there\n";

struct ListingCase { const char* mode; const char* storage; const char* other; const std::string& storageCmd; };
void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.mode; }
class Listing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(Listing, PrintsEveryReceivedMessageOnOneLine) {
  const ListingCase& c = GetParam();
  sim::Modem modem(SimOptions());
  AddInbox(modem, c.storage);
  modem.AddMessage(c.other, {1, "REC READ", "+4900000", "24/01/01,00:00:00+08", "other storage"});
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), c.mode, "list"});
  EXPECT_EQ(7, run.exitStatus);
  EXPECT_EQ(InboxListing, run.out);
  EXPECT_EQ("", run.err);
  // Index 0 is never read on a modem that does not use it.
  EXPECT_EQ(Cat({Prepared(c.storageCmd), {PduMode, ListAll, TextMode}, ReadCmds(1, 7)}), modem.Commands());
}

INSTANTIATE_TEST_SUITE_P(Storages, Listing,
                         ::testing::Values(ListingCase{"sim", "SM", "ME", StorageSim},
                                           ListingCase{"tel", "ME", "SM", StoragePhone}),
                         [](const ::testing::TestParamInfo<ListingCase>& info) { return std::string(info.param.mode); });

TEST(Delete, OneMessageThenTheListing) {
  sim::Modem modem(SimOptions());
  for (int i = 1; i <= 4; ++i)
    modem.AddMessage("SM", {i, "REC READ", "+4912345", "24/05/0" + std::to_string(i) + ",12:00:00+08",
                            "message " + std::to_string(i)});
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "del", "3"});
  EXPECT_EQ(4, run.exitStatus);
  EXPECT_EQ(ListHeader +
                "1\t0\t+4912345\t24/05/01,12:00:00+08\tmessage 1\n"
                "2\t0\t+4912345\t24/05/02,12:00:00+08\tmessage 2\n"
                "4\t0\t+4912345\t24/05/04,12:00:00+08\tmessage 4\n",
            run.out);
  EXPECT_EQ(Cat({Prepared(StorageSim), {DeleteCmd(3)}, Prepared(StorageSim), {PduMode, ListAll, TextMode},
                 ReadCmds(1, 4)}),
            modem.Commands());
  EXPECT_EQ((std::vector<int>{1, 2, 4}), Indexes(modem, "SM"));
}

// Only the indexes the listing named: a message that came to a free index meanwhile would stay.
TEST(Delete, AllDeletesWhatTheListingNamed) {
  sim::Modem modem(SimOptions());
  modem.AddMessage("SM", {1, "REC READ", "+4912345", "24/05/01,12:00:00+08", "one"});
  modem.AddMessage("SM", {2, "REC UNREAD", "+4912345", "24/05/02,12:00:00+08", "two"});
  modem.AddMessage("SM", {5, "STO SENT", "+4912345", "", "five"});
  modem.AddMessage("ME", {1, "REC READ", "+4912345", "24/05/01,12:00:00+08", "stays"});
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "del", "all"});
  EXPECT_EQ(5, run.exitStatus);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(Cat({Prepared(StorageSim), {PduMode, ListAll}, {DeleteCmd(1), DeleteCmd(2), DeleteCmd(5)}}),
            modem.Commands());
  EXPECT_TRUE(modem.Messages("SM").empty());
  EXPECT_EQ((std::vector<int>{1}), Indexes(modem, "ME"));
}

TEST(EmptyStorage, NoHeaderNoDeletionStatus255) {
  const char* commands[] = {"list", "del"};
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    sim::Modem modem(SimOptions());
    modem.AddMessage("ME", {1, "REC READ", "+4912345", "24/05/01,12:00:00+08", "not on the SIM"});
    START_MODEM(modem);
    Lines args{modem.SlavePath(), "sim", command};
    if (std::string(command) == "del") args.push_back("all");
    RunResult run = RunAtsms(args);
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(Cat({Prepared(StorageSim), {PduMode, ListAll}}), modem.Commands());
  }
}

// Modems that number their storage from 0: the message at 0 is listed first and deleted too.
TEST(IndexZero, ListedFirstAndDeleted) {
  sim::Options options = SimOptions();
  options.indexBase = 0;
  sim::Modem modem(options);
  modem.AddMessage("SM", {0, "REC UNREAD", "+4912345", "24/05/01,12:00:00+08", "at zero"});
  modem.AddMessage("SM", {2, "REC READ", "+4912345", "24/05/02,12:00:00+08", "at two"});
  START_MODEM(modem);
  RunResult list = RunAtsms({modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(2, list.exitStatus);
  EXPECT_EQ(ListHeader +
                "0\t1\t+4912345\t24/05/01,12:00:00+08\tat zero\n"
                "2\t0\t+4912345\t24/05/02,12:00:00+08\tat two\n",
            list.out);
  Lines listed = Cat({Prepared(StorageSim), {PduMode, ListAll, TextMode}, ReadCmds(0, 2)});
  EXPECT_EQ(listed, modem.Commands());

  RunResult del = RunAtsms({modem.SlavePath(), "sim", "del", "all"});
  EXPECT_EQ(2, del.exitStatus);
  EXPECT_EQ(Cat({listed, Prepared(StorageSim), {PduMode, ListAll}, {DeleteCmd(0), DeleteCmd(2)}}), modem.Commands());
  EXPECT_TRUE(modem.Messages("SM").empty());
}

TEST(IndexZero, OnlyMessageAtZero) {
  sim::Options options = SimOptions();
  options.indexBase = 0;
  sim::Modem modem(options);
  modem.AddMessage("SM", {0, "REC READ", "Bank", "24/05/01,12:00:00+08", "the only one"});
  START_MODEM(modem);
  RunResult list = RunAtsms({modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(0, list.exitStatus);
  EXPECT_EQ(ListHeader + "0\t0\tBank\t24/05/01,12:00:00+08\tthe only one\n", list.out);
  RunResult del = RunAtsms({modem.SlavePath(), "sim", "del", "all"});
  EXPECT_EQ(0, del.exitStatus);
  Lines commands = modem.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(DeleteCmd(0), commands.back());
  EXPECT_EQ(1, std::count(commands.begin(), commands.end(), DeleteCmd(0)));
  EXPECT_TRUE(modem.Messages("SM").empty());
}

// Modems that list the highest index first: the count is the highest index, not the last line's.
TEST(Descending, EveryMessageListedAndDeleted) {
  sim::Options options = SimOptions();
  options.descending = true;
  sim::Modem modem(options);
  modem.AddMessage("SM", {2, "REC READ", "+4912345", "24/05/02,12:00:00+08", "two"});
  modem.AddMessage("SM", {3, "REC READ", "+4912345", "24/05/03,12:00:00+08", "three"});
  modem.AddMessage("SM", {5, "REC READ", "+4912345", "24/05/05,12:00:00+08", "five"});
  START_MODEM(modem);
  RunResult list = RunAtsms({modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(5, list.exitStatus);
  EXPECT_EQ(ListHeader +
                "2\t0\t+4912345\t24/05/02,12:00:00+08\ttwo\n"
                "3\t0\t+4912345\t24/05/03,12:00:00+08\tthree\n"
                "5\t0\t+4912345\t24/05/05,12:00:00+08\tfive\n",
            list.out);
  size_t listedCount = modem.Commands().size();

  RunResult del = RunAtsms({modem.SlavePath(), "sim", "del", "all"});
  EXPECT_EQ(5, del.exitStatus);
  Lines commands = modem.Commands();
  Lines deleting(commands.begin() + static_cast<long>(std::min(listedCount, commands.size())), commands.end());
  EXPECT_EQ(Cat({Prepared(StorageSim), {PduMode, ListAll}, {DeleteCmd(2), DeleteCmd(3), DeleteCmd(5)}}), deleting);
  EXPECT_TRUE(modem.Messages("SM").empty());
}

}  // namespace
