#include "serial/exchange.h"

#include <errno.h>
#include <stdio.h>
#include <sys/select.h>
#include <unistd.h>

char ResponseBuffer[ResponseBufferSize + 1];

int ReportSendError() {
  fprintf(stderr, "SendCmd error. %d-%s\n", errno, strerror(errno));
  return -1;
}

int SendCmd(int port, const char* text) {
  size_t length = strlen(text);
  ssize_t written = write(port, text, length);
  if (written < 0 || (size_t)written != length) return ReportSendError();
  return 0;
}

int ReadResponse(int port) {
  int count = 0;
  long waitMicros = 1500000;  // the modem may take a while to start answering
  // select cannot watch a descriptor at or above FD_SETSIZE: treat it as a silent modem.
  while (port >= 0 && port < FD_SETSIZE && count < ResponseBufferSize) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(port, &readable);
    timeval wait = {waitMicros / 1000000, waitMicros % 1000000};
    if (select(port + 1, &readable, nullptr, nullptr, &wait) <= 0) break;
    ssize_t got = read(port, ResponseBuffer + count, ResponseBufferSize - count);
    if (got <= 0) break;  // end of file or an error, e.g. the modem was unplugged
    count += (int)got;
    waitMicros = 500000;  // the modem may answer in several pieces
  }
  ResponseBuffer[count] = '\0';
  return count;
}
