#include "serial/exchange.h"

#include <errno.h>
#include <stdio.h>
#include <sys/select.h>
#include <unistd.h>

#include "serial/errno_text.h"
#include "serial/monotonic.h"

char ResponseBuffer[ResponseBufferSize + 1];

namespace {

bool Lost = false;
bool Quick = false;

void ReportLost(int error) {
  if (Lost) return;
  Lost = true;
  fprintf(stderr, "atsms: the modem is gone: %s\n", ErrnoText(error));
}

// Errors that mean the device itself is gone, not just a refused write.
bool IsGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// How long a write may wait for the port to take more bytes before it counts as failed.
constexpr long WriteStallMicros = 2000000;

// Waits up to micros for port to become readable (or writable); false on time-out or error.
bool WaitFor(int port, bool writable, long long micros) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(port, &set);
  timeval wait = {(time_t)(micros / 1000000), (suseconds_t)(micros % 1000000)};
  return select(port + 1, writable ? nullptr : &set, writable ? &set : nullptr, nullptr, &wait) > 0;
}

// Reads behind the count bytes already in ResponseBuffer until the modem has been silent for
// firstWaitMicros (0.5 s once data came), the buffer is full or, in quick mode, the awaited answer is
// whole. Yields the bytes now in ResponseBuffer, NUL-terminated.
int Collect(int port, int count, long firstWaitMicros, Awaited awaited) {
  long long windowEnd = MonotonicMicros() + firstWaitMicros;
  // select cannot watch a descriptor at or above FD_SETSIZE: treat it as a silent modem.
  while (!Lost && port >= 0 && port < FD_SETSIZE && count < ResponseBufferSize) {
    const long long left = windowEnd - MonotonicMicros();
    if (left <= 0 || !WaitFor(port, false, left)) break;
    ssize_t got = read(port, ResponseBuffer + count, ResponseBufferSize - count);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;  // nothing yet: wait out the rest of the window
    if (got <= 0) {
      ReportLost(got == 0 ? EIO : errno);  // readable but nothing to read: unplugged
      break;
    }
    count += (int)got;
    if (Quick && AnswerComplete(ResponseBuffer, count, awaited)) break;  // no silence to wait out
    windowEnd = MonotonicMicros() + 500000;  // the modem may answer in several pieces
  }
  ResponseBuffer[count] = '\0';
  return count;
}

}  // namespace

bool PortLost() { return Lost; }

int ReportSendError() {
  fprintf(stderr, "SendCmd error. %d-%s\n", errno, ErrnoText(errno));
  return -1;
}

int SendCmd(int port, const char* text) {
  if (Lost) return -1;
  const size_t length = strlen(text);
  size_t done = 0;
  long long stallEnd = MonotonicMicros() + WriteStallMicros;
  // The port is non-blocking: a full output queue takes the rest once it has room again.
  while (done < length) {
    const ssize_t written = write(port, text + done, length - done);
    if (written > 0) {
      done += (size_t)written;
      stallEnd = MonotonicMicros() + WriteStallMicros;
      continue;
    }
    const int error = written == 0 ? EAGAIN : errno;
    const long long left = stallEnd - MonotonicMicros();
    if ((error == EAGAIN || error == EINTR) && left > 0 && port < FD_SETSIZE) {
      WaitFor(port, true, left);
      continue;
    }
    errno = error;
    ReportSendError();
    if (IsGone(error)) ReportLost(error);
    return -1;
  }
  return 0;
}

void SetQuickMode(bool on) { Quick = on; }

int ReadResponse(int port) { return ReadResponseFor(port, AwaitFinalResult); }

int ReadResponseFor(int port, Awaited awaited) {
  return Collect(port, 0, 1500000, awaited);  // the modem may take a while to start answering
}

int ContinueResponse(int port, int keep) {
  if (keep < 0 || keep >= ResponseBufferSize) keep = 0;
  memmove(ResponseBuffer, ResponseBuffer + ResponseBufferSize - keep, keep);
  return Collect(port, keep, 500000, AwaitFinalResult);  // the answer is under way
}
