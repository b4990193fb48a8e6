#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <iostream>
#include <thread>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Reads what is there; false at end of file.
bool Drain(int fd, std::string* into) {
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (got <= 0) return false;
  into->append(buffer, static_cast<size_t>(got));
  return true;
}

}  // namespace

// ATSMS_E2E_BINARY runs the tests against another build of the tool (a sanitizer build, say).
const char* AtsmsPath() {
  const char* other = getenv("ATSMS_E2E_BINARY");
  return other && *other ? other : ATSMS_PATH;
}

double Now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

Child::Child(const std::vector<std::string>& argv, Streams streams, int ignoredSignal) {
  // Everything the child needs is built before fork: the test process has other threads (the modem).
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int outPipe[2], errPipe[2];
  // O_CLOEXEC: runs started in parallel from other threads must not inherit each other's pipes.
  if (pipe2(outPipe, O_CLOEXEC) != 0) return;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  started_ = Now();
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);  // a group of its own, so a timeout also ends whatever it started
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close_range(3, ~0U, 0);  // atsms must hold nothing but its own port
    if (streams == Streams::StdinClosed) close(0);
    if (streams == Streams::StdoutClosed) close(1);
    if (streams == Streams::StderrClosed) close(2);
    if (streams == Streams::StdoutFull) {
      const int full = open("/dev/full", O_WRONLY);
      dup2(full, 1);
      close(full);
    }
    // The test's own signal dispositions must not leak into the run.
    struct sigaction defaults;
    memset(&defaults, 0, sizeof defaults);
    defaults.sa_handler = SIG_DFL;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2})
      sigaction(sig, &defaults, nullptr);
    if (ignoredSignal != 0) signal(ignoredSignal, SIG_IGN);  // kept across exec
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit noCore = {0, 0};  // a run that dies of SIGQUIT leaves no core file behind
    setrlimit(RLIMIT_CORE, &noCore);
    execv(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  out_ = outPipe[0];
  err_ = errPipe[0];
  if (streams == Streams::StderrUnread || pid_ < 0) {
    close(err_);
    err_ = -1;
  }
  if (streams == Streams::StdoutUnread) {
    close(out_);
    out_ = -1;
  }
  if (pid_ < 0) {
    close(out_);
    out_ = -1;
  }
}

Child::~Child() {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

RunResult Child::Finish(int timeoutMs) {
  RunResult result;
  if (pid_ <= 0) {
    result.err = "the run could not be started";
    return result;
  }
  const double deadline = Now() + timeoutMs / 1000.0;
  bool outOpen = out_ >= 0, errOpen = err_ >= 0;
  while (outOpen || errOpen) {
    double left = deadline - Now();
    if (left <= 0) {
      kill(-pid_, SIGKILL);  // a hung run; its output so far is kept
      kill(pid_, SIGKILL);   // in case the child had not made its group yet
      result.timedOut = true;
      break;
    }
    pollfd fds[2] = {{outOpen ? out_ : -1, POLLIN, 0}, {errOpen ? err_ : -1, POLLIN, 0}};  // -1: skipped
    if (poll(fds, 2, left < 0.1 ? 1 + static_cast<int>(left * 1000) : 100) <= 0) continue;
    if (outOpen && fds[0].revents) outOpen = Drain(out_, &result.out);
    if (errOpen && fds[1].revents) errOpen = Drain(err_, &result.err);
  }
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  result.seconds = Now() - started_;
  pid_ = -1;
  if (WIFEXITED(status)) {
    result.exited = true;
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
    result.exitStatus = 128 + result.signal;
  }
  return result;
}

RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs) { return Child(argv).Finish(timeoutMs); }

std::vector<std::string> AtsmsArgv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{AtsmsPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

RunResult RunAtsms(const std::vector<std::string>& args, int timeoutMs, Streams streams) {
  return Child(AtsmsArgv(args), streams).Finish(timeoutMs);
}

sim::Options SimOptions() {
  sim::Options options;
  if (getenv("E2E_SIM_LOG"))
    options.log = [](const std::string& line) { std::cerr << "modem-sim " << line << "\n"; };
  return options;
}

bool WaitForCommands(const sim::Modem& modem, size_t count, int timeoutMs) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (modem.Commands().size() < count) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool WaitForArrivals(const sim::Modem& modem, int count, int timeoutMs) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (modem.Arrived() < count) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

termios PortSettings(const sim::Modem& modem) {
  termios settings;
  memset(&settings, 0, sizeof settings);
  tcgetattr(modem.SlaveFd(), &settings);
  return settings;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         a.c_line == b.c_line && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

Lines Cat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string ReadCmd(int index) { return "AT+CMGR=" + std::to_string(index) + "\r"; }
std::string DeleteCmd(int index) { return "AT+CMGD=" + std::to_string(index) + "\r"; }

Lines ReadCmds(int first, int last) {
  Lines lines;
  for (int i = first; i <= last; ++i) lines.push_back(ReadCmd(i));
  return lines;
}

Lines DeleteCmds(int first, int last) {
  Lines lines;
  for (int i = first; i <= last; ++i) lines.push_back(DeleteCmd(i));
  return lines;
}

Lines Prepared(const std::string& storageCmd) { return {Probe, EchoOff, CharsetUcs2, storageCmd}; }

std::string LockFileOf(const std::string& device) {
  std::string name = device.substr(std::string("/dev/").size());
  for (char& c : name)
    if (c == '/') c = '_';
  return "/var/lock/LCK.." + name;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace e2e
