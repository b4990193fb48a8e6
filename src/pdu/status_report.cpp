#include "pdu/status_report.h"

#include <string.h>

namespace {

// TP-PI (TS 23.040 9.2.3.27): which optional fields follow; bit 7 says another TP-PI octet follows.
constexpr int HasPid = 0x01;
constexpr int HasDcs = 0x02;
constexpr int HasUdl = 0x04;
constexpr int PiExtension = 0x80;

// Octets that erased flash holds: some firmware lists them after TP-ST. As a TP-PI, 0xFF would set
// the reserved bits and announce an extension; no sender writes that.
bool IsFiller(const unsigned char* octets, int count) {
  for (int i = 0; i < count; ++i)
    if (octets[i] != 0xFF) return false;
  return true;
}

}  // namespace

int ReadStatusReport(const unsigned char* pdu, int length, StatusReport* report) {
  if (length < 1) return -1;
  int at = 1 + pdu[0];  // the SMSC part: its length in octets, then the address
  if (at + 2 > length) return -1;
  if ((pdu[at] & 0x03) != 0x02) return -1;  // TP-MTI 10: SMS-STATUS-REPORT
  const int reference = pdu[at + 1];
  at += 2;
  if (at + 2 > length || pdu[at] > AddressDigitsLimit) return -1;
  const int addressOctets = 2 + (pdu[at] + 1) / 2;  // TP-RA: its length in semi-octets, type, value
  const int recipient = at;
  at += addressOctets;
  if (at + 2 * ReportTimeOctets + 1 > length) return -1;
  const int times = at;
  at += 2 * ReportTimeOctets;
  const int status = pdu[at++];

  if (at < length && !IsFiller(pdu + at, length - at)) {
    const int pi = pdu[at];
    while (at < length && (pdu[at] & PiExtension)) ++at;  // extension octets hold reserved bits only
    if (at++ >= length) return -1;
    int dcs = 0;  // without TP-DCS the user data is in the default alphabet
    if (pi & HasPid) ++at;
    if (pi & HasDcs) dcs = at < length ? pdu[at++] : -1;
    if (dcs < 0) return -1;
    if (pi & HasUdl) {
      if (at >= length) return -1;
      const int udl = pdu[at++];
      at += AlphabetOf(dcs) == AlphabetGsm7 ? (udl * 7 + 7) / 8 : udl;  // septets or octets
    }
    if (at > length) return -1;  // what remains after the fields is padding
  }

  report->reference = reference;
  memset(report->recipient, 0, sizeof report->recipient);
  memcpy(report->recipient, pdu + recipient, (size_t)addressOctets);
  memcpy(report->sent, pdu + times, ReportTimeOctets);
  memcpy(report->done, pdu + times + ReportTimeOctets, ReportTimeOctets);
  report->status = status;
  return 0;
}

const char* StatusWord(int status) {
  if (status < 0x20) return "delivered";
  if (status < 0x40) return "pending";
  return "failed";
}
