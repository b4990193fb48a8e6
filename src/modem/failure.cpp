#include "modem/failure.h"

#include <stdio.h>
#include <string.h>

#include "modem/error_codes.h"
#include "listing/escape.h"
#include "serial/exchange.h"
#include "serial/unasked_lines.h"

namespace {

enum Record { NoRecord, Refusal, Fixed, Silence };

constexpr int CommandSize = 160;              // the longest command line: AT+CUSD with 126 hex digits
constexpr int StepSize = CommandSize + 64;    // a command and our words around it
constexpr int AnswerSize = 96;                // the modem's line, cut; a numbered error with its meaning fits
constexpr char CmeLine[] = "+CME ERROR:";
constexpr char CmsLine[] = "+CMS ERROR:";

Record Recorded = NoRecord;
bool Explained = false;
bool Reported = false;
bool BusyHint = false;    // the refusal recorded is a busy SIM's: waiting longer would help
bool StayedBusy = false;
char Step[StepSize];      // Refusal: who refused what ("the modem refused ATE0"); Fixed: the whole line
char Answer[AnswerSize];  // Refusal: what the modem said

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool StartsWith(const char* text, const char* end, const char* prefix) {
  const size_t length = strlen(prefix);
  return (size_t)(end - text) >= length && memcmp(text, prefix, length) == 0;
}

bool IsErrorLine(const char* line, const char* end) {
  return (end - line == 5 && memcmp(line, "ERROR", 5) == 0) || StartsWith(line, end, CmeLine) ||
         StartsWith(line, end, CmsLine);
}

// The meaning of "+CME ERROR: <n>" or "+CMS ERROR: <n>"; nullptr for words or an unnamed code.
const char* MeaningOf(const char* line, const char* end) {
  const ErrorFamily family = StartsWith(line, end, CmeLine) ? CmeError : CmsError;
  const char* p = line + strlen(CmeLine);
  while (p < end && IsBlank(*p)) ++p;
  const char* const digits = p;
  int code = 0;
  for (; p < end && IsDigit(*p) && p - digits < 6; ++p) code = code * 10 + (*p - '0');
  return p > digits && p == end ? ErrorMeaning(family, code) : nullptr;
}

// text (length bytes) into dest, cut to fit with "..." behind, never inside a UTF-8 character.
void CopyCut(char* dest, int size, const char* text, int length) {
  if (length < size) {
    memcpy(dest, text, (size_t)length);
    dest[length] = '\0';
    return;
  }
  int keep = size - 4;
  while (keep > 0 && ((unsigned char)text[keep] & 0xC0) == 0x80) --keep;
  memcpy(dest, text, (size_t)keep);
  memcpy(dest + keep, "...", 4);
}

// command without the CR that ends a command line.
void CopyCommand(char* dest, int size, const char* command) {
  const size_t length = strcspn(command, "\r");
  snprintf(dest, (size_t)size, "%.*s", (int)length, command);
}

// A Refusal record: "<who refused what>: <the answer's line>"; false when the answer holds no line.
bool NoteAnswer(const char* step, const char* command) {
  if (DescribeAnswer(Answer, AnswerSize, ResponseBuffer, command) == 0) return false;
  snprintf(Step, sizeof Step, "%s", step);
  Recorded = Refusal;
  return true;
}

}  // namespace

int DescribeAnswer(char* dest, int size, const char* answer, const char* command) {
  char prefix[16];
  AnswerPrefix(prefix, sizeof prefix, command ? command : "");
  const char* echo = command ? command + strspn(command, "\x1b") : "";
  const size_t echoLength = strcspn(echo, "\r\x1a");
  const char* found = nullptr;
  const char* foundEnd = nullptr;
  int kind = 0;
  for (const char* line = answer; *line;) {
    const char* end = line + strcspn(line, "\r\n");
    const char* start = line;
    while (start < end && IsBlank(*start)) ++start;
    const char* stop = end;
    while (stop > start && IsBlank(stop[-1])) --stop;
    const bool noise = IsUnaskedLine(start, (int)(stop - start), prefix) ||
                       (echoLength > 0 && (size_t)(stop - start) == echoLength && memcmp(start, echo, echoLength) == 0);
    if (start < stop && !noise) {
      const int lineKind = IsErrorLine(start, stop) ? 2 : 1;
      if (lineKind >= kind) {  // a later error line, or any later line while no error line came
        found = start;
        foundEnd = stop;
        kind = lineKind;
      }
    }
    line = *end ? end + 1 : end;
  }
  dest[0] = '\0';
  if (!found) return 0;
  const char* meaning = kind == 2 && *found == '+' ? MeaningOf(found, foundEnd) : nullptr;
  if (meaning)
    snprintf(dest, (size_t)size, "%.*s (%s)", (int)(foundEnd - found), found, meaning);
  else
    CopyCut(dest, size, found, (int)(foundEnd - found));
  return kind;
}

void NoteRefusal(const char* command) {
  if (Recorded != NoRecord) return;
  char step[StepSize];
  const int length = snprintf(step, sizeof step, "the modem refused ");
  CopyCommand(step + length, StepSize - length, command);
  if (!NoteAnswer(step, command)) NoteFailure("the modem gave no answer to %s", command);
}

bool NoteErrorAnswer(const char* command) {
  char line[AnswerSize];
  if (DescribeAnswer(line, sizeof line, ResponseBuffer, command) != 2) return false;
  NoteRefusal(command);
  return true;
}

void NoteBusy(const char* command) {
  StayedBusy = true;
  if (Recorded != NoRecord) return;
  NoteRefusal(command);
  BusyHint = true;
}

bool SimStayedBusy() { return StayedBusy; }

void NoteNetworkRefusal() {
  if (Recorded == NoRecord) NoteAnswer("the network refused the USSD request", nullptr);
}

void NoteFailure(const char* format, const char* command) {
  if (Recorded != NoRecord) return;
  char bare[CommandSize];
  CopyCommand(bare, sizeof bare, command);
  snprintf(Step, sizeof Step, format, bare);
  Recorded = Fixed;
}

void NoteSilence() {
  if (Recorded == NoRecord) Recorded = Silence;
}

void NoteExplained() { Explained = true; }

void ReportFailure(const char* port) {
  if (Recorded == NoRecord || Explained || Reported || PortLost()) return;
  Reported = true;
  fputs("atsms: ", stderr);
  if (Recorded == Silence) {
    fputs("the modem does not answer on ", stderr);
    PrintEscaped(stderr, port);
    fputs("; is it the AT-command port?", stderr);
  } else if (Recorded == Refusal) {
    PrintEscaped(stderr, Step);
    fputs(": ", stderr);
    PrintEscaped(stderr, Answer);
    if (BusyHint) fputs("; wait for it with -w SECONDS", stderr);
  } else {
    PrintEscaped(stderr, Step);
  }
  fputc('\n', stderr);
}

void FailureText(char* dest, int size, const char* port) {
  if (Recorded == Silence)
    snprintf(dest, (size_t)size, "the modem does not answer on %s; is it the AT-command port?", port);
  else if (Recorded == Refusal)
    snprintf(dest, (size_t)size, "%s: %s%s", Step, Answer, BusyHint ? "; wait for it with -w SECONDS" : "");
  else if (Recorded == Fixed)
    snprintf(dest, (size_t)size, "%s", Step);
  else
    dest[0] = '\0';
}

void ForgetFailure() {
  Recorded = NoRecord;
  Explained = false;
  Reported = false;
  BusyHint = false;
  StayedBusy = false;
}
