// modem_sim_test.cpp: the simulated modem seen from the port side, over a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modem_sim.h"
#include "sim_common.h"
#include "sim_pdu.h"
#include "captured_pdus.h"

namespace {

// The atsms side of the line: the slave opened raw, its settings put back at the end.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    tcgetattr(fd_, &saved_);
    termios raw = saved_;
    cfmakeraw(&raw);
    tcsetattr(fd_, TCSANOW, &raw);
  }
  ~Port() {
    tcsetattr(fd_, TCSANOW, &saved_);
    close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }
  void Write(const std::string& bytes) { ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd_, bytes.data(), bytes.size())); }
  // Reads until the text holds want, or timeoutMs has passed.
  std::string ReadUntil(const std::string& want, int timeoutMs = 3000) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.find(want) == std::string::npos && std::chrono::steady_clock::now() < end && !gone_)
      ReadSome(20, &got);
    return got;
  }
  // Reads until the modem has been silent for quietMs.
  std::string ReadQuiet(int quietMs) {
    std::string got;
    while (ReadSome(quietMs, &got)) {
    }
    return got;
  }
  std::string Exchange(const std::string& line, const std::string& final = "\r\n") {
    Write(line);
    return ReadUntil(final == "\r\n" ? "OK\r\n" : final);
  }
  // false on a time-out with nothing read, or when the line is gone (EIO or end of file).
  bool ReadSome(int waitMs, std::string* got) {
    pollfd watched{fd_, POLLIN, 0};
    if (poll(&watched, 1, waitMs) <= 0)
      return false;
    char buffer[256];
    ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count <= 0) {
      gone_ = true;
      return false;
    }
    got->append(buffer, static_cast<size_t>(count));
    return true;
  }
  bool Gone() const { return gone_; }

 private:
  int fd_;
  termios saved_{};
  bool gone_ = false;
};

// Starts the modem, opens the port and switches echo off, as every atsms operation begins.
std::unique_ptr<Port> Connect(sim::Modem& modem, bool echoOff = true) {
  EXPECT_TRUE(modem.Start());
  auto port = std::make_unique<Port>(modem.SlavePath());
  EXPECT_TRUE(port->IsOpen());
  if (echoOff) {
    EXPECT_EQ("ATE0\r\r\nOK\r\n", port->Exchange("ATE0\r"));
  }
  return port;
}

int Octet(const std::string& hex, size_t* at) { return std::stoi(hex.substr((*at += 2) - 2, 2), nullptr, 16); }

std::string Digits(const std::string& hex, size_t* at, int count) {
  std::string digits;
  for (int i = 0; i < count; ++i)
    digits.push_back(hex[*at + (i % 2 ? i - 1 : i + 1)]);
  *at += (count + 1) / 2 * 2;
  return digits;
}

// Just enough of TS 23.040 to check what +CMGL lists: SMS-DELIVER or SMS-SUBMIT, UCS-2 user data left as hex.
struct Decoded {
  int tpduLength = 0;
  int type = 0;  // type of address
  std::string address, date, userData;
  bool submit = false;
};
Decoded DecodePdu(const std::string& hex) {
  Decoded d;
  size_t at = 0;
  at += Octet(hex, &at) * 2;  // SMSC
  d.tpduLength = static_cast<int>((hex.size() - at) / 2);
  int first = Octet(hex, &at);
  d.submit = (first & 3) == 1;
  if (d.submit)
    Octet(hex, &at);  // TP-MR
  int length = Octet(hex, &at);
  d.type = Octet(hex, &at);
  if (d.type == 0xD0) {  // alphanumeric: 7-bit, ASCII letters only in these tests
    unsigned bits = 0;
    int held = 0;
    for (int i = 0; i < (length + 1) / 2; ++i) {
      bits |= Octet(hex, &at) << held;
      for (held += 8; held >= 7 && static_cast<int>(d.address.size()) < length * 4 / 7; held -= 7, bits >>= 7)
        d.address.push_back(static_cast<char>(bits & 0x7F));
    }
  } else {
    d.address = (d.type == 0x91 ? "+" : "") + Digits(hex, &at, length);
    if (d.address.back() == 'F')
      d.address.pop_back();
  }
  EXPECT_EQ(0, Octet(hex, &at));  // TP-PID
  EXPECT_EQ(8, Octet(hex, &at));  // TP-DCS UCS-2
  if (!d.submit) {
    std::string s = Digits(hex, &at, 14);
    char sign = (std::stoi(s.substr(12, 1), nullptr, 16) & 8) ? '-' : '+';
    s[12] = static_cast<char>('0' + (std::stoi(s.substr(12, 1), nullptr, 16) & 7));
    d.date = s.substr(0, 2) + "/" + s.substr(2, 2) + "/" + s.substr(4, 2) + "," + s.substr(6, 2) + ":" +
             s.substr(8, 2) + ":" + s.substr(10, 2) + sign + s.substr(12, 2);
  }
  int udl = Octet(hex, &at);
  d.userData = hex.substr(at);
  EXPECT_EQ(static_cast<size_t>(udl * 2), d.userData.size());
  return d;
}

struct StoredCase {
  int index;
  const char* status;
  const char* sender;
  const char* date;
  const char* text;
  int type;
  const char* ucs2;
};
const StoredCase Stored[] = {
    {1, "REC UNREAD", "+491701234567", "24/05/01,10:20:30+08", "Hi 😀", 0x91, "004800690020D83DDE00"},
    {2, "REC READ", "0301234567", "24/12/31,23:59:58-04", "Привет", 0x81, "041F04400438043204350442"},
    {4, "REC UNREAD", "Vodafone", "24/05/03,18:42:07+08", "A\nB", 0xD0, "0041000A0042"},
    {7, "STO UNSENT", "+4930123", "", "Hi", 0x91, "00480069"},
};

TEST(ModemSim, ListsEveryMessageAsAPduThatDecodesBack) {
  for (bool descending : {false, true}) {
    SCOPED_TRACE(descending ? "descending" : "ascending");
    sim::Options o;
    o.descending = descending;
    sim::Modem modem(o);
    for (const StoredCase& c : Stored)
      modem.AddMessage("SM", {c.index, c.status, c.sender, c.date, c.text});
    auto port = Connect(modem);
    EXPECT_EQ("\r\nOK\r\n", port->Exchange("AT+CMGF=0\r"));
    std::string answer = port->Exchange("AT+CMGL=4\r");
    ASSERT_EQ(0u, answer.find("\r\n+CMGL: "));
    ASSERT_EQ(answer.size() - 8, answer.find("\r\n\r\nOK\r\n"));
    size_t at = 2;
    for (size_t n = 0; n < std::size(Stored); ++n) {
      const StoredCase& c = Stored[descending ? std::size(Stored) - 1 - n : n];
      SCOPED_TRACE(c.text);
      int index = -1, stat = -1, length = -1;
      ASSERT_EQ(3, sscanf(answer.c_str() + at, "+CMGL: %d,%d,,%d\r\n", &index, &stat, &length));
      size_t pduStart = answer.find("\r\n", at) + 2;
      size_t pduEnd = answer.find("\r\n", pduStart);
      Decoded d = DecodePdu(answer.substr(pduStart, pduEnd - pduStart));
      EXPECT_EQ(c.index, index);
      EXPECT_EQ(c.status == std::string("REC UNREAD") ? 0 : c.status == std::string("REC READ") ? 1 : 2, stat);
      EXPECT_EQ(d.tpduLength, length);
      EXPECT_EQ(stat == 2, d.submit);
      EXPECT_EQ(c.type, d.type);
      EXPECT_EQ(c.sender, d.address);
      EXPECT_EQ(c.date, d.date);
      EXPECT_EQ(c.ucs2, d.userData);
      at = pduEnd + 2;
    }
  }
}

TEST(ModemSim, DeliverPduIsByteExact) {
  sim::Modem modem;
  modem.AddMessage("ME", {3, "REC READ", "12345", "24/05/01,10:20:30+08", "Hi"});
  auto port = Connect(modem);
  EXPECT_EQ("\r\n+CPMS: 1,100,1,100,1,100\r\n\r\nOK\r\n", port->Exchange("AT+CPMS=\"ME\",\"ME\",\"ME\"\r"));
  port->Exchange("AT+CMGF=0\r");
  EXPECT_EQ("\r\n+CMGR: 1,,20\r\n0791947122723033" "04" "0581" "2143F5" "0008" "42501001020380" "04" "00480069\r\n\r\nOK\r\n",
            port->Exchange("AT+CMGR=3\r"));
}

// A 7-bit text of more than 160 characters is cut to 160 septets, packed 8 in 7 octets (TS 23.038 6.1.2.1.1).
TEST(ModemSim, FullLengthSevenBitPduIsByteExact) {
  sim::Modem modem;
  std::string text;
  for (int i = 0; i < 3; ++i) text += "Full storage test message number 07: the quick brown fox jumps over the lazy dog ";
  sim::Message m{1, "REC READ", "+491701234567", "24/05/01,12:30:20+08", text};
  m.gsm7 = true;
  modem.AddMessage("SM", m);
  auto port = Connect(modem);
  port->Exchange("AT+CMGF=0\r");
  EXPECT_EQ("\r\n+CMGR: 1,,159\r\n0791947122723033040C91947110325476" "0000" "42501021030280" "A0"
            "C63A9B0D9AD3DFF2F0B90CA297E77450BB3C9F87CF6590BBDE1697E520D84D07A2A3CBA0783D3D5E83C4F2F7DD0D32BFF1"
            "2075BD0D9F83DEF6B21C44479741ECB03E0F22BFCF20639DCD06CDE96F79F85C06D1CB733AA85D9ECFC3E732C85D6F8BCB"
            "7210ECA603D1D16550BC9E1EAF4162F9FBEE0699DF7890BADE86CF416F7B590EA2A3CB2076589F0791DF\r\n\r\nOK\r\n",
            port->Exchange("AT+CMGR=1\r"));
}

TEST(ModemSim, AnswersPreparationCommands) {
  struct Row { const char* command; const char* answer; };
  const Row rows[] = {
      {"AT\r", "AT\r\r\nOK\r\n"},  // echo is on at power-up
      {"ATE0\r", "ATE0\r\r\nOK\r\n"},
      {"AT\r", "\r\nOK\r\n"},
      {"AT+CSCS=\"UCS2\"\r", "\r\nOK\r\n"},
      {"AT+CSCS=\"HEX\"\r", "\r\nERROR\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", "\r\n+CPMS: 2,30,2,30,2,30\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"XX\",\"XX\",\"XX\"\r", "\r\n+CMS ERROR: 302\r\n"},
      {"AT+CMGF=2\r", "\r\nERROR\r\n"},
      {"AT+CMGD=1\r", "\r\nOK\r\n"},
      {"AT+CMGD=9\r", "\r\nOK\r\n"},  // an empty index is no error
      {"AT+CMGD=1000\r", "\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGD=0\r", "\r\n+CMS ERROR: 321\r\n"},
      {"AT+FOO\r", "\r\nERROR\r\n"},
      // Status reports are only read and deleted: "SR" for <mem1> alone.
      {"AT+CPMS=?\r", "\r\n+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"SR\"\r", "\r\n+CPMS: 0,20,1,30,1,30\r\n\r\nOK\r\n"},
      {"AT+CNMI?\r", "\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n"},  // no reports kept at power-up
  };
  sim::Modem modem;
  modem.AddMessage("SM", {1, "REC READ", "+1", "24/05/01,10:20:30+08", "one"});
  modem.AddMessage("SM", {2, "REC READ", "+2", "24/05/01,10:20:30+08", "two"});
  auto port = Connect(modem, false);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.command);
    port->Write(r.command);
    EXPECT_EQ(r.answer, port->ReadUntil(r.answer, 2000));
  }
  ASSERT_EQ(1u, modem.Messages("SM").size());
  EXPECT_EQ(2, modem.Messages("SM")[0].index);
  EXPECT_EQ(std::size(rows), modem.Commands().size());
}

TEST(ModemSim, ReadsTextModeInTheCharsetChosen) {
  sim::Modem modem;
  modem.AddMessage("SM", {3, "REC UNREAD", "+1234", "24/05/01,10:20:30+08", "Hi"});
  modem.AddMessage("SM", {4, "REC READ", "", "24/05/02,11:00:00+08", "👍"});
  auto port = Connect(modem);
  port->Exchange("AT+CSCS=\"UCS2\"\r");
  port->Exchange("AT+CMGF=1\r");
  EXPECT_EQ("\r\n+CMGR: \"REC UNREAD\",\"002B0031003200330034\",,\"24/05/01,10:20:30+08\"\r\n00480069\r\n\r\nOK\r\n",
            port->Exchange("AT+CMGR=3\r"));
  EXPECT_EQ("\r\n+CMGR: \"REC READ\",\"002B0031003200330034\",,\"24/05/01,10:20:30+08\"\r\n00480069\r\n\r\nOK\r\n",
            port->Exchange("AT+CMGR=3\r"));
  EXPECT_EQ("\r\n+CMGR: \"REC READ\",\"\",,\"24/05/02,11:00:00+08\"\r\nD83DDC4D\r\n\r\nOK\r\n", port->Exchange("AT+CMGR=4\r"));
  EXPECT_EQ("\r\n+CMS ERROR: 321\r\n", port->Exchange("AT+CMGR=5\r", "321\r\n"));
  port->Exchange("AT+CSCS=\"GSM\"\r");
  EXPECT_EQ("\r\n+CMGR: \"REC READ\",\"+1234\",,\"24/05/01,10:20:30+08\"\r\nHi\r\n\r\nOK\r\n", port->Exchange("AT+CMGR=3\r"));
  EXPECT_EQ("REC READ", modem.Messages("SM")[0].status);
}

// What text mode (charset UCS2) shows of a header, for a captured 7-bit part and a UCS-2 part the
// simulator stored (header 0500034C0101), and of the alpha field, for a sender with a phonebook name
// and one without, as the options ask.
TEST(ModemSim, ShowsHeadersAndAlphaFieldsInTextModeAsAsked) {
  const std::string userData = std::string(captured::Part1Of2).substr(54);  // after TP-UDL
  const std::string text = sim::Utf8ToUcs2Hex(captured::Part1Text);
  const std::string privet = "041F04400438043204350442";
  struct FormCase {
    const char* name; sim::HeaderForm form; sim::AlphaField field; std::string unknown, gsm7Part, known, ucs2Part;
  };
  const FormCase cases[] = {
      {"a, empty", sim::HeaderForm::Hex, sim::AlphaField::Empty, ",", userData, ",", "0500034C0101" + privet},
      {"b, quoted", sim::HeaderForm::Characters, sim::AlphaField::Quoted, ",\"\"",
       "00E9004000F800BF00A4002000A1" + text, ",\"\"", "0500034C0101" + privet},
      {"c, absent", sim::HeaderForm::Ucs2Only, sim::AlphaField::Absent, "", userData, "", "0500034C0101" + privet},
      {"d, name", sim::HeaderForm::Stripped, sim::AlphaField::Name, ",\"\"", text, ",\"004D0075006D\"", privet},
  };
  for (const FormCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Options o;
    o.headerForm = c.form;
    o.alphaField = c.field;
    sim::Modem modem(o);
    modem.AddPhonebookEntry("+1234", "Mum");
    ASSERT_TRUE(modem.AddPduMessage("SM", 1, "REC READ", captured::Part1Of2));
    modem.AddLongMessage("SM", {2, "REC READ", "+1234", "24/05/01,10:20:30+08", "Привет"}, sim::PartCoding::Ucs2);
    auto port = Connect(modem);
    port->Exchange("AT+CSCS=\"UCS2\"\r");
    port->Exchange("AT+CMGF=1\r");
    EXPECT_EQ("\r\n+CMGR: \"REC READ\",\"" + sim::Utf8ToUcs2Hex("+16175046925") + "\"" + c.unknown +
                  ",\"12/04/25,19:56:50-16\"\r\n" + c.gsm7Part + "\r\n\r\nOK\r\n",
              port->Exchange("AT+CMGR=1\r"));
    EXPECT_EQ("\r\n+CMGR: \"REC READ\",\"002B0031003200330034\"" + c.known + ",\"24/05/01,10:20:30+08\"\r\n" +
                  c.ucs2Part + "\r\n\r\nOK\r\n",
              port->Exchange("AT+CMGR=2\r"));
  }
}

// Packs like atsms: each byte's low 7 bits, first character in the low bits of the first octet.
std::string PackUssd(const std::string& text) {
  std::string hex;
  unsigned bits = 0;
  int shift = 0;
  char group[3];
  for (unsigned char c : text) {
    bits |= (c & 0x7Fu) << shift;
    if (shift == 0) {
      shift = 7;
      continue;
    }
    snprintf(group, sizeof group, "%02X", bits & 0xFF);
    hex += group;
    bits >>= 8;
    --shift;
  }
  if (shift != 0) {
    snprintf(group, sizeof group, "%02X", bits & 0xFF);
    hex += group;
  }
  return hex;
}

TEST(ModemSim, UnpacksUssdRequestsAndRepliesLater) {
  EXPECT_EQ("AA180C3602", PackUssd("*100#"));
  const char* requests[] = {"*100#", "*101*1#" /* 7 characters: 7 filler bits */, "*123*45#" /* 8 in 7 octets */};
  sim::Options o;
  o.ussdDelayMs = 100;
  sim::Modem modem(o);
  auto port = Connect(modem);
  for (const char* request : requests) {
    SCOPED_TRACE(request);
    port->Write("AT+CUSD=1,\"" + PackUssd(request) + "\",15\r");
    std::string answer = port->ReadUntil("15\r\n");
    EXPECT_EQ("\r\nOK\r\n\r\n+CUSD: 0,\"Balance: 12.34 EUR\",15\r\n", answer);
  }
  EXPECT_EQ(std::vector<std::string>(std::begin(requests), std::end(requests)), modem.UssdRequests());
}

const std::string NotSupported = "\r\nOK\r\n\r\n+CUSD: 4\r\n";

// The balance menu, kept between requests as between runs, until the network gives up on it.
TEST(ModemSim, KeepsAUssdMenuUntilItTimesOut) {
  sim::Options o;
  o.ussdMenu = true;
  o.ussdDelayMs = 0;
  o.ussdSessionMs = 600;
  sim::Modem modem(o);
  auto port = Connect(modem);
  auto request = [&](const std::string& str) {
    port->Write("AT+CUSD=1,\"" + PackUssd(str) + "\",15\r");
    return port->ReadQuiet(150);
  };
  const std::string main = "\r\nOK\r\n\r\n+CUSD: 1,\"Balance menu\n1. Balance\n2. Bundles\",15\r\n";
  EXPECT_EQ(NotSupported, request("1"));  // no menu open: a choice means nothing
  EXPECT_EQ(main, request("*100#"));
  EXPECT_EQ(main, request("9"));  // unknown: the menu again
  EXPECT_TRUE(modem.UssdSessionOpen());
  EXPECT_EQ("\r\n+CUSD: 2\r\n", port->ReadUntil("\r\n+CUSD: 2\r\n", 1500));  // left alone: unasked
  EXPECT_FALSE(modem.UssdSessionOpen());
}

struct SendCase {
  const char* name;
  std::string pdu;
  int lengthArg;  // -1: the right one, octets after the SMSC part
  const char* answer;
  const char* destination;  // nullptr: nothing recorded
  int dcs;
  const char* text;
};

TEST(ModemSim, DecodesSubmittedPdus) {
  const SendCase cases[] = {
      {"as atsms builds it", "00010005912143F500080400480069", 14, "\r\n+CMGS: 1\r\n\r\nOK\r\n", "+12345", 8, "Hi"},
      {"emoji as a surrogate pair", "0001000C9194711032547600080AD83DDE000020004F004B", -1,
       "\r\n+CMGS: 2\r\n\r\nOK\r\n", "+491701234567", 8, "😀 OK"},
      {"SMSC, relative validity, GSM 7-bit", "0791947122723033" "1100" "0A81" "1032547698" "0000AA" "0A" "E8329BFD4697D9EC37",
       -1, "\r\n+CMGS: 3\r\n\r\nOK\r\n", "0123456789", 0, "hellohello"},
      {"length one too many", "00010005912143F500080400480069", 15, "\r\n+CMS ERROR: 304\r\n", "+12345", 8, "Hi"},
      {"user data cut short", "00010005912143F5000804004800", -1, "\r\n+CMS ERROR: 304\r\n", nullptr, 0, ""},
      {"an SMS-DELIVER", "00040005912143F5000842501001020380020048", -1, "\r\n+CMS ERROR: 304\r\n", nullptr, 0, ""},
      {"TP-UDL below the user data", "00010005912143F500080200480069", -1, "\r\n+CMS ERROR: 304\r\n", nullptr, 0, ""},
      {"142 octets of user data", "00010005912143F500088E" + std::string(284, '0'), -1, "\r\n+CMS ERROR: 304\r\n",
       nullptr, 0, ""},
  };
  sim::Modem modem;
  auto port = Connect(modem);
  port->Exchange("AT+CMGF=0\r");
  size_t recorded = 0;
  for (const SendCase& c : cases) {
    SCOPED_TRACE(c.name);
    int smsc = std::stoi(c.pdu.substr(0, 2), nullptr, 16);
    int length = c.lengthArg >= 0 ? c.lengthArg : static_cast<int>(c.pdu.size() / 2) - 1 - smsc;
    EXPECT_EQ("\r\n> ", port->Exchange("AT+CMGS=" + std::to_string(length) + "\r", "> "));
    port->Write(c.pdu + "\x1a\r");
    EXPECT_EQ(c.answer, port->ReadUntil(c.answer));
    std::vector<sim::SentSms> sent = modem.Sent();
    if (!c.destination) {
      EXPECT_EQ(recorded, sent.size());
      continue;
    }
    ASSERT_EQ(++recorded, sent.size());
    const sim::SentSms& s = sent.back();
    EXPECT_EQ(length, s.lengthArg);
    EXPECT_EQ(c.lengthArg < 0 || c.lengthArg == 14, s.lengthOk);
    EXPECT_EQ(c.pdu, s.pdu);
    EXPECT_EQ(c.destination, s.destination);
    EXPECT_EQ(c.dcs, s.dcs);
    EXPECT_EQ(c.text, s.text);
  }
  std::vector<std::string> commands = modem.Commands();
  ASSERT_LE(4u, commands.size());
  EXPECT_EQ("AT+CMGS=14\r", commands[2]);
  EXPECT_EQ("00010005912143F500080400480069\x1a", commands[3]);  // the CR after Ctrl-Z is no command line
}

// A message sent with TP-SRR gets its report (same TP-MR, the TP-ST asked for) while +CNMI <ds> is
// 2: kept and indicated in "SR", or in <mem3> on a modem without it (the end-to-end runs play "SR");
// with <ds> 0 none.
TEST(ModemSim, KeepsStatusReportsAsCnmiSays) {
  for (bool kept : {true, false}) {
    SCOPED_TRACE(kept ? "no SR, <ds> 2: kept in <mem3>" : "<ds> 0: dropped");
    sim::Options options;
    options.reportDelayMs = 100;
    options.reportStatus = 0x41;
    options.noReportStorage = true;
    sim::Modem modem(options);
    auto port = Connect(modem);
    port->Exchange("AT+CMGF=0\r");
    port->Exchange("AT+CPMS=\"SM\",\"SM\",\"ME\"\r");
    EXPECT_EQ("\r\nOK\r\n", port->Exchange(kept ? "AT+CNMI=2,1,0,2,0\r" : "AT+CNMI=2,1,0,0,0\r"));
    port->Exchange("AT+CMGS=14\r", "> ");
    EXPECT_EQ("\r\n+CMGS: 1\r\n\r\nOK\r\n", port->Exchange("00210005912143F500080400480069\x1a"));
    EXPECT_EQ(kept ? "\r\n+CDSI: \"ME\",1\r\n" : "", port->ReadQuiet(600));
    const std::vector<sim::Message> stored = modem.Messages("ME");
    ASSERT_EQ(kept ? 1u : 0u, stored.size());
    if (!kept) continue;
    EXPECT_EQ(1, stored[0].index);
    sim::StatusReportInfo report;
    ASSERT_TRUE(sim::DecodeStatusReportPdu(stored[0].pdu, &report)) << stored[0].pdu;
    EXPECT_EQ(1, report.reference);
    EXPECT_EQ("+12345", report.recipient);
    EXPECT_EQ(0x41, report.status);
  }
}

// Parts wait for the rest of their message, in any order; each part's text is decoded on its own,
// so a pair split between parts arrives broken.
TEST(ModemSim, ReassemblesConcatenatedMessages) {
  const std::string prefix = "00410005912143F50008";
  const std::string pdus[] = {
      prefix + "080500032A02020021",      // "!", part 2 of 2, reference 2A
      "00010005912143F500080400480069",   // "Hi", one SMS
      prefix + "0A0500032A020100480069",  // "Hi", part 1 of 2
      prefix + "080500032B0201D83D",      // a pair split between parts
      prefix + "080500032B0202DE00",
  };
  sim::Modem modem;
  auto port = Connect(modem);
  port->Exchange("AT+CMGF=0\r");
  for (const std::string& pdu : pdus) {
    port->Exchange("AT+CMGS=" + std::to_string(pdu.size() / 2 - 1) + "\r", "> ");
    EXPECT_NE(std::string::npos, port->Exchange(pdu + "\x1a", "OK\r\n").find("+CMGS:")) << pdu;
  }
  std::vector<std::string> delivered;
  for (const sim::DeliveredSms& d : modem.Delivered()) delivered.push_back(d.text + " in " + std::to_string(d.parts));
  EXPECT_EQ((std::vector<std::string>{"Hi in 1", "Hi! in 2", "\uFFFD\uFFFD in 2"}), delivered);
}

TEST(ModemSim, MisbehavesOnRequest) {
  sim::Options late, hangup, slow, refusing, silent;
  late.latePrompt = 2;
  late.cmsError = 500;
  hangup.hangupAfter = 2;
  slow.okOnAt = 3;
  slow.pieceDelayMs = 400;
  refusing.keepEcho = true;
  refusing.errorOn = "AT+CSCS";
  refusing.noPrompt = true;
  silent.silent = true;
  {
    SCOPED_TRACE("late prompt, then +CMS ERROR");
    sim::Modem modem(late);
    auto port = Connect(modem);
    port->Write("AT+CMGS=14\r");
    std::string first = port->ReadQuiet(500);  // what one atsms collection sees
    EXPECT_EQ("\r\n+CREG: 1\r\n", first);
    EXPECT_EQ("\r\n+CREG: 1\r\n\r\n> ", port->ReadUntil("> "));
    EXPECT_EQ("\r\n+CMS ERROR: 500\r\n", port->Exchange("00010005912143F500080400480069\x1a\r", "500\r\n"));
    EXPECT_EQ(1u, modem.Sent().size());
  }
  {
    SCOPED_TRACE("ok on the third AT, answers in two pieces");
    sim::Modem modem(slow);
    auto port = Connect(modem, false);
    for (int i = 0; i < 2; ++i) {
      port->Write("AT\r");
      EXPECT_EQ("", port->ReadQuiet(300));
    }
    port->Write("AT\r");
    std::string piece = port->ReadQuiet(200);
    EXPECT_EQ("AT\r\r", piece);
    EXPECT_EQ("\nOK\r\n", port->ReadUntil("OK\r\n"));
    EXPECT_EQ(3u, modem.Commands().size());
  }
  {
    SCOPED_TRACE("keeps echoing, refuses the charset, gives no prompt");
    sim::Modem modem(refusing);
    auto port = Connect(modem);
    EXPECT_EQ("AT\r\r\nOK\r\n", port->Exchange("AT\r"));
    EXPECT_EQ("AT+CSCS=\"UCS2\"\r\r\nERROR\r\n", port->Exchange("AT+CSCS=\"UCS2\"\r", "ERROR\r\n"));
    port->Write("AT+CMGS=14\r");
    EXPECT_EQ("AT+CMGS=14\r", port->ReadQuiet(300));
    EXPECT_EQ("AT\r\r\nOK\r\n", port->Exchange("AT\r"));  // not left waiting for a PDU
  }
  {
    SCOPED_TRACE("ESC cancels the PDU");
    sim::Modem modem;
    auto port = Connect(modem);
    port->Exchange("AT+CMGS=14\r", "> ");
    EXPECT_EQ("\r\nOK\r\n", port->Exchange("0001\x1b"));
    EXPECT_TRUE(modem.Sent().empty());
  }
  {
    SCOPED_TRACE("silent");
    sim::Modem modem(silent);
    auto port = Connect(modem, false);
    port->Write("AT\r");
    EXPECT_EQ("", port->ReadQuiet(300));
    EXPECT_EQ(1u, modem.Commands().size());
  }
  {
    SCOPED_TRACE("hangs up after the second command line");
    sim::Modem modem(hangup);
    auto port = Connect(modem, false);
    EXPECT_EQ("AT\r\r\nOK\r\n", port->Exchange("AT\r"));
    port->Write("ATE0\r");
    EXPECT_EQ("", port->ReadUntil("OK", 1000));
    EXPECT_TRUE(port->Gone());
    EXPECT_EQ(2u, modem.Commands().size());
  }
}

// Real modems' ways, each on request (those the end-to-end tests do not play), where more than a
// string or a delay is at stake: noise between a header and its text and before the OK, a SIM that
// refuses only the SIM's commands while it starts. Each step writes its line and reads until it has
// what it wants, which must be all that came.
struct Step { std::string write, want; };
struct RealCase { const char* name; void (*set)(sim::Options&); std::vector<Step> steps; };
const RealCase RealCases[] = {
    {"a bare line before the OK, one between header and text",
     [](sim::Options& o) { o.noise = "\r\nDST: 1\r\n"; o.noiseAt = sim::NoiseFinal | sim::NoiseRead; },
     {{"ATE0\r", "ATE0\r\r\nDST: 1\r\n\r\nOK\r\n"}, {"AT+CMGF=1\r", "\r\nDST: 1\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r",
       "\r\n+CMGR: \"REC READ\",\"+1\",,\"24/05/01,10:20:30+08\"\r\n\r\nDST: 1\r\none\r\n\r\nDST: 1\r\n\r\nOK\r\n"}}},
    {"a SIM busy for its first two commands", [](sim::Options& o) { o.busyTries = 2; o.busyAnswer = "+CME ERROR: 515"; },
     {{"ATE0\r", "ATE0\r\r\nOK\r\n"}, {"AT+CMGD=1\r", "\r\n+CME ERROR: 515\r\n"}, {"AT+CSCS=\"GSM\"\r", "\r\nOK\r\n"},
      {"AT+CMGD=1\r", "\r\n+CME ERROR: 515\r\n"}, {"AT+CMGD=1\r", "\r\nOK\r\n"}}},
};

TEST(ModemSim, PlaysRealModemsWays) {
  for (const RealCase& c : RealCases) {
    SCOPED_TRACE(c.name);
    sim::Options options;
    c.set(options);
    sim::Modem modem(options);
    modem.AddMessage("SM", {1, "REC READ", "+1", "24/05/01,10:20:30+08", "one"});
    auto port = Connect(modem, false);
    for (const Step& step : c.steps) {
      port->Write(step.write);
      EXPECT_EQ(step.want, port->ReadUntil(step.want)) << sim::Escape(step.write);
    }
  }
}

// A message from the network at the lowest free index, behind the answer that let it in, as +CNMI
// says: announced, stored quietly, written to the port, or held back while the storage is full.
bool WaitForArrivals(const sim::Modem& modem, int count) {
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3); modem.Arrived() < count;)
    if (std::chrono::steady_clock::now() > end)
      return false;
  return true;
}

TEST(ModemSim, MessagesArriveDuringARun) {
  struct ArrivalCase {
    const char* name;
    const char* cnmi;    // set before the arrival
    int capacity;        // of SM, which holds 1, 2 and 4
    bool afterListing;   // right after the second AT+CMGL, else on request
    std::string shown;   // what the port gets unasked
    const char* stored;  // index and <stat> of what SM holds then
  };
  const std::string pdu = "07919471227003F3040D91947110325476F8000042501001020380" "05C8329BFD06";  // "Hello"
  const ArrivalCase cases[] = {
      {"after the second listing, into the hole", "AT+CNMI=2,1,0,0,0\r", 30, true, "\r\n+CMTI: \"SM\",3\r\n",
       "1 1,2 1,3 0,4 1"},
      {"on request, <mt> 1", "AT+CNMI=2,1,0,0,0\r", 30, false, "\r\n+CMTI: \"SM\",3\r\n", "1 1,2 1,3 0,4 1"},
      {"<mode> 0 keeps the announcement", "AT+CNMI=0,1,0,0,0\r", 30, false, "", "1 1,2 1,3 0,4 1"},
      {"<mt> 2 writes it to the port", "AT+CNMI=2,2,0,0,0\r", 30, false, "\r\n+CMT: ,25\r\n" + pdu + "\r\n",
       "1 1,2 1,4 1"},
      {"a full storage holds it back until a place is free", "AT+CNMI=2,1,0,0,0\r", 3, false,
       "\r\nOK\r\n\r\n+CMTI: \"SM\",2\r\n", "1 1,2 0,4 1"},
  };
  for (const ArrivalCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Options options;
    options.capacitySm = c.capacity;
    options.arriving = {sim::Message{}};
    options.arriving[0].pdu = pdu;
    if (c.afterListing) options.arriveAfterCmgl = {2};
    sim::Modem modem(options);
    for (int index : {1, 2, 4}) modem.AddMessage("SM", {index, "REC READ", "+1", "24/05/01,10:20:30+08", "old"});
    auto port = Connect(modem);
    port->Exchange("AT+CMGF=0\r");
    port->Exchange(c.cnmi);
    if (c.afterListing) {
      port->Exchange("AT+CMGL=4\r");
      EXPECT_EQ("", port->ReadQuiet(100));  // the first listing brings nothing
      const std::string second = port->Exchange("AT+CMGL=4\r", c.shown);
      EXPECT_TRUE(sim::EndsWith(second, "\r\nOK\r\n" + c.shown)) << second;
      EXPECT_EQ(std::string::npos, second.find("+CMGL: 3,"));
    } else if (c.capacity == 3) {
      modem.Arrive();
      EXPECT_EQ("", port->ReadQuiet(100));
      EXPECT_EQ(0, modem.Arrived());
      EXPECT_EQ(c.shown, port->Exchange("AT+CMGD=2\r", c.shown));
    } else {
      modem.Arrive();
      ASSERT_TRUE(WaitForArrivals(modem, 1));
      EXPECT_EQ(c.shown, c.shown.empty() ? port->ReadQuiet(100) : port->ReadUntil(c.shown));
    }
    std::string stored;
    for (const sim::Message& m : modem.Messages("SM"))
      stored += (stored.empty() ? "" : ",") + std::to_string(m.index) + " " + std::to_string(sim::StatusCode(m.status));
    EXPECT_EQ(c.stored, stored);
  }
}

// The program's ways to the same: a hole left by --hole, --arriving, SIGUSR1, --arrive-after-cmgl.
TEST(ModemSim, ProgramBringsMessagesOnRequest) {
  int out[2];
  ASSERT_EQ(0, pipe(out));
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execl(MODEM_SIM_PATH, MODEM_SIM_PATH, "--log", "/dev/null", "--fill", "SM:3", "--hole", "SM:2", "--arriving",
          "Hi", "--arrive-after-cmgl", "1", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char path[256] = "";
  FILE* printed = fdopen(out[0], "r");
  ASSERT_NE(nullptr, fgets(path, sizeof path, printed));
  path[strcspn(path, "\n")] = '\0';
  {
    Port port(path);
    EXPECT_EQ("ATE0\r\r\nOK\r\n", port.Exchange("ATE0\r"));
    port.Exchange("AT+CMGF=0\r");
    kill(pid, SIGUSR1);
    EXPECT_EQ("\r\n+CMTI: \"SM\",2\r\n", port.ReadUntil("+CMTI: \"SM\",2\r\n"));
    const std::string listing = port.Exchange("AT+CMGL=4\r", "+CMTI: \"SM\",4\r\n");
    EXPECT_NE(std::string::npos, listing.find("+CMGL: 2,0,,"));
    EXPECT_TRUE(sim::EndsWith(listing, "\r\nOK\r\n\r\n+CMTI: \"SM\",4\r\n")) << sim::Escape(listing);
  }
  kill(pid, SIGTERM);
  int status = -1;
  EXPECT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_EQ(0, WEXITSTATUS(status));
  fclose(printed);
}

std::string StorePath() { return testing::TempDir() + "modem_sim_store." + std::to_string(getpid()); }

std::string WriteFile(const std::string& text) {
  std::ofstream(StorePath()) << text;
  return StorePath();
}

TEST(ModemSim, LoadsStoreFiles) {
  sim::Modem demo;
  ASSERT_TRUE(demo.LoadStore(MODEM_SIM_DIR "/demo-inbox.txt")) << demo.LastError();
  std::vector<sim::Message> sm = demo.Messages("SM");
  EXPECT_EQ(4u, sm.size());
  EXPECT_EQ(2u, demo.Messages("ME").size());
  EXPECT_EQ("Hello!\nSee you at 8 at the station.", sm[0].text);

  sim::Options fromZero;
  fromZero.indexBase = 0;
  sim::Modem modem(fromZero);
  ASSERT_TRUE(modem.LoadStore(WriteFile("# comment\n\nME\t1\tSTO SENT\t+123\t\ta\\tb\\\\c\\nd\r\n"))) << modem.LastError();
  ASSERT_EQ(1u, modem.Messages("ME").size());
  sim::Message m = modem.Messages("ME")[0];
  EXPECT_EQ(0, m.index);  // file indexes count from 1
  EXPECT_EQ("STO SENT", m.status);
  EXPECT_EQ("+123", m.sender);
  EXPECT_EQ("a\tb\\c\nd", m.text);

  const char* bad[] = {"SM\t1\tREC NEW\t+1\t24/05/01,10:20:30+08\tx\n", "XX\t1\tREC READ\t+1\td\tx\n",
                       "SM\tone\tREC READ\t+1\td\tx\n", "SM\t1\tREC READ\t+1\td\n", "SM\t1\tREC READ\t+1\td\ta\\qb\n"};
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    sim::Modem refused;
    EXPECT_FALSE(refused.LoadStore(WriteFile(std::string("# header\n") + line)));
    EXPECT_NE(std::string::npos, refused.LastError().find(":2:"));
    EXPECT_TRUE(refused.Messages("SM").empty());
  }
  std::remove(StorePath().c_str());
}

// PART lines store one part each with its header as given, in every coding: out of order, with
// gaps, a reference used twice, values no sender would choose.
TEST(ModemSim, LoadsPartsFromStoreFiles) {
  sim::Modem modem;
  ASSERT_TRUE(modem.LoadStore(WriteFile(
      "PART\tSM\t3\tREC READ\t+4917\t24/05/01,10:20:30+08\tgsm7\t255\t2\t2\tend\n"
      "PART\tSM\t1\tREC UNREAD\t+4917\t24/05/01,10:20:30+08\tucs2-16\t65535\t1\t3\tПривет\n"
      "PART\tSM\t2\tREC READ\tDHL\t24/05/01,10:20:30+08\tgsm7-16\t0\t0\t1\tmalformed\n"
      "PART\tSM\t4\tREC READ\t+4917\t24/05/01,10:20:30+08\tucs2\t255\t2\t2\tagain\n")))
      << modem.LastError();
  std::vector<std::string> got;
  for (const sim::Message& m : modem.Messages("SM"))
    got.push_back(std::to_string(m.index) + (m.gsm7 ? " gsm7 " : " ucs2 ") + sim::HexEncode(m.header) + " " + m.text);
  EXPECT_EQ((std::vector<std::string>{"1 ucs2 060804FFFF0301 Привет", "2 gsm7 06080400000100 malformed",
                                      "3 gsm7 050003FF0202 end", "4 ucs2 050003FF0202 again"}),
            got);
  std::remove(StorePath().c_str());
}

// Reports in SR are listed and deleted like messages; a REPORT line of a store file keeps the PDU as
// recorded (padding, TP-PI).
TEST(ModemSim, ListsReadsAndDeletesStoredReports) {
  const std::string padded = "0791947106004034" "0611" "0C91947110325476" "42501001020380" "425010010253B1" "00FFFFFF";
  const std::string withPi = "00" "0612" "0B819471103254F6" "42501001020380" "42501001025380" "46" "07000005C8329BFD06";
  sim::Modem modem;
  ASSERT_TRUE(modem.LoadStore(WriteFile("REPORT\tSR\t1\tREC UNREAD\t" + padded + "\n")));
  ASSERT_TRUE(modem.AddStatusReport("SR", 4, "REC READ", withPi));
  EXPECT_FALSE(modem.AddStatusReport("SR", 5, "REC READ", "00010005912143F500080400480069"));  // an SMS-SUBMIT
  auto port = Connect(modem);
  port->Exchange("AT+CPMS=\"SR\"\r");
  EXPECT_EQ("\r\n+CMGL: 1,0,,28\r\n" + padded + "\r\n+CMGL: 4,1,,34\r\n" + withPi + "\r\n\r\nOK\r\n",
            port->Exchange("AT+CMGL=4\r"));
  EXPECT_EQ("\r\nOK\r\n", port->Exchange("AT+CMGD=1\r"));
  const std::vector<sim::Message> stored = modem.Messages("SR");
  ASSERT_EQ(1u, stored.size());
  EXPECT_EQ(4, stored[0].index);
  EXPECT_TRUE(modem.Messages("SM").empty());
  std::remove(StorePath().c_str());
}

TEST(ModemSim, ProgramPrintsThePathAndRemovesItsLink) {
  std::string link = testing::TempDir() + "modem_sim_link." + std::to_string(getpid());
  std::string command = std::string(MODEM_SIM_PATH) + " --exit-after 0.5 --log /dev/null --link " + link;
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(nullptr, out);
  char line[256] = "";
  ASSERT_NE(nullptr, fgets(line, sizeof line, out));
  char target[256] = "";
  ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  EXPECT_EQ(std::string(line), std::string(target, length > 0 ? static_cast<size_t>(length) : 0) + "\n");
  EXPECT_EQ(0, pclose(out));
  struct stat gone;
  EXPECT_NE(0, lstat(link.c_str(), &gone));
  EXPECT_EQ(2, WEXITSTATUS(system((std::string(MODEM_SIM_PATH) + " --no-such-option 2>/dev/null").c_str())));
}

}  // namespace
