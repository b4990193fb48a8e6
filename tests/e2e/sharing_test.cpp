// Several callers on one port, all as root: runs take turns (flock and the /var/lock lock file), a
// held port is reported or waited for, stale lock files are taken over, and no read can block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "harness.h"

namespace e2e {
namespace {

std::string ReadFile(const std::string& path) {
  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

std::string HdbPid(pid_t pid) {
  std::string digits = std::to_string(pid);
  return std::string(10 - digits.size(), ' ') + digits + "\n";
}

std::string OurHolding() {
  const std::string comm = ReadFile("/proc/self/comm");
  return comm.substr(0, comm.find('\n')) + " (pid " + std::to_string(getpid()) + ")";
}

// What another program left at the lock path: its lock file, or something that is no lock file at
// all. The other kinds take the FIFO's way (their words: LockFile.NotALockFile).
enum class AtLockPath { Nothing, HdbFile, Fifo, Link };

// Another program holding the port as serial programs do: flock on the device, the lock file with
// its pid, or both, until it lets go; or whatever else stands at the lock path.
class Holder {
 public:
  Holder(const std::string& device, bool flockIt, AtLockPath lock) : lockPath_(LockFileOf(device)), lock_(lock) {
    if (flockIt) {
      fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      EXPECT_EQ(0, flock(fd_, LOCK_EX | LOCK_NB));
    }
    const std::string target = lockPath_ + ".target";
    if (lock == AtLockPath::HdbFile) std::ofstream(lockPath_) << HdbPid(getpid());
    if (lock == AtLockPath::Fifo) made_ = mkfifo(lockPath_.c_str(), 0666) == 0;
    if (lock == AtLockPath::Link) {  // to a file that would read as our lock file, were it followed
      std::ofstream(target) << HdbPid(getpid());
      made_ = symlink(target.c_str(), lockPath_.c_str()) == 0;
    }
  }
  ~Holder() { LetGo(); }
  bool Made() const { return made_; }
  void LetGo() {
    if (lock_ != AtLockPath::Nothing) unlink(lockPath_.c_str());
    if (lock_ == AtLockPath::Link) unlink((lockPath_ + ".target").c_str());
    if (fd_ >= 0) close(fd_);
    lock_ = AtLockPath::Nothing;
    fd_ = -1;
  }

 private:
  std::string lockPath_;
  AtLockPath lock_;
  bool made_ = true;
  int fd_ = -1;
};

// Nothing unread, so that every listing prints the same whichever run comes first.
void StoreRead(sim::Modem& modem) {
  modem.AddMessage("SM", {1, "REC READ", "+491701234567", "24/05/01,10:20:30+08", "Hello!"});
  modem.AddMessage("SM", {2, "REC READ", "Vodafone", "24/05/02,08:15:00+08", "Баланс: 12,34 €"});
}
const std::string StoredListing = ListHeader + "1\t0\t+491701234567\t24/05/01,10:20:30+08\tHello!\n"
                                  "2\t0\tVodafone\t24/05/02,08:15:00+08\tБаланс: 12,34 €\n";

struct Caller {
  Lines args;      // after -q -w 60 PORT
  Lines commands;  // what its run writes, whole
  std::string out;
  std::string err;
  int status;
};

// To "12345", a two-letter text given as UCS-2.
Caller Sender(const std::string& text, const std::string& ucs2) {
  return {{"sim", "send", "12345", text},
          Cat({Prepared(StorageSim), {PduMode, "AT+CMGS=14\r", "00010005812143F5000804" + ucs2 + "\x1a"}}),
          ResultOk, "", 0};
}
const Caller Lister = {
    {"sim", "list"}, Cat({Prepared(StorageSim), {PduMode, ListAll}}), StoredListing, "", 2};
const Caller Asker = {{"ussd", "*100#"}, {Probe, EchoOff, CharsetGsm, UssdStar100}, ResultOk,
                      UssdStar100 + "\n\r\nOK\r\n - 10\n\r\n+CUSD: 0,\"Balance: 12.34 EUR\",15\r\n - 10\n"
                                    "USSD reply: Balance: 12.34 EUR\n",
                      0};

// Ten callers at once, while another program holds the port: they wait for it, then each run is
// whole in the modem's log, back to back with the others; every run prints exactly what it prints
// alone, and every SMS goes out once.
TEST(SharedPort, RunsStartedTogetherTakeTurns) {
  sim::Options options = SimOptions();
  options.ussdDelayMs = 100;
  sim::Modem modem(options);
  StoreRead(modem);
  START_MODEM(modem);
  const std::vector<Caller> callers = {Lister, Sender("Hi", "00480069"), Asker,  Lister, Sender("Ho", "0048006F"),
                                       Asker,  Lister, Sender("Ha", "00480061"), Asker,  Lister};
  Holder holder(modem.SlavePath(), true, AtLockPath::HdbFile);  // all ten wait for it, then go on
  std::vector<std::unique_ptr<Child>> runs;
  for (const Caller& caller : callers) {
    Lines args = {"-q", "-w", "60", modem.SlavePath()};
    args.insert(args.end(), caller.args.begin(), caller.args.end());
    runs.push_back(std::make_unique<Child>(AtsmsArgv(args)));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(modem.Commands().empty()) << "written while the port was held";
  holder.LetGo();
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunResult run = runs[i]->Finish(90000);
    SCOPED_TRACE("run " + std::to_string(i) + ": " + callers[i].args[1]);
    EXPECT_EQ(callers[i].status, run.exitStatus);
    EXPECT_EQ(callers[i].out, run.out);
    EXPECT_EQ(callers[i].err, run.err);
  }
  // The log, cut into the callers' command sequences: each must match one whole, none twice.
  const Lines log = modem.Commands();
  std::vector<bool> matched(callers.size(), false);
  for (size_t at = 0, which = 0; at < log.size(); at += callers[which].commands.size()) {
    for (which = 0; which < callers.size(); ++which) {
      const Lines& want = callers[which].commands;
      if (!matched[which] && at + want.size() <= log.size() && std::equal(want.begin(), want.end(), log.begin() + at))
        break;
    }
    ASSERT_LT(which, callers.size()) << "no whole run starts at command " << at << ": " << testing::PrintToString(log);
    matched[which] = true;
  }
  EXPECT_EQ(callers.size(), (size_t)std::count(matched.begin(), matched.end(), true));
  Lines delivered;
  for (const sim::DeliveredSms& sms : modem.Delivered()) delivered.push_back(sms.destination + " " + sms.text);
  std::sort(delivered.begin(), delivered.end());
  EXPECT_EQ((Lines{"12345 Ha", "12345 Hi", "12345 Ho"}), delivered);
  EXPECT_FALSE(Exists(LockFileOf(modem.SlavePath())));
}

struct HeldCase {
  const char* name;
  bool flockIt;
  AtLockPath lock;
  bool throughLink;  // the run names a symbolic link to the device
  int wait;          // -w's value; 0: no -w
  const char* kind;  // what the run names at the lock path; nullptr: the port is in use
};

const HeldCase HeldCases[] = {
    {"FlockAndLockFile", true, AtLockPath::HdbFile, false, 0, nullptr},
    {"FlockOnly", true, AtLockPath::Nothing, false, 0, nullptr},
    {"LockFileOnly", false, AtLockPath::HdbFile, false, 0, nullptr},
    {"ThroughALink", true, AtLockPath::HdbFile, true, 0, nullptr},
    {"HeldForTheWholeWait", true, AtLockPath::HdbFile, false, 1, nullptr},
    // Whatever else stands at the lock path is never read, removed or waited for.
    {"FifoEndsTheWaitAtOnce", false, AtLockPath::Fifo, false, 5, "a FIFO"},
    {"FifoAndFlock", true, AtLockPath::Fifo, false, 0, "a FIFO"},
    {"SymbolicLink", false, AtLockPath::Link, false, 0, "a symbolic link"},
};

void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class HeldPort : public testing::TestWithParam<HeldCase> {};

// The file type at path, without following a link; 0 when nothing is there.
mode_t TypeAt(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// A port held (past the wait, with -w), or a lock path that holds no lock file (at once): one line
// naming the holder or what is there, status 255, nothing written, nothing changed, and whatever
// stood at the lock path left as it was.
TEST_P(HeldPort, GivesUpWithOneLine) {
  const HeldCase& c = GetParam();
  sim::Modem modem(SimOptions());
  START_MODEM(modem);
  const std::string lockFile = LockFileOf(modem.SlavePath());
  std::string port = modem.SlavePath();
  const std::string link = "/tmp/atsms-sharing-" + std::to_string(getpid());
  if (c.throughLink) {
    ASSERT_EQ(0, symlink(port.c_str(), link.c_str()));
    port = link;
  }
  const termios before = PortSettings(modem);
  Holder holder(modem.SlavePath(), c.flockIt, c.lock);
  if (!holder.Made()) GTEST_SKIP() << "cannot make " << c.kind << " at " << lockFile << ": " << strerror(errno);
  const mode_t type = TypeAt(lockFile);
  const bool named = c.lock == AtLockPath::HdbFile;
  const std::string content = named ? ReadFile(lockFile) : "";

  Lines args = {"-q", port, "sim", "send", "12345", "Hi"};
  if (c.wait > 0) args.insert(args.begin(), {"-w", std::to_string(c.wait)});
  const RunResult run = RunAtsms(args);
  if (c.throughLink) unlink(link.c_str());
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ("", run.out) << "a send whose port is held prints no result block";
  if (c.kind) {
    EXPECT_EQ("atsms: cannot lock " + port + ": " + lockFile + " is not a lock file (" + c.kind + ")\n", run.err);
    EXPECT_LT(run.seconds, 1.0) << "it waited";
  } else {
    EXPECT_EQ("atsms: " + port + " is in use by " + (named ? OurHolding() : "another program") + "\n", run.err);
    EXPECT_GE(run.seconds, c.wait) << "it did not wait";
  }
  EXPECT_TRUE(modem.Commands().empty());
  EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
  EXPECT_EQ(type, TypeAt(lockFile)) << "the lock path was changed";
  if (named) {
    EXPECT_EQ(content, ReadFile(lockFile)) << "the lock file was touched";
  }
}

INSTANTIATE_TEST_SUITE_P(Sharing, HeldPort, testing::ValuesIn(HeldCases),
                         [](const testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.name); });

// A lock file whose process is gone (also one that SIGKILL left behind), or that holds no pid, is
// taken over; while the run holds the port the file holds its pid, afterwards it is gone.
TEST(SharedPort, StaleLockFilesAreTakenOver) {
  for (const char* stale : {"gone", "garbage\n", "", "killed"}) {
    SCOPED_TRACE(std::string("lock file: ") + stale);
    std::mutex mutex;
    std::string lockFile, seen;  // the lock file at the latest command line
    sim::Options options = SimOptions();
    options.noPrompt = true;  // a send waits for a prompt that never comes: time to kill it
    options.log = [&](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      if (line.find(" <- ") != std::string::npos) seen = ReadFile(lockFile);
    };
    sim::Modem modem(options);
    StoreRead(modem);
    START_MODEM(modem);
    lockFile = LockFileOf(modem.SlavePath());
    if (std::string(stale) == "killed") {
      Child killed(AtsmsArgv({modem.SlavePath(), "sim", "send", "12345", "Hi"}));
      ASSERT_TRUE(WaitForCommands(modem, 6, 20000)) << "the run never reached AT+CMGS";
      const pid_t pid = killed.Pid();
      ASSERT_EQ(0, kill(pid, SIGKILL));
      killed.Finish(10000);
      EXPECT_EQ(HdbPid(pid), ReadFile(lockFile)) << "SIGKILL gives no chance to remove it";
    } else {
      pid_t gone = fork();  // a pid no process has: one of ours, already reaped
      if (gone == 0) _exit(0);
      waitpid(gone, nullptr, 0);
      std::ofstream(lockFile) << (std::string(stale) == "gone" ? HdbPid(gone) : stale);
    }
    Child child(AtsmsArgv({"-q", modem.SlavePath(), "sim", "list"}));
    const pid_t pid = child.Pid();
    const RunResult run = child.Finish();
    EXPECT_EQ(2, run.exitStatus);
    EXPECT_EQ(StoredListing, run.out);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(HdbPid(pid), seen);
    EXPECT_FALSE(Exists(lockFile));
  }
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
  ASSERT_EQ(0, tcsetattr(other, TCSANOW, &cooked));
  close(other);
  const RunResult outcome = run.Finish(60000);
  EXPECT_TRUE(outcome.exited) << "the run hung and was killed";
  EXPECT_LT(outcome.seconds, 40.0);
  EXPECT_TRUE(SameSettings(cooked, PortSettings(modem)));
  EXPECT_FALSE(Exists(LockFileOf(modem.SlavePath())));
}

}  // namespace
}  // namespace e2e
