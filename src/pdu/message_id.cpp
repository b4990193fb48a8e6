#include "pdu/message_id.h"

#include "codec/ucs2_to_utf8.h"

namespace {

constexpr MessageId IdPrime = 0x100000001b3ULL;  // FNV's 64-bit prime

}  // namespace

MessageId AddIdOctet(MessageId id, unsigned char octet) { return (id ^ octet) * IdPrime; }

MessageId PduId(const unsigned char* octets, int count) {
  MessageId id = IdStart;
  for (int i = 0; i < count; ++i) id = AddIdOctet(id, octets[i]);
  return id;
}

MessageId JoinedId(const MessageId* parts, int count) {
  MessageId id = IdStart;
  for (int i = 0; i < count; ++i)
    for (int shift = 56; shift >= 0; shift -= 8) id = AddIdOctet(id, (unsigned char)(parts[i] >> shift));
  return id;
}

void IdText(char* dest, MessageId id) {
  static const char digits[] = "0123456789abcdef";
  for (int i = 15; i >= 0; --i, id >>= 4) dest[i] = digits[id & 0xF];
  dest[16] = '\0';
}

int ReadId(const char* text, MessageId* id) {
  MessageId value = 0;
  int count = 0;
  for (; text[count] != '\0'; ++count) {
    const int digit = HexDigitValue(text[count]);
    if (digit < 0 || count == 16) return -1;
    value = value << 4 | (MessageId)digit;
  }
  if (count != 16) return -1;
  *id = value;
  return 0;
}
