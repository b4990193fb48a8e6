#include "pdu/deliver_pdu.h"

#include <stdio.h>
#include <string.h>

#include "codec/gsm7.h"
#include "codec/hex.h"
#include "codec/ucs2_to_utf8.h"

// TS 23.038 section 4: the alphabet a data coding scheme names, or -1 for compressed text and
// reserved codings.
int AlphabetOf(int dcs) {
  const int group = dcs >> 4;
  if (group <= 0x7) {  // 00xx general data coding; 01xx the same, marked for automatic deletion
    const int alphabet = dcs >> 2 & 0x3;       // 00 GSM 7-bit, 01 8-bit, 10 UCS-2, 11 reserved
    return (dcs & 0x20) || alphabet == 3 ? -1 : alphabet;  // bit 5: compressed
  }
  if (group == 0xC || group == 0xD) return AlphabetGsm7;  // message waiting, discard or store
  if (group == 0xE) return AlphabetUcs2;                   // message waiting, store, UCS-2
  if (group == 0xF) return dcs & 0x04 ? Alphabet8Bit : AlphabetGsm7;  // data coding/message class
  return -1;                                               // 1000 to 1011: reserved
}

namespace {

// The septets a header of this many octets takes, with the fill bits up to the next septet boundary.
int HeaderSeptets(int headerOctets) { return (headerOctets * 8 + 6) / 7; }

// UDHL + 1, 0 without a header, or -1 when the header does not fit the user data.
int HeaderOctets(const UserData& ud) {
  if (!ud.header) return 0;
  if (ud.octets < 1 || ud.data[0] + 1 > ud.octets) return -1;
  if (ud.alphabet == AlphabetGsm7 && HeaderSeptets(ud.data[0] + 1) > ud.length) return -1;
  return ud.data[0] + 1;
}

}  // namespace

int MessageTypeOf(const unsigned char* pdu, int length) {
  if (length < 1 || 1 + pdu[0] >= length) return -1;  // the SMSC part: its length in octets, then the address
  return pdu[1 + pdu[0]] & 0x03;
}

int ReadDeliverPdu(const unsigned char* pdu, int length, DeliverPdu* deliver) {
  if (length > DeliverPduLimit || MessageTypeOf(pdu, length) != MtiDeliver) return -1;
  int at = 1 + pdu[0];
  const int first = pdu[at++];
  if (at + 2 > length || pdu[at] > AddressDigitsLimit) return -1;
  const int addressOctets = 2 + (pdu[at] + 1) / 2;  // TP-OA: its length in semi-octets (digits), type, value
  if (at + addressOctets + 2 + TimestampOctets + 1 > length) return -1;
  memset(deliver->originator, 0, AddressOctetsLimit);
  memcpy(deliver->originator, pdu + at, addressOctets);
  at += addressOctets;
  const int alphabet = AlphabetOf(pdu[at + 1]);  // after TP-PID
  memcpy(deliver->timestamp, pdu + at + 2, TimestampOctets);
  at += 2 + TimestampOctets;
  const int udl = pdu[at++];
  if (alphabet < 0) return -1;
  const int octets = alphabet == AlphabetGsm7 ? (udl * 7 + 7) / 8 : udl;
  if (octets > UserDataLimit || length - at != octets) return -1;
  UserData* const userData = &deliver->userData;
  userData->alphabet = alphabet;
  userData->header = (first & 0x40) != 0;  // TP-UDHI
  userData->length = udl;
  userData->octets = octets;
  memcpy(userData->data, pdu + at, octets);
  return HeaderOctets(*userData) < 0 ? -1 : 0;
}

int UserDataText(char* dest, int size, const UserData* userData) {
  if (size <= 0) return -1;
  dest[0] = '\0';
  const UserData& ud = *userData;
  if (ud.octets < 0 || ud.octets > UserDataLimit) return -1;
  const int headerOctets = HeaderOctets(ud);
  if (headerOctets < 0) return -1;
  if (ud.alphabet == AlphabetGsm7) {
    // Headers are skipped whatever they hold: a national language shift changes no table here.
    const int skip = HeaderSeptets(headerOctets);
    return Gsm7ToUtf8(dest, size, ud.data, ud.octets, 7 * skip, ud.length - skip, false);
  }
  if (ud.alphabet != AlphabetUcs2) return -1;
  // A 7-octet header (16-bit reference) leaves the text at an odd octet: units count from there.
  const int units = (ud.octets - headerOctets) / 2;
  if (3 * units >= size) return -1;
  char hex[2 * UserDataLimit + 1];
  OctetsToHex(hex, sizeof hex, ud.data + headerOctets, 2 * units);
  return Ucs2HexToUtf8(dest, hex);
}

int ReadConcatenation(const UserData* userData, Concatenation* part) {
  const UserData& ud = *userData;
  if (HeaderOctets(ud) <= 0) return -1;
  const unsigned char* const end = ud.data + 1 + ud.data[0];
  bool found = false;
  for (const unsigned char* ie = ud.data + 1; ie < end; ie += 2 + ie[1]) {
    if (end - ie < 2 || end - ie < 2 + ie[1]) return -1;  // an element that runs past the header
    if (ie[0] == 0x00 && ie[1] == 3) {                    // 8-bit reference, total, sequence
      *part = {ie[2], ie[4], ie[3]};
      found = true;
    } else if (ie[0] == 0x08 && ie[1] == 4) {  // 16-bit reference
      *part = {ie[2] << 8 | ie[3], ie[5], ie[4]};
      found = true;
    } else if (ie[0] == 0x00 || ie[0] == 0x08) {
      return -1;  // a concatenation element of the wrong length
    }
  }
  if (!found || part->total < 2 || part->sequence < 1 || part->sequence > part->total) return -1;
  return 0;
}

int AddressText(char* dest, int size, const unsigned char* address, int octets) {
  if (size <= 0) return -1;
  dest[0] = '\0';
  if (octets < 2) return -1;
  const int digits = address[0];
  const int type = address[1];
  const unsigned char* const value = address + 2;
  const int valueOctets = (digits + 1) / 2;
  if (digits > AddressDigitsLimit || 2 + valueOctets > octets) return -1;
  if ((type & 0x70) == 0x50) {  // alphanumeric: the length counts the semi-octets the septets take
    return Gsm7ToUtf8(dest, size, value, valueOctets, 0, digits * 4 / 7, false);
  }
  static const char Symbols[] = "0123456789*#abc";  // semi-octets 0 to E (TS 24.008 10.5.4.7)
  int n = 0;
  if ((type & 0x70) == 0x10) dest[n++] = '+';  // type of number: international
  for (int i = 0; i < digits; ++i) {
    const int nibble = value[i / 2] >> (i % 2 ? 4 : 0) & 0xF;
    if (nibble == 0xF) break;  // the filler of an odd count
    if (n + 1 >= size) {
      dest[0] = '\0';
      return -1;
    }
    dest[n++] = Symbols[nibble];
  }
  dest[n] = '\0';
  return n;
}

void TimestampText(char* dest, int size, const unsigned char* timestamp) {
  // The first semi-octet of each field is its tens, in the low nibble.
  int field[7];
  for (int i = 0; i < 7; ++i) field[i] = (timestamp[i] & 0x0F) * 10 + (timestamp[i] >> 4);
  const int zone = (timestamp[6] & 0x07) * 10 + (timestamp[6] >> 4);  // bit 3: the zone's sign
  snprintf(dest, (size_t)size, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", field[0], field[1], field[2], field[3], field[4],
           field[5], timestamp[6] & 0x08 ? '-' : '+', zone);
}
