// A scripted modem in place of src/serial/exchange.cpp: SendCmd records each line, ReadResponse
// plays the next scripted answer at once, then silence (""). NowMicros moves on by what each read
// would take (1.5 s for silence, 0.5 s after an answer) and by each PauseMicros. Of an answer longer than
// ResponseBuffer, ContinueResponse hands out the rest a buffer at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "serial/answer_end.h"

constexpr int FakePort = 7;

void PlayAnswers(const std::vector<std::string>& answers);  // also forgets the lines sent
// Instead of a script, each read answers the line sent last (as a modem with a store would) with
// what answer gives for it; also forgets the lines sent. Until the next PlayAnswers.
void AnswerEachLine(std::function<std::string(const std::string& line)> answer);
const std::vector<std::string>& LinesSent();
int ReadsDone();  // ReadResponse calls since PlayAnswers
const std::vector<Awaited>& AwaitedByRead();  // what each of those reads awaited
