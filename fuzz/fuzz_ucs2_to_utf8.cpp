// UCS-2 hex from the modem to UTF-8, on any text a modem could send.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/ucs2_to_utf8.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source = AsText(data, size);
  // At most three bytes per four characters and the NUL; a little slack as the header allows.
  const size_t destSize = 3 * source.size() / 4 + 8;
  std::vector<char> dest(destSize, '\x55');
  const int length = Ucs2HexToUtf8(dest.data(), source.c_str());

  if (source.size() % 4 != 0) {
    FUZZ_CHECK(length == -1);
    for (char c : dest) FUZZ_CHECK(c == '\x55');  // refused: not even a NUL written
    return 0;
  }
  FUZZ_CHECK(length >= 0 && (size_t)length <= 3 * source.size() / 4);
  FUZZ_CHECK(dest[length] == '\0');
  const std::string text(dest.data(), (size_t)length);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  FUZZ_CHECK(IsValidUtf8(text));  // lone surrogates become U+FFFD, pairs one character
  return 0;
}
