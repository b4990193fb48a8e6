#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

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

RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
  RunResult result;
  // Everything the child needs is built before fork: the test process has other threads (the modem).
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int outPipe[2], errPipe[2];
  // O_CLOEXEC: runs started in parallel from other threads must not inherit each other's pipes.
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    result.err = "pipe failed";
    return result;
  }
  Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // a group of its own, so a timeout also ends whatever it started
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    // The modem's pty ends are not close-on-exec; atsms must hold nothing but its own port.
    close_range(3, ~0U, 0);
    execv(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = "fork failed";
    return result;
  }
  Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      kill(-pid, SIGKILL);  // a hung run; its output so far is kept
      kill(pid, SIGKILL);   // in case the child had not made its group yet
      result.timedOut = true;
      break;
    }
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};  // -1: skipped
    if (poll(fds, 2, static_cast<int>(left < 100 ? left : 100)) <= 0) continue;
    if (outOpen && fds[0].revents) outOpen = Drain(outPipe[0], &result.out);
    if (errOpen && fds[1].revents) errOpen = Drain(errPipe[0], &result.err);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.seconds = SecondsSince(start);
  if (WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exitStatus = 128 + WTERMSIG(status);
  return result;
}

RunResult RunAtsms(const std::vector<std::string>& args, int timeoutMs) {
  std::vector<std::string> argv{AtsmsPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, timeoutMs);
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

}  // namespace e2e
