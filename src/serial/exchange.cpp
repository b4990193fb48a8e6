#include "serial/exchange.h"

#include <errno.h>
#include <stdio.h>
#include <sys/select.h>
#include <unistd.h>

#include "serial/errno_text.h"

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

// Reads behind the count bytes already in ResponseBuffer until the modem has been silent for
// firstWaitMicros (0.5 s once data came), the buffer is full or, in quick mode, the awaited answer is
// whole. Yields the bytes now in ResponseBuffer, NUL-terminated.
int Collect(int port, int count, long firstWaitMicros, Awaited awaited) {
  long waitMicros = firstWaitMicros;
  // select cannot watch a descriptor at or above FD_SETSIZE: treat it as a silent modem.
  while (!Lost && port >= 0 && port < FD_SETSIZE && count < ResponseBufferSize) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(port, &readable);
    timeval wait = {waitMicros / 1000000, waitMicros % 1000000};
    if (select(port + 1, &readable, nullptr, nullptr, &wait) <= 0) break;
    ssize_t got = read(port, ResponseBuffer + count, ResponseBufferSize - count);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      ReportLost(got == 0 ? EIO : errno);  // readable but nothing to read: unplugged
      break;
    }
    if (got < 0) break;
    count += (int)got;
    if (Quick && AnswerComplete(ResponseBuffer, count, awaited)) break;  // no silence to wait out
    waitMicros = 500000;  // the modem may answer in several pieces
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
  size_t length = strlen(text);
  ssize_t written = write(port, text, length);
  if (written < 0 || (size_t)written != length) {
    int error = errno;
    ReportSendError();
    if (written < 0 && IsGone(error)) ReportLost(error);
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
