// The listing as it is printed: a header and one tab-separated line per message, or one JSON
// document with an object per message; a concatenated message's parts joined into one.
#pragma once

#include <stdio.h>

#include "listing/joined_parts.h"
#include "listing/listing.h"
#include "listing/spool.h"

// Where a listing goes and how far it has got; it travels with the listing, never in a static.
struct ListingPrinter {
  FILE* out;
  bool json;
  int objects;   // JSON objects printed so far
  bool reports;  // the listing of the status-report storage, of reports alone
  Spool* spool = nullptr;           // take --to: each message's object in a file of its own instead
                                    // (json then), nothing on out; a message without an id is left out
  unsigned char* taken = nullptr;   // take: a bit per index (NotedIndexes) for each message printed,
                                    // or whose file stands in the spool already
  const char* error = nullptr;      // -j: the "error" member that ends the document
};

// Whether the listing must stop: a write to out failed, or the spool could not take a file.
bool PrinterFailed(const ListingPrinter* printer);

// The TSV header, or the JSON document's start for storage (1: phone "ME", 0: SIM "SM",
// ReportStorage: the status reports).
void BeginListingOutput(ListingPrinter* printer, int storage);
// Ends the JSON document, whatever came before, so that it parses: a listing of messages with the
// status reports of listing as a "reports" array when it holds any, then the "error" member when
// there is one. Nothing for TSV, which leaves reports out of a listing of messages.
void EndListingOutput(ListingPrinter* printer, const Listing* listing);
// The whole JSON document of an empty storage (with its "error" member); nothing for TSV.
void PrintEmptyListing(ListingPrinter* printer, int storage);

// One message: its TSV line, or its object with a "part" member when part is not null.
void PrintListed(ListingPrinter* printer, const MessageFields* fields, const ListedMessage* part);
// One status report, in the listing of the status-report storage; id may be null (not known).
void PrintListedReport(ListingPrinter* printer, int index, bool unread, const StatusReport* report,
                       const MessageId* id = nullptr);
// One joined message, its text the texts of its parts' user data in sequence order.
void PrintJoined(ListingPrinter* printer, const JoinedMessage* joined, const Listing* listing);

// "index\ttype\tsender\tdate\ttext\n", escaped as PrintEscaped does.
void PrintMessageLine(FILE* out, const MessageFields* fields);

// {"index":1,"id":"0123456789abcdef","unread":false,"sender":"...","date":"...","text":"..."}, each
// text as PrintJsonString writes it, "id" only when fields has one; no line end. With part (may be
// null) it ends in ,"part":{"reference":R,"number":S,"total":T}}.
void PrintMessageObject(FILE* out, const MessageFields* fields, const ListedMessage* part = nullptr);

// ParseMessage, then PrintMessageLine: 0 after one line, or -1 with nothing printed.
int PrintMessage(FILE* out, int index, char* answer);
