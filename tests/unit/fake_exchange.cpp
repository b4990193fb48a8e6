// Defines every symbol of src/serial/exchange.cpp, so that exchange.cpp.o is never linked in.
#include "fake_exchange.h"

#include <stdio.h>

#include "serial/exchange.h"

char ResponseBuffer[ResponseBufferSize + 1];

namespace {
std::vector<std::string> Answers;
size_t NextAnswer = 0;
std::vector<std::string> Sent;
int Reads = 0;
}  // namespace

void PlayAnswers(const std::vector<std::string>& answers) {
  Answers = answers;
  NextAnswer = 0;
  Sent.clear();
  Reads = 0;
  ResponseBuffer[0] = '\0';
}

const std::vector<std::string>& LinesSent() { return Sent; }
int ReadsDone() { return Reads; }

int SendCmd(int, const char* text) {
  Sent.emplace_back(text);
  return 0;
}

int ReportSendError() {
  fputs("SendCmd error. 5-Input/output error\n", stderr);
  return -1;
}

int ReadResponse(int) {
  ++Reads;
  const char* next = NextAnswer < Answers.size() ? Answers[NextAnswer++].c_str() : "";  // then silence
  snprintf(ResponseBuffer, sizeof ResponseBuffer, "%s", next);
  return (int)strlen(ResponseBuffer);
}

bool PortLost() { return false; }
