// Delivery reports of the messages atsms sends: asking the modem to keep them (TS 27.005 +CNMI),
// and the message references (TP-MR) that tie a report to its message.
#pragma once

constexpr int IndicationValues = 5;  // <mode>,<mt>,<bm>,<ds>,<bfr>

// "+CNMI: <mode>,<mt>,<bm>,<ds>,<bfr>" in answer into values: 0, or -1 when there is no such line.
int ReadIndicationSettings(const char* answer, int* values);

// TP-MR from "+CMGS: <mr>[,<ackpdu>]" in answer: 0 to 255, or -1 when there is none.
int ReadSendReference(const char* answer);

// Makes the modem keep the status reports of what is sent next: AT+CNMI?, then
// AT+CNMI=<mode>,<mt>,<bm>,2,<bfr> when <ds> is 0. Yields 0, or -1 after one line on standard error
// that says why a report may be lost (no +CNMI: line, the change refused, reports passed on as +CDS).
int KeepStatusReports(int port);
