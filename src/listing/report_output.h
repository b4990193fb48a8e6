// A status report as a listing prints it: one tab-separated line, or one JSON object.
#pragma once

#include <stdio.h>

#include "pdu/message_id.h"
#include "pdu/status_report.h"

inline constexpr char ReportHeader[] = "num\tstatus\treference\trecipient\tsent\tdone\n";

// "<index>\t<status word>\t<reference>\t<recipient>\t<sent>\t<done>\n": the recipient as a listing
// shows a sender (escaped as PrintEscaped does), both times as "yy/MM/dd,hh:mm:ss±zz".
void PrintReportLine(FILE* out, int index, const StatusReport* report);

// {"index":1,"id":"0123456789abcdef","unread":false,"status":"delivered","code":0,"reference":17,
// "recipient":"...","sent":"...","done":"..."}, the texts as PrintJsonString writes them; code is
// TP-ST; "id" only with id (may be null). No line end.
void PrintReportObject(FILE* out, int index, bool unread, const StatusReport* report, const MessageId* id = nullptr);

// "id":"0123456789abcdef", (with its comma) when id is not null; nothing else.
void PrintIdMember(FILE* out, const MessageId* id);
