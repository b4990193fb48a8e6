#include "sim_common.h"

#include <cstdio>

namespace sim {

int StatusCode(const std::string& status) {
  for (int i = 0; i < 4; ++i)
    if (status == Statuses[i])
      return i;
  return -1;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string CmsError(int code) { return "\r\n+CMS ERROR: " + std::to_string(code) + "\r\n"; }

bool ParseNumber(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::stoi(text);
  return true;
}

bool IsCommand(const std::string& line) {
  return line.size() >= 2 && toupper(static_cast<unsigned char>(line[0])) == 'A' &&
         toupper(static_cast<unsigned char>(line[1])) == 'T';
}

// Control characters written out for the log: \r, \n, \t, \\ and \xNN.
std::string Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    const char* named = c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\\' ? "\\\\" : nullptr;
    char hex[5] = {static_cast<char>(c), '\0'};
    if (!named && (c < 0x20 || c == 0x7F))
      snprintf(hex, sizeof hex, "\\x%02x", c);
    out += named ? named : hex;
  }
  return out;
}

// 1,"AA180C3602",15 -> {1, AA180C3602, 15}: split at commas outside quotes, quotes dropped.
std::vector<std::string> SplitParameters(const std::string& list) {
  std::vector<std::string> values;
  if (list.empty())
    return values;
  std::string value;
  bool quoted = false;
  for (char c : list) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      values.push_back(value);
      value.clear();
    } else {
      value.push_back(c);
    }
  }
  values.push_back(value);
  return values;
}

}  // namespace sim
