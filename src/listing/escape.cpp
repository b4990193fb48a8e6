#include "listing/escape.h"

#include "codec/utf8_to_ucs2.h"

int ControlCharacterAt(const char* text) {
  const unsigned char c = (unsigned char)text[0];
  if ((c > 0 && c < 0x20) || c == 0x7F) return 1;
  return c == 0xC2 && (unsigned char)text[1] >= 0x80 && (unsigned char)text[1] <= 0x9F ? 2 : 0;
}

void PrintEscaped(FILE* out, const char* text) {
  for (; *text; ++text) {
    switch (*text) {
      case '\\': fputs("\\\\", out); break;
      case '\t': fputs("\\t", out); break;
      case '\r': fputs("\\r", out); break;
      case '\n': fputs("\\n", out); break;
      default:
        // Other controls would reach the reader's terminal: ESC starts its escape sequences, and
        // C1's CSI (U+009B) does on some.
        switch (ControlCharacterAt(text)) {
          case 1: fprintf(out, "\\x%02x", (unsigned char)*text); break;
          case 2: fprintf(out, "\\u00%02x", (unsigned char)*++text); break;
          default: fputc(*text, out);
        }
    }
  }
}

void PrintJsonText(FILE* out, const char* text) {
  static const char named[] = "\"\"\\\\\bb\ff\nn\rr\tt";  // each character, then its letter after '\\'
  for (const unsigned char* p = (const unsigned char*)text; *p;) {
    const unsigned char c = *p;
    const int length = Utf8SequenceLength[c];
    if (length == 1) {
      const char* e = named;
      while (*e && *e != (char)c) e += 2;
      if (*e) {
        fputc('\\', out);
        fputc(e[1], out);
      } else if (c < 0x20) {
        fprintf(out, "\\u%04x", c);
      } else {
        fputc(c, out);
      }
      ++p;
      continue;
    }
    // The second byte rules out overlong forms (E0, F0), surrogates (ED) and values above U+10FFFF (F4).
    const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    int valid = 1;  // bytes that still fit a sequence
    while (valid < length && p[valid] >= (valid == 1 ? low : 0x80) && p[valid] <= (valid == 1 ? high : 0xBF))
      ++valid;
    if (valid == length)
      fwrite(p, 1, (size_t)length, out);
    else
      fputs("\xEF\xBF\xBD", out);  // U+FFFD
    p += valid;
  }
}

void PrintJsonString(FILE* out, const char* text) {
  fputc('"', out);
  PrintJsonText(out, text);
  fputc('"', out);
}
