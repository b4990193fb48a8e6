#include "cli/command_line.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "codec/decimal.h"
#include "pdu/message_id.h"
#include "listing/escape.h"
#include "listing/output_check.h"
#include "modem/failure.h"
#include "modem/messages.h"
#include "modem/prepare.h"
#include "modem/send.h"
#include "modem/step.h"
#include "modem/ussd.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

enum Operation { OperationNone, OperationSend, OperationList, OperationDeleteAll, OperationDeleteOne, OperationUssd,
                 OperationTake };

constexpr int LineSpeed = 9600;
constexpr int MaxWaitSeconds = 3600;

// What the options before PORT ask for.
struct Settings {
  bool quick = false;
  bool json = false;
  bool join = false;
  bool help = false;
  bool version = false;
  int waitSeconds = 0;  // how long to wait while another program holds the port or the SIM is busy
  bool ussdText = false;
  bool report = false;  // send asks for delivery reports
  bool gsm7 = false;    // send goes in the GSM 7-bit alphabet where the text allows
  const char* id = nullptr;  // del NUMBER deletes only the message with this id (16 hex digits)
  const char* to = nullptr;  // take writes each message into this spool directory
};

// Arguments by position: 1 PORT, 2 mode, 3 COMMAND, 4 PHONE or NUMBER, 5 TEXT.
int RunSend(int port, int storage, const Settings& settings, char** argv) {
  return SendMessage(port, argv[4], argv[5], 1, storage, settings.report, settings.gsm7);
}
ListingStyle StyleOf(const Settings& settings) {
  ListingStyle style;
  style.json = settings.json;
  style.join = settings.join;
  style.quick = settings.quick;
  return style;
}

int RunList(int port, int storage, const Settings& settings, char**) {
  return ListMessages(port, storage, StyleOf(settings));
}
int RunDeleteAll(int port, int storage, const Settings& settings, char**) {
  return DeleteAllMessages(port, storage, settings.quick);
}
int RunDeleteOne(int port, int storage, const Settings& settings, char** argv) {
  const int index = ReadDecimal(argv[4]);
  bool listed = true;  // with --join or --id, the deletion lists first, to know what stands at index
  MessageId id = 0;
  const int deleted = settings.id && ReadId(settings.id, &id) == 0
                          ? DeleteCheckedMessage(port, index, storage, settings.join, id, &listed)
                      : settings.join ? DeleteWholeMessage(port, index, storage, &listed)
                                      : DeleteMessage(port, index, storage);
  if (!listed) return -1;  // nothing deleted
  // The listing that follows shows the outcome; a refusal is said before it, and in the document.
  if (deleted >= 0) return ListMessages(port, storage, StyleOf(settings));
  ReportFailure(argv[1]);
  char error[256];
  FailureText(error, sizeof error, argv[1]);
  ListMessages(port, storage, StyleOf(settings), error);
  return -1;
}
int RunTake(int port, int storage, const Settings& settings, char**) {
  ListingStyle style = StyleOf(settings);
  style.holdIncomplete = true;
  style.namedOnly = true;
  return TakeMessages(port, storage, style, settings.to);
}
int RunUssd(int port, int, const Settings& settings, char** argv) {
  return SendUssd(port, argv[3], settings.json, settings.ussdText ? UssdText : UssdPacked);
}

// Indexed by the operation minus one; none never runs.
int (*const Operations[])(int port, int storage, const Settings& settings, char** argv) = {
    RunSend, RunList, RunDeleteAll, RunDeleteOne, RunUssd, RunTake};

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

int CommandUsage(Operation operation, const char* program) {
  if (operation == OperationSend)
    return Usage("usage: %s PORT tel|sim send PHONE 'TEXT'\n",
                 "examples:\t%s /dev/ttyUSB1 tel|sim send +123456789012 'Hello!\nThis is sample SMS\n'\n", program);
  if (operation == OperationDeleteOne || operation == OperationDeleteAll)
    return Usage("usage: %s PORT sim|tel del all|NUMBER\n", "examples:\t%s /dev/ttyUSB1 sim|tel del all|5\n", program);
  return Usage("usage: %s PORT tel|sim|ussd COMMAND [DATA...]\n", "examples:\t%s /dev/ttyUSB1 sim list\n", program);
}

// The arguments each operation reads, counted as argc counts them (PORT is argument 1): send
// PHONE TEXT, list, del NUMBER|all, the USSD string, take. Indexed by the operation.
const int ArgumentsRead[] = {0, 6, 4, 5, 5, 4, 4};

// A command line refused for one argument: a line naming it, then the usage of the command.
int WrongArgument(const char* before, const char* arg, const char* after, Operation operation, const char* program) {
  fputs(before, stderr);
  fputc('\'', stderr);
  PrintEscaped(stderr, arg);  // one line, whatever the argument holds
  fputc('\'', stderr);
  fputs(after, stderr);
  return CommandUsage(operation, program);
}

struct Option {
  const char* shortName;  // nullptr: the long name only
  const char* longName;   // with the name of its value, if it takes one
  bool Settings::*flag;   // nullptr: it takes the seconds in the next argument
  const char* help;       // its lines in --help
  const char* Settings::*text = nullptr;  // it takes the next argument as it is
  const char* needs = nullptr;            // what that argument must be, for the line that refuses it
};

const Option Options[] = {
    {"-q", "--quick", &Settings::quick,
     "end each answer at its final result code (OK, ERROR, ...)\n"
     "                    instead of after 0.5 s of silence"},
    {"-j", "--json", &Settings::json,
     "print the listing as one JSON document, and the USSD\n"
     "                    reply, its status and the request's form in the result\n"
     "                    block"},
    {nullptr, "--join", &Settings::join,
     "list the parts of a long message as one message; with\n"
     "                    del NUMBER, delete all of its parts"},
    {"-w", "--wait SECONDS", nullptr,
     "while another program holds the port, or the SIM is busy\n"
     "                    (still starting), wait up to SECONDS in all\n"
     "                    (0 to 3600; default 0: fail at once)"},
    {nullptr, "--ussd-text", &Settings::ussdText,
     "send the USSD string as it is (printable ASCII without \"),\n"
     "                    never packed"},
    {nullptr, "--report", &Settings::report,
     "with send: ask for a delivery report of every part, have\n"
     "                    the modem keep it, print the message references"},
    {nullptr, "--gsm7", &Settings::gsm7,
     "with send: the text in the GSM 7-bit alphabet when every\n"
     "                    character has a place there (160 an SMS, 153 a part;\n"
     "                    { } [ ] ~ \\ | ^ and the euro sign count 2), else UCS-2"},
    {nullptr, "--id ID", nullptr,
     "with del NUMBER: delete only when NUMBER still holds the\n"
     "                    message with this id (16 hex digits, as list -j shows it)",
     &Settings::id, "ID, the 16 hex digits of a message's id"},
    {nullptr, "--to DIR", nullptr,
     "with take: each message into a file of its own in\n"
     "                    DIR/new (DIR/tmp first), instead of standard output",
     &Settings::to, "DIR"},
    {nullptr, "--help", &Settings::help, "show this text and exit"},
    {nullptr, "--version", &Settings::version, "show the version and exit"},
};

// The long name without the value's name ("--wait" of "--wait SECONDS") is arg.
bool IsLongName(const char* arg, const char* longName) {
  const size_t length = strcspn(longName, " ");
  return strncmp(arg, longName, length) == 0 && arg[length] == '\0';
}

const Option* FindOption(const char* arg) {
  for (const Option& option : Options)
    if ((option.shortName && strcmp(arg, option.shortName) == 0) || IsLongName(arg, option.longName)) return &option;
  return nullptr;
}

// A whole number from 0 to max, digits only; -1 for anything else.
int ReadWholeNumber(const char* text, int max) {
  if (!text || *text == '\0') return -1;
  long long value = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return -1;
    value = value * 10 + (*text - '0');
    if (value > max) return -1;
  }
  return (int)value;
}

// Options stand before PORT, one per argument (a value in the next one); "--" ends them. An empty
// argument and a lone "-" are no options: they are PORT. Yields the position of PORT in argv, or
// -1 when argv[*wrong] is no option we know or lacks its value.
int ReadOptions(int argc, char** argv, Settings* settings, int* wrong) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    if (strcmp(argv[i], "--") == 0) return i + 1;
    const Option* option = FindOption(argv[i]);
    *wrong = i;
    if (!option) return -1;
    if (option->flag) {
      settings->*(option->flag) = true;
      continue;
    }
    if (option->text) {
      const char* const value = i + 1 < argc ? argv[i + 1] : nullptr;
      MessageId id;
      if (!value || (option->text == &Settings::id && ReadId(value, &id) < 0)) return -1;
      settings->*(option->text) = value;
      ++i;
      continue;
    }
    settings->waitSeconds = ReadWholeNumber(i + 1 < argc ? argv[i + 1] : nullptr, MaxWaitSeconds);
    if (settings->waitSeconds < 0) return -1;
    ++i;
  }
  return i;
}

constexpr char OptionsUsage[] = "usage: %s [OPTION...] PORT tel|sim|report|ussd COMMAND [DATA...]\n";

// An unknown option, or one without its value: one line naming it, then the usage.
int WrongOption(const char* option, const char* program) {
  const Option* const known = FindOption(option);
  fputs(known ? "atsms: option '" : "atsms: unknown option '", stderr);
  fputs(option, stderr);
  if (known && known->needs) {
    fputs("' needs ", stderr);
    fputs(known->needs, stderr);
    fputc('\n', stderr);
  } else {
    fputs(known ? "' needs SECONDS, a whole number from 0 to 3600\n" : "'\n", stderr);
  }
  return Usage(OptionsUsage, "more:\t%s --help\n", program);
}

int Help(const char* program) {
  printf(OptionsUsage, program);
  fputs("Lists, deletes and sends SMS and sends USSD requests through the AT-command\n"
        "port of a GSM modem (PORT, for example /dev/ttyUSB1).\n"
        "modes:\n"
        "  sim               the SIM storage (\"SM\")\n"
        "  tel               the phone memory (\"ME\")\n"
        "  report            the status-report storage (\"SR\"): list, del and take\n"
        "                    show and delete the delivery reports that send --report\n"
        "                    asked for\n"
        "  ussd              COMMAND is a USSD string to send, for example '*100#';\n"
        "                    it goes packed (GSM 7-bit as hex), then once more as it\n"
        "                    is when the modem refuses that or the network answers\n"
        "                    4 (not supported); never after another answer, which\n"
        "                    may have bought something. A last answer of 4, or of\n"
        "                    5 (time-out), is a failure. Answer a menu in the next\n"
        "                    run, for example: ussd 1\n"
        "commands:\n"
        "  list              print the received messages, one tab-separated line each\n"
        "  del NUMBER        delete message NUMBER (digits only), then print the rest\n"
        "  del all           delete every message the listing shows (one that comes\n"
        "                    meanwhile stays)\n"
        "  take              print what list prints, then delete exactly that\n"
        "  send PHONE TEXT   send one SMS; PHONE is 1 to 18 digits after an optional +\n"
        "                    (without it: a national number or a short code); \\n in\n"
        "                    TEXT is a line break; quote a TEXT with spaces\n"
        "Any other mode or command, or an argument beyond those the command takes, is\n"
        "a usage error: nothing is sent, the port is not opened.\n"
        "options (before PORT, one per argument; -- ends them):\n",
        stdout);
  for (const Option& option : Options) {
    printf("  %-2s%c %-14s", option.shortName ? option.shortName : "", option.shortName ? ',' : ' ', option.longName);
    if (strlen(option.longName) >= 14) fputs("\n                    ", stdout);  // its text below it
    printf("%s\n", option.help);
  }
  fputs("exit status: the highest message index for list, del and take, 0 after a\n"
        "successful send or ussd, 1 after a usage error, 255 after a failure.\n",
        stdout);
  printf("examples:\t%s /dev/ttyUSB1 sim list\n", program);
  printf("\t\t%s -q /dev/ttyUSB1 sim send +491701234567 'Hello!\\nSee you'\n", program);
  return 0;
}

// What a run printed must have reached standard output: else one line, and status 255.
int Printed(int result) {
  const int error = OutputError(stdout);
  if (error == 0) return result;
  ReportOutputError(error);
  return -1;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  ReserveStandardStreams();
  // A reader that went away makes the write fail (EPIPE) instead of ending the run unseen.
  signal(SIGPIPE, SIG_IGN);
  const char* program = argv[0] ? argv[0] : "atsms";
  Settings settings;
  int wrong = 0;
  int first = ReadOptions(argc, argv, &settings, &wrong);
  if (first < 0) return WrongOption(argv[wrong], program);
  if (settings.help) return Printed(Help(program));
  if (settings.version) {
    fputs("atsms " ATSMS_VERSION "\n", stdout);
    return Printed(0);
  }
  // From PORT on the arguments are positional, counted as if no option had been given.
  argv += first - 1;
  argc -= first - 1;
  if (argc <= 3) return CommandUsage(OperationNone, program);

  const char* mode = argv[2];
  const char* command = argv[3];
  Operation operation = OperationNone;
  int storage = 0;
  if (strcmp(mode, "ussd") == 0)
    operation = OperationUssd;
  else if (strcmp(mode, "report") == 0)
    storage = ReportStorage;
  else if (strcmp(mode, "tel") == 0)
    storage = 1;
  else if (strcmp(mode, "sim") != 0)  // a typo must not act on the SIM ("tle del all")
    return WrongArgument("atsms: unknown mode ", mode, "; the modes are sim, tel, report and ussd\n", operation,
                         program);

  // The commands come before the mode: "ussd list" lists the SIM.
  if (strcmp(command, "send") == 0 && storage == ReportStorage) {
    return WrongArgument("atsms: unknown command ", command, " for reports; their commands are list, del and take\n",
                         operation, program);
  } else if (strcmp(command, "send") == 0) {
    if (argc <= 5) return CommandUsage(OperationSend, program);
    operation = OperationSend;
  } else if (strcmp(command, "list") == 0) {
    operation = OperationList;
  } else if (strcmp(command, "take") == 0) {
    operation = OperationTake;
  } else if (strcmp(command, "del") == 0) {
    if (argc == 4) return CommandUsage(OperationDeleteOne, program);
    // Read like atoi, "ALL" or "abc" would delete index 0, a real message on some modems.
    if (strcmp(argv[4], "all") == 0)
      operation = OperationDeleteAll;
    else if (ReadWholeNumber(argv[4], INT_MAX) >= 0)
      operation = OperationDeleteOne;
    else
      return WrongArgument("atsms: del needs a message number or all, not ", argv[4], "\n", OperationDeleteOne,
                           program);
  }
  if (operation == OperationNone)  // a typo must not read as success
    return WrongArgument("atsms: unknown command ", command, "; the commands are list, del, take and send\n",
                         operation, program);
  // An option that the command would ignore does not do what was asked of it.
  if ((settings.id && operation != OperationDeleteOne) || (settings.to && operation != OperationTake)) {
    fputs(settings.id && operation != OperationDeleteOne ? "atsms: option '--id' goes with del NUMBER only\n"
                                                         : "atsms: option '--to' goes with take only\n",
          stderr);
    return CommandUsage(operation, program);
  }
  // An argument the command would drop: "--join" after PORT, the second word of an unquoted TEXT.
  if (argc > ArgumentsRead[operation])
    return WrongArgument("atsms: unexpected argument ", argv[ArgumentsRead[operation]],
                         " after the command; options go before PORT, and a TEXT with spaces needs quotes\n",
                         operation, program);

  // Texts that must not go out are refused before the port is touched: an empty SMS is billed all
  // the same, and the plain form alone cannot carry every USSD string.
  if (operation == OperationSend && IsEmptyText(argv[5])) {
    fputs(EmptyTextRefused, stderr);
    return 1;
  }
  if (operation == OperationUssd && settings.ussdText && !IsPlainUssd(command)) {
    fputs(UssdNotPlain, stderr);
    return 1;
  }
  if (operation == OperationUssd && HoldsControlCharacter(command)) {
    fputs(UssdControlRefused, stderr);
    return 1;
  }
  SetQuickMode(settings.quick);
  // One deadline for the run: the time spent waiting for the port counts against a busy SIM's.
  SetBusyDeadline(NowMicros() + settings.waitSeconds * 1000000LL);
  int port = OpenPort(argv[1], LineSpeed, settings.waitSeconds);
  if (port < 0) return -1;  // nothing may run on a port that did not open
  int result = Operations[operation - 1](port, storage, settings, argv);
  if (result == -1) ReportFailure(argv[1]);  // nothing for an empty storage: nothing was recorded
  // A send or USSD request has done its work whatever its block: its status stays, so that no caller
  // repeats it, and its line says what was done.
  const bool sent = operation == OperationSend || operation == OperationUssd;
  const int printed = Printed(result);
  if (!sent) result = printed;
  ClosePort(port);
  return result;
}
