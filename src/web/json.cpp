#include <stdio.h>
#include <string.h>

#include "web/bridge.h"

namespace {

// Nesting deeper than this is no document atsms writes.
constexpr int MaxDepth = 16;

struct Scanner {
  const char* p;
  const char* end;
};

void Skip(Scanner* s) {
  while (s->p < s->end && (*s->p == ' ' || *s->p == '\t' || *s->p == '\n' || *s->p == '\r')) ++s->p;
}

bool Literal(Scanner* s, const char* word) {
  const size_t n = strlen(word);
  if ((size_t)(s->end - s->p) < n || memcmp(s->p, word, n) != 0) return false;
  s->p += n;
  return true;
}

bool Digits(Scanner* s) {
  const char* start = s->p;
  while (s->p < s->end && *s->p >= '0' && *s->p <= '9') ++s->p;
  return s->p > start;
}

bool Number(Scanner* s) {
  if (s->p < s->end && *s->p == '-') ++s->p;
  if (s->p < s->end && *s->p == '0')
    ++s->p;
  else if (!Digits(s))
    return false;
  if (s->p < s->end && *s->p == '.' && (++s->p, !Digits(s))) return false;
  if (s->p < s->end && (*s->p == 'e' || *s->p == 'E')) {
    ++s->p;
    if (s->p < s->end && (*s->p == '+' || *s->p == '-')) ++s->p;
    if (!Digits(s)) return false;
  }
  return true;
}

bool String(Scanner* s) {
  if (s->p >= s->end || *s->p != '"') return false;
  for (++s->p; s->p < s->end; ++s->p) {
    const unsigned char c = (unsigned char)*s->p;
    if (c == '"') {
      ++s->p;
      return true;
    }
    if (c < 0x20) return false;
    if (c != '\\') continue;
    if (++s->p >= s->end) return false;
    if (*s->p == 'u') {
      for (int i = 0; i < 4; ++i) {
        ++s->p;
        const char h = s->p < s->end ? *s->p : '\0';
        if (!((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F'))) return false;
      }
    } else if (!strchr("\"\\/bfnrt", *s->p) || *s->p == '\0') {
      return false;
    }
  }
  return false;
}

bool Value(Scanner* s, int depth);

bool Container(Scanner* s, int depth, char close, bool object) {
  ++s->p;
  Skip(s);
  if (s->p < s->end && *s->p == close) {
    ++s->p;
    return true;
  }
  for (;;) {
    if (object) {
      if (!String(s)) return false;
      Skip(s);
      if (s->p >= s->end || *s->p != ':') return false;
      ++s->p;
    }
    if (!Value(s, depth + 1)) return false;
    Skip(s);
    if (s->p >= s->end) return false;
    if (*s->p == close) {
      ++s->p;
      return true;
    }
    if (*s->p != ',') return false;
    ++s->p;
    Skip(s);
  }
}

bool Value(Scanner* s, int depth) {
  if (depth > MaxDepth) return false;
  Skip(s);
  if (s->p >= s->end) return false;
  switch (*s->p) {
    case '{': return Container(s, depth, '}', true);
    case '[': return Container(s, depth, ']', false);
    case '"': return String(s);
    case 't': return Literal(s, "true");
    case 'f': return Literal(s, "false");
    case 'n': return Literal(s, "null");
    default: return Number(s);
  }
}

}  // namespace

int Utf8At(const unsigned char* p, const unsigned char* end) {
  const unsigned c = *p;
  int length;
  unsigned value;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    length = 2;
    value = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3;
    value = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4;
    value = c & 0x07;
  } else {
    return 0;
  }
  if (end - p < length) return 0;
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  static const unsigned Smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < Smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

void PutBytes(JsonSink* sink, const char* bytes, size_t length) {
  if (sink->full || sink->size - sink->used <= length) {
    sink->full = true;  // nothing half written
    return;
  }
  memcpy(sink->data + sink->used, bytes, length);
  sink->used += length;
  sink->data[sink->used] = '\0';
}

void Put(JsonSink* sink, const char* text) { PutBytes(sink, text, strlen(text)); }

void PutJsonString(JsonSink* sink, const char* text, size_t length) {
  const unsigned char* p = (const unsigned char*)text;
  const unsigned char* end = p + length;
  PutBytes(sink, "\"", 1);
  while (p < end) {
    const unsigned char c = *p;
    if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', (char)c};
      PutBytes(sink, escaped, 2);
      ++p;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      PutBytes(sink, escaped, 6);
      ++p;
    } else {
      const int n = Utf8At(p, end);
      if (n == 0) {
        PutBytes(sink, "\xEF\xBF\xBD", 3);  // U+FFFD for a byte that is no UTF-8
        ++p;
      } else {
        PutBytes(sink, (const char*)p, (size_t)n);
        p += n;
      }
    }
  }
  PutBytes(sink, "\"", 1);
}

bool ValidJson(const char* text, size_t length) {
  Scanner s = {text, text + length};
  if (!Value(&s, 0)) return false;
  Skip(&s);
  return s.p == s.end;
}

void PutRefusal(JsonSink* sink, const Refusal& refusal) {
  Put(sink, "{\"error\":");
  PutJsonString(sink, refusal.message, strlen(refusal.message));
  if (*refusal.field) {
    Put(sink, ",\"field\":");
    PutJsonString(sink, refusal.field, strlen(refusal.field));
  }
  Put(sink, "}\n");
}

size_t StartAnswer(JsonSink* sink) {
  Put(sink, "{\"result\":");
  return sink->used;
}

void FinishAnswer(JsonSink* sink, size_t resultStart, bool cut, int status, const char* reason) {
  const char* result = sink->data + resultStart;
  size_t length = sink->used - resultStart;
  while (length > 0 && (result[length - 1] == '\n' || result[length - 1] == ' ' || result[length - 1] == '\r'))
    --length;  // atsms ends its document (and its result block) with a line feed
  size_t blank = 0;
  while (blank < length && (result[blank] == '\n' || result[blank] == ' ')) ++blank;
  const bool valid = !cut && !sink->full && blank < length && ValidJson(result, length);
  if (!valid) {
    if (cut || sink->full || blank < length) reason = "the output of atsms was cut short or is no JSON";
    sink->full = false;
    sink->used = resultStart;
    Put(sink, "null");
  } else {
    sink->used = resultStart + length;
  }
  char number[16];
  snprintf(number, sizeof number, "%d", status);
  Put(sink, ",\"status\":");
  Put(sink, number);
  if (*reason) {
    Put(sink, ",\"error\":");
    PutJsonString(sink, reason, strlen(reason));
  }
  Put(sink, "}\n");
}

void ReadReason(ReasonReader* reader, const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const char c = bytes[i];
    if (c != '\n') {
      if (reader->lineLength + 1 < sizeof reader->line) reader->line[reader->lineLength++] = c;
      continue;
    }
    EndReason(reader);
  }
}

void EndReason(ReasonReader* reader) {
  size_t n = reader->lineLength;
  reader->lineLength = 0;
  if (n > 0 && reader->line[n - 1] == '\r') --n;
  if (n == 0) return;
  static const char Prefix[] = "atsms: ";
  const size_t prefix = sizeof Prefix - 1;
  const bool fromAtsms = n > prefix && memcmp(reader->line, Prefix, prefix) == 0;
  if (!fromAtsms && reader->fromAtsms) return;  // an atsms: line says it best
  const size_t skip = fromAtsms ? prefix : 0;
  memcpy(reader->reason, reader->line + skip, n - skip);
  reader->reason[n - skip] = '\0';
  reader->fromAtsms = fromAtsms;
}
