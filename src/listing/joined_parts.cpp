#include "listing/joined_parts.h"

#include <string.h>

namespace {

// The part at index, when it may be joined: its text is its own, from its PDU.
const ListedMessage* JoinablePart(const Listing* listing, int index) {
  const ListedMessage* const part = PartAt(listing, index);
  return part && part->pdu.userData.alphabet != Alphabet8Bit ? part : nullptr;
}

bool SameMessage(const ListedMessage* a, const ListedMessage* b) {
  return a->concatenation.reference == b->concatenation.reference && a->concatenation.total == b->concatenation.total &&
         memcmp(a->pdu.originator, b->pdu.originator, AddressOctetsLimit) == 0;
}

}  // namespace

void FindPartGroups(Listing* listing) {
  bool grouped[ListedIndexes] = {};
  for (short& lowest : listing->group) lowest = -1;
  for (int first = 0; first < ListedIndexes; ++first) {
    const ListedMessage* const part = JoinablePart(listing, first);
    if (!part || grouped[first]) continue;
    bool seen[PartsLimit + 1] = {};
    bool twice = false;
    for (int i = first; i < ListedIndexes; ++i) {
      const ListedMessage* const other = JoinablePart(listing, i);
      if (!other || !SameMessage(part, other)) continue;
      grouped[i] = true;
      twice = twice || seen[other->concatenation.sequence];
      seen[other->concatenation.sequence] = true;
    }
    if (twice) continue;  // which part belongs to which message is unknown: each is listed alone
    for (int i = first; i < ListedIndexes; ++i) {
      const ListedMessage* const other = JoinablePart(listing, i);
      if (other && SameMessage(part, other)) listing->group[i] = (short)first;
    }
  }
}

int GroupOf(const Listing* listing, int index) {
  return index >= 0 && index < ListedIndexes ? listing->group[index] : -1;
}

int GroupId(const Listing* listing, int lowest, MessageId* id) {
  if (GroupOf(listing, lowest) != lowest) return -1;
  short indexOf[PartsLimit + 1];
  for (short& index : indexOf) index = -1;
  for (int index = lowest; index < ListedIndexes; ++index)
    if (GroupOf(listing, index) == lowest) indexOf[PartAt(listing, index)->concatenation.sequence] = (short)index;
  MessageId parts[PartsLimit];
  int count = 0;
  for (int sequence = 1; sequence <= PartsLimit; ++sequence)
    if (indexOf[sequence] >= 0 && IdAt(listing, indexOf[sequence], &parts[count++]) < 0) return -1;
  *id = JoinedId(parts, count);
  return 0;
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
