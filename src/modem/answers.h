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

// The same reading of a listing too long for one buffer, fed in pieces split anywhere: the result
// is what FindHighestIndex gives for the whole answer (up to its first NUL byte). Fixed size.
struct ListingScan {
  long long offset;      // bytes of the answer scanned so far
  long long highestEnd;  // offset of the first byte after the highest index's digits
  long long value;       // the index being read, saturated just above INT_MAX
  int highest;           // -1 while no index has been read
  int matched;           // characters of "+CMGL:" matched so far
  int result;            // once ended: the highest index, or -1
  bool ended;            // the first "OK" or a NUL byte has been seen: later bytes change nothing
  bool zeroInUse;
  bool afterO;           // the previous byte was an 'O'
  bool waiting;          // a "+CMGL:" waits for its index digits (the skip may cross lines)
  bool inDigits;         // inside the digit run those lines wait for
  bool endedAtO;         // that run ended at an 'O': it counts unless a 'K' follows
  bool entryLine;        // the current line holds a "+CMGL:"
  bool pduLine;          // the current line follows such a line (it holds that entry's PDU)
  int pduLines;          // complete lines that followed a "+CMGL:" line, before the end mark
};

void BeginListingScan(ListingScan* scan);
void ScanListingPiece(ListingScan* scan, const char* piece, size_t length);
// The highest index, or -1 (no "OK", a NUL before it, no "+CMGL:", or a line without its index).
int EndListingScan(const ListingScan* scan, bool* zeroInUse);

// +CMGR: "REC UNREAD","<sender hex>",,"<date>"\r\n<text hex>\r\n\r\nOK
// Prints "index\ttype\tsender\tdate\ttext\n" to out and yields 0, or prints nothing and yields -1.
// Trims the answer in place and uses CodecBuffer.
int PrintMessage(FILE* out, int index, char* answer);

// Writes text with backslash, tab, carriage return and line feed escaped, so that one message
// stays on one line of the listing.
void PrintEscaped(FILE* out, const char* text);
