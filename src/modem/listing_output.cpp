#include "modem/listing_output.h"

#include "modem/escape.h"

namespace {

constexpr char MissingPart[] = "[...]";

// "index\ttype\tsender\tdate\t"
void PrintLineStart(FILE* out, const MessageFields* fields) {
  fprintf(out, "%d\t%d\t", fields->index, fields->unread ? 1 : 0);
  PrintEscaped(out, fields->sender);
  fputc('\t', out);
  PrintEscaped(out, fields->date);
  fputc('\t', out);
}

// {"index":1,"unread":false,"sender":"...","date":"...","text":
void PrintObjectStart(FILE* out, const MessageFields* fields) {
  fprintf(out, "{\"index\":%d,\"unread\":%s,\"sender\":", fields->index, fields->unread ? "true" : "false");
  PrintJsonString(out, fields->sender);
  fputs(",\"date\":", out);
  PrintJsonString(out, fields->date);
  fputs(",\"text\":", out);
}

// The parts' texts one after the other, each written by print.
void PrintJoinedText(FILE* out, const JoinedMessage* joined, const ListingNotes* notes,
                     void (*print)(FILE* out, const char* text)) {
  char text[UserDataTextSize];
  for (int sequence = 1; sequence <= joined->total; ++sequence) {
    const int index = joined->indexOf[sequence];
    const bool read = index >= 0 && index < ListedIndexes &&
                      UserDataText(text, sizeof text, &notes->userData[index]) >= 0;
    print(out, read ? text : MissingPart);
  }
}

}  // namespace

void PrintMessageLine(FILE* out, const MessageFields* fields) {
  PrintLineStart(out, fields);
  PrintEscaped(out, fields->text);
  fputc('\n', out);
}

void PrintMessageObject(FILE* out, const MessageFields* fields, const PartNote* part) {
  PrintObjectStart(out, fields);
  PrintJsonString(out, fields->text);
  if (part) {
    const Concatenation& c = part->concatenation;
    fprintf(out, ",\"part\":{\"reference\":%d,\"number\":%d,\"total\":%d}", c.reference, c.sequence, c.total);
  }
  fputc('}', out);
}

int PrintMessage(FILE* out, int index, char* answer, const ListedEntry* entry) {
  MessageFields fields;
  if (ParseMessage(answer, index, &fields, entry) < 0) return -1;
  PrintMessageLine(out, &fields);
  return 0;
}

void PrintJoinedLine(FILE* out, const JoinedMessage* joined, const ListingNotes* notes) {
  PrintLineStart(out, &joined->fields);
  PrintJoinedText(out, joined, notes, PrintEscaped);
  fputc('\n', out);
}

void PrintJoinedObject(FILE* out, const JoinedMessage* joined, const ListingNotes* notes) {
  PrintObjectStart(out, &joined->fields);
  fputc('"', out);
  PrintJoinedText(out, joined, notes, PrintJsonText);
  fputs("\",\"parts\":[", out);
  const char* separator = "";
  for (int sequence = 1; sequence <= joined->total; ++sequence) {
    if (joined->indexOf[sequence] < 0) continue;
    fprintf(out, "%s%d", separator, joined->indexOf[sequence]);
    separator = ",";
  }
  fprintf(out, "],\"complete\":%s}", JoinedComplete(joined) ? "true" : "false");
}
