// Outgoing text to UCS-2 hex, on any bytes a command line could carry.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/ucs2_to_utf8.h"
#include "codec/utf8_to_ucs2.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = AsText(data, size);
  const size_t outputSize = 4 * text.size() + 1;  // what the caller must provide
  std::vector<char> output(outputSize, '\x55');
  size_t converted = 0;
  const ssize_t digits = Utf8ToUcs2Hex(output.data(), text.c_str(), &converted);

  FUZZ_CHECK(digits >= 0 && digits % 4 == 0 && (size_t)digits <= 4 * text.size());
  // Exactly what an independent reading of the rules gives, and it stops at the same byte.
  std::vector<uint16_t> units;
  FUZZ_CHECK(converted == DecodeLikeCodec(text, &units));
  FUZZ_CHECK((size_t)digits == 4 * units.size());
  FUZZ_CHECK(digits == 0 || std::string(output.data(), (size_t)digits) == UnitsAsHex(units));
  FUZZ_CHECK(Utf8ToUcs2Hex(output.data(), text.c_str()) == digits);  // the two-argument form agrees
  if (digits == 0) {
    for (char c : output) FUZZ_CHECK(c == '\x55');  // left untouched
    return 0;
  }
  FUZZ_CHECK(output[digits] == '\0');
  FUZZ_CHECK(IsUpperHex(output.data(), (size_t)digits));

  // Back to UTF-8: the text up to the first malformed sequence, unless it held U+FFFF, which
  // does not survive the trip (it is dropped).
  std::vector<char> back(3 * (size_t)digits / 4 + 8);
  const int length = Ucs2HexToUtf8(back.data(), output.data());
  FUZZ_CHECK(length >= 0);
  const std::string decoded(back.data(), (size_t)length);
  bool lossy = false;
  for (size_t i = 0; i + 2 < text.size(); ++i) {
    const unsigned char a = text[i], b = text[i + 1], c = text[i + 2];
    if (a == 0xEF && b == 0xBF && c == 0xBF) lossy = true;
  }
  if (!lossy) {
    FUZZ_CHECK(text.compare(0, decoded.size(), decoded) == 0);
    FUZZ_CHECK(IsValidUtf8(decoded));
  }
  return 0;
}
