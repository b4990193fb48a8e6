// One USSD request, such as a balance query (TS 27.007 +CUSD).
#pragma once

constexpr int PackedUssdSize = 128;  // 63 octets as hex, and a NUL
constexpr int MaxUssdLength = 72;    // characters that pack into 63 octets

// Packs code into GSM 7-bit septets (TS 23.038) as uppercase hex in packed (PackedUssdSize bytes):
// "*100#" gives "AA180C3602". Yields the digit count, or -1 for more than MaxUssdLength characters.
int PackUssd(char* packed, const char* code);

// Sends code, traces the exchange on standard error and writes the OK or ERROR block; 0 or -1.
// With json, an OK block after a reply with text also carries "reply" and "status".
int SendUssd(int port, const char* code, bool json = false);
