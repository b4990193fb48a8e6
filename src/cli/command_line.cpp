#include "cli/command_line.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "modem/answers.h"
#include "modem/messages.h"
#include "modem/send.h"
#include "modem/ussd.h"
#include "serial/port.h"

namespace {

enum Operation { OperationNone, OperationSend, OperationList, OperationDeleteAll, OperationDeleteOne, OperationUssd };

constexpr int LineSpeed = 9600;

// Arguments by position: 1 PORT, 2 mode, 3 COMMAND, 4 PHONE or NUMBER, 5 TEXT.
int RunSend(int port, int storage, char** argv) { return SendMessage(port, argv[4], argv[5], 1, storage); }
int RunList(int port, int storage, char**) { return ListMessages(port, storage); }
int RunDeleteAll(int port, int storage, char**) { return DeleteAllMessages(port, storage); }
int RunDeleteOne(int port, int storage, char** argv) {
  DeleteMessage(port, ReadDecimal(argv[4]), storage);  // the listing that follows shows the outcome
  return ListMessages(port, storage);
}
int RunUssd(int port, int, char** argv) { return SendUssd(port, argv[3]); }

// Indexed by the operation minus one; none has no entry.
int (*const Operations[])(int port, int storage, char** argv) = {RunSend, RunList, RunDeleteAll, RunDeleteOne, RunUssd};

// Started with descriptor 0, 1 or 2 closed, the port would take its place, and the listing or the
// diagnostics would be written to the modem: fill such gaps with /dev/null first.
void ReserveStandardStreams() {
  for (;;) {
    int fd = open("/dev/null", O_RDWR);
    if (fd < 0) return;
    if (fd > 2) {
      close(fd);
      return;
    }
  }
}

int Usage(const char* first, const char* second, const char* program) {
  fprintf(stderr, first, program);
  fprintf(stderr, second, program);
  return 1;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  ReserveStandardStreams();
  const char* program = argv[0] ? argv[0] : "atsms";
  if (argc <= 3)
    return Usage("usage: %s PORT tel|sim|ussd COMMAND [[DATA]]\n", "examples:\t%s /dev/ttyUSB1 sim list\n", program);

  const char* mode = argv[2];
  const char* command = argv[3];
  Operation operation = OperationNone;
  int storage = 0;
  if (strcmp(mode, "ussd") == 0)
    operation = OperationUssd;
  else
    storage = strcmp(mode, "tel") == 0 ? 1 : 0;

  // The commands come before the mode: "ussd list" lists the SIM.
  if (strcmp(command, "send") == 0) {
    if (argc <= 5)
      return Usage("usage: %s PORT tel|sim send PHONE 'TEXT'\n",
                   "examples:\t%s /dev/ttyUSB1 tel|sim +123456789012 'Hello!\nThis is sample SMS\n'\n", program);
    operation = OperationSend;
  } else if (strcmp(command, "list") == 0) {
    operation = OperationList;
  } else if (strcmp(command, "del") == 0) {
    if (argc == 4)
      return Usage("usage: %s PORT sim|tel del all|NUMBER\n", "examples:\t%s /dev/ttyUSB1 sim|tel del all|5\n", program);
    operation = strcmp(argv[4], "all") == 0 ? OperationDeleteAll : OperationDeleteOne;
  }

  int port = OpenPort(argv[1], LineSpeed);
  if (port < 0) return -1;  // nothing may run on a port that did not open
  int result = operation == OperationNone ? 0 : Operations[operation - 1](port, storage, argv);
  ClosePort(port);
  return result;
}
