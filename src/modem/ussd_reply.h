// The network's answer to a USSD request, +CUSD: <m>[,<str>[,<dcs>]] (TS 27.007), made readable.
#pragma once

#include <stdio.h>

constexpr int UssdStringLimit = 1023;  // bytes of <str> kept: three times the 320 hex digits of the
                                       // longest USSD string (160 octets, 182 septets)
constexpr int UssdTextSize = 2 * (UssdStringLimit + 1);  // <str> decoded, however it is, and a NUL

// Starts all zero (UssdReply reply{}), so a process-wide one costs no space in the binary.
struct UssdReply {
  bool received;          // a "+CUSD:" line came
  int status;             // <m> of the last one; -1 when it had none
  bool hasText;           // one of them carried a <str> that is not empty
  int textStatus;         // <m> of the last one that did (1: the network waits for an answer)
  char text[UssdTextSize];  // its <str> as UTF-8
};

// Writes the text of <str> into dest (UssdTextSize bytes) as UTF-8, decoded by its data coding
// scheme (TS 23.038 section 5) and by its shape: UCS-2 hex, hex of printable ASCII (a modem in its
// HEX character set), packed 7-bit hex, or as it came.
// A dcs of -1 keeps it as it came. Yields the bytes written before the NUL.
int DecodeUssdText(char* dest, const char* str, int dcs);

// Adds every "+CUSD:" line of answer to reply. A quoted <str> may span lines (a menu); an unquoted
// one runs to the end of its line and is read as under DCS 15, as is one without <dcs>. A <str>
// longer than UssdStringLimit is kept as it came, cut there.
void ReadUssdReply(UssdReply* reply, const char* answer);

// "USSD reply: <text>" with the text escaped like the listing, and " [reply expected]" for status 1;
// nothing when no line carried text.
void PrintUssdReply(FILE* out, const UssdReply* reply);
