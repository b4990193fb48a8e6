#include "listing/listing.h"

#include <string.h>

#include "codec/hex.h"

void BeginListing(Listing* listing) {
  listing->highest = -1;
  listing->zeroInUse = false;
  listing->empty = false;
  listing->full = false;
  memset(listing->kind, NotListed, sizeof listing->kind);
  memset(listing->stat, -1, sizeof listing->stat);
  for (short& lowest : listing->group) lowest = -1;
  memset(listing->identified, 0, sizeof listing->identified);
  memset(listing->named, 0, sizeof listing->named);
  memset(listing->unread, 0, sizeof listing->unread);
  listing->pastNoted = false;
}

ListedKind KindOf(const Listing* listing, int index) {
  return index >= 0 && index < ListedIndexes ? listing->kind[index] : NotListed;
}

const ListedMessage* DeliverAt(const Listing* listing, int index) {
  return KindOf(listing, index) == ListedDeliver ? &listing->message[index] : nullptr;
}

const ListedMessage* PartAt(const Listing* listing, int index) {
  const ListedMessage* const message = DeliverAt(listing, index);
  return message && message->isPart ? message : nullptr;
}

const StatusReport* ReportAt(const Listing* listing, int index) {
  return KindOf(listing, index) == ListedReport ? &listing->report[index] : nullptr;
}

bool ListedUnread(const Listing* listing, int index) {
  return index >= 0 && index < ListedIndexes && listing->stat[index] == 0;
}

void NoteNamed(Listing* listing, int index, bool unread) {
  if (index < 0) return;
  if (index >= NotedIndexes) {
    listing->pastNoted = true;
    return;
  }
  const unsigned char bit = (unsigned char)(1u << (index % 8));
  listing->named[index / 8] |= bit;
  if (unread) listing->unread[index / 8] |= bit;
}

bool WasNamed(const Listing* listing, int index) {
  return index >= 0 && index < NotedIndexes && (listing->named[index / 8] >> (index % 8) & 1) != 0;
}

bool WasNamedUnread(const Listing* listing, int index) {
  return index >= 0 && index < NotedIndexes && (listing->unread[index / 8] >> (index % 8) & 1) != 0;
}

int IdAt(const Listing* listing, int index, MessageId* id) {
  const ListedKind kind = KindOf(listing, index);
  if (kind == NotListed || kind == ListedTwice || !listing->identified[index]) return -1;
  *id = listing->id[index];
  return 0;
}

void ShowListedHeader(const Listing* listing, int index, MessageFields* fields) {
  const DeliverPdu& pdu = DeliverAt(listing, index)->pdu;
  fields->index = index;
  fields->identified = IdAt(listing, index, &fields->id) == 0;
  fields->unread = ListedUnread(listing, index);
  AddressText(fields->sender, MessageFieldSize, pdu.originator, AddressOctetsLimit);
  TimestampText(fields->date, MessageFieldSize, pdu.timestamp);
  fields->text = nullptr;
  fields->given = nullptr;
}

int ShowListedText(const Listing* listing, int index, char* dest, int size) {
  const UserData& userData = DeliverAt(listing, index)->pdu.userData;
  if (userData.alphabet != Alphabet8Bit) return UserDataText(dest, size, &userData);
  return OctetsToHex(dest, size, userData.data, userData.octets);
}
