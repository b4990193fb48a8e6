// The user data of a received message, read from the SMS-DELIVER PDU a modem lists in PDU mode
// (TS 23.040 9.2.2.1), and its text.
#pragma once

constexpr int DeliverPduLimit = 176;  // octets: an SMSC part of 12 and the longest SMS-DELIVER (163)
constexpr int UserDataLimit = 140;    // octets of user data in one SMS

// The alphabet a data coding scheme names (TS 23.038 section 4).
constexpr int AlphabetGsm7 = 0;
constexpr int Alphabet8Bit = 1;
constexpr int AlphabetUcs2 = 2;
// Which of them dcs names, or -1 for compressed text and reserved codings.
int AlphabetOf(int dcs);

struct UserData {
  int alphabet;
  bool header;  // TP-UDHI: the user data starts with a header, its length (UDHL) first
  int length;   // TP-UDL: septets in GSM 7-bit, octets otherwise
  int octets;   // octets of data
  unsigned char data[UserDataLimit];
};

constexpr int AddressDigitsLimit = 20;  // TP-OA, TP-DA, TP-RA: at most 10 octets of semi-octets
constexpr int AddressOctetsLimit = 12;  // TP-OA: its length in digits, its type, 10 octets of digits
constexpr int TimestampOctets = 7;      // TP-SCTS

// What an SMS-DELIVER says: who sent it, when the service centre took it, and its user data.
struct DeliverPdu {
  unsigned char originator[AddressOctetsLimit];  // TP-OA as the PDU holds it, zero-padded, so that
                                                 // two senders compare with memcmp
  unsigned char timestamp[TimestampOctets];      // TP-SCTS
  UserData userData;
};

// The first octet's TP-MTI of a PDU as modems list it (the SMSC part first), or -1 when it has none.
constexpr int MtiDeliver = 0;
constexpr int MtiSubmit = 1;
constexpr int MtiStatusReport = 2;
int MessageTypeOf(const unsigned char* pdu, int length);

// Reads the SMS-DELIVER in pdu (length octets, the SMSC part first) into deliver: 0, or -1 when it is
// no SMS-DELIVER, does not end exactly with its user data, or its coding is compressed or reserved.
int ReadDeliverPdu(const unsigned char* pdu, int length, DeliverPdu* deliver);

// Where one SMS stands in a concatenated message (TS 23.040 9.2.3.24.1 and 9.2.3.24.8).
struct Concatenation {
  int reference;  // 0 to 255 from IE 00, 0 to 65535 from IE 08
  int sequence;   // 1 to total
  int total;      // 2 to 255
};
// 0 with *part filled when the user data header holds a concatenation element (IE 00 of 3 octets or
// IE 08 of 4; the last one when there are several) with 2 <= total and 1 <= sequence <= total, and
// its elements fill the header exactly; -1 otherwise (no header, no such element, a malformed one).
int ReadConcatenation(const UserData* userData, Concatenation* part);

// The text after the header as NUL-terminated UTF-8 in dest (size bytes; UserDataTextSize always
// suffice): GSM 7-bit from the septet boundary after the header, through the default alphabet and its
// extension table; UCS-2 as big-endian UTF-16 (as Ucs2HexToUtf8 reads it; an odd last octet dropped).
// Yields the bytes before the NUL, or -1 with dest "" for 8-bit data or user data that does not hold.
constexpr int UserDataTextSize = 2 * (UserDataLimit * 8 / 7) + 1;  // 160 septets, 2 bytes each at most
int UserDataText(char* dest, int size, const UserData* userData);

// The header fields of an SMS as text mode shows them.
constexpr int AddressTextSize = 24;    // "+" and 20 digits, or a name of 11 septets (2 bytes each), and a NUL
constexpr int TimestampTextSize = 24;  // "yy/MM/dd,hh:mm:ss+zz" and a NUL (room for fields past 99)

// An address field (its length in semi-octets, its type, its value; octets long at most) as text
// mode shows it: "+" and the digits for an international number, the digits (with *, #, a, b and c)
// for any other, the name for an alphanumeric one (GSM 7-bit). Writes dest (size bytes) and yields
// the bytes before the NUL, or -1 with dest "" when the field runs past octets or dest.
int AddressText(char* dest, int size, const unsigned char* address, int octets);

// A time stamp (TP-SCTS, TP-DT: 7 octets of swapped semi-octets) as "yy/MM/dd,hh:mm:ss±zz", the zone
// in quarter hours (TS 23.040 9.2.3.11). Firmware writes semi-octets above 9 too: each counts its value.
void TimestampText(char* dest, int size, const unsigned char* timestamp);
