// Where an answer ends, judged from the bytes that have arrived so far.
#pragma once

// What a caller waits for.
enum Awaited {
  AwaitFinalResult,  // "OK", "ERROR", "+CMS ERROR: <n>" or "+CME ERROR: <n>" on a line of its own
  AwaitPrompt,       // the "> " that asks for the PDU, or a final result
  AwaitUssdResult,   // a whole "+CUSD:" line
  AwaitUssdAck,      // a final result or "COMMAND NOT SUPPORT", which the network's "+CUSD:" line
                     // may follow in the same read
};

// True when the length bytes of answer (NULs allowed) end with a whole final result line, the
// prompt (AwaitPrompt), or hold a whole "+CUSD:" line (AwaitUssdResult; AwaitUssdAck when a final
// result line came before it). AwaitUssdAck also ends at a last line "COMMAND NOT SUPPORT".
bool AnswerComplete(const char* answer, int length, Awaited awaited);
