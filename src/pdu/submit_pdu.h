// The SMS-SUBMIT PDU a send hands to the modem (TS 23.040 9.2.2.2), one per part of a long text.
#pragma once

constexpr int MessageBufferSize = 1024;
constexpr int SingleSmsUnits = 70;  // 140 octets of UCS-2 user data
constexpr int PartUnits = 67;       // 140 octets less the 6 of the concatenation header
constexpr int MaxParts = 16;        // 1023 units at 66 or more per part
constexpr int SingleSmsSeptets = 160;  // 140 octets of GSM 7-bit user data
constexpr int PartSeptets = 153;       // 160 less 7: the concatenation header's 6 octets and a fill bit
constexpr int SeptetsLimit = 2 * (MessageBufferSize - 1);  // 1023 characters of the extension table

// The digits of phone after one optional "+" when they are 1 to 18 decimal digits and nothing else
// (a CR would end the PDU line early), else nullptr.
const char* PhoneDigits(const char* phone);

// Splits a text of units UTF-16 units (ucs2Hex, four hex digits each) into SMS parts: one part when
// it has at most 70 units, else parts of 67 units (66 where the 67th would be the first half of a
// surrogate pair) and the rest. Writes the units of each part into partUnits (room for maxParts) and
// yields the number of parts, or -1 when more than maxParts would be needed.
int SplitUserData(const char* ucs2Hex, int units, int* partUnits, int maxParts);

// Part sequence of a concatenated SMS (TS 23.040 9.2.3.24.1); total 0 or 1: a message of one SMS.
struct PartHeader {
  int reference;  // the same in every part of one message, 0-255
  int total;      // number of parts
  int sequence;   // this part's number, from 1
};

// Formats into message (MessageBufferSize bytes) the SMS-SUBMIT to phone carrying units UTF-16
// units of ucs2Hex, with a concatenation header when part.total > 1 and TP-SRR set with report;
// phone as an international number (type 91) after "+", else as given (type 81). Yields the PDU
// length, or -1 when phone is not 1 to 18 digits after an optional "+".
int BuildSubmitPdu(char* message, const char* phone, const char* ucs2Hex, int units, const PartHeader& part,
                   bool report = false);

// Splits count septets into SMS parts as SplitUserData splits units: one part when at most 160, else
// parts of 153 (152 where the 153rd is an escape, whose character would be cut off) and the rest.
int SplitSeptets(const unsigned char* septets, int count, int* partSeptets, int maxParts);

// The same as BuildSubmitPdu for count septets of the GSM 7-bit default alphabet (TP-DCS 00, TP-UDL in
// septets): packed from the first bit, or after the concatenation header and one fill bit, so that
// they start on a septet boundary (TS 23.040 9.2.3.24).
int BuildGsm7SubmitPdu(char* message, const char* phone, const unsigned char* septets, int count,
                       const PartHeader& part, bool report = false);
