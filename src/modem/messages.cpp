#include "modem/messages.h"

#include <stdio.h>

#include "modem/answers.h"
#include "modem/commands.h"
#include "modem/failure.h"
#include "modem/listing_output.h"
#include "modem/prepare.h"
#include "serial/exchange.h"

namespace {

constexpr int CommandSize = 64;

// The start of a JSON listing; "]}\n" closes it.
constexpr char JsonListingSm[] = "{\"storage\":\"SM\",\"messages\":[";
constexpr char JsonListingMe[] = "{\"storage\":\"ME\",\"messages\":[";

// What the latest listing said about each index, for the reads in text mode that follow it.
ListingNotes Listed;

// How those reads print: TSV lines, or the objects of a JSON document, and how many so far.
bool ListingJson = false;
int ListingObjects = 0;

// Each step is judged by the answer alone: a failed write shows up as a missing "OK".
void Exchange(int port, const char* command) {
  SendCmd(port, command);
  ReadResponse(port);
}

// Calls visit for first, first + 1, ... last (nothing when last < first; safe up to INT_MAX) and
// yields last, or -1 when the modem went away on the way.
int ForEachIndex(int port, int first, int last, int (*visit)(int port, int index)) {
  for (int i = first; i <= last && !PortLost(); ++i) {
    visit(port, i);  // results not looked at: an empty index is no reason to stop
    if (i == last) break;
  }
  return PortLost() ? -1 : last;
}

// One AT+CMGD, its line formatted into command (CommandSize bytes): true once the modem said "OK".
bool Deleted(int port, int index, char* command) {
  snprintf(command, CommandSize, CmdDeleteFormat, index);
  Exchange(port, command);
  return ResponseHas(AnsOk);
}

// Some modems refuse to delete an empty index: that is no failure of "del all".
int DeleteUnprepared(int port, int index) {
  char command[CommandSize];
  return Deleted(port, index, command) ? 0 : -1;
}

// Why a listing gave no index; false, with nothing noted, for an empty storage's ("OK" and no
// "+CMGL:" line).
bool NoteBadListing(const ListingScan& scan, long total) {
  if (scan.ended) {
    if (scan.highest < 0 && !scan.waiting && !scan.endedAtO) return false;
    NoteFailure("the answer to %s could not be read", CmdListAll);  // a "+CMGL:" line without its index
  } else if (!NoteErrorAnswer(CmdListAll)) {
    if (total == 0)
      NoteRefusal(CmdListAll);
    else
      NoteFailure("the answer to %s ended without OK", CmdListAll);
  }
  return true;
}

}  // namespace

int LastMessageIndex(int port, int storage, bool* zeroInUse, bool* empty) {
  if (zeroInUse) *zeroInUse = false;
  if (empty) *empty = false;
  PrepareModem(port, 1, storage);  // not judged: the answers below decide
  Exchange(port, CmdPduMode);
  if (!ResponseHas(AnsOk)) {
    NoteRefusal(CmdPduMode);
    return -1;
  }
  SendCmd(port, CmdListAll);
  // A full storage answers with far more than ResponseBuffer holds: scan it piece by piece, the
  // complete lines of each piece, carrying a cut line over to the next, and read to the end so
  // that none of it is left for the next answer.
  ListingScan scan;
  BeginListingScan(&scan, &Listed);
  long total = 0;
  int keep = 0;
  for (int count = ReadResponse(port);; count = ContinueResponse(port, keep)) {
    total += count - keep;
    if (total > ListingLimit) {  // -1 stops the callers: nothing more is asked of this modem
      fprintf(stderr, "atsms: the message listing went past %d KiB; it is taken as broken\n", ListingLimit / 1024);
      NoteExplained();
      return -1;
    }
    if (count < ResponseBufferSize) {  // silence: the answer is complete
      ScanListingPiece(&scan, ResponseBuffer, count);
      break;
    }
    for (keep = 0; keep < count && ResponseBuffer[count - 1 - keep] != '\n';) ++keep;
    if (keep == count) keep = 0;  // a line longer than the buffer is scanned as it is
    ScanListingPiece(&scan, ResponseBuffer, count - keep);
  }
  const int highest = EndListingScan(&scan, zeroInUse);
  if (highest < 0 && !NoteBadListing(scan, total) && empty) *empty = true;
  return highest;
}

int ReadMessage(int port, int index) {
  char command[CommandSize];
  snprintf(command, sizeof command, CmdReadFormat, index);
  Exchange(port, command);
  const ListedEntry entry = EntryOf(&Listed, index);
  MessageFields fields;
  if (ParseMessage(ResponseBuffer, index, &fields, &entry) < 0) return -1;
  if (!ListingJson) {
    PrintMessageLine(stdout, &fields);
  } else {
    if (ListingObjects++ > 0) fputc(',', stdout);
    PrintMessageObject(stdout, &fields);
  }
  return 0;
}

int ListMessages(int port, int storage, bool json) {
  bool zeroInUse = false;
  bool empty = false;
  int last = LastMessageIndex(port, storage, &zeroInUse, &empty);
  const char* const opening = storage == 1 ? JsonListingMe : JsonListingSm;
  if (last < 0 || (last == 0 && !zeroInUse)) {
    if (json && empty) printf("%s]}\n", opening);
    return last;
  }
  Exchange(port, CmdTextMode);
  if (!ResponseHas(AnsOk)) {
    NoteRefusal(CmdTextMode);
    return -1;
  }
  fputs(json ? opening : "num\ttype\tsender\tdate\tmsg\n", stdout);
  ListingJson = json;
  ListingObjects = 0;
  last = ForEachIndex(port, zeroInUse ? 0 : 1, last, ReadMessage);
  ListingJson = false;
  if (json) fputs("]}\n", stdout);  // however the reads ended (the modem gone too), so that it parses
  return last;
}

int DeleteMessage(int port, int index, int storage) {
  if (storage != -1) PrepareModem(port, 1, storage);  // not judged: the answer below decides
  char command[CommandSize];
  if (Deleted(port, index, command)) return 0;
  NoteRefusal(command);
  return -1;
}

int DeleteAllMessages(int port, int storage) {
  bool zeroInUse = false;
  int last = LastMessageIndex(port, storage, &zeroInUse);
  // Empty indexes between the used ones are deleted too.
  return ForEachIndex(port, zeroInUse ? 0 : 1, last, DeleteUnprepared);
}
