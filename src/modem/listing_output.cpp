#include "modem/listing_output.h"

#include "modem/escape.h"

void PrintMessageLine(FILE* out, const MessageFields* fields) {
  fprintf(out, "%d\t%d\t", fields->index, fields->unread ? 1 : 0);
  PrintEscaped(out, fields->sender);
  fputc('\t', out);
  PrintEscaped(out, fields->date);
  fputc('\t', out);
  PrintEscaped(out, fields->text);
  fputc('\n', out);
}

void PrintMessageObject(FILE* out, const MessageFields* fields) {
  fprintf(out, "{\"index\":%d,\"unread\":%s,\"sender\":", fields->index, fields->unread ? "true" : "false");
  PrintJsonString(out, fields->sender);
  fputs(",\"date\":", out);
  PrintJsonString(out, fields->date);
  fputs(",\"text\":", out);
  PrintJsonString(out, fields->text);
  fputc('}', out);
}

int PrintMessage(FILE* out, int index, char* answer, const ListedEntry* entry) {
  MessageFields fields;
  if (ParseMessage(answer, index, &fields, entry) < 0) return -1;
  PrintMessageLine(out, &fields);
  return 0;
}
