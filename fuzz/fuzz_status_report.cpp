// One SMS-STATUS-REPORT read and printed as a report line and a JSON object, on any octets a modem
// could list. Input: the PDU's octets, the SMSC part first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "listing/report_output.h"
#include "pdu/status_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::vector<unsigned char> pdu(data, data + size);  // exactly sized: a read past it is caught
  StatusReport report;
  const int result = ReadStatusReport(pdu.data(), (int)pdu.size(), &report);
  FUZZ_CHECK(result == 0 || result == -1);
  if (result < 0) return 0;

  // Only a report whose fields up to TP-ST are all there reads.
  const size_t first = 1 + (size_t)pdu[0];
  FUZZ_CHECK(first + 4 <= size && (pdu[first] & 0x03) == 0x02);
  FUZZ_CHECK(first + 4 + (pdu[first + 2] + 1) / 2 + 2 * ReportTimeOctets + 1 <= size);
  FUZZ_CHECK(report.reference == pdu[first + 1]);

  // One line of six columns and one JSON object, whatever the recipient holds.
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  FUZZ_CHECK(out != nullptr);
  PrintReportLine(out, 7, &report);
  PrintReportObject(out, 7, false, &report);
  std::fclose(out);
  const std::string printed(text, length);
  std::free(text);
  const std::string line = printed.substr(0, printed.find('\n') + 1);
  const std::string object = printed.substr(line.size());
  FUZZ_CHECK(!line.empty() && line.back() == '\n' && line.find('\r') == std::string::npos);
  size_t tabs = 0;
  for (char c : line) tabs += c == '\t';
  FUZZ_CHECK(tabs == 5);
  FUZZ_CHECK(line.compare(0, 12, "7\tdelivered\t") == 0 || line.compare(0, 10, "7\tpending\t") == 0 ||
             line.compare(0, 9, "7\tfailed\t") == 0);

  // The object: valid UTF-8 without a raw control character.
  FUZZ_CHECK(object.compare(0, 29, "{\"index\":7,\"unread\":false,\"st") == 0 && object.back() == '}');
  FUZZ_CHECK(IsValidUtf8(object));
  for (unsigned char c : object) FUZZ_CHECK(c >= 0x20);
  return 0;
}
