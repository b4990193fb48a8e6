// One step of an operation: a command line written to the modem and the first collection of its
// answer. Every step goes through here, so that what holds for all of them holds in one place.
#pragma once

#include "serial/answer_end.h"

// Writes command and collects its answer into ResponseBuffer, as the caller awaits it. A busy
// refusal is waited out (RetryWhenBusy). Yields the bytes collected (0 when nothing came). A failed
// write shows up as a missing answer.
int Exchange(int port, const char* command, Awaited awaited = AwaitFinalResult);

// The run's deadline, on NowMicros's clock (the front end's -w): until then a command that a busy
// SIM refused is written again. Until it is set, never.
void SetBusyDeadline(long long micros);

// For the answer to command now in ResponseBuffer: when it is a busy refusal ("+CME ERROR: 14",
// "+CME ERROR: SIM busy", "+CME ERROR: 515", "+CMS ERROR: 314") and the deadline leaves room, pauses
// 0.5 s and yields true: write command again. When the time is up, notes that the SIM stayed busy
// (NoteBusy). False for any other answer. Never for a PDU, nor a request the modem accepted.
bool RetryWhenBusy(const char* command);
