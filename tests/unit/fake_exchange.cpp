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
std::string Rest;  // the part of the last answer that did not fit ResponseBuffer
long long Clock = 0;  // NowMicros: each read takes the time a real one would, a pause its length
std::function<std::string(const std::string& line)> Answerer;
}  // namespace

void AnswerEachLine(std::function<std::string(const std::string& line)> answer) {
  PlayAnswers({});
  Answerer = std::move(answer);
}

void PlayAnswers(const std::vector<std::string>& answers) {
  Answerer = nullptr;
  Answers = answers;
  NextAnswer = 0;
  Sent.clear();
  Reads = 0;
  AwaitedKinds.clear();
  Rest.clear();
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
  std::string next = NextAnswer < Answers.size() ? Answers[NextAnswer++] : "";  // then silence
  if (Answerer) next = Answerer(Sent.empty() ? std::string() : Sent.back());
  Clock += next.empty() ? 1500000 : 500000;  // the silence that ends a collection
  snprintf(ResponseBuffer, sizeof ResponseBuffer, "%s", next.c_str());
  const int count = (int)strlen(ResponseBuffer);
  Rest = next.substr(count);  // what a full buffer left; only ContinueResponse takes it
  return count;
}

int ContinueResponse(int, int keep) {
  if (keep < 0 || keep >= ResponseBufferSize) keep = 0;
  std::string kept(ResponseBuffer + ResponseBufferSize - keep, keep);
  const std::string more = Rest.substr(0, ResponseBufferSize - keep);
  Rest.erase(0, more.size());
  Clock += 500000;
  snprintf(ResponseBuffer, sizeof ResponseBuffer, "%s", (kept + more).c_str());
  return (int)strlen(ResponseBuffer);
}

void SetQuickMode(bool) {}  // every answer is played whole at once anyway

bool PortLost() { return false; }

long long NowMicros() { return Clock; }

void PauseMicros(long long micros) { Clock += micros; }
