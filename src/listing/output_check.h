// Whether what a run printed reached its standard output. A write that fails (a full disk, EIO, a
// reader that went away: SIGPIPE is ignored, so that the write fails instead) sets the stream's
// error flag; the errno of that first failure is kept here, for the one line that says so.
#pragma once

#include <stdio.h>

// Right after printing to out: keeps the errno of the first failed write once out's error flag is set.
void WatchOutput(FILE* out);
// Flushes out: 0 when every byte printed to it so far was written, else the errno of the first failure.
int OutputError(FILE* out);
// Whether a write to out has failed so far, without flushing.
inline bool OutputFailed(FILE* out) { return ferror(out) != 0; }

// "atsms: cannot write the output: <error text>"; with done ("the SMS was sent"), "atsms: <done> but
// the result could not be written: <error text>". Once per run: later calls print nothing.
void ReportOutputError(int error, const char* done = nullptr);
bool OutputErrorReported();

// Forgets the failure and clears out's error flag, for a new run in the same process (the unit tests).
void ForgetOutputError(FILE* out);
