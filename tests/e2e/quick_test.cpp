// Quick mode (-q) against the simulated modem: the same results and modem state as the run without
// it, also when the modem sends unsolicited lines right after its "OK"; the same command lines, but
// that a listing comes from its PDUs alone and "del all" deletes the read ones with one command.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace e2e;

struct Outcome {
  RunResult run;
  Lines commands;
  std::string state;  // what the modem holds and received: indexes left, texts sent, USSD requests
};

// One run on a fresh modem with three SIM messages: a gap at 3, an unread one, an emoji, a tab.
Outcome RunOnce(const Lines& args, bool quick, bool unsolicited) {
  sim::Options options = SimOptions();
  options.unsolicitedAfterOk = unsolicited;
  sim::Modem modem(options);
  modem.AddMessage("SM", {1, "REC UNREAD", "+491701234567", "24/05/01,10:20:30+08", "Hello!\nSee you"});
  modem.AddMessage("SM", {2, "REC READ", "Vodafone", "24/05/02,08:15:00+08", "Smile \xF0\x9F\x98\x80\tok"});
  modem.AddMessage("SM", {4, "REC READ", "12345", "24/05/04,07:00:00+08", "OK"});
  Outcome outcome;
  if (!modem.Start()) {
    ADD_FAILURE() << "openpty failed";
    return outcome;
  }
  Lines argv = quick ? Lines{"-q", modem.SlavePath()} : Lines{modem.SlavePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  outcome.run = RunAtsms(argv);
  outcome.commands = modem.Commands();
  for (const sim::Message& m : modem.Messages("SM")) outcome.state += std::to_string(m.index) + " ";
  for (const sim::SentSms& sms : modem.Sent()) outcome.state += "sent " + sms.text + "\n";
  for (const std::string& request : modem.UssdRequests()) outcome.state += "ussd " + request + "\n";
  return outcome;
}

// The commands of a run without -q as -q writes them: no text mode and no reads, and with deleteAll
// the unread message (index 1, the lowest) deleted as without it, then one AT+CMGD=1,3 in place of
// one AT+CMGD per read index.
Lines AsQuick(const Lines& commands, bool deleteAll) {
  Lines quick;
  for (const std::string& line : commands) {
    const bool deletion = deleteAll && line.compare(0, 8, "AT+CMGD=") == 0 && line != DeleteCmd(1);
    if (line == TextMode || line.compare(0, 8, "AT+CMGR=") == 0 || (deletion && quick.back() == "AT+CMGD=1,3\r"))
      continue;
    quick.push_back(deletion ? "AT+CMGD=1,3\r" : line);
  }
  return quick;
}

struct QuickCase { const char* name; Lines args; int status; };
void PrintTo(const QuickCase& c, std::ostream* os) { *os << c.name; }
class Quick : public ::testing::TestWithParam<QuickCase> {};

TEST_P(Quick, SameRunAsWithoutIt) {
  const QuickCase& c = GetParam();
  const Outcome plain = RunOnce(c.args, false, false);
  ASSERT_FALSE(plain.run.timedOut);
  ASSERT_EQ(c.status, plain.run.exitStatus) << plain.run.err;
  struct Variant { const char* name; bool quick, unsolicited; };
  for (const Variant& v : {Variant{"-q", true, false}, Variant{"unsolicited lines", false, true},
                           Variant{"-q, unsolicited lines", true, true}}) {
    SCOPED_TRACE(v.name);
    const Outcome other = RunOnce(c.args, v.quick, v.unsolicited);
    EXPECT_EQ(plain.run.exitStatus, other.run.exitStatus);
    EXPECT_EQ(plain.run.out, other.run.out);
    const bool deleteAll = c.args.size() == 3 && c.args[2] == "all";
    EXPECT_EQ(v.quick ? AsQuick(plain.commands, deleteAll) : plain.commands, other.commands);
    EXPECT_EQ(plain.state, other.state);
    if (c.args[0] != "ussd") {
      EXPECT_EQ(plain.run.err, other.run.err);
    } else {  // the trace may show the answers split differently, but it shows the network's
      EXPECT_NE(std::string::npos, other.run.err.find("+CUSD: 0,\"Balance: 12.34 EUR\",15\r\n"));
    }
    // With -q the line that follows an "OK" lands in the next answer: the reply to AT+CUSD starts
    // with the RING that followed the "OK" to AT+CSCS, the third unsolicited line.
    if (c.args[0] == "ussd" && v.quick && v.unsolicited) {
      EXPECT_EQ(0u, other.run.err.find(UssdStar100 + "\n\r\nRING\r\n\r\nOK\r\n - 10\n")) << other.run.err;
    }
    // Not a benchmark: only proof that -q ended the collections early at all.
    if (v.quick) {
      EXPECT_LT(other.run.seconds, plain.run.seconds / 2);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, Quick,
    ::testing::Values(QuickCase{"List", {"sim", "list"}, 4}, QuickCase{"DeleteAll", {"sim", "del", "all"}, 4},
                      QuickCase{"DeleteOne", {"sim", "del", "2"}, 4},
                      QuickCase{"Send", {"sim", "send", "+491701234567", "'Grüße 😀\\nOK'"}, 0},
                      QuickCase{"Ussd", {"ussd", "*100#"}, 0}),
    [](const ::testing::TestParamInfo<QuickCase>& info) { return std::string(info.param.name); });

}  // namespace
