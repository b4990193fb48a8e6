// Lines a modem sends on its own, before, inside and after the answer to a command: "+CMTI: "SM",3",
// "^RSSI:17", "RING", "SMS DONE". One recogniser, so that a new modem's chatter is learned in one place.
#pragma once

// True when line (length bytes, without its line end) is one the modem sends unasked: a line that
// starts with "+" or "^" and is neither a final error ("+CME ERROR:", "+CMS ERROR:") nor starts
// with awaited (the prefix of the answer's own lines, such as "+CMGR:"; may be null or empty), or
// one of the bare lines real modems send: RING, RDY, Call Ready, SMS Ready, SMS DONE, PB DONE, NO
// CARRIER, DST: <n>.
bool IsUnaskedLine(const char* line, int length, const char* awaited);

// From text, which starts a line: past every blank line and every unasked line, each ended by CR
// and/or LF. Yields the start of the first line that is neither, or the end of text (its NUL).
const char* SkipUnaskedLines(const char* text, const char* awaited);

// Writes into prefix (size bytes, at least 2) the prefix of the lines that answer command: "+CMGR:" for
// "AT+CMGR=3\r", "" for a command without one ("AT\r", "ATE0\r", a PDU line). Leading ESC bytes are
// passed over; a longer name is cut to fit.
void AnswerPrefix(char* prefix, int size, const char* command);
