// Shared by the fuzz targets: a check that makes libFuzzer record the input as a crash, and the
// properties of the tool's outputs that hold for every input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                              \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = (unsigned char)s[i];
    size_t n;
    unsigned long cp;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
    else return false;
    if (i + n >= s.size()) return false;  // cut short
    for (size_t k = 1; k <= n; ++k) {
      unsigned char t = (unsigned char)s[i + k];
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    i += n + 1;
  }
  return true;
}

// Only the characters 0-9 and A-F.
inline bool IsUpperHex(const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'A' && s[i] <= 'F'))) return false;
  return true;
}

// A fuzz input as the NUL-terminated text the tool would get: everything before the first NUL.
inline std::string AsText(const unsigned char* data, size_t size) {
  const void* nul = std::memchr(data, 0, size);
  return std::string((const char*)data, nul ? (size_t)((const unsigned char*)nul - data) : size);
}

// An independent reading of the outgoing codec's rules: UTF-8 as RFC 3629. Fills units with
// UTF-16 (pairs above U+FFFF) up to the first malformed sequence and yields how many bytes were read.
inline size_t DecodeLikeCodec(const std::string& s, std::vector<uint16_t>* units) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = (unsigned char)s[i];
    size_t n;
    unsigned long cp;
    if (c < 0x80) { n = 0; cp = c; }
    else if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
    else break;
    if (i + n >= s.size()) break;
    bool ok = true;
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char t = (unsigned char)s[i + k];
      ok = ok && (t & 0xC0) == 0x80;
      cp = cp << 6 | (t & 0x3F);
    }
    if (!ok || (n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF))) break;
    if (cp >= 0xD800 && cp <= 0xDFFF) break;
    if (cp > 0xFFFF) {
      units->push_back((uint16_t)(0xD800 | ((cp - 0x10000) >> 10)));
      units->push_back((uint16_t)(0xDC00 | ((cp - 0x10000) & 0x3FF)));
    } else {
      units->push_back((uint16_t)cp);
    }
    i += n + 1;
  }
  return i;
}

// Four uppercase hex digits per unit.
inline std::string UnitsAsHex(const std::vector<uint16_t>& units) {
  std::string hex;
  char group[5];
  for (uint16_t u : units) {
    std::snprintf(group, sizeof group, "%04X", (unsigned)u);
    hex += group;
  }
  return hex;
}
