// SIGINT, SIGTERM and SIGHUP in the middle of a run: the port's settings are put back and its lock
// file removed, the exit status is 128 + the signal, and nothing more reaches the modem.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "harness.h"

namespace hardening {
namespace {

using namespace e2e;

struct SignalCase {
  const char* name;
  int signal;
  bool silent;             // a modem that never answers: the run is in the probe wait
  size_t commandsBefore;   // signal once this many command lines have arrived
  const char* lastCommand; // the line the run is waiting on when the signal comes
  const char* text = "'Hi'";  // the SMS the run sends
  const char* err = "";    // standard error
  int confirmDelayMs = -1; // >= 0: the modem gives its prompt, and confirms each PDU this much later
};

// The PDU of "Hi", after AT+CMGS and the prompt.
const char HiPdu[] = "00010005812143F500080400480069\x1a";
// The PDU of the second of three parts of 150 letters, as far as it is the same in every run.
const char SecondPart[] = "00410005812143F500088C050003";

// The prompt cases stop at AT+CMGS: AT, ATE0, AT+CSCS, AT+CPMS, AT+CMGF=0, AT+CMGS.
const SignalCase SignalCases[] = {
    {"SigintDuringProbe", SIGINT, true, 1, "AT\r"},
    {"SigtermDuringProbe", SIGTERM, true, 1, "AT\r"},
    {"SighupDuringProbe", SIGHUP, true, 1, "AT\r"},
    {"SigintWaitingForPrompt", SIGINT, false, 6, "AT+CMGS=14\r"},
    {"SigtermWaitingForPrompt", SIGTERM, false, 6, "AT+CMGS=14\r"},
    {"SighupWaitingForPrompt", SIGHUP, false, 6, "AT+CMGS=14\r"},
    // Ctrl-\ on a terminal: its default action would end the run with the port raw.
    {"SigquitDuringProbe", SIGQUIT, true, 1, "AT\r"},
    {"SigquitWaitingForPrompt", SIGQUIT, false, 6, "AT+CMGS=14\r"},
    // What timeout(1), scripts and supervisors send; their default action ends the process too.
    {"SigalrmDuringProbe", SIGALRM, true, 1, "AT\r"},
    {"Sigusr1DuringProbe", SIGUSR1, true, 1, "AT\r"},
    {"Sigusr2DuringProbe", SIGUSR2, true, 1, "AT\r"},
    // After the Ctrl-Z the modem may send the SMS whatever comes: a script that retries must know.
    {"SigtermWhileConfirming", SIGTERM, false, 7, HiPdu, "'Hi'",
     "atsms: interrupted while the modem confirmed the SMS; the SMS may have been sent\n", 20000},
    {"SigintWhileConfirmingPart2", SIGINT, false, 9, SecondPart, nullptr,
     "atsms: interrupted while the modem confirmed part 2 of 3; that part may have been sent\n", 3000},
};

// Whether a process without CAP_SYS_ADMIN can open path: TIOCEXCL stops only such opens.
bool UnprivilegedOpenSucceeds(const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) _exit(2);
    data[CAP_TO_INDEX(CAP_SYS_ADMIN)].effective &= ~CAP_TO_MASK(CAP_SYS_ADMIN);
    if (syscall(SYS_capset, &header, data) != 0) _exit(2);
    _exit(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class Signals : public testing::TestWithParam<SignalCase> {};

TEST_P(Signals, RestoreThePortAndEndWith128PlusTheSignal) {
  const SignalCase& c = GetParam();
  sim::Options options = SimOptions();
  options.silent = c.silent;
  options.noPrompt = c.confirmDelayMs < 0;
  options.confirmDelayMs = c.confirmDelayMs < 0 ? 0 : c.confirmDelayMs;
  sim::Modem modem(options);
  ASSERT_TRUE(modem.Start()) << "openpty failed";
  const termios before = PortSettings(modem);
  ASSERT_NE(0u, before.c_lflag & ICANON) << "the pty must start cooked, or a restore could not be told from none";

  Child run(AtsmsArgv({modem.SlavePath(), "sim", "send", "12345", c.text ? c.text : std::string(150, 'a')}));
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(WaitForCommands(modem, c.commandsBefore, 20000)) << "the run never reached " << c.lastCommand;
  ASSERT_EQ(c.lastCommand, modem.Commands().back().substr(0, strlen(c.lastCommand)));
  const termios during = PortSettings(modem);
  EXPECT_EQ(0u, during.c_lflag);  // raw while it runs
  EXPECT_EQ(static_cast<speed_t>(B9600), cfgetospeed(&during));

  const size_t commandsAtSignal = modem.Commands().size();
  ASSERT_EQ(0, kill(run.Pid(), c.signal));
  const RunResult outcome = run.Finish(10000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // anything still in flight arrives

  EXPECT_FALSE(outcome.timedOut);
  EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal << " instead of ending through its handler";
  EXPECT_EQ(128 + c.signal, outcome.exitStatus);
  EXPECT_TRUE(SameSettings(before, PortSettings(modem))) << "the port's settings were not put back";
  EXPECT_EQ(commandsAtSignal, modem.Commands().size()) << "written after the signal: " << modem.Commands().back();
  EXPECT_EQ("", outcome.out);
  EXPECT_EQ(c.err, outcome.err);
  EXPECT_FALSE(Exists(LockFileOf(modem.SlavePath()))) << "the lock file outlived the run";
}

INSTANTIATE_TEST_SUITE_P(MidRun, Signals, testing::ValuesIn(SignalCases),
                         [](const testing::TestParamInfo<SignalCase>& info) { return std::string(info.param.name); });

// TIOCEXCL belongs to the terminal, not to the descriptor: it must not outlive the run while
// another program (here the modem's own end) holds the port open, after ClosePort or a signal.
TEST(PortAfterRun, IsNotLeftExclusive) {
  sim::Modem modem(SimOptions());
  ASSERT_TRUE(modem.Start()) << "openpty failed";
  ASSERT_TRUE(UnprivilegedOpenSucceeds(modem.SlavePath())) << "the fresh pty cannot be opened at all";
  // A USSD string too long to send: the port is opened and restored, nothing is sent.
  const RunResult outcome = RunAtsms({modem.SlavePath(), "ussd", std::string(73, '1')});
  EXPECT_EQ(255, outcome.exitStatus);
  EXPECT_TRUE(modem.Commands().empty());
  EXPECT_TRUE(UnprivilegedOpenSucceeds(modem.SlavePath())) << "the port is still exclusive after the run";
}

// A reader that went away (a web front end that gave up, "| head -1"): the USSD trace on standard
// error meets a closed pipe in the middle of the exchange. SIGPIPE is ignored, so the run goes on
// without its trace, ends through its own code with the port put back, and its block and status
// are those of the request.
TEST(BrokenPipe, LeavesThePortAsItWas) {
  sim::Options options = SimOptions();
  options.ussdDelayMs = 200;
  sim::Modem modem(options);
  ASSERT_TRUE(modem.Start()) << "openpty failed";
  const termios before = PortSettings(modem);
  Child run(AtsmsArgv({modem.SlavePath(), "ussd", "*100#"}), Streams::StderrUnread);
  ASSERT_TRUE(run.Started());
  const RunResult outcome = run.Finish(60000);
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal << " with the port left as it ran";
  EXPECT_EQ(0, outcome.exitStatus);
  EXPECT_EQ(ResultOk, outcome.out);
  EXPECT_TRUE(SameSettings(before, PortSettings(modem))) << "the port's settings were not put back";
  EXPECT_TRUE(UnprivilegedOpenSucceeds(modem.SlavePath())) << "the port is still exclusive after the run";
}

// A signal that was ignored when the run started (nohup for SIGHUP, a shell's background job for
// SIGINT and SIGQUIT) was meant not to stop it: the run goes on to its normal end.
class IgnoredAtStart : public testing::TestWithParam<int> {};

TEST_P(IgnoredAtStart, DoesNotEndTheRun) {
  const int sig = GetParam();
  sim::Options options = SimOptions();
  options.ussdDelayMs = 1000;
  sim::Modem modem(options);
  ASSERT_TRUE(modem.Start()) << "openpty failed";
  const termios before = PortSettings(modem);
  Child run(AtsmsArgv({modem.SlavePath(), "ussd", "*100#"}), Streams::Read, sig);
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(WaitForCommands(modem, 1, 20000));
  ASSERT_EQ(0, kill(run.Pid(), sig));
  const RunResult outcome = run.Finish(60000);
  EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal;
  EXPECT_EQ(0, outcome.exitStatus) << "the ignored signal " << sig << " ended the run";
  EXPECT_EQ(ResultOk, outcome.out);
  EXPECT_EQ(4u, modem.Commands().size());
  EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
}

INSTANTIATE_TEST_SUITE_P(Signals, IgnoredAtStart, testing::Values(SIGHUP, SIGINT, SIGQUIT),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGHUP ? "Sighup" : info.param == SIGINT ? "Sigint" : "Sigquit");
                         });

TEST(PortAfterSignal, IsNotLeftExclusive) {
  sim::Options options = SimOptions();
  options.silent = true;
  sim::Modem modem(options);
  ASSERT_TRUE(modem.Start()) << "openpty failed";
  Child run(AtsmsArgv({modem.SlavePath(), "sim", "list"}));
  ASSERT_TRUE(WaitForCommands(modem, 1, 20000));
  ASSERT_EQ(0, kill(run.Pid(), SIGTERM));
  EXPECT_EQ(128 + SIGTERM, run.Finish(10000).exitStatus);
  EXPECT_TRUE(UnprivilegedOpenSucceeds(modem.SlavePath())) << "the port is still exclusive after the run";
}

}  // namespace
}  // namespace hardening
