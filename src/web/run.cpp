#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "web/bridge.h"

namespace {

void CloseBoth(int* pipe) {
  if (pipe[0] >= 0) close(pipe[0]);
  if (pipe[1] >= 0) close(pipe[1]);
}

void SayCannotRun(ReasonReader* reader, const char* program, int error) {
  snprintf(reader->reason, sizeof reader->reason, "cannot run %s: %s", program, strerror(error));
  reader->fromAtsms = true;
}

// In the child: standard input from /dev/null, output and errors to the pipes, then atsms.
[[noreturn]] void Exec(const char* const* argv, int out, int err, int report) {
  static const char* const Environment[] = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", nullptr};
  const int devNull = open("/dev/null", O_RDONLY);
  if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
    const int error = errno;
    if (write(report, &error, sizeof error) < 0) _exit(127);
    _exit(127);
  }
  signal(SIGPIPE, SIG_DFL);
  execve(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(Environment));
  const int error = errno;
  if (write(report, &error, sizeof error) < 0) _exit(127);  // report is close-on-exec: silent on success
  _exit(127);
}

}  // namespace

int RunAtsms(const char* const* argv, char* output, size_t outputSize, size_t* outputLength, bool* truncated,
             ReasonReader* reader) {
  *outputLength = 0;
  *truncated = false;
  int out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0 || pipe2(report, O_CLOEXEC) < 0) {
    SayCannotRun(reader, argv[0], errno);
    CloseBoth(out);
    CloseBoth(err);
    CloseBoth(report);
    return -1;
  }
  const pid_t child = fork();
  if (child < 0) {
    SayCannotRun(reader, argv[0], errno);
    CloseBoth(out);
    CloseBoth(err);
    CloseBoth(report);
    return -1;
  }
  if (child == 0) Exec(argv, out[1], err[1], report[1]);
  close(out[1]);
  close(err[1]);
  close(report[1]);

  // Both pipes at once, so that a child that fills one is never stuck while we wait on the other.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char chunk[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (pollfd& f : fds) {
      if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(f.fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        close(f.fd);
        f.fd = -1;
        --open;
        continue;
      }
      if (f.fd == out[0]) {
        const size_t room = outputSize - 1 - *outputLength;
        size_t take = (size_t)n;
        if (take > room) {  // the rest is read and dropped, so that atsms never blocks on a full pipe
          take = room;
          *truncated = true;
        }
        memcpy(output + *outputLength, chunk, take);
        *outputLength += take;
        output[*outputLength] = '\0';
      } else {
        ReadReason(reader, chunk, (size_t)n);
      }
    }
  }
  for (pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  EndReason(reader);

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int execError = 0;
  const ssize_t got = read(report[0], &execError, sizeof execError);
  close(report[0]);
  if (got == (ssize_t)sizeof execError) {
    SayCannotRun(reader, argv[0], execError);
    return -1;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
