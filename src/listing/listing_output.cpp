#include "listing/listing_output.h"

#include "listing/escape.h"
#include "listing/read_answer.h"
#include "listing/report_output.h"

namespace {

constexpr char MissingPart[] = "[...]";
constexpr char Header[] = "num\ttype\tsender\tdate\tmsg\n";
// The start of a JSON listing; "]}\n" closes it.
constexpr char JsonListingSm[] = "{\"storage\":\"SM\",\"messages\":[";
constexpr char JsonListingMe[] = "{\"storage\":\"ME\",\"messages\":[";
constexpr char JsonListingSr[] = "{\"storage\":\"SR\",\"reports\":[";

// The JSON document's start for storage.
const char* JsonListingOf(int storage) {
  return storage == ReportStorage ? JsonListingSr : storage == 1 ? JsonListingMe : JsonListingSm;
}

// "index\ttype\tsender\tdate\t"
void PrintLineStart(FILE* out, const MessageFields* fields) {
  fprintf(out, "%d\t%d\t", fields->index, fields->unread ? 1 : 0);
  PrintEscaped(out, fields->sender);
  fputc('\t', out);
  PrintEscaped(out, fields->date);
  fputc('\t', out);
}

// {"index":1,"id":"0123456789abcdef","unread":false,"sender":"...","date":"...","text":
void PrintObjectStart(FILE* out, const MessageFields* fields) {
  fprintf(out, "{\"index\":%d,", fields->index);
  PrintIdMember(out, fields->identified ? &fields->id : nullptr);
  fprintf(out, "\"unread\":%s,\"sender\":", fields->unread ? "true" : "false");
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
  printer->reports = storage == ReportStorage;
  if (printer->json)
    fputs(JsonListingOf(storage), printer->out);
  else
    fputs(printer->reports ? ReportHeader : Header, printer->out);
}

void EndListingOutput(ListingPrinter* printer, const Listing* listing) {
  if (!printer->json) return;
  FILE* const out = printer->out;
  fputc(']', out);
  if (printer->reports) {
    fputs("}\n", out);
    return;
  }
  bool any = false;
  for (int index = 0; index < ListedIndexes; ++index) {
    const StatusReport* const report = ReportAt(listing, index);
    if (!report) continue;
    fputs(any ? "," : ",\"reports\":[", out);
    MessageId id;
    PrintReportObject(out, index, ListedUnread(listing, index), report, IdAt(listing, index, &id) == 0 ? &id : nullptr);
    any = true;
  }
  fputs(any ? "]}\n" : "}\n", out);
}

void PrintEmptyListing(ListingPrinter* printer, int storage) {
  if (!printer->json) return;
  fputs(JsonListingOf(storage), printer->out);
  fputs("]}\n", printer->out);
}

void PrintListed(ListingPrinter* printer, const MessageFields* fields, const ListedMessage* part) {
  if (!printer->json) {
    PrintMessageLine(printer->out, fields);
    return;
  }
  StartObject(printer);
  PrintMessageObject(printer->out, fields, part);
}

void PrintListedReport(ListingPrinter* printer, int index, bool unread, const StatusReport* report,
                       const MessageId* id) {
  if (!printer->json) {
    PrintReportLine(printer->out, index, report);
    return;
  }
  StartObject(printer);
  PrintReportObject(printer->out, index, unread, report, id);
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
