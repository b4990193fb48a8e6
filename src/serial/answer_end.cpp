#include "serial/answer_end.h"

#include <string.h>

namespace {

constexpr char FinalResultPrefixes[][13] = {"+CMS ERROR: ", "+CME ERROR: "};  // then <err>
constexpr char UssdResult[] = "+CUSD:";
constexpr char UssdRefusal[] = "COMMAND NOT SUPPORT";  // one maker's "ERROR" to AT+CUSD

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool Is(const char* text, int length, const char* word) {
  return length == (int)strlen(word) && memcmp(text, word, length) == 0;
}

bool StartsWith(const char* text, int length, const char* prefix) {
  int n = (int)strlen(prefix);
  return length >= n && memcmp(text, prefix, n) == 0;
}

// OK, ERROR, +CMS ERROR: 321 (TS 27.007 5.7; <err> may also be verbose text), without the CR LF.
bool IsFinalResult(const char* line, int n) {
  if (Is(line, n, "OK") || Is(line, n, "ERROR")) return true;
  for (const char* prefix : FinalResultPrefixes)
    if (StartsWith(line, n, prefix) && n > (int)strlen(prefix)) return true;
  return false;
}

// The start of the line whose CR LF ends at end (the index of its CR).
int LineStart(const char* answer, int end) {
  int start = end;
  while (start > 0 && answer[start - 1] != '\n') --start;
  return start;
}

// The last line of answer, when answer ends with its CR LF; nullptr otherwise. *n: its length.
const char* LastLine(const char* answer, int length, int* n) {
  if (length < 2 || answer[length - 2] != '\r' || answer[length - 1] != '\n') return nullptr;
  int start = LineStart(answer, length - 2);
  *n = length - 2 - start;
  return answer + start;
}

// \r\nOK\r\n, \r\nERROR\r\n, \r\n+CMS ERROR: 321\r\n
bool EndsWithFinalResult(const char* answer, int length) {
  int n = 0;
  const char* line = LastLine(answer, length, &n);
  return line && IsFinalResult(line, n);
}

bool EndsWithUssdRefusal(const char* answer, int length) {
  int n = 0;
  const char* line = LastLine(answer, length, &n);
  return line && Is(line, n, UssdRefusal);
}

// Where the first final result line of answer ends, or -1.
int FinalResultEnd(const char* answer, int length) {
  for (int at = 0; at + 1 < length; ++at) {
    if (answer[at] != '\r' || answer[at + 1] != '\n') continue;
    int start = LineStart(answer, at);
    if (IsFinalResult(answer + start, at - start)) return at + 2;
  }
  return -1;
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
      while (j < length && answer[j] == ' ') ++j;  // some modems write ", 15"
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
    case AwaitUssdAck: {
      // The network may answer at once, so that the "+CUSD:" line comes in the read of the "OK".
      if (EndsWithFinalResult(answer, length) || EndsWithUssdRefusal(answer, length)) return true;
      int end = FinalResultEnd(answer, length);
      return end >= 0 && HoldsWholeUssdResult(answer + end, length - end);
    }
    case AwaitFinalResult: break;
  }
  return EndsWithFinalResult(answer, length);
}
