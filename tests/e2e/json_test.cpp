// JSON output (-j) against the simulated modem: what it prints parses as JSON and carries the same
// messages as the tab-separated listing of the same run without it.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <utility>

#include "harness.h"

namespace {

using namespace e2e;

// One JSON value, read strictly (RFC 8259); strings as UTF-8.
struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in the order written
};

class Reader {
 public:
  explicit Reader(const std::string& text) : t_(text) {}
  // The whole text is one value, blanks around it allowed.
  bool Read(Json* value) { return Value(value) && (Blanks(), i_ == t_.size()); }

 private:
  const std::string& t_;
  size_t i_ = 0;

  int Peek() const { return i_ < t_.size() ? (unsigned char)t_[i_] : -1; }
  void Blanks() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') ++i_;
  }
  bool Take(char c) { return Blanks(), Peek() == c ? (++i_, true) : false; }
  bool Word(const char* word) {
    if (t_.compare(i_, strlen(word), word) != 0) return false;
    i_ += strlen(word);
    return true;
  }
  static void Put(std::string* out, unsigned long cp) {
    if (cp < 0x80) {
      *out += (char)cp;
    } else if (cp < 0x800) {
      *out += (char)(0xC0 | cp >> 6);
      *out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out += (char)(0xE0 | cp >> 12);
      *out += (char)(0x80 | (cp >> 6 & 0x3F));
      *out += (char)(0x80 | (cp & 0x3F));
    } else {
      *out += (char)(0xF0 | cp >> 18);
      *out += (char)(0x80 | (cp >> 12 & 0x3F));
      *out += (char)(0x80 | (cp >> 6 & 0x3F));
      *out += (char)(0x80 | (cp & 0x3F));
    }
  }
  bool Hex4(unsigned long* unit) {
    if (i_ + 4 > t_.size()) return false;
    for (int k = 0; k < 4; ++k)
      if (!isxdigit((unsigned char)t_[i_ + k])) return false;
    *unit = strtoul(t_.substr(i_, 4).c_str(), nullptr, 16);
    i_ += 4;
    return true;
  }
  // One character written as it is: well-formed UTF-8 only.
  bool Character(std::string* out) {
    const int lead = Peek();
    const int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                                         : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || i_ + length > t_.size()) return false;
    unsigned long cp = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k) {
      const unsigned char c = t_[i_ + k];
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    static const unsigned long lowest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < lowest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out->append(t_, i_, length);
    i_ += length;
    return true;
  }
  bool Str(std::string* out) {
    if (!Take('"')) return false;
    for (;;) {
      const int c = Peek();
      if (c < 0x20) return false;  // the end, or a control character not escaped
      if (c == '"') return ++i_, true;
      if (c != '\\') {
        if (!Character(out)) return false;
        continue;
      }
      ++i_;
      const int e = Peek();
      ++i_;
      switch (e) {
        case '"': case '\\': case '/': *out += (char)e; continue;
        case 'b': *out += '\b'; continue;
        case 'f': *out += '\f'; continue;
        case 'n': *out += '\n'; continue;
        case 'r': *out += '\r'; continue;
        case 't': *out += '\t'; continue;
      }
      unsigned long unit = 0, low = 0;
      if (e != 'u' || !Hex4(&unit) || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
      if (unit >= 0xD800 && unit <= 0xDBFF) {  // a high surrogate needs its low half
        if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      }
      Put(out, unit);
    }
  }
  bool Num(double* number) {
    const size_t start = i_;
    Take('-');
    if (Peek() == '0') {
      ++i_;
    } else if (Peek() >= '1' && Peek() <= '9') {
      while (isdigit(Peek())) ++i_;
    } else {
      return false;
    }
    if (Peek() == '.') {
      ++i_;
      if (!isdigit(Peek())) return false;
      while (isdigit(Peek())) ++i_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++i_;
      if (Peek() == '+' || Peek() == '-') ++i_;
      if (!isdigit(Peek())) return false;
      while (isdigit(Peek())) ++i_;
    }
    *number = strtod(t_.substr(start, i_ - start).c_str(), nullptr);
    return true;
  }
  bool Value(Json* v) {
    Blanks();
    const int c = Peek();
    if (c == '{') {
      v->kind = Json::Object;
      ++i_;
      if (Take('}')) return true;
      do {
        std::pair<std::string, Json> member;
        if (!Str(&member.first) || !Take(':') || !Value(&member.second)) return false;
        v->members.push_back(std::move(member));
      } while (Take(','));
      return Take('}');
    }
    if (c == '[') {
      v->kind = Json::Array;
      ++i_;
      if (Take(']')) return true;
      do {
        v->items.emplace_back();
        if (!Value(&v->items.back())) return false;
      } while (Take(','));
      return Take(']');
    }
    if (c == '"') return v->kind = Json::String, Str(&v->string);
    v->kind = Json::Bool;
    if (Word("true")) return v->boolean = true;
    if (Word("false")) return true;
    v->kind = Json::Null;
    if (Word("null")) return true;
    return v->kind = Json::Number, Num(&v->number);
  }
};

// Reader's own checks: a parser that accepted anything would pass every case below.
TEST(JsonReader, RefusesWhatIsNoJson) {
  for (const char* bad : {"", "{", "{\"a\":1,}", "[1 2]", "\"a\tb\"", "\"\\x\"", "\"\\ud83d\"", "\"\xC3\"",
                          "\"\xED\xA0\x80\"", "01", "{\"a\":1}x", "tru"}) {
    Json value;
    EXPECT_FALSE(Reader(bad).Read(&value)) << bad;
  }
  Json value;
  ASSERT_TRUE(Reader("{\"a\":[1,-2.5e1,true,null],\"b\":\"\\ud83d\\ude00\\n\\u00e9\"}").Read(&value));
  EXPECT_EQ(-25, value.members[0].second.items[1].number);
  EXPECT_TRUE(value.members[0].second.items[2].boolean);
  EXPECT_EQ("\xF0\x9F\x98\x80\n\xC3\xA9", value.members[1].second.string);
}

// The listing line the TSV gives for one message object, or "" when the object is not one.
std::string TsvLine(const Json& m) {
  const char* names[] = {"index", "unread", "sender", "date", "text"};
  const Json::Kind kinds[] = {Json::Number, Json::Bool, Json::String, Json::String, Json::String};
  if (m.kind != Json::Object || m.members.size() != 5) return "";
  for (int k = 0; k < 5; ++k)
    if (m.members[k].first != names[k] || m.members[k].second.kind != kinds[k]) return "";
  auto escaped = [](const std::string& text) {
    std::string out;
    for (char c : text)
      out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
  };
  const double index = m.members[0].second.number;
  if (index != (double)(long)index) return "";
  return std::to_string((long)index) + "\t" + (m.members[1].second.boolean ? "1" : "0") + "\t" +
         escaped(m.members[2].second.string) + "\t" + escaped(m.members[3].second.string) + "\t" +
         escaped(m.members[4].second.string) + "\n";
}

// Gaps at 3 and 6; tabs, quotes, backslashes, line breaks, a control character and emoji; an
// alphanumeric and an empty sender; a sent message that is not listed.
void AddInbox(sim::Modem& modem, const std::string& storage) {
  modem.AddMessage(storage, {1, "REC UNREAD", "+491701234567", "24/05/01,10:20:30+08", "Hello!\nSee you\r\nat 8"});
  modem.AddMessage(storage, {2, "REC READ", "Vodafone", "24/05/02,08:15:00+08", "say \"hi\"\tC:\\path\\ \x1B[0m"});
  modem.AddMessage(storage, {4, "REC UNREAD", "", "24/05/03,21:00:05+08", "Smile \xF0\x9F\x98\x80 Привет \\n"});
  modem.AddMessage(storage, {5, "STO SENT", "+4930123456", "", "sent earlier"});
  modem.AddMessage(storage, {7, "REC READ", "12345", "24/05/04,07:00:00+08", "\"\\\"\t\r"});
}

RunResult RunOn(const Lines& options, const Lines& args, bool inbox, const std::function<void(sim::Options&)>& change) {
  sim::Options simOptions = SimOptions();
  simOptions.ussdDelayMs = 100;
  if (change) change(simOptions);
  sim::Modem modem(simOptions);
  if (inbox) {
    AddInbox(modem, "SM");
    AddInbox(modem, "ME");
  }
  if (!modem.Start()) {
    ADD_FAILURE() << "openpty failed";
    return {};
  }
  Lines argv = options;
  argv.push_back(modem.SlavePath());
  argv.insert(argv.end(), args.begin(), args.end());
  return RunAtsms(argv);
}

const std::function<void(sim::Options&)> Unchanged;

// want: standard output with -j; null: the listing of the run without it, as one JSON document.
struct JsonCase {
  const char* name;
  Lines args;
  bool inbox;
  std::function<void(sim::Options&)> change;
  int status;
  const char* want;
};
void PrintTo(const JsonCase& c, std::ostream* os) { *os << c.name; }
class JsonOutput : public ::testing::TestWithParam<JsonCase> {};

// Both runs with -q, so the table runs in moments; -q changes no output.
TEST_P(JsonOutput, SameRunAsTheTsv) {
  const JsonCase& c = GetParam();
  const RunResult plain = RunOn({"-q"}, c.args, c.inbox, c.change);
  const RunResult json = RunOn({"-q", c.args[0] == "tel" ? "--json" : "-j"}, c.args, c.inbox, c.change);
  ASSERT_FALSE(plain.timedOut || json.timedOut);
  EXPECT_EQ(c.status, plain.exitStatus) << plain.err;
  EXPECT_EQ(c.status, json.exitStatus) << json.err;
  if (c.args[0] != "ussd") {  // the USSD trace may be split differently
    EXPECT_EQ(plain.err, json.err);
  }
  if (c.want) {
    EXPECT_EQ(c.want, json.out);
    return;
  }
  // One line: the document's own line breaks are all escaped.
  ASSERT_FALSE(json.out.empty());
  EXPECT_EQ(json.out.size() - 1, json.out.find('\n'));
  Json document;
  ASSERT_TRUE(Reader(json.out).Read(&document)) << json.out;
  ASSERT_EQ(Json::Object, document.kind);
  ASSERT_EQ(2u, document.members.size());
  EXPECT_EQ("storage", document.members[0].first);
  EXPECT_EQ(c.args[0] == "tel" ? "ME" : "SM", document.members[0].second.string);
  EXPECT_EQ("messages", document.members[1].first);
  ASSERT_EQ(Json::Array, document.members[1].second.kind);
  std::string listing = ListHeader;
  for (const Json& message : document.members[1].second.items) listing += TsvLine(message);
  EXPECT_EQ(plain.out, listing);
}

const std::string UssdMenu = "1. \"Top\" up\r\n2. \\Exit \xF0\x9F\x98\x80";

INSTANTIATE_TEST_SUITE_P(
    Operations, JsonOutput,
    ::testing::Values(
        JsonCase{"List", {"sim", "list"}, true, Unchanged, 7, nullptr},
        JsonCase{"ListPhone", {"tel", "list"}, true, Unchanged, 7, nullptr},
        JsonCase{"DeleteOne", {"sim", "del", "2"}, true, Unchanged, 7, nullptr},
        // The modem goes away after "AT+CMGR=2": the document is still closed.
        JsonCase{"ModemGone", {"sim", "list"}, true, [](sim::Options& o) { o.hangupAfter = 9; }, 255, nullptr},
        JsonCase{"Empty", {"sim", "list"}, false, Unchanged, 255, "{\"storage\":\"SM\",\"messages\":[]}\n"},
        JsonCase{"EmptyPhone", {"tel", "list"}, false, Unchanged, 255, "{\"storage\":\"ME\",\"messages\":[]}\n"},
        JsonCase{"ListingRefused", {"sim", "list"}, true, [](sim::Options& o) { o.errorOn = "AT+CMGL"; }, 255, ""},
        JsonCase{"TextModeRefused", {"sim", "del", "2"}, true, [](sim::Options& o) { o.errorOn = "AT+CMGF=1"; }, 255,
                 ""},
        JsonCase{"DeleteAll", {"sim", "del", "all"}, true, Unchanged, 7, ""},
        JsonCase{"Send", {"sim", "send", "+491701234567", "Hi"}, false, Unchanged, 0, ResultOk.c_str()},
        JsonCase{"Ussd", {"ussd", "*100#"}, false, Unchanged, 0,
                 "\n{\n \"msg\":\"OK\",\n \"reply\":\"Balance: 12.34 EUR\",\n \"status\":0\n}\n"},
        JsonCase{"UssdMenu", {"ussd", "*100#"}, false,
                 [](sim::Options& o) {
                   o.ussdReply = UssdMenu;
                   o.ussdStatus = 1;
                 },
                 0,
                 "\n{\n \"msg\":\"OK\",\n \"reply\":\"1. \\\"Top\\\" up\\r\\n2. \\\\Exit \xF0\x9F\x98\x80\",\n"
                 " \"status\":1\n}\n"},
        JsonCase{"UssdRefused", {"ussd", "*100#"}, false, [](sim::Options& o) { o.ussdError = true; }, 255,
                 ResultError.c_str()}),
    [](const ::testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.name); });

}  // namespace
