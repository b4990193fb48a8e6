// modem-sim: runs the simulated modem on a pseudo-terminal until SIGINT/SIGTERM or --exit-after.
// The slave path is the first line on standard output; the log goes to standard error or --log FILE.
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "modem_sim.h"
#include "sim_pdu.h"

namespace {

const char UsageText[] =
    "usage: modem-sim [OPTION...]\n"
    "Runs a simulated GSM modem on a pseudo-terminal and prints the port's path as the first line.\n"
    "  --store FILE          load messages (STORAGE TAB INDEX TAB STATUS TAB SENDER TAB DATE TAB TEXT;\n"
    "                        lines PDU, REPORT, LONG, PART and PHONEBOOK: see the manual page)\n"
    "  --link PATH           make PATH a symlink to the port (removed at exit)\n"
    "  --log FILE            write the log to FILE instead of standard error\n"
    "  --exit-after SECONDS  stop after SECONDS (default: run until SIGINT or SIGTERM)\n"
    "storages:\n"
    "  --fill STORAGE:N[:gsm|ucs2]  fill places 1 to N (up to 255) of SM or ME with messages of\n"
    "                        full length: 160 GSM 7-bit characters (default) or 70 UCS-2 ones\n"
    "  --capacity STORAGE:N  the total AT+CPMS gives for SM or ME (defaults 30 and 100)\n"
    "  --hole STORAGE:N      leave place N of SM or ME empty (after --store and --fill)\n"
    "messages arriving (stored unread at the first free place and announced with +CMTI, as\n"
    "AT+CNMI says; SIGUSR1 brings one at any moment):\n"
    "  --arrive-after-cmgl N one arrives right after the answer to the Nth AT+CMGL (repeatable)\n"
    "  --arriving TEXT       what the next one holds: TEXT from +491700000000 (\\n, \\t, \\\\ as\n"
    "                        for --noise; repeatable, in turn; then \"New message <n>\")\n"
    "  --arriving-pdu HEX    the same, given as its SMS-DELIVER PDU (SMSC part first)\n"
    "text mode:\n"
    "  --header-form a|b|c|d how a message with a user data header shows: a: its user data in hex\n"
    "                        (default); b: header and text read as characters; c: UCS-2 parts as\n"
    "                        in b, 7-bit ones as in a; d: the header left out\n"
    "  --alpha-field FORM    the field between sender and date: empty (default), quoted (\"\"),\n"
    "                        absent, or name (the sender's PHONEBOOK name from the store file)\n"
    "misbehaviour:\n"
    "  --silent              never answer anything\n"
    "  --ok-on-at N          answer \"AT\" only from the Nth probe on\n"
    "  --keep-echo           ignore ATE0 and keep echoing\n"
    "  --error-on CMD        answer ERROR to every command line starting with CMD\n"
    "  --piece-delay MS      write every answer in two pieces MS apart\n"
    "  --answer-delay MS     wait MS before every answer (an echo comes at once)\n"
    "  --unsolicited-after-ok  follow every OK, 20 ms later, by +CMTI, ^RSSI or RING\n"
    "  --packet-size N       write every answer in packets of at most N bytes\n"
    "  --packet-gap MS       wait MS between those packets (default 1)\n"
    "  --noise TEXT          what --noise-at writes (\\0, \\r, \\n, \\t, \\\\ stand for NUL, CR, LF, TAB,\n"
    "                        backslash; default \"\\r\\n+CMTI: \\\"SM\\\",3\\r\\n\")\n"
    "  --noise-at POINTS     where, a comma-separated list: start (in front of every answer),\n"
    "                        echo (in front of every echo), read (between a +CMGR header and its\n"
    "                        text), final (in front of every final OK), prompt (behind the\n"
    "                        prompt), ussd (behind the network's +CUSD line)\n"
    "  --index-base N        number the messages from N (0 or 1; default 1)\n"
    "  --descending          list messages in descending index order\n"
    "  --cmgl-keeps-unread   AT+CMGL leaves unread messages unread (most modems mark them read)\n"
    "  --no-delete-flags     AT+CMGD knows no <delflag> but 0 (AT+CMGD=1,4 gets ERROR)\n"
    "  --no-prompt           never give the \"> \" prompt to AT+CMGS\n"
    "  --bare-prompt         give \">\" without its blank\n"
    "  --late-prompt N       send N unsolicited answers before the prompt\n"
    "  --cmgs-error          answer ERROR to AT+CMGS\n"
    "  --cms-error N         answer +CMS ERROR: N to the PDU\n"
    "  --refuse-pdu N        answer +CMS ERROR: 500 to the Nth PDU of the run\n"
    "  --confirm-delay MS    confirm an SMS (+CMGS and OK) only MS after its PDU\n"
    "  --ussd-reply TEXT     text of the +CUSD reply (default \"Balance: 12.34 EUR\")\n"
    "  --ussd-delay MS       wait MS before the +CUSD reply (default 1000)\n"
    "  --ussd-form FORM      text (default), ucs2 (hex, DCS 72), packed (7-bit hex, DCS 15),\n"
    "                        unquoted (packed, no quotes, no DCS) or hex (hex of the text's\n"
    "                        bytes, DCS 0, as from a modem in its HEX character set)\n"
    "  --ussd-status N       <m> of the +CUSD reply (default 0; 1: the network awaits an answer;\n"
    "                        4 not supported and 5 time-out come without text)\n"
    "  --ussd-before-ok      send the +CUSD reply before the OK, in the same answer\n"
    "  --ussd-error          refuse AT+CUSD (with ERROR, or --ussd-refusal)\n"
    "  --ussd-no-reply       answer OK to AT+CUSD but never send +CUSD\n"
    "  --ussd-late-error LINE  after the OK, send LINE (e.g. \"+CME ERROR: 132\") instead of +CUSD\n"
    "  --ussd-takes FORMS    the request forms the modem takes: packed (default), text\n"
    "                        (a packed request reaches the network as hex: +CUSD: 4),\n"
    "                        text-error (a packed request is refused) or both\n"
    "  --ussd-refusal LINE   the line that refuses a request (default ERROR; e.g.\n"
    "                        \"COMMAND NOT SUPPORT\" or \"+CME ERROR: 258\")\n"
    "  --ussd-menu           service codes open a balance menu (+CUSD: 1) that the next\n"
    "                        requests answer; anything else outside it gets +CUSD: 4\n"
    "  --ussd-session MS     a menu left alone for MS ends with +CUSD: 2 (default 30000)\n"
    "  --hangup-after N      close the modem right after the Nth command line\n"
    "delivery reports (for a message sent with TP-SRR, routed as AT+CNMI <ds> says):\n"
    "  --report-delay MS     the report comes MS after the message (default 2000)\n"
    "  --report-status N     its TP-ST (default 0: delivered; 32: pending; 64: failed)\n"
    "  --no-report-storage   no \"SR\" storage: reports are kept beside the messages received\n"
    "SIM:\n"
    "  --sim-pin             answer +CMS ERROR: 311 (SIM PIN required) to every storage\n"
    "                        and message command (AT+CPMS, AT+CMGL, AT+CMGR, AT+CMGD,\n"
    "                        AT+CMGS, AT+CMGW)\n"
    "  --no-sim              the same with +CMS ERROR: 310 (SIM not inserted)\n"
    "  --cme-errors          with --sim-pin or --no-sim: +CME ERROR: 11 or 10 instead\n"
    "  --sim-busy N          the SIM is busy (still starting) for the first N storage and\n"
    "                        message commands\n"
    "  --sim-busy-ms MS      ... and for those that come within MS of the start\n"
    "  --sim-busy-answer LINE  what a busy SIM answers (default \"+CME ERROR: 14\"; e.g.\n"
    "                        \"+CME ERROR: 515\", \"+CME ERROR: SIM busy\", \"+CMS ERROR: 314\")\n"
    "  --help                show this text\n";

volatile sig_atomic_t StopRequested = 0;
volatile sig_atomic_t ArrivalsRequested = 0;  // SIGUSR1s not yet turned into messages

void OnSignal(int) { StopRequested = 1; }
void OnArrivalSignal(int) { ArrivalsRequested = ArrivalsRequested + 1; }

int UsageError(const char* why, const char* value) {
  if (why)
    fprintf(stderr, "modem-sim: %s%s\n", why, value ? value : "");
  fputs(UsageText, stderr);
  return 2;
}

// One line of the modem's own: not empty, no CR or LF.
bool ParseLine(const char* text, std::string* line) {
  *line = text;
  return !line->empty() && line->find_first_of("\r\n") == std::string::npos;
}

bool ParseCount(const char* text, int low, int high, int* value) {
  char* end = nullptr;
  errno = 0;
  long number = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < low || number > high)
    return false;
  *value = static_cast<int>(number);
  return true;
}

// The value named text in names (pairs of a name and a value); false when none is.
template <typename Value, size_t N>
bool ParseName(const char* text, const std::pair<const char*, Value> (&names)[N], Value* value) {
  for (const auto& name : names)
    if (strcmp(text, name.first) == 0) {
      *value = name.second;
      return true;
    }
  return false;
}

bool ParseUssdForm(const char* text, sim::UssdForm* form) {
  static const std::pair<const char*, sim::UssdForm> forms[] = {{"text", sim::UssdForm::Text},
      {"ucs2", sim::UssdForm::Ucs2}, {"packed", sim::UssdForm::Packed}, {"unquoted", sim::UssdForm::Unquoted},
      {"hex", sim::UssdForm::Hex}};
  return ParseName(text, forms, form);
}

// "start,echo" -> NoiseStart | NoiseEcho.
bool ParseNoiseAt(const char* text, unsigned* points) {
  static const std::pair<const char*, unsigned> names[] = {{"start", sim::NoiseStart}, {"echo", sim::NoiseEcho},
      {"read", sim::NoiseRead}, {"final", sim::NoiseFinal}, {"prompt", sim::NoisePrompt}, {"ussd", sim::NoiseUssd}};
  std::string list = text;
  *points = 0;
  for (size_t at = 0; at <= list.size();) {
    size_t comma = std::min(list.find(',', at), list.size());
    unsigned point = 0;
    if (!ParseName(list.substr(at, comma - at).c_str(), names, &point))
      return false;
    *points |= point;
    at = comma + 1;
  }
  return true;
}

// \0, \r, \n, \t and \\ as the bytes they stand for; any other backslash is an error.
bool ParseEscapes(const char* text, std::string* bytes) {
  bytes->clear();
  for (const char* c = text; *c; ++c) {
    if (*c != '\\') {
      bytes->push_back(*c);
      continue;
    }
    const char* named = strchr("0rnt\\", *++c);
    if (!*c || !named)
      return false;
    bytes->push_back("\0\r\n\t\\"[named - "0rnt\\"]);
  }
  return true;
}

bool ParseUssdTakes(const char* text, sim::UssdTakes* takes) {
  static const std::pair<const char*, sim::UssdTakes> forms[] = {{"packed", sim::UssdTakes::Packed},
      {"text", sim::UssdTakes::Text}, {"text-error", sim::UssdTakes::TextError}, {"both", sim::UssdTakes::Both}};
  return ParseName(text, forms, takes);
}

bool ParseHeaderForm(const char* text, sim::HeaderForm* form) {
  const sim::HeaderForm forms[] = {sim::HeaderForm::Hex, sim::HeaderForm::Characters, sim::HeaderForm::Ucs2Only,
                                   sim::HeaderForm::Stripped};
  if (strlen(text) != 1 || text[0] < 'a' || text[0] > 'd')
    return false;
  *form = forms[text[0] - 'a'];
  return true;
}

bool ParseAlphaField(const char* text, sim::AlphaField* field) {
  static const std::pair<const char*, sim::AlphaField> fields[] = {{"empty", sim::AlphaField::Empty},
      {"quoted", sim::AlphaField::Quoted}, {"absent", sim::AlphaField::Absent}, {"name", sim::AlphaField::Name}};
  return ParseName(text, fields, field);
}

// "SM:30" or "ME:100:ucs2" -> storage, count and (when allowed) whether the alphabet is GSM 7-bit.
bool ParseStorageCount(const char* text, int high, bool alphabetAllowed, std::string* storage, int* count,
                       bool* gsm7) {
  std::string value = text;
  size_t colon = value.find(':');
  if (colon == std::string::npos || (value.compare(0, colon, "SM") != 0 && value.compare(0, colon, "ME") != 0))
    return false;
  *storage = value.substr(0, colon);
  std::string number = value.substr(colon + 1);
  size_t second = number.find(':');
  *gsm7 = true;
  if (second != std::string::npos) {
    std::string alphabet = number.substr(second + 1);
    if (!alphabetAllowed || (alphabet != "gsm" && alphabet != "ucs2"))
      return false;
    *gsm7 = alphabet == "gsm";
    number.resize(second);
  }
  return ParseCount(number.c_str(), 1, high, count);
}

struct Fill {
  std::string storage;
  int count;
  bool gsm7;
};

// An --arriving text: GSM 7-bit when every character has a septet, else UCS-2.
sim::Message ArrivingText(const std::string& text) {
  sim::Message m;
  m.sender = "+491700000000";
  m.text = text;
  m.gsm7 = sim::Gsm7ToUtf8(sim::Utf8ToGsm7(text)) == text;
  return m;
}

bool ArrivingPdu(const char* hex, sim::Message* m) {
  sim::DeliverInfo info;
  if (!sim::DecodeDeliverPdu(hex, &info))
    return false;
  m->sender = info.sender;
  m->pdu = hex;
  return true;
}

enum OptionId {
  Store = 256, Link, LogFile, ExitAfter, Silent, OkOnAt, KeepEcho, ErrorOn, PieceDelay, AnswerDelay, IndexBase,
  UnsolicitedAfterOk, Descending, NoPrompt, LatePrompt, CmgsError, CmsError, RefusePdu, UssdReply, UssdDelay,
  UssdError, UssdNoReply, HangupAfter, Help, UssdForm, UssdStatus, UssdBeforeOk, FillOption, Capacity,
  PacketSize, PacketGap, SimPin, NoSim, CmeErrors, HeaderFormOption, AlphaFieldOption, UssdTakesOption,
  UssdRefusal, UssdMenu, UssdSession, CmglKeepsUnread, NoDeleteFlags, ReportDelay, ReportStatus, NoReportStorage,
  Noise, NoiseAt, BarePrompt, ConfirmDelay, UssdLateError, SimBusy, SimBusyMs, SimBusyAnswer, Hole,
  ArriveAfterCmgl, Arriving, ArrivingPduOption
};

const option LongOptions[] = {
    {"store", required_argument, nullptr, Store},
    {"link", required_argument, nullptr, Link},
    {"log", required_argument, nullptr, LogFile},
    {"exit-after", required_argument, nullptr, ExitAfter},
    {"silent", no_argument, nullptr, Silent},
    {"ok-on-at", required_argument, nullptr, OkOnAt},
    {"keep-echo", no_argument, nullptr, KeepEcho},
    {"error-on", required_argument, nullptr, ErrorOn},
    {"piece-delay", required_argument, nullptr, PieceDelay},
    {"answer-delay", required_argument, nullptr, AnswerDelay},
    {"unsolicited-after-ok", no_argument, nullptr, UnsolicitedAfterOk},
    {"index-base", required_argument, nullptr, IndexBase},
    {"descending", no_argument, nullptr, Descending},
    {"no-prompt", no_argument, nullptr, NoPrompt},
    {"late-prompt", required_argument, nullptr, LatePrompt},
    {"cmgs-error", no_argument, nullptr, CmgsError},
    {"cms-error", required_argument, nullptr, CmsError},
    {"refuse-pdu", required_argument, nullptr, RefusePdu},
    {"ussd-reply", required_argument, nullptr, UssdReply},
    {"ussd-delay", required_argument, nullptr, UssdDelay},
    {"ussd-error", no_argument, nullptr, UssdError},
    {"ussd-no-reply", no_argument, nullptr, UssdNoReply},
    {"ussd-form", required_argument, nullptr, UssdForm},
    {"ussd-status", required_argument, nullptr, UssdStatus},
    {"ussd-before-ok", no_argument, nullptr, UssdBeforeOk},
    {"ussd-takes", required_argument, nullptr, UssdTakesOption},
    {"ussd-refusal", required_argument, nullptr, UssdRefusal},
    {"ussd-menu", no_argument, nullptr, UssdMenu},
    {"ussd-session", required_argument, nullptr, UssdSession},
    {"report-delay", required_argument, nullptr, ReportDelay},
    {"report-status", required_argument, nullptr, ReportStatus},
    {"no-report-storage", no_argument, nullptr, NoReportStorage},
    {"hangup-after", required_argument, nullptr, HangupAfter},
    {"sim-pin", no_argument, nullptr, SimPin},
    {"no-sim", no_argument, nullptr, NoSim},
    {"cme-errors", no_argument, nullptr, CmeErrors},
    {"help", no_argument, nullptr, Help},
    {"fill", required_argument, nullptr, FillOption},
    {"capacity", required_argument, nullptr, Capacity},
    {"packet-size", required_argument, nullptr, PacketSize},
    {"packet-gap", required_argument, nullptr, PacketGap},
    {"header-form", required_argument, nullptr, HeaderFormOption},
    {"alpha-field", required_argument, nullptr, AlphaFieldOption},
    {"cmgl-keeps-unread", no_argument, nullptr, CmglKeepsUnread},
    {"no-delete-flags", no_argument, nullptr, NoDeleteFlags},
    {"noise", required_argument, nullptr, Noise},
    {"noise-at", required_argument, nullptr, NoiseAt},
    {"bare-prompt", no_argument, nullptr, BarePrompt},
    {"confirm-delay", required_argument, nullptr, ConfirmDelay},
    {"ussd-late-error", required_argument, nullptr, UssdLateError},
    {"sim-busy", required_argument, nullptr, SimBusy},
    {"sim-busy-ms", required_argument, nullptr, SimBusyMs},
    {"sim-busy-answer", required_argument, nullptr, SimBusyAnswer},
    {"hole", required_argument, nullptr, Hole},
    {"arrive-after-cmgl", required_argument, nullptr, ArriveAfterCmgl},
    {"arriving", required_argument, nullptr, Arriving},
    {"arriving-pdu", required_argument, nullptr, ArrivingPduOption},
    {nullptr, 0, nullptr, 0}};

}  // namespace

int main(int argc, char** argv) {
  sim::Options opts;
  std::string store, link, logPath;
  std::vector<Fill> fills;
  std::vector<std::pair<std::string, int>> holes;
  double exitAfter = 0;
  constexpr int Big = 1000000;
  for (int id; (id = getopt_long(argc, argv, "", LongOptions, nullptr)) != -1;) {
    bool ok = true;
    switch (id) {
      case Store: store = optarg; break;
      case Link: link = optarg; break;
      case LogFile: logPath = optarg; break;
      case ExitAfter: {
        char* end = nullptr;
        exitAfter = strtod(optarg, &end);
        ok = end != optarg && *end == '\0' && exitAfter > 0;
        break;
      }
      case Silent: opts.silent = true; break;
      case OkOnAt: ok = ParseCount(optarg, 1, Big, &opts.okOnAt); break;
      case KeepEcho: opts.keepEcho = true; break;
      case ErrorOn: opts.errorOn = optarg; break;
      case PieceDelay: ok = ParseCount(optarg, 0, Big, &opts.pieceDelayMs); break;
      case AnswerDelay: ok = ParseCount(optarg, 0, Big, &opts.answerDelayMs); break;
      case UnsolicitedAfterOk: opts.unsolicitedAfterOk = true; break;
      case IndexBase: ok = ParseCount(optarg, 0, 1, &opts.indexBase); break;
      case Descending: opts.descending = true; break;
      case CmglKeepsUnread: opts.listingKeepsUnread = true; break;
      case NoDeleteFlags: opts.noDeleteFlags = true; break;
      case NoPrompt: opts.noPrompt = true; break;
      case LatePrompt: ok = ParseCount(optarg, 0, 1000, &opts.latePrompt); break;
      case CmgsError: opts.cmgsError = true; break;
      case CmsError: ok = ParseCount(optarg, 0, 999, &opts.cmsError); break;
      case RefusePdu: ok = ParseCount(optarg, 0, Big, &opts.refusePdu); break;
      case UssdReply: opts.ussdReply = optarg; break;
      case UssdDelay: ok = ParseCount(optarg, 0, Big, &opts.ussdDelayMs); break;
      case UssdError: opts.ussdError = true; break;
      case UssdNoReply: opts.ussdNoReply = true; break;
      case UssdForm: ok = ParseUssdForm(optarg, &opts.ussdForm); break;
      case UssdStatus: ok = ParseCount(optarg, 0, 9, &opts.ussdStatus); break;
      case UssdBeforeOk: opts.ussdBeforeOk = true; break;
      case UssdTakesOption: ok = ParseUssdTakes(optarg, &opts.ussdTakes); break;
      case UssdRefusal: ok = ParseLine(optarg, &opts.ussdRefusal); break;
      case UssdMenu: opts.ussdMenu = true; break;
      case UssdSession: ok = ParseCount(optarg, 1, Big, &opts.ussdSessionMs); break;
      case ReportDelay: ok = ParseCount(optarg, 0, Big, &opts.reportDelayMs); break;
      case ReportStatus: ok = ParseCount(optarg, 0, 255, &opts.reportStatus); break;
      case NoReportStorage: opts.noReportStorage = true; break;
      case HangupAfter: ok = ParseCount(optarg, 0, Big, &opts.hangupAfter); break;
      case SimPin: opts.simPin = true; break;
      case NoSim: opts.noSim = true; break;
      case CmeErrors: opts.cmeErrors = true; break;
      case FillOption: {
        Fill fill;
        ok = ParseStorageCount(optarg, 255, true, &fill.storage, &fill.count, &fill.gsm7);
        fills.push_back(fill);
        break;
      }
      case Capacity: {
        std::string storage;
        int total = 0;
        bool unused;
        ok = ParseStorageCount(optarg, 999, false, &storage, &total, &unused);
        (storage == "SM" ? opts.capacitySm : opts.capacityMe) = total;
        break;
      }
      case PacketSize: ok = ParseCount(optarg, 0, Big, &opts.packetSize); break;
      case PacketGap: ok = ParseCount(optarg, 0, Big, &opts.packetGapMs); break;
      case HeaderFormOption: ok = ParseHeaderForm(optarg, &opts.headerForm); break;
      case AlphaFieldOption: ok = ParseAlphaField(optarg, &opts.alphaField); break;
      case Noise: ok = ParseEscapes(optarg, &opts.noise); break;
      case NoiseAt: ok = ParseNoiseAt(optarg, &opts.noiseAt); break;
      case BarePrompt: opts.barePrompt = true; break;
      case ConfirmDelay: ok = ParseCount(optarg, 0, Big, &opts.confirmDelayMs); break;
      case UssdLateError: ok = ParseLine(optarg, &opts.ussdLateError); break;
      case SimBusy: ok = ParseCount(optarg, 0, Big, &opts.busyTries); break;
      case SimBusyMs: ok = ParseCount(optarg, 0, Big, &opts.busyMs); break;
      case SimBusyAnswer: ok = ParseLine(optarg, &opts.busyAnswer); break;
      case Hole: {
        std::pair<std::string, int> hole;
        bool unused;
        ok = ParseStorageCount(optarg, 999, false, &hole.first, &hole.second, &unused);
        holes.push_back(hole);
        break;
      }
      case ArriveAfterCmgl: {
        int n = 0;
        ok = ParseCount(optarg, 1, Big, &n);
        opts.arriveAfterCmgl.push_back(n);
        break;
      }
      case Arriving: {
        std::string text;
        ok = ParseEscapes(optarg, &text);
        opts.arriving.push_back(ArrivingText(text));
        break;
      }
      case ArrivingPduOption: {
        sim::Message m;
        ok = ArrivingPdu(optarg, &m);
        opts.arriving.push_back(m);
        break;
      }
      case Help: fputs(UsageText, stdout); return 0;
      default: return UsageError(nullptr, nullptr);  // getopt_long has said what was wrong
    }
    if (!ok)
      return UsageError("bad value: ", optarg);
  }
  if (optind < argc)
    return UsageError("unexpected argument: ", argv[optind]);

  FILE* logFile = stderr;
  if (!logPath.empty() && !(logFile = fopen(logPath.c_str(), "w"))) {
    fprintf(stderr, "modem-sim: %s: %s\n", logPath.c_str(), strerror(errno));
    return 1;
  }
  opts.log = [logFile](const std::string& line) {
    fputs(line.c_str(), logFile);
    fputc('\n', logFile);
    fflush(logFile);
  };

  struct sigaction action {};
  action.sa_handler = OnSignal;  // set before the path is printed: a caller may stop us right after reading it
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = OnArrivalSignal;
  sigaction(SIGUSR1, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  sim::Modem modem(opts);
  if (!store.empty() && !modem.LoadStore(store)) {
    fprintf(stderr, "modem-sim: %s\n", modem.LastError().c_str());
    return 1;
  }
  for (const Fill& fill : fills)
    modem.FillStorage(fill.storage, fill.count, fill.gsm7);
  for (const auto& [storage, place] : holes)
    modem.RemoveMessage(storage, place - 1 + opts.indexBase);
  if (!modem.Start()) {
    fprintf(stderr, "modem-sim: cannot open a pseudo-terminal: %s\n", strerror(errno));
    return 1;
  }
  struct stat existing;
  if (!link.empty()) {
    if (lstat(link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
      unlink(link.c_str());
    if (symlink(modem.SlavePath().c_str(), link.c_str()) != 0) {
      fprintf(stderr, "modem-sim: cannot link %s: %s\n", link.c_str(), strerror(errno));
      return 1;
    }
  }
  printf("%s\n", modem.SlavePath().c_str());
  fflush(stdout);

  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(exitAfter));
  for (sig_atomic_t taken = 0; !StopRequested && (exitAfter <= 0 || std::chrono::steady_clock::now() < deadline);) {
    for (; taken != ArrivalsRequested; ++taken)
      modem.Arrive();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  modem.Stop();
  if (!link.empty() && lstat(link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
    unlink(link.c_str());
  return 0;
}
