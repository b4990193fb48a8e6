// One "+CMGR:" answer parsed and printed as a listing line, on any answer a modem could send.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "listing/listing_output.h"
#include "serial/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t)ResponseBufferSize) return 0;  // ReadResponse never collects more
  const std::string original = AsText(data, size);
  std::vector<char> answer(original.begin(), original.end());
  answer.push_back('\0');

  char* printed = nullptr;
  size_t printedSize = 0;
  FILE* out = open_memstream(&printed, &printedSize);
  FUZZ_CHECK(out != nullptr);
  const int result = PrintMessage(out, 7, answer.data());
  std::fclose(out);
  const std::string line(printed, printedSize);
  std::free(printed);

  FUZZ_CHECK(result == 0 || result == -1);
  if (result == -1) {
    FUZZ_CHECK(line.empty());
  } else {
    // One line with five columns, whatever the message holds.
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    FUZZ_CHECK(line.find('\n') == line.size() - 1);
    FUZZ_CHECK(line.find('\r') == std::string::npos);
    size_t tabs = 0;
    for (char c : line) tabs += c == '\t';
    FUZZ_CHECK(tabs == 4);
    FUZZ_CHECK(line.compare(0, 4, "7\t1\t") == 0 || line.compare(0, 4, "7\t0\t") == 0);
  }
  return 0;
}
