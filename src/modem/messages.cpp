#include "modem/messages.h"

#include <stdio.h>
#include <string.h>

#include "modem/commands.h"
#include "modem/failure.h"
#include "listing/joined_parts.h"
#include "listing/listing_answer.h"
#include "listing/listing_output.h"
#include "listing/output_check.h"
#include "modem/prepare.h"
#include "listing/read_answer.h"
#include "modem/step.h"
#include "codec/decimal.h"
#include "serial/exchange.h"

namespace {

constexpr int CommandSize = 64;

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

// The same, a refusal noted for the line that ends the run.
int DeleteNoted(int port, int index) {
  char command[CommandSize];
  if (Deleted(port, index, command)) return 0;
  NoteRefusal(command);
  return -1;
}

// Why a listing gave no index; nothing for an empty storage.
void NoteBadListing(const ListingScan& scan, const Listing& listing, long total) {
  if (listing.empty) return;
  if (scan.ended) {
    NoteFailure("the answer to %s could not be read", CmdListAll);  // a "+CMGL:" line without its index
  } else if (!NoteErrorAnswer(CmdListAll)) {
    if (total == 0)
      NoteRefusal(CmdListAll);
    else
      NoteFailure("the answer to %s ended without OK", CmdListAll);
  }
}

// Whether index is read in text mode: every index by default; in quick mode only those whose PDU
// the listing could not read (and those past the indexes it notes).
bool NeedsRead(const Listing& listing, int index, bool quick) {
  const ListedKind kind = KindOf(&listing, index);
  return !quick || index >= ListedIndexes || kind == ListedTwice || kind == ListedOther;
}

bool NeedsTextMode(const Listing& listing, int first, int last, bool quick) {
  for (int i = first; i <= last; ++i) {
    if (NeedsRead(listing, i, quick)) return true;
    if (i == last) break;
  }
  return false;
}

// Reads index in text mode into fields (with text: its text too): 0, or -1 when it holds nothing
// readable.
int ReadIndex(int port, const Listing& listing, int index, MessageFields* fields, bool text) {
  char command[CommandSize];
  snprintf(command, sizeof command, CmdReadFormat, index);
  Exchange(port, command);
  return ParseListedMessage(ResponseBuffer, index, &listing, fields, text);
}

// A received message from its PDU alone; false when it has no user data (text mode shows nothing
// for such a message either).
bool ShowFromListing(const Listing& listing, int index, MessageFields* fields, char* text, int size) {
  if (DeliverAt(&listing, index)->pdu.userData.octets == 0) return false;
  ShowListedHeader(&listing, index, fields);
  fields->text = text;
  return ShowListedText(&listing, index, text, size) >= 0;
}

// The joined message whose lowest index is lowest: its parts read in ascending index order (a part
// whose read fails counts as not stored), or in quick mode from the listing.
void ShowJoined(int port, const Listing& listing, const ListingStyle& style, ListingPrinter* printer, int lowest) {
  JoinedMessage joined;
  BeginJoinedMessage(&joined, lowest, PartAt(&listing, lowest)->concatenation.total);
  for (int index = lowest; index < ListedIndexes && !PortLost(); ++index) {
    if (GroupOf(&listing, index) != lowest) continue;
    MessageFields fields;
    if (style.quick)
      ShowListedHeader(&listing, index, &fields);
    else if (ReadIndex(port, listing, index, &fields, false) < 0)
      continue;
    AddJoinedPart(&joined, &fields, PartAt(&listing, index)->concatenation.sequence);
  }
  joined.fields.identified = GroupId(&listing, lowest, &joined.fields.id) == 0;
  // Kept back, it is shown whole once its last part has come; a full storage leaves no room for it.
  if (style.holdIncomplete && !JoinedComplete(&joined) && !listing.full) return;
  if (joined.lowestSequence > 0 && !PortLost()) PrintJoined(printer, &joined, &listing);
}

// The listing's visit of one index: a part of a joined message shows with its message, at the
// lowest of its indexes.
void ShowIndex(int port, const Listing& listing, const ListingStyle& style, ListingPrinter* printer, int index) {
  const int lowest = style.join ? GroupOf(&listing, index) : -1;
  if (lowest >= 0) {
    if (lowest == index) ShowJoined(port, listing, style, printer, index);
    return;
  }
  MessageFields fields;
  if (style.quick && KindOf(&listing, index) == ListedDeliver) {
    char text[UserDataTextSize];
    if (ShowFromListing(listing, index, &fields, text, sizeof text)) PrintListed(printer, &fields, PartAt(&listing, index));
  } else if (NeedsRead(listing, index, style.quick) && ReadIndex(port, listing, index, &fields, true) == 0) {
    PrintListed(printer, &fields, PartAt(&listing, index));
  }
}

// +CPMS: <used>,<total>,...: whether the first storage is full.
bool StorageFull(const char* answer) {
  const char* at = strstr(answer, AnsStorage);
  if (!at) return false;
  at += strlen(AnsStorage);
  while (*at == ' ') ++at;
  const char* const comma = strchr(at, ',');
  if (*at < '0' || *at > '9' || !comma || comma[1] < '0' || comma[1] > '9') return false;
  const int total = ReadDecimal(comma + 1);
  return total > 0 && ReadDecimal(at) >= total;
}

bool IsSet(const unsigned char* bits, int index) { return (bits[index / 8] >> (index % 8) & 1) != 0; }
void Clear(unsigned char* bits, int index) { bits[index / 8] &= (unsigned char)~(1u << (index % 8)); }

bool Stopped() { return PortLost() || SimStayedBusy(); }

// Deletes each index set in chosen (NotedIndexes bits), once. With quick, when chosen holds every
// index the listing named: the unread ones first, one by one, then all the rest with one command
// (AT+CMGD=1,3), which spares what arrived after the listing (unread); a modem that refuses it gets
// one command per index still left. Without strict the results are not looked at (an empty index is
// no reason to stop); with strict a refusal is noted, and the others are deleted all the same.
// 0, or -1 when the modem went away on the way or, with strict, refused one.
int DeleteChosen(int port, const Listing& listing, unsigned char* chosen, bool quick, bool strict = false) {
  int (*const deleteOne)(int port, int index) = strict ? DeleteNoted : DeleteUnprepared;
  int result = 0;
  const bool all = !listing.pastNoted && memcmp(chosen, listing.named, sizeof listing.named) == 0;
  if (quick && all) {
    bool rest = false;
    for (int i = 0; i < NotedIndexes && !Stopped(); ++i) {
      if (!IsSet(chosen, i)) continue;
      if (!WasNamedUnread(&listing, i)) {
        rest = true;
        continue;
      }
      if (deleteOne(port, i) < 0) result = -1;
      Clear(chosen, i);  // never twice: a new message may take its place at once
    }
    if (!rest || Stopped()) return Stopped() ? -1 : result;
    Exchange(port, CmdDeleteRead);
    if (ResponseHas(AnsOk)) return result;
  }
  for (int i = 0; i < NotedIndexes && !Stopped(); ++i)
    if (IsSet(chosen, i) && deleteOne(port, i) < 0) result = -1;
  return Stopped() ? -1 : result;
}

// Deletes every part of the joined message at index (the listing's groups found), in ascending index
// order, or else index alone. 0 when the modem said "OK" to each, else -1.
int DeleteGroupOrIndex(int port, const Listing& listing, int index) {
  const int lowest = GroupOf(&listing, index);
  if (lowest < 0) return DeleteMessage(port, index, -1);
  int result = 0;
  for (int part = lowest; part < ListedIndexes && !PortLost(); ++part)
    if (GroupOf(&listing, part) == lowest && DeleteMessage(port, part, -1) < 0) result = -1;
  return PortLost() ? -1 : result;
}

// The listing, as ListMessages prints it, into printer; listing is filled. The highest index, or -1.
int ListInto(int port, int storage, const ListingStyle& style, Listing* listing, ListingPrinter* printer) {
  const int last = LastMessageIndex(port, storage, listing);
  if (last < 0 || (last == 0 && !listing->zeroInUse)) {
    if (listing->empty) PrintEmptyListing(printer, storage);
    return last;
  }
  const int first = listing->zeroInUse ? 0 : 1;
  if (storage == ReportStorage) {  // every report comes from its PDU in the listing
    BeginListingOutput(printer, storage);
    for (int i = first; i <= last && i < ListedIndexes && !PrinterFailed(printer); ++i) {
      const StatusReport* const report = ReportAt(listing, i);
      MessageId id;
      if (report) PrintListedReport(printer, i, ListedUnread(listing, i), report, IdAt(listing, i, &id) == 0 ? &id : nullptr);
    }
    EndListingOutput(printer, listing);
    return last;
  }
  if (NeedsTextMode(*listing, first, last, style.quick)) {
    Exchange(port, CmdTextMode);
    if (!ResponseHas(AnsOk)) {
      NoteRefusal(CmdTextMode);
      return -1;
    }
  }
  if (style.join) FindPartGroups(listing);
  BeginListingOutput(printer, storage);
  // Once the output cannot be written, nothing more is asked of the modem.
  for (int i = first; i <= last && !Stopped() && !PrinterFailed(printer); ++i) {
    ShowIndex(port, *listing, style, printer, i);
    WatchOutput(printer->out);  // the print came last: errno is still the write's
    if (i == last) break;
  }
  EndListingOutput(printer, listing);  // however the reads ended (the modem gone too), so that it parses
  return Stopped() ? -1 : last;
}

// Prepares the modem for storage. Not judged (the answers that follow decide), but for a SIM that
// stayed busy and for the reports: another storage's messages must never be listed or deleted in
// their place.
bool StorageChosen(int port, int storage) {
  return PrepareModem(port, 1, storage) == 0 || (!SimStayedBusy() && storage != ReportStorage);
}

}  // namespace

int LastMessageIndex(int port, int storage, Listing* listing) {
  BeginListing(listing);
  if (!StorageChosen(port, storage)) return -1;
  const bool full = StorageFull(ResponseBuffer);  // the storage command's answer
  Exchange(port, CmdPduMode);
  if (!ResponseHas(AnsOk)) {
    NoteRefusal(CmdPduMode);
    return -1;
  }
  // A full storage answers with far more than ResponseBuffer holds: scan it piece by piece, the
  // complete lines of each piece, carrying a cut line over to the next, and read to the end so
  // that none of it is left for the next answer.
  ListingScan scan;
  BeginListingScan(&scan, listing);
  long total = 0;
  int keep = 0;
  for (int count = Exchange(port, CmdListAll);; count = ContinueResponse(port, keep)) {
    total += count - keep;
    if (total > ListingLimit) {  // -1 stops the callers: nothing more is asked of this modem
      fprintf(stderr, "atsms: the message listing went past %d KiB; it is taken as broken\n", ListingLimit / 1024);
      NoteExplained();
      BeginListing(listing);
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
  const int highest = EndListingScan(&scan, nullptr);
  listing->full = full;
  if (highest < 0) NoteBadListing(scan, *listing, total);
  return highest;
}

int ListMessages(int port, int storage, const ListingStyle& style, const char* error) {
  Listing listing;
  ListingPrinter printer = {stdout, style.json, 0, false};
  printer.error = error;
  return ListInto(port, storage, style, &listing, &printer);
}

int TakeMessages(int port, int storage, const ListingStyle& style, const char* spoolDir) {
  Spool spool;
  if (spoolDir && OpenSpool(&spool, spoolDir) < 0) {  // before anything is read, let alone deleted
    ReportSpoolError(&spool);
    NoteExplained();
    return -1;
  }
  unsigned char taken[NotedIndexes / 8] = {};
  Listing listing;
  ListingPrinter printer = {stdout, style.json || spoolDir, 0, false};
  printer.spool = spoolDir ? &spool : nullptr;
  printer.taken = taken;
  const int last = ListInto(port, storage, style, &listing, &printer);
  if (spoolDir && spool.error != 0) {
    ReportSpoolError(&spool);
    NoteExplained();
    return -1;
  }
  // Only what reached its reader is deleted: a write error leaves every message stored.
  if (last < 0 || OutputError(stdout) != 0) return -1;
  // A message that stays after it was printed would be printed again: the run fails.
  return DeleteChosen(port, listing, taken, style.quick, true) < 0 ? -1 : last;
}

int DeleteMessage(int port, int index, int storage) {
  if (storage != -1 && !StorageChosen(port, storage)) return -1;
  char command[CommandSize];
  if (Deleted(port, index, command)) return 0;
  NoteRefusal(command);
  return -1;
}

int DeleteWholeMessage(int port, int index, int storage, bool* listed) {
  Listing listing;
  *listed = LastMessageIndex(port, storage, &listing) >= 0 || listing.empty;
  if (!*listed) return -1;
  FindPartGroups(&listing);
  return DeleteGroupOrIndex(port, listing, index);
}

int DeleteCheckedMessage(int port, int index, int storage, bool join, MessageId id, bool* listed) {
  Listing listing;
  *listed = LastMessageIndex(port, storage, &listing) >= 0 || listing.empty;
  if (!*listed) return -1;
  if (join) FindPartGroups(&listing);
  const int lowest = join ? GroupOf(&listing, index) : -1;
  MessageId found = 0;
  const int known = lowest >= 0 ? GroupId(&listing, lowest, &found) : IdAt(&listing, index, &found);
  if (known < 0 || found != id) {  // deleted meanwhile, perhaps, and another message stored there
    char text[IdTextSize];
    IdText(text, id);
    fprintf(stderr, "atsms: message %d is no longer the one listed (id %s); nothing deleted\n", index, text);
    NoteExplained();
    *listed = false;
    return -1;
  }
  return DeleteGroupOrIndex(port, listing, index);
}

int DeleteAllMessages(int port, int storage, bool quick) {
  Listing listing;
  const int last = LastMessageIndex(port, storage, &listing);
  if (last < 0) return last;
  unsigned char chosen[NotedIndexes / 8];
  memcpy(chosen, listing.named, sizeof chosen);
  return DeleteChosen(port, listing, chosen, quick) < 0 ? -1 : last;
}
