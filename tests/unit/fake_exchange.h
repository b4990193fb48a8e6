// A scripted modem in place of src/serial/exchange.cpp: SendCmd records each line, ReadResponse
// plays the next scripted answer at once, then silence (""). Of an answer longer than
// ResponseBuffer, ContinueResponse hands out the rest a buffer at a time.
#pragma once

#include <string>
#include <vector>

#include "serial/answer_end.h"

constexpr int FakePort = 7;

void PlayAnswers(const std::vector<std::string>& answers);  // also forgets the lines sent
const std::vector<std::string>& LinesSent();
int ReadsDone();  // ReadResponse calls since PlayAnswers
const std::vector<Awaited>& AwaitedByRead();  // what each of those reads awaited
