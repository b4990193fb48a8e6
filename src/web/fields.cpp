#include <string.h>

#include "web/bridge.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Bytes of the UTF-8 sequence at text (1 to 4), or 0 when it is not one: truncated, overlong,
// a surrogate (U+D800 to U+DFFF) or past U+10FFFF. atsms refuses the same.
int Utf8Sequence(const unsigned char* text) {
  const unsigned c = text[0];
  if (c < 0x80) return 1;
  int length;
  unsigned value;
  if ((c & 0xE0) == 0xC0) {
    length = 2;
    value = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3;
    value = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4;
    value = c & 0x07;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;  // a NUL ends the text here too
    value = (value << 6) | (text[i] & 0x3F);
  }
  static const unsigned Smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < Smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool PhoneNumberOk(const char* number) {
  if (*number == '+') ++number;
  size_t digits = 0;
  for (; IsDigit(number[digits]); ++digits) {
  }
  return number[digits] == '\0' && digits >= 1 && digits <= 18;
}

const char* TextProblem(const char* text) {
  const size_t length = strlen(text);
  if (length == 0) return "the text is empty; nothing sent";
  if (length > TextSize - 1) return "the text is longer than 1023 bytes";
  for (const unsigned char* p = (const unsigned char*)text; *p;) {
    const int step = Utf8Sequence(p);
    if (step == 0) return "the text is not valid UTF-8";
    p += step;
  }
  return nullptr;
}

bool UssdCodeOk(const char* code) {
  const size_t length = strlen(code);
  if (length == 0 || length > UssdCodeSize - 1) return false;
  for (; *code; ++code)
    if (*code < ' ' || *code > '~') return false;  // control characters and what 7 bits cannot carry
  return true;
}

bool IndexOk(const char* digits) {
  size_t count = 0;
  for (; IsDigit(digits[count]); ++count) {
  }
  if (digits[count] != '\0' || count == 0 || count > IndexSize - 1) return false;
  return count < IndexSize - 1 || strcmp(digits, "2147483647") <= 0;  // ten digits: compare as text
}

bool IdOk(const char* id) {
  size_t count = 0;
  for (; IsHex(id[count]); ++count) {
  }
  return id[count] == '\0' && count == IdSize - 1;
}

bool StorageOk(const char* storage, Op op) {
  if (strcmp(storage, "sim") == 0 || strcmp(storage, "tel") == 0) return true;
  return strcmp(storage, "report") == 0 && (op == Op::List || op == Op::Delete || op == Op::DeleteAll);
}
