#include <string.h>

#include "web/bridge.h"

namespace {

bool Refuse(Refusal* refusal, int http, const char* message, const char* field = "") {
  refusal->http = http;
  refusal->message = message;
  refusal->field = field;
  return false;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (Lower(*text) != *prefix) return false;
  return true;
}

bool EqualNoCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (Lower(a[i]) != Lower(b[i]) || a[i] == '\0') return false;
  return true;
}

// The members a body may hold, one bit each.
enum MemberBit : unsigned {
  MemberOp = 1,
  MemberStorage = 2,
  MemberNumber = 4,
  MemberText = 8,
  MemberGsm7 = 16,
  MemberReport = 32,
  MemberCode = 64,
  MemberIndex = 128,
  MemberId = 256,
};
struct MemberName {
  const char* name;
  unsigned bit;
};
const MemberName Members[] = {
    {"op", MemberOp},       {"storage", MemberStorage}, {"number", MemberNumber},
    {"text", MemberText},   {"gsm7", MemberGsm7},       {"report", MemberReport},
    {"code", MemberCode},   {"index", MemberIndex},     {"id", MemberId},
};

// What each op needs and takes.
struct OpRule {
  const char* name;
  Op op;
  bool action;  // a POST; the others are reads, asked with GET
  unsigned required;
  unsigned optional;
};
const OpRule OpRules[] = {
    {"list", Op::List, false, MemberStorage, 0},
    {"send", Op::Send, true, MemberNumber | MemberText, MemberGsm7 | MemberReport},
    {"delete", Op::Delete, true, MemberStorage | MemberIndex | MemberId, 0},
    {"delete_all", Op::DeleteAll, true, MemberStorage, 0},
    {"ussd", Op::Ussd, true, MemberCode, 0},
};

const OpRule* FindOp(const char* name) {
  for (const OpRule& rule : OpRules)
    if (strcmp(rule.name, name) == 0) return &rule;
  return nullptr;
}

const char* NameOf(unsigned bit) {
  for (const MemberName& m : Members)
    if (m.bit == bit) return m.name;
  return "";
}

// The fields of a parsed request against their checks.
bool CheckFields(const Action& action, unsigned present, Refusal* refusal) {
  if ((present & MemberStorage) && !StorageOk(action.storage, action.op))
    return Refuse(refusal, 400, "storage must be sim, tel or report", "storage");
  if ((present & MemberNumber) && !PhoneNumberOk(action.number))
    return Refuse(refusal, 400, "the phone number must be 1 to 18 digits after an optional '+'", "number");
  if (present & MemberText) {
    if (const char* problem = TextProblem(action.text)) return Refuse(refusal, 400, problem, "text");
  }
  if ((present & MemberCode) && !UssdCodeOk(action.code))
    return Refuse(refusal, 400, "the USSD code must be 1 to 72 printable ASCII characters", "code");
  if ((present & MemberIndex) && !IndexOk(action.index))
    return Refuse(refusal, 400, "the index must be a whole number from 0 to 2147483647", "index");
  if ((present & MemberId) && !IdOk(action.id))
    return Refuse(refusal, 400, "the id must be 16 hex digits", "id");
  return true;
}

// The op's rule against the members present: 0, or -1 with refusal.
int CheckMembers(const OpRule& rule, unsigned present, Refusal* refusal) {
  for (const MemberName& m : Members) {
    if (m.bit == MemberOp) continue;
    const bool wanted = (rule.required | rule.optional) & m.bit;
    if ((present & m.bit) && !wanted) return Refuse(refusal, 400, "this member does not belong to the op", m.name), -1;
    if ((rule.required & m.bit) && !(present & m.bit)) return Refuse(refusal, 400, "this member is missing", m.name), -1;
  }
  return 0;
}

// A small reader of one flat JSON object.
struct Reader {
  const char* p;
  const char* end;
};

void SkipSpace(Reader* r) {
  while (r->p < r->end && (*r->p == ' ' || *r->p == '\t' || *r->p == '\n' || *r->p == '\r')) ++r->p;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadHex4(Reader* r, unsigned* value) {
  if (r->end - r->p < 4) return false;
  *value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = HexValue(r->p[i]);
    if (digit < 0) return false;
    *value = *value << 4 | (unsigned)digit;
  }
  r->p += 4;
  return true;
}

// Appends one code point as UTF-8 when it fits; *overflow otherwise.
void AppendUtf8(char* out, size_t size, size_t* used, unsigned c, bool* overflow) {
  char bytes[4];
  size_t n;
  if (c < 0x80) {
    bytes[0] = (char)c;
    n = 1;
  } else if (c < 0x800) {
    bytes[0] = (char)(0xC0 | (c >> 6));
    bytes[1] = (char)(0x80 | (c & 0x3F));
    n = 2;
  } else if (c < 0x10000) {
    bytes[0] = (char)(0xE0 | (c >> 12));
    bytes[1] = (char)(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = (char)(0x80 | (c & 0x3F));
    n = 3;
  } else {
    bytes[0] = (char)(0xF0 | (c >> 18));
    bytes[1] = (char)(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = (char)(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = (char)(0x80 | (c & 0x3F));
    n = 4;
  }
  if (*used + n >= size) {
    *overflow = true;
    return;
  }
  memcpy(out + *used, bytes, n);
  *used += n;
  out[*used] = '\0';
}

// A JSON string at r->p into out (NUL-terminated, cut at size with *overflow set). False for a
// string that is no JSON string, holds \u0000 or a lone surrogate.
bool ReadString(Reader* r, char* out, size_t size, bool* overflow) {
  size_t used = 0;
  out[0] = '\0';
  *overflow = false;
  if (r->p >= r->end || *r->p != '"') return false;
  ++r->p;
  while (r->p < r->end) {
    const unsigned char c = (unsigned char)*r->p++;
    if (c == '"') return true;
    if (c < 0x20) return false;  // control characters must be escaped
    if (c != '\\') {
      if (used + 1 >= size) {
        *overflow = true;
      } else {
        out[used++] = (char)c;
        out[used] = '\0';
      }
      continue;
    }
    if (r->p >= r->end) return false;
    const char e = *r->p++;
    unsigned value;
    switch (e) {
      case '"': value = '"'; break;
      case '\\': value = '\\'; break;
      case '/': value = '/'; break;
      case 'b': value = '\b'; break;
      case 'f': value = '\f'; break;
      case 'n': value = '\n'; break;
      case 'r': value = '\r'; break;
      case 't': value = '\t'; break;
      case 'u': {
        if (!ReadHex4(r, &value)) return false;
        if (value >= 0xDC00 && value <= 0xDFFF) return false;  // a low surrogate first
        if (value >= 0xD800 && value <= 0xDBFF) {               // a high one: its pair follows
          unsigned low;
          if (r->end - r->p < 2 || r->p[0] != '\\' || r->p[1] != 'u') return false;
          r->p += 2;
          if (!ReadHex4(r, &low) || low < 0xDC00 || low > 0xDFFF) return false;
          value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
        }
        if (value == 0) return false;  // no argument can carry a NUL
        break;
      }
      default: return false;
    }
    AppendUtf8(out, size, &used, value, overflow);
  }
  return false;
}

// A JSON number that is a whole number without sign, fraction or exponent, as its digits.
bool ReadDigits(Reader* r, char* out, size_t size) {
  size_t used = 0;
  while (r->p < r->end && *r->p >= '0' && *r->p <= '9') {
    if (used + 1 >= size) return false;
    out[used++] = *r->p++;
  }
  out[used] = '\0';
  return used > 0 && (r->p >= r->end || (*r->p != '.' && *r->p != 'e' && *r->p != 'E'));
}

bool ReadWord(Reader* r, const char* word) {
  const size_t n = strlen(word);
  if ((size_t)(r->end - r->p) < n || memcmp(r->p, word, n) != 0) return false;
  r->p += n;
  return true;
}

bool ReadBool(Reader* r, bool* value) {
  if (ReadWord(r, "true")) {
    *value = true;
    return true;
  }
  if (ReadWord(r, "false")) {
    *value = false;
    return true;
  }
  return false;
}

// The value of one member into action; false with refusal set.
bool ReadMember(Reader* r, unsigned bit, Action* action, char* op, Refusal* refusal) {
  const char* name = NameOf(bit);
  bool overflow = false;
  bool ok;
  switch (bit) {
    case MemberOp: ok = ReadString(r, op, WordSize, &overflow); break;
    case MemberStorage: ok = ReadString(r, action->storage, sizeof action->storage, &overflow); break;
    case MemberNumber: ok = ReadString(r, action->number, sizeof action->number, &overflow); break;
    case MemberText: ok = ReadString(r, action->text, sizeof action->text, &overflow); break;
    case MemberCode: ok = ReadString(r, action->code, sizeof action->code, &overflow); break;
    case MemberId: ok = ReadString(r, action->id, sizeof action->id, &overflow); break;
    case MemberIndex:
      if (!ReadDigits(r, action->index, sizeof action->index))
        return Refuse(refusal, 400, "the index must be a whole number from 0 to 2147483647", name);
      return true;
    case MemberGsm7:
      if (!ReadBool(r, &action->gsm7)) return Refuse(refusal, 400, "this member must be true or false", name);
      return true;
    default:
      if (!ReadBool(r, &action->report)) return Refuse(refusal, 400, "this member must be true or false", name);
      return true;
  }
  if (!ok) return Refuse(refusal, 400, "this member must be a JSON string without NUL", name);
  if (overflow) {
    // A string longer than its field: the field's own check names the bound.
    switch (bit) {
      case MemberText: return Refuse(refusal, 400, "the text is longer than 1023 bytes", name);
      case MemberNumber: return Refuse(refusal, 400, "the phone number must be 1 to 18 digits after an optional '+'", name);
      case MemberCode: return Refuse(refusal, 400, "the USSD code must be 1 to 72 printable ASCII characters", name);
      case MemberId: return Refuse(refusal, 400, "the id must be 16 hex digits", name);
      default: return Refuse(refusal, 400, "this member is too long", name);
    }
  }
  return true;
}

}  // namespace

bool SameOrigin(const char* origin, const char* host) {
  if (!host || !*host) return false;
  const char* authority;
  if (StartsWithNoCase(origin, "http://"))
    authority = origin + 7;
  else if (StartsWithNoCase(origin, "https://"))
    authority = origin + 8;
  else
    return false;  // "null", or a scheme of no web page
  const size_t length = strlen(authority);
  return length == strlen(host) && EqualNoCase(authority, host, length);
}

bool LoopbackHost(const char* host) {
  if (!host) return false;
  static const char* const Names[] = {"127.0.0.1", "[::1]", "localhost"};
  for (const char* name : Names) {
    const size_t n = strlen(name);
    if (!EqualNoCase(host, name, n)) continue;
    const char* rest = host + n;
    if (*rest == '\0') return true;
    if (*rest != ':' || rest[1] == '\0') return false;
    for (++rest; *rest; ++rest)
      if (*rest < '0' || *rest > '9') return false;
    return true;
  }
  return false;
}

int CheckRequest(const CgiRequest& request, const WebConfig& config, size_t* bodyLength, Refusal* refusal) {
  *bodyLength = 0;
  const char* method = request.method ? request.method : "";
  const bool post = strcmp(method, "POST") == 0;
  if (!post && strcmp(method, "GET") != 0) return Refuse(refusal, 405, "only GET (to read) and POST (to act)"), -1;
  const bool user = request.remoteUser && *request.remoteUser;
  if (!user && !config.open)
    return Refuse(refusal, 403, "the web server did not authenticate the user (no REMOTE_USER); see doc/web.md"), -1;
  // An open page (the local demo) answers only under a loopback name: a site that makes its own
  // name point at 127.0.0.1 (DNS rebinding) is then still another origin.
  if (!user && !LoopbackHost(request.host))
    return Refuse(refusal, 403, "an open page answers only on 127.0.0.1 or localhost"), -1;
  if (request.fetchSite &&
      (strcmp(request.fetchSite, "cross-site") == 0 || strcmp(request.fetchSite, "same-site") == 0))
    return Refuse(refusal, 403, "the request comes from another site"), -1;
  if (request.origin && *request.origin && !SameOrigin(request.origin, request.host))
    return Refuse(refusal, 403, "the request comes from another site"), -1;
  if (!post) return 0;
  const char* type = request.contentType ? request.contentType : "";
  if (!StartsWithNoCase(type, "application/json") || (type[16] != '\0' && type[16] != ';' && type[16] != ' '))
    return Refuse(refusal, 415, "an action needs a JSON body with Content-Type: application/json"), -1;
  const char* length = request.contentLength;
  if (!length || !*length) return Refuse(refusal, 411, "an action needs a Content-Length"), -1;
  size_t value = 0;
  for (const char* p = length; *p; ++p) {
    if (*p < '0' || *p > '9') return Refuse(refusal, 400, "the Content-Length is no number"), -1;
    value = value * 10 + (size_t)(*p - '0');
    if (value > MaxBodySize) return Refuse(refusal, 413, "the body is longer than 8192 bytes"), -1;
  }
  *bodyLength = value;
  return 0;
}

int ParseQuery(const char* query, Action* action, Refusal* refusal) {
  *action = Action();
  char op[WordSize] = "";
  unsigned present = 0;
  for (const char* p = query ? query : ""; *p;) {
    const char* equals = strchr(p, '=');
    const char* end = strchr(p, '&');
    if (!end) end = p + strlen(p);
    if (!equals || equals > end) return Refuse(refusal, 400, "the query must be op=list&storage=sim or tel"), -1;
    const size_t keyLength = (size_t)(equals - p);
    const size_t valueLength = (size_t)(end - equals - 1);
    char* into;
    unsigned bit;
    if (keyLength == 2 && memcmp(p, "op", 2) == 0) {
      into = op;
      bit = MemberOp;
    } else if (keyLength == 7 && memcmp(p, "storage", 7) == 0) {
      into = action->storage;
      bit = MemberStorage;
    } else {
      return Refuse(refusal, 400, "the query must be op=list&storage=sim or tel"), -1;
    }
    if ((present & bit) || valueLength == 0 || valueLength >= WordSize)
      return Refuse(refusal, 400, "the query must be op=list&storage=sim or tel"), -1;
    for (const char* c = equals + 1; c < end; ++c)
      if (!((*c >= 'a' && *c <= 'z') || *c == '_'))
        return Refuse(refusal, 400, "the query must be op=list&storage=sim or tel"), -1;
    memcpy(into, equals + 1, valueLength);
    into[valueLength] = '\0';
    present |= bit;
    p = *end ? end + 1 : end;
  }
  const OpRule* rule = FindOp(op);
  if (!rule) return Refuse(refusal, 400, "op must be list, send, delete, delete_all or ussd", "op"), -1;
  if (rule->action) return Refuse(refusal, 405, "an action needs a POST with a JSON body", "op"), -1;
  action->op = rule->op;
  if (CheckMembers(*rule, present & ~MemberOp, refusal) < 0) return -1;
  return CheckFields(*action, present, refusal) ? 0 : -1;
}

int ParseBody(const char* body, size_t length, Action* action, Refusal* refusal) {
  *action = Action();
  Reader r = {body, body + length};
  char op[WordSize] = "";
  unsigned present = 0;
  SkipSpace(&r);
  if (r.p >= r.end || *r.p != '{') return Refuse(refusal, 400, "the body must be one JSON object"), -1;
  ++r.p;
  SkipSpace(&r);
  bool first = true;
  while (r.p < r.end && *r.p != '}') {
    if (!first) {
      if (*r.p != ',') return Refuse(refusal, 400, "the body must be one JSON object"), -1;
      ++r.p;
      SkipSpace(&r);
    }
    first = false;
    char name[WordSize];
    bool overflow;
    if (!ReadString(&r, name, sizeof name, &overflow)) return Refuse(refusal, 400, "the body must be one JSON object"), -1;
    unsigned bit = 0;
    for (const MemberName& m : Members)
      if (!overflow && strcmp(m.name, name) == 0) bit = m.bit;
    if (bit == 0) return Refuse(refusal, 400, "the body holds an unknown member"), -1;
    if (present & bit) return Refuse(refusal, 400, "this member appears twice", NameOf(bit)), -1;
    SkipSpace(&r);
    if (r.p >= r.end || *r.p != ':') return Refuse(refusal, 400, "the body must be one JSON object"), -1;
    ++r.p;
    SkipSpace(&r);
    if (!ReadMember(&r, bit, action, op, refusal)) return -1;
    present |= bit;
    SkipSpace(&r);
  }
  if (r.p >= r.end) return Refuse(refusal, 400, "the body must be one JSON object"), -1;
  ++r.p;  // the closing brace
  SkipSpace(&r);
  if (r.p != r.end) return Refuse(refusal, 400, "the body must be one JSON object"), -1;
  const OpRule* rule = FindOp(op);
  if (!rule) return Refuse(refusal, 400, "op must be list, send, delete, delete_all or ussd", "op"), -1;
  if (!rule->action) return Refuse(refusal, 405, "a read is a GET request", "op"), -1;
  action->op = rule->op;
  if (CheckMembers(*rule, present & ~MemberOp, refusal) < 0) return -1;
  if (!CheckFields(*action, present, refusal)) return -1;
  for (char* c = action->id; *c; ++c) *c = Lower(*c);  // atsms prints ids in lower case
  if (action->op == Op::Send) {
    // atsms takes the quotes off a text wrapped in a pair of them (a shell may leave them on):
    // wrapped once more here, a text that is itself in quotes arrives as typed.
    const size_t n = strlen(action->text);
    action->quotedText[0] = '\'';
    memcpy(action->quotedText + 1, action->text, n);
    action->quotedText[n + 1] = '\'';
    action->quotedText[n + 2] = '\0';
  }
  return 0;
}
