// sim_pdu.h: the encodings the simulated modem speaks: hex, UCS-2, GSM 7-bit (TS 23.038), SMS PDUs (TS 23.040).
// Binary data travels as std::string of octets; hex text is uppercase.
#pragma once

#include <string>
#include <vector>

#include "modem_sim.h"

namespace sim {

std::string HexEncode(const std::string& octets);
bool HexDecode(const std::string& hex, std::string* octets);  // false on an odd length or a non-digit

std::string Utf8ToUcs2Hex(const std::string& text);  // 4 digits per UTF-16 unit, surrogate pairs above U+FFFF
std::string Ucs2ToUtf8(const std::string& octets);   // big-endian UTF-16; pairs joined, a lone half gives U+FFFD

std::string Utf8ToGsm7(const std::string& text);      // septet values; characters without one become '?'
std::string Gsm7ToUtf8(const std::string& septets);   // with the escape to the extension table
std::string PackSeptets(const std::string& septets);  // 8 septets in 7 octets, first septet in the low bits
std::string UnpackSeptets(const std::string& octets, size_t count);

// UTF-8 as packed GSM 7-bit octets; seven spare bits at the end hold a CR (TS 23.038 6.1.2.3.1).
std::string PackGsm7Text(const std::string& text);

// "AA180C3602" -> "*100#". False when the hex does not parse.
bool UnpackUssd(const std::string& hex, std::string* text);

struct Pdu {
  std::string hex;      // SMSC part included
  int tpduLength = 0;   // octets after the SMSC part, as +CMGL and +CMGR give it
};
// The text as UCS-2 (DCS 08), cut to 70 UTF-16 units, or as GSM 7-bit (DCS 00), cut to 160 septets;
// after a user data header (UDHL first) when one is given, with fill bits up to the next septet.
Pdu BuildDeliverPdu(const std::string& sender, const std::string& date, const std::string& text, bool gsm7 = false,
                    const std::string& header = "");
// Tells the octets of a hex PDU after its SMSC part; -1 when it is no hex or its SMSC part runs past it.
int TpduLength(const std::string& hex);

// The header of one part of a concatenated message: IE 00 with an 8-bit reference or IE 08 with a
// 16-bit one (TS 23.040 9.2.3.24.1 and .8), UDHL first.
std::string ConcatenationHeader(int reference, bool wideReference, int total, int sequence);
// The texts of the parts a text is sent in beside a header of headerOctets: as many septets or UTF-16
// units as fit, never splitting an escape or a surrogate pair.
std::vector<std::string> SplitIntoParts(const std::string& text, bool gsm7, size_t headerOctets);

// An SMS-DELIVER as a phone reads it.
struct DeliverInfo {
  std::string sender;  // "+" and the digits for an international number, or the alphanumeric name
  std::string date;    // "yy/MM/dd,hh:mm:ss±zz", zz in quarters of an hour
  int alphabet = 0;    // from the DCS (TS 23.038 4): 0 GSM 7-bit, 1 8-bit data, 2 UCS-2
  int udl = 0;         // TP-UDL
  std::string ud;      // the user data octets, header included
  std::string header;  // the user data header (UDHL first), empty without TP-UDHI
  std::string text;    // UTF-8 of what follows the header; 8-bit data as hex
};
// False when hex (SMSC part first) is no SMS-DELIVER of a known alphabet or has octets left over.
bool DecodeDeliverPdu(const std::string& hex, DeliverInfo* info);
Pdu BuildSubmitPdu(const std::string& destination, const std::string& text);

// A status report on a message sent (TS 23.040 9.2.2.3): first octet 06, no TP-PI.
Pdu BuildStatusReportPdu(int reference, const std::string& recipient, const std::string& sent, const std::string& done,
                         int status);

// An SMS-STATUS-REPORT as a phone reads it.
struct StatusReportInfo {
  int firstOctet = 0;
  int reference = 0;      // TP-MR
  std::string recipient;  // TP-RA as DeliverInfo's sender
  int recipientType = 0;  // its type of address: 145 international, 129 unknown, ...
  std::string sent;       // TP-SCTS, "yy/MM/dd,hh:mm:ss±zz"
  std::string done;       // TP-DT
  int status = 0;         // TP-ST
};
// False when hex (SMSC part first) is no SMS-STATUS-REPORT or ends before TP-ST. What follows TP-ST
// (a TP-PI and its fields, padding) is not read: firmware lists its store as it is.
bool DecodeStatusReportPdu(const std::string& hex, StatusReportInfo* info);

// Reads an SMS-SUBMIT that starts with its SMSC part; fills destination, dcs and text of sms.
// tpduLength gets the octets after the SMSC part. False when the PDU does not parse or has bytes left over.
bool DecodeSubmitPdu(const std::string& octets, SentSms* sms, int* tpduLength);

}  // namespace sim
