// JSON output (-j) against the simulated modem: what it prints parses as JSON and carries the same
// messages as the tab-separated listing of the same run without it.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace e2e;

// Python's json module reads the document strictly (UTF-8, escapes, no bare control characters,
// the names in this order, an id of 16 hex digits for each message, no two alike) and writes back
// the storage, then the TSV listing of its messages, then the "error" member when there is one.
const char ReadBack[] = R"py(
import json, os, sys
doc = json.loads(os.fsencode(sys.argv[1]).decode('utf-8'), object_pairs_hook=lambda pairs: pairs)
named = {'\\': '\\\\', '\t': '\\t', '\r': '\\r', '\n': '\\n'}
def esc1(c):
    if c in named: return named[c]
    o = ord(c)
    if o < 0x20 or o == 0x7f: return '\\x%02x' % o
    if 0x80 <= o <= 0x9f: return '\\u%04x' % o
    return c
esc = lambda s: ''.join(esc1(c) for c in s)
assert [name for name, _ in doc] in (['storage', 'messages'], ['storage', 'messages', 'error'])
out = doc[0][1] + '\nnum\ttype\tsender\tdate\tmsg\n'
ids = set()
for m in doc[1][1]:
    assert [name for name, _ in m] == ['index', 'id', 'unread', 'sender', 'date', 'text']
    index, id, unread, sender, date, text = (value for _, value in m)
    assert type(index) is int and type(unread) is bool
    assert len(id) == 16 and set(id) <= set('0123456789abcdef') and id not in ids
    ids.add(id)
    out += '%d\t%d\t%s\t%s\t%s\n' % (index, unread, esc(sender), esc(date), esc(text))
if len(doc) == 3:
    out += 'error: ' + doc[2][1] + '\n'
sys.stdout.buffer.write(out.encode('utf-8'))
)py";

// Gaps at 3 and 6; tabs, quotes, backslashes, line breaks, a control character and emoji; an
// alphanumeric and an empty sender; a sent message that is not listed.
void AddInbox(sim::Modem& modem, const std::string& storage) {
  modem.AddMessage(storage, {1, "REC UNREAD", "+491701234567", "24/05/01,10:20:30+08", "Hello!\nSee you\r\nat 8"});
  modem.AddMessage(storage, {2, "REC READ", "Vodafone", "24/05/02,08:15:00+08", "say \"hi\"\tC:\\path\\ \x1B[0m"});
  modem.AddMessage(storage, {4, "REC UNREAD", "", "24/05/03,21:00:05+08", "Smile \xF0\x9F\x98\x80 Привет \\n"});
  modem.AddMessage(storage, {5, "STO SENT", "+4930123456", "", "sent earlier"});
  modem.AddMessage(storage, {7, "REC READ", "12345", "24/05/04,07:00:00+08", "\"\\\"\t\r"});
}

// want: standard output with -j; null: the listing of the run without it, as one JSON document.
struct JsonCase {
  const char* name;
  Lines args;
  bool inbox;                       // the messages above in both storages; else none
  void (*change)(sim::Options& o);  // may be null
  int status;
  const char* want;
  bool textMode = false;  // the case needs the reads in text mode, which -q leaves out
  const char* error = nullptr;  // the document's "error" member, when the case has one
};
void PrintTo(const JsonCase& c, std::ostream* os) { *os << c.name; }

// With -q, so the table runs in moments (-q changes no output), unless the case needs text mode.
RunResult RunOn(const JsonCase& c, const char* json) {
  sim::Options options = SimOptions();
  options.ussdDelayMs = 100;
  if (c.change) c.change(options);
  sim::Modem modem(options);
  for (const char* storage : {"SM", "ME"})
    if (c.inbox) AddInbox(modem, storage);
  if (!modem.Start()) {
    ADD_FAILURE() << "openpty failed";
    return {};
  }
  Lines argv;
  if (!c.textMode) argv.push_back("-q");
  if (json) argv.push_back(json);
  argv.push_back(modem.SlavePath());
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  return RunAtsms(argv);
}

class JsonOutput : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonOutput, SameRunAsTheTsv) {
  const JsonCase& c = GetParam();
  const RunResult plain = RunOn(c, nullptr);
  const RunResult json = RunOn(c, c.args[0] == "tel" ? "--json" : "-j");
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
  EXPECT_EQ(json.out.size() - 1, json.out.find('\n'));
  const RunResult read = RunProgram({"/usr/bin/env", "python3", "-c", ReadBack, json.out});
  EXPECT_EQ(0, read.exitStatus) << read.err;
  EXPECT_EQ((c.args[0] == "tel" ? "ME\n" : "SM\n") + plain.out + (c.error ? "error: " + std::string(c.error) + "\n" : ""),
            read.out);
}

void ModemGoneAfterSecondRead(sim::Options& o) { o.hangupAfter = 9; }  // after "AT+CMGR=2"
void ListingRefused(sim::Options& o) { o.errorOn = "AT+CMGL"; }
void TextModeRefused(sim::Options& o) { o.errorOn = "AT+CMGF=1"; }
void DeletionRefused(sim::Options& o) { o.errorOn = "AT+CMGD"; }
void UssdMenu(sim::Options& o) {
  o.ussdReply = "1. \"Top\" up\r\n2. \\Exit \xF0\x9F\x98\x80";
  o.ussdStatus = 1;
}
void UssdRefused(sim::Options& o) { o.ussdError = true; }

INSTANTIATE_TEST_SUITE_P(
    Operations, JsonOutput,
    ::testing::Values(
        JsonCase{"List", {"sim", "list"}, true, nullptr, 7, nullptr},
        JsonCase{"ListPhone", {"tel", "list"}, true, nullptr, 7, nullptr},
        JsonCase{"DeleteOne", {"sim", "del", "2"}, true, nullptr, 7, nullptr},
        JsonCase{"DeleteRefused", {"sim", "del", "2"}, true, DeletionRefused, 255, nullptr, false,
                 "the modem refused AT+CMGD=2: ERROR"},
        JsonCase{"ModemGone", {"sim", "list"}, true, ModemGoneAfterSecondRead, 255, nullptr, true},  // still closed
        JsonCase{"Empty", {"sim", "list"}, false, nullptr, 255, "{\"storage\":\"SM\",\"messages\":[]}\n"},
        JsonCase{"EmptyPhone", {"tel", "list"}, false, nullptr, 255, "{\"storage\":\"ME\",\"messages\":[]}\n"},
        JsonCase{"ListingRefused", {"sim", "list"}, true, ListingRefused, 255, ""},
        JsonCase{"TextModeRefused", {"sim", "del", "2"}, true, TextModeRefused, 255, "", true},
        JsonCase{"DeleteAll", {"sim", "del", "all"}, true, nullptr, 7, ""},
        JsonCase{"Send", {"sim", "send", "+491701234567", "Hi"}, false, nullptr, 0, ResultOk.c_str()},
        JsonCase{"Ussd", {"ussd", "*100#"}, false, nullptr, 0,
                 "\n{\n \"msg\":\"OK\",\n \"form\":\"packed\",\n \"reply\":\"Balance: 12.34 EUR\",\n \"status\":0\n}\n"},
        JsonCase{"UssdMenu", {"ussd", "*100#"}, false, UssdMenu, 0,
                 "\n{\n \"msg\":\"OK\",\n \"form\":\"packed\",\n"
                 " \"reply\":\"1. \\\"Top\\\" up\\r\\n2. \\\\Exit \xF0\x9F\x98\x80\",\n \"status\":1\n}\n"},
        JsonCase{"UssdRefused", {"ussd", "*100#"}, false, UssdRefused, 255,
                 "\n{\n \"msg\":\"ERROR\",\n \"form\":\"text\"\n}\n"}),
    [](const ::testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.name); });

}  // namespace
