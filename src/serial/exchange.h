// Writing command lines to the modem and collecting its answers.
#pragma once

#include <string.h>

#include "serial/answer_end.h"

constexpr int ResponseBufferSize = 4096;
extern char ResponseBuffer[ResponseBufferSize + 1];  // latest answer, always NUL-terminated

int SendCmd(int port, const char* text);  // one write; 0, or -1 after ReportSendError()
int ReportSendError();                    // "SendCmd error. errno-text" on standard error; -1
// Collects what arrives until 1.5 s of silence at the start or 0.5 s after the last data; in quick
// mode also until the answer ends with a final result line. NUL bytes are dropped as they arrive.
// While what came is only the echo of the line written last (and line ends, and lines sent
// unasked), the collection waits on for the answer as if nothing had come, up to 1.5 s after that
// write. Yields the bytes now in ResponseBuffer (0 if nothing came).
int ReadResponse(int port);
// The same for a caller that awaits something else: the send prompt or the network's USSD answer.
int ReadResponseFor(int port, Awaited awaited);
// Quick mode (-q): a collection also ends as soon as what the caller awaits has arrived whole,
// without waiting out the 0.5 s of silence. Off unless the front end turns it on.
void SetQuickMode(bool on);
// For an answer that filled ResponseBuffer and goes on: moves its last keep bytes (0 to 4095) to
// the start and collects behind them until 0.5 s of silence or a full buffer again. Yields the
// bytes now in ResponseBuffer (keep when nothing more came).
int ContinueResponse(int port, int keep);

// True once the modem has gone away (end of file or an I/O error on the port, as when a USB modem is
// unplugged). It is reported once on standard error; after that nothing is written or waited for.
bool PortLost();

// The clock the waits run on (monotonic, in microseconds), and a pause on it.
long long NowMicros();
void PauseMicros(long long micros);

inline bool ResponseHas(const char* text) { return strstr(ResponseBuffer, text) != nullptr; }
