// Numbers written in decimal, as modems and command lines give them.
#pragma once

// A decimal integer in the manner of atoi (leading blanks, a sign, digits; no digits gives 0),
// saturated at the int range instead of overflowing.
int ReadDecimal(const char* text);
