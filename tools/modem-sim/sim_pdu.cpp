// sim_pdu.cpp: hex, UTF-8/UTF-16, GSM 7-bit and the two SMS PDU kinds the simulated modem needs.
#include "sim_pdu.h"

#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr char SmscNumber[] = "+491722270333";  // the service centre in front of every stored PDU
constexpr size_t MaxUserData = 140;             // octets in one SMS

// GSM 7-bit default alphabet (TS 23.038 6.2.1) as UTF-8, by septet value; 0x1B escapes to the table below.
const char* const Gsm7Basic[128] = {
    "@", "£", "$", "¥", "è", "é", "ù", "ì", "ò", "Ç", "\n", "Ø", "ø", "\r", "Å", "å",
    "Δ", "_", "Φ", "Γ", "Λ", "Ω", "Π", "Ψ", "Σ", "Θ", "Ξ", "\x1b", "Æ", "æ", "ß", "É",
    " ", "!", "\"", "#", "¤", "%", "&", "'", "(", ")", "*", "+", ",", "-", ".", "/",
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ":", ";", "<", "=", ">", "?",
    "¡", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "Ä", "Ö", "Ñ", "Ü", "§",
    "¿", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "ä", "ö", "ñ", "ü", "à"};

struct Gsm7Escape {
  char septet;
  const char* text;
};
const Gsm7Escape Gsm7Extension[] = {{0x0A, "\f"}, {0x14, "^"}, {0x28, "{"}, {0x29, "}"}, {0x2F, "\\"},
                                    {0x3C, "["},  {0x3D, "~"}, {0x3E, "]"}, {0x40, "|"}, {0x65, "€"}};

std::u32string DecodeUtf8(const std::string& text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char lead = text[i];
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    char32_t value = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool ok = length > 0 && i + length <= text.size();
    for (size_t k = 1; ok && k < length; ++k) {
      unsigned char next = text[i + k];
      ok = (next & 0xC0) == 0x80;
      value = value << 6 | (next & 0x3F);
    }
    out.push_back(ok ? value : 0xFFFD);
    i += ok ? length : 1;
  }
  return out;
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::u16string Utf16Units(const std::string& text) {
  std::u16string units;
  for (char32_t c : DecodeUtf8(text)) {
    if (c >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(c));
    }
  }
  return units;
}

// UCS-2 user data, cut to room octets (one SMS) without splitting a surrogate pair.
std::string Ucs2UserData(const std::string& text, size_t room = MaxUserData) {
  std::u16string units = Utf16Units(text);
  if (units.size() > room / 2) {
    units.resize(room / 2);
    if (units.back() >= 0xD800 && units.back() < 0xDC00)
      units.pop_back();
  }
  std::string octets;
  for (char16_t unit : units) {
    octets.push_back(static_cast<char>(unit >> 8));
    octets.push_back(static_cast<char>(unit & 0xFF));
  }
  return octets;
}

bool IsNumericAddress(const std::string& address) {
  size_t start = !address.empty() && address[0] == '+' ? 1 : 0;
  return address.find_first_not_of("0123456789*#", start) == std::string::npos;
}

// Semi-octets, first digit in the low nibble, 'F' filler for an odd count (TS 23.040 9.1.2.3).
std::string SemiOctets(const std::string& digits) {
  static const char Symbols[] = "0123456789*#abc";
  std::string octets;
  for (size_t i = 0; i < digits.size(); i += 2) {
    int low = static_cast<int>(strchr(Symbols, digits[i]) - Symbols);
    int high = i + 1 < digits.size() ? static_cast<int>(strchr(Symbols, digits[i + 1]) - Symbols) : 0xF;
    octets.push_back(static_cast<char>(high << 4 | low));
  }
  return octets;
}

std::string ReadSemiOctets(const std::string& octets, int count) {
  static const char Symbols[] = "0123456789*#abc";
  std::string digits;
  for (int i = 0; i < count; ++i) {
    int nibble = static_cast<unsigned char>(octets[i / 2]) >> (i % 2 ? 4 : 0) & 0xF;
    if (nibble == 0xF)
      break;
    digits.push_back(Symbols[nibble]);
  }
  return digits;
}

// TP-OA / TP-DA: digit count, type of address, value. The SMSC address counts octets instead (TS 24.008).
std::string EncodeAddress(const std::string& address, bool smsc) {
  std::string field;
  if (IsNumericAddress(address)) {
    bool international = !address.empty() && address[0] == '+';
    std::string digits = address.substr(international ? 1 : 0);
    std::string value = SemiOctets(digits);
    field.push_back(static_cast<char>(smsc ? value.size() + 1 : digits.size()));
    field.push_back(static_cast<char>(international ? 0x91 : 0x81));
    return field + value;
  }
  // Alphanumeric (0xD0): the name in packed GSM 7-bit; the length counts the semi-octets used.
  std::string septets = Utf8ToGsm7(address).substr(0, 11);
  field.push_back(static_cast<char>((septets.size() * 7 + 3) / 4));
  field.push_back(static_cast<char>(0xD0));
  return field + PackSeptets(septets);
}

// An address's value as a phone shows it: the name of an alphanumeric one, else its digits, "+" first
// for an international number.
std::string DecodeAddress(int digits, int type, const std::string& value) {
  if ((type & 0x70) == 0x50)
    return Gsm7ToUtf8(UnpackSeptets(value, digits * 4 / 7));
  return ((type & 0x70) == 0x10 ? "+" : "") + ReadSemiOctets(value, digits);  // TON international
}

int SwapDigits(int value) { return (value % 10) << 4 | (value / 10 % 10); }

// TP-SCTS from "yy/MM/dd,hh:mm:ss+zz", zz in quarters of an hour (TS 23.040 9.2.3.11); zeros if it does not parse.
std::string EncodeTimestamp(const std::string& date) {
  int field[7];
  char sign = 0;
  std::string octets(7, '\0');
  if (sscanf(date.c_str(), "%2d/%2d/%2d,%2d:%2d:%2d%c%2d", &field[0], &field[1], &field[2], &field[3], &field[4],
             &field[5], &sign, &field[6]) != 8 ||
      (sign != '+' && sign != '-'))
    return octets;
  for (int i = 0; i < 7; ++i)
    octets[i] = static_cast<char>(SwapDigits(field[i]));
  if (sign == '-')
    octets[6] = static_cast<char>(octets[6] | 0x08);  // sign bit of the time zone
  return octets;
}

// "yy/MM/dd,hh:mm:ss±zz" from TP-SCTS; the first semi-octet of the time zone carries its sign in bit 3.
std::string DecodeTimestamp(const std::string& scts) {
  auto value = [&scts](int i) { return (scts[i] & 0x0F) * 10 + (scts[i] >> 4 & 0x0F); };
  char date[32];
  snprintf(date, sizeof date, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", value(0), value(1), value(2), value(3),
           value(4), value(5), scts[6] & 0x08 ? '-' : '+', (scts[6] & 0x07) * 10 + (scts[6] >> 4 & 0x0F));
  return date;
}

// The septets packed after a user data header, from the next septet boundary on.
std::string PackAfterHeader(const std::string& header, const std::string& septets) {
  if (header.empty())
    return PackSeptets(septets);
  const size_t start = (header.size() * 8 + 6) / 7 * 7;  // bits of the header and its fill bits
  std::string octets = header;
  octets.resize((start + septets.size() * 7 + 7) / 8, '\0');
  for (size_t i = 0; i < septets.size(); ++i)
    for (size_t k = 0; k < 7; ++k)
      if (septets[i] >> k & 1) {
        size_t bit = start + i * 7 + k;
        octets[bit / 8] = static_cast<char>(octets[bit / 8] | 1 << bit % 8);
      }
  return octets;
}

// TS 23.038 4, for what a phone receives: 0 GSM 7-bit, 1 8-bit data, 2 UCS-2, 3 compressed or reserved.
int DeliverAlphabet(int dcs) {
  if (dcs < 0x80)  // 00xx and 01xx: the general data coding indication
    return dcs & 0x20 ? 3 : dcs >> 2 & 0x3;
  if (dcs >= 0xC0 && dcs < 0xE0)  // message waiting, discard or store
    return 0;
  if (dcs >= 0xE0 && dcs < 0xF0)  // message waiting, store, UCS-2
    return 2;
  return dcs >= 0xF0 ? dcs >> 2 & 0x1 : 3;
}

Pdu Finish(const std::string& tpdu) {
  std::string smsc = EncodeAddress(SmscNumber, true);
  return Pdu{HexEncode(smsc + tpdu), static_cast<int>(tpdu.size())};
}

struct OctetReader {
  const std::string& octets;
  size_t at = 0;
  bool ok = true;
  int Octet() {
    if (at >= octets.size()) {
      ok = false;
      return 0;
    }
    return static_cast<unsigned char>(octets[at++]);
  }
  std::string Take(size_t count) {
    if (count > octets.size() - at) {
      ok = false;
      return {};
    }
    at += count;
    return octets.substr(at - count, count);
  }
};

// The information elements of a user data header (TS 23.040 9.2.3.24): the concatenation one, IE 00
// (8-bit reference) or 08 (16-bit), fills reference, total and sequence. An element with an impossible
// sequence is ignored, as the standard asks; false when an element runs past the header.
bool ReadConcatenation(const std::string& header, SentSms* sms) {
  for (size_t at = 0; at < header.size();) {
    if (at + 2 > header.size())
      return false;
    int id = static_cast<unsigned char>(header[at]);
    size_t length = static_cast<unsigned char>(header[at + 1]);
    if (at + 2 + length > header.size())
      return false;
    const unsigned char* value = reinterpret_cast<const unsigned char*>(header.data()) + at + 2;
    at += 2 + length;
    bool wide = id == 0x08 && length == 4;
    if (!wide && !(id == 0x00 && length == 3))
      continue;
    int reference = wide ? value[0] << 8 | value[1] : value[0];
    int total = value[wide ? 2 : 1], sequence = value[wide ? 3 : 2];
    if (total == 0 || sequence == 0 || sequence > total)
      continue;
    sms->reference = reference;
    sms->total = total;
    sms->sequence = sequence;
  }
  return true;
}

}  // namespace

std::string HexEncode(const std::string& octets) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : octets) {
    hex.push_back(Digits[c >> 4]);
    hex.push_back(Digits[c & 0xF]);
  }
  return hex;
}

bool HexDecode(const std::string& hex, std::string* octets) {
  if (hex.size() % 2)
    return false;
  octets->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (char c : {hex[i], hex[i + 1]}) {
      const char* digits = "0123456789ABCDEF0123456789abcdef";
      const char* at = c ? strchr(digits, c) : nullptr;
      if (!at)
        return false;
      value = value << 4 | static_cast<int>((at - digits) % 16);
    }
    octets->push_back(static_cast<char>(value));
  }
  return true;
}

std::string Utf8ToUcs2Hex(const std::string& text) {
  std::string hex;
  for (char16_t unit : Utf16Units(text)) {
    char group[5];
    snprintf(group, sizeof group, "%04X", static_cast<unsigned>(unit));
    hex += group;
  }
  return hex;
}

std::string Ucs2ToUtf8(const std::string& octets) {
  std::string text;
  for (size_t i = 0; i + 1 < octets.size(); i += 2) {
    char32_t unit = static_cast<unsigned char>(octets[i]) << 8 | static_cast<unsigned char>(octets[i + 1]);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < octets.size()) {
      char32_t low = static_cast<unsigned char>(octets[i + 2]) << 8 | static_cast<unsigned char>(octets[i + 3]);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(&text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(&text, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
  }
  return text;
}

std::string Utf8ToGsm7(const std::string& text) {
  std::string septets;
  for (char32_t c : DecodeUtf8(text)) {
    std::string character;
    AppendUtf8(&character, c);
    int found = -1;
    for (int i = 0; i < 128 && found < 0; ++i)
      if (i != 0x1B && character == Gsm7Basic[i])
        found = i;
    if (found >= 0) {
      septets.push_back(static_cast<char>(found));
      continue;
    }
    for (const Gsm7Escape& e : Gsm7Extension)
      if (character == e.text)
        found = e.septet;
    if (found >= 0)
      septets += std::string("\x1b") + static_cast<char>(found);
    else
      septets.push_back('?');
  }
  return septets;
}

std::string Gsm7ToUtf8(const std::string& septets) {
  std::string text;
  for (size_t i = 0; i < septets.size(); ++i) {
    int septet = septets[i] & 0x7F;
    if (septet == 0x1B && i + 1 < septets.size()) {
      const char* escaped = " ";  // an unknown escape shows as a space (TS 23.038 6.2.1.1)
      for (const Gsm7Escape& e : Gsm7Extension)
        if (e.septet == septets[i + 1])
          escaped = e.text;
      text += escaped;
      ++i;
    } else {
      text += Gsm7Basic[septet];
    }
  }
  return text;
}

std::string PackSeptets(const std::string& septets) {
  std::string octets;
  unsigned bits = 0;
  int count = 0;
  for (char s : septets) {
    bits |= (s & 0x7Fu) << count;
    count += 7;
    while (count >= 8) {
      octets.push_back(static_cast<char>(bits & 0xFF));
      bits >>= 8;
      count -= 8;
    }
  }
  if (count > 0)
    octets.push_back(static_cast<char>(bits & 0xFF));
  return octets;
}

std::string UnpackSeptets(const std::string& octets, size_t count) {
  std::string septets;
  for (size_t i = 0; i < count && i * 7 / 8 < octets.size(); ++i) {
    size_t bit = i * 7;
    unsigned value = static_cast<unsigned char>(octets[bit / 8]) >> (bit % 8);
    if (bit % 8 > 1 && bit / 8 + 1 < octets.size())
      value |= static_cast<unsigned>(static_cast<unsigned char>(octets[bit / 8 + 1])) << (8 - bit % 8);
    septets.push_back(static_cast<char>(value & 0x7F));
  }
  return septets;
}

std::string PackGsm7Text(const std::string& text) {
  std::string septets = Utf8ToGsm7(text);
  if (septets.size() % 8 == 7)
    septets.push_back('\r');
  return PackSeptets(septets);
}

bool UnpackUssd(const std::string& hex, std::string* text) {
  std::string octets;
  if (!HexDecode(hex, &octets))
    return false;
  std::string septets = UnpackSeptets(octets, octets.size() * 8 / 7);
  // With 7 spare bits at the end the last septet is filler: CR by TS 23.038 6.1.2.3.1, or zero.
  if (!octets.empty() && octets.size() % 7 == 0 && (septets.back() == '\r' || septets.back() == 0))
    septets.pop_back();
  *text = Gsm7ToUtf8(septets);
  return true;
}

Pdu BuildDeliverPdu(const std::string& sender, const std::string& date, const std::string& text, bool gsm7,
                    const std::string& header) {
  const size_t headerSeptets = (header.size() * 8 + 6) / 7;
  std::string septets = gsm7 ? Utf8ToGsm7(text) : "";
  if (septets.size() > MaxUserData * 8 / 7 - headerSeptets) {
    septets.resize(MaxUserData * 8 / 7 - headerSeptets);
    if (septets.back() == '\x1b')
      septets.pop_back();  // an escape without the character it escapes
  }
  std::string ud = gsm7 ? PackAfterHeader(header, septets) : header + Ucs2UserData(text, MaxUserData - header.size());
  std::string tpdu;
  tpdu.push_back(header.empty() ? 0x04 : 0x44);  // SMS-DELIVER, TP-MMS: no more messages waiting; TP-UDHI
  tpdu += EncodeAddress(sender, false);
  tpdu.push_back(0x00);                      // TP-PID
  tpdu.push_back(gsm7 ? 0x00 : 0x08);        // TP-DCS: GSM 7-bit or UCS-2
  tpdu += EncodeTimestamp(date);
  // TP-UDL counts septets for 7-bit, the header's and its fill bits' included
  tpdu.push_back(static_cast<char>(gsm7 ? headerSeptets + septets.size() : ud.size()));
  return Finish(tpdu + ud);
}

int TpduLength(const std::string& hex) {
  std::string octets;
  if (!HexDecode(hex, &octets) || octets.empty() || static_cast<unsigned char>(octets[0]) >= octets.size())
    return -1;
  return static_cast<int>(octets.size()) - 1 - static_cast<unsigned char>(octets[0]);
}

std::string ConcatenationHeader(int reference, bool wideReference, int total, int sequence) {
  std::string header = wideReference ? std::string{6, 0x08, 4, static_cast<char>(reference >> 8)} : std::string{5, 0x00, 3};
  header += {static_cast<char>(reference & 0xFF), static_cast<char>(total), static_cast<char>(sequence)};
  return header;
}

std::vector<std::string> SplitIntoParts(const std::string& text, bool gsm7, size_t headerOctets) {
  const size_t room = gsm7 ? MaxUserData * 8 / 7 - (headerOctets * 8 + 6) / 7 : (MaxUserData - headerOctets) / 2;
  std::vector<std::string> parts;
  std::string part;
  size_t used = 0;
  for (char32_t c : DecodeUtf8(text)) {
    std::string character;
    AppendUtf8(&character, c);
    const size_t cost = gsm7 ? Utf8ToGsm7(character).size() : c >= 0x10000 ? 2 : 1;
    if (used + cost > room) {
      parts.push_back(part);
      part.clear();
      used = 0;
    }
    part += character;
    used += cost;
  }
  if (!part.empty() || parts.empty())
    parts.push_back(part);
  return parts;
}

bool DecodeDeliverPdu(const std::string& hex, DeliverInfo* info) {
  std::string octets;
  if (!HexDecode(hex, &octets))
    return false;
  OctetReader in{octets};
  in.Take(in.Octet());  // SMSC part
  const int first = in.Octet();
  const int digits = in.Octet();
  const int type = in.Octet();
  const std::string address = in.Take((digits + 1) / 2);
  in.Octet();  // TP-PID
  info->alphabet = DeliverAlphabet(in.Octet());
  const std::string scts = in.Take(7);
  info->udl = in.Octet();
  if (!in.ok || (first & 0x03) != 0 || info->alphabet == 3)  // TP-MTI 00: SMS-DELIVER
    return false;
  info->ud = in.Take(info->alphabet == 0 ? (info->udl * 7 + 7) / 8 : info->udl);
  if (!in.ok || in.at != octets.size() || info->ud.size() > MaxUserData)
    return false;
  info->sender = DecodeAddress(digits, type, address);
  info->date = DecodeTimestamp(scts);
  info->header.clear();
  if (first & 0x40) {  // TP-UDHI
    if (info->ud.empty() || static_cast<unsigned char>(info->ud[0]) + 1u > info->ud.size())
      return false;
    info->header = info->ud.substr(0, static_cast<unsigned char>(info->ud[0]) + 1u);
  }
  if (info->alphabet == 0) {
    std::string septets = UnpackSeptets(info->ud, info->udl);
    size_t skip = (info->header.size() * 8 + 6) / 7;
    if (skip > septets.size())
      return false;
    info->text = Gsm7ToUtf8(septets.substr(skip));
  } else if (info->alphabet == 2) {
    info->text = Ucs2ToUtf8(info->ud.substr(info->header.size()));
  } else {
    info->text = HexEncode(info->ud);
  }
  return true;
}

Pdu BuildSubmitPdu(const std::string& destination, const std::string& text) {
  std::string ud = Ucs2UserData(text);
  std::string tpdu("\x01\x00", 2);  // SMS-SUBMIT without validity period, TP-MR 0
  tpdu += EncodeAddress(destination, false);
  tpdu += std::string("\x00\x08", 2);
  tpdu.push_back(static_cast<char>(ud.size()));
  return Finish(tpdu + ud);
}

bool DecodeSubmitPdu(const std::string& octets, SentSms* sms, int* tpduLength) {
  OctetReader in{octets};
  in.Take(in.Octet());  // SMSC part
  if (!in.ok)
    return false;
  *tpduLength = static_cast<int>(octets.size() - in.at);
  int first = in.Octet();
  if ((first & 0x03) != 0x01)  // TP-MTI must be SMS-SUBMIT
    return false;
  sms->reportRequested = (first & 0x20) != 0;  // TP-SRR
  in.Octet();  // TP-MR
  int digits = in.Octet();
  int type = in.Octet();
  std::string address = in.Take((digits + 1) / 2);
  if (!in.ok)
    return false;
  if ((type & 0x70) == 0x50)
    sms->destination = Gsm7ToUtf8(UnpackSeptets(address, digits * 4 / 7));
  else
    sms->destination = (type == 0x91 ? "+" : "") + ReadSemiOctets(address, digits);
  in.Octet();  // TP-PID
  sms->dcs = in.Octet();
  int validity = first >> 3 & 0x3;  // TP-VPF: none, enhanced, relative, absolute
  in.Take(validity == 0 ? 0 : validity == 2 ? 1 : 7);
  int udl = in.Octet();
  // Alphabet from the coding groups 00xx and 1111 (TS 23.038 4): 0 GSM 7-bit, 1 8-bit, 2 UCS-2.
  int alphabet = (sms->dcs & 0xC0) == 0 ? sms->dcs >> 2 & 0x3 : (sms->dcs & 0xF0) == 0xF0 ? sms->dcs >> 2 & 0x1 : 3;
  // One SMS carries at most 140 octets of user data: 160 septets in GSM 7-bit.
  if (alphabet == 3 || udl > (alphabet == 0 ? 160 : static_cast<int>(MaxUserData)))
    return false;
  std::string ud = in.Take(alphabet == 0 ? (udl * 7 + 7) / 8 : udl);
  if (!in.ok || in.at != octets.size())
    return false;
  size_t header = (first & 0x40) && !ud.empty() ? static_cast<unsigned char>(ud[0]) + 1u : 0;  // TP-UDHI
  if (header > ud.size() || (header > 0 && !ReadConcatenation(ud.substr(1, header - 1), sms)))
    return false;
  if (alphabet == 2 && (ud.size() - header) % 2)  // UCS-2 after the header: whole units only
    return false;
  if (alphabet == 0) {
    std::string septets = UnpackSeptets(ud, udl);
    size_t skip = (header * 8 + 6) / 7;  // the header and its fill bits, in septets
    if (skip > septets.size())
      return false;
    sms->text = Gsm7ToUtf8(septets.substr(skip));
  } else if (alphabet == 2) {
    sms->text = Ucs2ToUtf8(ud.substr(header));
  } else {
    sms->text = ud.substr(header);
  }
  return true;
}

Pdu BuildStatusReportPdu(int reference, const std::string& recipient, const std::string& sent, const std::string& done,
                         int status) {
  std::string tpdu;
  tpdu.push_back(0x06);  // SMS-STATUS-REPORT, TP-MMS: no more messages waiting, TP-SRQ: a report on an SMS-SUBMIT
  tpdu.push_back(static_cast<char>(reference));
  tpdu += EncodeAddress(recipient, false);
  tpdu += EncodeTimestamp(sent) + EncodeTimestamp(done);
  tpdu.push_back(static_cast<char>(status));
  return Finish(tpdu);
}

bool DecodeStatusReportPdu(const std::string& hex, StatusReportInfo* info) {
  std::string octets;
  if (!HexDecode(hex, &octets))
    return false;
  OctetReader in{octets};
  in.Take(in.Octet());  // SMSC part
  info->firstOctet = in.Octet();
  info->reference = in.Octet();
  const int digits = in.Octet();
  info->recipientType = in.Octet();
  const std::string address = in.Take((digits + 1) / 2);
  const std::string sent = in.Take(7);
  const std::string done = in.Take(7);
  info->status = in.Octet();
  if (!in.ok || (info->firstOctet & 0x03) != 0x02)  // TP-MTI 10: SMS-STATUS-REPORT
    return false;
  info->recipient = DecodeAddress(digits, info->recipientType, address);
  info->sent = DecodeTimestamp(sent);
  info->done = DecodeTimestamp(done);
  return true;
}

}  // namespace sim
