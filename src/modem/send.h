// Sending one SMS as an SMS-SUBMIT PDU with UCS-2 text, or GSM 7-bit text on request (TS 23.040,
// TS 27.005); a text longer than one SMS goes out as a concatenated SMS, one PDU per part.
#pragma once

#include "pdu/submit_pdu.h"

// True when nothing is left of text once a pair of surrounding quotes is taken off: "", '' or "".
bool IsEmptyText(const char* text);
inline constexpr char EmptyTextRefused[] = "atsms: the text is empty; nothing sent\n";

// Checks phone and text, removes one pair of surrounding quotes (the same quote character at
// both ends, taken off once; shortening text in place), turns
// backslash-r and backslash-n into CR and LF in message (MessageBufferSize bytes) and converts valid
// UTF-8 into UCS-2 hex in CodecBuffer. Yields the number of UTF-16 units, or -1 with *problem set to
// a one-line reason when the input cannot be sent as it is.
int EncodeSubmitText(char* message, const char* phone, char* text, const char** problem);

// Sends the text as one SMS or as the parts of a concatenated SMS and writes the OK or ERROR block
// to standard output; 0 or -1. With report, each part asks for a delivery report, the modem is
// told to keep them (KeepStatusReports), and the block lists the parts' message references. With
// gsm7, a text whose every character has a place in the GSM 7-bit alphabet goes in it (160 septets
// in one SMS, 153 a part); any other as UCS-2.
int SendMessage(int port, const char* phone, char* text, int charset, int storage, bool report = false,
                bool gsm7 = false);
