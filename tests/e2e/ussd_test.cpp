// USSD on modems that take the request packed, plain or both, and menus across runs: the real
// atsms against the simulated modem, which keeps its USSD session between runs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "harness.h"

namespace {

using namespace e2e;

const std::string PlainStar100 = "AT+CUSD=1,\"*100#\",15\r";
const std::string OkBalance = "\r\nOK\r\n\r\n+CUSD: 0,\"Balance: 12.34 EUR\",15\r\n";
const std::string BalanceLine = "USSD reply: Balance: 12.34 EUR\n";
const std::string Refusal = "\r\nCOMMAND NOT SUPPORT\r\n";  // one maker's "ERROR"
// One request's trace when the network answers 0.2 s after the OK, inside the same collection.
std::string Traced(const std::string& command, const std::string& answer) {
  return command + "\n" + answer + " - 10\n";
}

// takes: the forms the simulated modem takes (it refuses in one maker's words); options: atsms's
// options before PORT; err: the trace and lines of a run without -q.
struct FormCase {
  const char* name;
  sim::UssdTakes takes;
  Lines options;
  Lines sent;  // the AT+CUSD lines written
  int status;
  std::string err;
};
void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }
class Forms : public ::testing::TestWithParam<FormCase> {};

TEST_P(Forms, PackedFirstThenPlainOnceWhereItHelps) {
  const FormCase& c = GetParam();
  for (bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "-q" : "without -q");
    sim::Options options = SimOptions();
    options.ussdDelayMs = 200;
    options.ussdTakes = c.takes;
    options.ussdRefusal = "COMMAND NOT SUPPORT";
    sim::Modem modem(options);
    START_MODEM(modem);
    Lines args = c.options;
    if (quick) args.insert(args.begin(), "-q");
    args.insert(args.end(), {modem.SlavePath(), "ussd", "*100#"});
    const double started = Now();
    const RunResult run = RunAtsms(args);
    EXPECT_EQ(c.status, run.exitStatus);
    EXPECT_EQ(c.status == 0 ? ResultOk : ResultError, run.out);
    EXPECT_EQ(Cat({{Probe, EchoOff, CharsetGsm}, c.sent}), modem.Commands());
    if (!quick) {  // with -q the answers may be split differently
      EXPECT_EQ(c.err, run.err);
    }
    // A refusal ends the wait at once, in whatever words: no ten more answers of 1.5 s.
    EXPECT_LT(Now() - started, 8.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ussd, Forms,
    ::testing::Values(
        FormCase{"PlainOnlyModem", sim::UssdTakes::Text, {}, {UssdStar100, PlainStar100}, 0,
                 Traced(UssdStar100, "\r\nOK\r\n\r\n+CUSD: 4\r\n") + Traced(PlainStar100, OkBalance) + BalanceLine},
        FormCase{"PlainOnlyModemWithUssdText", sim::UssdTakes::Text, {"--ussd-text"}, {PlainStar100}, 0,
                 Traced(PlainStar100, OkBalance) + BalanceLine},
        FormCase{"PackedRefusedInOneMakersWords", sim::UssdTakes::TextError, {}, {UssdStar100, PlainStar100}, 0,
                 Traced(UssdStar100, Refusal) + Traced(PlainStar100, OkBalance) + BalanceLine}),
    [](const ::testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

// Menus: each run sends one request (-q, so the walk takes moments) and ends with the network's
// answer; the simulated modem keeps the session in between.
struct Step { std::string request, line; };

void Walk(sim::Modem& modem, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    SCOPED_TRACE(step.request);
    const size_t before = modem.Commands().size();
    const RunResult run = RunAtsms({"-q", modem.SlavePath(), "ussd", step.request});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(ResultOk, run.out);
    EXPECT_EQ(step.line, run.err.substr(run.err.size() - std::min(run.err.size(), step.line.size()))) << run.err;
    EXPECT_EQ(before + 4, modem.Commands().size());  // the preparation, then the request
  }
}

const std::string MainMenu = "USSD reply: Balance menu\\n1. Balance\\n2. Bundles [reply expected]\n";
const std::string BalanceMenu = "USSD reply: Balance\\n1. Main account\\n2. Bonus [reply expected]\n";

sim::Options MenuOptions(int sessionMs) {
  sim::Options options = SimOptions();
  options.ussdMenu = true;
  options.ussdDelayMs = 100;
  options.ussdSessionMs = sessionMs;
  return options;
}

// A menu walked in three runs; first a service code while a menu is open, which ends that session
// and starts a new one: the main menu, not the submenu that was open.
TEST(UssdMenu, WalkedAcrossRuns) {
  sim::Modem modem(MenuOptions(30000));
  START_MODEM(modem);
  Walk(modem, {{"*100#", MainMenu}, {"1", BalanceMenu}, {"*100#", MainMenu}, {"1", BalanceMenu}, {"1", BalanceLine}});
}

// A menu left alone: the network ends the session (+CUSD: 2), and a late choice is a request it
// does not know (+CUSD: 4), so it goes once more in the plain form, gets +CUSD: 4 again and fails.
TEST(UssdMenu, SessionThatTimedOut) {
  sim::Options options = MenuOptions(300);
  options.ussdTakes = sim::UssdTakes::Both;
  sim::Modem modem(options);
  START_MODEM(modem);
  Walk(modem, {{"*100#", MainMenu}});
  for (int waited = 0; modem.UssdSessionOpen() && waited < 3000; waited += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(modem.UssdSessionOpen());
  const RunResult late = RunAtsms({"-q", modem.SlavePath(), "ussd", "1"});
  EXPECT_EQ(255, late.exitStatus);
  EXPECT_EQ(ResultError, late.out);
  const std::string line = "atsms: the network ended the request without text (status 4)\n";
  EXPECT_EQ(line, late.err.substr(late.err.size() - std::min(late.err.size(), line.size()))) << late.err;
  EXPECT_EQ((Lines{"*100#", "1", "1"}), modem.UssdRequests()) << "the choice packed, then plain";
}

}  // namespace
