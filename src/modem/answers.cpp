#include "modem/answers.h"

#include <limits.h>
#include <string.h>

#include "codec/codec_buffer.h"
#include "codec/ucs2_to_utf8.h"
#include "modem/commands.h"
#include "modem/deliver_pdu.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// isalnum in the POSIX locale, without the locale and without sign trouble.
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

int ReadDecimal(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long long value = 0;
  for (; IsDigit(*text); ++text) {
    value = value * 10 + (*text - '0');
    if (value > (long long)INT_MAX + 1) value = (long long)INT_MAX + 1;
  }
  if (negative) return (int)-value;
  return value > INT_MAX ? INT_MAX : (int)value;
}

namespace {

void CountIndex(ListingScan* scan, long long end) {
  const int index = scan->value > INT_MAX ? INT_MAX : (int)scan->value;
  scan->entryIndex = index;  // kept to the end of its line; each "+CMGL:" starts afresh
  if (index == 0) scan->zeroInUse = true;
  if (index > scan->highest) {
    scan->highest = index;
    scan->highestEnd = end;
  }
}

// Where the note of index goes, or null.
ListedText* NoteFor(const ListingScan* scan, int index) {
  return scan->notes && index >= 0 && index < ListedIndexes ? &scan->notes->text[index] : nullptr;
}

// At the end of a "+CMGL:" line: its index is listed (once more, perhaps), and the next line is its PDU.
void NoteListed(ListingScan* scan) {
  scan->pduIndex = scan->entryIndex;
  ListedText* text = NoteFor(scan, scan->entryIndex);
  if (text) *text = *text == NotListed ? ListedPlain : ListedTwice;
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

// At the end of a PDU line: a header or 8-bit data decide how the text of its index is shown.
void NotePdu(ListingScan* scan) {
  ListedText* text = NoteFor(scan, scan->pduIndex);
  if (!text || *text != ListedPlain || scan->pduBroken || scan->pduNibble >= 0) return;
  PartNote part{};
  if (ReadDeliverPdu(scan->pdu, scan->pduOctets, &scan->userData, part.sender) < 0) return;
  if (scan->userData.alphabet == Alphabet8Bit) {
    *text = ListedGivenHex;
  } else if (scan->userData.header) {
    *text = ListedOwnText;
    scan->notes->userData[scan->pduIndex] = scan->userData;
  } else {
    return;
  }
  part.isPart = ReadConcatenation(&scan->userData, &part.concatenation) == 0;
  scan->notes->part[scan->pduIndex] = part;
}

void ScanListingByte(ListingScan* scan, char c) {
  const long long at = scan->offset++;
  if (c == '\0') {  // the searches of a whole answer stop here, and no "OK" came before it
    scan->ended = true;
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
  if (c != '\n') {
    if (scan->pduLine) CollectPduDigit(scan, c);
    return;
  }
  if (scan->pduLine) {
    ++scan->pduLines;
    NotePdu(scan);
  }
  scan->pduIndex = -1;
  if (scan->entryLine) NoteListed(scan);
  scan->pduLine = scan->entryLine;
  scan->entryLine = false;
  scan->entryIndex = -1;
  scan->pduOctets = 0;
  scan->pduNibble = -1;
  scan->pduBroken = false;
}

}  // namespace

ListedEntry EntryOf(const ListingNotes* notes, int index) {
  if (!notes || index < 0 || index >= ListedIndexes) return {NotListed, nullptr};
  return {notes->text[index], &notes->userData[index]};
}

const PartNote* PartOf(const ListingNotes* notes, int index) {
  const ListedText text = EntryOf(notes, index).text;
  if (text != ListedOwnText && text != ListedGivenHex) return nullptr;
  return notes->part[index].isPart ? &notes->part[index] : nullptr;
}

void BeginListingScan(ListingScan* scan, ListingNotes* notes) {
  memset(scan, 0, sizeof *scan);
  scan->highest = -1;
  scan->result = -1;
  scan->notes = notes;
  scan->entryIndex = -1;
  scan->pduIndex = -1;
  scan->pduNibble = -1;
  if (notes) memset(notes->text, NotListed, sizeof notes->text);
}

void ScanListingPiece(ListingScan* scan, const char* piece, size_t length) {
  for (size_t i = 0; i < length && !scan->ended; ++i) ScanListingByte(scan, piece[i]);
}

int EndListingScan(const ListingScan* scan, bool* zeroInUse) {
  const int result = scan->ended ? scan->result : -1;  // no "OK" at all
  if (zeroInUse) *zeroInUse = result >= 0 && scan->zeroInUse;
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

namespace {

// "24/05/01,10:20:30+08" as modems give the date: digits, "/", ",", ":" and a sign, never a hex name.
bool LooksLikeDate(const char* field, const char* end) {
  bool slash = false, colon = false;
  for (; field < end; ++field) {
    if (*field == '/')
      slash = true;
    else if (*field == ':')
      colon = true;
    else if (!IsDigit(*field) && *field != ',' && *field != '+' && *field != '-')
      return false;
  }
  return slash && colon;
}

// A text in hex is one line. A line the modem sends unasked ("^RSSI: 17", "+CMTI: ...", "RING")
// may come between it and the "OK"; the text then ends at its line end.
void CutUnsolicitedTail(char* text) {
  char* end = text;
  while (HexDigitValue(*end) >= 0) ++end;
  if ((end - text) % 2 != 0 || (*end != '\r' && *end != '\n')) return;
  const char* next = end;
  while (*next == '\r' || *next == '\n') ++next;
  if (*next == '+' || *next == '^' || strncmp(next, "RING", 4) == 0) *end = '\0';
}

// Where the date starts, after the sender (p is past its digits), or null. After the sender's
// closing quote: ,"<date>" (no alpha field), ,"<alpha>","<date>" (a name, or "") or ,,"<date>".
char* FindDate(char* p, const char* endMark) {
  char* quote = p;
  while (quote < endMark && *quote != '"') ++quote;
  if (quote < endMark && strncmp(quote + 1, ",\"", 2) == 0) {
    char* const field = quote + 3;
    char* close = field;
    while (close < endMark && *close != '"') ++close;
    if (close < endMark) {
      if (LooksLikeDate(field, close)) return field;
      if (strncmp(close + 1, ",\"", 2) == 0) return close + 3;  // that was the alpha field
    }
  }
  char* const empty = strstr(p, AnsNoAlpha);
  return empty ? empty + strlen(AnsNoAlpha) : nullptr;
}

}  // namespace

int ParseMessage(char* answer, int index, MessageFields* fields, const ListedEntry* entry) {
  char* const ok = strstr(answer, AnsOk);
  if (!ok || ok == answer) return -1;  // no header can stand before the "OK"
  // Trim what follows the text (line ends, the closing quote of an empty text) back to the last
  // letter or digit; that position bounds every scan below. The first character is never trimmed.
  char* endMark = ok - 1;
  while (endMark > answer && !IsAlnum(*endMark)) *endMark-- = '\0';

  char* const header = strstr(answer, AnsReadLine);
  if (!header) return -1;
  char* p;
  char* status = strstr(header, AnsUnread);
  if (status) {
    fields->unread = true;
    p = status + strlen(AnsUnread);
  } else if ((status = strstr(answer, AnsRead)) != nullptr) {
    fields->unread = false;
    p = status + strlen(AnsRead);
  } else {
    return -1;  // "STO SENT", "STO UNSENT" and unknown states are no received message
  }
  fields->index = index;

  char* const sender = fields->sender;
  memset(sender, 0, MessageFieldSize);
  for (int n = 0; p < endMark && IsAlnum(*p); ++p)
    if (n < MessageFieldSize - 1) sender[n++] = *p;
  if (p >= endMark) return -1;
  int decoded = Ucs2HexToUtf8(CodecBuffer, sender);
  if (decoded >= 0) {  // otherwise the sender stays as the modem gave it
    memset(sender, 0, MessageFieldSize);
    memcpy(sender, CodecBuffer, decoded < MessageFieldSize - 1 ? decoded : MessageFieldSize - 1);
  }

  p = FindDate(p, endMark);
  if (!p) return -1;
  char* const date = fields->date;
  memset(date, 0, MessageFieldSize);
  for (int n = 0; *p != '"'; ++p) {
    if (p >= endMark) return -1;
    if (n < MessageFieldSize - 1) date[n++] = *p;
  }

  // A modem set to show header values (AT+CSDH=1) goes on after the date with <tooa>,<fo>,<pid>,
  // <dcs>,<sca>,<tosca>,<length>: the text starts on the next line all the same.
  if (p[1] == ',') p += strcspn(p, "\r\n");
  while (p < endMark && !IsAlnum(*p)) ++p;
  if (p >= endMark) return -1;
  CutUnsolicitedTail(p);
  fields->given = p;
  fields->text = p;
  // Behind a header the text comes from the PDU (what text mode shows of a header is of no use);
  // 8-bit data stays as given.
  const ListedText listed = entry ? entry->text : NotListed;
  const bool ownText = listed == ListedOwnText && UserDataText(CodecBuffer, CodecBufferSize, entry->userData) >= 0;
  if (ownText || (listed != ListedGivenHex && Ucs2HexToUtf8(CodecBuffer, p) >= 0)) fields->text = CodecBuffer;
  return 0;
}
