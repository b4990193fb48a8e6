#include "serial/port.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "serial/errno_text.h"
#include "serial/monotonic.h"
#include "serial/port_lock.h"

namespace {

termios SavedPortSettings;  // exactly as read at open; put back at close
termios PortSettings;       // what the port runs with meanwhile
volatile sig_atomic_t RestorePort = -1;  // descriptor the signal handler restores, or -1
volatile sig_atomic_t PromptOpen = 0;    // the modem waits for a PDU that a signal would leave unfinished
const char* volatile SignalNote = nullptr;  // a line for standard error should a signal end the run
volatile sig_atomic_t SignalNoteLength = 0;
int WasExclusive = 0;  // exclusive use is a flag of the device, not of our descriptor
constexpr long RetryMicros = 10000;  // while another program holds the port: how often to look again

// Puts back what the run changed; safe inside a signal handler.
void Restore(int port) {
  tcsetattr(port, TCSANOW, &SavedPortSettings);
  if (!WasExclusive) ioctl(port, TIOCNXCL);  // others holding the device may open it again
}

void PauseBeforeRetry() {
  const timespec pause = {0, RetryMicros * 1000};
  nanosleep(&pause, nullptr);
}

// text with control characters shown as '?', so that it cannot break the line it stands in.
void PutPrintable(const char* text, FILE* out = stderr) {
  for (const unsigned char* c = (const unsigned char*)text; *c; ++c) fputc(*c < 0x20 || *c == 0x7F ? '?' : *c, out);
}

void ReportOpenError(const char* path) {
  const int error = errno;
  PrintOpenFailure(stderr, path, error);
}

// "atsms: PORT is in use by NAME (pid N)", the name from /proc; without one, "by another program".
void ReportInUse(const char* path, int holder) {
  char name[64] = "";
  if (holder > 0) {
    char comm[32];
    snprintf(comm, sizeof comm, "/proc/%d/comm", holder);
    const int fd = open(comm, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      const ssize_t got = read(fd, name, sizeof name - 1);
      close(fd);
      name[got > 0 ? got : 0] = '\0';
      name[strcspn(name, "\n")] = '\0';
    }
  }
  fputs("atsms: ", stderr);
  PutPrintable(path);
  if (name[0] != '\0') {
    fputs(" is in use by ", stderr);
    PutPrintable(name);
    fprintf(stderr, " (pid %d)\n", holder);
  } else {
    fputs(" is in use by another program\n", stderr);
  }
}

// "atsms: cannot lock PORT: /var/lock/LCK..NAME is not a lock file (a FIFO)"
void ReportNotALockFile(const char* path, const LockHolder& holder) {
  fputs("atsms: cannot lock ", stderr);
  PutPrintable(path);
  fputs(": ", stderr);
  PutPrintable(holder.lockPath);
  fprintf(stderr, " is not a lock file (%s)\n", holder.kind);
}

speed_t SpeedCode(int speed) {
  struct { int baud; speed_t code; } const speeds[] = {
      {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
      {19200, B19200}, {38400, B38400}, {57600, B57600},   {115200, B115200},
      {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& s : speeds)
    if (s.baud == speed) return s.code;
  return B9600;
}

// A signal must not leave the port raw for the next program: put the saved settings back
// and end at once, so nothing more reaches the modem.
void RestoreAndExit(int sig) {
  if (RestorePort >= 0 && PromptOpen && write(RestorePort, "\x1b", 1) == 1) tcdrain(RestorePort);
  if (SignalNote && write(STDERR_FILENO, SignalNote, (size_t)SignalNoteLength) < 0) {
    // nobody reads standard error: the exit status still tells the signal
  }
  if (RestorePort >= 0) Restore(RestorePort);
  DropLockFile();
  _exit(128 + sig);
}

void CatchSignals() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = RestoreAndExit;
  sigfillset(&action.sa_mask);
  // Every signal whose default action ends the process, but SIGPIPE: the front end ignores it, so
  // that a reader of our output that went away is a write error, said in its line.
  // A signal ignored at start (nohup, a background job) stays ignored, as whoever started us asked.
  const int signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2};
  for (int sig : signals) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
  }
}

}  // namespace

void PrintOpenFailure(FILE* out, const char* path, int error) {
  fprintf(out, "%i(%s)\natsms: cannot open ", error, ErrnoText(error));
  PutPrintable(path, out);
  if (error == ENOTTY || error == EISDIR) {  // a file, a fifo, /dev/null, a directory
    fputs(": not a serial port\n", out);
    return;
  }
  fputs(": ", out);
  fputs(ErrnoText(error), out);
  if (error == ENOENT || error == ENODEV || error == ENXIO)  // no device node, or none behind it
    fputs("; is the modem plugged in?", out);
  else if (error == EACCES)
    fputs("; is this user in the group that owns it (dialout)?", out);
  fputc('\n', out);
}

int OpenPort(const char* path, int speed, int waitSeconds) {
  CatchSignals();  // from here on a signal removes our lock file, and once the port is changed, restores it
  const long long deadline = MonotonicMicros() + waitSeconds * 1000000LL;
  int port = -1;
  for (;;) {
    if (port < 0) {
      // Non-blocking for the whole run: no read or write may wait past its bounds, whatever another
      // program does to the terminal's settings (and opening waits for no carrier either).
      port = open(path, O_RDWR | O_EXCL | O_NOCTTY | O_NONBLOCK);
      if (port < 0) {
        if (errno == EBUSY && MonotonicMicros() < deadline) {  // exclusive use by a program without root
          PauseBeforeRetry();
          continue;
        }
        ReportOpenError(path);
        return -1;
      }
      if (!isatty(port)) {  // a regular file, /dev/null, a fifo: refuse before writing anything
        close(port);
        errno = ENOTTY;
        ReportOpenError(path);
        return -1;
      }
    }
    // Before the settings are read or changed and before anything is written. The descriptor stays
    // open while we wait, so that the holder's close never hangs the line up.
    LockHolder holder;
    const LockResult lock = TakePortLock(port, path, &holder);
    if (lock == LockTaken) break;
    if (lock == LockNotAFile) {  // no wait ends it: someone has to remove it
      close(port);
      ReportNotALockFile(path, holder);
      return -1;
    }
    if (MonotonicMicros() >= deadline) {
      close(port);
      ReportInUse(path, holder.pid);
      return -1;
    }
    PauseBeforeRetry();
  }
#ifdef TIOCGEXCL
  ioctl(port, TIOCGEXCL, &WasExclusive);
#endif
  tcgetattr(port, &PortSettings);
  SavedPortSettings = PortSettings;
  RestorePort = port;  // from here on a signal puts the port back
  ioctl(port, TIOCEXCL);
  fcntl(port, F_SETFL, O_NONBLOCK);

  cfmakeraw(&PortSettings);
  cfsetspeed(&PortSettings, SpeedCode(speed));
  PortSettings.c_cc[VTIME] = 0;
  PortSettings.c_cc[VMIN] = 0;
  PortSettings.c_iflag = 0;
  PortSettings.c_oflag = 0;
  PortSettings.c_lflag = 0;
  // 8N1, receiver on, modem lines ignored; no HUPCL, no CRTSCTS. Keep the speed bits just set.
  PortSettings.c_cflag = (PortSettings.c_cflag & CBAUD) | CS8 | CREAD | CLOCAL;
  tcsetattr(port, TCSANOW, &PortSettings);
  return port;
}

void ClosePort(int port) {
  tcdrain(port);
  Restore(port);
  RestorePort = -1;  // after Restore: a signal in between only restores once more
  ReleasePortLock(port);  // only now: the next run must find the settings put back
  close(port);
}

void SetPromptOpen(bool open) { PromptOpen = open; }

void SetSignalNote(const char* line) {
  SignalNote = nullptr;  // never a pointer with another line's length
  SignalNoteLength = line ? (sig_atomic_t)strlen(line) : 0;
  SignalNote = line;
}
