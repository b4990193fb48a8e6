#include "serial/answer_end.h"

#include <stdio.h>
#include <string.h>

#include "serial/unasked_lines.h"

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

bool IsFinalError(const char* line, int n) { return IsFinalResult(line, n) && !Is(line, n, "OK"); }

// The last line of answer that is neither blank nor a whole line sent unasked (prefix: the answer's
// own lines), without its CR LF: *n its length, *whole whether a line feed ended it. Null when none.
const char* LastAnswerLine(const char* answer, int length, const char* prefix, int* n, bool* whole) {
  const char* last = nullptr;
  for (int start = 0; start < length;) {
    int end = start;
    while (end < length && answer[end] != '\n') ++end;
    int stop = end;
    while (stop > start && answer[stop - 1] == '\r') --stop;
    const bool ended = end < length;
    if (stop > start && !(ended && IsUnaskedLine(answer + start, stop - start, prefix))) {
      last = answer + start;
      *n = stop - start;
      *whole = ended;
    }
    start = end + 1;
  }
  return last;
}

// \r\nOK\r\n, \r\nERROR\r\n, \r\n+CMS ERROR: 321\r\n, each perhaps followed by unasked lines.
bool EndsWith(const char* answer, int length, const char* prefix, bool (*matches)(const char* line, int n)) {
  int n = 0;
  bool whole = false;
  const char* line = LastAnswerLine(answer, length, prefix, &n, &whole);
  return line && whole && answer[length - 1] == '\n' && matches(line, n);
}

bool IsUssdRefusal(const char* line, int n) { return Is(line, n, UssdRefusal); }

// "> " or ">" at the start of the last line, perhaps followed by unasked lines.
bool EndsWithPrompt(const char* answer, int length, const char* prefix) {
  int n = 0;
  bool whole = false;
  const char* line = LastAnswerLine(answer, length, prefix, &n, &whole);
  return line && line[0] == '>' && (n == 1 || (n == 2 && line[1] == ' '));
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

bool AnswerComplete(const char* answer, int length, Awaited awaited, const char* command) {
  char prefix[16];
  AnswerPrefix(prefix, sizeof prefix, command ? command : "");
  // A "+CUSD:" line is the answer awaited, never a line sent unasked.
  if (awaited == AwaitUssdAck || awaited == AwaitUssdResult) snprintf(prefix, sizeof prefix, "%s", UssdResult);
  switch (awaited) {
    case AwaitPrompt:
      return EndsWithPrompt(answer, length, prefix) || EndsWith(answer, length, prefix, IsFinalResult);
    case AwaitUssdResult:
      return HoldsWholeUssdResult(answer, length) || EndsWith(answer, length, prefix, IsFinalError);
    case AwaitUssdAck: {
      // The network may answer at once, so that the "+CUSD:" line comes in the read of the "OK".
      if (EndsWith(answer, length, prefix, IsFinalResult) || EndsWith(answer, length, prefix, IsUssdRefusal))
        return true;
      int end = FinalResultEnd(answer, length);
      return end >= 0 && HoldsWholeUssdResult(answer + end, length - end);
    }
    case AwaitFinalResult: break;
  }
  return EndsWith(answer, length, prefix, IsFinalResult);
}

bool OnlyEcho(const char* answer, int length, const char* command) {
  char prefix[16];
  AnswerPrefix(prefix, sizeof prefix, command);
  while (*command == '\x1b') ++command;  // ESC ends a PDU entry; some modems echo it, some do not
  const int echoLength = (int)strcspn(command, "\r\x1a");
  bool echoed = false;
  for (int at = 0; at < length;) {
    const char c = answer[at];
    if (c == '\r' || c == '\n' || c == '\x1a' || c == '\x1b') {
      ++at;
      continue;
    }
    const int left = length - at;
    if (!echoed && echoLength > 0 && memcmp(answer + at, command, left < echoLength ? left : echoLength) == 0) {
      echoed = true;
      at += echoLength;
      continue;
    }
    int n = 0;
    while (at + n < length && answer[at + n] != '\r' && answer[at + n] != '\n') ++n;
    if (at + n == length || !IsUnaskedLine(answer + at, n, prefix)) return false;  // an answer, or its start
    at += n;
  }
  return true;
}

const char* FindFinalResult(const char* answer, bool* ok) {
  for (const char* line = answer; *line;) {
    const int n = (int)strcspn(line, "\r\n");
    if (IsFinalResult(line, n)) {
      *ok = Is(line, n, "OK");
      return line;
    }
    line += n;
    if (*line) ++line;
  }
  return nullptr;
}
