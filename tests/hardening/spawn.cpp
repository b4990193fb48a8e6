#include "spawn.h"

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

namespace hardening {
namespace {

// Appends what is there; false at end of file.
bool Drain(int fd, std::string* into) {
  char buffer[65536];
  ssize_t got = read(fd, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (got <= 0) return false;
  into->append(buffer, static_cast<size_t>(got));
  return true;
}

}  // namespace

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Child::Child(const std::vector<std::string>& args, Streams streams, int ignoredSignal) {
  // Built before fork: the test process runs the modem's thread.
  std::vector<std::string> argv{ATSMS_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  started_ = Now();
  pid_ = fork();
  if (pid_ == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close_range(3, ~0U, 0);  // the modem's pty ends stay with the test
    if (streams == Streams::StdinClosed) close(0);
    if (streams == Streams::StdoutClosed) close(1);
    if (streams == Streams::StderrClosed) close(2);
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
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  out_ = outPipe[0];
  err_ = errPipe[0];
  if (streams == Streams::StderrUnread) {
    close(err_);
    err_ = -1;
  }
  if (pid_ < 0) {
    close(out_);
    close(err_);
    out_ = err_ = -1;
  }
}

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

Outcome Child::Finish(int timeoutMs) {
  Outcome outcome;
  if (pid_ <= 0) {
    outcome.err = "the run could not be started";
    return outcome;
  }
  const double deadline = Now() + timeoutMs / 1000.0;
  bool outOpen = out_ >= 0, errOpen = err_ >= 0;
  while (outOpen || errOpen) {
    double left = deadline - Now();
    if (left <= 0) {
      kill(pid_, SIGKILL);
      outcome.timedOut = true;
      break;
    }
    pollfd fds[2] = {{outOpen ? out_ : -1, POLLIN, 0}, {errOpen ? err_ : -1, POLLIN, 0}};
    if (poll(fds, 2, left < 0.1 ? 1 + static_cast<int>(left * 1000) : 100) <= 0) continue;
    if (outOpen && fds[0].revents) outOpen = Drain(out_, &outcome.out);
    if (errOpen && fds[1].revents) errOpen = Drain(err_, &outcome.err);
  }
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.seconds = Now() - started_;
  pid_ = -1;
  if (WIFEXITED(status)) {
    outcome.exited = true;
    outcome.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  return outcome;
}

Outcome RunAtsms(const std::vector<std::string>& args, int timeoutMs, Streams streams) {
  return Child(args, streams).Finish(timeoutMs);
}

bool WaitForCommands(const sim::Modem& modem, size_t count, int timeoutMs) {
  const double deadline = Now() + timeoutMs / 1000.0;
  while (modem.Commands().size() < count) {
    if (Now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

sim::Options SimOptions() {
  sim::Options options;
  if (getenv("HARDENING_SIM_LOG"))
    options.log = [](const std::string& line) { std::cerr << "modem-sim " << line << "\n"; };
  return options;
}

}  // namespace hardening
