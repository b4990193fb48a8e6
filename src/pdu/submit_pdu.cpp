#include "pdu/submit_pdu.h"

#include <stdio.h>
#include <string.h>

#include "codec/gsm7.h"
#include "codec/hex.h"
#include "codec/ucs2_to_utf8.h"

namespace {

constexpr int AddressDigitsSize = 20;
constexpr int MaxPhoneDigits = 18;
constexpr int UserDataOctets = 140;  // of one SMS

// TP-DA digits in semi-octet order: pairs swapped, "F" filling an odd count (TS 23.040 9.1.2.3).
void SwapSemiOctets(char* out, const char* digits, int count) {
  snprintf(out, AddressDigitsSize, count % 2 ? "%sF" : "%s", digits);
  for (int i = 0; out[i] && out[i + 1]; i += 2) {
    char c = out[i];
    out[i] = out[i + 1];
    out[i + 1] = c;
  }
}

// Cuts count units into the lengths of its parts: all in one when at most single, else parts of at
// most part units, one unit fewer where together(cut) says that a cut there would part two units
// that belong together. The number of parts, or -1 when more than maxParts would be needed.
template <typename Together>
int SplitParts(int count, int single, int part, int* lengths, int maxParts, Together together) {
  if (count <= single) {
    if (maxParts < 1) return -1;
    lengths[0] = count;
    return 1;
  }
  int parts = 0;
  for (int from = 0; from < count; from += lengths[parts++]) {
    if (parts == maxParts) return -1;
    int length = count - from;
    if (length > part) {
      length = part;
      if (together(from + length)) --length;
    }
    lengths[parts] = length;
  }
  return parts;
}

}  // namespace

const char* PhoneDigits(const char* phone) {
  const char* digits = phone[0] == '+' ? phone + 1 : phone;
  size_t n = strspn(digits, "0123456789");
  if (n == 0 || n > MaxPhoneDigits || digits[n] != '\0') return nullptr;
  return digits;
}

int SplitUserData(const char* ucs2Hex, int units, int* partUnits, int maxParts) {
  // Both halves of a pair go into the same part (TS 23.040 9.2.3.24.1 leaves that to the sender).
  return SplitParts(units, SingleSmsUnits, PartUnits, partUnits, maxParts, [ucs2Hex](int cut) {
    return IsHighSurrogate(ReadUcs2Unit(ucs2Hex + 4 * (size_t)(cut - 1))) &&
           IsLowSurrogate(ReadUcs2Unit(ucs2Hex + 4 * (size_t)cut));
  });
}

namespace {

// The PDU up to TP-UDL: SMSC from the modem, SMS-SUBMIT (TP-UDHI set for a part of a long message,
// TP-SRR with report), MR 0, TP-DA, PID 0, DCS. Yields its length, or -1 when phone is no number.
int SubmitHead(char* message, const char* phone, const PartHeader& part, bool report, unsigned dcs) {
  const char* digits = PhoneDigits(phone);
  if (!digits) return -1;
  int count = (int)strlen(digits);
  char address[AddressDigitsSize];
  SwapSemiOctets(address, digits, count);
  // Type of address (TS 23.040 9.1.2.5): international with "+"; without it, unknown, which the
  // network reads by its national rules (a national number, a short code), ISDN numbering plan.
  const unsigned type = digits == phone ? 0x81 : 0x91;
  const unsigned srr = report ? 0x20 : 0;  // TP-SRR: the network reports the delivery (TS 23.040 9.2.3.5)
  const unsigned first = (part.total > 1 ? 0x41 : 0x01) | srr;
  return snprintf(message, MessageBufferSize, "00%.2X00%.2X%.2X%s00%.2X", first, (unsigned)count, type, address, dcs);
}

}  // namespace

int BuildSubmitPdu(char* message, const char* phone, const char* ucs2Hex, int units, const PartHeader& part,
                   bool report) {
  const int head = SubmitHead(message, phone, part, report, 0x08);  // UCS-2
  if (head < 0) return -1;
  char* const rest = message + head;
  if (part.total <= 1)
    return head + snprintf(rest, (size_t)(MessageBufferSize - head), "%.2X%.*s", (unsigned)(2 * units), 4 * units,
                           ucs2Hex);
  // The user data opens with the header: its length 5, IE 00 (concatenation, 8-bit reference) of
  // length 3: reference, number of parts, this part's number.
  return head + snprintf(rest, (size_t)(MessageBufferSize - head), "%.2X050003%.2X%.2X%.2X%.*s",
                         (unsigned)(6 + 2 * units), (unsigned)part.reference & 0xFF, (unsigned)part.total,
                         (unsigned)part.sequence, 4 * units, ucs2Hex);
}

int SplitSeptets(const unsigned char* septets, int count, int* partSeptets, int maxParts) {
  // An escape and the septet it escapes are one character: both go into the same part.
  return SplitParts(count, SingleSmsSeptets, PartSeptets, partSeptets, maxParts,
                    [septets](int cut) { return septets[cut - 1] == Gsm7Escape; });
}

int BuildGsm7SubmitPdu(char* message, const char* phone, const unsigned char* septets, int count,
                       const PartHeader& part, bool report) {
  const int head = SubmitHead(message, phone, part, report, 0x00);  // the GSM 7-bit default alphabet
  if (head < 0) return -1;
  unsigned char userData[UserDataOctets] = {};  // the fill bit 0
  int firstBit = 0;
  if (part.total > 1) {  // the same header as BuildSubmitPdu's, then one fill bit: 7 septets in all
    const unsigned char header[] = {5, 0, 3, (unsigned char)(part.reference & 0xFF), (unsigned char)part.total,
                                    (unsigned char)part.sequence};
    memcpy(userData, header, sizeof header);
    firstBit = 7 * 7;
  }
  const int octets = PackSeptets(userData, UserDataOctets, septets, count, firstBit);
  if (octets < 0) return -1;
  const int udl = snprintf(message + head, (size_t)(MessageBufferSize - head), "%.2X", (unsigned)(firstBit / 7 + count));
  const int hex = OctetsToHex(message + head + udl, MessageBufferSize - head - udl, userData, octets);
  return hex < 0 ? -1 : head + udl + hex;
}
