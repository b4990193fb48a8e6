#include "modem/reports.h"

#include <stdio.h>
#include <string.h>

#include "modem/commands.h"
#include "listing/escape.h"
#include "modem/failure.h"
#include "modem/step.h"
#include "serial/exchange.h"

namespace {

constexpr int CommandSize = 64;
constexpr int AnswerSize = 96;  // the modem's line, cut
constexpr int ValueLimit = 255;
constexpr int PassReports = 1;   // <ds> 1: reports go to the port as +CDS, unstored

// The number at *text (blanks before it skipped), 0 to ValueLimit, and *text past it; -1 otherwise.
int ReadValue(const char** text) {
  const char* p = *text;
  while (*p == ' ') ++p;
  if (*p < '0' || *p > '9') return -1;
  int value = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if ((value = value * 10 + (*p - '0')) > ValueLimit) return -1;
  *text = p;
  return value;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n' || c == '\0'; }

// One line: why the report may be lost, after what the modem said to command.
int SayReportMayBeLost(const char* command, bool reading) {
  if (PortLost()) return -1;  // that has its own line
  char answer[AnswerSize];
  const int kind = DescribeAnswer(answer, sizeof answer, ResponseBuffer);
  const int length = (int)strcspn(command, "\r");
  if (kind == 0) {
    fprintf(stderr, "atsms: the modem gave no answer to %.*s", length, command);
  } else if (kind == 1 && reading) {  // an answer without the line asked for
    fprintf(stderr, "atsms: the answer to %.*s could not be read", length, command);
  } else {
    fprintf(stderr, "atsms: the modem refused %.*s: ", length, command);
    PrintEscaped(stderr, answer);
  }
  fputs("; the delivery report may be lost\n", stderr);
  return -1;
}

}  // namespace

int ReadIndicationSettings(const char* answer, int* values) {
  const char* p = strstr(answer, AnsIndications);
  if (!p) return -1;
  p += strlen(AnsIndications);
  for (int i = 0; i < IndicationValues; ++i) {
    if (i > 0 && *p++ != ',') return -1;
    if ((values[i] = ReadValue(&p)) < 0) return -1;
  }
  while (*p == ' ') ++p;
  return IsLineEnd(*p) ? 0 : -1;
}

int ReadSendReference(const char* answer) {
  const char* p = strstr(answer, AnsSendReference);
  if (!p) return -1;
  p += strlen(AnsSendReference);
  const int reference = ReadValue(&p);
  return *p == ',' || IsLineEnd(*p) ? reference : -1;
}

int KeepStatusReports(int port) {
  Exchange(port, CmdReadIndications);
  int values[IndicationValues];
  if (ReadIndicationSettings(ResponseBuffer, values) < 0) return SayReportMayBeLost(CmdReadIndications, true);
  if (values[3] == PassReports) {
    if (PortLost()) return -1;
    fputs("atsms: the modem passes delivery reports on as +CDS instead of keeping them (+CNMI <ds> 1); "
          "the delivery report may be lost\n",
          stderr);
    return -1;
  }
  if (values[3] != 0) return 0;  // kept already, or a maker's own way
  char command[CommandSize];
  snprintf(command, sizeof command, CmdKeepReportsFormat, values[0], values[1], values[2], values[4]);
  Exchange(port, command);
  return ResponseHas(AnsOk) ? 0 : SayReportMayBeLost(command, false);
}
