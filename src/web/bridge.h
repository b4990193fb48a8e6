// The web page's bridge: a CGI program between the web server and atsms. It checks the request
// and every field in it, builds atsms's argument vector from the configuration and the checked
// fields, runs atsms (never a shell) and answers with its -j output and exit status as JSON.
// Fixed buffers, no heap; every function here but RunAtsms is pure, for the tests.
#pragma once

#include <stddef.h>

// Bounds of what a request may carry.
constexpr size_t MaxBodySize = 8192;      // a longer body gets 413
constexpr size_t TextSize = 1024;         // atsms takes at most 1023 bytes of text
constexpr size_t NumberSize = 20;         // '+' and 18 digits
constexpr size_t UssdCodeSize = 73;       // atsms packs at most 72 characters
constexpr size_t IdSize = 17;             // 16 hex digits
constexpr size_t IndexSize = 11;          // up to 2147483647
constexpr size_t WordSize = 16;           // op and storage
constexpr size_t PathSize = 256;          // port and binary paths in the configuration

// Why a request is refused: the HTTP status, a fixed text (never built from the request) and the
// member it is about ("" for the request as a whole).
struct Refusal {
  int http = 0;
  const char* message = "";
  const char* field = "";
};

enum class Op { None, List, Send, Delete, DeleteAll, Ussd };

// What one request asks for, its fields checked.
struct Action {
  Op op = Op::None;
  char storage[WordSize] = "";  // sim, tel or report
  char number[NumberSize + 1] = "";
  char text[TextSize + 1] = "";  // one byte more than atsms takes, to say that it is too long
  char quotedText[TextSize + 2] = "";  // 'text': atsms unwraps one pair of quotes, so text arrives as typed
  bool gsm7 = false;
  bool report = false;
  char code[UssdCodeSize + 1] = "";
  char index[IndexSize] = "";  // decimal digits
  char id[IdSize] = "";        // lower case
};

// What the configuration file says for the page.
struct WebConfig {
  char port[PathSize] = "";
  char atsms[PathSize] = "/usr/bin/atsms";
  char wait[8] = "10";  // -w SECONDS: a page's run waits its turn behind the service's
  bool quick = false;
  bool open = false;  // answer without REMOTE_USER
};

// The request as the web server hands it over (CGI environment variables; null when not set).
struct CgiRequest {
  const char* method = nullptr;       // REQUEST_METHOD
  const char* query = nullptr;        // QUERY_STRING
  const char* contentType = nullptr;  // CONTENT_TYPE
  const char* contentLength = nullptr;
  const char* remoteUser = nullptr;   // REMOTE_USER
  const char* origin = nullptr;       // HTTP_ORIGIN
  const char* host = nullptr;         // HTTP_HOST
  const char* fetchSite = nullptr;    // HTTP_SEC_FETCH_SITE
};

// Field checks: true when atsms would take the value. Each mirrors atsms's own check.
bool PhoneNumberOk(const char* number);           // 1 to 18 digits after an optional '+'
const char* TextProblem(const char* text);        // nullptr, or why atsms would refuse the text
bool UssdCodeOk(const char* code);                // 1 to 72 printable ASCII characters
bool IndexOk(const char* digits);                 // 0 to 2147483647, digits only
bool IdOk(const char* id);                        // exactly 16 hex digits
bool StorageOk(const char* storage, Op op);       // sim, tel (and report for lists and deletions)

// The request line and headers: 0, or -1 with refusal set. Checks the method, the user, the
// Origin, and for a POST its Content-Type and length (*bodyLength is set from CONTENT_LENGTH).
int CheckRequest(const CgiRequest& request, const WebConfig& config, size_t* bodyLength, Refusal* refusal);
// True when origin (scheme://host[:port]) names host (HTTP_HOST) exactly, letters in any case.
bool SameOrigin(const char* origin, const char* host);
// True for 127.0.0.1, [::1] and localhost, with or without a port.
bool LoopbackHost(const char* host);

// A GET's query (op=list&storage=sim): 0 and action filled, or -1 and refusal.
int ParseQuery(const char* query, Action* action, Refusal* refusal);
// A POST's JSON body (one flat object): 0 and action filled and checked, or -1 and refusal.
int ParseBody(const char* body, size_t length, Action* action, Refusal* refusal);

// Reads the UCI text (OpenWrt's /etc/config/atsms syntax) into config: the first "config web"
// section and the "config modem" section it names (or the first one). 0, or -1 with *problem.
int ReadConfig(const char* text, size_t length, WebConfig* config, const char** problem);
// The configuration file: $ATSMS_CONFIG, else /etc/config/atsms, else /etc/atsms/atsms.conf.
const char* ConfigPath(const char* fromEnvironment, bool (*exists)(const char* path));

// atsms's argument vector for action: argv[0] is the binary, then options, "--", PORT, mode,
// command and data; a null pointer ends it. Returns the count, or -1 when size is too small.
int BuildArguments(const WebConfig& config, const Action& action, const char** argv, int size);

// JSON text writing into a bounded buffer. Invalid UTF-8 becomes U+FFFD.
struct JsonSink {
  char* data;
  size_t size;
  size_t used = 0;
  bool full = false;
};
// Bytes of the well-formed UTF-8 sequence at p (before end), 1 to 4, or 0 when it is none:
// truncated, overlong, a surrogate (U+D800 to U+DFFF) or past U+10FFFF. atsms refuses the same.
int Utf8At(const unsigned char* p, const unsigned char* end);

void Put(JsonSink* sink, const char* text);
void PutBytes(JsonSink* sink, const char* bytes, size_t length);
void PutJsonString(JsonSink* sink, const char* text, size_t length);
// True when text is one JSON value (RFC 8259) with whitespace around it.
bool ValidJson(const char* text, size_t length);

// The error document of a refusal: {"error":"...","field":"..."}.
void PutRefusal(JsonSink* sink, const Refusal& refusal);
// The answer document of a run, {"result":<atsms's -j output, or null>,"status":N,"error":"..."},
// is written in two steps, so that atsms's output goes straight into the sink: StartAnswer puts
// the head and returns where the output goes; the output is read into the sink there; then
// FinishAnswer closes the document. Output that is blank, cut or no JSON becomes null (and, when
// it was not blank, the error says so in place of reason).
size_t StartAnswer(JsonSink* sink);
void FinishAnswer(JsonSink* sink, size_t resultStart, bool cut, int status, const char* reason);

// From the lines atsms wrote to standard error: the last "atsms: " line's text without that
// prefix, or the last non-empty line when there is none. Feed it the bytes as they come.
struct ReasonReader {
  char line[512] = "";
  size_t lineLength = 0;
  char reason[512] = "";
  bool fromAtsms = false;
};
void ReadReason(ReasonReader* reader, const char* bytes, size_t length);
void EndReason(ReasonReader* reader);

// Runs argv (execve, no shell, a bare environment), collecting standard output into output (its
// length in *outputLength, *truncated when it did not fit) and the reason from standard error.
// Returns the exit status (128 + signal for a signal), or -1 when the program could not be run,
// with reader->reason saying why.
int RunAtsms(const char* const* argv, char* output, size_t outputSize, size_t* outputLength, bool* truncated,
             ReasonReader* reader);
