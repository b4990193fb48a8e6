#include "modem/prepare.h"

#include "modem/commands.h"
#include "serial/exchange.h"

namespace {

constexpr int ProbeTries = 5;

// One command, judged only by an "OK" in what comes back.
bool Accepted(int port, const char* command) {
  SendCmd(port, command);
  ReadResponse(port);
  return ResponseHas(AnsOk);
}

}  // namespace

int PrepareModem(int port, int charset, int storage) {
  // A modem that is still starting may ignore the first probes; go on even if all of them fail,
  // the echo command then decides.
  for (int i = 0; i < ProbeTries && !PortLost(); ++i)
    if (SendCmd(port, CmdProbe) == 0 && ReadResponse(port) > 0 && ResponseHas(AnsOk)) break;
  if (!Accepted(port, CmdEchoOff)) return -1;
  if (!Accepted(port, charset ? CmdCharsetUcs2 : CmdCharsetGsm)) return -1;
  if (storage < 0) return 0;
  return Accepted(port, storage ? CmdStoragePhone : CmdStorageSim) ? 0 : -1;
}
