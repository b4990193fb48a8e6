// atsms-web: the CGI bridge between the web page and atsms. See bridge.h.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "web/bridge.h"

namespace {

constexpr size_t ConfigSize = 16384;
constexpr size_t TailReserve = 2048;       // the answer's end after atsms's output
constexpr size_t AnswerSize = (size_t)1024 * 1024;  // a phone memory of 255 long parts, as JSON, fits easily

char ConfigText[ConfigSize];
char Body[MaxBodySize + 1];
char Answer[AnswerSize];

const char* StatusLine(int http) {
  switch (http) {
    case 200: return "200 OK";
    case 400: return "400 Bad Request";
    case 403: return "403 Forbidden";
    case 405: return "405 Method Not Allowed";
    case 411: return "411 Length Required";
    case 413: return "413 Payload Too Large";
    case 415: return "415 Unsupported Media Type";
    default: return "500 Internal Server Error";
  }
}

void Respond(int http, const JsonSink& sink) {
  printf("Status: %s\r\n", StatusLine(http));
  fputs("Content-Type: application/json\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n",
        stdout);
  fwrite(sink.data, 1, sink.used, stdout);
  fflush(stdout);
}

int Refused(const Refusal& refusal) {
  JsonSink sink{Answer, sizeof Answer};
  PutRefusal(&sink, refusal);
  Respond(refusal.http, sink);
  return 0;
}

bool Exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

// The configuration file into config; 0, or -1 with problem (a line of text) filled.
int LoadConfig(WebConfig* config, char* problem, size_t problemSize) {
  const char* path = ConfigPath(getenv("ATSMS_CONFIG"), Exists);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    snprintf(problem, problemSize, "cannot read %s: %s", path, strerror(errno));
    return -1;
  }
  size_t length = 0;
  ssize_t n;
  while ((n = read(fd, ConfigText + length, ConfigSize - length)) > 0) length += (size_t)n;
  close(fd);
  if (n < 0 || length == ConfigSize) {
    snprintf(problem, problemSize, "cannot read %s: %s", path, n < 0 ? strerror(errno) : "longer than 16 KiB");
    return -1;
  }
  const char* why = "";
  if (ReadConfig(ConfigText, length, config, &why) < 0) {
    snprintf(problem, problemSize, "%s: %s", path, why);
    return -1;
  }
  return 0;
}

// Exactly length bytes of the body from standard input; false when it ends before.
bool ReadBody(size_t length) {
  size_t got = 0;
  while (got < length) {
    const ssize_t n = read(0, Body + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += (size_t)n;
  }
  Body[got] = '\0';
  return true;
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);  // a client gone away: the writes fail, atsms's run is not cut
  CgiRequest request;
  const char* method = getenv("REQUEST_METHOD");
  request.method = method ? method : "";
  request.query = getenv("QUERY_STRING");
  request.contentType = getenv("CONTENT_TYPE");
  request.contentLength = getenv("CONTENT_LENGTH");
  request.remoteUser = getenv("REMOTE_USER");
  request.origin = getenv("HTTP_ORIGIN");
  request.host = getenv("HTTP_HOST");
  request.fetchSite = getenv("HTTP_SEC_FETCH_SITE");

  WebConfig config;
  char problem[512];
  const bool configured = LoadConfig(&config, problem, sizeof problem) == 0;
  if (!configured) config = WebConfig();  // closed: without the file nobody is let in unasked
  size_t bodyLength = 0;
  Refusal refusal;
  if (CheckRequest(request, config, &bodyLength, &refusal) < 0) return Refused(refusal);
  if (!configured) {
    refusal.http = 500;
    refusal.message = problem;
    return Refused(refusal);
  }

  Action action;
  if (strcmp(request.method, "POST") == 0) {  // CheckRequest let only GET and POST through
    if (!ReadBody(bodyLength)) {
      refusal.http = 400;
      refusal.message = "the body is shorter than its Content-Length";
      return Refused(refusal);
    }
    if (ParseBody(Body, bodyLength, &action, &refusal) < 0) return Refused(refusal);
  } else if (ParseQuery(request.query, &action, &refusal) < 0) {
    return Refused(refusal);
  }

  const char* argv[24];
  if (BuildArguments(config, action, argv, 24) < 0) {
    refusal.http = 500;
    refusal.message = "the arguments for atsms do not fit";
    return Refused(refusal);
  }
  JsonSink sink{Answer, sizeof Answer};
  const size_t resultStart = StartAnswer(&sink);
  size_t outputLength = 0;
  bool cut = false;
  ReasonReader reader;
  const int status =
      RunAtsms(argv, Answer + resultStart, sizeof Answer - resultStart - TailReserve, &outputLength, &cut, &reader);
  if (status < 0) {
    refusal.http = 500;
    refusal.message = reader.reason;
    return Refused(refusal);
  }
  sink.used = resultStart + outputLength;
  // A line that is not atsms's own (the port's errno line) says why only when the run failed.
  const char* reason = reader.fromAtsms || status != 0 ? reader.reason : "";
  FinishAnswer(&sink, resultStart, cut, status, reason);
  Respond(200, sink);
  return 0;
}
