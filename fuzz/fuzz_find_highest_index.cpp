// The highest index of a "+CMGL:" listing, on any answer a modem could send.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "modem/answers.h"
#include "serial/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t)ResponseBufferSize) return 0;  // ReadResponse never collects more
  const std::string original = AsText(data, size);
  // Exactly as long as the text, so any read or write past its NUL is caught.
  std::vector<char> answer(original.begin(), original.end());
  answer.push_back('\0');
  bool zeroInUse = true;
  const int index = FindHighestIndex(answer.data(), &zeroInUse);

  FUZZ_CHECK(index >= -1);
  // zeroInUse is only meaningful with an index: a refused listing may leave it set (see the
  // seed "zero-then-refused"); callers never use it then.
  if (zeroInUse) FUZZ_CHECK(original.find("+CMGL:") != std::string::npos);
  const size_t ok = original.find("OK");
  const size_t line = original.find("+CMGL:");
  if (ok == std::string::npos || line == std::string::npos || line > ok) FUZZ_CHECK(index == -1);
  // At most one NUL written, and only in place of a character that was there.
  size_t changed = 0;
  for (size_t i = 0; i < original.size(); ++i)
    if (answer[i] != original[i]) {
      FUZZ_CHECK(answer[i] == '\0');
      ++changed;
    }
  FUZZ_CHECK(changed <= 1);
  FUZZ_CHECK(FindHighestIndex(answer.data(), nullptr) >= -1);  // a null flag is allowed
  return 0;
}
