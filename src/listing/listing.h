// What one AT+CMGL=4 listing says of a storage, index by index. The listing answer's scanner fills
// it, reads in text mode complete it where they are still needed, listing_output prints it.
#pragma once

#include "pdu/deliver_pdu.h"
#include "pdu/message_id.h"
#include "pdu/status_report.h"

// The storage a listing comes from: 0 SIM ("SM"), 1 phone memory ("ME"), or the status reports ("SR").
constexpr int ReportStorage = 2;

constexpr int ListedIndexes = 256;  // indexes 0 to 255 are noted; higher ones are read as given
constexpr int NotedIndexes = 4096;  // up to here the listing notes which indexes it named, and unread

// What the listing says of one index.
enum ListedKind : unsigned char {
  NotListed,      // no "+CMGL:" line with this index
  ListedTwice,    // more than one: which of them a read shows is unknown
  ListedOther,    // its PDU is missing, does not parse, or has a compressed or reserved alphabet
  ListedDeliver,  // a received message: its SMS-DELIVER is in message[]
  ListedSubmit,   // a stored outgoing message
  ListedReport,   // a status report: it is in report[]
};

// A received message as its PDU has it, and where it stands in a concatenated message.
struct ListedMessage {
  DeliverPdu pdu;
  bool isPart;                  // its header holds a concatenation element
  Concatenation concatenation;  // with isPart
};

// Kinds and states are noted for every index; the PDU facts only for the received messages, so a
// large storage touches little more memory than its messages take.
struct Listing {
  int highest;     // the highest index listed, or -1
  bool zeroInUse;  // index 0 holds a message
  bool empty;      // the modem said "OK" and listed nothing: an empty storage, not a failed listing
  bool full;       // the storage command's answer showed it full: no more parts can arrive
  ListedKind kind[ListedIndexes];
  signed char stat[ListedIndexes];  // <stat> of its "+CMGL:" line: 0 received unread, 1 read, 2 stored
                                    // unsent, 3 stored sent; -1 when it gives none
  ListedMessage message[ListedIndexes];  // with ListedDeliver
  StatusReport report[ListedIndexes];    // with ListedReport
  short group[ListedIndexes];  // under --join: the lowest index of the parts joined with it, or -1
  MessageId id[ListedIndexes];     // with identified: the fingerprint of its PDU
  bool identified[ListedIndexes];  // its PDU line was whole hex octets
  unsigned char named[NotedIndexes / 8];   // bit per index: a "+CMGL:" line named it
  unsigned char unread[NotedIndexes / 8];  // bit per index: one of them with <stat> 0
  bool pastNoted;                          // a "+CMGL:" line named an index from NotedIndexes on
};

// Every index not listed, no index, no group.
void BeginListing(Listing* listing);

ListedKind KindOf(const Listing* listing, int index);  // NotListed outside the indexes noted
// The received message at index, or null (not a received message, or not noted).
const ListedMessage* DeliverAt(const Listing* listing, int index);
// The same when it is a part of a concatenated message, else null.
const ListedMessage* PartAt(const Listing* listing, int index);
// The status report at index, or null.
const StatusReport* ReportAt(const Listing* listing, int index);
// Whether the listing showed index as received unread (AT+CMGL turns it read on most modems).
bool ListedUnread(const Listing* listing, int index);

// Notes that a "+CMGL:" line named index, unread or not (nothing past the indexes noted).
void NoteNamed(Listing* listing, int index, bool unread);
// Whether a "+CMGL:" line named index, and whether one of them as received unread (up to NotedIndexes).
bool WasNamed(const Listing* listing, int index);
bool WasNamedUnread(const Listing* listing, int index);
// 0 with *id filled when index holds one PDU whose id is known, else -1 (also when it was listed twice).
int IdAt(const Listing* listing, int index, MessageId* id);

constexpr int MessageFieldSize = 128;  // sender and date: 127 characters and a NUL

// One received message as the listing prints it.
struct MessageFields {
  int index;
  bool identified;                // id holds its id (the listing's PDU, or its parts' for a joined one)
  MessageId id;
  bool unread;                    // "REC UNREAD"
  char sender[MessageFieldSize];  // UTF-8 (as given when it is no UCS-2 hex)
  char date[MessageFieldSize];    // as given
  const char* text;               // UTF-8
  const char* given;              // from a read: the text as the modem gave it, in the answer
};

// The header fields of the received message at index, from its PDU, as text mode shows them:
// sender, date, and unread as listed. Text and given are null.
void ShowListedHeader(const Listing* listing, int index, MessageFields* fields);

// Its text, from the user data: GSM 7-bit or UCS-2 after a header, 8-bit data as the hex of all of
// its octets (as text mode shows them). Writes dest (size bytes, UserDataTextSize at least) and yields
// the bytes before the NUL, or -1 with dest "" when there is no text to show.
int ShowListedText(const Listing* listing, int index, char* dest, int size);
