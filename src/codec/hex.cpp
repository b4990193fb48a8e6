#include "codec/hex.h"

int OctetsToHex(char* dest, int size, const unsigned char* octets, int count) {
  if (size <= 0) return -1;
  if (count < 0 || size <= 2 * count) {
    dest[0] = '\0';
    return -1;
  }
  static const char Digits[] = "0123456789ABCDEF";
  char* out = dest;
  for (int i = 0; i < count; ++i) {
    *out++ = Digits[octets[i] >> 4];
    *out++ = Digits[octets[i] & 0xF];
  }
  *out = '\0';
  return (int)(out - dest);
}
