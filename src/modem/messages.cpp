#include "modem/messages.h"

#include <stdio.h>

#include "modem/answers.h"
#include "modem/commands.h"
#include "modem/failure.h"
#include "modem/prepare.h"
#include "serial/exchange.h"

namespace {

constexpr int CommandSize = 64;

// What the latest listing said about each index, for the reads in text mode that follow it.
ListedEntry ListedEntries[ListedIndexes];

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

// Why a listing gave no index, unless it is an empty storage's ("OK" and no "+CMGL:" line).
void NoteBadListing(const ListingScan& scan, long total) {
  if (scan.ended) {
    if (scan.highest >= 0 || scan.waiting || scan.endedAtO)  // a "+CMGL:" line without its index
      NoteFailure("the answer to %s could not be read", CmdListAll);
  } else if (!NoteErrorAnswer(CmdListAll)) {
    if (total == 0)
      NoteRefusal(CmdListAll);
    else
      NoteFailure("the answer to %s ended without OK", CmdListAll);
  }
}

}  // namespace

int LastMessageIndex(int port, int storage, bool* zeroInUse) {
  if (zeroInUse) *zeroInUse = false;
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
  BeginListingScan(&scan, ListedEntries);
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
  if (highest < 0) NoteBadListing(scan, total);
  return highest;
}

int ReadMessage(int port, int index) {
  char command[CommandSize];
  snprintf(command, sizeof command, CmdReadFormat, index);
  Exchange(port, command);
  const ListedEntry* entry = index >= 0 && index < ListedIndexes ? &ListedEntries[index] : nullptr;
  return PrintMessage(stdout, index, ResponseBuffer, entry);
}

int ListMessages(int port, int storage) {
  bool zeroInUse = false;
  int last = LastMessageIndex(port, storage, &zeroInUse);
  if (last < 0 || (last == 0 && !zeroInUse)) return last;
  Exchange(port, CmdTextMode);
  if (!ResponseHas(AnsOk)) {
    NoteRefusal(CmdTextMode);
    return -1;
  }
  fputs("num\ttype\tsender\tdate\tmsg\n", stdout);
  return ForEachIndex(port, zeroInUse ? 0 : 1, last, ReadMessage);
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
