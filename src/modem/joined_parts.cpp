#include "modem/joined_parts.h"

#include <string.h>

namespace {

// The part at index, when it may be joined: its text is its own, from its PDU.
const PartNote* JoinablePart(const ListingNotes* notes, int index) {
  return EntryOf(notes, index).text == ListedOwnText ? PartOf(notes, index) : nullptr;
}

bool SameMessage(const PartNote* a, const PartNote* b) {
  return a->concatenation.reference == b->concatenation.reference && a->concatenation.total == b->concatenation.total &&
         memcmp(a->sender, b->sender, AddressOctetsLimit) == 0;
}

}  // namespace

void FindPartGroups(const ListingNotes* notes, PartGroups* groups) {
  bool grouped[ListedIndexes] = {};
  for (int i = 0; i < ListedIndexes; ++i) groups->lowest[i] = -1;
  for (int first = 0; first < ListedIndexes; ++first) {
    const PartNote* const part = JoinablePart(notes, first);
    if (!part || grouped[first]) continue;
    bool seen[PartsLimit + 1] = {};
    bool twice = false;
    for (int i = first; i < ListedIndexes; ++i) {
      const PartNote* const other = JoinablePart(notes, i);
      if (!other || !SameMessage(part, other)) continue;
      grouped[i] = true;
      twice = twice || seen[other->concatenation.sequence];
      seen[other->concatenation.sequence] = true;
    }
    if (twice) continue;  // which part belongs to which message is unknown: each is listed alone
    for (int i = first; i < ListedIndexes; ++i) {
      const PartNote* const other = JoinablePart(notes, i);
      if (other && SameMessage(part, other)) groups->lowest[i] = (short)first;
    }
  }
}

int GroupOf(const PartGroups* groups, int index) {
  return index >= 0 && index < ListedIndexes ? groups->lowest[index] : -1;
}

void BeginJoinedMessage(JoinedMessage* joined, int lowest, int total) {
  memset(&joined->fields, 0, sizeof joined->fields);
  joined->fields.index = lowest;
  joined->total = total;
  joined->lowestSequence = 0;
  for (short& index : joined->indexOf) index = -1;
}

void AddJoinedPart(JoinedMessage* joined, const MessageFields* fields, int sequence) {
  if (sequence < 1 || sequence > joined->total) return;
  MessageFields& shown = joined->fields;
  shown.unread = shown.unread || fields->unread;
  if (joined->lowestSequence == 0 || sequence < joined->lowestSequence) {
    joined->lowestSequence = sequence;
    memcpy(shown.sender, fields->sender, MessageFieldSize);
    memcpy(shown.date, fields->date, MessageFieldSize);
  }
  joined->indexOf[sequence] = (short)fields->index;
}

bool JoinedComplete(const JoinedMessage* joined) {
  for (int sequence = 1; sequence <= joined->total; ++sequence)
    if (joined->indexOf[sequence] < 0) return false;
  return true;
}
