#include "modem/prepare.h"

#include <stdio.h>
#include <string.h>

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

// +CPMS: ("SM","ME","SR"),("SM","ME"),("SM","ME"): whether the first list, the storages that can be
// read and deleted, holds "SR".
bool ReadsReports(const char* answer) {
  const char* list = strstr(answer, "+CPMS:");
  if (!list) return false;
  list += strspn(list + 6, " ") + 6;
  const char* const end = *list == '(' ? strchr(list, ')') : list + strcspn(list, "\r\n");
  const char* const found = strstr(list, "\"SR\"");
  return end && found && found < end;
}

// AT+CPMS=?, then "SR" alone when the modem has it.
int SelectReportStorage(int port) {
  if (!Accepted(port, CmdStorages)) return -1;
  if (!ReadsReports(ResponseBuffer)) {
    fputs("atsms: this modem has no status-report storage (SR); its reports show in sim list -j and tel list -j\n",
          stderr);
    NoteExplained();
    return -1;
  }
  return Accepted(port, CmdStorageReports) ? 0 : -1;
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
  if (storage == ReportStorage) return SelectReportStorage(port);
  return Accepted(port, storage ? CmdStoragePhone : CmdStorageSim) ? 0 : -1;
}
