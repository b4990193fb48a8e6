// Pure parsers of one modem answer: they take the answer text, so they can be fed captured bytes.
#pragma once

#include <stddef.h>

#include "modem/deliver_pdu.h"

// A decimal integer in the manner of atoi (leading blanks, a sign, digits; no digits gives 0),
// saturated at the int range instead of overflowing.
int ReadDecimal(const char* text);

// +CMGL: <index>,<stat>,,<length>\r\n<pdu>\r\n ... \r\nOK
// Highest index among the "+CMGL:" lines before the first "OK", or -1. Writes a NUL after its digits.
// *zeroInUse (may be null) tells whether one of those lines carries index 0.
int FindHighestIndex(char* answer, bool* zeroInUse);

// What the listing says about the text of one index, for its read in text mode.
enum ListedText : unsigned char {
  NotListed,
  ListedPlain,     // the text as the text-mode answer gives it
  ListedOwnText,   // a user data header: the text after it, from the PDU
  ListedGivenHex,  // 8-bit data: the hex the text-mode answer gives, not decoded
  ListedTwice,     // the index came more than once: which entry a read shows is unknown, so as given
};
constexpr int ListedIndexes = 256;  // indexes 0 to 255 are noted; higher ones are read as given
// Where a listed message stands in a concatenated message, and who sent it.
struct PartNote {
  bool isPart;                                 // its header holds a concatenation element
  Concatenation concatenation;                 // with isPart
  unsigned char sender[AddressOctetsLimit];    // TP-OA, as ReadDeliverPdu gives it
};
// What a listing notes of each index. The user data and the part are written only for the indexes
// whose message has a header or 8-bit data, so a large storage of plain messages touches little memory.
struct ListingNotes {
  ListedText text[ListedIndexes];
  UserData userData[ListedIndexes];  // with ListedOwnText
  PartNote part[ListedIndexes];      // with ListedOwnText and ListedGivenHex
};
// One index's note, as the reading of its text-mode answer takes it.
struct ListedEntry {
  ListedText text;
  const UserData* userData;  // with ListedOwnText
};
// The note of index in notes (may be null); NotListed outside the indexes noted.
ListedEntry EntryOf(const ListingNotes* notes, int index);
// Where the message at index stands in a concatenated message, or null: no part, not noted, or
// listed twice (which of the two a read shows is unknown).
const PartNote* PartOf(const ListingNotes* notes, int index);

// The same reading of a listing too long for one buffer, fed in pieces split anywhere: the result
// is what FindHighestIndex gives for the whole answer (up to its first NUL byte). Fixed size.
// With notes, it also notes what each listed index's PDU line says.
struct ListingScan {
  long long offset;      // bytes of the answer scanned so far
  long long highestEnd;  // offset of the first byte after the highest index's digits
  long long value;       // the index being read, saturated just above INT_MAX
  int highest;           // -1 while no index has been read
  int matched;           // characters of "+CMGL:" matched so far
  int result;            // once ended: the highest index, or -1
  bool ended;            // the first "OK" or a NUL byte has been seen: later bytes change nothing
  bool zeroInUse;
  bool afterO;           // the previous byte was an 'O'
  bool waiting;          // a "+CMGL:" waits for its index digits (the skip may cross lines)
  bool inDigits;         // inside the digit run those lines wait for
  bool endedAtO;         // that run ended at an 'O': it counts unless a 'K' follows
  bool entryLine;        // the current line holds a "+CMGL:"
  bool pduLine;          // the current line follows such a line (it holds that entry's PDU)
  int pduLines;          // complete lines that followed a "+CMGL:" line, before the end mark
  ListingNotes* notes;   // null, or where the listed indexes are noted
  int entryIndex;        // the index on the current "+CMGL:" line, or -1
  int pduIndex;          // the index whose PDU line this is, or -1
  int pduOctets;         // octets of that line so far
  int pduNibble;         // the first hex digit of the next octet, or -1
  bool pduBroken;        // the line is no PDU: a character that is no hex digit, or too long
  unsigned char pdu[DeliverPduLimit];
  UserData userData;     // that PDU's, once read
};

// notes (may be null): every index set to NotListed here.
void BeginListingScan(ListingScan* scan, ListingNotes* notes = nullptr);
void ScanListingPiece(ListingScan* scan, const char* piece, size_t length);
// The highest index, or -1 (no "OK", a NUL before it, no "+CMGL:", or a line without its index).
int EndListingScan(const ListingScan* scan, bool* zeroInUse);

constexpr int MessageFieldSize = 128;  // sender and date: 127 characters and a NUL

// One received message, as read in text mode.
struct MessageFields {
  int index;
  bool unread;                    // "REC UNREAD"; "REC READ" otherwise
  char sender[MessageFieldSize];  // UTF-8 (as given when it is no UCS-2 hex)
  char date[MessageFieldSize];    // as given
  const char* text;               // UTF-8: in CodecBuffer, or as given when it is no UCS-2 hex
  const char* given;              // the text as the modem gave it, in the answer
};

// +CMGR: "REC UNREAD","<sender hex>",,"<date>"\r\n<text hex>\r\n\r\nOK
// The alpha field after the sender may also be "", a name (its UCS-2 hex) or left out.
// Fills fields and yields 0, or -1 when the answer holds no received message. Trims the answer in
// place and uses CodecBuffer. With entry (the listing's entry for this index; may be null), the text
// is the one the entry says.
int ParseMessage(char* answer, int index, MessageFields* fields, const ListedEntry* entry = nullptr);
