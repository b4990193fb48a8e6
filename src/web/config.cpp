#include <string.h>

#include "web/bridge.h"

namespace {

struct Token {
  const char* text;
  size_t length;
};

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The words of one line (config|option, key or type, value or name): quoted in '' or "", or bare.
// A '#' outside quotes ends the line. Returns the count (at most 3 kept), or -1 for an open quote.
int Tokens(const char* p, const char* end, Token* tokens) {
  int count = 0;
  while (p < end) {
    while (p < end && Space(*p)) ++p;
    if (p >= end || *p == '#') break;
    Token t;
    if (*p == '\'' || *p == '"') {
      const char quote = *p++;
      t.text = p;
      while (p < end && *p != quote) ++p;
      if (p >= end) return -1;
      t.length = (size_t)(p - t.text);
      ++p;
    } else {
      t.text = p;
      while (p < end && !Space(*p) && *p != '#' && *p != '\'' && *p != '"') ++p;
      t.length = (size_t)(p - t.text);
    }
    if (count < 3) tokens[count] = t;
    ++count;
  }
  return count;
}

bool Is(const Token& t, const char* word) { return t.length == strlen(word) && memcmp(t.text, word, t.length) == 0; }

bool Copy(char* out, size_t size, const Token& t) {
  if (t.length >= size) return false;
  memcpy(out, t.text, t.length);
  out[t.length] = '\0';
  return true;
}

// UCI's booleans: 1, yes, on, true; anything else is off.
bool Truth(const Token& t) { return Is(t, "1") || Is(t, "yes") || Is(t, "on") || Is(t, "true"); }

// Calls visit(key, value) for each option of the section found by match(type, name); stops at
// the first section that matches. Returns whether one did, or -1 for a line that does not parse.
template <typename Match, typename Visit>
int VisitSection(const char* text, size_t length, Match match, Visit visit) {
  const char* end = text + length;
  bool inside = false, found = false;
  for (const char* line = text; line < end;) {
    const char* stop = (const char*)memchr(line, '\n', (size_t)(end - line));
    if (!stop) stop = end;
    Token t[3];
    const int n = Tokens(line, stop, t);
    line = stop + 1;
    if (n < 0) return -1;
    if (n == 0) continue;
    if (Is(t[0], "config")) {
      if (found) break;
      const Token none = {"", 0};
      inside = n >= 2 && match(t[1], n >= 3 ? t[2] : none);
      found = inside;
    } else if (inside && Is(t[0], "option") && n >= 3) {
      if (!visit(t[1], t[2])) return -1;
    }
  }
  return found ? 1 : 0;
}

}  // namespace

int ReadConfig(const char* text, size_t length, WebConfig* config, const char** problem) {
  *config = WebConfig();
  char modem[64] = "";
  const char* bad = nullptr;
  const int web = VisitSection(
      text, length, [](const Token& type, const Token&) { return Is(type, "web"); },
      [&](const Token& key, const Token& value) {
        if (Is(key, "modem") && !Copy(modem, sizeof modem, value)) bad = "the web section's modem name is too long";
        if (Is(key, "open")) config->open = Truth(value);
        if (Is(key, "atsms") && (!Copy(config->atsms, sizeof config->atsms, value) || config->atsms[0] != '/'))
          bad = "the web section's atsms must be an absolute path";
        return bad == nullptr;
      });
  if (web < 0) {
    *problem = bad ? bad : "a line of the configuration does not parse (an open quote)";
    return -1;
  }
  const int found = VisitSection(
      text, length,
      [&](const Token& type, const Token& name) {
        return Is(type, "modem") && (modem[0] == '\0' || Is(name, modem));
      },
      [&](const Token& key, const Token& value) {
        if (Is(key, "port") && (!Copy(config->port, sizeof config->port, value) || config->port[0] != '/'))
          bad = "the modem's port must be an absolute path";
        if (Is(key, "quick")) config->quick = Truth(value);
        if (Is(key, "wait")) {
          bool digits = value.length >= 1 && value.length <= 4;
          int seconds = 0;
          for (size_t i = 0; digits && i < value.length; ++i) {
            digits = value.text[i] >= '0' && value.text[i] <= '9';
            seconds = seconds * 10 + (value.text[i] - '0');
          }
          if (!digits || seconds > 3600 || !Copy(config->wait, sizeof config->wait, value))
            bad = "the modem's wait must be a whole number from 0 to 3600";
        }
        return bad == nullptr;
      });
  if (found < 0) {
    *problem = bad ? bad : "a line of the configuration does not parse (an open quote)";
    return -1;
  }
  if (found == 0) {
    *problem = modem[0] ? "no config modem section has the name that the web section gives"
                        : "the configuration has no config modem section";
    return -1;
  }
  if (config->port[0] == '\0') {
    *problem = "the modem section has no port";
    return -1;
  }
  return 0;
}

const char* ConfigPath(const char* fromEnvironment, bool (*exists)(const char* path)) {
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  if (exists("/etc/config/atsms")) return "/etc/config/atsms";
  return "/etc/atsms/atsms.conf";
}
