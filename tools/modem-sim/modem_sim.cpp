// modem_sim.cpp: the simulated modem: message store, command interpreter and the service thread on the pty master.
#include "modem_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "sim_pdu.h"

namespace sim {
namespace {

constexpr char Ok[] = "\r\nOK\r\n";
constexpr char Error[] = "\r\nERROR\r\n";
constexpr char Prompt[] = "\r\n> ";
constexpr char Unsolicited[] = "\r\n+CREG: 1\r\n";  // what comes before a late prompt
constexpr int UnsolicitedGapMs = 700;                // above atsms's 0.5 s of silence: each is an answer of its own
// What a modem may say unasked right after a final result (--unsolicited-after-ok): a write of its
// own, late enough to miss a collection that ends at the "OK", early enough to join one that waits.
const char* const UnsolicitedLines[] = {"\r\n+CMTI: \"SM\",3\r\n", "\r\n^RSSI: 17\r\n", "\r\nRING\r\n"};
constexpr int UnsolicitedAfterOkMs = 20;
constexpr int IndexLimit = 1000;                     // CMGD and CMGR refuse indexes from here on
constexpr size_t LineLimit = 8192;
const char* const Statuses[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};  // <stat> 0..3
// What a modem refuses while its SIM is locked or missing: the storage and message commands.
const char* const SimCommands[] = {"AT+CPMS", "AT+CMGL", "AT+CMGR", "AT+CMGD", "AT+CMGS", "AT+CMGW"};

// The simulated network's balance menu (ussdMenu): the text of each menu, and where each choice
// leads: to another menu, or to a final answer that ends the session (nullptr: ussdReply).
struct UssdMenu { const char* name; const char* text; };
const UssdMenu UssdMenus[] = {
    {"main", "Balance menu\n1. Balance\n2. Bundles"},
    {"balance", "Balance\n1. Main account\n2. Bonus"},
};
struct UssdChoice { const char* menu; const char* choice; const char* next; const char* answer; };
const UssdChoice UssdChoices[] = {
    {"main", "1", "balance", ""},
    {"main", "2", "", "Bundles: none active"},
    {"balance", "1", "", nullptr},
    {"balance", "2", "", "Bonus: 100 MB until 31/05"},
};
constexpr char UssdNotSupported[] = "\r\n+CUSD: 4\r\n";   // operation not supported
constexpr char UssdSessionEnded[] = "\r\n+CUSD: 2\r\n";   // the network ended the session

// "AA180C3602": an even number of hex digits, as a packed request is; "*100#" is not.
bool LooksPacked(const std::string& str) {
  return str.size() % 2 == 0 && str.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

// "*100#", "#123#", "*101*1#": what the network knows as a new request, not a menu's choice.
bool IsServiceCode(const std::string& str) { return !str.empty() && (str[0] == '*' || str[0] == '#'); }

int StatusCode(const std::string& status) {
  for (int i = 0; i < 4; ++i)
    if (status == Statuses[i])
      return i;
  return -1;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string CmsError(int code) { return "\r\n+CMS ERROR: " + std::to_string(code) + "\r\n"; }

bool ParseNumber(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::stoi(text);
  return true;
}

bool IsCommand(const std::string& line) {
  return line.size() >= 2 && toupper(static_cast<unsigned char>(line[0])) == 'A' &&
         toupper(static_cast<unsigned char>(line[1])) == 'T';
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Control characters written out for the log: \r, \n, \t, \\ and \xNN.
std::string Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    const char* named = c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\\' ? "\\\\" : nullptr;
    char hex[5] = {static_cast<char>(c), '\0'};
    if (!named && (c < 0x20 || c == 0x7F))
      snprintf(hex, sizeof hex, "\\x%02x", c);
    out += named ? named : hex;
  }
  return out;
}

// The store file's TEXT escapes: \n, \t and \\. Anything else after a backslash clears ok.
std::string Unescape(const std::string& text, bool* ok) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    char next = ++i < text.size() ? text[i] : '\0';
    if (next != 'n' && next != 't' && next != '\\')
      *ok = false;
    out.push_back(next == 'n' ? '\n' : next == 't' ? '\t' : '\\');
  }
  return out;
}

// 1,"AA180C3602",15 -> {1, AA180C3602, 15}: split at commas outside quotes, quotes dropped.
std::vector<std::string> SplitParameters(const std::string& list) {
  std::vector<std::string> values;
  if (list.empty())
    return values;
  std::string value;
  bool quoted = false;
  for (char c : list) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      values.push_back(value);
      value.clear();
    } else {
      value.push_back(c);
    }
  }
  values.push_back(value);
  return values;
}

// Received messages as SMS-DELIVER, stored outgoing ones as SMS-SUBMIT to the "sender" field.
Pdu EncodeMessage(const Message& m) {
  if (!m.pdu.empty())
    return Pdu{m.pdu, TpduLength(m.pdu)};
  return StatusCode(m.status) < 2 ? BuildDeliverPdu(m.sender, m.date, m.text, m.gsm7, m.header)
                                  : BuildSubmitPdu(m.sender, m.text);
}

bool IsGsm7(PartCoding coding) { return coding == PartCoding::Gsm7 || coding == PartCoding::Gsm7Wide; }
bool IsWide(PartCoding coding) { return coding == PartCoding::Gsm7Wide || coding == PartCoding::Ucs2Wide; }

// m as one part of a concatenated message: its text after a header with these values, as given.
Message PartMessage(Message m, PartCoding coding, int reference, int sequence, int total) {
  m.gsm7 = IsGsm7(coding);
  m.header = ConcatenationHeader(reference, IsWide(coding), total, sequence);
  return m;
}

// The parts of m's text as a concatenated message, from m.index on.
std::vector<Message> LongMessageParts(const Message& m, PartCoding coding, int reference) {
  const std::vector<std::string> texts = SplitIntoParts(m.text, IsGsm7(coding), IsWide(coding) ? 7 : 6);
  std::vector<Message> parts;
  for (size_t i = 0; i < texts.size(); ++i) {
    Message part = m;
    part.index = m.index + static_cast<int>(i);
    part.text = texts[i];
    parts.push_back(PartMessage(part, coding, IsWide(coding) ? 0x4C00 | reference : reference,
                                static_cast<int>(i) + 1, static_cast<int>(texts.size())));
  }
  return parts;
}

// A received message given as its PDU: sender, date and text are what the PDU holds.
bool PduMessage(const std::string& pdu, Message* m) {
  DeliverInfo info;
  if (!DecodeDeliverPdu(pdu, &info))
    return false;
  m->sender = info.sender;
  m->date = info.date;
  m->text = info.text;
  m->gsm7 = info.alphabet == 0;
  m->header = info.header;
  m->pdu = pdu;
  return true;
}

bool ParseCoding(const std::string& text, PartCoding* coding) {
  const struct { const char* name; PartCoding coding; } codings[] = {
      {"gsm7", PartCoding::Gsm7}, {"gsm7-16", PartCoding::Gsm7Wide}, {"ucs2", PartCoding::Ucs2},
      {"ucs2-16", PartCoding::Ucs2Wide}};
  for (const auto& c : codings)
    if (text == c.name) {
      *coding = c.coding;
      return true;
    }
  return false;
}

// The first count - 1 fields end at a TAB, the last one takes the rest of the line.
std::vector<std::string> SplitFields(const std::string& line, size_t count) {
  std::vector<std::string> field;
  size_t start = 0;
  for (size_t tab; field.size() + 1 < count && (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    field.push_back(line.substr(start, tab - start));
  field.push_back(line.substr(start));
  return field;
}

}  // namespace

Modem::Modem(Options o) : opts_(std::move(o)) {
  stores_["SM"];
  stores_["ME"];
}

Modem::~Modem() { Stop(); }

bool Modem::LoadStore(const std::string& file) {
  std::ifstream in(file);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!in) {
    error_ = file + ": cannot open";
    return false;
  }
  // STORAGE, INDEX and STATUS of a line into m.
  auto place = [this](const std::vector<std::string>& field, size_t at, Message* m) {
    int index = 0;
    if (field.size() < at + 3 || !stores_.count(field[at]) || !ParseNumber(field[at + 1], &index) || index < 1 ||
        index >= IndexLimit || StatusCode(field[at + 2]) < 0)
      return false;
    m->index = index - 1 + opts_.indexBase;  // file indexes count from 1
    m->status = field[at + 2];
    return true;
  };
  std::vector<std::pair<std::string, Message>> loaded;
  std::map<std::string, std::string> phonebook;
  int reference = partReference_;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#')
      continue;
    const std::string kind = line.substr(0, line.find('\t'));
    std::vector<std::string> field;
    Message m;
    bool ok = true;
    std::string expected;
    if (kind == "PHONEBOOK") {
      field = SplitFields(line, 3);
      ok = field.size() == 3 && !field[1].empty();
      if (ok)
        phonebook[field[1]] = field[2];
      expected = "PHONEBOOK<TAB>NUMBER<TAB>NAME";
    } else if (kind == "PDU") {
      field = SplitFields(line, 5);
      ok = field.size() == 5 && place(field, 1, &m) && StatusCode(m.status) < 2 && PduMessage(field[4], &m);
      if (ok)
        loaded.emplace_back(field[1], m);
      expected = "PDU<TAB>STORAGE<TAB>INDEX<TAB>STATUS<TAB>HEX, a received message's SMS-DELIVER";
    } else if (kind == "LONG") {
      field = SplitFields(line, 8);
      PartCoding coding = PartCoding::Gsm7;
      ok = field.size() == 8 && place(field, 1, &m) && StatusCode(m.status) < 2 && ParseCoding(field[6], &coding);
      if (ok) {
        m.sender = field[4];
        m.date = field[5];
        m.text = Unescape(field[7], &ok);
        reference = (reference + 1) & 0xFF;
        std::vector<Message> parts = LongMessageParts(m, coding, reference);
        ok = ok && parts.back().index < IndexLimit;
        for (const Message& part : parts)
          loaded.emplace_back(field[1], part);
      }
      expected = "LONG<TAB>STORAGE<TAB>INDEX<TAB>STATUS<TAB>SENDER<TAB>DATE<TAB>gsm7|gsm7-16|ucs2|ucs2-16<TAB>TEXT";
    } else if (kind == "PART") {
      field = SplitFields(line, 11);
      PartCoding coding = PartCoding::Gsm7;
      int reference = 0, sequence = 0, total = 0;
      ok = field.size() == 11 && place(field, 1, &m) && StatusCode(m.status) < 2 && ParseCoding(field[6], &coding) &&
           ParseNumber(field[7], &reference) && reference <= (IsWide(coding) ? 0xFFFF : 0xFF) &&
           ParseNumber(field[8], &sequence) && sequence <= 0xFF && ParseNumber(field[9], &total) && total <= 0xFF;
      if (ok) {
        m.sender = field[4];
        m.date = field[5];
        m.text = Unescape(field[10], &ok);
        loaded.emplace_back(field[1], PartMessage(m, coding, reference, sequence, total));
      }
      expected = "PART<TAB>STORAGE<TAB>INDEX<TAB>STATUS<TAB>SENDER<TAB>DATE<TAB>gsm7|gsm7-16|ucs2|ucs2-16<TAB>"
                 "REFERENCE<TAB>SEQUENCE<TAB>TOTAL<TAB>TEXT";
    } else {
      field = SplitFields(line, 6);  // the first five end at a TAB, TEXT takes the rest
      ok = field.size() == 6 && place(field, 0, &m);
      if (ok) {
        m.sender = field[3];
        m.date = field[4];
        m.text = Unescape(field[5], &ok);
        loaded.emplace_back(field[0], m);
      }
      expected = "STORAGE<TAB>INDEX<TAB>STATUS<TAB>SENDER<TAB>DATE<TAB>TEXT";
    }
    if (!ok) {
      error_ = file + ":" + std::to_string(number) + ": expected " + expected;
      return false;
    }
  }
  for (const auto& [storage, m] : loaded)
    stores_[storage][m.index] = m;
  for (const auto& [number, name] : phonebook)
    phonebook_[number] = name;
  partReference_ = reference;
  return true;
}

std::string Modem::LastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void Modem::AddMessage(const std::string& storage, Message m) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto store = stores_.find(storage);
  if (store != stores_.end())
    store->second[m.index] = std::move(m);
}

int Modem::AddLongMessage(const std::string& storage, Message m, PartCoding coding) {
  int reference;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reference = partReference_ = (partReference_ + 1) & 0xFF;
  }
  std::vector<Message> parts = LongMessageParts(m, coding, reference);
  for (const Message& part : parts)
    AddMessage(storage, part);
  return static_cast<int>(parts.size());
}

void Modem::AddPart(const std::string& storage, Message m, PartCoding coding, int reference, int sequence,
                    int total) {
  AddMessage(storage, PartMessage(m, coding, reference, sequence, total));
}

bool Modem::AddPduMessage(const std::string& storage, int index, const std::string& status, const std::string& pdu) {
  Message m;
  m.index = index;
  m.status = status;
  if (!PduMessage(pdu, &m))
    return false;
  AddMessage(storage, m);
  return true;
}

void Modem::AddPhonebookEntry(const std::string& number, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  phonebook_[number] = name;
}

void Modem::FillStorage(const std::string& storage, int count, bool gsm7) {
  // Cyrillic has no GSM 7-bit form: the UCS-2 texts are Russian, the 7-bit ones English.
  const std::string filler = gsm7 ? "The quick brown fox jumps over the lazy dog. " : "Съешь же ещё этих мягких булок. ";
  const size_t length = gsm7 ? 160 : 70;  // characters; every one here is one septet or one UTF-16 unit
  for (int place = 1; place <= count && place < IndexLimit; ++place) {
    Message m;
    m.index = place - 1 + opts_.indexBase;
    m.status = place % 2 ? "REC UNREAD" : "REC READ";
    m.sender = "+4917012" + std::to_string(10000 + place);
    char date[32];
    snprintf(date, sizeof date, "24/%02d/%02d,%02d:%02d:00+08", place / 28 % 12 + 1, place % 28 + 1, place % 24,
             place % 60);
    m.date = date;
    std::string text = (gsm7 ? "Message " : "Сообщение ") + std::to_string(place) + (gsm7 ? " of " : " из ") +
                       std::to_string(count) + " (" + storage + "): ";
    size_t characters = 0;
    for (unsigned char c : text)
      characters += (c & 0xC0) != 0x80;  // not a UTF-8 continuation byte
    for (size_t i = 0; characters < length; ++characters) {
      do
        text += filler[i++ % filler.size()];
      while ((filler[i % filler.size()] & 0xC0) == 0x80);
    }
    m.text = text;
    m.gsm7 = gsm7;
    AddMessage(storage, m);
  }
}

std::vector<Message> Modem::Messages(const std::string& storage) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Message> list;
  auto store = stores_.find(storage);
  if (store != stores_.end())
    for (const auto& entry : store->second)
      list.push_back(entry.second);
  return list;
}

bool Modem::Start() {
  if (master_ >= 0 || slave_ >= 0)
    return false;
  // Both ends stay open: with the slave held, the master never sees EIO while no atsms has the port open.
  if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
    return false;
  char path[256];
  // Programs started by the test process must not inherit either end: a child holding the master
  // would keep the line up after a simulated unplug.
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  if (ptsname_r(master_, path, sizeof path) != 0 || fcntl(master_, F_SETFL, O_NONBLOCK) != 0) {
    Stop();
    return false;
  }
  slavePath_ = path;
  stopping_ = false;
  thread_ = std::thread(&Modem::Run, this);
  return true;
}

std::string Modem::SlavePath() const { return slavePath_; }

int Modem::SlaveFd() const { return slave_; }

std::vector<std::string> Modem::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::vector<SentSms> Modem::Sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

std::vector<DeliveredSms> Modem::Delivered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delivered_;
}

std::vector<std::string> Modem::UssdRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ussd_;
}

bool Modem::UssdSessionOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !menu_.empty();
}

void Modem::Stop() {
  stopping_ = true;
  if (thread_.joinable())
    thread_.join();
  if (master_ >= 0)
    close(master_);
  if (slave_ >= 0)
    close(slave_);
  master_ = slave_ = -1;
}

void Modem::Run() {
  while (!stopping_ && master_ >= 0) {
    int timeout = 20;  // ms; keeps Stop() prompt
    if (!queue_.empty()) {
      auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(queue_.front().due - Clock::now()).count();
      timeout = static_cast<int>(std::max<decltype(wait)>(0, std::min<decltype(wait)>(timeout, wait)));
    }
    pollfd watched{master_, POLLIN, 0};
    if (poll(&watched, 1, timeout) > 0 && (watched.revents & POLLIN)) {
      char buffer[512];
      ssize_t count = read(master_, buffer, sizeof buffer);
      for (ssize_t i = 0; i < count && master_ >= 0; ++i)
        Receive(buffer[i]);
    }
    if (master_ >= 0) {
      EndIdleSession();
      Flush();
    }
  }
}

void Modem::Receive(char c) {
  if (awaitingPdu_) {
    if (line_.empty() && (c == '\r' || c == '\n'))
      return;
    if (line_.size() < LineLimit || c == '\x1a' || c == '\x1b' || c == '\r')
      line_.push_back(c);
    std::string raw;
    if (c == '\x1a' || c == '\x1b') {  // Ctrl-Z sends, ESC cancels
      raw.swap(line_);
      awaitingPdu_ = false;
      HandlePdu(raw);
    } else if (c == '\r' && IsCommand(line_)) {  // hex never starts with "AT": the sender gave up on the prompt
      raw.swap(line_);
      awaitingPdu_ = false;
      HandleLine(raw);
    }
    return;
  }
  if (c == '\n' && line_.empty())  // the LF of a CR LF
    return;
  if (line_.size() < LineLimit || c == '\r')
    line_.push_back(c);
  if (c == '\r') {
    std::string raw;
    raw.swap(line_);
    HandleLine(raw);
  }
}

void Modem::HandleLine(const std::string& raw) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text = raw.substr(0, raw.size() - 1);
  if (!IsCommand(text)) {  // an empty line, or noise such as our own answers echoed back by a canonical tty
    if (!text.empty())
      Log("<- " + Escape(raw) + " (ignored)");
    return;
  }
  Log("<- " + Escape(raw));
  if (!Record(raw) || opts_.silent)
    return;
  std::string command = Upper(text);
  std::string echo = echo_ ? raw : "";  // ATE0 itself is still echoed
  if (command == "AT" && ++probes_ < opts_.okOnAt)
    return;  // not awake yet: no echo, no answer
  bool refused = !opts_.errorOn.empty() && text.compare(0, opts_.errorOn.size(), opts_.errorOn) == 0;
  Answer(echo, refused ? Error : Execute(command, text));
}

void Modem::HandlePdu(const std::string& raw) {
  std::lock_guard<std::mutex> lock(mutex_);
  Log("<- " + Escape(raw));
  if (!Record(raw) || opts_.silent)
    return;
  std::string echo = echo_ ? raw : "";
  if (raw.back() == '\x1b') {
    Log("sending cancelled");
    Answer(echo, Ok);
    return;
  }
  ++pdus_;
  SentSms sms;
  sms.lengthArg = pduLength_;
  for (char c : raw.substr(0, raw.size() - 1))
    if (!isspace(static_cast<unsigned char>(c)))
      sms.pdu.push_back(c);
  std::string octets;
  int tpduLength = 0;
  if (!HexDecode(sms.pdu, &octets) || !DecodeSubmitPdu(octets, &sms, &tpduLength)) {
    Log("PDU refused: not an SMS-SUBMIT with at most 140 octets of user data that TP-UDL counts exactly");
    Answer(echo, CmsError(304));
    return;
  }
  sms.lengthOk = tpduLength == pduLength_;
  sent_.push_back(sms);
  char dcs[3];
  snprintf(dcs, sizeof dcs, "%02X", sms.dcs & 0xFF);
  std::string part = sms.total ? " part " + std::to_string(sms.sequence) + "/" + std::to_string(sms.total) +
                                     " ref " + std::to_string(sms.reference)
                               : "";
  Log("SMS to " + sms.destination + " dcs=" + dcs + part + ": " + Escape(sms.text));
  if (!sms.lengthOk) {
    Log("AT+CMGS=" + std::to_string(pduLength_) + " but the PDU has " + std::to_string(tpduLength) +
        " octets after the SMSC part");
    Answer(echo, CmsError(304));
  } else if (opts_.cmsError > 0) {
    Answer(echo, CmsError(opts_.cmsError));
  } else if (pdus_ == opts_.refusePdu) {
    Log("refusing PDU " + std::to_string(pdus_));
    Answer(echo, CmsError(500));
  } else {
    Deliver(sms);
    Answer(echo, "\r\n+CMGS: " + std::to_string(++reference_) + "\r\n\r\nOK\r\n");
  }
}

// A part waits until every part of its message has come; each part's text was decoded on its own,
// so a surrogate pair split between two parts shows as two U+FFFD.
void Modem::Deliver(const SentSms& sms) {
  if (sms.total == 0) {
    delivered_.push_back({sms.destination, 1, sms.text});
    return;
  }
  auto key = std::make_tuple(sms.destination, sms.reference, sms.total);
  std::map<int, std::string>& parts = pending_[key];
  parts[sms.sequence] = sms.text;  // a repeated part replaces the earlier one
  if (parts.size() < static_cast<size_t>(sms.total))
    return;
  DeliveredSms message{sms.destination, sms.total, ""};
  for (const auto& entry : parts)
    message.text += entry.second;
  delivered_.push_back(message);
  pending_.erase(key);
  Log("message to " + message.destination + " complete in " + std::to_string(message.parts) + " parts: " +
      Escape(message.text));
}

bool Modem::Record(const std::string& raw) {
  commands_.push_back(raw);
  if (opts_.hangupAfter <= 0 || commands_.size() != static_cast<size_t>(opts_.hangupAfter))
    return true;
  Log("hanging up after " + std::to_string(opts_.hangupAfter) + " command lines");
  close(master_);
  master_ = -1;
  queue_.clear();
  return false;
}

std::string Modem::Execute(const std::string& command, const std::string& text) {
  if (command == "AT")
    return Ok;
  if (command == "ATE0" || command == "ATE" || command == "ATE1") {
    echo_ = opts_.keepEcho || command == "ATE1";
    return Ok;
  }
  size_t equals = command.find('=');
  std::string name = command.substr(0, equals);
  std::string argument = equals == std::string::npos ? "" : command.substr(equals + 1);
  if ((opts_.simPin || opts_.noSim) && std::count(std::begin(SimCommands), std::end(SimCommands), name)) {
    if (opts_.cmeErrors)
      return opts_.noSim ? "\r\n+CME ERROR: 10\r\n" : "\r\n+CME ERROR: 11\r\n";
    return CmsError(opts_.noSim ? 310 : 311);  // SIM not inserted, SIM PIN required
  }
  if (name == "AT+CSCS") {
    std::vector<std::string> charset = SplitParameters(argument);
    if (charset.size() != 1 || (charset[0] != "UCS2" && charset[0] != "GSM"))
      return Error;
    ucs2_ = charset[0] == "UCS2";
    return Ok;
  }
  if (name == "AT+CMGF") {
    if (argument != "0" && argument != "1")
      return Error;
    textMode_ = argument == "1";
    return Ok;
  }
  if (name == "AT+CPMS")
    return SelectStorage(argument);
  if (name == "AT+CMGL")
    return ListMessages(argument);
  if (name == "AT+CMGR")
    return ReadMessage(argument);
  if (name == "AT+CMGD")
    return DeleteMessage(argument);
  if (name == "AT+CMGS")
    return StartSend(argument);
  if (name == "AT+CUSD")
    return Ussd(text.substr(equals + 1));  // the string as it came: a plain one may hold small letters
  return Error;
}

// +CPMS: used,total for each of the (up to three) storages named.
std::string Modem::SelectStorage(const std::string& argument) {
  std::vector<std::string> names = SplitParameters(argument);
  if (names.empty() || names.size() > 3)
    return Error;
  for (const std::string& name : names)
    if (!stores_.count(name))
      return CmsError(302);
  storage_ = names[0];
  std::string answer = "\r\n+CPMS: ";
  for (size_t i = 0; i < 3; ++i) {
    const std::string& name = i < names.size() ? names[i] : storage_;
    const auto& store = stores_[name];
    size_t total = std::max<size_t>(name == "SM" ? opts_.capacitySm : opts_.capacityMe, store.size());
    answer += std::to_string(store.size()) + "," + std::to_string(total) + (i < 2 ? "," : "");
  }
  return answer + "\r\n" + Ok;
}

// PDU mode only: "+CMGL: <index>,<stat>,,<length>" and the PDU for each message with that <stat> (4: all).
std::string Modem::ListMessages(const std::string& argument) {
  int wanted = 0;
  if (textMode_ || !ParseNumber(argument, &wanted) || wanted > 4)
    return Error;
  std::vector<const Message*> list;
  for (const auto& entry : stores_[storage_])
    if (wanted == 4 || StatusCode(entry.second.status) == wanted)
      list.push_back(&entry.second);
  if (opts_.descending)
    std::reverse(list.begin(), list.end());
  if (list.empty())
    return Ok;
  std::string answer = "\r\n";
  for (const Message* m : list) {
    Pdu pdu = EncodeMessage(*m);
    answer += "+CMGL: " + std::to_string(m->index) + "," + std::to_string(StatusCode(m->status)) + ",," +
              std::to_string(pdu.tpduLength) + "\r\n" + pdu.hex + "\r\n";
  }
  return answer + Ok;
}

// Text mode: +CMGR: "<stat>","<sender>",,"<date>" then the text, both in UCS-2 hex with charset UCS2.
// PDU mode: +CMGR: <stat>,,<length> then the PDU. A "REC UNREAD" message is "REC READ" afterwards.
std::string Modem::ReadMessage(const std::string& argument) {
  int index = 0;
  if (!ParseNumber(argument, &index))
    return Error;
  auto& store = stores_[storage_];
  auto found = store.find(index);
  if (index < opts_.indexBase || found == store.end())
    return CmsError(321);
  Message& m = found->second;
  int stat = StatusCode(m.status);
  std::string answer;
  if (textMode_) {
    std::string sender = ucs2_ ? Utf8ToUcs2Hex(m.sender) : m.sender;
    std::string alpha = ",";  // left empty
    if (opts_.alphaField == AlphaField::Quoted) {
      alpha = ",\"\"";
    } else if (opts_.alphaField == AlphaField::Absent) {
      alpha = "";
    } else if (opts_.alphaField == AlphaField::Name) {
      auto entry = phonebook_.find(m.sender);
      std::string name = entry == phonebook_.end() ? "" : entry->second;
      alpha = ",\"" + (ucs2_ ? Utf8ToUcs2Hex(name) : name) + "\"";
    }
    std::string date = stat < 2 ? ",\"" + m.date + "\"" : "";  // stored outgoing ones have no date
    answer = "\r\n+CMGR: \"" + m.status + "\",\"" + sender + "\"" + alpha + date + "\r\n" + TextModeText(m) + "\r\n" + Ok;
  } else {
    Pdu pdu = EncodeMessage(m);
    answer = "\r\n+CMGR: " + std::to_string(stat) + ",," + std::to_string(pdu.tpduLength) + "\r\n" + pdu.hex +
             "\r\n" + Ok;
  }
  if (stat == 0)
    m.status = Statuses[1];
  return answer;
}

// The text as text mode shows it: like any text (UCS-2 hex with charset UCS2), but user data with a
// header as the header form says, and 8-bit data as hex (TS 27.005 3.1).
std::string Modem::TextModeText(const Message& m) const {
  auto shown = [this](const std::string& text) { return ucs2_ ? Utf8ToUcs2Hex(text) : text; };
  DeliverInfo info;
  if ((m.header.empty() && m.pdu.empty()) || !DecodeDeliverPdu(EncodeMessage(m).hex, &info))
    return shown(m.text);
  if (info.alphabet == 1)
    return HexEncode(info.ud);
  if (info.header.empty())
    return shown(m.text);
  // The header read as if it were text: every septet from the first bit, or every 16-bit unit.
  const std::string characters = info.alphabet == 0 ? Gsm7ToUtf8(UnpackSeptets(info.ud, info.udl)) : Ucs2ToUtf8(info.ud);
  switch (opts_.headerForm) {
    case HeaderForm::Hex: break;
    case HeaderForm::Characters: return shown(characters);
    case HeaderForm::Ucs2Only: return info.alphabet == 2 ? shown(characters) : HexEncode(info.ud);
    case HeaderForm::Stripped: return shown(m.text);
  }
  return HexEncode(info.ud);
}

// OK for an empty index as well, like real modems; only <delflag> 0 is known.
std::string Modem::DeleteMessage(const std::string& argument) {
  std::vector<std::string> values = SplitParameters(argument);
  int index = 0;
  if (values.empty() || values.size() > 2 || !ParseNumber(values[0], &index) ||
      (values.size() == 2 && values[1] != "0"))
    return Error;
  if (index < opts_.indexBase || index >= IndexLimit)
    return CmsError(321);
  stores_[storage_].erase(index);
  return Ok;
}

// The prompt, possibly after a few unsolicited answers; the PDU line then goes to HandlePdu.
std::string Modem::StartSend(const std::string& argument) {
  int length = 0;
  if (opts_.cmgsError || textMode_ || !ParseNumber(argument, &length))
    return Error;
  if (opts_.noPrompt)
    return "";
  awaitingPdu_ = true;
  pduLength_ = length;
  if (opts_.latePrompt <= 0)
    return Prompt;
  for (int i = 1; i < opts_.latePrompt; ++i)
    later_.emplace_back(i * UnsolicitedGapMs, Unsolicited);
  later_.emplace_back(opts_.latePrompt * UnsolicitedGapMs, Prompt);
  return Unsolicited;
}

// AT+CUSD=<n>[,"<str>"[,<dcs>]]: OK now, the network's +CUSD later (or just before the OK).
std::string Modem::Ussd(const std::string& argument) {
  std::vector<std::string> values = SplitParameters(argument);
  if (values.empty() || values.size() > 3 || values[0].size() != 1 || values[0][0] < '0' || values[0][0] > '2')
    return Error;
  const std::string refusal = "\r\n" + opts_.ussdRefusal + "\r\n";
  bool request = values.size() >= 2;
  std::string text;
  if (request) {
    const std::string& str = values[1];
    const bool packed = LooksPacked(str);
    if (opts_.ussdTakes == UssdTakes::TextError && packed) {
      Log("USSD request " + Escape(str) + " refused: this modem takes no packed request");
      return refusal;
    }
    if (opts_.ussdTakes == UssdTakes::Packed || (opts_.ussdTakes == UssdTakes::Both && packed)) {
      if (!UnpackUssd(str, &text))
        return refusal;
    } else {
      text = str;
    }
    ussd_.push_back(text);
    Log("USSD request " + Escape(text));
  } else if (values[0] == "2" && !menu_.empty()) {
    Log("USSD session cancelled");
    menu_.clear();
  }
  if (opts_.ussdError)
    return refusal;
  if (request && !opts_.ussdNoReply) {
    std::string reply = NetworkAnswer(text);
    if (opts_.ussdBeforeOk)
      return reply + Ok;
    later_.emplace_back(opts_.ussdDelayMs, reply);
  }
  return Ok;
}

std::string Modem::NetworkAnswer(const std::string& request) {
  const bool code = IsServiceCode(request);
  std::string menu;  // the menu to show
  if (!menu_.empty() && !code) {
    menu = menu_;  // an unknown choice gets its menu again
    const UssdChoice* chosen = nullptr;
    for (const UssdChoice& choice : UssdChoices)
      if (menu_ == choice.menu && request == choice.choice)
        chosen = &choice;
    if (!chosen) {
      Log("USSD choice " + Escape(request) + " unknown in menu " + menu_ + ": the menu again");
    } else if (*chosen->next) {
      menu = chosen->next;
    } else {
      menu_.clear();
      Log("USSD session ended with the final answer");
      return CusdLine(0, chosen->answer ? chosen->answer : opts_.ussdReply);
    }
  } else if (code && opts_.ussdMenu) {
    if (!menu_.empty())
      Log("USSD request " + Escape(request) + " while a menu is open: that session ends, a new one starts");
    menu = "main";
  } else if (!code && (opts_.ussdMenu || opts_.ussdTakes != UssdTakes::Packed)) {
    return UssdNotSupported;
  } else {
    return CusdLine(opts_.ussdStatus, opts_.ussdReply);
  }
  menu_ = menu;
  const int wait = opts_.answerDelayMs + (opts_.ussdBeforeOk ? 0 : opts_.ussdDelayMs) + opts_.ussdSessionMs;
  menuEnds_ = Clock::now() + std::chrono::milliseconds(wait);
  for (const UssdMenu& m : UssdMenus)
    if (menu == m.name)
      return CusdLine(1, m.text);
  return CusdLine(1, "");  // not reached: every choice leads to a menu of the table
}

// DCS 15: GSM 7-bit, as text or packed; 72 (0x48): UCS-2 as hex.
std::string Modem::CusdLine(int status, const std::string& text) const {
  std::string str;
  switch (opts_.ussdForm) {
    case UssdForm::Text: str = ucs2_ ? "\"" + Utf8ToUcs2Hex(text) + "\",72" : "\"" + text + "\",15"; break;
    case UssdForm::Ucs2: str = "\"" + Utf8ToUcs2Hex(text) + "\",72"; break;
    case UssdForm::Packed: str = "\"" + HexEncode(PackGsm7Text(text)) + "\",15"; break;
    case UssdForm::Unquoted: str = " " + HexEncode(PackGsm7Text(text)); break;
  }
  return "\r\n+CUSD: " + std::to_string(status) + "," + str + "\r\n";
}

// A menu left alone: the network gives up on it and says so, whether or not anyone listens.
void Modem::EndIdleSession() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (menu_.empty() || Clock::now() < menuEnds_)
    return;
  menu_.clear();
  Log("USSD session idle for " + std::to_string(opts_.ussdSessionMs) + " ms: the network ends it");
  Queue(0, UssdSessionEnded);
}

void Modem::Answer(const std::string& echo, const std::string& answer) {
  if (!echo.empty() || !answer.empty())
    Queue(opts_.answerDelayMs, echo + answer);
  if (opts_.unsolicitedAfterOk && EndsWith(answer, Ok)) {  // counted from when the OK goes out, which may be later
    Clock::time_point due = queue_.empty() ? Clock::now() : queue_.back().due;
    queue_.push_back({due + std::chrono::milliseconds(UnsolicitedAfterOkMs), UnsolicitedLines[unsolicitedSent_++ % 3]});
  }
  for (const auto& [delay, bytes] : later_)
    Queue(opts_.answerDelayMs + delay, bytes);
  later_.clear();
}

void Modem::Queue(int delayMs, const std::string& bytes) {
  Clock::time_point due = Clock::now() + std::chrono::milliseconds(delayMs);
  if (!queue_.empty())
    due = std::max(due, queue_.back().due);  // answers never overtake each other
  if (opts_.pieceDelayMs > 0 && bytes.size() > 1) {
    QueuePackets(due, bytes.substr(0, bytes.size() / 2));
    QueuePackets(due + std::chrono::milliseconds(opts_.pieceDelayMs), bytes.substr(bytes.size() / 2));
  } else {
    QueuePackets(due, bytes);
  }
}

void Modem::QueuePackets(Clock::time_point due, const std::string& bytes) {
  if (opts_.packetSize <= 0) {
    queue_.push_back({due, bytes});
    return;
  }
  const size_t size = static_cast<size_t>(opts_.packetSize);
  for (size_t at = 0; at < bytes.size(); at += size, due += std::chrono::milliseconds(opts_.packetGapMs))
    queue_.push_back({due, bytes.substr(at, size)});
}

void Modem::Flush() {
  while (!queue_.empty() && queue_.front().due <= Clock::now()) {
    Output& out = queue_.front();
    ssize_t written = write(master_, out.bytes.data(), out.bytes.size());
    if (written < 0 && (errno == EAGAIN || errno == EINTR))
      return;  // the slave's input queue is full: try again on the next round
    if (written > 0)
      Log("-> " + Escape(out.bytes.substr(0, static_cast<size_t>(written))));
    if (written > 0 && static_cast<size_t>(written) < out.bytes.size()) {
      out.bytes.erase(0, static_cast<size_t>(written));
      return;
    }
    queue_.pop_front();
  }
}

void Modem::Log(const std::string& line) const {
  if (!opts_.log)
    return;
  auto now = std::chrono::system_clock::now();
  time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
           static_cast<int>(millis));
  opts_.log(stamp + line);
}

}  // namespace sim
