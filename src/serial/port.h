// The modem's serial device for the length of one run.
#pragma once

#include <stdio.h>

// Opens path for exclusive use and switches it to raw 8N1 at speed baud (9600, 19200, ...), non-blocking.
// Exclusive use holds for root too: flock on the device and its lock file in /var/lock. While
// another program holds the port, it looks again until waitSeconds are up; an open refused with
// EBUSY is retried the same way. Yields the descriptor, or -1 after one line on standard error:
// "errno(text)" when the open fails, "atsms: PORT is in use by ..." when the port stays held,
// "atsms: cannot lock PORT: ... is not a lock file (...)" at once when something else stands at
// the lock file's path.
// A path that opens but is not a terminal is refused with ENOTTY: AT commands are never written into a file.
int OpenPort(const char* path, int speed, int waitSeconds = 0);

// Why path could not be opened (error, an errno value): "errno(text)", the line scripts have
// matched, then "atsms: cannot open PATH: text" and what to check (the modem plugged in, the
// user's group), or "atsms: cannot open PATH: not a serial port" for a path that is no terminal.
void PrintOpenFailure(FILE* out, const char* path, int error);

// Waits for output to drain, puts back the settings found at open, unlocks and closes the port.
void ClosePort(int port);

// Between the prompt of AT+CMGS and the write of its PDU's Ctrl-Z the modem takes every byte as the
// PDU: a signal that ends the run in between first writes ESC, which ends the PDU's entry unsent.
void SetPromptOpen(bool open);

// A line (ending in a line feed) that a signal ending the run writes to standard error before the
// port is restored, or nullptr for none: what the run leaves unknown, such as whether an SMS went.
// line must stay valid until the next call.
void SetSignalNote(const char* line);
