// A status report as a listing prints it: one tab-separated line, or one JSON object.
#pragma once

#include <stdio.h>

#include "pdu/status_report.h"

inline constexpr char ReportHeader[] = "num\tstatus\treference\trecipient\tsent\tdone\n";

// "<index>\t<status word>\t<reference>\t<recipient>\t<sent>\t<done>\n": the recipient as a listing
// shows a sender (escaped as PrintEscaped does), both times as "yy/MM/dd,hh:mm:ss±zz".
void PrintReportLine(FILE* out, int index, const StatusReport* report);

// {"index":1,"unread":false,"status":"delivered","code":0,"reference":17,"recipient":"...",
// "sent":"...","done":"..."}, the texts as PrintJsonString writes them; code is TP-ST. No line end.
void PrintReportObject(FILE* out, int index, bool unread, const StatusReport* report);
