#include <string.h>

#include "web/bridge.h"

namespace {

struct Arguments {
  const char** argv;
  int size;
  int count = 0;
  bool full = false;
  void Add(const char* argument) {
    if (count + 1 >= size) {
      full = true;
      return;
    }
    argv[count++] = argument;
    argv[count] = nullptr;
  }
};

}  // namespace

int BuildArguments(const WebConfig& config, const Action& action, const char** argv, int size) {
  if (size < 1) return -1;
  Arguments a{argv, size};
  argv[0] = nullptr;
  a.Add(config.atsms);
  if (config.quick) a.Add("-q");
  a.Add("-j");
  a.Add("-w");
  a.Add(config.wait);
  switch (action.op) {
    case Op::List:
      a.Add("--join");  // a long message is one item on the page
      break;
    case Op::Send:
      if (action.gsm7) a.Add("--gsm7");
      if (action.report) a.Add("--report");
      break;
    case Op::Delete:
      a.Add("--join");  // the id is that of the joined message the page showed: all its parts go
      a.Add("--id");
      a.Add(action.id);
      break;
    default:
      break;
  }
  a.Add("--");  // the port is never taken for an option
  a.Add(config.port);
  switch (action.op) {
    case Op::List:
      a.Add(action.storage);
      a.Add("list");
      break;
    case Op::Send:
      a.Add("sim");
      a.Add("send");
      a.Add(action.number);
      a.Add(action.quotedText);
      break;
    case Op::Delete:
      a.Add(action.storage);
      a.Add("del");
      a.Add(action.index);
      break;
    case Op::DeleteAll:
      a.Add(action.storage);
      a.Add("del");
      a.Add("all");
      break;
    case Op::Ussd:
      a.Add("ussd");
      a.Add(action.code);
      break;
    default:
      return -1;
  }
  return a.full ? -1 : a.count;
}
