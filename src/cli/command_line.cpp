#include "cli/command_line.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "modem/answers.h"
#include "modem/failure.h"
#include "modem/messages.h"
#include "modem/send.h"
#include "modem/ussd.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

enum Operation { OperationNone, OperationSend, OperationList, OperationDeleteAll, OperationDeleteOne, OperationUssd };

constexpr int LineSpeed = 9600;

// What the options before PORT ask for.
struct Settings {
  bool quick = false;
  bool json = false;
  bool join = false;
  bool help = false;
  bool version = false;
};

// Arguments by position: 1 PORT, 2 mode, 3 COMMAND, 4 PHONE or NUMBER, 5 TEXT.
int RunSend(int port, int storage, const Settings&, char** argv) {
  return SendMessage(port, argv[4], argv[5], 1, storage);
}
int RunList(int port, int storage, const Settings& settings, char**) {
  return ListMessages(port, storage, settings.json, settings.join);
}
int RunDeleteAll(int port, int storage, const Settings&, char**) { return DeleteAllMessages(port, storage); }
int RunDeleteOne(int port, int storage, const Settings& settings, char** argv) {
  const int index = ReadDecimal(argv[4]);
  bool listed = true;  // with --join, the deletion lists first, to know which indexes are one message
  const int deleted =
      settings.join ? DeleteWholeMessage(port, index, storage, &listed) : DeleteMessage(port, index, storage);
  if (!listed) return -1;  // nothing deleted
  // The listing that follows shows the outcome; a refusal is said before it.
  if (deleted < 0) ReportFailure(argv[1]);
  return ListMessages(port, storage, settings.json, settings.join);
}
int RunUssd(int port, int, const Settings& settings, char** argv) { return SendUssd(port, argv[3], settings.json); }

// Indexed by the operation minus one; none has no entry.
int (*const Operations[])(int port, int storage, const Settings& settings, char** argv) = {
    RunSend, RunList, RunDeleteAll, RunDeleteOne, RunUssd};

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

struct Option {
  const char* shortName;  // nullptr: the long name only
  const char* longName;
  bool Settings::*flag;
  const char* help;  // its lines in --help
};

const Option Options[] = {
    {"-q", "--quick", &Settings::quick,
     "end each answer at its final result code (OK, ERROR, ...)\n"
     "                    instead of after 0.5 s of silence"},
    {"-j", "--json", &Settings::json,
     "print the listing as one JSON document, and the USSD\n"
     "                    reply and its status in the result block"},
    {nullptr, "--join", &Settings::join,
     "list the parts of a long message as one message; with\n"
     "                    del NUMBER, delete all of its parts"},
    {nullptr, "--help", &Settings::help, "show this text and exit"},
    {nullptr, "--version", &Settings::version, "show the version and exit"},
};

const Option* FindOption(const char* arg) {
  for (const Option& option : Options)
    if ((option.shortName && strcmp(arg, option.shortName) == 0) || strcmp(arg, option.longName) == 0) return &option;
  return nullptr;
}

// Options stand before PORT, one per argument; "--" ends them. An empty argument and a lone "-"
// are no options: they are PORT. Yields the position of PORT in argv, or -1 when argv[*unknown]
// is no option we know.
int ReadOptions(int argc, char** argv, Settings* settings, int* unknown) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    if (strcmp(argv[i], "--") == 0) return i + 1;
    const Option* option = FindOption(argv[i]);
    if (!option) {
      *unknown = i;
      return -1;
    }
    settings->*(option->flag) = true;
  }
  return i;
}

constexpr char OptionsUsage[] = "usage: %s [OPTION...] PORT tel|sim|ussd COMMAND [DATA...]\n";

int UnknownOption(const char* option, const char* program) {
  fputs("atsms: unknown option '", stderr);
  fputs(option, stderr);
  fputs("'\n", stderr);
  return Usage(OptionsUsage, "more:\t%s --help\n", program);
}

int Help(const char* program) {
  printf(OptionsUsage, program);
  fputs("Lists, deletes and sends SMS and sends USSD requests through the AT-command\n"
        "port of a GSM modem (PORT, for example /dev/ttyUSB1).\n"
        "modes:\n"
        "  sim               the SIM storage (\"SM\"); so is any word but tel and ussd\n"
        "  tel               the phone memory (\"ME\")\n"
        "  ussd              COMMAND is a USSD string to send, for example '*100#'\n"
        "commands:\n"
        "  list              print the received messages, one tab-separated line each\n"
        "  del NUMBER        delete message NUMBER, then print the rest\n"
        "  del all           delete every message\n"
        "  send PHONE TEXT   send one SMS; PHONE is 1 to 18 digits after an optional +,\n"
        "                    \\n in TEXT is a line break\n"
        "options (before PORT, one per argument; -- ends them):\n",
        stdout);
  for (const Option& option : Options)
    printf("  %-2s%c %-14s%s\n", option.shortName ? option.shortName : "", option.shortName ? ',' : ' ',
           option.longName, option.help);
  fputs("exit status: the highest message index for list and del, 0 after a successful\n"
        "send or ussd, 1 after a usage error, 255 after a failure.\n",
        stdout);
  printf("examples:\t%s /dev/ttyUSB1 sim list\n", program);
  printf("\t\t%s -q /dev/ttyUSB1 sim send +491701234567 'Hello!\\nSee you'\n", program);
  return 0;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  ReserveStandardStreams();
  const char* program = argv[0] ? argv[0] : "atsms";
  Settings settings;
  int unknown = 0;
  int first = ReadOptions(argc, argv, &settings, &unknown);
  if (first < 0) return UnknownOption(argv[unknown], program);
  if (settings.help) return Help(program);
  if (settings.version) {
    fputs("atsms " ATSMS_VERSION "\n", stdout);
    return 0;
  }
  // From PORT on the arguments are positional, counted as if no option had been given.
  argv += first - 1;
  argc -= first - 1;
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

  SetQuickMode(settings.quick);
  int port = OpenPort(argv[1], LineSpeed);
  if (port < 0) return -1;  // nothing may run on a port that did not open
  int result = operation == OperationNone ? 0 : Operations[operation - 1](port, storage, settings, argv);
  if (result == -1) ReportFailure(argv[1]);  // nothing for an empty storage: nothing was recorded
  ClosePort(port);
  return result;
}
