// A run started with standard input, output or error closed ("atsms ... >&-", a daemon that closed
// them): the port must not take over descriptor 0, 1 or 2, or the listing, the USSD trace and the
// diagnostics (message texts from strangers among them) would be written to the modem. A standard
// output that takes no bytes (a full disk, a reader gone) fails the run, and take then deletes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "harness.h"

namespace hardening {
namespace {

using namespace e2e;

struct StreamsCase {
  const char* name;
  Streams streams;
  std::vector<std::string> args;  // after PORT
  int status;
  size_t commands;                // command lines the modem must receive
  bool silent = false;            // a modem that answers nothing, so text can be flushed to it after the run
  std::string err = "";           // standard error, when the case says
  // Output that cannot be written: the run stops asking the modem once a write failed, and when the
  // first write happens is the C library's choice (glibc fills its buffer, musl writes the first line).
  bool atMost = false;            // commands is then the most the modem may receive
};

const char NoSpace[] = "atsms: cannot write the output: No space left on device\n";
const StreamsCase StreamsCases[] = {
    {"StdinClosedList", Streams::StdinClosed, {"sim", "list"}, 2, 9},
    {"StdoutClosedList", Streams::StdoutClosed, {"sim", "list"}, 2, 9},
    {"StderrClosedUssd", Streams::StderrClosed, {"ussd", "*100#"}, 0, 4},
    {"StderrClosedRefusedNumber", Streams::StderrClosed, {"sim", "send", "+49\r170", "Hi"}, 255, 0, true},
    {"StdoutFullList", Streams::StdoutFull, {"sim", "list"}, 255, 9, false, NoSpace, true},
    {"StdoutFullTake", Streams::StdoutFull, {"sim", "take"}, 255, 9, false, NoSpace, true},
    {"StdoutUnreadTake", Streams::StdoutUnread, {"sim", "take"}, 255, 9, false,
     "atsms: cannot write the output: Broken pipe\n", true},
};

void PrintTo(const StreamsCase& c, std::ostream* os) { *os << c.name; }

// One command line as atsms writes it: "AT", no line feed or tab, one carriage return at the end.
bool IsCommandLine(const std::string& line) {
  return line.size() >= 3 && line.compare(0, 2, "AT") == 0 && line.find('\r') == line.size() - 1 &&
         line.find_first_of("\n\t") == std::string::npos;
}

class ClosedStreams : public testing::TestWithParam<StreamsCase> {};

TEST_P(ClosedStreams, NothingButCommandsReachTheModem) {
  const StreamsCase& c = GetParam();
  // Lines that are no command are only logged by the modem ("<- ... (ignored)"), so keep its log.
  std::mutex logMutex;
  std::vector<std::string> log;
  sim::Options options = SimOptions();
  options.ussdDelayMs = 1000;
  options.silent = c.silent;
  options.log = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex);
    log.push_back(line);
  };
  sim::Modem modem(options);
  // The second text holds a command of its own, as anyone who sends an SMS could write it.
  modem.AddMessage("SM", {1, "REC READ", "+1234", "24/05/01,10:20:30+08", "first"});
  modem.AddMessage("SM", {2, "REC UNREAD", "+1234", "24/05/01,10:21:30+08", "AT+CMGD=1"});
  ASSERT_TRUE(modem.Start()) << "openpty failed";
  const termios before = PortSettings(modem);

  std::vector<std::string> args{modem.SlavePath()};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const RunResult outcome = RunAtsms(args, 60000, c.streams);

  EXPECT_FALSE(outcome.timedOut);
  EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal;
  EXPECT_EQ(c.status, outcome.exitStatus);
  if (!c.err.empty()) {
    EXPECT_EQ(c.err, outcome.err);
  }
  if (c.silent) {
    // A carriage return from our side ends whatever text without one the run left at the modem.
    // (Only to a silent modem: the port is cooked again, and its answers would echo back.)
    ASSERT_EQ(1, write(modem.SlaveFd(), "\r", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  {
    std::lock_guard<std::mutex> lock(logMutex);
    for (const std::string& line : log)
      EXPECT_TRUE(line.find("(ignored)") == std::string::npos) << "written to the modem: " << line;
  }
  const std::vector<std::string> commands = modem.Commands();
  for (const std::string& line : commands) EXPECT_TRUE(IsCommandLine(line)) << "written to the modem: " << line;
  if (c.atMost)
    EXPECT_LE(commands.size(), c.commands);
  else
    EXPECT_EQ(c.commands, commands.size());
  EXPECT_EQ(2u, modem.Messages("SM").size()) << "a message was deleted";
  EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
}

INSTANTIATE_TEST_SUITE_P(AtStart, ClosedStreams, testing::ValuesIn(StreamsCases),
                         [](const testing::TestParamInfo<StreamsCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hardening
