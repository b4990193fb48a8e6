// The message ids the listings must show, worked out here on their own: FNV-1a 64 over the octets
// of a PDU given as hex, and over the parts' ids (8 octets each, big-endian) for a joined message.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace fnv {

inline uint64_t Fnv1a64(const std::vector<uint8_t>& octets) {
  uint64_t hash = 14695981039346656037ULL;
  for (uint8_t octet : octets) {
    hash ^= octet;
    hash *= 1099511628211ULL;
  }
  return hash;
}

inline uint64_t OfPdu(const std::string& hex) {
  std::vector<uint8_t> octets;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) octets.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
  return Fnv1a64(octets);
}

inline uint64_t OfParts(const std::vector<std::string>& pduHexes) {
  std::vector<uint8_t> octets;
  for (const std::string& hex : pduHexes)
    for (int shift = 56; shift >= 0; shift -= 8) octets.push_back((uint8_t)(OfPdu(hex) >> shift));
  return Fnv1a64(octets);
}

inline std::string Text(uint64_t id) {
  char text[17];
  snprintf(text, sizeof text, "%016llx", (unsigned long long)id);
  return text;
}

// The member as a JSON object has it, right after "index".
inline std::string Member(uint64_t id) { return "\"id\":\"" + Text(id) + "\","; }

}  // namespace fnv
