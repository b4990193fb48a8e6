// How the tool writes texts it got from the modem, so that they cannot break the line or the
// document they stand in.
#pragma once

#include <stdio.h>

// Bytes of the control character text starts with: 1 for a C0 control or DEL, 2 for a C1 control
// in UTF-8 (U+0080 to U+009F); 0 when it starts with none.
int ControlCharacterAt(const char* text);

// Writes text with backslash, tab, carriage return and line feed escaped, so that one message
// stays on one line of the listing, and every other control character too, so that none reaches
// the reader's terminal: a C0 control or DEL as \xNN, a C1 control as \u00NN.
void PrintEscaped(FILE* out, const char* text);

// Writes text as a JSON string, quotes included: '"', '\\' and control characters escaped, and each
// invalid UTF-8 sequence (its longest start that could still have become a character) as U+FFFD,
// so that the output is valid UTF-8 whatever the modem sent.
void PrintJsonString(FILE* out, const char* text);

// The same without the quotes, so that a string can be written in several pieces.
void PrintJsonText(FILE* out, const char* text);
