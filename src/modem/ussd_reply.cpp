#include "modem/ussd_reply.h"

#include <string.h>

#include "codec/decimal.h"
#include "codec/gsm7.h"
#include "codec/ucs2_to_utf8.h"
#include "modem/commands.h"
#include "listing/escape.h"
#include "serial/unasked_lines.h"

namespace {

constexpr int DcsDefault = 15;  // GSM 7-bit, language unspecified; also for an unquoted <str>

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n' || c == '\0'; }
const char* SkipBlanks(const char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}
const char* SkipDigits(const char* p) {
  while (IsDigit(*p)) ++p;
  return p;
}

// Data coding schemes of TS 23.038 section 5 that say UCS-2, and those that say GSM 7-bit.
bool IsUcs2Dcs(int dcs) { return (dcs >= 0x48 && dcs <= 0x4B) || (dcs >= 0x58 && dcs <= 0x5B); }
bool IsGsm7Dcs(int dcs) {
  return (dcs >= 0x00 && dcs <= 0x10) || (dcs >= 0x20 && dcs <= 0x2F) || (dcs >= 0x40 && dcs <= 0x43) ||
         (dcs >= 0x50 && dcs <= 0x53) || (dcs >= 0xF0 && dcs <= 0xF3);
}

bool AllHex(const char* text) {
  for (; *text; ++text)
    if (HexDigitValue(*text) < 0) return false;
  return true;
}
bool AllDecimal(const char* text) {
  for (; *text; ++text)
    if (!IsDigit(*text)) return false;
  return true;
}

// A control character other than CR and LF, a private-use character or a noncharacter.
bool IsUnusual(long unit) {
  if (unit < 0x20) return unit != '\r' && unit != '\n';
  return (unit >= 0x7F && unit <= 0x9F) || (unit >= 0xE000 && unit <= 0xF8FF) || (unit >= 0xFDD0 && unit <= 0xFDEF) ||
         unit >= 0xFFFE;
}

// True for hex digits (length, a multiple of four) whose units pair every surrogate. With ordinary,
// also no unusual character and at most two values of the units' high octets, one of them 00: the
// shape of Latin, Cyrillic, Greek or Arabic text, unlike hex that only happens to fit.
bool IsUcs2Hex(const char* hex, int length, bool ordinary) {
  if (length == 0 || length % 4 != 0) return false;
  long highs[2] = {-1, -1};
  bool zeroHigh = false;
  for (int at = 0; at < length; at += 4) {
    const long unit = ReadUcs2Unit(hex + at);
    if (IsLowSurrogate(unit)) return false;  // a low half without its high half
    if (IsHighSurrogate(unit)) {
      const long low = at + 4 < length ? ReadUcs2Unit(hex + at + 4) : -1;
      // Ordinary text has no pairs: their high octets (D8-DB, DC-DF) are two values besides 00.
      if (ordinary || !IsLowSurrogate(low)) return false;
      at += 4;
      continue;
    }
    if (!ordinary) continue;
    if (IsUnusual(unit)) return false;
    const long high = unit >> 8;
    zeroHigh = zeroHigh || high == 0;
    if (high == highs[0] || high == highs[1]) continue;
    if (highs[1] >= 0) return false;  // a third value
    highs[highs[0] < 0 ? 0 : 1] = high;
  }
  return !ordinary || zeroHigh;
}

// Packed 7-bit hex (length even) as strict GSM 7-bit into dest; -1 unless every septet is a character.
int UnpackedGsm7(char* dest, const char* hex, int length) {
  unsigned char octets[UssdStringLimit / 2];
  const int count = length / 2;
  if (count > (int)sizeof octets) return -1;
  for (int i = 0; i < count; ++i, hex += 2)
    octets[i] = (unsigned char)(HexDigitValue(hex[0]) << 4 | HexDigitValue(hex[1]));
  int septets = count * 8 / 7;
  // Seven spare bits at the end are filled with a CR, not read as "@" (TS 23.038 6.1.2.3.1).
  if (count % 7 == 0 && Gsm7Septet(octets, count, 7 * (septets - 1)) == '\r') --septets;
  return Gsm7ToUtf8(dest, UssdTextSize, octets, count, 0, septets, true);
}

// Hex of characters, from a modem in its HEX character set: the bytes into dest when every one is
// printable ASCII, CR or LF; else -1.
int HexOfCharacters(char* dest, const char* hex, int length) {
  for (int i = 0; i < length; i += 2) {
    const int c = HexDigitValue(hex[i]) << 4 | HexDigitValue(hex[i + 1]);
    if ((c < 0x20 || c > 0x7E) && c != '\r' && c != '\n') return -1;
    dest[i / 2] = (char)c;
  }
  dest[length / 2] = '\0';
  return length / 2;
}

// The first whole line after the one that starts at from, before limit, that the modem sent
// unasked; limit when there is none.
const char* UnaskedLineAfter(const char* from, const char* limit) {
  for (const char* line = from + strcspn(from, "\r\n"); line < limit;) {
    while (line < limit && (*line == '\r' || *line == '\n')) ++line;
    const int n = (int)strcspn(line, "\r\n");
    if (line < limit && line[n] != '\0' && IsUnaskedLine(line, n, AnsUssdLine)) return line;
    line += n;
  }
  return limit;
}

// The closing quote of a <str> that starts at start: the first '"' followed by ",<dcs>" and the end
// of the line, else the first followed by the end of the line (then *dcs is DcsDefault), else the
// end of the line itself. The search stops at limit.
const char* ClosingQuote(const char* start, const char* limit, int* dcs) {
  const char* lineEnd = nullptr;
  *dcs = DcsDefault;
  for (const char* q = start; q < limit; ++q) {
    if (*q != '"') continue;
    const char* p = SkipBlanks(q + 1);
    if (*p == ',' && IsDigit(*SkipBlanks(p + 1))) {
      const char* digits = SkipBlanks(p + 1);
      if (IsLineEnd(*SkipBlanks(SkipDigits(digits)))) {
        *dcs = ReadDecimal(digits);
        return q;
      }
    } else if (IsLineEnd(*p) && !lineEnd) {
      lineEnd = q;
    }
  }
  if (lineEnd) return lineEnd;
  const char* end = start;
  while (end < limit && !IsLineEnd(*end)) ++end;
  return end;
}

}  // namespace

int DecodeUssdText(char* dest, const char* str, int dcs) {
  const int length = (int)strlen(str);
  if (length <= UssdStringLimit && AllHex(str)) {  // so every decoding fits dest
    if (IsUcs2Dcs(dcs) && IsUcs2Hex(str, length, false)) return Ucs2HexToUtf8(dest, str);
    // Under a 7-bit scheme modems send the text itself, UCS-2 hex or packed septets as hex.
    if (IsGsm7Dcs(dcs) && length >= 8 && length % 2 == 0) {
      if (IsUcs2Hex(str, length, true)) return Ucs2HexToUtf8(dest, str);
      int decoded = HexOfCharacters(dest, str, length);
      if (decoded >= 0) return decoded;
      decoded = AllDecimal(str) ? -1 : UnpackedGsm7(dest, str, length);  // digits alone are a number
      if (decoded >= 0) return decoded;
    }
  }
  const int kept = length < UssdTextSize - 1 ? length : UssdTextSize - 1;
  memcpy(dest, str, (size_t)kept);
  dest[kept] = '\0';
  return kept;
}

void ReadUssdReply(UssdReply* reply, const char* answer) {
  const char* const answerEnd = answer + strlen(answer);
  const char* line = strstr(answer, AnsUssdLine);
  while (line) {
    const char* p = SkipBlanks(line + strlen(AnsUssdLine));
    const char* next = strstr(line + 1, AnsUssdLine);
    reply->received = true;
    reply->status = IsDigit(*p) ? ReadDecimal(p) : -1;
    p = SkipBlanks(SkipDigits(p));
    if (*p == ',') {
      p = SkipBlanks(p + 1);
      const char* end;
      int dcs = DcsDefault;
      if (*p == '"') {
        ++p;
        // A quote in a line sent unasked after the answer ("+CMTI: "SM",3") closes nothing, unless
        // the string's own quote comes only after such a line (a menu line "+100 MB").
        const char* limit = next ? next : answerEnd;
        end = ClosingQuote(p, UnaskedLineAfter(p, limit), &dcs);
        if (*end != '"') end = ClosingQuote(p, limit, &dcs);
      } else {
        for (end = p; !IsLineEnd(*end);) ++end;
        while (end > p && IsBlank(end[-1])) --end;
      }
      if (end > p) {
        char str[UssdStringLimit + 1];
        const long length = end - p;
        const int kept = length < UssdStringLimit ? (int)length : UssdStringLimit;
        memcpy(str, p, (size_t)kept);
        str[kept] = '\0';
        reply->hasText = true;
        reply->textStatus = reply->status;
        DecodeUssdText(reply->text, str, length > UssdStringLimit ? -1 : dcs);
      }
      if (next && end > next) next = strstr(end, AnsUssdLine);
    }
    line = next;
  }
}

void PrintUssdReply(FILE* out, const UssdReply* reply) {
  if (!reply->hasText) return;
  fputs("USSD reply: ", out);
  PrintEscaped(out, reply->text);
  if (reply->textStatus == 1) fputs(" [reply expected]", out);
  fputc('\n', out);
}
