#include "modem/answers.h"

#include <limits.h>
#include <string.h>

#include "codec/codec_buffer.h"
#include "codec/ucs2_to_utf8.h"
#include "modem/commands.h"

namespace {

constexpr int FieldSize = 128;  // sender and date: 127 characters and a NUL

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
  if (index == 0) scan->zeroInUse = true;
  if (index > scan->highest) {
    scan->highest = index;
    scan->highestEnd = end;
  }
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
  }
  if (c == '\n') {
    if (scan->pduLine) ++scan->pduLines;
    scan->pduLine = scan->entryLine;
    scan->entryLine = false;
  }
}

}  // namespace

void BeginListingScan(ListingScan* scan) {
  memset(scan, 0, sizeof *scan);
  scan->highest = -1;
  scan->result = -1;
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

void PrintEscaped(FILE* out, const char* text) {
  for (; *text; ++text) {
    switch (*text) {
      case '\\': fputs("\\\\", out); break;
      case '\t': fputs("\\t", out); break;
      case '\r': fputs("\\r", out); break;
      case '\n': fputs("\\n", out); break;
      default: fputc(*text, out);
    }
  }
}

int PrintMessage(FILE* out, int index, char* answer) {
  char* const ok = strstr(answer, AnsOk);
  if (!ok || ok == answer) return -1;  // no header can stand before the "OK"
  // Trim what follows the text (line ends, the closing quote of an empty text) back to the last
  // letter or digit; that position bounds every scan below. The first character is never trimmed.
  char* endMark = ok - 1;
  while (endMark > answer && !IsAlnum(*endMark)) *endMark-- = '\0';

  char* const header = strstr(answer, AnsReadLine);
  if (!header) return -1;
  int type;
  char* p;
  char* status = strstr(header, AnsUnread);
  if (status) {
    type = 1;
    p = status + strlen(AnsUnread);
  } else if ((status = strstr(answer, AnsRead)) != nullptr) {
    type = 0;
    p = status + strlen(AnsRead);
  } else {
    return -1;  // "STO SENT", "STO UNSENT" and unknown states are no received message
  }

  char sender[FieldSize] = {};
  for (int n = 0; p < endMark && IsAlnum(*p); ++p)
    if (n < FieldSize - 1) sender[n++] = *p;
  if (p >= endMark) return -1;
  int decoded = Ucs2HexToUtf8(CodecBuffer, sender);
  if (decoded >= 0) {  // otherwise the sender stays as the modem gave it
    memset(sender, 0, sizeof sender);
    memcpy(sender, CodecBuffer, decoded < FieldSize - 1 ? decoded : FieldSize - 1);
  }

  p = strstr(p, AnsNoAlpha);  // an alpha field between sender and date is not understood
  if (!p) return -1;
  p += strlen(AnsNoAlpha);
  char date[FieldSize] = {};
  for (int n = 0; *p != '"'; ++p) {
    if (p >= endMark) return -1;
    if (n < FieldSize - 1) date[n++] = *p;
  }

  while (p < endMark && !IsAlnum(*p)) ++p;
  if (p >= endMark) return -1;
  const char* text = p;
  if (Ucs2HexToUtf8(CodecBuffer, p) >= 0) text = CodecBuffer;  // else shown as the modem gave it

  fprintf(out, "%d\t%d\t", index, type);
  PrintEscaped(out, sender);
  fputc('\t', out);
  PrintEscaped(out, date);
  fputc('\t', out);
  PrintEscaped(out, text);
  fputc('\n', out);
  return 0;
}
