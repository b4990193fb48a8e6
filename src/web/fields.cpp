#include <string.h>

#include "web/bridge.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

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
  const unsigned char* end = (const unsigned char*)text + length;
  for (const unsigned char* p = (const unsigned char*)text; p < end;) {
    const int step = Utf8At(p, end);
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
