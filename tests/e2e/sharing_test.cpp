// Several callers on one port, all as root: runs take turns (flock and the /var/lock lock file), a
// held port is reported or waited for, stale lock files are taken over, and no read can block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "harness.h"

namespace e2e {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string HdbPid(pid_t pid) {
  char content[16];
  snprintf(content, sizeof content, "%10d\n", (int)pid);
  return content;
}

// A process id that no process has: one of ours, already reaped.
pid_t GonePid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

std::string OurName() {
  std::string name = ReadFile("/proc/self/comm");
  return name.substr(0, name.find('\n'));
}

// Another program holding the port the way serial programs do: flock on the device, the lock file
// with its pid, or both. Let go on destruction.
class Holder {
 public:
  Holder(const std::string& device, bool flockIt, bool lockFile) : lockFile_(lockFile ? LockFileOf(device) : "") {
    if (flockIt) {
      fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      EXPECT_EQ(0, flock(fd_, LOCK_EX | LOCK_NB)) << "cannot flock " << device;
    }
    if (lockFile) WriteFile(lockFile_, HdbPid(getpid()));
  }
  ~Holder() { LetGo(); }
  void LetGo() {
    if (!lockFile_.empty()) unlink(lockFile_.c_str());
    lockFile_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  std::string lockFile_;
  int fd_ = -1;
};

// The demo storage with nothing unread, so that every listing prints the same whichever run comes first.
void StoreRead(sim::Modem& modem) {
  modem.AddMessage("SM", {1, "REC READ", "+491701234567", "24/05/01,10:20:30+08", "Hello!"});
  modem.AddMessage("SM", {2, "REC READ", "Vodafone", "24/05/02,08:15:00+08", "Баланс: 12,34 €"});
}
const std::string StoredListing = ListHeader + "1\t0\t+491701234567\t24/05/01,10:20:30+08\tHello!\n"
                                  "2\t0\tVodafone\t24/05/02,08:15:00+08\tБаланс: 12,34 €\n";
const Lines ListingCommands = Cat({Prepared(StorageSim), {PduMode, ListAll, TextMode}, ReadCmds(1, 2)});

struct Caller {
  Lines args;          // after -q -w 60 PORT
  Lines commands;      // what its run writes, whole
  std::string out;
  std::string err;
  int status;
};

// "12345" and a two-letter text: the PDU and its AT+CMGS.
Caller Sender(const std::string& text, const std::string& ucs2) {
  const std::string pdu = "00010005912143F5000804" + ucs2;
  return {{"sim", "send", "12345", text},
          Cat({Prepared(StorageSim), {PduMode, "AT+CMGS=14\r", pdu + "\x1a"}}), ResultOk, "", 0};
}

Caller Lister() { return {{"sim", "list"}, ListingCommands, StoredListing, "", 2}; }

Caller Asker() {
  return {{"ussd", "*100#"}, {Probe, EchoOff, CharsetGsm, UssdStar100}, ResultOk,
          UssdStar100 + "\n\r\nOK\r\n - 10\n\r\n+CUSD: 0,\"Balance: 12.34 EUR\",15\r\n - 10\nUSSD reply: Balance: 12.34 EUR\n",
          0};
}

// Ten callers at once: each run is whole in the modem's log, back to back with the others; every
// run prints exactly what it prints alone, and every SMS goes out once.
TEST(SharedPort, RunsStartedTogetherTakeTurns) {
  sim::Options options = SimOptions();
  options.ussdDelayMs = 100;
  sim::Modem modem(options);
  StoreRead(modem);
  START_MODEM(modem);
  const std::vector<Caller> callers = {Lister(), Sender("Hi", "00480069"), Asker(),  Lister(), Sender("Ho", "0048006F"),
                                       Asker(),  Lister(), Sender("Ha", "00480061"), Asker(),  Lister()};
  std::vector<std::unique_ptr<Child>> runs;
  for (const Caller& caller : callers) {
    Lines args = {"-q", "-w", "60", modem.SlavePath()};
    args.insert(args.end(), caller.args.begin(), caller.args.end());
    runs.push_back(std::make_unique<Child>(AtsmsArgv(args)));
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunResult run = runs[i]->Finish(90000);
    SCOPED_TRACE("run " + std::to_string(i) + ": " + callers[i].args[0] + " " + callers[i].args[1]);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(callers[i].status, run.exitStatus);
    EXPECT_EQ(callers[i].out, run.out);
    EXPECT_EQ(callers[i].err, run.err);
  }

  // The log, cut into the callers' command sequences: each must match one whole, none twice.
  const Lines log = modem.Commands();
  std::vector<bool> matched(callers.size(), false);
  for (size_t at = 0; at < log.size();) {
    size_t which = 0;
    for (; which < callers.size(); ++which) {
      const Lines& want = callers[which].commands;
      if (!matched[which] && at + want.size() <= log.size() && std::equal(want.begin(), want.end(), log.begin() + at))
        break;
    }
    ASSERT_LT(which, callers.size()) << "no whole run starts at command " << at << ": " << testing::PrintToString(log);
    matched[which] = true;
    at += callers[which].commands.size();
  }
  for (size_t i = 0; i < callers.size(); ++i) EXPECT_TRUE(matched[i]) << "run " << i << " is not in the log";

  std::vector<std::string> delivered;
  for (const sim::DeliveredSms& sms : modem.Delivered()) delivered.push_back(sms.destination + " " + sms.text);
  std::sort(delivered.begin(), delivered.end());
  EXPECT_EQ((Lines{"+12345 Ha", "+12345 Hi", "+12345 Ho"}), delivered);
  EXPECT_FALSE(Exists(LockFileOf(modem.SlavePath())));
}

struct HeldCase {
  const char* name;
  bool flockIt;
  bool lockFile;
  bool throughLink;  // the run names a symbolic link to the device
  bool named;        // the line names the holder
};

const HeldCase HeldCases[] = {
    {"FlockAndLockFile", true, true, false, true},
    {"FlockOnly", true, false, false, false},
    {"LockFileOnly", false, true, false, true},
    {"ThroughALink", true, true, true, true},
};

void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class HeldPort : public testing::TestWithParam<HeldCase> {};

// Without -w a held port fails at once: one line, status 255, nothing written, nothing changed.
TEST_P(HeldPort, FailsAtOnceWithOneLine) {
  const HeldCase& c = GetParam();
  sim::Modem modem(SimOptions());
  StoreRead(modem);
  START_MODEM(modem);
  const std::string lockFile = LockFileOf(modem.SlavePath());
  std::string port = modem.SlavePath();
  const std::string link = "/tmp/atsms-sharing-" + std::to_string(getpid());
  if (c.throughLink) {
    ASSERT_EQ(0, symlink(port.c_str(), link.c_str()));
    port = link;
  }
  const termios before = PortSettings(modem);
  Holder holder(modem.SlavePath(), c.flockIt, c.lockFile);

  const RunResult run = RunAtsms({"-q", port, "sim", "send", "12345", "Hi"});
  if (c.throughLink) unlink(link.c_str());
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ("", run.out) << "a send whose port is held prints no result block";
  const std::string by = c.named ? OurName() + " (pid " + std::to_string(getpid()) + ")" : "another program";
  EXPECT_EQ("atsms: " + port + " is in use by " + by + "\n", run.err);
  EXPECT_TRUE(modem.Commands().empty());
  EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
  if (c.lockFile) {
    EXPECT_EQ(HdbPid(getpid()), ReadFile(lockFile)) << "the holder's lock file was touched";
  } else {
    EXPECT_FALSE(Exists(lockFile)) << "a run that never got the port left a lock file";
  }
}

INSTANTIATE_TEST_SUITE_P(Sharing, HeldPort, testing::ValuesIn(HeldCases),
                         [](const testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.name); });

// With -w the run waits while the port is held: it gives up with the line when the time is up, and
// goes on as soon as the holder lets go.
TEST(SharedPort, WaitsForTheHolder) {
  sim::Modem modem(SimOptions());
  StoreRead(modem);
  START_MODEM(modem);
  Holder holder(modem.SlavePath(), true, true);

  const RunResult late = RunAtsms({"-q", "-w", "1", modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(255, late.exitStatus);
  EXPECT_EQ("atsms: " + modem.SlavePath() + " is in use by " + OurName() + " (pid " + std::to_string(getpid()) + ")\n",
            late.err);
  EXPECT_GE(late.seconds, 1.0) << "it did not wait";
  EXPECT_TRUE(modem.Commands().empty());

  Child waiting(AtsmsArgv({"-q", "--wait", "30", modem.SlavePath(), "sim", "list"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(modem.Commands().empty()) << "written while the port was held";
  holder.LetGo();
  const RunResult run = waiting.Finish();
  EXPECT_EQ(2, run.exitStatus);
  EXPECT_EQ(StoredListing, run.out);
  EXPECT_EQ("", run.err);
  EXPECT_EQ(ListingCommands, modem.Commands());
}

// A lock file whose process is gone, or that holds no pid, is taken over. While the run holds the
// port the file holds its pid in HDB form; afterwards it is gone.
TEST(SharedPort, StaleLockFilesAreTakenOver) {
  for (const std::string& stale : {HdbPid(GonePid()), std::string("garbage\n"), std::string()}) {
    SCOPED_TRACE("lock file \"" + stale + "\"");
    std::mutex mutex;
    std::string during;
    std::string lockFile;
    sim::Options options = SimOptions();
    options.log = [&](const std::string&) {  // the first command line: the run holds the port
      std::lock_guard<std::mutex> lock(mutex);
      if (during.empty()) during = ReadFile(lockFile) + " ";
    };
    sim::Modem modem(options);
    StoreRead(modem);
    START_MODEM(modem);
    lockFile = LockFileOf(modem.SlavePath());
    WriteFile(lockFile, stale);

    Child child(AtsmsArgv({"-q", modem.SlavePath(), "sim", "list"}));
    const pid_t pid = child.Pid();
    const RunResult run = child.Finish();
    EXPECT_EQ(2, run.exitStatus);
    EXPECT_EQ(StoredListing, run.out);
    EXPECT_EQ("", run.err);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(HdbPid(pid) + " ", during);
    EXPECT_FALSE(Exists(lockFile));
  }
}

// SIGKILL gives no chance to clean up: the lock file stays, and the next run takes it over.
TEST(SharedPort, ARunKilledOutrightLeavesALockFileTheNextRunTakesOver) {
  sim::Options options = SimOptions();
  options.noPrompt = true;
  sim::Modem modem(options);
  StoreRead(modem);
  START_MODEM(modem);
  const std::string lockFile = LockFileOf(modem.SlavePath());
  Child killed(AtsmsArgv({modem.SlavePath(), "sim", "send", "12345", "Hi"}));
  ASSERT_TRUE(WaitForCommands(modem, 6, 20000)) << "the run never reached AT+CMGS";
  ASSERT_EQ(0, kill(killed.Pid(), SIGKILL));
  const pid_t gone = killed.Pid();
  killed.Finish(10000);
  EXPECT_EQ(HdbPid(gone), ReadFile(lockFile));

  const RunResult next = RunAtsms({"-q", modem.SlavePath(), "sim", "list"});
  EXPECT_EQ(2, next.exitStatus);
  EXPECT_EQ(StoredListing, next.out);
  EXPECT_FALSE(Exists(lockFile));
}

// Another program puts the terminal back into canonical mode with echo (as a run that ended without
// taking turns did): reads must not block for a line that never comes, and the run ends within its
// windows with the settings it found put back.
TEST(SharedPort, CanonicalModeSetMidRunDoesNotBlock) {
  sim::Options options = SimOptions();
  options.answerDelayMs = 300;
  sim::Modem modem(options);
  StoreRead(modem);
  START_MODEM(modem);
  const termios cooked = PortSettings(modem);
  ASSERT_NE(0u, cooked.c_lflag & ICANON);
  Child run(AtsmsArgv({modem.SlavePath(), "sim", "list"}));
  ASSERT_TRUE(WaitForCommands(modem, 3, 20000));  // echo off: a modem echoing into an echoing tty never stops
  const int other = open(modem.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(0, tcsetattr(other, TCSANOW, &cooked));
  close(other);
  const RunResult outcome = run.Finish(60000);
  EXPECT_FALSE(outcome.timedOut) << "the run hung";
  EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal;
  EXPECT_LT(outcome.seconds, 40.0);
  EXPECT_TRUE(SameSettings(cooked, PortSettings(modem)));
  EXPECT_FALSE(Exists(LockFileOf(modem.SlavePath())));
}

}  // namespace
}  // namespace e2e
