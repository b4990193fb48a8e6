// The modem's serial device for the length of one run.
#pragma once

// Opens path for exclusive use and switches it to raw 8N1 at speed baud (9600, 19200, ...).
// Yields the descriptor, or -1 after one "errno(text)" line on standard error.
// A path that opens but is not a terminal is refused with ENOTTY: AT commands are never written into a file.
int OpenPort(const char* path, int speed);

// Waits for output to drain, puts back the settings found at open and closes the port.
void ClosePort(int port);
