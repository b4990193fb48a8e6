#include "serial/port.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial/errno_text.h"

namespace {

termios SavedPortSettings;  // exactly as read at open; put back at close
termios PortSettings;       // what the port runs with meanwhile
volatile sig_atomic_t RestorePort = -1;  // descriptor the signal handler restores, or -1
int WasExclusive = 0;  // exclusive use is a flag of the device, not of our descriptor

// Puts back what the run changed; safe inside a signal handler.
void Restore(int port) {
  tcsetattr(port, TCSANOW, &SavedPortSettings);
  if (!WasExclusive) ioctl(port, TIOCNXCL);  // others holding the device may open it again
}

void ReportOpenError() { fprintf(stderr, "%i(%s)\n", errno, ErrnoText(errno)); }

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
  if (RestorePort >= 0) Restore(RestorePort);
  _exit(128 + sig);
}

void CatchSignals() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = RestoreAndExit;
  sigfillset(&action.sa_mask);
  // Every signal whose default action ends the process (SIGPIPE: a reader of our output went away).
  // A signal ignored at start (nohup, a background job) stays ignored, as whoever started us asked.
  const int signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2};
  for (int sig : signals) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
  }
}

}  // namespace

int OpenPort(const char* path, int speed) {
  int port = open(path, O_RDWR | O_EXCL | O_NOCTTY);
  if (port < 0) {
    ReportOpenError();
    return -1;
  }
  if (!isatty(port)) {  // a regular file, /dev/null, a fifo: refuse before writing anything
    close(port);
    errno = ENOTTY;
    ReportOpenError();
    return -1;
  }
#ifdef TIOCGEXCL
  ioctl(port, TIOCGEXCL, &WasExclusive);
#endif
  tcgetattr(port, &PortSettings);
  SavedPortSettings = PortSettings;
  RestorePort = port;  // from here on a signal puts the port back
  CatchSignals();
  ioctl(port, TIOCEXCL);
  fcntl(port, F_SETFL, 0);

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
  close(port);
}
