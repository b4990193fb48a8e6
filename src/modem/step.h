// One step of an operation: a command line written to the modem and the first collection of its
// answer. Every step goes through here, so that what holds for all of them holds in one place.
#pragma once

#include "serial/answer_end.h"

// Writes command and collects its answer into ResponseBuffer, as the caller awaits it. Yields the
// bytes collected (0 when nothing came). A failed write shows up as a missing answer.
int Exchange(int port, const char* command, Awaited awaited = AwaitFinalResult);
