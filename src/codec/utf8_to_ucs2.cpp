#include "codec/utf8_to_ucs2.h"

#include <string.h>

#define ROW16(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v

const int32_t Utf8SequenceLength[256] = {
    ROW16(1), ROW16(1), ROW16(1), ROW16(1), ROW16(1), ROW16(1), ROW16(1), ROW16(1),  // 00-7F
    ROW16(0), ROW16(0), ROW16(0), ROW16(0),                                          // 80-BF
    0, 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,                                  // C0-CF
    ROW16(2),                                                                        // D0-DF
    ROW16(3),                                                                        // E0-EF
    4, 4, 4, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                  // F0-FF
};

#undef ROW16

namespace {

bool IsContinuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

char* PutUnit(char* out, unsigned unit) {
  static const char digits[] = "0123456789ABCDEF";
  out[0] = digits[(unit >> 12) & 0xF];
  out[1] = digits[(unit >> 8) & 0xF];
  out[2] = digits[(unit >> 4) & 0xF];
  out[3] = digits[unit & 0xF];
  out[4] = '\0';
  return out + 4;
}

}  // namespace

ssize_t Utf8ToUcs2Hex(char* output, const char* text) {
  size_t converted;
  return Utf8ToUcs2Hex(output, text, &converted);
}

ssize_t Utf8ToUcs2Hex(char* output, const char* text, size_t* converted) {
  const unsigned char* in = (const unsigned char*)text;
  ssize_t remaining = (ssize_t)strlen(text);
  ssize_t digits = 0;
  while (remaining > 0 && *in != '\0') {
    const unsigned lead = in[0];
    const int32_t length = Utf8SequenceLength[lead];
    unsigned value;
    if (length == 1) {
      value = lead;
    } else if (length == 2) {
      if (!IsContinuation(in[1]) || lead < 0xC2) break;
      value = (lead & 0x1F) << 6 | (in[1] & 0x3F);
    } else if (length == 3) {
      if (!IsContinuation(in[1]) || !IsContinuation(in[2])) break;
      if (lead == 0xE0 && in[1] < 0xA0) break;  // overlong
      if (lead == 0xED && in[1] >= 0xA0) break;  // U+D800-U+DFFF: a lone surrogate half, no character
      value = (lead & 0x0F) << 12 | (in[1] & 0x3F) << 6 | (in[2] & 0x3F);
    } else if (length == 4) {
      if (!IsContinuation(in[1]) || !IsContinuation(in[2]) || !IsContinuation(in[3])) break;
      if (lead == 0xF0 && in[1] < 0x90) break;  // overlong
      value = (lead & 0x07) << 18 | (in[1] & 0x3F) << 12 | (in[2] & 0x3F) << 6 | (in[3] & 0x3F);
      if (value > 0x10FFFF) break;
    } else {
      break;  // a byte that cannot open a sequence
    }
    char* out = output + digits;
    if (value > 0xFFFF) {  // UTF-16 surrogate pair: 110110hh hhhhhhhh, 110111ll llllllll
      value -= 0x10000;
      out = PutUnit(out, 0xD800 | (value >> 10));
      digits += 4;
      value = 0xDC00 | (value & 0x3FF);
    }
    PutUnit(out, value);
    digits += 4;
    in += length;
    remaining -= length;
  }
  *converted = (size_t)(in - (const unsigned char*)text);
  return digits;
}
