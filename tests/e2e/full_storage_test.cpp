// Full storages: listings far longer than atsms's answer buffer are read to the end, so every
// message is listed and deleted and the next answer is the modem's answer to the next command.
// Each read or deletion waits out 0.5 s of silence: these cases take up to about a minute.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace e2e;

// What "list" prints for the messages the modem holds now, in index order.
std::string ListingOf(const sim::Modem& modem, const std::string& storage) {
  std::string listing = ListHeader;
  for (const sim::Message& m : modem.Messages(storage))
    listing += std::to_string(m.index) + "\t" + (m.status == "REC UNREAD" ? "1" : "0") + "\t" + m.sender + "\t" +
               m.date + "\t" + m.text + "\n";
  return listing;
}

struct FullCase { const char* name; const char* mode; const char* storage; const std::string& storageCmd;
                  int count; bool gsm7; int packetSize; bool list; bool del; };
void PrintTo(const FullCase& c, std::ostream* os) { *os << c.name; }
class FullStorage : public ::testing::TestWithParam<FullCase> {};

TEST_P(FullStorage, EveryMessageListedInOrderAndDeleted) {
  const FullCase& c = GetParam();
  sim::Options options = SimOptions();
  options.packetSize = c.packetSize;
  sim::Modem modem(options);
  modem.FillStorage(c.storage, c.count, c.gsm7);
  START_MODEM(modem);
  Lines sent;
  if (c.list) {
    const std::string want = ListingOf(modem, c.storage);
    RunResult run = RunAtsms({modem.SlavePath(), c.mode, "list"}, 240000);
    EXPECT_EQ(c.count, run.exitStatus);
    EXPECT_EQ(want, run.out);
    EXPECT_EQ("", run.err);
    sent = Cat({Prepared(c.storageCmd), {PduMode, ListAll, TextMode}, ReadCmds(1, c.count)});
    EXPECT_EQ(sent, modem.Commands());
  }
  if (c.del) {
    RunResult run = RunAtsms({modem.SlavePath(), c.mode, "del", "all"}, 240000);
    EXPECT_EQ(c.count, run.exitStatus);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(Cat({sent, Prepared(c.storageCmd), {PduMode, ListAll}, DeleteCmds(1, c.count)}), modem.Commands());
    EXPECT_TRUE(modem.Messages(c.storage).empty());
  }
}

// The SIM answers in 64-byte packets, as USB modems write; the phone memory in large writes. The
// 100 in phone memory are listed and deleted in two cases, so that they can run side by side.
INSTANTIATE_TEST_SUITE_P(
    Storages, FullStorage,
    ::testing::Values(FullCase{"sim_30_gsm7_in_packets", "sim", "SM", StorageSim, 30, true, 64, true, true},
                      FullCase{"tel_100_ucs2_list", "tel", "ME", StoragePhone, 100, false, 0, true, false},
                      FullCase{"tel_100_ucs2_del_all", "tel", "ME", StoragePhone, 100, false, 0, false, true}),
    [](const ::testing::TestParamInfo<FullCase>& info) { return std::string(info.param.name); });

}  // namespace
