#include "modem/messages.h"

#include <stdio.h>

#include "modem/answers.h"
#include "modem/commands.h"
#include "modem/failure.h"
#include "modem/joined_parts.h"
#include "modem/listing_output.h"
#include "modem/prepare.h"
#include "modem/step.h"
#include "serial/exchange.h"

namespace {

constexpr int CommandSize = 64;

// The start of a JSON listing; "]}\n" closes it.
constexpr char JsonListingSm[] = "{\"storage\":\"SM\",\"messages\":[";
constexpr char JsonListingMe[] = "{\"storage\":\"ME\",\"messages\":[";

// What the latest listing said about each index, for the reads in text mode that follow it, and
// which of them are the parts of one message.
ListingNotes Listed;
PartGroups Groups;

// How those reads print: TSV lines, or the objects of a JSON document, and how many so far; with
// ListingJoined, the parts of a message as one.
bool ListingJson = false;
bool ListingJoined = false;
int ListingObjects = 0;

// Calls visit for first, first + 1, ... last (nothing when last < first; safe up to INT_MAX) and
// yields last, or -1 when the modem went away on the way.
int ForEachIndex(int port, int first, int last, int (*visit)(int port, int index)) {
  for (int i = first; i <= last && !PortLost() && !SimStayedBusy(); ++i) {
    visit(port, i);  // results not looked at: an empty index is no reason to stop
    if (i == last) break;
  }
  return PortLost() || SimStayedBusy() ? -1 : last;
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
  // Not judged (the answers below decide), but for a busy SIM: it never lists another storage.
  if (PrepareModem(port, 1, storage) < 0 && SimStayedBusy()) return -1;
  Exchange(port, CmdPduMode);
  if (!ResponseHas(AnsOk)) {
    NoteRefusal(CmdPduMode);
    return -1;
  }
  // A full storage answers with far more than ResponseBuffer holds: scan it piece by piece, the
  // complete lines of each piece, carrying a cut line over to the next, and read to the end so
  // that none of it is left for the next answer.
  ListingScan scan;
  BeginListingScan(&scan, &Listed);
  long total = 0;
  int keep = 0;
  for (int count = Exchange(port, CmdListAll);; count = ContinueResponse(port, keep)) {
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

namespace {

// Reads one index in text mode into fields: 0, or -1 when it holds nothing readable.
int ReadFields(int port, int index, MessageFields* fields) {
  char command[CommandSize];
  snprintf(command, sizeof command, CmdReadFormat, index);
  Exchange(port, command);
  const ListedEntry entry = EntryOf(&Listed, index);
  return ParseMessage(ResponseBuffer, index, fields, &entry);
}

void StartObject() {
  if (ListingObjects++ > 0) fputc(',', stdout);
}

// Reads every part of the message whose lowest index is lowest, in ascending index order, and prints
// them as one at that index (a part whose read fails counts as not stored): 0, or -1 when none of
// them was readable.
int ReadJoined(int port, int lowest) {
  JoinedMessage joined;
  BeginJoinedMessage(&joined, lowest, PartOf(&Listed, lowest)->concatenation.total);
  for (int index = lowest; index < ListedIndexes && !PortLost(); ++index) {
    MessageFields fields;
    if (GroupOf(&Groups, index) == lowest && ReadFields(port, index, &fields) == 0)
      AddJoinedPart(&joined, &fields, PartOf(&Listed, index)->concatenation.sequence);
  }
  if (joined.lowestSequence == 0 || PortLost()) return -1;
  if (!ListingJson) {
    PrintJoinedLine(stdout, &joined, &Listed);
  } else {
    StartObject();
    PrintJoinedObject(stdout, &joined, &Listed);
  }
  return 0;
}

// The listing's visit of one index: a part of a joined message is read with the lowest of its
// message's indexes, and printed with it.
int ReadListed(int port, int index) {
  const int lowest = ListingJoined ? GroupOf(&Groups, index) : -1;
  if (lowest < 0) return ReadMessage(port, index);
  return lowest == index ? ReadJoined(port, index) : 0;
}

}  // namespace

int ReadMessage(int port, int index) {
  MessageFields fields;
  if (ReadFields(port, index, &fields) < 0) return -1;
  if (!ListingJson) {
    PrintMessageLine(stdout, &fields);
  } else {
    StartObject();
    PrintMessageObject(stdout, &fields, PartOf(&Listed, index));
  }
  return 0;
}

int ListMessages(int port, int storage, bool json, bool join) {
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
  ListingJoined = join;
  ListingObjects = 0;
  if (join) FindPartGroups(&Listed, &Groups);
  last = ForEachIndex(port, zeroInUse ? 0 : 1, last, ReadListed);
  ListingJson = false;
  ListingJoined = false;
  if (json) fputs("]}\n", stdout);  // however the reads ended (the modem gone too), so that it parses
  return last;
}

int DeleteMessage(int port, int index, int storage) {
  // Not judged (the answer below decides), but for a busy SIM: it never deletes in another storage.
  if (storage != -1 && PrepareModem(port, 1, storage) < 0 && SimStayedBusy()) return -1;
  char command[CommandSize];
  if (Deleted(port, index, command)) return 0;
  NoteRefusal(command);
  return -1;
}

int DeleteWholeMessage(int port, int index, int storage, bool* listed) {
  bool empty = false;
  *listed = LastMessageIndex(port, storage, nullptr, &empty) >= 0 || empty;
  if (!*listed) return -1;
  FindPartGroups(&Listed, &Groups);
  const int lowest = GroupOf(&Groups, index);
  if (lowest < 0) return DeleteMessage(port, index, -1);
  int result = 0;
  for (int part = lowest; part < ListedIndexes && !PortLost(); ++part)
    if (GroupOf(&Groups, part) == lowest && DeleteMessage(port, part, -1) < 0) result = -1;
  return PortLost() ? -1 : result;
}

int DeleteAllMessages(int port, int storage) {
  bool zeroInUse = false;
  int last = LastMessageIndex(port, storage, &zeroInUse);
  // Empty indexes between the used ones are deleted too.
  return ForEachIndex(port, zeroInUse ? 0 : 1, last, DeleteUnprepared);
}
