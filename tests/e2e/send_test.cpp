// Sending an SMS and a USSD request: the real atsms against the simulated modem on a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "../fnv_id.h"
#include "harness.h"
#include "sim_pdu.h"

namespace {

using namespace e2e;

const std::string Destination = "+491701234567";

std::string CmgsLine(const std::string& pdu) { return "AT+CMGS=" + std::to_string((pdu.size() - 1) / 2) + "\r"; }

// cmgs and pdu, when given, are the exact lines of a one-part message; otherwise they follow from the
// PDUs received. Every text must reach the recipient whole, as one message of the given parts.
struct SendCase { const char* name; std::string text, sent, cmgs, pdu; size_t parts; bool gsm7 = false; };
void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }
class Send : public ::testing::TestWithParam<SendCase> {};

std::string Repeated(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

const std::string Emoji = "\xF0\x9F\x98\x80";
const std::string Ascii1023 = Repeated("abcdefghijklm ", 74).substr(0, 1023);
const std::string Cyrillic200 = Repeated("АБВГДЕЖЗИЙКЛ ", 15) + "АБВГД";  // 13 characters, 15 times, and 5

TEST_P(Send, ModemReceivesTheTextIntact) {
  const SendCase& c = GetParam();
  sim::Modem modem(SimOptions());
  START_MODEM(modem);
  Lines args = {modem.SlavePath(), "sim", "send", Destination, c.text};
  if (c.gsm7) args.insert(args.begin(), "--gsm7");
  RunResult run = RunAtsms(args);
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(ResultOk, run.out);
  EXPECT_EQ("", run.err);
  // The modem refuses a wrong length and delivers only once every part of one reference has come.
  Lines commands = Cat({Prepared(StorageSim), {PduMode}});
  for (const sim::SentSms& part : modem.Sent()) {
    std::string pdu = c.pdu.empty() ? part.pdu : c.pdu;
    commands.push_back(c.cmgs.empty() ? CmgsLine(pdu) : c.cmgs);
    commands.push_back(pdu + "\x1a");
  }
  EXPECT_EQ(commands, modem.Commands());
  std::vector<sim::DeliveredSms> delivered = modem.Delivered();
  ASSERT_EQ(1u, delivered.size());
  EXPECT_EQ(Destination, delivered[0].destination);
  EXPECT_EQ(c.sent, delivered[0].text);
  EXPECT_EQ(c.parts, (size_t)delivered[0].parts);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Send,
    ::testing::Values(
        // SMS-SUBMIT, MR 0, 12 digits international, PID 0, UCS-2, 10 octets of "Hello".
        SendCase{"QuotedLatin", "'Hello'", "Hello", "AT+CMGS=23\r",
                 "0001000C919471103254760008"
                 "0A00480065006C006C006F", 1},
        SendCase{"CyrillicAndEmoji", "Привет, мир \xF0\x9F\x98\x80!", "Привет, мир \xF0\x9F\x98\x80!", "", "", 1},
        SendCase{"EscapedLineFeed", "'Line1\\nLine2'", "Line1\nLine2", "", "", 1},
        // 140 octets: still one SMS without a header, as it always was.
        SendCase{"SeventyUnits", std::string(68, 'a') + Emoji, std::string(68, 'a') + Emoji, "AT+CMGS=153\r",
                 "0001000C919471103254760008" "8C" + Repeated("0061", 68) + "D83DDE00", 1},
        SendCase{"SeventyOneUnits", std::string(71, 'a'), std::string(71, 'a'), "", "", 2},
        SendCase{"EmojiAcrossTheCut", std::string(66, 'a') + Emoji + " See you", std::string(66, 'a') + Emoji + " See you", "", "",
                 2},
        SendCase{"Ascii1023Bytes", Ascii1023, Ascii1023, "", "", 16},
        SendCase{"Cyrillic200", Cyrillic200, Cyrillic200, "", "", 3},
        // --gsm7: the simulator unpacks the septets on its own, header, fill bit and escapes included.
        SendCase{"Gsm7Ascii400", Ascii1023.substr(0, 400), Ascii1023.substr(0, 400), "", "", 3, true},  // UCS-2: 6
        SendCase{"Gsm7EscapeAtTheCut", std::string(152, 'a') + "{x} [y] ~ \\ | ^ \xE2\x82\xAC",
                 std::string(152, 'a') + "{x} [y] ~ \\ | ^ \xE2\x82\xAC", "", "", 2, true},
        SendCase{"Gsm7CyrillicGoesAsUcs2", std::string(99, 'a') + "\xD0\x96", std::string(99, 'a') + "\xD0\x96", "", "", 2,
                 true}),
    [](const ::testing::TestParamInfo<SendCase>& info) { return std::string(info.param.name); });

// A prompt counts only within the first ten answers after AT+CMGS. Lines sent unasked within 1.5 s
// of the write are no answer: the first one holds the three that come 0.7 s apart, each later one
// one line. So the prompt after 11 such lines is in the 10th answer, after 12 in the 11th.
TEST(SendPrompt, TenthAnswerCountsEleventhDoesNot) {
  struct Case { int latePrompt; int status; const std::string& block; size_t sent; };
  const Case cases[] = {{11, 0, ResultOk, 1}, {12, 255, ResultError, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("prompt after " + std::to_string(c.latePrompt) + " other answers");
    sim::Options options = SimOptions();
    options.latePrompt = c.latePrompt;
    sim::Modem modem(options);
    START_MODEM(modem);
    RunResult run = RunAtsms({modem.SlavePath(), "sim", "send", Destination, "Hi"});
    EXPECT_EQ(c.status, run.exitStatus);
    EXPECT_EQ(c.block, run.out);
    EXPECT_EQ(c.sent, modem.Sent().size());
    Lines commands = modem.Commands();
    ASSERT_FALSE(commands.empty());
    if (c.sent == 0) {
      EXPECT_EQ("AT+CMGS=", commands.back().substr(0, 8)) << "a PDU line was written";
    }
  }
}

TEST(SendRefused, CmsErrorGivesTheErrorBlock) {
  sim::Options options = SimOptions();
  options.cmsError = 500;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "send", Destination, "Hi"});
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ(ResultError, run.out);
  ASSERT_EQ(1u, modem.Sent().size());  // the PDU went out; the network refused it
  EXPECT_EQ(modem.Sent()[0].pdu + "\x1a", modem.Commands().back());
}

// The recipient's phone holds part 1 and waits; the third part is never offered.
TEST(SendRefused, SecondOfThreePartsEndsTheMessage) {
  sim::Options options = SimOptions();
  options.refusePdu = 2;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "send", Destination, std::string(150, 'a')});
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ(ResultError, run.out);
  EXPECT_EQ("atsms: part 2 of 3 was not accepted; 1 part was sent\n", run.err);
  std::vector<sim::SentSms> sent = modem.Sent();
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(2, sent[1].sequence);
  EXPECT_EQ(sent[1].pdu + "\x1a", modem.Commands().back()) << "the third part was offered";
  EXPECT_TRUE(modem.Delivered().empty());
}

// --report: the block names the reference, and once the network has delivered the message the
// modem holds its report (so it was told to keep it, and TP-SRR asked for it), "delivered", under
// that reference; later runs list it. The commands are the unit tables'.
TEST(SendReport, PrintsTheReferenceAndTheModemKeepsTheReport) {
  sim::Options options = SimOptions();
  options.reportDelayMs = 300;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({"--report", modem.SlavePath(), "sim", "send", Destination, "Hi"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ("\n{\n \"msg\":\"OK\",\n \"references\":[1]\n}\n", run.out);
  EXPECT_EQ("", run.err);
  std::vector<sim::Message> reports;
  for (double end = Now() + 5; reports.empty() && Now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    reports = modem.Messages("SR");
  }
  ASSERT_EQ(1u, reports.size());
  sim::StatusReportInfo report;
  ASSERT_TRUE(sim::DecodeStatusReportPdu(reports[0].pdu, &report));  // its times; the listings show the rest
  const std::string times = "\t" + report.sent + "\t" + report.done;
  RunResult list = RunAtsms({modem.SlavePath(), "report", "list"});
  EXPECT_EQ(1, list.exitStatus);
  EXPECT_EQ("num\tstatus\treference\trecipient\tsent\tdone\n1\tdelivered\t1\t" + Destination + times + "\n", list.out);
  RunResult json = RunAtsms({"-q", "-j", modem.SlavePath(), "report", "list"});
  EXPECT_EQ(1, json.exitStatus);
  EXPECT_EQ("{\"storage\":\"SR\",\"reports\":[{\"index\":1," + fnv::Member(fnv::OfPdu(reports[0].pdu)) +
                "\"unread\":false,\"status\":\"delivered\",\"code\":0,\"reference\":1,\"recipient\":\"" + Destination + "\",\"sent\":\"" + report.sent + "\",\"done\":\"" +
                report.done + "\"}]}\n",
            json.out);
}

TEST(SendRefused, InvalidNumberWritesNothingToTheModem) {
  const char* numbers[] = {"12a4", "+", "1234567890123456789", "", "+49\r1", "++49"};
  for (const char* number : numbers) {
    SCOPED_TRACE(::testing::PrintToString(std::string(number)));
    sim::Modem modem(SimOptions());
    START_MODEM(modem);
    termios before = PortSettings(modem);
    RunResult run = RunAtsms({modem.SlavePath(), "sim", "send", number, "Hi"});
    EXPECT_EQ(255, run.exitStatus);
    EXPECT_EQ(ResultError, run.out);
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n'));
    EXPECT_EQ('\n', run.err.back());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // anything written would have arrived
    EXPECT_TRUE(modem.Commands().empty());
    EXPECT_TRUE(SameSettings(before, PortSettings(modem)));
  }
}

TEST(Ussd, ReplyAndLaterNetworkAnswer) {
  sim::Modem modem(SimOptions());
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "ussd", "*100#"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(ResultOk, run.out);
  EXPECT_EQ((Lines{Probe, EchoOff, CharsetGsm, UssdStar100}), modem.Commands());
  EXPECT_EQ((Lines{"*100#"}), modem.UssdRequests());
  const std::string reply = UssdStar100 + "\n\r\nOK\r\n - 10\n";  // the command line, then the first answer
  EXPECT_EQ(reply, run.err.substr(0, reply.size()));
  EXPECT_NE(std::string::npos, run.err.find("+CUSD: 0,\"Balance: 12.34 EUR\",15"));
  const std::string line = "USSD reply: Balance: 12.34 EUR\n";
  EXPECT_EQ(line, run.err.substr(run.err.size() - std::min(run.err.size(), line.size())));
}

// A reply that comes with the "OK" (0.2 s after it, inside the same collection) or before it: one
// collection, then the reply line at once, in whichever form the modem sends the text.
struct UssdReplyCase {
  const char* name; sim::UssdForm form; int status; bool beforeOk; std::string text, answer, line;
};
void PrintTo(const UssdReplyCase& c, std::ostream* os) { *os << c.name; }
class UssdReply : public ::testing::TestWithParam<UssdReplyCase> {};

TEST_P(UssdReply, OneReadableLineWithoutFurtherWaits) {
  const UssdReplyCase& c = GetParam();
  sim::Options options = SimOptions();
  options.ussdForm = c.form;
  options.ussdStatus = c.status;
  options.ussdBeforeOk = c.beforeOk;
  options.ussdDelayMs = 200;
  options.ussdReply = c.text;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "ussd", "*100#"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(ResultOk, run.out);
  EXPECT_EQ(UssdStar100 + "\n" + c.answer + " - 10\n" + c.line, run.err);  // no collection after it
  EXPECT_LT(run.seconds, 8.0);  // preparation and one answer; waiting on took over 16 s
}

const std::string German = "Ihr Guthaben f\xC3\xBCr die Nr.4915783647410 betr\xC3\xA4gt 5.78 Euro";
const std::string GermanPacked =  // as a network sent it, CR in the spare bits
    "49B41C74ACD3D16171D90D32FBE52072BA0C72CA5DB45CAC76C3CD6CB41B2D060389CB74F9FE4C07D55C371CA85897BF1B";

INSTANTIATE_TEST_SUITE_P(
    Forms, UssdReply,
    ::testing::Values(
        UssdReplyCase{"Text", sim::UssdForm::Text, 0, false, "Balance: 12.34 EUR",
                      "\r\nOK\r\n\r\n+CUSD: 0,\"Balance: 12.34 EUR\",15\r\n", "USSD reply: Balance: 12.34 EUR\n"},
        UssdReplyCase{"Ucs2", sim::UssdForm::Ucs2, 0, false, "Баланс: 5 ₽",
                      "\r\nOK\r\n\r\n+CUSD: 0,\"04110430043B0430043D0441003A00200035002020BD\",72\r\n",
                      "USSD reply: Баланс: 5 ₽\n"},
        UssdReplyCase{"Packed", sim::UssdForm::Packed, 0, false, German,
                      "\r\nOK\r\n\r\n+CUSD: 0,\"" + GermanPacked + "\",15\r\n", "USSD reply: " + German + "\n"},
        UssdReplyCase{"Unquoted", sim::UssdForm::Unquoted, 2, false, German,
                      "\r\nOK\r\n\r\n+CUSD: 2, " + GermanPacked + "\r\n", "USSD reply: " + German + "\n"},
        UssdReplyCase{"MenuBeforeOk", sim::UssdForm::Text, 1, true, "1. Balance\r\n2. Top up\r\n3. Tariffs",
                      "\r\n+CUSD: 1,\"1. Balance\r\n2. Top up\r\n3. Tariffs\",15\r\n\r\nOK\r\n",
                      "USSD reply: 1. Balance\\r\\n2. Top up\\r\\n3. Tariffs [reply expected]\n"}),
    [](const ::testing::TestParamInfo<UssdReplyCase>& info) { return std::string(info.param.name); });

TEST(Ussd, ErrorReplyGivesTheErrorBlock) {
  sim::Options options = SimOptions();
  options.ussdError = true;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "ussd", "*100#"});
  EXPECT_EQ(255, run.exitStatus);
  EXPECT_EQ(ResultError, run.out);
  // The plain request once more, refused as well: the line names it.
  EXPECT_EQ(UssdStar100 + "\n\r\nERROR\r\n - 10\n" + "AT+CUSD=1,\"*100#\",15\r\n\r\nERROR\r\n - 10\n" +
                "atsms: the modem refused AT+CUSD=1,\"*100#\",15: ERROR\n",
            run.err);
}

TEST(Ussd, OkThenSilenceTracesElevenEmptyAnswers) {
  sim::Options options = SimOptions();
  options.ussdNoReply = true;
  sim::Modem modem(options);
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "ussd", "*100#"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(ResultOk, run.out);
  std::string trace = UssdStar100 + "\n\r\nOK\r\n - 10\n";
  for (int counter = 10; counter >= 0; --counter) trace += " - " + std::to_string(counter) + "\n";
  EXPECT_EQ(trace + "atsms: the network sent no reply\n", run.err);
}

}  // namespace
