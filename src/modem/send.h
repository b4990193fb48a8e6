// Sending one SMS as an SMS-SUBMIT PDU with UCS-2 text (TS 23.040, TS 27.005).
#pragma once

constexpr int MessageBufferSize = 1024;

// Builds the PDU for phone and text into message (MessageBufferSize bytes): removes one pair of
// surrounding quotes (shortening text in place), turns backslash-r and backslash-n into CR and LF,
// converts valid UTF-8 to UCS-2 hex (through CodecBuffer) and formats the PDU. Yields the PDU length, or -1
// with *problem set to a one-line reason when the input cannot be sent as it is.
int BuildSubmitPdu(char* message, const char* phone, char* text, const char** problem);

// Sends one SMS and writes the OK or ERROR block to standard output; 0 or -1.
int SendMessage(int port, const char* phone, char* text, int charset, int storage);
