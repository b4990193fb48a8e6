// The user data of a received message, read from the SMS-DELIVER PDU a modem lists in PDU mode
// (TS 23.040 9.2.2.1), and its text.
#pragma once

constexpr int DeliverPduLimit = 176;  // octets: an SMSC part of 12 and the longest SMS-DELIVER (163)
constexpr int UserDataLimit = 140;    // octets of user data in one SMS

// The alphabet a data coding scheme names (TS 23.038 section 4).
constexpr int AlphabetGsm7 = 0;
constexpr int Alphabet8Bit = 1;
constexpr int AlphabetUcs2 = 2;

struct UserData {
  int alphabet;
  bool header;  // TP-UDHI: the user data starts with a header, its length (UDHL) first
  int length;   // TP-UDL: septets in GSM 7-bit, octets otherwise
  int octets;   // octets of data
  unsigned char data[UserDataLimit];
};

// Reads the SMS-DELIVER in pdu (length octets, the SMSC part first) into userData: 0, or -1 when it
// is no SMS-DELIVER, does not end exactly with its user data, or its coding is compressed or reserved.
int ReadDeliverPdu(const unsigned char* pdu, int length, UserData* userData);

// The text after the header as NUL-terminated UTF-8 in dest (size bytes; UserDataTextSize always
// suffice): GSM 7-bit from the septet boundary after the header, through the default alphabet and its
// extension table; UCS-2 as big-endian UTF-16 (as Ucs2HexToUtf8 reads it; an odd last octet dropped).
// Yields the bytes before the NUL, or -1 with dest "" for 8-bit data or user data that does not hold.
constexpr int UserDataTextSize = 2 * (UserDataLimit * 8 / 7) + 1;  // 160 septets, 2 bytes each at most
int UserDataText(char* dest, int size, const UserData* userData);
