// A modem that goes away mid-run (the pty's other end closed, as when a USB modem is unplugged):
// the run ends promptly with status 255 and one clear line on standard error.
#include <gtest/gtest.h>

#include "harness.h"

namespace hardening {
namespace {

using namespace e2e;

struct UnplugCase {
  const char* name;
  std::vector<std::string> args;  // after PORT
  int hangupAfter;                // the modem closes right after receiving this many command lines
  const char* lastCommand;        // that line (a PDU line is kept up to its Ctrl-Z)
  std::string out;                // standard output of the run
};

// Three messages in SIM storage; a listing writes AT, ATE0, AT+CSCS, AT+CPMS, AT+CMGF=0,
// AT+CMGL=4, AT+CMGF=1, then AT+CMGR=1, 2, 3.
const UnplugCase UnplugCases[] = {
    {"ListAfterFirstProbe", {"sim", "list"}, 1, "AT\r", ""},
    {"ListAfterEchoOff", {"sim", "list"}, 2, "ATE0\r", ""},
    {"ListAfterStorage", {"sim", "list"}, 4, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r", ""},
    {"ListAfterSecondRead", {"sim", "list"}, 9, "AT+CMGR=2\r", ListHeader + "1\t0\t+1234\t24/05/01,10:20:30+08\tfirst\n"},
    {"DeleteAllAfterFirstDelete", {"sim", "del", "all"}, 7, "AT+CMGD=1\r", ""},
    {"SendWaitingForPrompt", {"sim", "send", "12345", "'Hi'"}, 6, "AT+CMGS=14\r", ResultError},
    {"SendWaitingForConfirmation", {"sim", "send", "12345", "'Hi'"}, 7, "00010005812143F500080400480069\x1a",
     ResultError},
    {"UssdWaitingForReply", {"ussd", "*100#"}, 4, "AT+CUSD=1,\"AA180C3602\",15\r", ResultError},
    // A text of three parts: the first was accepted; gone, not "part 2 of 3 was not accepted".
    {"LongSendWaitingForSecondPrompt", {"sim", "send", "12345", std::string(150, 'a')}, 8, "AT+CMGS=150\r",
     ResultError},
};

void PrintTo(const UnplugCase& c, std::ostream* os) { *os << c.name; }

class Unplug : public testing::TestWithParam<UnplugCase> {};

TEST_P(Unplug, EndsPromptlyWithOneLine) {
  const UnplugCase& c = GetParam();
  sim::Options options = SimOptions();
  options.hangupAfter = c.hangupAfter;
  sim::Modem modem(options);
  for (int i = 1; i <= 3; ++i)
    modem.AddMessage("SM", {i, "REC READ", "+1234", "24/05/01,10:20:30+08", i == 1 ? "first" : "more"});
  ASSERT_TRUE(modem.Start()) << "openpty failed";

  std::vector<std::string> args{modem.SlavePath()};
  args.insert(args.end(), c.args.begin(), c.args.end());
  Child run(AtsmsArgv(args));
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(WaitForCommands(modem, static_cast<size_t>(c.hangupAfter), 30000));
  const double gone = Now();
  const RunResult outcome = run.Finish(30000);
  const double afterGone = Now() - gone;

  ASSERT_EQ(static_cast<size_t>(c.hangupAfter), modem.Commands().size());
  EXPECT_EQ(c.lastCommand, modem.Commands().back());
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal;
  EXPECT_EQ(255, outcome.exitStatus);
  EXPECT_EQ(c.out, outcome.out);
  // Exactly one "gone" line, whatever else was reported on the way, and no other line of atsms's own.
  const std::string gonePrefix = "atsms: the modem is gone: ";
  const size_t at = outcome.err.find(gonePrefix);
  ASSERT_NE(std::string::npos, at) << "stderr: " << outcome.err;
  EXPECT_EQ(std::string::npos, outcome.err.find(gonePrefix, at + 1)) << "stderr: " << outcome.err;
  EXPECT_EQ(std::string::npos, outcome.err.find("atsms: ", at + 1)) << "stderr: " << outcome.err;
  EXPECT_TRUE(at == 0 || outcome.err.rfind("atsms: ", at - 1) == std::string::npos) << "stderr: " << outcome.err;
  const size_t end = outcome.err.find('\n', at);
  ASSERT_NE(std::string::npos, end);
  EXPECT_GT(end, at + gonePrefix.size()) << "no reason given";
  // Without the rule the waits run out their counters: 11 reads of 1.5 s for a send.
  EXPECT_LT(afterGone, 5.0) << "the run went on after the modem was gone";
}

INSTANTIATE_TEST_SUITE_P(MidRun, Unplug, testing::ValuesIn(UnplugCases),
                         [](const testing::TestParamInfo<UnplugCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hardening
