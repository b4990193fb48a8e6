// The SMS-STATUS-REPORT reader and the two forms a report is printed in, fed PDUs as modems list them.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <string>

#include "listing/report_output.h"
#include "pdu/status_report.h"
#include "../captured_pdus.h"
#include "sim_pdu.h"

namespace {

// What print writes.
std::string Printed(const std::function<void(FILE*)>& print) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  print(out);
  fclose(out);
  std::string printed(text, size);
  free(text);
  return printed;
}

// The line of report index 3, or "" when the PDU is not read.
std::string LineOf(const std::string& hex) {
  std::string octets;
  if (!sim::HexDecode(hex, &octets)) return "hex?";
  StatusReport report;
  if (ReadStatusReport((const unsigned char*)octets.data(), (int)octets.size(), &report) < 0) return "";
  return Printed([&](FILE* out) { PrintReportLine(out, 3, &report); });
}

const std::string Smsc = "0791947106004034";  // +491760000443
// First octet 06 (SMS-STATUS-REPORT, no more messages waiting), TP-MR 17, TP-RA +491701234567,
// TP-SCTS 24/05/01,10:20:30+08, TP-DT 24/05/01,10:20:35+08; TP-ST follows.
const std::string Head = "06" "11" "0C91947110325476" "42501001020380" "42501001025380";
const std::string Plain = Smsc + Head + "00";
const std::string Delivered = "3\tdelivered\t17\t+491701234567\t24/05/01,10:20:30+08\t24/05/01,10:20:35+08\n";

struct ReportCase { const char* source; std::string pdu; std::string line; };
const ReportCase ReportCases[] = {
    {"plain", Plain, Delivered},
    {"padded with zeros: a TP-PI that announces nothing", Plain + "000000000000", Delivered},
    {"padded with FF", Plain + "FFFFFFFF", Delivered},
    {"TP-PI with every field, 7-bit user data, then padding", Plain + "07" "00" "00" "05" "E8329BFD06" "FFFF",
     Delivered},
    {"TP-PI with TP-DCS and UCS-2 user data", Plain + "06" "08" "04" "00480069", Delivered},
    {"TP-PI without TP-DCS: the user data counts septets", Plain + "04" "0A" "E8329BFD4697D9EC37", Delivered},
    {"TP-PI in two octets, reserved bits set", Plain + "FC" "7F" "02" "E832", Delivered},  // TP-UDL 2 after 7F
    // Recorded from real modems, which keep them with <stat> 3.
    {"recorded: padded with FF to the end of the SIM record", captured::ReportPadded,
     "3\tdelivered\t171\t604865888\t09/07/08,15:37:57+08\t09/07/08,15:38:10+08\n"},
    {"recorded: TP-PI with TP-DCS and TP-UDL of 0", captured::ReportWithPi,
     "3\tdelivered\t6\t+61439012244\t10/09/17,10:01:00+40\t10/09/17,10:01:54+40\n"},
    {"given up", Smsc + Head + "46", "3\tfailed\t17\t+491701234567\t24/05/01,10:20:30+08\t24/05/01,10:20:35+08\n"},
    {"an empty recipient", Smsc + "06FF" "0081" "42501001020380" "42501001025380" "00",
     "3\tdelivered\t255\t\t24/05/01,10:20:30+08\t24/05/01,10:20:35+08\n"},
    {"an SMS-DELIVER", "00040B919471103254F600F14250100102038002C834", ""},
    {"without TP-ST", Smsc + Head, ""},
    {"TP-RA of 21 digits", Smsc + "0611" "1591947110325476947110325476F1" "42501001020380" "42501001025380" "00", ""},
    {"TP-PI announces user data that is not there", Plain + "04" "05" "E832", ""},
    {"TP-PI announces TP-DCS, nothing follows", Plain + "02", ""},
    {"TP-PI announces TP-PID and TP-UDL, only TP-PID follows", Plain + "05" "00", ""},
    {"TP-PI extended to the end", Plain + "8080", ""},
    {"SMSC part past the end", "0C0791", ""},
    {"nothing", "", ""},
};

TEST(ReadStatusReport, FormsModemsList) {
  for (const ReportCase& c : ReportCases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(c.line, LineOf(c.pdu));
  }
}

// The edges of TP-ST's ranges; 0x03 to 0x1F are reserved or the centre's own, above 0x7F reserved.
TEST(StatusWord, RangesOfTpSt) {
  std::string words;
  for (int status : {0x00, 0x1F, 0x20, 0x3F, 0x40, 0x7F, 0x80, 0xFF}) words += std::string(StatusWord(status)) + " ";
  EXPECT_EQ("delivered delivered pending pending failed failed failed failed ", words);
}

// A name as recipient, with a quote and a line feed in it: the line and the object stay whole.
TEST(PrintReportObject, TextsEscapedForTheirDocument) {
  std::string octets;
  // TP-RA alphanumeric (0xD0): "a\"b\nc" in 5 septets, 9 semi-octets.
  ASSERT_TRUE(sim::HexDecode("00" "0611" "09D0" + sim::HexEncode(sim::PackSeptets("a\"b\nc")) +
                                 "42501001020380" "42501001025380" "00",
                             &octets));
  StatusReport report;
  ASSERT_EQ(0, ReadStatusReport((const unsigned char*)octets.data(), (int)octets.size(), &report));
  EXPECT_EQ("12\tdelivered\t17\ta\"b\\nc\t24/05/01,10:20:30+08\t24/05/01,10:20:35+08\n",
            Printed([&](FILE* out) { PrintReportLine(out, 12, &report); }));
  report.status = 0x41;  // the word and the code
  EXPECT_EQ("{\"index\":12,\"unread\":true,\"status\":\"failed\",\"code\":65,\"reference\":17,"
            "\"recipient\":\"a\\\"b\\nc\",\"sent\":\"24/05/01,10:20:30+08\",\"done\":\"24/05/01,10:20:35+08\"}",
            Printed([&](FILE* out) { PrintReportObject(out, 12, true, &report); }));
}

}  // namespace
