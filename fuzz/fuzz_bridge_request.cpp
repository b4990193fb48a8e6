// The web page's bridge: what a browser or an attacker sends it (a POST body, a GET query), the
// configuration file, and the JSON it writes from what atsms printed. The first byte picks which.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "web/bridge.h"

namespace {

// Whatever a request was let through with holds only what atsms takes.
void CheckAction(const Action& action) {
  WebConfig config;
  std::strcpy(config.port, "/dev/ttyUSB2");
  const char* argv[24];
  const int count = BuildArguments(config, action, argv, 24);
  FUZZ_CHECK(count > 0 && argv[count] == nullptr);
  int dashes = -1;
  for (int i = 0; i < count; ++i)
    if (dashes < 0 && std::strcmp(argv[i], "--") == 0) dashes = i;
  FUZZ_CHECK(dashes > 0 && std::strcmp(argv[dashes + 1], "/dev/ttyUSB2") == 0);  // the port is never an option
  switch (action.op) {
    case Op::Send:
      FUZZ_CHECK(PhoneNumberOk(action.number));
      FUZZ_CHECK(TextProblem(action.text) == nullptr && IsValidUtf8(action.text));
      FUZZ_CHECK(std::string(action.quotedText) == "'" + std::string(action.text) + "'");
      FUZZ_CHECK(count == dashes + 6 && argv[dashes + 5] == action.quotedText);
      break;
    case Op::Delete:
      FUZZ_CHECK(IndexOk(action.index) && IdOk(action.id) && StorageOk(action.storage, action.op));
      for (const char* c = action.id; *c; ++c) FUZZ_CHECK(!(*c >= 'A' && *c <= 'F'));
      break;
    case Op::Ussd:
      FUZZ_CHECK(UssdCodeOk(action.code));
      break;
    case Op::List:
    case Op::DeleteAll:
      FUZZ_CHECK(StorageOk(action.storage, action.op));
      break;
    default:
      FUZZ_CHECK(false);
  }
}

void CheckRefusal(int result, const Refusal& refusal) {
  FUZZ_CHECK(result == -1);
  FUZZ_CHECK(refusal.http == 400 || refusal.http == 405);
  FUZZ_CHECK(refusal.message && *refusal.message && refusal.field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Action action;
  Refusal refusal;
  switch (data[0] % 4) {
    case 0: {  // a POST body
      const int result = ParseBody(input.data(), input.size(), &action, &refusal);
      if (result == 0)
        CheckAction(action);
      else
        CheckRefusal(result, refusal);
      break;
    }
    case 1: {  // a GET query
      const std::string query = AsText(data + 1, size - 1);
      const int result = ParseQuery(query.c_str(), &action, &refusal);
      if (result == 0) {
        FUZZ_CHECK(action.op == Op::List);
        CheckAction(action);
      } else {
        CheckRefusal(result, refusal);
      }
      break;
    }
    case 2: {  // the configuration file
      WebConfig config;
      const char* problem = nullptr;
      if (ReadConfig(input.data(), input.size(), &config, &problem) == 0) {
        FUZZ_CHECK(config.port[0] == '/' && config.atsms[0] == '/');
        FUZZ_CHECK(std::strlen(config.wait) >= 1 && std::strlen(config.wait) <= 4 && std::atoi(config.wait) <= 3600);
      } else {
        FUZZ_CHECK(problem && *problem);
      }
      break;
    }
    default: {  // atsms's output and reason into the answer: always one valid JSON document
      static char buffer[65536];
      JsonSink sink{buffer, sizeof buffer};
      const size_t start = StartAnswer(&sink);
      PutBytes(&sink, input.data(), input.size());
      ReasonReader reader;
      ReadReason(&reader, input.data(), input.size());
      EndReason(&reader);
      FUZZ_CHECK(std::strlen(reader.reason) < sizeof reader.reason);
      FinishAnswer(&sink, start, false, 255, reader.reason);
      FUZZ_CHECK(!sink.full && ValidJson(buffer, sink.used));
      FUZZ_CHECK(IsValidUtf8(std::string(buffer + start, sink.used - start)) ||
                 ValidJson(input.data(), input.size()));  // only atsms's own document passes as it came
      break;
    }
  }
  return 0;
}
