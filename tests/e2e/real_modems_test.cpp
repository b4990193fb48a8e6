// Real modems as they are, where the timing matters: an echo well before its answer, a SIM still
// starting, a prompt left open by a run that was killed.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "harness.h"

namespace {

using namespace e2e;

void AddThree(sim::Modem& modem) {
  modem.AddMessage("SM", {1, "REC READ", "+491701234567", "24/05/01,10:20:30+08", "one"});
  modem.AddMessage("SM", {2, "REC READ", "+491701234567", "24/05/02,10:20:30+08", "two"});
  modem.AddMessage("SM", {4, "REC READ", "+491701234567", "24/05/04,10:20:30+08", "four"});
}

const std::string Three = ListHeader + "1\t0\t+491701234567\t24/05/01,10:20:30+08\tone\n" +
                          "2\t0\t+491701234567\t24/05/02,10:20:30+08\ttwo\n" +
                          "4\t0\t+491701234567\t24/05/04,10:20:30+08\tfour\n";

// As at power-up: the modem echoes at once and answers 0.55 s later, a NUL in front of each
// answer. Without -q, and with it, the storage is listed and emptied as on a quiet modem.
TEST(RealModems, SlowEchoAndNulBytesChangeNothing) {
  struct Case { Lines args; int status; std::string out; size_t left; };
  const Case cases[] = {{{"sim", "list"}, 4, Three, 3}, {{"-q", "sim", "del", "all"}, 4, "", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    sim::Options options = SimOptions();
    options.keepEcho = true;
    options.answerDelayMs = 550;
    options.noise = std::string(1, '\0');
    options.noiseAt = sim::NoiseStart;
    sim::Modem modem(options);
    AddThree(modem);
    START_MODEM(modem);
    Lines args = c.args;
    args.insert(args.end() - (c.args[0] == "-q" ? 3 : 2), modem.SlavePath());
    RunResult run = RunAtsms(args);
    EXPECT_EQ(c.status, run.exitStatus) << run.err;
    EXPECT_EQ(c.out, run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(c.left, modem.Messages("SM").size());
  }
}

// The SIM answers +CME ERROR: 14 for its first 2.5 s: -w waits for it, writing AT+CPMS again
// every 0.5 s, and the run goes on within 0.5 s of the SIM's readiness.
TEST(RealModems, BusySimIsWaitedForWithinW) {
  sim::Options options = SimOptions();
  options.busyMs = 2500;
  sim::Modem modem(options);
  AddThree(modem);
  START_MODEM(modem);
  RunResult run = RunAtsms({"-q", "-w", "10", modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(4, run.exitStatus);
  EXPECT_EQ(Three, run.out);
  EXPECT_EQ("", run.err);
  const Lines commands = modem.Commands();
  EXPECT_LE(5, std::count(commands.begin(), commands.end(), StorageSim));
  EXPECT_GE(run.seconds, 2.5);
  EXPECT_LT(run.seconds, 5.0);  // nothing waited out beyond the SIM
}

// A run killed after AT+CMGS, before its late prompt came, leaves the modem taking whatever comes
// as the PDU. The next run's silent probe is followed by ESC, and it sends its SMS.
TEST(RealModems, StuckPromptIsCleared) {
  sim::Options options = SimOptions();
  options.latePrompt = 2;  // the prompt 1.4 s after AT+CMGS
  sim::Modem modem(options);
  START_MODEM(modem);
  Child killed(AtsmsArgv({"-q", modem.SlavePath(), "sim", "send", "+491701234567", "first"}));
  ASSERT_TRUE(WaitForCommands(modem, 6, 20000));
  ASSERT_EQ("AT+CMGS=", modem.Commands().back().substr(0, 8));
  ASSERT_EQ(0, kill(killed.Pid(), SIGTERM));
  EXPECT_EQ(128 + SIGTERM, killed.Finish(10000).exitStatus);

  RunResult run = RunAtsms({"-q", modem.SlavePath(), "sim", "send", "+491701234567", "second"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(ResultOk, run.out);
  EXPECT_EQ("", run.err);
  // The probes taken as PDU text, ended by the ESC of the last one: "AT\rAT\r\x1b".
  const Lines commands = modem.Commands();
  EXPECT_EQ(1, std::count_if(commands.begin(), commands.end(), [](const std::string& c) { return c.back() == '\x1b'; }));
  const std::vector<sim::DeliveredSms> delivered = modem.Delivered();
  ASSERT_EQ(1u, delivered.size());
  EXPECT_EQ("second", delivered[0].text);
}

}  // namespace
