// The quote, escape, address, splitting and PDU building of a send, on any number and text, in
// UCS-2 and with --gsm7.
// Input: the number, a NUL, then the text (up to the next NUL).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codec/codec_buffer.h"
#include "codec/gsm7.h"
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

// TS 23.038 6.2.1 written out as characters in septet order (U+0000 stands for the escape, 0x1B),
// and the characters of 6.2.1.1's extension table with their septets: read apart from the tool's.
const char32_t Basic[] =
    U"@\u00A3$\u00A5\u00E8\u00E9\u00F9\u00EC\u00F2\u00C7\n\u00D8\u00F8\r\u00C5\u00E5"
    U"\u0394_\u03A6\u0393\u039B\u03A9\u03A0\u03A8\u03A3\u0398\u039E" U"\0" U"\u00C6\u00E6\u00DF\u00C9"
    U" !\"#\u00A4%&'()*+,-./0123456789:;<=>?"
    U"\u00A1ABCDEFGHIJKLMNOPQRSTUVWXYZ\u00C4\u00D6\u00D1\u00DC\u00A7"
    U"\u00BFabcdefghijklmnopqrstuvwxyz\u00E4\u00F6\u00F1\u00FC\u00E0";
static_assert(sizeof Basic / sizeof Basic[0] == 129, "128 septets");
const char32_t Extended[] = U"^{}\\[~]|\u20AC";
const unsigned char ExtendedSeptets[] = {0x14, 0x28, 0x29, 0x2F, 0x3C, 0x3D, 0x3E, 0x40, 0x65};

// Septets of character in the default alphabet: 1, 2 (the extension table), 0 (none).
int SeptetsOf(char32_t character) {
  if (character == 0) return 0;
  for (int i = 0; i < 128; ++i)
    if (Basic[i] == character) return 1;
  for (int i = 0; Extended[i]; ++i)
    if (Extended[i] == character) return 2;
  return 0;
}

// The characters of count septets packed in octets from bit firstBit on.
std::u32string Unpack(const std::string& octets, size_t firstBit, size_t count) {
  std::u32string text;
  bool escaped = false;
  for (size_t i = 0; i < count; ++i) {
    unsigned septet = 0;
    for (size_t b = 0; b < 7; ++b) {
      const size_t bit = firstBit + 7 * i + b;
      septet |= (((unsigned char)octets[bit / 8] >> (bit % 8)) & 1u) << b;
    }
    if (escaped) {
      const unsigned char* at = std::find(ExtendedSeptets, ExtendedSeptets + 9, septet);
      FUZZ_CHECK(at != ExtendedSeptets + 9);
      text += Extended[at - ExtendedSeptets];
      escaped = false;
    } else if (septet == 0x1B) {
      escaped = true;
    } else {
      text += Basic[septet];
    }
  }
  FUZZ_CHECK(!escaped);  // an escape never ends a part
  return text;
}

// With --gsm7: the text goes in the default alphabet exactly when every character has a place there;
// then 160 septets in one SMS, else parts of 153 (152 before an escape), each PDU as TS 23.040 has it
// (TP-DCS 00, TP-UDL in septets, after a header one fill bit of 0), and the parts read back whole.
void CheckGsm7(const std::string& phone, const std::vector<uint16_t>& want, int units, int reference) {
  std::vector<unsigned char> septets(SeptetsLimit);
  const int count = Ucs2HexToGsm7(septets.data(), SeptetsLimit, CodecBuffer, units);
  int expected = 0;
  for (uint16_t unit : want) expected = expected < 0 || SeptetsOf(unit) == 0 ? -1 : expected + SeptetsOf(unit);
  FUZZ_CHECK(count == expected);
  if (count < 0) return;
  int parts[MaxParts];
  const int total = SplitSeptets(septets.data(), count, parts, MaxParts);
  FUZZ_CHECK(total >= 1 && (total == 1) == (count <= 160));
  std::u32string joined;
  std::vector<char> message(MessageBufferSize);
  int from = 0;
  for (int i = 0; i < total; from += parts[i++]) {
    const int n = parts[i];
    if (i + 1 < total) FUZZ_CHECK(n == (septets[from + 152] == 0x1B ? 152 : 153));
    const int length =
        BuildGsm7SubmitPdu(message.data(), phone.c_str(), septets.data() + from, n, {reference, total, i + 1});
    const std::string pdu(message.data());
    FUZZ_CHECK(length >= 0 && pdu.size() == (size_t)length && pdu.size() % 2 == 0 &&
               IsUpperHex(pdu.data(), pdu.size()));
    FUZZ_CHECK(pdu.compare(0, 6, total > 1 ? "004100" : "000100") == 0);
    const std::string digits = phone[0] == '+' ? phone.substr(1) : phone;
    const size_t dcs = 10 + digits.size() + digits.size() % 2 + 2;  // after TP-DA and TP-PID
    FUZZ_CHECK(pdu.compare(dcs, 2, "00") == 0);
    const size_t header = total > 1 ? 7 : 0;  // septets: 6 octets and a fill bit
    FUZZ_CHECK((size_t)HexByte(pdu, dcs + 2) == header + (size_t)n);
    std::string octets;
    for (size_t at = dcs + 4; at < pdu.size(); at += 2) octets.push_back((char)HexByte(pdu, at));
    FUZZ_CHECK(octets.size() == (7 * (header + n) + 7) / 8 && octets.size() <= 140);
    if (total > 1) {
      FUZZ_CHECK(octets.compare(0, 3, "\x05\x00\x03", 3) == 0 && (unsigned char)octets[3] == (reference & 0xFF) &&
                 (unsigned char)octets[4] == total && (unsigned char)octets[5] == i + 1);
      FUZZ_CHECK(((unsigned char)octets[6] & 1) == 0);  // the fill bit
    }
    joined += Unpack(octets, 7 * header, (size_t)n);
  }
  FUZZ_CHECK(joined == std::u32string(want.begin(), want.end()));  // the whole text, nothing cut, nothing twice
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
  CheckGsm7(phone, want, units, reference);
  return 0;
}
