// The answer to AT+CMGL=4, read into the listing value. A pure scanner: it takes the answer's bytes,
// so it can be fed captured answers, whole or in pieces.
#pragma once

#include <stddef.h>

#include "listing/listing.h"

// +CMGL: <index>,<stat>,,<length>\r\n<pdu>\r\n ... \r\nOK
// Highest index among the "+CMGL:" lines before the first "OK", or -1. Writes a NUL after its digits.
// *zeroInUse (may be null) tells whether one of those lines carries index 0.
int FindHighestIndex(char* answer, bool* zeroInUse);

constexpr int ScanLineSize = 32;  // the start of each line kept, to tell a line the modem sent unasked

// The same reading of a listing too long for one buffer, fed in pieces split anywhere: the result
// is what FindHighestIndex gives for the whole answer (up to its first NUL byte). Fixed size.
// With a listing, it also notes there what each listed index's line and PDU say.
struct ListingScan {
  long long offset;      // bytes of the answer scanned so far
  long long highestEnd;  // offset of the first byte after the highest index's digits
  long long value;       // the index being read, saturated just above INT_MAX
  int highest;           // -1 while no index has been read
  int matched;           // characters of "+CMGL:" matched so far
  int result;            // once ended: the highest index, or -1
  bool ended;            // the first "OK" or a NUL byte has been seen: later bytes change nothing
  bool sawNul;           // it was a NUL: the answer is broken, not empty
  bool zeroInUse;
  bool afterO;           // the previous byte was an 'O'
  bool waiting;          // a "+CMGL:" waits for its index digits (the skip may cross lines)
  bool inDigits;         // inside the digit run those lines wait for
  bool endedAtO;         // that run ended at an 'O': it counts unless a 'K' follows
  bool entryLine;        // the current line holds a "+CMGL:"
  bool pduLine;          // the current line may hold the PDU of the entry before it
  int pduLines;          // PDU lines that followed a "+CMGL:" line, before the end mark
  Listing* listing;      // null, or where the listed indexes are noted
  int entryIndex;        // the index on the current "+CMGL:" line, or -1
  int pduIndex;          // the index whose PDU line this may be, or -1
  int lineLength;        // characters of the current line, its CR not counted
  char line[ScanLineSize];  // its first characters
  int pduOctets;         // octets of the current line so far, read as a PDU
  int pduNibble;         // the first hex digit of the next octet, or -1
  bool pduBroken;        // the line is no PDU: a character that is no hex digit, or too long
  unsigned char pdu[DeliverPduLimit];
};

// listing (may be null): begun afresh here.
void BeginListingScan(ListingScan* scan, Listing* listing = nullptr);
void ScanListingPiece(ListingScan* scan, const char* piece, size_t length);
// The highest index, or -1 (no "OK", a NUL before it, no "+CMGL:", or a line without its index).
// With a listing, also its highest, zeroInUse and empty.
int EndListingScan(ListingScan* scan, bool* zeroInUse);
