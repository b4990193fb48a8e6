#include "listing/listing_answer.h"

#include <limits.h>
#include <string.h>

#include "codec/decimal.h"
#include "codec/ucs2_to_utf8.h"
#include "modem/commands.h"
#include "serial/unasked_lines.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void CountIndex(ListingScan* scan, long long end) {
  const int index = scan->value > INT_MAX ? INT_MAX : (int)scan->value;
  scan->entryIndex = index;  // kept to the end of its line; each "+CMGL:" starts afresh
  if (index == 0) scan->zeroInUse = true;
  if (index > scan->highest) {
    scan->highest = index;
    scan->highestEnd = end;
  }
}

// <stat> after the index of the "+CMGL:" line kept in scan->line, or -1.
int LineStat(const ListingScan* scan) {
  char line[ScanLineSize + 1];
  const int kept = scan->lineLength < ScanLineSize ? scan->lineLength : ScanLineSize;
  memcpy(line, scan->line, (size_t)kept);
  line[kept] = '\0';
  const char* at = strstr(line, AnsListLine);
  if (!at) return -1;
  at = strchr(at, ',');
  if (!at || at - line + 1 >= kept || !IsDigit(at[1])) return -1;
  const int stat = ReadDecimal(at + 1);
  return stat <= 3 ? stat : -1;
}

// At the end of a "+CMGL:" line: its index is listed (once more, perhaps), and its PDU may follow.
void NoteListed(ListingScan* scan) {
  scan->pduIndex = scan->entryIndex;
  Listing* const listing = scan->listing;
  const int index = scan->entryIndex;
  if (!listing || index < 0) return;
  const int stat = LineStat(scan);
  NoteNamed(listing, index, stat == 0);
  if (index >= ListedIndexes) return;
  if (listing->kind[index] == NotListed) {
    listing->kind[index] = ListedOther;  // until its PDU says more
    listing->stat[index] = (signed char)stat;
  } else {
    listing->kind[index] = ListedTwice;
    if (stat == 0) listing->stat[index] = 0;  // unread if either of them is
  }
}

// A line between an entry and its PDU that holds no PDU: blank, or sent by the modem unasked.
bool SkippedLine(const ListingScan* scan) {
  if (scan->lineLength == 0) return true;
  if (scan->lineLength <= ScanLineSize) return IsUnaskedLine(scan->line, scan->lineLength, AnsListLine);
  // Of a longer line only its start is kept: it is unasked when it starts like one (the bare lines
  // are short).
  return (scan->line[0] == '+' || scan->line[0] == '^') && IsUnaskedLine(scan->line, ScanLineSize, AnsListLine);
}

void CollectPduDigit(ListingScan* scan, char c) {
  if (c == '\r') return;
  const int digit = HexDigitValue(c);
  if (digit < 0 || scan->pduOctets == DeliverPduLimit) {
    scan->pduBroken = true;
  } else if (scan->pduNibble < 0) {
    scan->pduNibble = digit;
  } else {
    scan->pdu[scan->pduOctets++] = (unsigned char)(scan->pduNibble << 4 | digit);
    scan->pduNibble = -1;
  }
}

// At the end of a PDU line: what its index holds.
void NotePdu(ListingScan* scan) {
  Listing* const listing = scan->listing;
  const int index = scan->pduIndex;
  if (!listing || index < 0 || index >= ListedIndexes || listing->kind[index] != ListedOther) return;
  if (scan->pduBroken || scan->pduNibble >= 0) return;
  listing->id[index] = PduId(scan->pdu, scan->pduOctets);  // whatever the PDU turns out to be
  listing->identified[index] = true;
  const bool stored = listing->stat[index] == 2 || listing->stat[index] == 3;
  switch (MessageTypeOf(scan->pdu, scan->pduOctets)) {
    case MtiDeliver: {
      ListedMessage& message = listing->message[index];
      if (stored || ReadDeliverPdu(scan->pdu, scan->pduOctets, &message.pdu) < 0) return;
      message.isPart = ReadConcatenation(&message.pdu.userData, &message.concatenation) == 0;
      listing->kind[index] = ListedDeliver;
      return;
    }
    case MtiSubmit:
      if (stored) listing->kind[index] = ListedSubmit;
      return;
    case MtiStatusReport:
      // Stored as sent (<stat> 2 or 3), TP-MTI 10 would be an SMS-COMMAND; no modem keeps those, and
      // real ones keep reports so: what parses as a report is one.
      if (ReadStatusReport(scan->pdu, scan->pduOctets, &listing->report[index]) == 0)
        listing->kind[index] = ListedReport;
      return;
  }
}

// At a line's end: an entry line announces a PDU; the line after it is that PDU, unless it is blank
// or sent unasked, which leaves the PDU for the line after.
void EndLine(ListingScan* scan) {
  const bool skipped = scan->pduLine && SkippedLine(scan);
  if (scan->pduLine && !skipped) {
    ++scan->pduLines;
    NotePdu(scan);
  }
  if (scan->entryLine)
    NoteListed(scan);
  else if (!skipped)
    scan->pduIndex = -1;
  scan->pduLine = scan->entryLine || skipped;
  scan->entryLine = false;
  scan->entryIndex = -1;
  scan->lineLength = 0;
  scan->pduOctets = 0;
  scan->pduNibble = -1;
  scan->pduBroken = false;
}

void ScanListingByte(ListingScan* scan, char c) {
  const long long at = scan->offset++;
  if (c == '\0') {  // the searches of a whole answer stop here, and no "OK" came before it
    scan->ended = true;
    scan->sawNul = true;
    scan->result = -1;
    return;
  }
  if (scan->afterO && c == 'K') {  // the end mark: a line still without its index spoils the listing
    scan->ended = true;
    scan->result = scan->waiting || scan->endedAtO ? -1 : scan->highest;
    return;
  }
  if (scan->endedAtO) CountIndex(scan, at - 1);
  scan->endedAtO = false;
  scan->afterO = c == 'O';
  if (IsDigit(c)) {
    if (scan->waiting) {  // every line still waiting takes this run
      scan->waiting = false;
      scan->inDigits = true;
      scan->value = 0;
    }
    if (scan->inDigits) {
      scan->value = scan->value * 10 + (c - '0');
      if (scan->value > (long long)INT_MAX + 1) scan->value = (long long)INT_MAX + 1;
    }
  } else if (scan->inDigits) {
    scan->inDigits = false;
    if (c == 'O')
      scan->endedAtO = true;  // decided by the next byte
    else
      CountIndex(scan, at);
  }
  // '+' stands only at the start of "+CMGL:": after a mismatch a match can only start afresh.
  scan->matched = c == AnsListLine[scan->matched] ? scan->matched + 1 : c == AnsListLine[0] ? 1 : 0;
  if (AnsListLine[scan->matched] == '\0') {
    scan->matched = 0;
    scan->waiting = true;
    scan->entryLine = true;
    scan->entryIndex = -1;
  }
  if (c == '\n') {
    EndLine(scan);
    return;
  }
  if (c == '\r') return;
  if (scan->lineLength < ScanLineSize) scan->line[scan->lineLength] = c;
  if (scan->lineLength < INT_MAX) ++scan->lineLength;
  if (scan->pduLine) CollectPduDigit(scan, c);
}

}  // namespace

void BeginListingScan(ListingScan* scan, Listing* listing) {
  memset(scan, 0, sizeof *scan);
  scan->highest = -1;
  scan->result = -1;
  scan->listing = listing;
  scan->entryIndex = -1;
  scan->pduIndex = -1;
  scan->pduNibble = -1;
  if (listing) BeginListing(listing);
}

void ScanListingPiece(ListingScan* scan, const char* piece, size_t length) {
  for (size_t i = 0; i < length && !scan->ended; ++i) ScanListingByte(scan, piece[i]);
}

int EndListingScan(ListingScan* scan, bool* zeroInUse) {
  const int result = scan->ended ? scan->result : -1;  // no "OK" at all
  const bool zero = result >= 0 && scan->zeroInUse;
  if (zeroInUse) *zeroInUse = zero;
  if (Listing* const listing = scan->listing) {
    listing->highest = result;
    listing->zeroInUse = zero;
    // "OK" and not one "+CMGL:" line: nothing is stored.
    listing->empty = scan->ended && !scan->sawNul && scan->highest < 0 && !scan->waiting && !scan->endedAtO;
  }
  return result;
}

// Modems may list in any order and number from 0: every line before the end mark counts.
int FindHighestIndex(char* answer, bool* zeroInUse) {
  ListingScan scan;
  BeginListingScan(&scan);
  ScanListingPiece(&scan, answer, strlen(answer));
  const int highest = EndListingScan(&scan, zeroInUse);
  if (highest >= 0) answer[scan.highestEnd] = '\0';
  return highest;
}
