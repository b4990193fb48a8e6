#include "modem/messages.h"

#include <stdio.h>

#include "modem/answers.h"
#include "modem/commands.h"
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

int DeleteUnprepared(int port, int index) { return DeleteMessage(port, index, -1); }

}  // namespace

int LastMessageIndex(int port, int storage, bool* zeroInUse) {
  if (zeroInUse) *zeroInUse = false;
  PrepareModem(port, 1, storage);  // not judged: the answers below decide
  Exchange(port, CmdPduMode);
  if (!ResponseHas(AnsOk)) return -1;
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
  return EndListingScan(&scan, zeroInUse);
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
  if (!ResponseHas(AnsOk)) return -1;
  fputs("num\ttype\tsender\tdate\tmsg\n", stdout);
  return ForEachIndex(port, zeroInUse ? 0 : 1, last, ReadMessage);
}

int DeleteMessage(int port, int index, int storage) {
  if (storage != -1) PrepareModem(port, 1, storage);  // not judged: the answer below decides
  char command[CommandSize];
  snprintf(command, sizeof command, CmdDeleteFormat, index);
  Exchange(port, command);
  return ResponseHas(AnsOk) ? 0 : -1;
}

int DeleteAllMessages(int port, int storage) {
  bool zeroInUse = false;
  int last = LastMessageIndex(port, storage, &zeroInUse);
  // Empty indexes between the used ones are deleted too.
  return ForEachIndex(port, zeroInUse ? 0 : 1, last, DeleteUnprepared);
}
