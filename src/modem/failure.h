// Why a run failed, in one line on standard error: the step that fails records it, the front end
// says it once. Only the first record of a run counts: it names the first command refused.
#pragma once

// The line of answer that tells how a command went: its last final error line ("ERROR", "+CME
// ERROR: <n>", "+CMS ERROR: <n>", also in words), else its last line that is not blank, not sent
// unasked and not the echo of command (may be null: the command is not known); a numbered error
// gets its meaning in parentheses ("+CMS ERROR: 38 (network out of order)"). Writes it into dest
// (size bytes with the NUL, at least 4; a longer line is cut and ends in "..."). Yields 2 for an
// error line, 1 for another line, 0 (dest empty) when the answer holds no such line at all.
int DescribeAnswer(char* dest, int size, const char* answer, const char* command = nullptr);

// Records that the modem did not accept command (as written; a trailing CR is dropped) with the
// answer now in ResponseBuffer: "the modem refused <command>: <answer line>", or that it gave none.
void NoteRefusal(const char* command);
// The same, only when ResponseBuffer holds a final error line; yields whether it does.
bool NoteErrorAnswer(const char* command);
// As NoteRefusal, for a command that the modem still refused as busy when the run's time was up:
// the line ends "; wait for it with -w SECONDS". From then on SimStayedBusy() is true.
void NoteBusy(const char* command);
bool SimStayedBusy();
// Records that the network refused a request the modem had accepted, with the answer now in
// ResponseBuffer: "the network refused the USSD request: <answer line>".
void NoteNetworkRefusal();
// Records a failure the answer does not tell: format (ours, with one "%s") filled with command.
void NoteFailure(const char* format, const char* command);
// Records that not one byte came in answer to the probes and to ATE0.
void NoteSilence();
// The failure has its line already (the listing bound, an input refusal, a part not accepted).
void NoteExplained();

// Prints the record in one line on standard error, at most once per run; nothing when nothing was
// recorded (an empty storage), when the failure has its line already or the modem is gone.
// port is the path given on the command line.
void ReportFailure(const char* port);

// The text of that line after "atsms: ", not escaped, into dest (size bytes, cut to fit); "" when
// nothing was recorded. For the "error" member of a JSON document.
void FailureText(char* dest, int size, const char* port);

// Forgets the record, for a new run in the same process (the unit tests run many).
void ForgetFailure();
