#include "serial/answer_end.h"

#include <string.h>

namespace {

constexpr char FinalResultPrefixes[][13] = {"+CMS ERROR: ", "+CME ERROR: "};  // then <err>
constexpr char UssdResult[] = "+CUSD:";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool Is(const char* text, int length, const char* word) {
  return length == (int)strlen(word) && memcmp(text, word, length) == 0;
}

bool StartsWith(const char* text, int length, const char* prefix) {
  int n = (int)strlen(prefix);
  return length >= n && memcmp(text, prefix, n) == 0;
}

// \r\nOK\r\n, \r\nERROR\r\n, \r\n+CMS ERROR: 321\r\n (TS 27.007 5.7; <err> may also be verbose text).
bool EndsWithFinalResult(const char* answer, int length) {
  if (length < 2 || answer[length - 2] != '\r' || answer[length - 1] != '\n') return false;
  int end = length - 2;
  int start = end;
  while (start > 0 && answer[start - 1] != '\n') --start;
  const char* line = answer + start;
  int n = end - start;
  if (Is(line, n, "OK") || Is(line, n, "ERROR")) return true;
  for (const char* prefix : FinalResultPrefixes)
    if (StartsWith(line, n, prefix) && n > (int)strlen(prefix)) return true;
  return false;
}

bool IsLineEnd(const char* answer, int length, int at) {
  return at + 1 < length && answer[at] == '\r' && answer[at + 1] == '\n';
}

// +CUSD: <m>[,"<str>"[,<dcs>]]\r\n from the character after the colon. A quoted string may hold
// line breaks (a menu), so only a quote followed by the optional ",<dcs>" and CR LF closes it.
// Without the ",<dcs>", a menu line that ends in a quote looks the same: such a quote closes the
// string only when nothing has arrived behind its CR LF.
bool UssdLineWhole(const char* answer, int length, int from) {
  int i = from;
  while (i < length && answer[i] != '"' && answer[i] != '\r') ++i;
  if (i >= length) return false;
  if (answer[i] == '\r') return IsLineEnd(answer, length, i);  // no string, or an unquoted one
  for (int quote = i + 1; quote < length; ++quote) {
    if (answer[quote] != '"') continue;
    int j = quote + 1;
    if (j < length && answer[j] == ',') {
      ++j;
      while (j < length && IsDigit(answer[j])) ++j;
    }
    if (IsLineEnd(answer, length, j) && (j > quote + 1 || j + 2 == length)) return true;
  }
  return false;
}

bool HoldsWholeUssdResult(const char* answer, int length) {
  int n = (int)strlen(UssdResult);
  for (int at = 0; at + n <= length; ++at)
    if (memcmp(answer + at, UssdResult, n) == 0 && UssdLineWhole(answer, length, at + n)) return true;
  return false;
}

}  // namespace

bool AnswerComplete(const char* answer, int length, Awaited awaited) {
  switch (awaited) {
    case AwaitPrompt:
      return (length >= 2 && answer[length - 2] == '>' && answer[length - 1] == ' ') ||
             EndsWithFinalResult(answer, length);
    case AwaitUssdResult: return HoldsWholeUssdResult(answer, length);
    case AwaitFinalResult: break;
  }
  return EndsWithFinalResult(answer, length);
}
