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

enum ObjectStart { ObjectLeftOut, ObjectSpooledAlready, ObjectPrinted };

// Before each message's line or object: the separator before every JSON object but the first; with a
// spool, its file in place of the output, unless it has one already (or no id to name it by).
ObjectStart StartObject(ListingPrinter* printer, const MessageId* id) {
  if (Spool* const spool = printer->spool) {
    if (!id || spool->error != 0) return ObjectLeftOut;
    if (Spooled(spool, *id)) return ObjectSpooledAlready;
    return BeginSpoolFile(spool, *id) == 0 ? ObjectPrinted : ObjectLeftOut;
  }
  if (printer->json && printer->objects++ > 0) fputc(',', printer->out);
  return ObjectPrinted;
}

// After it: a spooled object is one line, its file then put in place. Whether the message counts as
// taken.
bool EndObject(ListingPrinter* printer) {
  if (!printer->spool) return true;
  fputc('\n', printer->out);
  return EndSpoolFile(printer->spool) == 0;
}

void NoteTaken(ListingPrinter* printer, int index) {
  if (printer->taken && index >= 0 && index < NotedIndexes)
    printer->taken[index / 8] |= (unsigned char)(1u << (index % 8));
}

// ,"error":"..." before the document's closing brace.
void PrintErrorMember(const ListingPrinter* printer) {
  if (!printer->error) return;
  fputs(",\"error\":", printer->out);
  PrintJsonString(printer->out, printer->error);
}

// A status report of a listing of messages, in its "reports" array (or its file).
void PrintReportOfMessages(ListingPrinter* printer, const Listing* listing, int index, bool* any) {
  MessageId id;
  const bool identified = IdAt(listing, index, &id) == 0;
  // The array has separators of its own: the messages' count only in the messages' array.
  const ObjectStart start = printer->spool ? StartObject(printer, identified ? &id : nullptr) : ObjectPrinted;
  if (start == ObjectLeftOut) return;
  if (start == ObjectPrinted) {
    if (!printer->spool) fputs(*any ? "," : ",\"reports\":[", printer->out);
    *any = true;
    PrintReportObject(printer->out, index, ListedUnread(listing, index), ReportAt(listing, index),
                      identified ? &id : nullptr);
    if (!EndObject(printer)) return;
  }
  NoteTaken(printer, index);
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

// The joined message's TSV line or JSON object.
void PrintJoinedMessage(const ListingPrinter* printer, const JoinedMessage* joined, const Listing* listing) {
  FILE* const out = printer->out;
  if (!printer->json) {
    PrintLineStart(out, &joined->fields);
    PrintJoinedText(out, joined, listing, PrintEscaped);
    fputc('\n', out);
    return;
  }
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

}  // namespace

bool PrinterFailed(const ListingPrinter* printer) {
  return ferror(printer->out) || (printer->spool && printer->spool->error != 0);
}

void BeginListingOutput(ListingPrinter* printer, int storage) {
  printer->objects = 0;
  printer->reports = storage == ReportStorage;
  if (printer->spool) return;
  if (printer->json)
    fputs(JsonListingOf(storage), printer->out);
  else
    fputs(printer->reports ? ReportHeader : Header, printer->out);
}

void EndListingOutput(ListingPrinter* printer, const Listing* listing) {
  if (!printer->json) return;
  FILE* const out = printer->out;
  if (!printer->spool) fputc(']', out);
  bool any = false;
  for (int index = 0; index < ListedIndexes && !printer->reports && !PrinterFailed(printer); ++index)
    if (ReportAt(listing, index)) PrintReportOfMessages(printer, listing, index, &any);
  if (printer->spool) return;
  if (any) fputc(']', out);
  PrintErrorMember(printer);
  fputs("}\n", out);
}

void PrintEmptyListing(ListingPrinter* printer, int storage) {
  if (!printer->json || printer->spool) return;
  fputs(JsonListingOf(storage), printer->out);
  fputc(']', printer->out);
  PrintErrorMember(printer);
  fputs("}\n", printer->out);
}

void PrintListed(ListingPrinter* printer, const MessageFields* fields, const ListedMessage* part) {
  const ObjectStart start = StartObject(printer, fields->identified ? &fields->id : nullptr);
  if (start == ObjectLeftOut) return;
  if (start == ObjectPrinted) {
    if (printer->json)
      PrintMessageObject(printer->out, fields, part);
    else
      PrintMessageLine(printer->out, fields);
    if (!EndObject(printer)) return;
  }
  NoteTaken(printer, fields->index);
}

void PrintListedReport(ListingPrinter* printer, int index, bool unread, const StatusReport* report,
                       const MessageId* id) {
  const ObjectStart start = StartObject(printer, id);
  if (start == ObjectLeftOut) return;
  if (start == ObjectPrinted) {
    if (printer->json)
      PrintReportObject(printer->out, index, unread, report, id);
    else
      PrintReportLine(printer->out, index, report);
    if (!EndObject(printer)) return;
  }
  NoteTaken(printer, index);
}

void PrintJoined(ListingPrinter* printer, const JoinedMessage* joined, const Listing* listing) {
  const ObjectStart start = StartObject(printer, joined->fields.identified ? &joined->fields.id : nullptr);
  if (start == ObjectLeftOut) return;
  if (start == ObjectPrinted) {
    PrintJoinedMessage(printer, joined, listing);
    if (!EndObject(printer)) return;
  }
  for (int sequence = 1; sequence <= joined->total; ++sequence) NoteTaken(printer, joined->indexOf[sequence]);
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
