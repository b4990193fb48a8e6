// The GSM 7-bit default alphabet and its extension table (TS 23.038 6.1.2, 6.2.1) to UTF-8 and from
// UCS-2, and septets packed into octets.
#pragma once

constexpr int Gsm7Escape = 0x1B;  // the next septet is read in the extension table

// The septet whose lowest bit is bit number bit of packed (octets long; bit 0 is the low bit of the
// first octet), or -1 when part of it lies outside.
int Gsm7Septet(const unsigned char* packed, int octets, int bit);

// Unpacks count septets of packed (octets long), the first one starting firstBit bits in (so fill
// bits after a user data header are skipped), and writes them as NUL-terminated UTF-8 into dest
// (size bytes; two per septet and a NUL always suffice). An escape to a code the extension table
// does not define shows that code's default character; an escape to an escape, or one at the end,
// a space. With strict, those escapes and the page break fail instead, so every septet is a
// character and CR and LF are the only control characters. Yields the bytes written before the NUL,
// or -1 with dest "" when the check fails, the septets run past the octets or dest is too small.
int Gsm7ToUtf8(char* dest, int size, const unsigned char* packed, int octets, int firstBit, int count,
               bool strict);

// Packs the low 7 bits of each byte of text as one septet each (TS 23.038 6.1.2.1.1: the first
// septet in the low bits of the first octet; 8 septets fill 7 octets) and writes the octets as
// uppercase hex and a NUL into hex (size bytes). Yields the digit count, or -1 when they do not fit.
int PackSeptetsHex(char* hex, int size, const char* text);

// The septets of character (a Unicode code point): its own in the default alphabet, or the escape
// and its septet in the extension table. Writes 1 or 2 septets into out and yields their number;
// 0 when it has no place there (the page break neither: it is no text).
int Gsm7SeptetsOf(unsigned character, unsigned char* out);

// The text of units UTF-16 units in ucs2Hex (four hex digits each) as septets in septets (room for
// size). Yields their number, or -1 when a character has no place in the alphabet or they do not fit.
int Ucs2HexToGsm7(unsigned char* septets, int size, const char* ucs2Hex, int units);

// Packs count septets into octets (size bytes) from bit firstBit on (TS 23.038 6.1.2.1.1: the first
// septet's low bit there, 8 septets in 7 octets); the bits before firstBit stay, fill bits after the
// last septet are 0. Yields the octets used from the first, or -1 when they do not fit.
int PackSeptets(unsigned char* octets, int size, const unsigned char* septets, int count, int firstBit);
