#include "codec/ucs2_to_utf8.h"

#include <string.h>

int HexDigitValue(int ch) {
  ch &= 0xFF;
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

long ReadUcs2Unit(const char* group) {
  long unit = 0;
  for (int i = 0; i < 4; ++i) {
    int digit = HexDigitValue(group[i]);
    if (digit < 0) return -1;
    unit = unit << 4 | digit;
  }
  return unit;
}

namespace {

unsigned char* PutCodePoint(unsigned char* out, unsigned long cp) {
  if (cp <= 0x7F) {
    *out++ = (unsigned char)cp;
  } else if (cp <= 0x7FF) {
    *out++ = (unsigned char)(0xC0 | (cp >> 6));            // 110aaaaa
    *out++ = (unsigned char)(0x80 | (cp & 0x3F));          // 10bbbbbb
  } else if (cp <= 0xFFFF) {
    *out++ = (unsigned char)(0xE0 | (cp >> 12));           // 1110aaaa
    *out++ = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
    *out++ = (unsigned char)(0x80 | (cp & 0x3F));
  } else {
    *out++ = (unsigned char)(0xF0 | (cp >> 18));           // 11110aaa
    *out++ = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
    *out++ = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
    *out++ = (unsigned char)(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace

int Ucs2HexToUtf8(char* dest, const char* source) {
  const size_t length = strlen(source);
  if (length % 4 != 0) return -1;
  unsigned char* const start = (unsigned char*)dest;
  unsigned char* out = start;
  const char* const end = source + length;
  for (const char* in = source; in < end; in += 4) {
    long unit = ReadUcs2Unit(in);
    if (unit <= 0) break;           // a non-digit, or "0000", ends the text
    if (unit == 0xFFFF) continue;  // not a character
    if (IsHighSurrogate(unit) && in + 4 < end) {
      long low = ReadUcs2Unit(in + 4);
      if (IsLowSurrogate(low)) {
        out = PutCodePoint(out, 0x10000 + ((unsigned long)(unit - 0xD800) << 10) + (unsigned long)(low - 0xDC00));
        in += 4;
        continue;
      }
    }
    if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) unit = 0xFFFD;  // half of a pair alone
    out = PutCodePoint(out, (unsigned long)unit);
  }
  *out = '\0';
  return (int)(out - start);
}
