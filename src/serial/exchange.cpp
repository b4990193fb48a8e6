#include "serial/exchange.h"

#include <errno.h>
#include <stdio.h>
#include <sys/select.h>
#include <unistd.h>

char ResponseBuffer[ResponseBufferSize + 1];

namespace {

bool Lost = false;

void ReportLost(int error) {
  if (Lost) return;
  Lost = true;
  fprintf(stderr, "atsms: the modem is gone: %s\n", strerror(error));
}

// Errors that mean the device itself is gone, not just a refused write.
bool IsGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

}  // namespace

bool PortLost() { return Lost; }

int ReportSendError() {
  fprintf(stderr, "SendCmd error. %d-%s\n", errno, strerror(errno));
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

int ReadResponse(int port) {
  int count = 0;
  long waitMicros = 1500000;  // the modem may take a while to start answering
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
    waitMicros = 500000;  // the modem may answer in several pieces
  }
  ResponseBuffer[count] = '\0';
  return count;
}

int ContinueResponse(int port, int keep) {
  if (keep < 0 || keep >= ResponseBufferSize) keep = 0;
  memmove(ResponseBuffer, ResponseBuffer + ResponseBufferSize - keep, keep);
  int count = keep;
  while (!Lost && port >= 0 && port < FD_SETSIZE && count < ResponseBufferSize) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(port, &readable);
    timeval wait = {0, 500000};  // the answer is under way
    if (select(port + 1, &readable, nullptr, nullptr, &wait) <= 0) break;
    ssize_t got = read(port, ResponseBuffer + count, ResponseBufferSize - count);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      ReportLost(got == 0 ? EIO : errno);
      break;
    }
    if (got < 0) break;
    count += (int)got;
  }
  ResponseBuffer[count] = '\0';
  return count;
}
