// Hexadecimal UCS-2 from the modem to UTF-8.
#pragma once

int HexDigitValue(int ch);  // 0-15 for 0-9, a-f, A-F (low 8 bits of ch); -1 otherwise

// One UTF-16 unit from the four hex digits at group, or -1 when any of them is not a digit.
long ReadUcs2Unit(const char* group);
inline bool IsHighSurrogate(long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Converts four hex digits per UTF-16 unit into NUL-terminated UTF-8 in dest, stopping at the end,
// at a non-digit or at a "0000" unit. FFFF is skipped; a surrogate pair becomes one four-byte
// character and an unpaired surrogate U+FFFD. Yields the bytes written before the NUL, or -1
// (dest untouched) when the length of source is not a multiple of four. The caller sizes dest:
// three bytes per four source characters plus one.
int Ucs2HexToUtf8(char* dest, const char* source);
