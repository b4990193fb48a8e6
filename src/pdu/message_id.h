// The id of a stored message: a 64-bit FNV-1a fingerprint of the octets of its PDU, the same in
// every run and with or without -q, printed as 16 lower-case hex digits.
#pragma once

using MessageId = unsigned long long;

constexpr MessageId IdStart = 0xcbf29ce484222325ULL;  // FNV-1a 64's offset basis
constexpr int IdTextSize = 17;                        // 16 hex digits and a NUL

// id with one more octet.
MessageId AddIdOctet(MessageId id, unsigned char octet);
// The id of a PDU's octets (count of them).
MessageId PduId(const unsigned char* octets, int count);
// The id of a joined message: its parts' ids (count of them, in sequence-number order), 8 octets
// each, big-endian.
MessageId JoinedId(const MessageId* parts, int count);

// id as 16 lower-case hex digits and a NUL into dest (IdTextSize bytes).
void IdText(char* dest, MessageId id);
// 0 with *id filled when text is exactly 16 hex digits (either case), else -1.
int ReadId(const char* text, MessageId* id);
