// What became of a message sent with TP-SRR: the SMS-STATUS-REPORT a modem keeps (TS 23.040
// 9.2.2.3), read from the PDU it lists, the SMSC part first.
#pragma once

#include "pdu/deliver_pdu.h"

constexpr int ReportTimeOctets = TimestampOctets;  // TP-SCTS and TP-DT: swapped semi-octets, as TimestampText reads them

struct StatusReport {
  int reference;                                // TP-MR: the reference +CMGS gave the message, 0 to 255
  unsigned char recipient[AddressOctetsLimit];  // TP-RA as the PDU holds it, zero-padded, for AddressText
  unsigned char sent[ReportTimeOctets];         // TP-SCTS: when the centre took the message
  unsigned char done[ReportTimeOctets];         // TP-DT: when it was delivered, or its state last changed
  int status;                                   // TP-ST, 0 to 255
};

// Reads the report in pdu (length octets) into report: 0, or -1 when it is no SMS-STATUS-REPORT,
// a field runs past the end, or the TP-PI announces fields that are not there. What follows the
// last field (the padding some firmware lists) is passed over.
int ReadStatusReport(const unsigned char* pdu, int length, StatusReport* report);

// The outcome TP-ST tells (TS 23.040 9.2.3.15): "delivered" (0x00 to 0x1F), "pending" (0x20 to
// 0x3F: the centre still tries) or "failed" (0x40 on). Reserved values count as their range.
const char* StatusWord(int status);
