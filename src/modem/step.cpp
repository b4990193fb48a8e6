#include "modem/step.h"

#include "serial/exchange.h"

int Exchange(int port, const char* command, Awaited awaited) {
  SendCmd(port, command);  // not judged: the answer decides
  return ReadResponseFor(port, awaited);
}
