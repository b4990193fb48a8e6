// Where an answer ends, judged from the bytes that have arrived so far.
#pragma once

// What a caller waits for.
enum Awaited {
  AwaitFinalResult,  // "OK", "ERROR", "+CMS ERROR: <n>" or "+CME ERROR: <n>" on a line of its own
  AwaitPrompt,       // the ">" that asks for the PDU (with or without a blank behind it), or a final result
  AwaitUssdResult,   // a whole "+CUSD:" line, or a final error line instead of it
  AwaitUssdAck,      // a final result or "COMMAND NOT SUPPORT", which the network's "+CUSD:" line
                     // may follow in the same read
};

// True when the length bytes of answer (NULs allowed) end with a whole final result line, the
// prompt (AwaitPrompt), or hold a whole "+CUSD:" line (AwaitUssdResult; AwaitUssdAck when a final
// result line came before it). AwaitUssdAck also ends at a last line "COMMAND NOT SUPPORT", and
// AwaitUssdResult at a last line that is a final error. Whole lines the modem sent unasked after
// the end count for nothing. command (may be null): the line just written, whose own answer lines
// ("+CMGR:" for "AT+CMGR=3\r") are never taken as unasked.
bool AnswerComplete(const char* answer, int length, Awaited awaited, const char* command = nullptr);

// True when the length bytes of answer hold nothing but the echo of command (the line just written;
// the echo may still be coming), line ends, Ctrl-Z and whole lines sent unasked: no answer has begun.
bool OnlyEcho(const char* answer, int length, const char* command);

// The first line of answer (NUL-terminated) that is a final result, or null; *ok: it is "OK" rather
// than "ERROR", "+CMS ERROR: <n>" or "+CME ERROR: <n>". A last line without its line end counts.
const char* FindFinalResult(const char* answer, bool* ok);
