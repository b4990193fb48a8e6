// The 7-bit packing of a USSD string, on any command-line argument.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "modem/ussd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string code = AsText(data, size);
  std::vector<char> packed(PackedUssdSize, '\x55');
  const int digits = PackUssd(packed.data(), code.c_str());

  if (code.size() > (size_t)MaxUssdLength) {
    FUZZ_CHECK(digits == -1);
    return 0;
  }
  const size_t octets = (7 * code.size() + 7) / 8;
  FUZZ_CHECK(digits >= 0 && (size_t)digits == 2 * octets);
  FUZZ_CHECK(std::strlen(packed.data()) == (size_t)digits && IsUpperHex(packed.data(), (size_t)digits));

  // Unpacked again, the septets are the characters' low seven bits, in order.
  std::vector<unsigned> bytes;
  for (int i = 0; i < digits; i += 2) bytes.push_back((unsigned)std::stoi(std::string(packed.data() + i, 2), nullptr, 16));
  for (size_t k = 0; k < code.size(); ++k) {
    const size_t bit = 7 * k;
    unsigned septet = bytes[bit / 8] >> (bit % 8);
    if (bit % 8 > 1) septet |= bytes[bit / 8 + 1] << (8 - bit % 8);
    FUZZ_CHECK((septet & 0x7F) == ((unsigned char)code[k] & 0x7F));
  }
  return 0;
}
