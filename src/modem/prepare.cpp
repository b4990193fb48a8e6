#include "modem/prepare.h"

#include "modem/commands.h"
#include "modem/failure.h"
#include "modem/step.h"
#include "serial/exchange.h"

namespace {

constexpr int ProbeTries = 5;

// One command, judged only by an "OK" in what comes back; a refusal is noted for the diagnostic.
bool Accepted(int port, const char* command) {
  Exchange(port, command);
  if (ResponseHas(AnsOk)) return true;
  NoteRefusal(command);
  return false;
}

}  // namespace

int PrepareModem(int port, int charset, int storage) {
  // A modem that is still starting may ignore the first probes; go on even if all of them fail,
  // the echo command then decides.
  bool heard = false;    // any byte at all since the first probe
  bool nothing = false;  // the last probe got nothing back
  for (int i = 0; i < ProbeTries && !PortLost(); ++i) {
    if (SendCmd(port, nothing ? CmdProbeAfterEscape : CmdProbe) != 0) continue;
    const int count = ReadResponse(port);
    heard = heard || count > 0;
    nothing = count == 0;
    if (count > 0 && ResponseHas(AnsOk)) break;
  }
  heard = Exchange(port, CmdEchoOff) > 0 || heard;
  if (!ResponseHas(AnsOk)) {
    if (heard)
      NoteRefusal(CmdEchoOff);
    else
      NoteSilence();  // not one byte: most likely a port that takes no AT commands
    return -1;
  }
  if (!Accepted(port, charset ? CmdCharsetUcs2 : CmdCharsetGsm)) return -1;
  if (storage < 0) return 0;
  return Accepted(port, storage ? CmdStoragePhone : CmdStorageSim) ? 0 : -1;
}
