#include "serial/unasked_lines.h"

#include <stdio.h>
#include <string.h>

namespace {

// What modems say when they start, when a call comes, when the network's clock changes.
constexpr const char* BareLines[] = {"RING", "RDY", "Call Ready", "SMS Ready", "SMS DONE", "PB DONE", "NO CARRIER"};
constexpr char DaylightSaving[] = "DST: ";  // then a digit
constexpr const char* FinalErrors[] = {"+CME ERROR:", "+CMS ERROR:"};

bool StartsWith(const char* line, int length, const char* prefix) {
  const int n = (int)strlen(prefix);
  return length >= n && memcmp(line, prefix, (size_t)n) == 0;
}

bool IsDigits(const char* text, int length) {
  if (length <= 0) return false;
  for (int i = 0; i < length; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

}  // namespace

bool IsUnaskedLine(const char* line, int length, const char* awaited) {
  if (length <= 0) return false;
  if (line[0] == '+' || line[0] == '^') {
    for (const char* error : FinalErrors)
      if (StartsWith(line, length, error)) return false;
    return !(awaited && *awaited && StartsWith(line, length, awaited));
  }
  for (const char* bare : BareLines)
    if (length == (int)strlen(bare) && memcmp(line, bare, (size_t)length) == 0) return true;
  const int prefix = (int)strlen(DaylightSaving);
  return StartsWith(line, length, DaylightSaving) && IsDigits(line + prefix, length - prefix);
}

const char* SkipUnaskedLines(const char* text, const char* awaited) {
  for (;;) {
    while (*text == '\r' || *text == '\n') ++text;
    const int length = (int)strcspn(text, "\r\n");
    if (length == 0 || !IsUnaskedLine(text, length, awaited)) return text;
    text += length;
  }
}

void AnswerPrefix(char* prefix, int size, const char* command) {
  prefix[0] = '\0';
  while (*command == '\x1b') ++command;
  if (strncmp(command, "AT+", 3) != 0) return;
  const int name = (int)strcspn(command + 2, "=?\r");  // "+CMGR"
  snprintf(prefix, (size_t)size, "%.*s:", name < size - 2 ? name : size - 2, command + 2);
}
