// Writing command lines to the modem and collecting its answers.
#pragma once

#include <string.h>

constexpr int ResponseBufferSize = 4096;
extern char ResponseBuffer[ResponseBufferSize + 1];  // latest answer, always NUL-terminated

int SendCmd(int port, const char* text);  // one write; 0, or -1 after ReportSendError()
int ReportSendError();                    // "SendCmd error. errno-text" on standard error; -1
// Collects what arrives until 1.5 s of silence at the start or 0.5 s after the last data.
// Yields the bytes now in ResponseBuffer (0 if nothing came).
int ReadResponse(int port);

// True once the modem has gone away (end of file or an I/O error on the port, as when a USB modem is
// unplugged). It is reported once on standard error; after that nothing is written or waited for.
bool PortLost();

inline bool ResponseHas(const char* text) { return strstr(ResponseBuffer, text) != nullptr; }
