// sim_pdu.h: the encodings the simulated modem speaks: hex, UCS-2, GSM 7-bit (TS 23.038), SMS PDUs (TS 23.040).
// Binary data travels as std::string of octets; hex text is uppercase.
#pragma once

#include <string>

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
// The text as UCS-2 (DCS 08), cut to 70 UTF-16 units, or as GSM 7-bit (DCS 00), cut to 160 septets.
Pdu BuildDeliverPdu(const std::string& sender, const std::string& date, const std::string& text, bool gsm7 = false);
Pdu BuildSubmitPdu(const std::string& destination, const std::string& text);

// Reads an SMS-SUBMIT that starts with its SMSC part; fills destination, dcs and text of sms.
// tpduLength gets the octets after the SMSC part. False when the PDU does not parse or has bytes left over.
bool DecodeSubmitPdu(const std::string& octets, SentSms* sms, int* tpduLength);

}  // namespace sim
