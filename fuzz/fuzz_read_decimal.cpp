// The index of "del NUMBER", read from any command-line argument.
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "codec/decimal.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = AsText(data, size);
  // As atoi would read it, but held to the int range instead of overflowing.
  const long long wide = std::strtoll(text.c_str(), nullptr, 10);
  const int expected = wide > INT_MAX ? INT_MAX : wide < INT_MIN ? INT_MIN : (int)wide;
  FUZZ_CHECK(ReadDecimal(text.c_str()) == expected);
  return 0;
}
