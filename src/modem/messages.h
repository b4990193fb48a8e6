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
};

// Prepares the modem and lists the storage in PDU mode into listing. Yields the highest index, or
// -1 (also for an empty storage, which listing->empty tells apart, or a listing past ListingLimit,
// with one line on standard error).
int LastMessageIndex(int port, int storage, Listing* listing);

// Prints the header and one line per message, or one JSON document on one line (also for an empty
// storage); yields the highest index, or -1. With join, the parts of a concatenated message are one
// message, standing where its lowest index stands.
int ListMessages(int port, int storage, const ListingStyle& style = ListingStyle());

// Deletes one index; storage -1 skips the modem preparation. 0 when the modem said "OK", else -1.
int DeleteMessage(int port, int index, int storage);

// Lists the storage, then deletes every part of the message at index that a joined listing would
// join, in ascending index order, or else index alone. 0 when the modem said "OK" to each, else -1.
// *listed false: the listing failed, and nothing was deleted.
int DeleteWholeMessage(int port, int index, int storage, bool* listed);

// Deletes every index up to the highest; yields that index, or -1. With quick, one command deletes
// them all (AT+CMGD=1,4), and only a modem that refuses it gets one per index.
int DeleteAllMessages(int port, int storage, bool quick = false);
