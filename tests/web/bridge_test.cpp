// The bridge's checks, each a table: the fields, the request line and headers, the body, the
// configuration file, the argument vector it builds for atsms, and the JSON it writes.
#include <string.h>

#include <gtest/gtest.h>

#include <string>

#include "web/bridge.h"

namespace {

// --- fields: what atsms would refuse is refused first ---

struct FieldCase {
  const char* field;
  const char* value;
  bool ok;
};
const FieldCase FieldCases[] = {
    {"number", "+491701234567", true},
    {"number", "22222", true},
    {"number", "123456789012345678", true},
    {"number", "+1234567890123456789", false},  // 19 digits
    {"number", "", false},
    {"number", "+", false},
    {"number", "++49", false},
    {"number", "+49;reboot", false},
    {"number", "$(id)", false},
    {"code", "*100#", true},
    {"code", "1", true},
    {"code", "*100*1234567890#", true},
    {"code", "", false},
    {"code", "*100#\r\nAT+CMGD=1,4\r", false},
    {"code", "*100#\x7f", false},
    {"code", "*100#\xc3\xa4", false},
    {"code", "123456789012345678901234567890123456789012345678901234567890123456789012", true},   // 72
    {"code", "1234567890123456789012345678901234567890123456789012345678901234567890123", false},  // 73
    {"index", "0", true},
    {"index", "3", true},
    {"index", "2147483647", true},
    {"index", "2147483648", false},
    {"index", "", false},
    {"index", "3;reboot", false},
    {"id", "0123456789abcdef", true},
    {"id", "0123456789ABCDEF", true},
    {"id", "0123456789abcde", false},
    {"id", "0123456789abcdef0", false},
    {"id", "0123456789abcdeg", false},
    {"id", "", false},
};

TEST(BridgeFields, AsAtsmsTakesThem) {
  for (const FieldCase& c : FieldCases) {
    SCOPED_TRACE(std::string(c.field) + " '" + c.value + "'");
    bool ok = false;
    if (strcmp(c.field, "number") == 0) ok = PhoneNumberOk(c.value);
    if (strcmp(c.field, "code") == 0) ok = UssdCodeOk(c.value);
    if (strcmp(c.field, "index") == 0) ok = IndexOk(c.value);
    if (strcmp(c.field, "id") == 0) ok = IdOk(c.value);
    EXPECT_EQ(c.ok, ok);
  }
}

struct TextCase {
  const char* source;
  std::string text;
  const char* problem;  // nullptr: taken
};
const TextCase TextCases[] = {
    {"plain", "Hello!", nullptr},
    {"Cyrillic and an emoji", "Привет 😀", nullptr},
    {"quotes and a shell's words", "'$(reboot)'; rm -rf / `id`", nullptr},
    {"1023 bytes", std::string(1023, 'a'), nullptr},
    {"1024 bytes", std::string(1024, 'a'), "the text is longer than 1023 bytes"},
    {"empty", "", "the text is empty; nothing sent"},
    {"a lone continuation byte", "a\x80z", "the text is not valid UTF-8"},
    {"cut in the middle of a character", "a\xe2\x82", "the text is not valid UTF-8"},
    {"overlong slash", "\xc0\xaf", "the text is not valid UTF-8"},
    {"encoded surrogate", "\xed\xa0\x80", "the text is not valid UTF-8"},
    {"past U+10FFFF", "\xf4\x90\x80\x80", "the text is not valid UTF-8"},
};

TEST(BridgeFields, Text) {
  for (const TextCase& c : TextCases) {
    SCOPED_TRACE(c.source);
    const char* problem = TextProblem(c.text.c_str());
    if (c.problem == nullptr)
      EXPECT_EQ(nullptr, problem);
    else
      EXPECT_STREQ(c.problem, problem ? problem : "(taken)");
  }
}

TEST(BridgeFields, Storage) {
  EXPECT_TRUE(StorageOk("sim", Op::List));
  EXPECT_TRUE(StorageOk("tel", Op::Delete));
  EXPECT_TRUE(StorageOk("report", Op::DeleteAll));
  EXPECT_FALSE(StorageOk("SIM", Op::List));
  EXPECT_FALSE(StorageOk("ussd", Op::List));
  EXPECT_FALSE(StorageOk("", Op::List));
}

// --- the request line and headers ---

struct RequestCase {
  const char* source;
  const char* method;
  const char* user;
  bool open;
  const char* host;
  const char* origin;
  const char* fetchSite;
  const char* type;
  const char* length;
  int http;  // 0: passed on
};
const RequestCase RequestCases[] = {
    {"an authenticated read", "GET", "root", false, "router", nullptr, nullptr, nullptr, nullptr, 0},
    {"a read from the page itself", "GET", "root", false, "router:8080", "http://router:8080", "same-origin", nullptr,
     nullptr, 0},
    {"an action", "POST", "root", false, "router", "http://router", nullptr, "application/json", "40", 0},
    {"with a charset", "POST", "root", false, "router", "https://ROUTER", nullptr, "application/json; charset=UTF-8",
     "40", 0},
    {"no REMOTE_USER", "GET", nullptr, false, "router", nullptr, nullptr, nullptr, nullptr, 403},
    {"an empty REMOTE_USER", "POST", "", false, "router", nullptr, nullptr, "application/json", "40", 403},
    {"open, on 127.0.0.1", "GET", nullptr, true, "127.0.0.1:8080", nullptr, nullptr, nullptr, nullptr, 0},
    {"open, on localhost", "GET", nullptr, true, "localhost", nullptr, nullptr, nullptr, nullptr, 0},
    {"open, under another name (DNS rebinding)", "GET", nullptr, true, "evil.example:8080", nullptr, nullptr,
     nullptr, nullptr, 403},
    {"open, a port that is no number", "GET", nullptr, true, "127.0.0.1:80x", nullptr, nullptr, nullptr, nullptr,
     403},
    {"open, the name as a prefix", "GET", nullptr, true, "127.0.0.1.evil.example", nullptr, nullptr, nullptr,
     nullptr, 403},
    {"cross-origin POST", "POST", "root", false, "router", "http://evil.example", nullptr, "application/json", "40",
     403},
    {"cross-origin, same host on another port", "POST", "root", false, "router", "http://router:81", nullptr,
     "application/json", "40", 403},
    {"cross-origin read", "GET", "root", false, "router", "http://evil.example", nullptr, nullptr, nullptr, 403},
    {"Origin null (a sandboxed frame)", "POST", "root", false, "router", "null", nullptr, "application/json", "40",
     403},
    {"Origin as a prefix of the host", "POST", "root", false, "router.evil", "http://router", nullptr,
     "application/json", "40", 403},
    {"no Host to compare with", "POST", "root", false, nullptr, "http://router", nullptr, "application/json", "40",
     403},
    {"Sec-Fetch-Site cross-site", "POST", "root", false, "router", nullptr, "cross-site", "application/json", "40",
     403},
    {"Sec-Fetch-Site same-site", "GET", "root", false, "router", nullptr, "same-site", nullptr, nullptr, 403},
    {"a form's POST", "POST", "root", false, "router", nullptr, nullptr, "application/x-www-form-urlencoded", "40",
     415},
    {"text/plain (a CORS simple request)", "POST", "root", false, "router", nullptr, nullptr, "text/plain", "40",
     415},
    {"application/jsonp", "POST", "root", false, "router", nullptr, nullptr, "application/jsonp", "40", 415},
    {"no Content-Type", "POST", "root", false, "router", nullptr, nullptr, nullptr, "40", 415},
    {"no Content-Length", "POST", "root", false, "router", nullptr, nullptr, "application/json", nullptr, 411},
    {"a body of 8192 bytes", "POST", "root", false, "router", nullptr, nullptr, "application/json", "8192", 0},
    {"a body of 8193 bytes", "POST", "root", false, "router", nullptr, nullptr, "application/json", "8193", 413},
    {"a body of 100 KB", "POST", "root", false, "router", nullptr, nullptr, "application/json", "102400", 413},
    {"a length past any number", "POST", "root", false, "router", nullptr, nullptr, "application/json",
     "99999999999999999999999999", 413},
    {"a length that is no number", "POST", "root", false, "router", nullptr, nullptr, "application/json", "4O", 400},
    {"PUT", "PUT", "root", false, "router", nullptr, nullptr, "application/json", "40", 405},
    {"DELETE", "DELETE", "root", false, "router", nullptr, nullptr, nullptr, nullptr, 405},
    {"no method", nullptr, "root", false, "router", nullptr, nullptr, nullptr, nullptr, 405},
};

TEST(BridgeRequest, LineAndHeaders) {
  for (const RequestCase& c : RequestCases) {
    SCOPED_TRACE(c.source);
    CgiRequest request;
    request.method = c.method;
    request.remoteUser = c.user;
    request.host = c.host;
    request.origin = c.origin;
    request.fetchSite = c.fetchSite;
    request.contentType = c.type;
    request.contentLength = c.length;
    WebConfig config;
    config.open = c.open;
    size_t length = 0;
    Refusal refusal;
    const int result = CheckRequest(request, config, &length, &refusal);
    EXPECT_EQ(c.http == 0 ? 0 : -1, result);
    EXPECT_EQ(c.http, result == 0 ? 0 : refusal.http);
    EXPECT_NE(nullptr, refusal.message);
  }
}

// --- the body of an action, and the query of a read ---

struct BodyCase {
  const char* source;
  const char* body;
  int http;           // 0: taken
  const char* field;  // the member a refusal names
};
const BodyCase BodyCases[] = {
    {"send", R"({"op":"send","number":"+491701234567","text":"Hi"})", 0, ""},
    {"send with both boxes", R"({"op":"send","number":"22222","text":"Hi","gsm7":true,"report":false})", 0, ""},
    {"delete", R"({"op":"delete","storage":"sim","index":3,"id":"0123456789ABCDEF"})", 0, ""},
    {"delete a report", R"({"op":"delete","storage":"report","index":0,"id":"0123456789abcdef"})", 0, ""},
    {"delete all", R"( { "op" : "delete_all" , "storage" : "tel" } )", 0, ""},
    {"ussd", R"({"op":"ussd","code":"*100#"})", 0, ""},
    {"escapes in the text", R"({"op":"send","number":"1","text":"a\"b\\c\/d\n\ud83d\ude00\u00e4"})", 0, ""},
    {"hostile number ;reboot", R"({"op":"send","number":"+49;reboot","text":"Hi"})", 400, "number"},
    {"hostile number $(id)", R"j({"op":"send","number":"$(id)","text":"Hi"})j", 400, "number"},
    {"number as a number", R"({"op":"send","number":491701234567,"text":"Hi"})", 400, "number"},
    {"number too long to hold", R"({"op":"send","number":"+49170123456789012345678","text":"Hi"})", 400, "number"},
    {"empty text", R"({"op":"send","number":"1","text":""})", 400, "text"},
    {"text with a NUL", R"({"op":"send","number":"1","text":"a\u0000b"})", 400, "text"},
    {"text with a lone surrogate", R"({"op":"send","number":"1","text":"a\ud83d"})", 400, "text"},
    {"text with a lone low surrogate", R"({"op":"send","number":"1","text":"\ude00"})", 400, "text"},
    {"text with a raw line feed", "{\"op\":\"send\",\"number\":\"1\",\"text\":\"a\nb\"}", 400, "text"},
    {"text that is not UTF-8", "{\"op\":\"send\",\"number\":\"1\",\"text\":\"a\xff\"}", 400, "text"},
    {"hostile USSD code", R"({"op":"ussd","code":"*100#\r\nAT+CMGD=1,4\r"})", 400, "code"},
    {"USSD code $(id)", R"j({"op":"ussd","code":"$(id)"})j", 0, ""},  // printable: atsms packs it, no shell sees it
    {"empty USSD code", R"({"op":"ussd","code":""})", 400, "code"},
    {"index as a string", R"({"op":"delete","storage":"sim","index":"3","id":"0123456789abcdef"})", 400, "index"},
    {"negative index", R"({"op":"delete","storage":"sim","index":-1,"id":"0123456789abcdef"})", 400, "index"},
    {"fractional index", R"({"op":"delete","storage":"sim","index":3.5,"id":"0123456789abcdef"})", 400, "index"},
    {"index past int", R"({"op":"delete","storage":"sim","index":2147483648,"id":"0123456789abcdef"})", 400, "index"},
    {"short id", R"({"op":"delete","storage":"sim","index":3,"id":"0123"})", 400, "id"},
    {"id ;reboot", R"({"op":"delete","storage":"sim","index":3,"id":"01234567;reboot"})", 400, "id"},
    {"delete without id", R"({"op":"delete","storage":"sim","index":3})", 400, "id"},
    {"delete without index", R"({"op":"delete","storage":"sim","id":"0123456789abcdef"})", 400, "index"},
    {"unknown storage", R"({"op":"delete_all","storage":"ME"})", 400, "storage"},
    {"a member of another op", R"({"op":"ussd","code":"*100#","number":"1"})", 400, "number"},
    {"storage for a send", R"({"op":"send","number":"1","text":"Hi","storage":"tel"})", 400, "storage"},
    {"gsm7 as a string", R"({"op":"send","number":"1","text":"Hi","gsm7":"yes"})", 400, "gsm7"},
    {"a member twice", R"({"op":"send","number":"1","number":"2","text":"Hi"})", 400, "number"},
    {"an unknown member", R"({"op":"send","number":"1","text":"Hi","port":"/dev/ttyUSB0"})", 400, ""},
    {"no op", R"({"number":"1","text":"Hi"})", 400, "op"},
    {"an unknown op", R"({"op":"reboot"})", 400, "op"},
    {"a read as a POST", R"({"op":"list","storage":"sim"})", 405, "op"},
    {"an array", R"([{"op":"ussd","code":"*100#"}])", 400, ""},
    {"two objects", R"({"op":"ussd","code":"*100#"}{})", 400, ""},
    {"cut short", R"({"op":"ussd","code":"*100#")", 400, ""},
    {"a form's body", "op=send&number=1&text=Hi", 400, ""},
    {"empty", "", 400, ""},
};

TEST(BridgeBody, Members) {
  for (const BodyCase& c : BodyCases) {
    SCOPED_TRACE(c.source);
    Action action;
    Refusal refusal;
    const int result = ParseBody(c.body, strlen(c.body), &action, &refusal);
    EXPECT_EQ(c.http == 0 ? 0 : -1, result);
    if (result < 0) {
      EXPECT_EQ(c.http, refusal.http) << refusal.message;
      EXPECT_STREQ(c.field, refusal.field) << refusal.message;
    }
  }
}

TEST(BridgeBody, DecodesTheText) {
  const char body[] = R"({"op":"send","number":"1","text":"a\"b\\c\/d\n\ud83d\ude00\u00e4"})";
  Action action;
  Refusal refusal;
  ASSERT_EQ(0, ParseBody(body, strlen(body), &action, &refusal)) << refusal.message;
  EXPECT_STREQ("a\"b\\c/d\n\xf0\x9f\x98\x80\xc3\xa4", action.text);
  EXPECT_STREQ("'a\"b\\c/d\n\xf0\x9f\x98\x80\xc3\xa4'", action.quotedText);
}

TEST(BridgeBody, LongestTextAndOneByteMore) {
  for (size_t length : {(size_t)1023, (size_t)1024}) {
    const std::string body = R"({"op":"send","number":"1","text":")" + std::string(length, 'x') + "\"}";
    Action action;
    Refusal refusal;
    const int result = ParseBody(body.data(), body.size(), &action, &refusal);
    EXPECT_EQ(length == 1023 ? 0 : -1, result) << length;
    if (result < 0) {
      EXPECT_STREQ("the text is longer than 1023 bytes", refusal.message);
    }
  }
}

const BodyCase QueryCases[] = {
    {"list the SIM", "op=list&storage=sim", 0, ""},
    {"list the reports", "storage=report&op=list", 0, ""},
    {"no storage", "op=list", 400, "storage"},
    {"an action as a GET", "op=delete_all&storage=sim", 405, "op"},
    {"send as a GET", "op=send&number=1&text=Hi", 400, ""},  // its members are no query words
    {"ussd as a GET", "op=ussd", 405, "op"},
    {"an escaped word", "op=list&storage=s%69m", 400, ""},
    {"a storage word of atsms's own", "op=list&storage=ussd", 400, "storage"},
    {"a word twice", "op=list&storage=sim&storage=tel", 400, ""},
    {"no query", "", 400, "op"},
};

TEST(BridgeQuery, Words) {
  for (const BodyCase& c : QueryCases) {
    SCOPED_TRACE(c.source);
    Action action;
    Refusal refusal;
    const int result = ParseQuery(c.body, &action, &refusal);
    EXPECT_EQ(c.http == 0 ? 0 : -1, result);
    if (result < 0) {
      EXPECT_EQ(c.http, refusal.http) << refusal.message;
      EXPECT_STREQ(c.field, refusal.field) << refusal.message;
    }
  }
}

// --- the configuration file ---

struct ConfigCase {
  const char* source;
  const char* text;
  const char* port;  // nullptr: refused
  const char* wait;
  bool quick;
  bool open;
  const char* atsms;
};
const ConfigCase ConfigCases[] = {
    {"the documented example",
     "config modem 'usb2'                      # one section per modem\n"
     "    option enabled '0'\n"
     "    option port '/dev/ttyUSB2'\n"
     "    option storage 'sim'\n"
     "    option wait '30'\n"
     "    option quick '1'\n"
     "    option spool '/var/spool/atsms/usb2'\n"
     "    option command ''\n"
     "\n"
     "config web 'web'\n"
     "    option modem 'usb2'                  # the modem section the page uses\n"
     "    option open '0'\n"
     "    option atsms '/usr/bin/atsms'\n",
     "/dev/ttyUSB2", "30", true, false, "/usr/bin/atsms"},
    {"the web section names the second modem",
     "config web\n\toption modem usb3\n\toption open 1\n"
     "config modem 'usb2'\n\toption port '/dev/ttyUSB2'\n"
     "config modem \"usb3\"\n\toption port \"/dev/ttyUSB3\"\n\toption quick 'yes'\n",
     "/dev/ttyUSB3", "10", true, true, "/usr/bin/atsms"},
    {"no web section: the first modem, closed",
     "# comment\nconfig modem 'a'\n  option port '/dev/ttyACM0'\n  option wait 0\nconfig modem 'b'\n  option port '/x'\n",
     "/dev/ttyACM0", "0", false, false, "/usr/bin/atsms"},
    {"CR LF line ends",
     "config modem 'a'\r\n  option port '/dev/ttyUSB1'\r\nconfig web\r\n  option atsms '/opt/atsms'\r\n",
     "/dev/ttyUSB1", "10", false, false, "/opt/atsms"},
    {"a named modem that is not there", "config web\n option modem 'usb9'\nconfig modem 'usb2'\n option port '/p'\n",
     nullptr, "", false, false, ""},
    {"no modem section", "config web 'web'\n option open '1'\n", nullptr, "", false, false, ""},
    {"no port", "config modem 'a'\n option wait '5'\n", nullptr, "", false, false, ""},
    {"a relative port", "config modem 'a'\n option port 'ttyUSB2'\n", nullptr, "", false, false, ""},
    {"a relative atsms", "config modem 'a'\n option port '/p'\nconfig web\n option atsms 'atsms'\n", nullptr, "",
     false, false, ""},
    {"a wait past 3600", "config modem 'a'\n option port '/p'\n option wait '3601'\n", nullptr, "", false, false, ""},
    {"a wait that is no number", "config modem 'a'\n option port '/p'\n option wait '1; reboot'\n", nullptr, "",
     false, false, ""},
    {"an open quote", "config modem 'a'\n option port '/dev/ttyUSB2\n", nullptr, "", false, false, ""},
};

TEST(BridgeConfig, Sections) {
  for (const ConfigCase& c : ConfigCases) {
    SCOPED_TRACE(c.source);
    WebConfig config;
    const char* problem = "";
    const int result = ReadConfig(c.text, strlen(c.text), &config, &problem);
    if (!c.port) {
      EXPECT_EQ(-1, result);
      EXPECT_STRNE("", problem);
      continue;
    }
    ASSERT_EQ(0, result) << problem;
    EXPECT_STREQ(c.port, config.port);
    EXPECT_STREQ(c.wait, config.wait);
    EXPECT_EQ(c.quick, config.quick);
    EXPECT_EQ(c.open, config.open);
    EXPECT_STREQ(c.atsms, config.atsms);
  }
}

bool OnlyOpenWrt(const char* path) { return strcmp(path, "/etc/config/atsms") == 0; }
bool Nothing(const char*) { return false; }

TEST(BridgeConfig, Path) {
  EXPECT_STREQ("/tmp/test.conf", ConfigPath("/tmp/test.conf", OnlyOpenWrt));
  EXPECT_STREQ("/etc/config/atsms", ConfigPath(nullptr, OnlyOpenWrt));
  EXPECT_STREQ("/etc/config/atsms", ConfigPath("", OnlyOpenWrt));
  EXPECT_STREQ("/etc/atsms/atsms.conf", ConfigPath(nullptr, Nothing));
}

// --- atsms's argument vector ---

struct ArgumentsCase {
  const char* source;
  bool quick;
  const char* request;  // a body, or a query when it starts with "op="
  const char* argv;     // joined with '|'
};
const ArgumentsCase ArgumentsCases[] = {
    {"list", true, "op=list&storage=sim", "/usr/bin/atsms|-q|-j|-w|30|--join|--|/dev/ttyUSB2|sim|list"},
    {"list without quick", false, "op=list&storage=tel", "/usr/bin/atsms|-j|-w|30|--join|--|/dev/ttyUSB2|tel|list"},
    {"reports", true, "op=list&storage=report", "/usr/bin/atsms|-q|-j|-w|30|--join|--|/dev/ttyUSB2|report|list"},
    {"send", true, R"({"op":"send","number":"+4917","text":"-q 'hi'"})",
     "/usr/bin/atsms|-q|-j|-w|30|--|/dev/ttyUSB2|sim|send|+4917|'-q 'hi''"},
    {"send, GSM 7-bit and a report", true,
     R"({"op":"send","number":"+4917","text":"Hi","gsm7":true,"report":true})",
     "/usr/bin/atsms|-q|-j|-w|30|--gsm7|--report|--|/dev/ttyUSB2|sim|send|+4917|'Hi'"},
    {"delete", true, R"({"op":"delete","storage":"tel","index":7,"id":"ABCDEF0123456789"})",
     "/usr/bin/atsms|-q|-j|-w|30|--join|--id|abcdef0123456789|--|/dev/ttyUSB2|tel|del|7"},
    {"delete all", false, R"({"op":"delete_all","storage":"sim"})",
     "/usr/bin/atsms|-j|-w|30|--|/dev/ttyUSB2|sim|del|all"},
    {"ussd", true, R"({"op":"ussd","code":"*100#"})", "/usr/bin/atsms|-q|-j|-w|30|--|/dev/ttyUSB2|ussd|*100#"},
    {"a USSD code like an option", true, R"({"op":"ussd","code":"--help"})",
     "/usr/bin/atsms|-q|-j|-w|30|--|/dev/ttyUSB2|ussd|--help"},
};

TEST(BridgeArguments, FromConfigAndRequest) {
  for (const ArgumentsCase& c : ArgumentsCases) {
    SCOPED_TRACE(c.source);
    WebConfig config;
    strcpy(config.port, "/dev/ttyUSB2");
    strcpy(config.wait, "30");
    config.quick = c.quick;
    Action action;
    Refusal refusal;
    const int parsed = strncmp(c.request, "op=", 3) == 0 ? ParseQuery(c.request, &action, &refusal)
                                                          : ParseBody(c.request, strlen(c.request), &action, &refusal);
    ASSERT_EQ(0, parsed) << refusal.message;
    const char* argv[24];
    const int count = BuildArguments(config, action, argv, 24);
    ASSERT_GT(count, 0);
    EXPECT_EQ(nullptr, argv[count]);
    std::string joined;
    for (int i = 0; i < count; ++i) joined += (i ? "|" : "") + std::string(argv[i]);
    EXPECT_EQ(c.argv, joined);
  }
}

TEST(BridgeArguments, TooSmallAVectorIsRefused) {
  WebConfig config;
  Action action;
  action.op = Op::Ussd;
  strcpy(action.code, "*100#");
  const char* argv[6];
  EXPECT_EQ(-1, BuildArguments(config, action, argv, 6));
}

// --- JSON out ---

struct JsonCase {
  const char* text;
  bool valid;
};
const JsonCase JsonCases[] = {
    {R"({"storage":"SM","messages":[]})", true},
    {"\n{\n \"msg\":\"OK\",\n \"references\":[17,null]\n}\n", true},
    {R"({"a":[1,-2.5e+3,true,false,null,"\u00e4\n"]})", true},
    {R"({"storage":"SM","messages":[{"index":1,"text":"cut)", false},
    {R"({"a":1,})", false},
    {R"({"a":01})", false},
    {R"({"a":"\x"})", false},
    {"{\"a\":\"raw\nline\"}", false},
    {R"({"a":1}{"b":2})", false},
    {"", false},
    {"atsms: usage", false},
    {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]", false},  // too deep
};

TEST(BridgeJson, Valid) {
  for (const JsonCase& c : JsonCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.valid, ValidJson(c.text, strlen(c.text)));
  }
}

struct StringCase {
  std::string text;
  const char* json;
};
const StringCase StringCases[] = {
    {"plain", "\"plain\""},
    {"a\"b\\c", R"("a\"b\\c")"},
    {"line\nfeed\x1b[31m\x7f", R"("line\u000afeed\u001b[31m\u007f")"},
    {"Привет 😀", "\"Привет 😀\""},
    {"bad \xff byte", "\"bad \xef\xbf\xbd byte\""},
    {"cut \xe2\x82", "\"cut \xef\xbf\xbd\xef\xbf\xbd\""},
    {"<img src=x onerror=alert(1)>", "\"<img src=x onerror=alert(1)>\""},
};

TEST(BridgeJson, Strings) {
  for (const StringCase& c : StringCases) {
    char buffer[128];
    JsonSink sink{buffer, sizeof buffer};
    PutJsonString(&sink, c.text.data(), c.text.size());
    EXPECT_FALSE(sink.full);
    EXPECT_STREQ(c.json, buffer);
    EXPECT_TRUE(ValidJson(buffer, sink.used));
  }
}

TEST(BridgeJson, AFullSinkWritesNothingHalf) {
  char buffer[8];
  memset(buffer, 0xAA, sizeof buffer);
  JsonSink sink{buffer, 6};
  Put(&sink, "abc");
  Put(&sink, "defg");  // does not fit: nothing of it
  EXPECT_TRUE(sink.full);
  EXPECT_STREQ("abc", buffer);
  EXPECT_EQ((char)0xAA, buffer[6]);
  EXPECT_EQ((char)0xAA, buffer[7]);
}

struct AnswerCase {
  const char* source;
  const char* output;
  bool cut;
  int status;
  const char* reason;
  const char* answer;
};
const AnswerCase AnswerCases[] = {
    {"a listing", "{\"storage\":\"SM\",\"messages\":[]}\n", false, 255, "",
     "{\"result\":{\"storage\":\"SM\",\"messages\":[]},\"status\":255}\n"},
    {"a send's block", "\n{\n \"msg\":\"OK\"\n}\n", false, 0, "",
     "{\"result\":\n{\n \"msg\":\"OK\"\n},\"status\":0}\n"},
    {"nothing printed, a reason", "", false, 255, "the modem does not answer on /dev/ttyUSB2",
     "{\"result\":null,\"status\":255,\"error\":\"the modem does not answer on /dev/ttyUSB2\"}\n"},
    {"a document cut short", "{\"storage\":\"SM\",\"messages\":[{\"index\":1", false, 143, "",
     "{\"result\":null,\"status\":143,\"error\":\"the output of atsms was cut short or is no JSON\"}\n"},
    {"more than the buffer held", "{\"storage\":\"SM\",\"messages\":[]}", true, 1, "",
     "{\"result\":null,\"status\":1,\"error\":\"the output of atsms was cut short or is no JSON\"}\n"},
    {"a reason with quotes and controls", "", false, 255, "refused \"x\"\x1b",
     "{\"result\":null,\"status\":255,\"error\":\"refused \\\"x\\\"\\u001b\"}\n"},
};

TEST(BridgeJson, Answer) {
  for (const AnswerCase& c : AnswerCases) {
    SCOPED_TRACE(c.source);
    char buffer[512];
    JsonSink sink{buffer, sizeof buffer};
    const size_t start = StartAnswer(&sink);
    Put(&sink, c.output);
    FinishAnswer(&sink, start, c.cut, c.status, c.reason);
    EXPECT_STREQ(c.answer, buffer);
    EXPECT_TRUE(ValidJson(buffer, sink.used));
  }
}

TEST(BridgeJson, Refusal) {
  char buffer[256];
  JsonSink sink{buffer, sizeof buffer};
  Refusal refusal;
  refusal.http = 400;
  refusal.message = "the id must be 16 hex digits";
  refusal.field = "id";
  PutRefusal(&sink, refusal);
  EXPECT_STREQ("{\"error\":\"the id must be 16 hex digits\",\"field\":\"id\"}\n", buffer);
}

// --- the reason from atsms's standard error ---

struct ReasonCase {
  const char* source;
  const char* err;
  const char* reason;
  bool fromAtsms;
};
const ReasonCase ReasonCases[] = {
    {"one line", "atsms: the modem does not answer on /dev/ttyUSB2; is it the AT-command port?\n",
     "the modem does not answer on /dev/ttyUSB2; is it the AT-command port?", true},
    {"the USSD trace, then the line",
     "AT+CUSD=1,\"AA180C3602\",15\n\nOK\n - 10\nUSSD reply: x\natsms: the network sent no reply\n",
     "the network sent no reply", true},
    {"the last of two atsms lines", "atsms: first\natsms: second\nSendCmd error. 5-Input/output error\n", "second",
     true},
    {"the errno line alone", "2(No such file or directory)\n", "2(No such file or directory)", false},
    {"no line end at the end", "atsms: cut", "cut", true},
    {"nothing", "", "", false},
};

TEST(BridgeReason, LastAtsmsLine) {
  for (const ReasonCase& c : ReasonCases) {
    SCOPED_TRACE(c.source);
    ReasonReader reader;
    for (const char* p = c.err; *p; ++p) ReadReason(&reader, p, 1);  // as it may come, byte by byte
    EndReason(&reader);
    EXPECT_STREQ(c.reason, reader.reason);
    EXPECT_EQ(c.fromAtsms, reader.fromAtsms);
  }
}

TEST(BridgeReason, ALongLineIsCutNotOverrun) {
  ReasonReader reader;
  const std::string line = "atsms: " + std::string(2000, 'x') + "\n";
  ReadReason(&reader, line.data(), line.size());
  EXPECT_EQ(sizeof reader.line - 1 - 7, strlen(reader.reason));
}

// --- running a program ---

TEST(BridgeRun, OutputStatusAndReason) {
  const char* argv[] = {"/bin/sh", "-c", "printf '{\"a\":1}\\n'; echo 'atsms: refused' >&2; exit 3", nullptr};
  char output[64];
  size_t length = 0;
  bool cut = true;
  ReasonReader reader;
  EXPECT_EQ(3, RunAtsms(argv, output, sizeof output, &length, &cut, &reader));
  EXPECT_EQ("{\"a\":1}\n", std::string(output, length));
  EXPECT_FALSE(cut);
  EXPECT_STREQ("refused", reader.reason);
}

TEST(BridgeRun, OutputPastTheBufferIsCut) {
  const char* argv[] = {"/bin/sh", "-c", "head -c 100000 /dev/zero | tr '\\0' x", nullptr};
  char output[1000];
  size_t length = 0;
  bool cut = false;
  ReasonReader reader;
  EXPECT_EQ(0, RunAtsms(argv, output, sizeof output, &length, &cut, &reader));
  EXPECT_EQ(sizeof output - 1, length);
  EXPECT_TRUE(cut);
}

TEST(BridgeRun, SignalAndMissingProgram) {
  const char* killed[] = {"/bin/sh", "-c", "kill -TERM $$", nullptr};
  char output[16];
  size_t length = 0;
  bool cut = false;
  ReasonReader reader;
  EXPECT_EQ(128 + 15, RunAtsms(killed, output, sizeof output, &length, &cut, &reader));
  const char* missing[] = {"/nonexistent/atsms", "-j", nullptr};
  ReasonReader again;
  EXPECT_EQ(-1, RunAtsms(missing, output, sizeof output, &length, &cut, &again));
  EXPECT_STREQ("cannot run /nonexistent/atsms: No such file or directory", again.reason);
}

TEST(BridgeRun, NoShellSeesTheArguments) {
  // The arguments reach the program as they are: nothing expands $(...), ; or quotes.
  const char* argv[] = {"/bin/echo", "$(id);reboot", "'x'", "`id`", nullptr};
  char output[64];
  size_t length = 0;
  bool cut = false;
  ReasonReader reader;
  EXPECT_EQ(0, RunAtsms(argv, output, sizeof output, &length, &cut, &reader));
  EXPECT_EQ("$(id);reboot 'x' `id`\n", std::string(output, length));
}

}  // namespace
