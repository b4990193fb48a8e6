// spawn.h: starts the real atsms binary without waiting for it, so a test can act on it mid-run
// (send it a signal, unplug its modem), then collects what it printed and how it ended.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

#include "modem_sim.h"

namespace hardening {

struct Outcome {
  bool exited = false;    // ended through exit/_exit (WIFEXITED)
  int exitStatus = -1;    // 0..255 when exited
  int signal = 0;         // the signal that killed it otherwise
  bool timedOut = false;  // killed by the test after the time limit
  double seconds = 0;     // from Start to the end of the process
  std::string out;
  std::string err;
};

// How the run's standard streams are set up (besides stdin from /dev/null, stdout and stderr read).
enum class Streams {
  Read,
  StderrUnread,  // nobody reads standard error: the first write there raises SIGPIPE
  StdinClosed,   // the run starts with descriptor 0, 1 or 2 closed, as "atsms ... >&-" does
  StdoutClosed,
  StderrClosed,
};

class Child {
 public:
  // Runs atsms with these arguments (after its own path); ignoredSignal, when not 0, is ignored
  // from the start, as nohup does for SIGHUP and a shell for SIGINT in a background job.
  explicit Child(const std::vector<std::string>& args, Streams streams = Streams::Read, int ignoredSignal = 0);
  ~Child();  // kills a run that was never finished
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Reads its output to the end and waits for it; kills it after timeoutMs.
  Outcome Finish(int timeoutMs = 60000);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  double started_ = 0;
};

// Runs atsms to the end.
Outcome RunAtsms(const std::vector<std::string>& args, int timeoutMs = 60000, Streams streams = Streams::Read);

double Now();  // seconds on a steady clock

// Waits until the modem has received at least count command lines; false after timeoutMs.
bool WaitForCommands(const sim::Modem& modem, size_t count, int timeoutMs);

// The pty's settings as every program on it sees them.
termios PortSettings(const sim::Modem& modem);
bool SameSettings(const termios& a, const termios& b);

// Simulator options; its log goes to stderr when HARDENING_SIM_LOG is set.
sim::Options SimOptions();

inline const std::string ResultOk = "\n{\n \"msg\":\"OK\"\n}\n";
inline const std::string ResultError = "\n{\n \"msg\":\"ERROR\"\n}\n";
inline const std::string ListHeader = "num\ttype\tsender\tdate\tmsg\n";

}  // namespace hardening
