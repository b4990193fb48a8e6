// The quote, escape, address, splitting and PDU building of a send, on any number and text.
// Input: the number, a NUL, then the text (up to the next NUL).
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/codec_buffer.h"
#include "fuzz_check.h"
#include "modem/send.h"

namespace {

bool IsValidNumber(const std::string& phone) {
  const size_t start = !phone.empty() && phone[0] == '+' ? 1 : 0;
  const size_t n = phone.size() - start;
  return n >= 1 && n <= 18 && phone.find_first_not_of("0123456789", start) == std::string::npos;
}

int HexByte(const std::string& s, size_t at) { return std::stoi(s.substr(at, 2), nullptr, 16); }

bool IsHigh(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool IsQuote(char c) { return c == '\'' || c == '"'; }

// The text as the shell user meant it: a pair of the same quote around it taken off once, then
// backslash-r and backslash-n turned into CR and LF.
std::string Cleaned(const std::string& text, size_t* strippedLength) {
  std::string t = text;
  if (t.size() >= 2 && IsQuote(t.front()) && t.back() == t.front()) t = t.substr(1, t.size() - 2);
  *strippedLength = t.size();
  std::string out;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '\\' && i + 1 < t.size() && (t[i + 1] == 'r' || t[i + 1] == 'n')) {
      out.push_back(t[++i] == 'r' ? '\r' : '\n');
    } else {
      out.push_back(t[i]);
    }
  }
  return out;
}

// One part's PDU: 00 SMSC | 01 SMS-SUBMIT (41 with a header) | 00 MR | TP-DA: digit count, 91
// after "+" else 81, semi-octets | 00 PID | 08 DCS | UDL | [050003 reference total sequence] UD. Yields the UD.
std::string CheckPdu(const std::string& pdu, const std::string& phone, int reference, int total, int sequence) {
  FUZZ_CHECK(pdu.size() < MessageBufferSize);
  FUZZ_CHECK(pdu.size() % 2 == 0 && IsUpperHex(pdu.data(), pdu.size()));
  FUZZ_CHECK(pdu.compare(0, 6, total > 1 ? "004100" : "000100") == 0);
  const std::string digits = phone[0] == '+' ? phone.substr(1) : phone;
  FUZZ_CHECK(HexByte(pdu, 6) == (int)digits.size());
  FUZZ_CHECK(pdu.compare(8, 2, phone[0] == '+' ? "91" : "81") == 0);
  const size_t addressLength = digits.size() + digits.size() % 2;
  std::string swapped = pdu.substr(10, addressLength);
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  FUZZ_CHECK(swapped == (digits.size() % 2 ? digits + "F" : digits));
  const size_t after = 10 + addressLength;
  FUZZ_CHECK(pdu.compare(after, 4, "0008") == 0);
  const size_t userData = pdu.size() - after - 6;
  FUZZ_CHECK((size_t)HexByte(pdu, after + 4) * 2 == userData && userData <= 280);  // at most 140 octets
  size_t text = after + 6;
  if (total > 1) {
    FUZZ_CHECK(pdu.compare(text, 6, "050003") == 0);
    FUZZ_CHECK(HexByte(pdu, text + 6) == reference && HexByte(pdu, text + 8) == total &&
               HexByte(pdu, text + 10) == sequence);
    text += 12;
  }
  FUZZ_CHECK((pdu.size() - text) % 4 == 0);
  return pdu.substr(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string phone = AsText(data, size);
  const size_t rest = phone.size() < size ? phone.size() + 1 : size;
  const std::string text = AsText(data + rest, size - rest);
  std::vector<char> textCopy(text.begin(), text.end());  // shortened in place
  textCopy.push_back('\0');
  std::vector<char> message(MessageBufferSize);
  const char* problem = nullptr;
  const int units = EncodeSubmitText(message.data(), phone.c_str(), textCopy.data(), &problem);

  // Sent exactly when nothing is wrong with it: number, length, encoding.
  size_t strippedLength = 0;
  const std::string cleaned = Cleaned(text, &strippedLength);
  std::vector<uint16_t> want;
  const bool wellFormed = DecodeLikeCodec(cleaned, &want) == cleaned.size();
  const bool sendable = IsValidNumber(phone) && strippedLength <= 1023 && wellFormed;
  FUZZ_CHECK(sendable == (units >= 0));
  if (units < 0) {
    FUZZ_CHECK(units == -1);
    FUZZ_CHECK(problem != nullptr && problem[0] != '\0' && std::strchr(problem, '\n') == nullptr);
    return 0;
  }
  FUZZ_CHECK((size_t)units == want.size() && std::string(CodecBuffer) == UnitsAsHex(want));

  // One SMS up to 70 units, else parts of 67 units, 66 where a surrogate pair would straddle the cut.
  int partUnits[MaxParts];
  const int total = SplitUserData(CodecBuffer, units, partUnits, MaxParts);
  FUZZ_CHECK(total >= 1 && total <= MaxParts && (total == 1) == (units <= 70));
  const int reference = (int)(size & 0xFF);
  std::string joined;
  int from = 0;
  for (int i = 0; i < total; from += partUnits[i++]) {
    const int n = partUnits[i];
    if (i + 1 < total) {
      const bool straddles = IsHigh(want[from + 66]) && IsLow(want[from + 67]);
      FUZZ_CHECK(n == (straddles ? 66 : 67));
    } else {
      FUZZ_CHECK(from + n == units && (total == 1 || (n >= 1 && n <= 67)));
    }
    const int length = BuildSubmitPdu(message.data(), phone.c_str(), CodecBuffer + 4 * from, n, {reference, total, i + 1});
    const std::string pdu(message.data());
    FUZZ_CHECK(length >= 0 && pdu.size() == (size_t)length);
    const std::string ud = CheckPdu(pdu, phone, reference, total, i + 1);
    FUZZ_CHECK(ud.size() == (size_t)(4 * n));
    joined += ud;
  }
  FUZZ_CHECK(joined == UnitsAsHex(want));  // the whole text, nothing cut, nothing twice
  return 0;
}
