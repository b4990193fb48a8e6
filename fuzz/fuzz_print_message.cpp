// One "+CMGR:" answer parsed and printed as a listing line and as a JSON object, on any answer a
// modem could send.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "modem/answers.h"
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

  // The same message as a JSON object (-j): valid UTF-8 with every control character escaped,
  // whatever bytes the modem sent.
  std::vector<char> again(original.begin(), original.end());
  again.push_back('\0');
  MessageFields fields;
  if (ParseMessage(again.data(), 7, &fields) == 0) {
    FUZZ_CHECK(result == 0);
    out = open_memstream(&printed, &printedSize);
    FUZZ_CHECK(out != nullptr);
    PrintMessageObject(out, &fields);
    std::fclose(out);
    const std::string object(printed, printedSize);
    std::free(printed);
    FUZZ_CHECK(IsValidUtf8(object));
    for (char c : object) FUZZ_CHECK((unsigned char)c >= 0x20);
    FUZZ_CHECK(object.compare(0, 20, "{\"index\":7,\"unread\":") == 0 && object.back() == '}');
  }
  return 0;
}
