#include "serial/exchange.h"

#include <errno.h>
#include <stdio.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include "serial/errno_text.h"
#include "serial/monotonic.h"

char ResponseBuffer[ResponseBufferSize + 1];

namespace {

bool Lost = false;
bool Quick = false;
// The line written last, so that its echo is not taken for its answer, and when the write ended.
char Written[ResponseBufferSize + 1];
long long WrittenAt = 0;

constexpr long FirstWaitMicros = 1500000;  // the modem may take a while to start answering
constexpr long NextWaitMicros = 500000;    // the modem may answer in several pieces

void ReportLost(int error) {
  if (Lost) return;
  Lost = true;
  fprintf(stderr, "atsms: the modem is gone: %s\n", ErrnoText(error));
}

// Errors that mean the device itself is gone, not just a refused write.
bool IsGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// How long a write may wait for the port to take more bytes before it counts as failed.
constexpr long WriteStallMicros = 2000000;

// Waits up to micros for port to become readable (or writable): 1, 0 on time-out, -1 on an error.
int WaitFor(int port, bool writable, long long micros) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(port, &set);
  timeval wait = {(time_t)(micros / 1000000), (suseconds_t)(micros % 1000000)};
  const int ready = select(port + 1, writable ? nullptr : &set, writable ? &set : nullptr, nullptr, &wait);
  return ready > 0 ? 1 : ready;
}

// No AT answer carries NUL (some modems send one as they wake up): drops them from the length bytes
// at bytes. Yields the bytes kept.
int DropNuls(char* bytes, int length) {
  int kept = 0;
  for (int i = 0; i < length; ++i)
    if (bytes[i] != '\0') bytes[kept++] = bytes[i];
  return kept;
}

// Reads behind the count bytes already in ResponseBuffer until the modem has been silent for
// firstWaitMicros (0.5 s once data came), the buffer is full or, in quick mode, the awaited answer is
// whole. Yields the bytes now in ResponseBuffer, NUL-terminated.
int Collect(int port, int count, long firstWaitMicros, Awaited awaited) {
  long long windowEnd = MonotonicMicros() + firstWaitMicros;
  // select cannot watch a descriptor at or above FD_SETSIZE: treat it as a silent modem.
  while (!Lost && port >= 0 && port < FD_SETSIZE && count < ResponseBufferSize) {
    const long long left = windowEnd - MonotonicMicros();
    const int ready = left > 0 ? WaitFor(port, false, left) : 0;
    if (ready < 0) break;
    if (ready == 0) {
      // An echo is no answer: a modem that still echoes may answer well after it.
      const long long answerDue = WrittenAt + FirstWaitMicros;
      if (count > 0 && MonotonicMicros() < answerDue && OnlyEcho(ResponseBuffer, count, Written)) {
        windowEnd = answerDue;
        continue;
      }
      break;
    }
    ssize_t got = read(port, ResponseBuffer + count, ResponseBufferSize - count);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;  // nothing yet: wait out the rest of the window
    if (got <= 0) {
      ReportLost(got == 0 ? EIO : errno);  // readable but nothing to read: unplugged
      break;
    }
    const int kept = DropNuls(ResponseBuffer + count, (int)got);
    if (kept == 0) continue;  // NUL bytes alone neither start nor prolong an answer
    count += kept;
    if (Quick && AnswerComplete(ResponseBuffer, count, awaited, Written)) break;  // no silence to wait out
    windowEnd = MonotonicMicros() + NextWaitMicros;
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
  snprintf(Written, sizeof Written, "%s", text);
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
  WrittenAt = MonotonicMicros();
  return 0;
}

void SetQuickMode(bool on) { Quick = on; }

int ReadResponse(int port) { return ReadResponseFor(port, AwaitFinalResult); }

int ReadResponseFor(int port, Awaited awaited) {
  return Collect(port, 0, FirstWaitMicros, awaited);
}

int ContinueResponse(int port, int keep) {
  if (keep < 0 || keep >= ResponseBufferSize) keep = 0;
  memmove(ResponseBuffer, ResponseBuffer + ResponseBufferSize - keep, keep);
  return Collect(port, keep, NextWaitMicros, AwaitFinalResult);  // the answer is under way
}

long long NowMicros() { return MonotonicMicros(); }

void PauseMicros(long long micros) {
  const timespec pause = {(time_t)(micros / 1000000), (long)(micros % 1000000) * 1000};
  nanosleep(&pause, nullptr);
}
