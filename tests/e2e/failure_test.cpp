// Every failed run says why in one line on standard error, and nothing else about the run changes:
// the real atsms against a simulated modem that misbehaves in one way per row.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace e2e;

// Messages at 1 and 3 of the SIM; nothing in the phone memory.
const std::string Listing = ListHeader +
                            "1\t1\t+491701234567\t24/05/01,10:20:30+08\tfirst\n"
                            "3\t0\t+491701234567\t24/05/03,10:20:30+08\tthird\n";

// line: what standard error gets from atsms ("PORT" stands for the modem's path), "" for nothing;
// status and out: what the run gave before there was a line. quick: -q must give the same.
struct FailureCase {
  const char* name;
  void (*misbehave)(sim::Options&);
  Lines args;  // after PORT
  int status;
  std::string out;
  std::string line;
  bool quick;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
class Failure : public ::testing::TestWithParam<FailureCase> {};

const FailureCase FailureCases[] = {
    {"WrongPort", [](sim::Options& o) { o.silent = true; }, {"sim", "list"}, 255, "",
     "atsms: the modem does not answer on PORT; is it the AT-command port?\n", false},
    {"SimPin", [](sim::Options& o) { o.simPin = true; }, {"sim", "list"}, 255, "",
     "atsms: the modem refused AT+CPMS=\"SM\",\"SM\",\"SM\": +CMS ERROR: 311 (SIM PIN required)\n", true},
    {"NoSimSend", [](sim::Options& o) { o.noSim = true; }, {"sim", "send", "12345", "Hi"}, 255, "",
     "atsms: the modem refused AT+CPMS=\"SM\",\"SM\",\"SM\": +CMS ERROR: 310 (SIM not inserted)\n", true},
    {"NoSimCme", [](sim::Options& o) { o.noSim = o.cmeErrors = true; }, {"tel", "list"}, 255, "",
     "atsms: the modem refused AT+CPMS=\"ME\",\"ME\",\"ME\": +CME ERROR: 10 (SIM not inserted)\n", true},
    {"SimPinCmeDeleteAll", [](sim::Options& o) { o.simPin = o.cmeErrors = true; }, {"sim", "del", "all"}, 255, "",
     "atsms: the modem refused AT+CPMS=\"SM\",\"SM\",\"SM\": +CME ERROR: 11 (SIM PIN required)\n", true},
    {"NoReportStorage", [](sim::Options& o) { o.noReportStorage = true; }, {"report", "list"}, 255, "",
     "atsms: this modem has no status-report storage (SR); its reports show in sim list -j and tel list -j\n", true},
    {"ListingRefused", [](sim::Options& o) { o.errorOn = "AT+CMGL"; }, {"sim", "list"}, 255, "",
     "atsms: the modem refused AT+CMGL=4: ERROR\n", true},
    {"PduModeRefused", [](sim::Options& o) { o.errorOn = "AT+CMGF=0"; }, {"sim", "list"}, 255, "",
     "atsms: the modem refused AT+CMGF=0: ERROR\n", true},
    // Only without -q: with it the listing comes from the PDUs and needs no text mode.
    {"TextModeRefused", [](sim::Options& o) { o.errorOn = "AT+CMGF=1"; }, {"sim", "list"}, 255, "",
     "atsms: the modem refused AT+CMGF=1: ERROR\n", false},
    // The listing's first 64 bytes, then a pause longer than the silence that ends an answer.
    {"ListingCutOff", [](sim::Options& o) { o.packetSize = 64, o.packetGapMs = 1000; }, {"sim", "list"}, 255, "",
     "atsms: the answer to AT+CMGL=4 ended without OK\n", true},
    // The listing follows as always, but the run has failed.
    {"DeleteOneRefused", [](sim::Options&) {}, {"sim", "del", "1000"}, 255, Listing,
     "atsms: the modem refused AT+CMGD=1000: +CMS ERROR: 321 (invalid memory index)\n", true},
    {"SendRefusedByTheNetwork", [](sim::Options& o) { o.cmsError = 38; }, {"sim", "send", "12345", "Hi"}, 255,
     ResultError, "atsms: the modem refused the PDU sent after AT+CMGS=14: +CMS ERROR: 38 (network out of order)\n",
     false},
    {"SendWithoutPrompt", [](sim::Options& o) { o.noPrompt = true; }, {"sim", "send", "12345", "Hi"}, 255,
     ResultError, "atsms: the modem gave no prompt for AT+CMGS=14\n", false},
    {"SendCommandRefused", [](sim::Options& o) { o.cmgsError = true; }, {"sim", "send", "12345", "Hi"}, 255,
     ResultError, "atsms: the modem refused AT+CMGS=14: ERROR\n", false},
    // Refused packed and then plain: the line names the plain request, the last one sent.
    {"UssdRefused", [](sim::Options& o) { o.ussdError = true; }, {"ussd", "*100#"}, 255, ResultError,
     "atsms: the modem refused AT+CUSD=1,\"*100#\",15: ERROR\n", true},
    // Not failures: no line, or the USSD's own line instead of the reply.
    {"UssdEndedWithoutText", [](sim::Options& o) { o.ussdStatus = 2, o.ussdReply = ""; }, {"ussd", "*100#"}, 0,
     ResultOk, "atsms: the network ended the request without text (status 2)\n", true},
    {"EmptyStorage", [](sim::Options&) {}, {"tel", "list"}, 255, "", "", true},
    {"EmptyStorageDeleteAll", [](sim::Options&) {}, {"tel", "del", "all"}, 255, "", "", true},
    {"ListingWithGaps", [](sim::Options&) {}, {"sim", "list"}, 3, Listing, "", true},
};

RunResult RunOnce(const FailureCase& c, bool quick, std::string* port) {
  sim::Options options = SimOptions();
  c.misbehave(options);
  sim::Modem modem(options);
  modem.AddMessage("SM", {1, "REC UNREAD", "+491701234567", "24/05/01,10:20:30+08", "first"});
  modem.AddMessage("SM", {3, "REC READ", "+491701234567", "24/05/03,10:20:30+08", "third"});
  if (!modem.Start()) {
    ADD_FAILURE() << "openpty failed";
    return {};
  }
  *port = modem.SlavePath();
  Lines args = quick ? Lines{"-q", *port} : Lines{*port};
  args.insert(args.end(), c.args.begin(), c.args.end());
  return RunAtsms(args);
}

TEST_P(Failure, OneLineAndTheSameResult) {
  const FailureCase& c = GetParam();
  for (bool quick : {false, true}) {
    if (quick && !c.quick) break;
    SCOPED_TRACE(quick ? "-q" : "without -q");
    std::string port;
    const RunResult run = RunOnce(c, quick, &port);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(c.status, run.exitStatus);
    EXPECT_EQ(c.out, run.out);
    std::string line = c.line;
    if (line.find("PORT") != std::string::npos) line.replace(line.find("PORT"), 4, port);
    // A USSD run traces the modem's answers first: from atsms's first line on, the line alone.
    const size_t own = c.args[0] == "ussd" ? std::min(run.err.size(), run.err.find("atsms: ")) : 0;
    EXPECT_EQ(line, run.err.substr(own)) << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, Failure, ::testing::ValuesIn(FailureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
