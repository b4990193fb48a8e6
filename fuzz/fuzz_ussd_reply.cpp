// The network's USSD answer on anything a modem could send, and the GSM 7-bit septets below it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/gsm7.h"
#include "fuzz_check.h"
#include "modem/ussd_reply.h"

namespace {

std::string Printed(const UssdReply& reply) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  FUZZ_CHECK(out != nullptr);
  PrintUssdReply(out, &reply);
  std::fclose(out);
  std::string printed(buffer, size);
  std::free(buffer);
  return printed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As an answer: one line at most, only when a "+CUSD:" line came.
  const std::string answer = AsText(data, size);
  UssdReply reply{};
  ReadUssdReply(&reply, answer.c_str());
  FUZZ_CHECK(reply.received == (answer.find("+CUSD:") != std::string::npos));
  FUZZ_CHECK(!reply.hasText || reply.received);
  FUZZ_CHECK(std::memchr(reply.text, '\0', sizeof reply.text) != nullptr);
  const std::string line = Printed(reply);
  if (!reply.hasText) {
    FUZZ_CHECK(line.empty());
  } else {
    FUZZ_CHECK(line.compare(0, 12, "USSD reply: ") == 0 && line.back() == '\n');
    FUZZ_CHECK(line.find_first_of("\r\n") == line.size() - 1);
  }

  // As packed septets after 0 to 7 fill bits: the lenient reading always succeeds in two bytes per
  // septet; the strict one gives the same text or nothing, with no control but CR and LF.
  if (size == 0) return 0;
  const int firstBit = data[0] & 7;
  const int octets = (int)size - 1;
  const int count = (8 * octets - firstBit) / 7;
  if (count < 0) return 0;
  std::vector<char> lenient(2 * (size_t)count + 1, '\x55'), strict(2 * (size_t)count + 1, '\x55');
  const int length = Gsm7ToUtf8(lenient.data(), (int)lenient.size(), data + 1, octets, firstBit, count, false);
  FUZZ_CHECK(length >= 0 && length <= 2 * count && lenient[length] == '\0');
  const std::string text(lenient.data(), (size_t)length);
  FUZZ_CHECK(text.find('\0') == std::string::npos && IsValidUtf8(text));
  const int strictLength = Gsm7ToUtf8(strict.data(), (int)strict.size(), data + 1, octets, firstBit, count, true);
  if (strictLength < 0) {
    FUZZ_CHECK(strict[0] == '\0');
  } else {
    FUZZ_CHECK(std::string(strict.data()) == text);
    for (unsigned char c : text) FUZZ_CHECK(c >= 0x20 || c == '\r' || c == '\n');
  }
  return 0;
}
