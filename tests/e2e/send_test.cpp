// Sending an SMS and a USSD request: the real atsms against the simulated modem on a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "harness.h"

namespace {

using namespace e2e;

const std::string Destination = "+491701234567";

std::string CmgsLine(const std::string& pdu) { return "AT+CMGS=" + std::to_string((pdu.size() - 1) / 2) + "\r"; }

// cmgs and pdu, when given, are the exact lines expected; otherwise they follow from the PDU received.
struct SendCase { const char* name; const char* text; const char* sent; const char* cmgs; const char* pdu; };
void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }
class Send : public ::testing::TestWithParam<SendCase> {};

TEST_P(Send, ModemReceivesTheTextIntact) {
  const SendCase& c = GetParam();
  sim::Modem modem(SimOptions());
  START_MODEM(modem);
  RunResult run = RunAtsms({modem.SlavePath(), "sim", "send", Destination, c.text});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(ResultOk, run.out);
  EXPECT_EQ("", run.err);
  std::vector<sim::SentSms> sent = modem.Sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(Destination, sent[0].destination);
  EXPECT_EQ(8, sent[0].dcs);
  EXPECT_EQ(c.sent, sent[0].text);
  EXPECT_TRUE(sent[0].lengthOk) << "AT+CMGS=" << sent[0].lengthArg << " for " << sent[0].pdu;
  std::string pdu = c.pdu ? c.pdu : sent[0].pdu;
  std::string cmgs = c.cmgs ? c.cmgs : CmgsLine(pdu);
  EXPECT_EQ(Cat({Prepared(StorageSim), {PduMode, cmgs, pdu + "\x1a"}}), modem.Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Send,
    ::testing::Values(
        // SMS-SUBMIT, MR 0, 12 digits international, PID 0, UCS-2, 10 octets of "Hello".
        SendCase{"QuotedLatin", "'Hello'", "Hello", "AT+CMGS=23\r",
                 "0001000C919471103254760008"
                 "0A00480065006C006C006F"},
        SendCase{"CyrillicAndEmoji", "Привет, мир \xF0\x9F\x98\x80!", "Привет, мир \xF0\x9F\x98\x80!", nullptr, nullptr},
        SendCase{"EscapedLineFeed", "'Line1\\nLine2'", "Line1\nLine2", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<SendCase>& info) { return std::string(info.param.name); });

// A prompt counts only within the first ten answers after AT+CMGS.
TEST(SendPrompt, TenthAnswerCountsEleventhDoesNot) {
  struct Case { int latePrompt; int status; const std::string& block; size_t sent; };
  const Case cases[] = {{9, 0, ResultOk, 1}, {10, 255, ResultError, 0}};
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
  const char* name;
  sim::UssdForm form;
  int status;
  bool beforeOk;
  const char* text;
  const char* line;
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
  const std::string trace = UssdStar100 + "\n";
  EXPECT_EQ(trace, run.err.substr(0, trace.size()));
  size_t counters = 0;
  for (size_t at = run.err.find(" - "); at != std::string::npos; at = run.err.find(" - ", at + 1)) ++counters;
  EXPECT_EQ(1u, counters) << run.err;  // the collection that held OK and +CUSD, and no other
  EXPECT_NE(std::string::npos, run.err.find("\r\n - 10\nUSSD reply: ")) << run.err;
  EXPECT_EQ(c.line, run.err.substr(run.err.find("USSD reply: ")));
  EXPECT_LT(run.seconds, 8.0);  // preparation and one answer; waiting on took over 16 s
}

INSTANTIATE_TEST_SUITE_P(
    Forms, UssdReply,
    ::testing::Values(
        UssdReplyCase{"Text", sim::UssdForm::Text, 0, false, "Balance: 12.34 EUR", "USSD reply: Balance: 12.34 EUR\n"},
        UssdReplyCase{"Ucs2", sim::UssdForm::Ucs2, 0, false, "Баланс: 5 ₽",
                      "USSD reply: Баланс: 5 ₽\n"},
        UssdReplyCase{"Packed", sim::UssdForm::Packed, 0, false, "Guthaben: 5.78 € {Euro}",
                      "USSD reply: Guthaben: 5.78 € {Euro}\n"},
        UssdReplyCase{"Unquoted", sim::UssdForm::Unquoted, 2, false, "Ihr Guthaben beträgt 5.78 Euro",
                      "USSD reply: Ihr Guthaben beträgt 5.78 Euro\n"},
        UssdReplyCase{"MenuBeforeOk", sim::UssdForm::Text, 1, true, "1. Balance\r\n2. Top up\r\n3. Tariffs",
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
  EXPECT_EQ(UssdStar100 + "\n\r\nERROR\r\n - 10\n", run.err);
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
  EXPECT_EQ(trace, run.err);
}

}  // namespace
