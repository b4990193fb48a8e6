// Reading and deleting the messages of one storage (storage 1: phone "ME", 0: SIM "SM").
#pragma once

#include "listing/listing.h"

// Bytes of one "AT+CMGL=4" answer (255 full-length entries are about 100 KB); past them the
// listing counts as broken.
constexpr int ListingLimit = 256 * 1024;

// How a listing is read and printed.
struct ListingStyle {
  bool json = false;   // one JSON document on one line instead of the TSV lines
  bool join = false;   // the parts of a concatenated message as one message
  bool quick = false;  // each message from its PDU in the AT+CMGL=4 answer; text mode only for those
                       // it cannot show
  bool holdIncomplete = false;  // with join: a message whose parts are not all stored is left out
                                // (unless the storage is full: then its parts can never all come)
};

// Prepares the modem and lists the storage in PDU mode into listing. Yields the highest index, or
// -1 (also for an empty storage, which listing->empty tells apart, or a listing past ListingLimit,
// with one line on standard error).
int LastMessageIndex(int port, int storage, Listing* listing);

// Prints the header and one line per message, or one JSON document on one line (also for an empty
// storage); yields the highest index, or -1. With join, the parts of a concatenated message are one
// message, standing where its lowest index stands. error (may be null): the JSON document's "error"
// member. Once standard output cannot be written, nothing more is read.
int ListMessages(int port, int storage, const ListingStyle& style = ListingStyle(), const char* error = nullptr);

// Lists as ListMessages does (with spoolDir, each message's JSON object into a file of its own there
// instead: see listing/spool.h), then, once all of it was written, deletes exactly the messages
// listed, as DeleteAllMessages deletes. Yields what ListMessages yields; -1 with nothing deleted
// after a write error (said by the front end) or when the spool cannot take a file (said here);
// -1 too when the modem refused to delete one of them (the others are deleted).
int TakeMessages(int port, int storage, const ListingStyle& style, const char* spoolDir = nullptr);

// Deletes one index; storage -1 skips the modem preparation. 0 when the modem said "OK", else -1.
int DeleteMessage(int port, int index, int storage);

// Lists the storage, then deletes every part of the message at index that a joined listing would
// join, in ascending index order, or else index alone. 0 when the modem said "OK" to each, else -1.
// *listed false: the listing failed, and nothing was deleted.
int DeleteWholeMessage(int port, int index, int storage, bool* listed);

// Lists the storage, then deletes index when it still holds the message with that id (with join,
// every part of the joined message that index stands for); else one line says so and nothing is
// deleted. 0 when the modem said "OK" to each deletion, else -1; *listed false: nothing was
// deleted (the listing failed, or the message was not the one given).
int DeleteCheckedMessage(int port, int index, int storage, bool join, MessageId id, bool* listed);

// Deletes every index that the listing named, and no other; yields the highest, or -1. Without
// quick one AT+CMGD for each. With quick, first each one listed as unread, then the rest with one
// AT+CMGD=1,3 (read, sent and unsent: a message that arrives after the listing is unread and
// stays); only a modem that refuses that gets one per index.
int DeleteAllMessages(int port, int storage, bool quick = false);
