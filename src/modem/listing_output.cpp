#include "modem/listing_output.h"

#include "modem/escape.h"
#include "modem/read_answer.h"

namespace {

constexpr char MissingPart[] = "[...]";
constexpr char Header[] = "num\ttype\tsender\tdate\tmsg\n";
// The start of a JSON listing; "]}\n" closes it.
constexpr char JsonListingSm[] = "{\"storage\":\"SM\",\"messages\":[";
constexpr char JsonListingMe[] = "{\"storage\":\"ME\",\"messages\":[";

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

// The separator before every object but the first.
void StartObject(ListingPrinter* printer) {
  if (printer->objects++ > 0) fputc(',', printer->out);
}

// The parts' texts one after the other, each decoded from its user data and written by print.
void PrintJoinedText(FILE* out, const JoinedMessage* joined, const Listing* listing,
                     void (*print)(FILE* out, const char* text)) {
  char text[UserDataTextSize];
  for (int sequence = 1; sequence <= joined->total; ++sequence) {
    const ListedMessage* const part = DeliverAt(listing, joined->indexOf[sequence]);
    const bool shown = part && UserDataText(text, sizeof text, &part->pdu.userData) >= 0;
    print(out, shown ? text : MissingPart);
  }
}

}  // namespace

void BeginListingOutput(ListingPrinter* printer, int storage) {
  printer->objects = 0;
  if (printer->json)
    fputs(storage == 1 ? JsonListingMe : JsonListingSm, printer->out);
  else
    fputs(Header, printer->out);
}

void EndListingOutput(ListingPrinter* printer) {
  if (printer->json) fputs("]}\n", printer->out);
}

void PrintEmptyListing(ListingPrinter* printer, int storage) {
  if (!printer->json) return;
  BeginListingOutput(printer, storage);
  EndListingOutput(printer);
}

void PrintListed(ListingPrinter* printer, const MessageFields* fields, const ListedMessage* part) {
  if (!printer->json) {
    PrintMessageLine(printer->out, fields);
    return;
  }
  StartObject(printer);
  PrintMessageObject(printer->out, fields, part);
}

void PrintJoined(ListingPrinter* printer, const JoinedMessage* joined, const Listing* listing) {
  FILE* const out = printer->out;
  if (!printer->json) {
    PrintLineStart(out, &joined->fields);
    PrintJoinedText(out, joined, listing, PrintEscaped);
    fputc('\n', out);
    return;
  }
  StartObject(printer);
  PrintObjectStart(out, &joined->fields);
  fputc('"', out);
  PrintJoinedText(out, joined, listing, PrintJsonText);
  fputs("\",\"parts\":[", out);
  const char* separator = "";
  for (int sequence = 1; sequence <= joined->total; ++sequence) {
    if (joined->indexOf[sequence] < 0) continue;
    fprintf(out, "%s%d", separator, joined->indexOf[sequence]);
    separator = ",";
  }
  fprintf(out, "],\"complete\":%s}", JoinedComplete(joined) ? "true" : "false");
}

void PrintMessageLine(FILE* out, const MessageFields* fields) {
  PrintLineStart(out, fields);
  PrintEscaped(out, fields->text);
  fputc('\n', out);
}

void PrintMessageObject(FILE* out, const MessageFields* fields, const ListedMessage* part) {
  PrintObjectStart(out, fields);
  PrintJsonString(out, fields->text);
  if (part) {
    const Concatenation& c = part->concatenation;
    fprintf(out, ",\"part\":{\"reference\":%d,\"number\":%d,\"total\":%d}", c.reference, c.sequence, c.total);
  }
  fputc('}', out);
}

int PrintMessage(FILE* out, int index, char* answer) {
  MessageFields fields;
  if (ParseMessage(answer, index, &fields) < 0) return -1;
  PrintMessageLine(out, &fields);
  return 0;
}
