// harness.h: runs the real atsms binary (fork/exec) and captures what it prints and how it ends,
// plus small helpers around the simulated modem and the pty's terminal settings.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "modem_sim.h"

namespace e2e {

struct RunResult {
  int exitStatus = -1;  // 0..255, or 128 + signal when the run was killed
  bool exited = false;  // ended through exit/_exit rather than killed by a signal
  int signal = 0;       // the signal that killed it
  bool timedOut = false;
  double seconds = 0;   // wall time of the run
  std::string out;
  std::string err;
};

constexpr int DefaultTimeoutMs = 60000;

enum class Streams {
  Read,
  StderrUnread,  // nobody reads standard error: the first write there raises SIGPIPE
  StdinClosed,   // the run starts with descriptor 0, 1 or 2 closed, as "atsms ... >&-" does
  StdoutClosed,
  StderrClosed,
  StdoutFull,    // standard output is /dev/full: every write fails with ENOSPC
  StdoutUnread,  // nobody reads standard output: a write there fails with EPIPE (or raises SIGPIPE)
};

// A program started without waiting for it, so a test can act on it mid-run (send it a signal,
// unplug its modem). It runs in a process group of its own, stdin from /dev/null, with default
// signal dispositions (ignoredSignal, if not 0, ignored) and none of the test's descriptors.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, Streams streams = Streams::Read, int ignoredSignal = 0);
  ~Child();  // kills a run that was never finished
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Reads its output to the end and waits for it; kills it after timeoutMs.
  RunResult Finish(int timeoutMs = DefaultTimeoutMs);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  double started_ = 0;
};

// Runs argv (argv[0] is the program path) to the end.
RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs = DefaultTimeoutMs);

// atsms's path followed by args.
std::vector<std::string> AtsmsArgv(const std::vector<std::string>& args);

// Runs atsms with these arguments after its own path.
RunResult RunAtsms(const std::vector<std::string>& args, int timeoutMs = DefaultTimeoutMs,
                   Streams streams = Streams::Read);

// The path the tests run and that atsms prints in its usage texts.
const char* AtsmsPath();

double Now();  // seconds on a steady clock

// Modem options with the simulator's log on stderr when E2E_SIM_LOG is set (for debugging a failure).
sim::Options SimOptions();

// Waits until the modem has received at least count command lines; false after timeoutMs.
bool WaitForCommands(const sim::Modem& modem, size_t count, int timeoutMs);
// Waits until at least count messages have come from the network (Modem::Arrive, arriveAfterCmgl).
bool WaitForArrivals(const sim::Modem& modem, int count, int timeoutMs);

// The pty's settings as any program on it sees them (termios belongs to the terminal, not the descriptor).
termios PortSettings(const sim::Modem& modem);
bool SameSettings(const termios& a, const termios& b);

// The lock file of a device in /dev: "/dev/pts/5" locks as "/var/lock/LCK..pts_5".
std::string LockFileOf(const std::string& device);
bool Exists(const std::string& path);

using Lines = std::vector<std::string>;
Lines Cat(std::initializer_list<Lines> parts);

// The command lines atsms writes.
inline const std::string Probe = "AT\r";
inline const std::string EscProbe = "\x1b" "AT\r";  // after a probe that got nothing back
inline const std::string EchoOff = "ATE0\r";
inline const std::string CharsetUcs2 = "AT+CSCS=\"UCS2\"\r";
inline const std::string CharsetGsm = "AT+CSCS=\"GSM\"\r";
inline const std::string StorageSim = "AT+CPMS=\"SM\",\"SM\",\"SM\"\r";
inline const std::string StoragePhone = "AT+CPMS=\"ME\",\"ME\",\"ME\"\r";
inline const std::string PduMode = "AT+CMGF=0\r";
inline const std::string TextMode = "AT+CMGF=1\r";
inline const std::string ListAll = "AT+CMGL=4\r";
inline const std::string UssdStar100 = "AT+CUSD=1,\"AA180C3602\",15\r";  // "*100#"
std::string ReadCmd(int index);    // "AT+CMGR=<index>\r"
std::string DeleteCmd(int index);  // "AT+CMGD=<index>\r"
Lines ReadCmds(int first, int last);
Lines DeleteCmds(int first, int last);
// A modem answering at once: one probe, echo off, UCS-2, the storage.
Lines Prepared(const std::string& storageCmd);

inline const std::string ListHeader = "num\ttype\tsender\tdate\tmsg\n";
inline const std::string ResultOk = "\n{\n \"msg\":\"OK\"\n}\n";
inline const std::string ResultError = "\n{\n \"msg\":\"ERROR\"\n}\n";

// Starts the modem; the test fails when it cannot.
#define START_MODEM(modem) ASSERT_TRUE((modem).Start()) << "openpty failed"

}  // namespace e2e
