// Hostile and odd command lines: every one gives a clear result, and nothing is ever written to a
// PORT that is not a terminal.
#include <gtest/gtest.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "harness.h"

namespace hardening {
namespace {

using namespace e2e;

enum class Port { Modem, Path, Directory, RegularFile, Fifo };

// Linux refuses a single argument of 32 pages or more (MAX_ARG_STRLEN): this is the longest one.
const std::string Huge(size_t length, char c) { return std::string(length, c); }
constexpr size_t LongestArgument = 32 * 4096 - 1;

struct ArgumentCase {
  const char* name;
  Port port;
  std::string path;               // for Port::Path
  std::vector<std::string> args;  // after PORT
  int status;
  std::string out;
  std::string err;
  int commands;                   // command lines the modem must receive; -1: not counted
  std::string mustWrite;          // a command line that must be among them
  std::string neverWrite;         // text that must be in none of them
  const char* sentText;           // the text of the one SMS the modem must have received, if any

  ArgumentCase(const char* name, Port port, std::string path, std::vector<std::string> args, int status,
               std::string out, std::string err, int commands = -1, std::string mustWrite = "",
               std::string neverWrite = "", const char* sentText = nullptr)
      : name(name), port(port), path(std::move(path)), args(std::move(args)), status(status), out(std::move(out)),
        err(std::move(err)), commands(commands), mustWrite(std::move(mustWrite)), neverWrite(std::move(neverWrite)),
        sentText(sentText) {}
};

// The errno line, then the line that says what to check; "<port>" stands for the PORT of the run.
std::string OpenError(int error, const std::string& port = "<port>") {
  const std::string line = std::to_string(error) + "(" + strerror(error) + ")\natsms: cannot open " + port + ": ";
  if (error == ENOTTY || error == EISDIR) return line + "not a serial port\n";
  return line + strerror(error) + (error == ENOENT ? "; is the modem plugged in?\n" : "\n");
}

const std::string Listing = ListHeader + "1\t0\t+1234\t24/05/01,10:20:30+08\tfirst\n";
// What SendUssd traces on standard error when the modem answers "OK" and, a second later, "+CUSD",
// and the reply line after it.
std::string UssdTrace(const std::string& packed) {
  return "AT+CUSD=1,\"" + packed + "\",15\r\n\r\nOK\r\n - 10\n\r\n+CUSD: 0,\"Balance\",15\r\n - 10\n"
         "USSD reply: Balance\n";
}

// What an unknown option prints after naming it.
std::string OptionsUsage() {
  const std::string program = AtsmsPath();
  return "usage: " + program + " [OPTION...] PORT tel|sim|report|ussd COMMAND [DATA...]\nmore:\t" + program + " --help\n";
}

std::string WrongWait(const std::string& option) {
  return "atsms: option '" + option + "' needs SECONDS, a whole number from 0 to 3600\n" + OptionsUsage();
}

// The usage that follows a refused command line: the general one, that of send or that of del.
struct UsageText { const char* usage; const char* example; };
const UsageText General = {" PORT tel|sim|ussd COMMAND [DATA...]\n", " /dev/ttyUSB1 sim list\n"};
const UsageText Send = {" PORT tel|sim send PHONE 'TEXT'\n", " /dev/ttyUSB1 tel|sim send +123456789012 'Hello!\nThis is sample SMS\n'\n"};
const UsageText Delete = {" PORT sim|tel del all|NUMBER\n", " /dev/ttyUSB1 sim|tel del all|5\n"};

// A command line refused for one argument, before the port is opened: its line, then the usage.
std::string Refused(const std::string& line, const UsageText& usage) {
  const std::string program = AtsmsPath();
  return line + "usage: " + program + usage.usage + "examples:\t" + program + usage.example;
}
std::string UnknownCommand(const std::string& word) {
  return Refused("atsms: unknown command '" + word + "'; the commands are list, del, take and send\n", General);
}
std::string UnknownMode(const std::string& word) {
  return Refused("atsms: unknown mode '" + word + "'; the modes are sim, tel, report and ussd\n", General);
}
std::string NoIndex(const std::string& arg) {
  return Refused("atsms: del needs a message number or all, not '" + arg + "'\n", Delete);
}
std::string Unexpected(const std::string& arg, const UsageText& usage) {
  return Refused("atsms: unexpected argument '" + arg +
                     "' after the command; options go before PORT, and a TEXT with spaces needs quotes\n",
                 usage);
}

const std::string EmptyText = "atsms: the text is empty; nothing sent\n";
const std::string UssdControl = "atsms: the USSD string holds a control character; nothing sent\n";
const std::string BadNumber = "atsms: the phone number must be 1 to 18 digits after an optional '+'\n";

std::vector<ArgumentCase> Cases() {
  std::vector<std::string> manyLong{"sim", "list"};
  for (int i = 0; i < 8; ++i) manyLong.push_back(Huge(LongestArgument, 'x'));  // about 1 MB
  return {
      // PORTs that are no modem: one "errno(text)" line, status 255, not a byte written.
      {"EmptyPort", Port::Path, "", {"sim", "list"}, 255, "", OpenError(ENOENT)},
      {"MissingPort", Port::Path, "/nonexistent/ttyUSB9", {"sim", "list"}, 255, "", OpenError(ENOENT)},
      {"LongPort", Port::Path, Huge(LongestArgument, 'x'), {"sim", "list"}, 255, "", OpenError(ENAMETOOLONG)},
      {"InvalidUtf8Port", Port::Path, "/tmp/\xff\xfe-no-such-port", {"sim", "list"}, 255, "", OpenError(ENOENT)},
      {"DirectoryPort", Port::Directory, "", {"sim", "list"}, 255, "", OpenError(EISDIR)},
      {"RegularFilePort", Port::RegularFile, "", {"sim", "list"}, 255, "", OpenError(ENOTTY)},
      {"RegularFilePortSend", Port::RegularFile, "", {"sim", "send", "12345", "Hi"}, 255, "", OpenError(ENOTTY)},
      {"DevNullPort", Port::Path, "/dev/null", {"ussd", "*100#"}, 255, "", OpenError(ENOTTY)},
      {"FifoPort", Port::Fifo, "", {"sim", "list"}, 255, "", OpenError(ENOTTY)},
      // Before PORT, an argument that starts with "-" is an option; a lone "-" is a PORT.
      {"LoneDashPort", Port::Path, "-", {"sim", "list"}, 255, "", OpenError(ENOENT)},
      {"DashPortAfterDoubleDash", Port::Path, "--", {"-x", "sim", "list"}, 255, "", OpenError(ENOENT, "-x")},
      {"LongOptionLikePort", Port::Path, "-" + Huge(LongestArgument - 1, 'x'), {"sim", "list"}, 1, "",
       "atsms: unknown option '-" + Huge(LongestArgument - 1, 'x') + "'\n" + OptionsUsage()},
      // -w takes a whole number of seconds from 0 to 3600 in the next argument; anything else is a
      // usage error before any port is opened.
      {"WaitWithoutSeconds", Port::Path, "-w", {}, 1, "", WrongWait("-w")},
      {"WaitWord", Port::Path, "-w", {"soon", "/dev/null", "sim", "list"}, 1, "", WrongWait("-w")},
      {"WaitEmpty", Port::Path, "--wait", {"", "/dev/null", "sim", "list"}, 1, "", WrongWait("--wait")},
      {"WaitPastAnHour", Port::Path, "--wait", {"3601", "/dev/null", "sim", "list"}, 1, "", WrongWait("--wait")},
      {"WaitGlued", Port::Path, "-w5", {"/dev/null", "sim", "list"}, 1, "", "atsms: unknown option '-w5'\n" + OptionsUsage()},
      {"WaitAnHour", Port::Path, "--wait", {"3600", "/dev/null", "ussd", "*100#"}, 255, "", OpenError(ENOTTY, "/dev/null")},
      // --id takes 16 hex digits and goes with del NUMBER alone, --to with take alone.
      {"IdShort", Port::Path, "--id", {"0123456789abcde", "/dev/null", "sim", "del", "3"}, 1, "",
       "atsms: option '--id' needs ID, the 16 hex digits of a message's id\n" + OptionsUsage()},
      {"IdWithDeleteAll", Port::Path, "--id", {"0123456789ABCDEF", "/dev/null", "sim", "del", "all"}, 1, "",
       "atsms: option '--id' goes with del NUMBER only\n" + Refused("", Delete)},
      {"ToWithoutDir", Port::Path, "--to", {}, 1, "", "atsms: option '--to' needs DIR\n" + OptionsUsage()},
      {"ToWithList", Port::Path, "--to", {"/tmp", "/dev/null", "sim", "list"}, 1, "",
       "atsms: option '--to' goes with take only\n" + Refused("", General)},
      // What the plain USSD form cannot carry is refused before the port is opened.
      {"UssdTextNotPlain", Port::Path, "--ussd-text", {"/dev/null", "ussd", "*100#\r\nATD112;"}, 1, "",
       "atsms: with --ussd-text the USSD string must be printable ASCII without '\"'\n"},
      // Empty strings in every other position.
      {"EmptyMode", Port::Modem, "", {"", "list"}, 1, "", UnknownMode(""), 0},
      {"EmptyCommand", Port::Modem, "", {"sim", ""}, 1, "", UnknownCommand(""), 0},
      {"EmptyUssd", Port::Modem, "", {"ussd", ""}, 0, ResultOk, UssdTrace(""), 4, "AT+CUSD=1,\"\",15\r"},
      {"EmptyNumber", Port::Modem, "", {"sim", "send", "", "Hi"}, 255, ResultError, BadNumber, 0},
      // An empty SMS is billed as any other: refused before the port is opened, also as a pair of quotes.
      {"EmptyText", Port::Modem, "", {"sim", "send", "12345", ""}, 1, "", EmptyText, 0},
      {"QuotesOnlyText", Port::Modem, "", {"sim", "send", "12345", "\"\""}, 1, "", EmptyText, 0},
      {"EmptyDeleteIndex", Port::Modem, "", {"sim", "del", ""}, 1, "", NoIndex(""), 0},
      // The longest arguments Linux passes.
      {"LongMode", Port::Modem, "", {Huge(LongestArgument, 'm'), "list"}, 1, "", UnknownMode(Huge(LongestArgument, 'm')),
       0},
      {"LongCommand", Port::Modem, "", {"sim", Huge(LongestArgument, 'c')}, 1, "",
       UnknownCommand(Huge(LongestArgument, 'c')), 0},
      {"LongUssd", Port::Modem, "", {"ussd", Huge(LongestArgument, '1')}, 255, ResultError,
       "atsms: the USSD string is longer than 72 characters\n", 0},
      {"LongNumber", Port::Modem, "", {"sim", "send", Huge(LongestArgument, '1'), "Hi"}, 255, ResultError, BadNumber, 0},
      {"LongText", Port::Modem, "", {"sim", "send", "12345", Huge(LongestArgument, 'A')}, 255, ResultError,
       "atsms: the text is longer than 1023 bytes\n", 0},
      {"LongDeleteIndex", Port::Modem, "", {"sim", "del", Huge(LongestArgument, '9')}, 1, "",
       NoIndex(Huge(LongestArgument, '9')), 0},
      {"ManyLongArguments", Port::Modem, "", manyLong, 1, "", Unexpected(Huge(LongestArgument, 'x'), General), 0},
      // del takes "all" or digits: read like atoi, each of these deleted index 0.
      {"DeleteUpperCaseAll", Port::Modem, "", {"sim", "del", "ALL"}, 1, "", NoIndex("ALL"), 0},
      {"DeleteAllAndBlank", Port::Modem, "", {"sim", "del", "all "}, 1, "", NoIndex("all "), 0},
      {"DeleteHex", Port::Modem, "", {"sim", "del", "0x3"}, 1, "", NoIndex("0x3"), 0},
      {"DeleteNegative", Port::Modem, "", {"sim", "del", "-1"}, 1, "", NoIndex("-1"), 0},
      {"DeletePastInt", Port::Modem, "", {"sim", "del", "2147483648"}, 1, "", NoIndex("2147483648"), 0},
      {"DeleteLeadingZeros", Port::Modem, "", {"sim", "del", "003"}, 1, Listing, "", -1, "AT+CMGD=3\r"},
      // A mode word of none of the modes: any of these once emptied the SIM.
      {"MistypedMode", Port::Modem, "", {"tle", "del", "all"}, 1, "", UnknownMode("tle"), 0},
      {"StorageNameAsMode", Port::Modem, "", {"ME", "del", "all"}, 1, "", UnknownMode("ME"), 0},
      {"UpperCaseMode", Port::Modem, "", {"SIM", "list"}, 1, "", UnknownMode("SIM"), 0},
      {"ModeWithControls", Port::Modem, "", {"sim\r\x1b[2J", "list"}, 1, "", UnknownMode("sim\\r\\x1b[2J"), 0},
      // A command word of none of the commands, outside mode ussd.
      {"UnknownCommand", Port::Modem, "", {"sim", "lsit"}, 1, "", UnknownCommand("lsit"), 0},
      {"UpperCaseCommand", Port::Modem, "", {"tel", "LIST"}, 1, "", UnknownCommand("LIST"), 0},
      {"SendToTheReports", Port::Modem, "", {"report", "send", "12345", "Hi"}, 1, "",
       Refused("atsms: unknown command 'send' for reports; their commands are list, del and take\n", General), 0},
      // An argument beyond those the command reads would have been dropped.
      {"OptionAfterDelete", Port::Modem, "", {"sim", "del", "3", "--join"}, 1, "", Unexpected("--join", Delete), 0},
      {"UnquotedText", Port::Modem, "", {"sim", "send", "+491701234567", "Hello", "world"}, 1, "",
       Unexpected("world", Send), 0},
      {"TwoUssdStrings", Port::Modem, "", {"ussd", "*100#", "1"}, 1, "", Unexpected("1", General), 0},
      // Text that is not UTF-8 is refused whole, never sent cut at the bad byte.
      {"InvalidUtf8Text", Port::Modem, "", {"sim", "send", "12345", "A\xff" "B"}, 255, ResultError,
       "atsms: the text is not valid UTF-8\n", 0},
      {"Latin1Text", Port::Modem, "", {"sim", "send", "12345", "Gr\xfc\xdf" "e"}, 255, ResultError,
       "atsms: the text is not valid UTF-8\n", 0},
      {"TextCutInsideACharacter", Port::Modem, "", {"sim", "send", "12345", "Hi \xf0\x9f\x98"}, 255, ResultError,
       "atsms: the text is not valid UTF-8\n", 0},
      {"InvalidUtf8Ussd", Port::Modem, "", {"ussd", "\xff\xfe"}, 0, ResultOk, UssdTrace("7F3F"), 4, "AT+CUSD=1,\"7F3F\",15\r"},
      // Control characters never reach the modem as such.
      {"NumberWithCarriageReturn", Port::Modem, "", {"sim", "send", "+49\r170", "Hi"}, 255, ResultError, BadNumber, 0},
      {"NumberWithCtrlZ", Port::Modem, "", {"sim", "send", "49\x1a", "Hi"}, 255, ResultError, BadNumber, 0},
      {"NumberWithLineFeed", Port::Modem, "", {"sim", "send", "4917\n", "Hi"}, 255, ResultError, BadNumber, 0},
      {"NumberWithTab", Port::Modem, "", {"sim", "send", "49\t17", "Hi"}, 255, ResultError, BadNumber, 0},
      {"NumberWithSpace", Port::Modem, "", {"sim", "send", "49 17", "Hi"}, 255, ResultError, BadNumber, 0},
      {"NumberPlusOnly", Port::Modem, "", {"sim", "send", "+", "Hi"}, 255, ResultError, BadNumber, 0},
      {"NumberTwoPluses", Port::Modem, "", {"sim", "send", "++49", "Hi"}, 255, ResultError, BadNumber, 0},
      {"NumberNineteenDigits", Port::Modem, "", {"sim", "send", "1234567890123456789", "Hi"}, 255, ResultError,
       BadNumber, 0},
      {"DeleteIndexWithCommand", Port::Modem, "", {"sim", "del", "3\rAT+CMGD=1"}, 1, "", NoIndex("3\\rAT+CMGD=1"), 0},
      // No network takes a control character in a USSD string: refused before the port is opened.
      {"UssdWithCommand", Port::Modem, "", {"ussd", "*100#\r\nATD112;"}, 1, "", UssdControl, 0},
      {"UssdWithTab", Port::Modem, "", {"ussd", "*100\t#"}, 1, "", UssdControl, 0},
      {"UssdWithC1Control", Port::Modem, "", {"ussd", "*100#\xC2\x9B"}, 1, "", UssdControl, 0},
      {"TextWithCtrlZAndCommand", Port::Modem, "", {"sim", "send", "12345", "Hi\x1a" "AT+CMGD=1\r"}, 0, ResultOk, "", 7,
       "", "AT+CMGD", "Hi\x1a" "AT+CMGD=1\r"},
  };
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class Arguments : public testing::TestWithParam<ArgumentCase> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/atsms-hardening-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    if (reader_ >= 0) close(reader_);
    unlink((dir_ + "/file").c_str());
    unlink((dir_ + "/fifo").c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_;
  int reader_ = -1;
};

TEST_P(Arguments, GiveAClearResult) {
  const ArgumentCase& c = GetParam();
  sim::Options options = SimOptions();
  options.ussdReply = "Balance";
  options.ussdDelayMs = 1000;  // well after the 0.5 s that ends the "OK" answer
  sim::Modem modem(options);
  modem.AddMessage("SM", {1, "REC READ", "+1234", "24/05/01,10:20:30+08", "first"});
  ASSERT_TRUE(modem.Start()) << "openpty failed";
  const termios before = PortSettings(modem);

  const std::string precious = "precious content\n";
  std::string port = c.path;
  switch (c.port) {
    case Port::Modem: port = modem.SlavePath(); break;
    case Port::Path: break;
    case Port::Directory: port = dir_; break;
    case Port::RegularFile:
      port = dir_ + "/file";
      { std::ofstream(port, std::ios::binary) << precious; }
      break;
    case Port::Fifo:
      port = dir_ + "/fifo";
      ASSERT_EQ(0, mkfifo(port.c_str(), 0600));
      reader_ = open(port.c_str(), O_RDWR | O_NONBLOCK);  // whatever atsms writes stays here to be seen
      ASSERT_GE(reader_, 0);
      break;
  }

  std::vector<std::string> args{port};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const RunResult outcome = RunAtsms(args);

  EXPECT_FALSE(outcome.timedOut);
  EXPECT_TRUE(outcome.exited) << "killed by signal " << outcome.signal;
  EXPECT_EQ(c.status, outcome.exitStatus);
  EXPECT_EQ(c.out, outcome.out);
  std::string err = c.err;
  for (size_t at; (at = err.find("<port>")) != std::string::npos;) err.replace(at, 6, port);
  EXPECT_EQ(err, outcome.err);

  const std::vector<std::string> commands = modem.Commands();
  if (c.port != Port::Modem) {
    EXPECT_TRUE(commands.empty());
  }
  if (c.commands >= 0) {
    EXPECT_EQ(static_cast<size_t>(c.commands), commands.size());
  }
  bool written = c.mustWrite.empty();
  for (const std::string& line : commands) {
    written = written || line == c.mustWrite;
    if (!c.neverWrite.empty()) {
      EXPECT_EQ(std::string::npos, line.find(c.neverWrite)) << "written: " << line;
    }
  }
  EXPECT_TRUE(written) << "never written: " << c.mustWrite;
  if (c.sentText) {
    const std::vector<sim::SentSms> sent = modem.Sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(c.sentText, sent[0].text);
    EXPECT_TRUE(sent[0].lengthOk);
  }
  EXPECT_TRUE(SameSettings(before, PortSettings(modem))) << "the modem's port was not restored";

  if (c.port == Port::RegularFile) {
    EXPECT_EQ(precious, ReadFile(port));
  }
  if (c.port == Port::Fifo) {
    char byte;
    EXPECT_EQ(-1, read(reader_, &byte, 1)) << "atsms wrote into the fifo";
    EXPECT_EQ(EAGAIN, errno);
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Arguments, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hardening
