// Pure parsers of one modem answer: they take the answer text, so they can be fed captured bytes.
#pragma once

#include <stdio.h>

// A decimal integer in the manner of atoi (leading blanks, a sign, digits; no digits gives 0),
// saturated at the int range instead of overflowing.
int ReadDecimal(const char* text);

// +CMGL: <index>,<stat>,,<length>\r\n<pdu>\r\n ... \r\nOK
// Highest index among the "+CMGL:" lines before the first "OK", or -1. Writes a NUL after its digits.
// *zeroInUse (may be null) tells whether one of those lines carries index 0.
int FindHighestIndex(char* answer, bool* zeroInUse);

// +CMGR: "REC UNREAD","<sender hex>",,"<date>"\r\n<text hex>\r\n\r\nOK
// Prints "index\ttype\tsender\tdate\ttext\n" to out and yields 0, or prints nothing and yields -1.
// Trims the answer in place and uses CodecBuffer.
int PrintMessage(FILE* out, int index, char* answer);

// Writes text with backslash, tab, carriage return and line feed escaped, so that one message
// stays on one line of the listing.
void PrintEscaped(FILE* out, const char* text);
