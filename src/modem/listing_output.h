// The listing as it is printed: one tab-separated line, or one JSON object, per message; a
// concatenated message's parts joined into one.
#pragma once

#include <stdio.h>

#include "modem/answers.h"
#include "modem/joined_parts.h"

// "index\ttype\tsender\tdate\ttext\n", escaped as PrintEscaped does.
void PrintMessageLine(FILE* out, const MessageFields* fields);

// {"index":1,"unread":false,"sender":"...","date":"...","text":"..."}, each text as PrintJsonString
// writes it; no line end. With part (may be null) it ends in
// ,"part":{"reference":R,"number":S,"total":T}}.
void PrintMessageObject(FILE* out, const MessageFields* fields, const PartNote* part = nullptr);

// ParseMessage, then PrintMessageLine: 0 after one line, or -1 with nothing printed.
int PrintMessage(FILE* out, int index, char* answer, const ListedEntry* entry = nullptr);

// The line of a joined message: its text is the texts of its parts (their user data in notes) in
// sequence order, "[...]" for each part that was not read.
void PrintJoinedLine(FILE* out, const JoinedMessage* joined, const ListingNotes* notes);

// The same as an object, ending in ,"parts":[<indexes in sequence order>],"complete":true|false}.
void PrintJoinedObject(FILE* out, const JoinedMessage* joined, const ListingNotes* notes);
