// Reading and deleting the messages of one storage (storage 1: phone "ME", 0: SIM "SM").
#pragma once

// Bytes of one "AT+CMGL=4" answer (255 full-length entries are about 100 KB); past them the
// listing counts as broken.
constexpr int ListingLimit = 256 * 1024;

// Prepares the modem, lists the storage in PDU mode and yields the highest index listed, or -1
// (also for an empty storage, or a listing past ListingLimit, with one line on standard error).
// *zeroInUse (may be null): whether index 0 holds a message. *empty (may be null): whether the
// storage is empty ("OK" and no "+CMGL:" line) rather than the listing failed.
int LastMessageIndex(int port, int storage, bool* zeroInUse = nullptr, bool* empty = nullptr);

// Prints the header and one line per message, or with json one JSON document on one line (also
// for an empty storage); yields the highest index, or -1. With join, the parts of a concatenated
// message are one message, standing where its lowest index stands; each index is still read once.
int ListMessages(int port, int storage, bool json = false, bool join = false);

// Reads one index in text mode and prints its line: 0, or -1 when it holds nothing readable.
int ReadMessage(int port, int index);

// Deletes one index; storage -1 skips the modem preparation. 0 when the modem said "OK", else -1.
int DeleteMessage(int port, int index, int storage);

// Lists the storage, then deletes every part of the message at index that a joined listing would
// join, in ascending index order, or else index alone. 0 when the modem said "OK" to each, else -1.
// *listed false: the listing failed, and nothing was deleted.
int DeleteWholeMessage(int port, int index, int storage, bool* listed);

// Deletes every index up to the highest; yields that index, or -1.
int DeleteAllMessages(int port, int storage);
