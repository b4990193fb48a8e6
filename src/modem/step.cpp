#include "modem/step.h"

#include <string.h>

#include "modem/failure.h"
#include "serial/exchange.h"

namespace {

constexpr long long RetryMicros = 500000;
long long Deadline = 0;

// The codes of a SIM that is still starting (TS 27.007 9.2.1, TS 27.005 3.2.5; 515 is several
// makers' "please wait"), after the prefix and its blanks.
struct Busy { const char* prefix; const char* code; };
constexpr Busy BusyAnswers[] = {
    {"+CME ERROR:", "14"}, {"+CME ERROR:", "SIM busy"}, {"+CME ERROR:", "515"}, {"+CMS ERROR:", "314"}};

bool IsBusyLine(const char* line, size_t length) {
  for (const Busy& busy : BusyAnswers) {
    const size_t n = strlen(busy.prefix);
    if (length < n || memcmp(line, busy.prefix, n) != 0) continue;
    size_t at = n;
    while (at < length && line[at] == ' ') ++at;
    size_t end = length;
    while (end > at && line[end - 1] == ' ') --end;
    if (end - at == strlen(busy.code) && memcmp(line + at, busy.code, end - at) == 0) return true;
  }
  return false;
}

// The answer's final result is a busy refusal.
bool HoldsBusyRefusal(const char* answer) {
  bool ok = false;
  const char* result = FindFinalResult(answer, &ok);
  return result && !ok && IsBusyLine(result, strcspn(result, "\r\n"));
}

}  // namespace

void SetBusyDeadline(long long micros) { Deadline = micros; }

bool RetryWhenBusy(const char* command) {
  if (!HoldsBusyRefusal(ResponseBuffer)) return false;
  if (NowMicros() + RetryMicros > Deadline) {
    NoteBusy(command);
    return false;
  }
  PauseMicros(RetryMicros);
  return true;
}

int Exchange(int port, const char* command, Awaited awaited) {
  int count = 0;
  do {
    SendCmd(port, command);  // not judged: the answer decides
    count = ReadResponseFor(port, awaited);
  } while (!PortLost() && RetryWhenBusy(command));
  return count;
}
