// The command line, the serial port and the modem preparation, seen from outside: the real atsms
// against the simulated modem on a pty.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "harness.h"

namespace {

using namespace e2e;

// Bytes atsms wrote reach the simulator's thread a moment later; give it that moment
// before concluding that nothing came.
void LetModemCatchUp() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

std::string Usage(const char* first, const char* second) {
  auto fill = [](const char* format) {
    std::string text = format;
    return text.replace(text.find("%s"), 2, AtsmsPath());
  };
  return fill(first) + fill(second);
}

const std::string GeneralUsage =
    Usage("usage: %s PORT tel|sim|ussd COMMAND [DATA...]\n", "examples:\t%s /dev/ttyUSB1 sim list\n");
const std::string SendUsage = Usage("usage: %s PORT tel|sim send PHONE 'TEXT'\n",
                                    "examples:\t%s /dev/ttyUSB1 tel|sim send +123456789012 'Hello!\nThis is sample SMS\n'\n");
const std::string DeleteUsage =
    Usage("usage: %s PORT sim|tel del all|NUMBER\n", "examples:\t%s /dev/ttyUSB1 sim|tel del all|5\n");

// "PORT" in an argument list stands for the modem's pty.
Lines WithPort(Lines args, const std::string& port) {
  std::replace(args.begin(), args.end(), std::string("PORT"), port);
  return args;
}

TEST(CommandLine, UsageErrorsLeaveThePortUntouched) {
  struct Case { Lines args; std::string usage; };
  const Case cases[] = {
      {{}, GeneralUsage},
      {{"PORT", "sim"}, GeneralUsage},
      {{"PORT", "sim", "send"}, SendUsage},
      {{"PORT", "sim", "send", "+123"}, SendUsage},
      {{"PORT", "ussd", "send", "+123"}, SendUsage},  // the command is tested before the mode
      {{"PORT", "sim", "del"}, DeleteUsage},
      {{"PORT", "tel", "del"}, DeleteUsage},
      // Any word but the four modes; it used to list the SIM.
      {{"PORT", "foo", "list"}, "atsms: unknown mode 'foo'; the modes are sim, tel, report and ussd\n" + GeneralUsage},
  };
  for (const Case& c : cases) {
    sim::Modem modem(SimOptions());
    START_MODEM(modem);
    Lines args = WithPort(c.args, modem.SlavePath());
    SCOPED_TRACE(::testing::PrintToString(args));
    termios before = PortSettings(modem);
    RunResult run = RunAtsms(args);
    EXPECT_EQ(1, run.exitStatus);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(c.usage, run.err);
    LetModemCatchUp();
    EXPECT_TRUE(modem.Commands().empty());
    EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
  }
}

// Options stand before PORT; --help, --version and an unknown one leave the port alone.
TEST(CommandLine, HelpVersionAndUnknownOptions) {
  const std::string version = std::string("atsms ") + ATSMS_VERSION + "\n";
  const std::string help = std::string("usage: ") + AtsmsPath() + " [OPTION...] PORT tel|sim|report|ussd COMMAND [DATA...]\n";
  auto unknown = [](const std::string& option) {
    return "atsms: unknown option '" + option + "'\n" +
           Usage("usage: %s [OPTION...] PORT tel|sim|report|ussd COMMAND [DATA...]\n", "more:\t%s --help\n");
  };
  struct Case { Lines args; int status; std::string outStart; std::string err; };
  const Case cases[] = {
      {{"--version"}, 0, version, ""},
      {{"--version", "PORT", "sim", "list"}, 0, version, ""},
      {{"--help"}, 0, help, ""},
      {{"-q", "--help", "PORT", "sim", "list"}, 0, help, ""},
      {{"-x", "PORT", "sim", "list"}, 1, "", unknown("-x")},
      {{"--quiet", "PORT", "sim", "list"}, 1, "", unknown("--quiet")},
      {{"-qq", "PORT", "sim", "list"}, 1, "", unknown("-qq")},  // one option per argument
      {{"-qj", "PORT", "sim", "list"}, 1, "", unknown("-qj")},
      {{"-q", "--Help", "PORT", "sim", "list"}, 1, "", unknown("--Help")},
      {{"-q", "PORT", "sim"}, 1, "", GeneralUsage},  // options do not count as arguments
      {{"--", "--help", "sim"}, 1, "", GeneralUsage},  // after "--", "--help" is the PORT
  };
  sim::Modem modem(SimOptions());
  START_MODEM(modem);
  termios before = PortSettings(modem);
  for (const Case& c : cases) {
    Lines args = WithPort(c.args, modem.SlavePath());
    SCOPED_TRACE(::testing::PrintToString(args));
    RunResult run = RunAtsms(args);
    EXPECT_EQ(c.status, run.exitStatus);
    EXPECT_EQ(c.outStart, run.out.substr(0, c.outStart.size()));
    if (c.outStart == help) {
      for (const char* word : {"-q, --quick", "-j, --json", "--gsm7", "--help", "--version", "del all", "send PHONE TEXT", "ussd"})
        EXPECT_NE(std::string::npos, run.out.find(word)) << word;
    } else {
      EXPECT_EQ(c.outStart, run.out);
    }
    EXPECT_EQ(c.err, run.err);
  }
  LetModemCatchUp();
  EXPECT_TRUE(modem.Commands().empty());
  EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
}

// One message in each storage, so the listing shows which one was chosen.
struct StorageCase { const char* mode; const std::string& storageCmd; int last; const char* line; };
void PrintTo(const StorageCase& c, std::ostream* os) { *os << c.mode; }
class StorageChoice : public ::testing::TestWithParam<StorageCase> {};

TEST_P(StorageChoice, ModeWordPicksTheStorage) {
  const StorageCase& c = GetParam();
  sim::Modem modem(SimOptions());
  modem.AddMessage("SM", {2, "REC READ", "+4912345", "24/05/01,10:20:30+08", "on the SIM"});
  modem.AddMessage("ME", {1, "REC READ", "+4967890", "24/05/02,11:00:00+08", "in the phone"});
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), c.mode, "list"});
  EXPECT_EQ(c.last, run.exitStatus);
  EXPECT_EQ(ListHeader + c.line, run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(Cat({Prepared(c.storageCmd), {PduMode, ListAll, TextMode}, ReadCmds(1, c.last)}), modem.Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StorageChoice,
    ::testing::Values(StorageCase{"tel", StoragePhone, 1, "1\t0\t+4967890\t24/05/02,11:00:00+08\tin the phone\n"},
                      StorageCase{"sim", StorageSim, 2, "2\t0\t+4912345\t24/05/01,10:20:30+08\ton the SIM\n"},
                      StorageCase{"ussd", StorageSim, 2, "2\t0\t+4912345\t24/05/01,10:20:30+08\ton the SIM\n"}),
    [](const ::testing::TestParamInfo<StorageCase>& info) { return std::string(info.param.mode); });

TEST(Port, OpenFailuresReportErrnoAndRunNothing) {
  char fileName[] = "/tmp/atsms-e2e-XXXXXX";
  int fd = mkstemp(fileName);
  ASSERT_GE(fd, 0);
  const std::string content = "a regular file that must stay as it is\n";
  ASSERT_EQ(static_cast<ssize_t>(content.size()), write(fd, content.data(), content.size()));
  close(fd);

  struct Case { std::string port; const char* command; std::string err; };
  const Case cases[] = {
      {"/dev/atsms-e2e-no-such-port", "list",
       "2(No such file or directory)\n"
       "atsms: cannot open /dev/atsms-e2e-no-such-port: No such file or directory; is the modem plugged in?\n"},
      {fileName, "list",
       "25(Inappropriate ioctl for device)\natsms: cannot open " + std::string(fileName) + ": not a serial port\n"},
      {"/dev/null", "list", "25(Inappropriate ioctl for device)\natsms: cannot open /dev/null: not a serial port\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port + " " + c.command);
    RunResult run = RunAtsms({c.port, "sim", c.command});
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(c.err, run.err);
  }
  std::ifstream in(fileName);
  std::stringstream after;
  after << in.rdbuf();
  EXPECT_EQ(content, after.str());
  unlink(fileName);
}

TEST(Prepare, ProbesUntilTheModemAnswers) {
  sim::Options options = SimOptions();
  options.okOnAt = 3;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(255, run.exitStatus);  // the storage is empty
  EXPECT_EQ("", run.out);
  EXPECT_EQ((Lines{Probe, EscProbe, EscProbe, EchoOff, CharsetUcs2, StorageSim, PduMode, ListAll}), modem.Commands());
}

TEST(Prepare, RefusedCharsetStopsBeforeTheStorage) {
  struct Case { Lines args; Lines commands; std::string err; };
  const Case cases[] = {
      {{"sim", "send", "+491701234567", "Hi"}, {Probe, EchoOff, CharsetUcs2},
       "atsms: the modem refused AT+CSCS=\"UCS2\": ERROR\n"},
      {{"ussd", "*100#"}, {Probe, EchoOff, CharsetGsm}, "atsms: the modem refused AT+CSCS=\"GSM\": ERROR\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    sim::Options options = SimOptions();
    options.errorOn = "AT+CSCS";
    sim::Modem modem(options);
    START_MODEM(modem);
    Lines args = c.args;
    args.insert(args.begin(), modem.SlavePath());
    RunResult run = RunAtsms(args);
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ("", run.out);  // a failed preparation prints no result block
    EXPECT_EQ(c.err, run.err);
    EXPECT_EQ(c.commands, modem.Commands());
  }
}

TEST(Exchange, PiecesOfOneAnswerAreJoinedWithinHalfASecond) {
  sim::Options options = SimOptions();
  options.pieceDelayMs = 300;
  sim::Modem modem(options);
  modem.AddMessage("SM", {1, "REC UNREAD", "+4912345", "24/05/01,10:20:30+08", "joined"});
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(1, run.exitStatus);
  EXPECT_EQ(ListHeader + "1\t1\t+4912345\t24/05/01,10:20:30+08\tjoined\n", run.out);
  EXPECT_EQ(Cat({Prepared(StorageSim), {PduMode, ListAll, TextMode, ReadCmd(1)}}), modem.Commands());
}

// The first half of an echoing modem's answer ("AT\r\r") is its echo alone: the collection waits on
// for the rest. Once echo is off, the first half of "\r\nOK\r\n" ("\r\nO") is judged alone.
TEST(Exchange, PiecesFurtherApartAreSeparateAnswers) {
  sim::Options options = SimOptions();
  options.pieceDelayMs = 600;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "list"});
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ((Lines{Probe, EchoOff, CharsetUcs2, PduMode}), modem.Commands());  // the listing judges PDU mode
  EXPECT_EQ("atsms: the modem refused AT+CSCS=\"UCS2\": O\n", run.err);
}

// A modem unplugged mid-run: every read then ends at once with nothing, never a hang or a spin.
TEST(Exchange, ModemGoneMidRunEndsTheRun) {
  sim::Options options = SimOptions();
  options.hangupAfter = 2;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "list"}, 20000);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ("", run.out);
  EXPECT_EQ((Lines{Probe, EchoOff}), modem.Commands());
}

TEST(Prepare, SilentModemGetsFiveProbesAndOneEchoOff) {
  sim::Options options = SimOptions();
  options.silent = true;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "send", "+491701234567", "Hi"});
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("atsms: the modem does not answer on " + modem.SlavePath() + "; is it the AT-command port?\n", run.err);
  EXPECT_EQ((Lines{Probe, EscProbe, EscProbe, EscProbe, EscProbe, EchoOff}), modem.Commands());
  EXPECT_GE(run.seconds, 8.9);  // six collections of 1.5 s each: select never returns early
}

// A silent modem keeps atsms waiting long enough to look at the port while it runs.
TEST(Port, RawNineSixHundredWhileRunningAndRestoredAfter) {
  sim::Options options = SimOptions();
  options.silent = true;
  sim::Modem modem(options);
  START_MODEM(modem);
  termios before = PortSettings(modem);
  Child pending(AtsmsArgv({modem.SlavePath(), "sim", "list"}));
  ASSERT_TRUE(WaitForCommands(modem, 1, 5000)) << "atsms wrote no probe";
  termios during = PortSettings(modem);
  EXPECT_EQ(B9600, cfgetispeed(&during));
  EXPECT_EQ(B9600, cfgetospeed(&during));
  EXPECT_EQ(CS8, during.c_cflag & CSIZE);
  EXPECT_EQ(0u, during.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL));
  EXPECT_EQ(static_cast<tcflag_t>(CREAD | CLOCAL), during.c_cflag & (CREAD | CLOCAL));
  EXPECT_EQ(0u, during.c_iflag);
  EXPECT_EQ(0u, during.c_oflag);
  EXPECT_EQ(0u, during.c_lflag);
  EXPECT_EQ(0, during.c_cc[VMIN]);
  EXPECT_EQ(0, during.c_cc[VTIME]);
  EXPECT_EQ(before.c_line, during.c_line);

  RunResult run = pending.Finish();
  // The preparation is not judged by the listing: PDU mode is asked for and refused by the silence.
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ("", run.out);
  EXPECT_EQ((Lines{Probe, EscProbe, EscProbe, EscProbe, EscProbe, EchoOff, PduMode}), modem.Commands());
  EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
}

TEST(Port, SecondRunOnABusyPortFailsAtOpen) {
  // Root may open a TIOCEXCL terminal anyway (CAP_SYS_ADMIN): the second run goes without it.
  const Lines setpriv = {"/usr/bin/setpriv", "--inh-caps=-sys_admin", "--bounding-set=-sys_admin"};
  if (access(setpriv[0].c_str(), X_OK) != 0) GTEST_SKIP() << "no " << setpriv[0] << ": cannot drop CAP_SYS_ADMIN";
  Lines probe = setpriv;
  probe.push_back("/bin/true");
  RunResult works = RunProgram(probe, 10000);
  if (works.exitStatus != 0) GTEST_SKIP() << "setpriv cannot drop CAP_SYS_ADMIN here: " << works.err;

  sim::Options options = SimOptions();
  options.silent = true;
  sim::Modem modem(options);
  START_MODEM(modem);
  Child holder(AtsmsArgv({modem.SlavePath(), "sim", "list"}));
  ASSERT_TRUE(WaitForCommands(modem, 1, 5000)) << "the first run wrote no probe";
  Lines second = setpriv;
  for (const std::string& arg : AtsmsArgv({modem.SlavePath(), "sim", "list"})) second.push_back(arg);
  RunResult busy = RunProgram(second);
  EXPECT_EQ(255, busy.exitStatus);
  EXPECT_EQ("", busy.out);
  EXPECT_EQ("16(Device or resource busy)\natsms: cannot open " + modem.SlavePath() + ": Device or resource busy\n",
            busy.err);

  RunResult first = holder.Finish();
  EXPECT_EQ(255, first.exitStatus);
  // Only the first run's lines reached the modem.
  EXPECT_EQ((Lines{Probe, EscProbe, EscProbe, EscProbe, EscProbe, EchoOff, PduMode}), modem.Commands());

  // Exclusive use ends with the run, although the simulator keeps the device open. (A USSD string
  // too long to send opens the port, writes nothing and fails.)
  Lines after = setpriv;
  for (const std::string& arg : AtsmsArgv({modem.SlavePath(), "ussd", std::string(73, '1')})) after.push_back(arg);
  RunResult next = RunProgram(after);
  EXPECT_EQ(255, next.exitStatus);
  EXPECT_EQ("atsms: the USSD string is longer than 72 characters\n", next.err);
}

}  // namespace
