#include "codec/gsm7.h"

#include <stdint.h>
#include <string.h>

#include "codec/ucs2_to_utf8.h"

namespace {

// TS 23.038 6.2.1, by septet value. 0x1B is the escape; it is never looked up here.
const uint16_t DefaultAlphabet[128] = {
    0x0040, 0x00A3, 0x0024, 0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC,  // @ £ $ ¥ è é ù ì
    0x00F2, 0x00C7, 0x000A, 0x00D8, 0x00F8, 0x000D, 0x00C5, 0x00E5,  // ò Ç LF Ø ø CR Å å
    0x0394, 0x005F, 0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,  // Δ _ Φ Γ Λ Ω Π Ψ
    0x03A3, 0x0398, 0x039E, 0x0020, 0x00C6, 0x00E6, 0x00DF, 0x00C9,  // Σ Θ Ξ (escape) Æ æ ß É
    0x0020, 0x0021, 0x0022, 0x0023, 0x00A4, 0x0025, 0x0026, 0x0027,  // space ! " # ¤ % & '
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x00A1, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // ¡ A-G
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,  // X Y Z Ä Ö Ñ Ü §
    0x00BF, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // ¿ a-g
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,  // x y z ä ö ñ ü à
};

constexpr uint16_t PageBreak = 0x000C;

struct Extension {
  uint8_t septet;
  uint16_t character;
};
// TS 23.038 6.2.1.1: the septets after an escape that have a character of their own.
const Extension ExtensionTable[] = {
    {0x0A, PageBreak}, {0x14, '^'}, {0x28, '{'}, {0x29, '}'}, {0x2F, '\\'},
    {0x3C, '['},       {0x3D, '~'}, {0x3E, ']'}, {0x40, '|'}, {0x65, 0x20AC},  // € last
};

// The extension table's character for septet, or 0 when it defines none.
unsigned Extended(int septet) {
  for (const Extension& e : ExtensionTable)
    if (e.septet == septet) return e.character;
  return 0;
}

int Utf8Length(unsigned character) { return character < 0x80 ? 1 : character < 0x800 ? 2 : 3; }

char* PutUtf8(char* out, unsigned character) {
  if (character < 0x80) {
    *out++ = (char)character;
  } else if (character < 0x800) {
    *out++ = (char)(0xC0 | (character >> 6));          // 110aaaaa
    *out++ = (char)(0x80 | (character & 0x3F));        // 10bbbbbb
  } else {
    *out++ = (char)(0xE0 | (character >> 12));         // 1110aaaa
    *out++ = (char)(0x80 | ((character >> 6) & 0x3F));
    *out++ = (char)(0x80 | (character & 0x3F));
  }
  return out;
}

// The septet from bit on; the caller has checked that all seven bits lie inside packed.
int SeptetAt(const unsigned char* packed, int bit) {
  const int at = bit / 8;
  const int shift = bit % 8;
  unsigned value = (unsigned)packed[at] >> shift;
  if (shift > 1) value |= (unsigned)packed[at + 1] << (8 - shift);  // the septet straddles two octets
  return (int)(value & 0x7F);
}

}  // namespace

int Gsm7Septet(const unsigned char* packed, int octets, int bit) {
  if (bit < 0 || octets < 0 || (long long)bit + 7 > 8LL * octets) return -1;
  return SeptetAt(packed, bit);
}

int Gsm7ToUtf8(char* dest, int size, const unsigned char* packed, int octets, int firstBit, int count,
               bool strict) {
  if (size <= 0) return -1;
  dest[0] = '\0';
  if (count < 0 || firstBit < 0 || octets < 0) return -1;
  if (count > 0 && firstBit + 7LL * count > 8LL * octets) return -1;  // no septets, no bits needed
  char* out = dest;
  for (int i = 0; i < count; ++i) {
    const int septet = SeptetAt(packed, firstBit + 7 * i);
    unsigned character = DefaultAlphabet[septet];
    if (septet == Gsm7Escape) {
      const int next = i + 1 < count ? SeptetAt(packed, firstBit + 7 * (i + 1)) : -1;
      const unsigned extended = next < 0 ? 0 : Extended(next);
      if (strict && (extended == 0 || extended == PageBreak)) {
        dest[0] = '\0';
        return -1;
      }
      // A receiver shows what it does not know as the default character, a further escape
      // (reserved for another table) and a dangling one as a space (TS 23.038 6.2.1.1).
      if (next < 0 || next == Gsm7Escape) character = ' ';
      else character = extended ? extended : DefaultAlphabet[next];
      if (next >= 0) ++i;
    }
    if (Utf8Length(character) >= size - (out - dest)) {
      dest[0] = '\0';
      return -1;
    }
    out = PutUtf8(out, character);
  }
  *out = '\0';
  return (int)(out - dest);
}

int PackSeptetsHex(char* hex, int size, const char* text) {
  static const char Digits[] = "0123456789ABCDEF";
  const size_t septets = strlen(text);
  if (size <= 0 || (septets * 7 + 7) / 8 * 2 >= (size_t)size) return -1;
  uint32_t bits = 0;
  int shift = 0;
  int digits = 0;
  auto putOctet = [&] {
    hex[digits++] = Digits[(bits >> 4) & 0xF];
    hex[digits++] = Digits[bits & 0xF];
  };
  for (const unsigned char* c = (const unsigned char*)text; *c; ++c) {
    bits |= (uint32_t)(*c & 0x7F) << shift;
    if (shift == 0) {
      shift = 7;
      continue;
    }
    putOctet();
    bits >>= 8;
    --shift;
  }
  if (shift != 0) putOctet();
  hex[digits] = '\0';
  return digits;
}

int Gsm7SeptetsOf(unsigned character, unsigned char* out) {
  for (int septet = 0; septet < 128; ++septet)
    if (septet != Gsm7Escape && DefaultAlphabet[septet] == character) {
      out[0] = (unsigned char)septet;
      return 1;
    }
  for (const Extension& e : ExtensionTable)
    if (e.character == character && e.character != PageBreak) {
      out[0] = Gsm7Escape;
      out[1] = e.septet;
      return 2;
    }
  return 0;
}

int Ucs2HexToGsm7(unsigned char* septets, int size, const char* ucs2Hex, int units) {
  int count = 0;
  for (int i = 0; i < units; ++i) {
    unsigned char these[2];
    const long unit = ReadUcs2Unit(ucs2Hex + 4 * (size_t)i);
    const int n = unit < 0 ? 0 : Gsm7SeptetsOf((unsigned)unit, these);  // a surrogate has no place either
    if (n == 0 || count + n > size) return -1;
    memcpy(septets + count, these, (size_t)n);
    count += n;
  }
  return count;
}

int PackSeptets(unsigned char* octets, int size, const unsigned char* septets, int count, int firstBit) {
  if (count < 0 || firstBit < 0 || size < 0) return -1;
  const long long bits = firstBit + 7LL * count;
  const int used = (int)((bits + 7) / 8);
  if (used > size) return -1;
  const int at = firstBit / 8;
  if (at < used) {
    octets[at] &= (unsigned char)((1u << (firstBit % 8)) - 1);
    memset(octets + at + 1, 0, (size_t)(used - at - 1));
  }
  for (int i = 0; i < count; ++i) {
    const int bit = firstBit + 7 * i;
    const unsigned septet = septets[i] & 0x7Fu;
    octets[bit / 8] |= (unsigned char)(septet << (bit % 8));
    if (bit % 8 > 1) octets[bit / 8 + 1] |= (unsigned char)(septet >> (8 - bit % 8));  // it straddles two octets
  }
  return used;
}
