// The listing as it is printed: one tab-separated line, or one JSON object, per message.
#pragma once

#include <stdio.h>

#include "modem/answers.h"

// "index\ttype\tsender\tdate\ttext\n", escaped as PrintEscaped does.
void PrintMessageLine(FILE* out, const MessageFields* fields);

// {"index":1,"unread":false,"sender":"...","date":"...","text":"..."}, each text as PrintJsonString
// writes it; no line end.
void PrintMessageObject(FILE* out, const MessageFields* fields);

// ParseMessage, then PrintMessageLine: 0 after one line, or -1 with nothing printed.
int PrintMessage(FILE* out, int index, char* answer, const ListedEntry* entry = nullptr);
