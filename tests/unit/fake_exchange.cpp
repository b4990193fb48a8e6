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
std::vector<Awaited> AwaitedKinds;
}  // namespace

void PlayAnswers(const std::vector<std::string>& answers) {
  Answers = answers;
  NextAnswer = 0;
  Sent.clear();
  Reads = 0;
  AwaitedKinds.clear();
  ResponseBuffer[0] = '\0';
}

const std::vector<std::string>& LinesSent() { return Sent; }
int ReadsDone() { return Reads; }
const std::vector<Awaited>& AwaitedByRead() { return AwaitedKinds; }

int SendCmd(int, const char* text) {
  Sent.emplace_back(text);
  return 0;
}

int ReportSendError() {
  fputs("SendCmd error. 5-Input/output error\n", stderr);
  return -1;
}

int ReadResponse(int port) { return ReadResponseFor(port, AwaitFinalResult); }

int ReadResponseFor(int, Awaited awaited) {
  ++Reads;
  AwaitedKinds.push_back(awaited);
  const char* next = NextAnswer < Answers.size() ? Answers[NextAnswer++].c_str() : "";  // then silence
  snprintf(ResponseBuffer, sizeof ResponseBuffer, "%s", next);
  return (int)strlen(ResponseBuffer);
}

void SetQuickMode(bool) {}  // every answer is played whole at once anyway

bool PortLost() { return false; }
