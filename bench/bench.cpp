// atsms-bench: runs atsms against modem-sim and prints its speed and footprint.
//
//   atsms-bench [--runs N] BUILD_DIR [OTHER_BUILD_DIR...]
//
// BUILD_DIR holds a host build (atsms and tools/modem-sim/modem-sim). For "sim list" and
// "sim del all" over 10 stored messages and over a full SIM of 30 messages of 160 characters
// (a listing of about 10 KB), "sim send" and "ussd", atsms runs N times, each time
// against a freshly started simulator, and the table shows the median wall time, the protocol
// floor, the overhead above it, CPU time and peak RSS (from wait4). A second table puts the same
// runs with -q (quick mode) beside them, against the -q targets. A third table lists a phone
// memory of 255 stored parts of long messages with -q, with and without --join: the exchanges
// (command lines), wall time, CPU time and peak RSS (median and worst run: the C library's pages,
// most of it, vary from run to run). A fourth lists and empties a full SIM of 30 and a phone
// memory of 255 with -q on a modem that takes 20 ms for each answer, and empties a SIM of 30 read
// messages and takes one of 30 unread ones: the exchanges and the wall time, against the targets
// for the SIM. Then 20 runs started at once on one port (-q
// -w 60: list, send, USSD), which take turns: the total wall time beside the sum of the runs' own
// times, and the hand-over gaps between them. Then, for every build directory given (cross builds
// too), the stripped size of atsms and its NEEDED libraries. One round of the service
// (atsms-service --once) on an empty SIM: its exchanges, against the target of 6.
// It prints figures; it fails only when it cannot run at all.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// atsms collects every answer until the modem has been silent this long (1.5 s before the first byte).
constexpr double SilenceSeconds = 0.5;
// modem-sim sends the network's +CUSD answer this long after its "OK" (its default; passed explicitly).
constexpr int UssdDelayMs = 1000;
constexpr int StoredMessages = 10;
constexpr int FullSim = 30;  // a SIM's usual capacity, filled with full-length messages
constexpr int SlowAnswerMs = 20;  // a modem's time for each answer in the full-storage rows with -q

struct Operation {
  std::string name;
  std::vector<std::string> args;  // after PORT
  bool store;                     // start the simulator with the 10-message store
  int answers;                    // answers atsms collects, each ended by a silence window
  int commandLines;               // command lines the simulator must receive
  double extraSeconds;            // the simulator's own delays that the windows do not cover
  int wantStatus;
  std::string floorNote;
  double quickTargetMs = 0;       // the most a run with -q may take; 0: no target
  std::vector<std::string> simArgs = {};  // more options for the simulator
  std::vector<std::string> options = {};  // atsms options before PORT (besides -q)
  int quickLines = -1;                    // command lines with -q, when they differ
  int LinesWith(bool quick) const { return quick && quickLines >= 0 ? quickLines : commandLines; }
};

struct Run {
  double wallMs = 0;
  double cpuMs = 0;
  long maxRssKiB = 0;
  int status = -1;
  int commandLines = 0;
};

[[noreturn]] void Die(const std::string& what) {
  fprintf(stderr, "atsms-bench: %s\n", what.c_str());
  exit(2);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<Operation> Operations() {
  // Preparation: AT, ATE0, AT+CSCS and, for the message commands, AT+CPMS: one answer each.
  const int prepare = 4;
  const int listing = prepare + 2;  // AT+CMGF=0, AT+CMGL=4
  std::vector<Operation> ops;
  // With -q a listing comes from the CMGL answer alone, and "del all" deletes the unread ones (every
  // index but 1, 4, 7, 10 of the 10; every odd one of the full SIM) one by one, then the rest with
  // one AT+CMGD=1,3.
  ops.push_back({"sim list (10 stored)", {"sim", "list"}, true, listing + 1 + StoredMessages,
                 listing + 1 + StoredMessages, 0, StoredMessages,
                 "prepare 4 + CMGF + CMGL + CMGF + 10 CMGR answers x 0.5 s", 250, {}, {}, listing});
  ops.push_back({"sim del all (10)", {"sim", "del", "all"}, true, listing + StoredMessages,
                 listing + StoredMessages, 0, StoredMessages, "prepare 4 + CMGF + CMGL + 10 CMGD answers x 0.5 s",
                 250, {}, {}, listing + 6 + 1});
  ops.push_back({"sim list (full SIM 30)", {"sim", "list"}, false, listing + 1 + FullSim, listing + 1 + FullSim, 0,
                 FullSim, "prepare 4 + CMGF + CMGL + CMGF + 30 CMGR answers x 0.5 s", 0, {"--fill", "SM:30"}, {},
                 listing});
  ops.push_back({"sim del all (full 30)", {"sim", "del", "all"}, false, listing + FullSim, listing + FullSim, 0,
                 FullSim, "prepare 4 + CMGF + CMGL + 30 CMGD answers x 0.5 s", 0, {"--fill", "SM:30"}, {},
                 listing + FullSim / 2 + 1});
  ops.push_back({"sim send", {"sim", "send", "+491701234567", "'Hello from the benchmark! Grüße, Привет 😀'"}, false,
                 prepare + 3, prepare + 3, 0, 0, "prepare 4 + CMGF + prompt + CMGS answers x 0.5 s", 200});
  // AT+CUSD: "OK" at once, +CUSD 1 s later. The first wait ends 0.5 s after the "OK"; the next
  // one waits the other 0.5 s for the +CUSD and then its own 0.5 s of silence. With -q the run
  // waits for the +CUSD alone.
  ops.push_back({"ussd *100#", {"ussd", "*100#"}, false, prepare - 1 + 2, prepare - 1 + 1,
                 UssdDelayMs / 1000.0 - SilenceSeconds, 0,
                 "prepare 3 + OK + CUSD answers x 0.5 s + 0.5 s left of the 1 s +CUSD delay", UssdDelayMs + 100.0});
  return ops;
}

// 255 parts in the phone memory: 85 messages of 3 UCS-2 parts each, or one message of 16 GSM 7-bit
// parts followed by 239 messages of one SMS.
constexpr int PartsStored = 255;
void WritePartsStore(const std::string& path, bool sixteen) {
  std::ofstream out(path);
  const std::string date = "\t24/05/01,10:20:30+08\t";
  if (!sixteen) {
    for (int m = 0; m < PartsStored / 3; ++m) {
      std::string text = "Сообщение " + std::to_string(m + 1) + " из трёх частей: ";
      size_t units = 0;  // UTF-16 units: every character here is one, and starts with a non-continuation byte
      for (unsigned char c : text) units += (c & 0xC0) != 0x80;
      for (; units < 170; units += 6) text += "текст ";  // 135 to 201 units make three parts of 67
      out << "LONG\tME\t" << 3 * m + 1 << "\tREC UNREAD\t+4917012" << 10000 + m << date << "ucs2\t" << text << '\n';
    }
  } else {
    std::string text = "One message of sixteen parts. ";
    while (text.size() < 15 * 153 + 100) text += "The quick brown fox jumps over the lazy dog. ";
    out << "LONG\tME\t1\tREC UNREAD\t+491701200000" << date << "gsm7\t" << text << '\n';
    for (int i = 17; i <= PartsStored; ++i)
      out << "ME\t" << i << "\tREC READ\t+4917012" << 10000 + i << date << "Message " << i << '\n';
  }
  if (!out)
    Die("cannot write " + path);
}

// A full SIM of 30 messages of 160 characters, all read or all unread.
void WriteFullSimStore(const std::string& path, const char* status) {
  std::ofstream out(path);
  for (int i = 1; i <= FullSim; ++i) {
    std::string text = "Message " + std::to_string(i) + ": ";
    while (text.size() < 160) text += "The quick brown fox jumps over the lazy dog. ";
    out << "SM\t" << i << '\t' << status << "\t+4917012" << 10000 + i << "\t24/05/01,10:20:30+08\t" << text.substr(0, 160)
        << '\n';
  }
  if (!out)
    Die("cannot write " + path);
}

void WriteStore(const std::string& path) {
  const char* texts[] = {
      "Hello!\\nSee you at 8 at the station.",
      "Привет! Как дела? Позвони мне вечером.",
      "Your balance is 12.34 EUR. Top up now 👍",
      "Καλημέρα! Ready for the trip? 😀",
      "Your code is 482913. Do not share it.",
      "Paket wird heute zwischen 10 und 14 Uhr zugestellt.",
      "会議は午後3時からです。",
      "Missed call from +441632960123 at 09:14",
      "Rendez-vous confirmé pour jeudi à 15h.",
      "OK 👍",
  };
  std::ofstream out(path);
  for (int i = 0; i < StoredMessages; ++i)
    out << "SM\t" << i + 1 << '\t' << (i % 3 ? "REC UNREAD" : "REC READ") << "\t+4917012345" << 10 + i
        << "\t24/05/" << (i < 9 ? "0" : "") << i + 1 << ",10:20:30+08\t" << texts[i] << '\n';
  if (!out)
    Die("cannot write " + path);
}

// Starts modem-sim and reads the pty path from its first line of output.
pid_t StartSimulator(const std::string& sim, const std::vector<std::string>& args, std::string* port) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0)
    Die("pipe: " + std::string(strerror(errno)));
  pid_t pid = fork();
  if (pid < 0)
    Die("fork: " + std::string(strerror(errno)));
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(sim.c_str()));
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(sim.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos) {
    int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd p{pipeFds[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0)
      Die("modem-sim printed no port path");
    char buffer[256];
    ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0)
      Die("modem-sim ended before printing its port path");
    line.append(buffer, (size_t)got);
  }
  close(pipeFds[0]);
  *port = line.substr(0, line.find('\n'));
  return pid;
}

void StopSimulator(pid_t pid) {
  kill(pid, SIGTERM);
  int status;
  waitpid(pid, &status, 0);
}

// Starts program with args, standard streams on /dev/null; does not wait for it.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args) {
  pid_t pid = fork();  // not vfork: the child's peak RSS must not start from ours
  if (pid < 0)
    Die("fork: " + std::string(strerror(errno)));
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int StatusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Runs program with args, output to /dev/null; wall time and the child's own rusage.
Run Measure(const std::string& program, const std::vector<std::string>& args) {
  Run run;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = Spawn(program, args);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid)
    Die("wait4: " + std::string(strerror(errno)));
  auto end = std::chrono::steady_clock::now();
  run.wallMs = std::chrono::duration<double, std::milli>(end - start).count();
  run.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  run.maxRssKiB = usage.ru_maxrss;
  run.status = StatusOf(status);
  return run;
}

// Command lines the simulator logged as received ("HH:MM:SS.mmm <- ...", not the ignored ones).
int CountCommandLines(const std::string& log) {
  std::ifstream in(log);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.size() > 13 && line.compare(13, 3, "<- ") == 0 && line.find("(ignored)") == std::string::npos)
      ++count;
  return count;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
    return out;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, got);
  pclose(pipe);
  return out;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The strip program a build was configured with (a cross build's own), else "strip".
std::string StripProgram(const std::string& build) {
  std::ifstream cache(build + "/CMakeCache.txt");
  for (std::string line; std::getline(cache, line);)
    if (line.rfind("CMAKE_STRIP:", 0) == 0) {
      std::string path = line.substr(line.find('=') + 1);
      if (!path.empty() && access(path.c_str(), X_OK) == 0)
        return path;
    }
  return "strip";
}

struct Footprint {
  std::string machine;
  long stripped = -1;
  long unstripped = -1;
  std::string needed;
  bool onlyLibc = false;
  bool x86_64 = false;
};

Footprint MeasureBinary(const std::string& build) {
  Footprint f;
  std::string atsms = build + "/atsms";
  struct stat st;
  if (stat(atsms.c_str(), &st) != 0)
    return f;
  f.unstripped = (long)st.st_size;
  char temp[] = "/tmp/atsms-bench-strip-XXXXXX";
  int fd = mkstemp(temp);
  if (fd < 0)
    return f;
  close(fd);
  std::string strip = StripProgram(build);
  if (system((Quote(strip) + " -o " + Quote(temp) + " " + Quote(atsms) + " 2>/dev/null").c_str()) == 0 &&
      stat(temp, &st) == 0)
    f.stripped = (long)st.st_size;
  unlink(temp);

  std::istringstream header(Capture("readelf -h " + Quote(atsms) + " 2>/dev/null"));
  std::string data;
  for (std::string line; std::getline(header, line);) {
    auto value = [&line] {
      size_t colon = line.find(':');
      size_t start = line.find_first_not_of(' ', colon + 1);
      return start == std::string::npos ? std::string() : line.substr(start);
    };
    if (line.find("Machine:") != std::string::npos)
      f.machine = value();
    if (line.find("Data:") != std::string::npos)
      data = line.find("big endian") != std::string::npos ? "BE" : "LE";
  }
  f.x86_64 = f.machine.find("X86-64") != std::string::npos;
  if (f.machine.rfind("Advanced Micro Devices ", 0) == 0)
    f.machine = f.machine.substr(23);
  f.machine += " " + data;

  std::istringstream dynamic(Capture("readelf -d " + Quote(atsms) + " 2>/dev/null"));
  std::vector<std::string> libs;
  for (std::string line; std::getline(dynamic, line);) {
    size_t open = line.find("(NEEDED)");
    size_t lb = line.find('['), rb = line.find(']');
    if (open != std::string::npos && lb != std::string::npos && rb > lb)
      libs.push_back(line.substr(lb + 1, rb - lb - 1));
  }
  for (const std::string& lib : libs)
    f.needed += (f.needed.empty() ? "" : ", ") + lib;
  if (libs.empty())
    f.needed = "none (static)";
  f.onlyLibc = libs.size() == 1 && libs[0].rfind("libc.so", 0) == 0;
  return f;
}

const char* Mark(bool ok) { return ok ? "yes" : "NO"; }

// Medians of runs of one operation, each against a freshly started simulator.
struct Figures {
  double wallMs = 0;
  double cpuMs = 0;
  long maxRssKiB = 0;
  double medianRssKiB = 0;  // the C library's pages make up most of it and vary from run to run
  std::vector<int> statuses;
  int linesSeen = 0;  // the first count of command lines that differs from the operation's, if any
};

Figures MeasureOperation(const Operation& op, bool quick, int runs, const std::string& atsms, const std::string& sim,
                         const std::string& store, const std::string& log) {
  Figures f;
  std::vector<double> walls, cpus, rsses;
  const int lines = op.LinesWith(quick);
  f.linesSeen = lines;
  for (int r = 0; r < runs; ++r) {
    std::vector<std::string> simArgs = {"--log", log, "--ussd-delay", std::to_string(UssdDelayMs)};
    if (op.store) {
      simArgs.push_back("--store");
      simArgs.push_back(store);
    }
    simArgs.insert(simArgs.end(), op.simArgs.begin(), op.simArgs.end());
    std::string port;
    pid_t simPid = StartSimulator(sim, simArgs, &port);
    std::vector<std::string> args;
    if (quick)
      args.push_back("-q");
    args.insert(args.end(), op.options.begin(), op.options.end());
    args.push_back(port);
    args.insert(args.end(), op.args.begin(), op.args.end());
    Run run = Measure(atsms, args);
    StopSimulator(simPid);
    run.commandLines = CountCommandLines(log);
    walls.push_back(run.wallMs);
    cpus.push_back(run.cpuMs);
    f.maxRssKiB = std::max(f.maxRssKiB, run.maxRssKiB);
    rsses.push_back((double)run.maxRssKiB);
    f.statuses.push_back(run.status);
    if (run.commandLines != lines && f.linesSeen == lines)
      f.linesSeen = run.commandLines;
  }
  f.wallMs = Median(walls);
  f.cpuMs = Median(cpus);
  f.medianRssKiB = Median(rsses);
  return f;
}

// Milliseconds since local midnight, as modem-sim stamps its log ("HH:MM:SS.mmm").
double LocalMsOfDay(std::chrono::system_clock::time_point when) {
  time_t seconds = std::chrono::system_clock::to_time_t(when);
  tm local{};
  localtime_r(&seconds, &local);
  double millis = std::chrono::duration<double, std::milli>(when.time_since_epoch()).count();
  return (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1e3 + std::fmod(millis, 1000.0);
}

// When each run's first command line ("AT\r", the probe) reached the simulator, in log order.
std::vector<double> ProbeTimes(const std::string& log) {
  std::vector<double> times;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    int h, m, sec, ms;
    const std::string probe = " <- AT\\r";  // "HH:MM:SS.mmm" and the probe, its CR written out
    if (line.size() == 12 + probe.size() && line.compare(12, probe.size(), probe) == 0 &&
        sscanf(line.c_str(), "%d:%d:%d.%d", &h, &m, &sec, &ms) == 4)
      times.push_back((h * 3600 + m * 60 + sec) * 1e3 + ms);
  }
  return times;
}

struct Sharing {
  int runs = 0;
  double wallMs = 0;       // from the first start to the last end
  double ownMsSum = 0;     // each run's own time: from its first command to its close
  double medianGapMs = 0;  // from one run's close to the next run's first command
  double maxGapMs = 0;
  int wrongStatuses = 0;
  int deliveredSms = 0;
  bool matched = false;    // one probe per run: the runs could be told apart in the log
  bool byLockFile = false; // the closes were seen as the lock files' removals
};

// Runs started at once on one simulated modem, all with -q -w 60; they take turns on the port.
Sharing MeasureSharing(const std::string& atsms, const std::string& sim, const std::string& store, const std::string& log) {
  struct Kind { std::vector<std::string> args; int status; };
  const Kind kinds[] = {{{"sim", "list"}, StoredMessages},
                        {{"sim", "send", "+491701234567", "Hello from a shared port"}, 0},
                        {{"ussd", "*100#"}, 0}};
  constexpr int Runs = 20;
  std::string port;
  pid_t simPid = StartSimulator(sim, {"--log", log, "--ussd-delay", std::to_string(UssdDelayMs), "--store", store}, &port);
  Sharing s;
  s.runs = Runs;
  // A run removes its lock file right before it closes the port: that is when the next may go on.
  std::string lockName = "LCK.." + port.substr(port.rfind("/dev/", 0) == 0 ? 5 : 0);
  std::replace(lockName.begin(), lockName.end(), '/', '_');
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0 && inotify_add_watch(watch, "/var/lock", IN_DELETE) < 0) {
    close(watch);
    watch = -1;
  }
  std::vector<pid_t> pids;
  std::vector<int> want;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < Runs; ++i) {
    const Kind& kind = kinds[i % 3];
    std::vector<std::string> args = {"-q", "-w", "60", port};
    args.insert(args.end(), kind.args.begin(), kind.args.end());
    pids.push_back(Spawn(atsms, args));
    want.push_back(kind.status);
  }
  std::vector<double> ends;      // local ms of day, in the order the runs ended
  std::vector<double> releases;  // ... and the order their lock files were removed (just before the close)
  // Notes the removals that have come within waitMs; a removal comes before its run's end.
  auto noteReleases = [&](int waitMs) {
    pollfd p{watch, POLLIN, 0};
    while (watch >= 0 && poll(&p, 1, waitMs) > 0) {
      alignas(inotify_event) char events[4096];
      const ssize_t got = read(watch, events, sizeof events);
      const double now = LocalMsOfDay(std::chrono::system_clock::now());
      for (ssize_t at = 0; at < got;) {
        const inotify_event* e = reinterpret_cast<const inotify_event*>(events + at);
        if (e->len > 0 && lockName == e->name)
          releases.push_back(now);
        at += sizeof(inotify_event) + e->len;
      }
    }
  };
  for (int left = Runs; left > 0;) {
    if (watch >= 0)
      noteReleases(2);
    else
      usleep(1000);
    int status = 0;
    for (pid_t pid; left > 0 && (pid = waitpid(-1, &status, WNOHANG)) > 0; --left) {
      ends.push_back(LocalMsOfDay(std::chrono::system_clock::now()));
      size_t which = std::find(pids.begin(), pids.end(), pid) - pids.begin();
      if (which == pids.size() || StatusOf(status) != want[which])
        ++s.wrongStatuses;
    }
  }
  noteReleases(0);  // the last run's, when its end came first to be seen
  if (watch >= 0)
    close(watch);
  s.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  StopSimulator(simPid);
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);)
    s.deliveredSms += line.find(" SMS to ") != std::string::npos;
  // The runs hold the port one after the other, so the k-th probe, the k-th release and the k-th
  // end are one run's. Without the lock files' removals, the ends stand in for the closes.
  const std::vector<double> probes = ProbeTimes(log);
  s.byLockFile = releases.size() == ends.size();
  const std::vector<double>& closes = s.byLockFile ? releases : ends;
  s.matched = probes.size() == ends.size();
  if (!s.matched)
    return s;
  std::vector<double> gaps;
  for (size_t k = 0; k < ends.size(); ++k) {
    s.ownMsSum += closes[k] - probes[k];
    if (k + 1 < ends.size())
      gaps.push_back(probes[k + 1] - closes[k]);
  }
  s.medianGapMs = Median(gaps);
  s.maxGapMs = *std::max_element(gaps.begin(), gaps.end());
  return s;
}

// "10 (as expected)" or "10 (expected 5)": the first status, and whether every run gave the wanted one.
// One round of the service (packaging/common/atsms-service --once, run from the source tree) on an
// empty SIM whose modem takes 20 ms for each answer: the exchanges it cost, its wall time; -1
// exchanges when this atsms has no take.
struct ServiceRound { int exchanges = -1; double wallMs = 0; };
ServiceRound MeasureServiceRound(const std::string& atsms, const std::string& sim, const std::string& work,
                                 const std::string& log) {
  ServiceRound round;
  if (Capture(Quote(atsms) + " --help 2>&1").find(" take ") == std::string::npos)
    return round;
  std::string port;
  pid_t simPid = StartSimulator(sim, {"--log", log, "--answer-delay", std::to_string(SlowAnswerMs)}, &port);
  const std::string config = work + "/atsms.conf";
  std::ofstream(config) << "config modem 'bench'\n\toption enabled '1'\n\toption port '" << port
                        << "'\n\toption spool '" << work << "/spool'\n\toption command 'true'\n";
  setenv("ATSMS_CONFIG", config.c_str(), 1);
  setenv("ATSMS", atsms.c_str(), 1);
  Run run = Measure("/bin/sh", {"packaging/common/atsms-service", "--once"});
  StopSimulator(simPid);
  round.exchanges = CountCommandLines(log);
  round.wallMs = run.wallMs;
  Capture("rm -rf " + Quote(work + "/spool"));
  unlink(config.c_str());
  return round;
}

std::string StatusNote(const std::vector<int>& statuses, int want) {
  bool ok = true;
  for (int s : statuses)
    ok = ok && s == want;
  return std::to_string(statuses.front()) + (ok ? " (as expected)" : " (expected " + std::to_string(want) + ")");
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::vector<std::string> builds;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = atoi(argv[++i]);
      if (runs < 1 || runs > 100)
        Die("--runs wants 1 to 100");
    } else if (!arg.empty() && arg[0] == '-') {
      fprintf(stderr, "usage: atsms-bench [--runs N] BUILD_DIR [OTHER_BUILD_DIR...]\n");
      return 2;
    } else {
      builds.push_back(arg);
    }
  }
  if (builds.empty()) {
    fprintf(stderr, "usage: atsms-bench [--runs N] BUILD_DIR [OTHER_BUILD_DIR...]\n");
    return 2;
  }
  const std::string atsms = builds[0] + "/atsms";
  const std::string sim = builds[0] + "/tools/modem-sim/modem-sim";
  if (!IsFile(atsms) || !IsFile(sim))
    Die(builds[0] + " has no atsms or tools/modem-sim/modem-sim: build them first");
  signal(SIGPIPE, SIG_IGN);

  char dirTemplate[] = "/tmp/atsms-bench-XXXXXX";
  if (!mkdtemp(dirTemplate))
    Die("mkdtemp: " + std::string(strerror(errno)));
  const std::string work = dirTemplate;
  const std::string store = work + "/store.txt";
  const std::string log = work + "/modem.log";
  WriteStore(store);

  printf("atsms benchmark: %s against modem-sim on a pseudo-terminal, %d run%s each, medians\n", atsms.c_str(), runs,
         runs == 1 ? "" : "s");
  printf("floor: the silence windows atsms waits by design (%.1f s after each answer) plus the simulator's delays\n\n",
         SilenceSeconds);
  printf("%-22s %7s %10s %10s %8s %7s %7s %9s  %s\n", "operation", "answers", "wall ms", "floor ms", "over ms",
         "over %", "CPU ms", "RSS KiB", "exit status");

  bool overheadOk = true, cpuOk = true, rssOk = true, fullOverheadOk = true;
  long worstRss = 0, fullSimRss = 0;
  double worstCpu = 0, worstOverMs = 0, worstOverPct = 0, fullOverMs = 0, fullOverPct = 0;
  std::vector<std::string> notes;
  std::vector<std::pair<Figures, Figures>> sideBySide;  // without and with -q
  const std::vector<Operation> ops = Operations();
  for (const Operation& op : ops) {
    Figures plain = MeasureOperation(op, false, runs, atsms, sim, store, log);
    Figures quick = MeasureOperation(op, true, runs, atsms, sim, store, log);
    double floorMs = (op.answers * SilenceSeconds + op.extraSeconds) * 1e3;
    double overMs = plain.wallMs - floorMs;
    double overPct = overMs / floorMs * 100;
    printf("%-22s %7d %10.1f %10.1f %8.1f %7.2f %7.2f %9ld  %s\n", op.name.c_str(), op.answers, plain.wallMs, floorMs,
           overMs, overPct, plain.cpuMs, plain.maxRssKiB, StatusNote(plain.statuses, op.wantStatus).c_str());
    notes.push_back(op.name + ": " + op.floorNote);
    for (const Figures* f : {&plain, &quick})
      if (f->linesSeen != op.LinesWith(f == &quick))
        notes.push_back("  the simulator received " + std::to_string(f->linesSeen) + " command lines, not " +
                        std::to_string(op.LinesWith(f == &quick)) +
                        (f == &quick ? " (with -q)" : ": the floor above is off"));
    if (op.simArgs.empty()) {
      overheadOk = overheadOk && overMs < 20 && overPct < 1;
      worstOverMs = std::max(worstOverMs, overMs);
      worstOverPct = std::max(worstOverPct, overPct);
    } else {  // twice the answers: judged by the share of the floor
      fullOverheadOk = fullOverheadOk && overPct < 1;
      fullOverMs = std::max(fullOverMs, overMs);
      fullOverPct = std::max(fullOverPct, overPct);
      fullSimRss = std::max(fullSimRss, plain.maxRssKiB);
    }
    for (const Figures* f : {&plain, &quick}) {
      rssOk = rssOk && f->maxRssKiB < 2048;
      worstRss = std::max(worstRss, f->maxRssKiB);
      if (!op.simArgs.empty()) continue;  // three times the answers, and the CPU time with them
      cpuOk = cpuOk && f->cpuMs < 5;
      worstCpu = std::max(worstCpu, f->cpuMs);
    }
    sideBySide.emplace_back(plain, quick);
  }
  for (const std::string& note : notes)
    printf("  %s\n", note.c_str());
  Run baseline = Measure("/bin/true", {});
  printf("  for scale: /bin/true started the same way: CPU %.2f ms, peak RSS %ld KiB\n", baseline.cpuMs,
         baseline.maxRssKiB);

  printf("\nwithout and with -q (quick mode: an answer ends at its final result code), medians\n");
  printf("%-22s %10s %10s %10s %7s %7s %9s %9s  %s\n", "operation", "wall ms", "-q wall ms", "-q target", "CPU ms",
         "-q CPU", "RSS KiB", "-q RSS", "-q exit status");
  bool quickOk = true;
  std::string quickWorst;
  for (size_t i = 0; i < ops.size(); ++i) {
    const Operation& op = ops[i];
    const Figures& plain = sideBySide[i].first;
    const Figures& quick = sideBySide[i].second;
    char target[32] = "-";
    if (op.quickTargetMs > 0) {
      bool met = quick.wallMs <= op.quickTargetMs;
      snprintf(target, sizeof target, "%.0f %s", op.quickTargetMs, Mark(met));
      quickOk = quickOk && met;
      if (!met)
        quickWorst += (quickWorst.empty() ? "" : ", ") + op.name;
    }
    printf("%-22s %10.1f %10.1f %10s %7.2f %7.2f %9ld %9ld  %s\n", op.name.c_str(), plain.wallMs, quick.wallMs, target,
           plain.cpuMs, quick.cpuMs, plain.maxRssKiB, quick.maxRssKiB, StatusNote(quick.statuses, op.wantStatus).c_str());
  }
  printf("\n");

  // 255 parts with -q (without it, 255 silences of 0.5 s each), with and without --join.
  printf("a phone memory of %d stored parts, listed with -q, medians\n", PartsStored);
  printf("%-38s %9s %10s %7s %9s %9s  %s\n", "operation", "exchanges", "wall ms", "CPU ms", "RSS KiB", "worst", "exit status");
  bool sameExchanges = true;
  double partsRss = 0;  // of the runs with --join: the higher median
  long partsWorst = 0;
  for (bool sixteen : {false, true}) {
    const std::string partsStore = work + (sixteen ? "/sixteen.txt" : "/threes.txt");
    WritePartsStore(partsStore, sixteen);
    const int lines = 4 + 2;  // prepare, CMGF, CMGL: every part comes from its PDU in the listing
    int seen[2] = {0, 0};
    for (bool join : {false, true}) {
      Operation op{std::string(sixteen ? "tel list 16 parts + 239 single" : "tel list 85 x 3 parts") +
                       (join ? " --join" : ""),
                   {"tel", "list"}, false, lines, lines, 0, PartsStored, "", 0,
                   {"--store", partsStore, "--capacity", "ME:255"}};
      if (join)
        op.options.push_back("--join");
      Figures f = MeasureOperation(op, true, runs, atsms, sim, store, log);
      seen[join] = f.linesSeen;
      if (join) {
        partsRss = std::max(partsRss, f.medianRssKiB);
        partsWorst = std::max(partsWorst, f.maxRssKiB);
      }
      printf("%-38s %9d %10.1f %7.2f %9.0f %9ld  %s\n", op.name.c_str(), f.linesSeen, f.wallMs, f.cpuMs, f.medianRssKiB,
             f.maxRssKiB, StatusNote(f.statuses, op.wantStatus).c_str());
    }
    sameExchanges = sameExchanges && seen[0] == seen[1];
    unlink(partsStore.c_str());
  }
  printf("\n");

  // Full storages with -q on a modem that takes 20 ms for each answer, as real ones take 30 to 150 ms
  // for a SIM read: one listing answer lists them; del all deletes the unread ones one by one and the
  // rest with one command, take deletes what it printed the same way.
  printf("full storages with -q, the modem answering each command after %d ms, medians\n", SlowAnswerMs);
  printf("%-38s %9s %10s %10s %7s %9s  %s\n", "operation", "exchanges", "wall ms", "target", "CPU ms", "RSS KiB",
         "exit status");
  const std::string readStore = work + "/read30.txt", unreadStore = work + "/unread30.txt";
  WriteFullSimStore(readStore, "REC READ");
  WriteFullSimStore(unreadStore, "REC UNREAD");
  struct FullCase { const char* name; std::vector<std::string> args; std::vector<std::string> contents; int lines;
                    int maxLines; double maxMs; };
  const std::string delay = std::to_string(SlowAnswerMs);
  const FullCase fullCases[] = {
      {"sim list (30 stored)", {"sim", "list"}, {"--fill", "SM:30", "--capacity", "SM:30"}, 6, 8, 250},
      {"sim del all (30 stored, 15 unread)", {"sim", "del", "all"}, {"--fill", "SM:30", "--capacity", "SM:30"},
       6 + 15 + 1, 0, 0},
      {"sim del all (30 read)", {"sim", "del", "all"}, {"--store", readStore, "--capacity", "SM:30"}, 7, 8, 250},
      {"sim take (30 unread)", {"sim", "take"}, {"--store", unreadStore, "--capacity", "SM:30"}, 6 + 30, 6 + 30, 0},
      {"tel list (255 stored)", {"tel", "list"}, {"--fill", "ME:255", "--capacity", "ME:255"}, 6, 0, 0},
      {"tel del all (255 stored, 128 unread)", {"tel", "del", "all"}, {"--fill", "ME:255", "--capacity", "ME:255"},
       6 + 128 + 1, 0, 0},
  };
  bool fullQuickOk = true;
  for (const FullCase& c : fullCases) {
    std::vector<std::string> simArgs = {"--answer-delay", delay};
    simArgs.insert(simArgs.end(), c.contents.begin(), c.contents.end());
    Operation op{c.name, c.args, false, c.lines, c.lines, 0, c.args[0] == "tel" ? PartsStored : FullSim, "", 0, simArgs};
    Figures f = MeasureOperation(op, true, runs, atsms, sim, store, log);
    char target[32] = "-";
    if (c.maxLines > 0) {
      const bool met = f.linesSeen <= c.maxLines && (c.maxMs <= 0 || f.wallMs <= c.maxMs);
      if (c.maxMs > 0)
        snprintf(target, sizeof target, "%d, %.0f %s", c.maxLines, c.maxMs, Mark(met));
      else
        snprintf(target, sizeof target, "%d %s", c.maxLines, Mark(met));
      fullQuickOk = fullQuickOk && met;
    }
    printf("%-38s %9d %10.1f %10s %7.2f %9.0f  %s\n", op.name.c_str(), f.linesSeen, f.wallMs, target, f.cpuMs,
           f.medianRssKiB, StatusNote(f.statuses, op.wantStatus).c_str());
  }
  unlink(readStore.c_str());
  unlink(unreadStore.c_str());
  printf("\n");

  const ServiceRound service = MeasureServiceRound(atsms, sim, work, log);
  if (service.exchanges < 0)
    printf("the service, one round of an empty SIM: not measured (this atsms has no take)\n\n");
  else
    printf("the service, one round of an empty SIM (atsms-service --once, the modem answering after %d ms): "
           "%d exchanges, %.1f ms wall\n\n", SlowAnswerMs, service.exchanges, service.wallMs);

  const Sharing shared = MeasureSharing(atsms, sim, store, log);
  printf("one port, %d runs started at once (-q -w 60: list, send and ussd in turn), taking turns\n", shared.runs);
  if (shared.matched) {
    const char* close = shared.byLockFile ? "close (its lock file removed)" : "end (exit)";
    printf("  total wall %.1f ms; the runs' own times (first command to %s) add up to %.1f ms (%.1f %%)\n",
           shared.wallMs, close, shared.ownMsSum, shared.ownMsSum / shared.wallMs * 100);
    printf("  hand-over, from one run's %s to the next run's first command: median %.1f ms, longest %.1f ms\n",
           close, shared.medianGapMs, shared.maxGapMs);
  } else {
    printf("  total wall %.1f ms; the runs could not be told apart in the simulator's log\n", shared.wallMs);
  }
  printf("  exit statuses %s; SMS the simulator logged: %d (one per send: %d)\n\n",
         shared.wrongStatuses == 0 ? "all as expected" : (std::to_string(shared.wrongStatuses) + " unexpected").c_str(),
         shared.deliveredSms, (shared.runs + 1) / 3);

  printf("%-28s %-16s %12s %20s  %s\n", "build", "machine", "atsms bytes", "stripped bytes", "NEEDED");
  bool sizeOk = false, sizeSeen = false;
  long x86Stripped = -1;
  for (const std::string& build : builds) {
    Footprint f = MeasureBinary(build);
    if (f.unstripped < 0) {
      printf("%-28s (no atsms)\n", build.c_str());
      continue;
    }
    char stripped[32];
    snprintf(stripped, sizeof stripped, "%ld (%.1f KiB)", f.stripped, f.stripped / 1024.0);
    printf("%-28s %-16s %12ld %20s  %s\n", build.c_str(), f.machine.c_str(), f.unstripped, stripped, f.needed.c_str());
    if (f.x86_64 && !sizeSeen) {
      sizeSeen = true;
      x86Stripped = f.stripped;
      sizeOk = f.stripped >= 0 && f.stripped < 72 * 1024 && f.onlyLibc;
    }
  }

  printf("\ntargets:\n");
  printf("  overhead above the floor < 1 %% and < 20 ms   %-3s (worst %.1f ms, %.2f %%)\n", Mark(overheadOk), worstOverMs,
         worstOverPct);
  printf("  full SIM: overhead above the floor < 1 %%      %-3s (worst %.1f ms, %.2f %%)\n", Mark(fullOverheadOk),
         fullOverMs, fullOverPct);
  printf("  CPU time < 5 ms per run (not the full SIM)   %-3s (worst median %.2f ms)\n", Mark(cpuOk), worstCpu);
  printf("  peak RSS < 2 MiB                              %-3s (worst %ld KiB)\n", Mark(rssOk), worstRss);
  printf("  full SIM: peak RSS <= 1.5 MiB                 %-3s (worst %ld KiB)\n", Mark(fullSimRss <= 1536),
         fullSimRss);
  printf("  255 parts, --join: exchanges as without it    %-3s\n", Mark(sameExchanges));
  printf("  255 parts, --join: peak RSS <= 1.5 MiB        %-3s (median %.0f KiB, worst run %ld KiB)\n",
         Mark(partsRss <= 1536), partsRss, partsWorst);
  printf("  full SIM of 30 with -q at 20 ms an answer: list and del all of read ones <= 8 exchanges and <= 0.25 s,\n"
         "    take of unread ones <= 6 + 30 exchanges   %-3s\n",
         Mark(fullQuickOk));
  printf("  with -q, each run within its target above     %-3s%s\n", Mark(quickOk),
         quickWorst.empty() ? "" : (" (over: " + quickWorst + ")").c_str());
  if (sizeSeen)
    printf("  stripped x86-64 atsms < 72 KiB, only libc     %-3s (%ld bytes)\n", Mark(sizeOk), x86Stripped);
  if (service.exchanges >= 0)
    printf("  the service's empty round <= 6 exchanges        %-3s (%d)\n", Mark(service.exchanges <= 6),
           service.exchanges);
  printf("  one port shared: median hand-over <= 50 ms     %-3s (%.1f ms)\n",
         Mark(shared.matched && shared.medianGapMs <= 50), shared.medianGapMs);

  unlink(store.c_str());
  unlink(log.c_str());
  rmdir(work.c_str());
  return 0;
}
