// UTF-8 text to the hexadecimal UCS-2 of SMS user data (DCS 0x08).
#pragma once

#include <stdint.h>
#include <sys/types.h>

// Length of the sequence a lead byte opens; 0 for a byte that cannot open one.
extern const int32_t Utf8SequenceLength[256];

// Writes four uppercase hex digits per UTF-16 unit and a NUL after the last group; characters above
// U+FFFF become a surrogate pair. Stops silently at the first malformed sequence (an encoded
// surrogate, U+D800 to U+DFFF, is one). The caller sizes
// output: four bytes per input byte plus one. Yields the digit count, a multiple of four; with no
// group written, output is left untouched.
ssize_t Utf8ToUcs2Hex(char* output, const char* text);

// The same, also telling how many bytes of text were converted (all of them when it is well formed).
ssize_t Utf8ToUcs2Hex(char* output, const char* text, size_t* converted);
