// sim_commands.cpp: the simulated modem's command interpreter (TS 27.005, TS 27.007): storages, reading,
// deleting and sending.
#include "modem_sim.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

#include "sim_common.h"
#include "sim_pdu.h"

namespace sim {
namespace {

constexpr char Prompt[] = "\r\n> ";
constexpr char BarePrompt[] = "\r\n>";
constexpr char Unsolicited[] = "\r\n+CREG: 1\r\n";  // what comes before a late prompt
constexpr int UnsolicitedGapMs = 700;                // above atsms's 0.5 s of silence: each is an answer of its own
constexpr int ReportCapacity = 20;                   // places in "SR"
// +CNMI's values and the highest each may take (TS 27.005 3.4.1): <mode>,<mt>,<bm>,<ds>,<bfr>.
const int IndicationLimits[] = {3, 3, 3, 2, 1};
constexpr char IndicationRanges[] = "\r\n+CNMI: (0-3),(0-3),(0-3),(0-2),(0,1)\r\n";
// What a modem refuses while its SIM is locked or missing: the storage and message commands.
const char* const SimCommands[] = {"AT+CPMS", "AT+CMGL", "AT+CMGR", "AT+CMGD", "AT+CMGS", "AT+CMGW"};
std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Received messages as SMS-DELIVER, stored outgoing ones as SMS-SUBMIT to the "sender" field.
Pdu EncodeMessage(const Message& m) {
  if (!m.pdu.empty())
    return Pdu{m.pdu, TpduLength(m.pdu)};
  return StatusCode(m.status) < 2 ? BuildDeliverPdu(m.sender, m.date, m.text, m.gsm7, m.header)
                                  : BuildSubmitPdu(m.sender, m.text);
}

}  // namespace

void Modem::HandleLine(const std::string& raw) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text = raw.substr(0, raw.size() - 1);
  // Control bytes before "AT" (the ESC that ends a PDU entry, when none was open) are passed over.
  text.erase(0, std::find_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= ' '; }) -
                    text.begin());
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
    reference_ = (reference_ + 1) & 0xFF;  // TP-MR is one octet; the modem gives it, not the PDU
    if (sms.reportRequested)
      RequestReport(sms, reference_);
    const std::string confirmation = "\r\n+CMGS: " + std::to_string(reference_) + "\r\n\r\nOK\r\n";
    if (opts_.confirmDelayMs > 0)
      later_.emplace_back(opts_.confirmDelayMs, confirmation);
    Answer(echo, opts_.confirmDelayMs > 0 ? "" : confirmation);
  }
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
  const bool simCommand = std::count(std::begin(SimCommands), std::end(SimCommands), name) > 0;
  if (simCommand && (busyAnswered_ < opts_.busyTries || Clock::now() < started_ + std::chrono::milliseconds(opts_.busyMs))) {
    ++busyAnswered_;
    Log("SIM busy");
    return "\r\n" + opts_.busyAnswer + "\r\n";
  }
  if ((opts_.simPin || opts_.noSim) && simCommand) {
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
  if (name == "AT+CNMI" || name == "AT+CNMI?")
    return Indications(command);
  if (name == "AT+CMGL") {
    std::string answer = ListMessages(argument);
    if (EndsWith(answer, Ok))
      CountListing();
    return answer;
  }
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

// AT+CPMS=<mem1>[,<mem2>[,<mem3>]] (reading and deleting, writing, receiving; those left out stay):
// +CPMS: used,total of each. "SR" holds status reports, which are only read and deleted.
// AT+CPMS=? lists the storages each may be.
std::string Modem::SelectStorage(const std::string& argument) {
  if (argument == "?") {
    const std::string lists = "(\"SM\",\"ME\")";
    const std::string first = stores_.count("SR") ? "(\"SM\",\"ME\",\"SR\")" : lists;
    return "\r\n+CPMS: " + first + "," + lists + "," + lists + "\r\n" + Ok;
  }
  std::vector<std::string> names = SplitParameters(argument);
  if (names.empty() || names.size() > 3)
    return Error;
  for (size_t i = 0; i < names.size(); ++i)
    if (!stores_.count(names[i]) || (i > 0 && names[i] == "SR"))
      return CmsError(302);
  std::string* chosen[] = {&storage_, &writeStorage_, &receiveStorage_};
  for (size_t i = 0; i < names.size(); ++i)
    *chosen[i] = names[i];
  std::string answer = "\r\n+CPMS: ";
  for (size_t i = 0; i < 3; ++i) {
    const size_t used = stores_[*chosen[i]].size();
    const size_t total = std::max<size_t>(Capacity(*chosen[i]), used);
    answer += std::to_string(used) + "," + std::to_string(total) + (i < 2 ? "," : "");
  }
  return answer + "\r\n" + Ok;
}

int Modem::Capacity(const std::string& storage) const {
  return storage == "SM" ? opts_.capacitySm : storage == "ME" ? opts_.capacityMe : ReportCapacity;
}

// AT+CNMI? gives +CNMI: <mode>,<mt>,<bm>,<ds>,<bfr>; AT+CNMI=[<mode>[,<mt>[,...]]] sets those given
// (an empty one stays), all or nothing.
std::string Modem::Indications(const std::string& command) {
  if (command == "AT+CNMI?") {
    std::string answer = "\r\n+CNMI: ";
    for (int i = 0; i < 5; ++i)
      answer += std::to_string(cnmi_[i]) + (i < 4 ? "," : "\r\n");
    return answer + Ok;
  }
  const std::string argument = command.substr(command.find('=') + 1);
  if (argument == "?")
    return IndicationRanges + std::string(Ok);
  std::vector<std::string> values = SplitParameters(argument);
  if (values.size() > 5)
    return Error;
  int set[5];
  std::copy(std::begin(cnmi_), std::end(cnmi_), set);
  for (size_t i = 0; i < values.size(); ++i)
    if (!values[i].empty() && (!ParseNumber(values[i], &set[i]) || set[i] > IndicationLimits[i]))
      return Error;
  std::copy(std::begin(set), std::end(set), cnmi_);
  return Ok;
}

// <fo>,<mr>,"<ra>",<tora>,"<scts>","<dt>",<st> (TS 27.005 3.4.3); <ra> in UCS-2 hex with charset UCS2.
std::string Modem::ReportFields(const std::string& pdu) const {
  StatusReportInfo r;
  if (!DecodeStatusReportPdu(pdu, &r))
    return "";
  return std::to_string(r.firstOctet) + "," + std::to_string(r.reference) + ",\"" +
         (ucs2_ ? Utf8ToUcs2Hex(r.recipient) : r.recipient) + "\"," + std::to_string(r.recipientType) + ",\"" + r.sent +
         "\",\"" + r.done + "\"," + std::to_string(r.status);
}

// PDU mode only: "+CMGL: <index>,<stat>,,<length>" and the PDU for each message with that <stat> (4: all).
// A "REC UNREAD" message is "REC READ" afterwards (TS 27.005 3.4.2), unless listingKeepsUnread.
std::string Modem::ListMessages(const std::string& argument) {
  int wanted = 0;
  if (textMode_ || !ParseNumber(argument, &wanted) || wanted > 4)
    return Error;
  std::vector<Message*> list;
  for (auto& entry : stores_[storage_])
    if (wanted == 4 || StatusCode(entry.second.status) == wanted)
      list.push_back(&entry.second);
  if (opts_.descending)
    std::reverse(list.begin(), list.end());
  if (list.empty())
    return Ok;
  std::string answer = "\r\n";
  for (Message* m : list) {
    Pdu pdu = EncodeMessage(*m);
    answer += "+CMGL: " + std::to_string(m->index) + "," + std::to_string(StatusCode(m->status)) + ",," +
              std::to_string(pdu.tpduLength) + "\r\n" + pdu.hex + "\r\n";
    if (StatusCode(m->status) == 0 && !opts_.listingKeepsUnread)
      m->status = Statuses[1];
  }
  return answer + Ok;
}

// The answer to the Nth listing may bring a message right behind it (Options::arriveAfterCmgl).
void Modem::CountListing() {
  ++listings_;
  for (int n : opts_.arriveAfterCmgl)
    if (n == listings_)
      incoming_.push_back(NextArriving());
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
  const std::string report = ReportFields(m.pdu);
  if (textMode_ && !report.empty()) {
    answer = "\r\n+CMGR: \"" + m.status + "\"," + report + "\r\n" + Ok;
  } else if (textMode_) {
    // A received message shows what its stored PDU holds, as a modem renders it.
    DeliverInfo info;
    const bool received = stat < 2 && DecodeDeliverPdu(EncodeMessage(m).hex, &info);
    const std::string& from = received ? info.sender : m.sender;
    std::string sender = ucs2_ ? Utf8ToUcs2Hex(from) : from;
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
    std::string date = received ? ",\"" + info.date + "\"" : stat < 2 ? ",\"" + m.date + "\"" : "";  // none when stored
    answer = "\r\n+CMGR: \"" + m.status + "\",\"" + sender + "\"" + alpha + date + "\r\n" + Noise(NoiseRead) +
             TextModeText(m, received ? &info : nullptr) + "\r\n" + Ok;
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
// header as the header form says, and 8-bit data as hex (TS 27.005 3.1). received: its PDU decoded.
std::string Modem::TextModeText(const Message& m, const DeliverInfo* received) const {
  auto shown = [this](const std::string& text) { return ucs2_ ? Utf8ToUcs2Hex(text) : text; };
  if (!received)
    return shown(m.text);
  const DeliverInfo& info = *received;
  if (info.alphabet == 1)
    return HexEncode(info.ud);
  if (info.header.empty())
    return shown(info.text);
  // The header read as if it were text: every septet from the first bit, or every 16-bit unit.
  const std::string characters = info.alphabet == 0 ? Gsm7ToUtf8(UnpackSeptets(info.ud, info.udl)) : Ucs2ToUtf8(info.ud);
  switch (opts_.headerForm) {
    case HeaderForm::Hex: break;
    case HeaderForm::Characters: return shown(characters);
    case HeaderForm::Ucs2Only: return info.alphabet == 2 ? shown(characters) : HexEncode(info.ud);
    case HeaderForm::Stripped: return shown(info.text);
  }
  return HexEncode(info.ud);
}

// OK for an empty index as well, like real modems. <delflag> 1 to 4 (TS 27.005 3.5.4) ignore the index
// and delete every read message, and more: 2 the sent ones too, 3 the unsent ones too, 4 all.
std::string Modem::DeleteMessage(const std::string& argument) {
  std::vector<std::string> values = SplitParameters(argument);
  int index = 0;
  int flag = 0;
  if (values.empty() || values.size() > 2 || !ParseNumber(values[0], &index) ||
      (values.size() == 2 && (!ParseNumber(values[1], &flag) || flag > 4 || (flag > 0 && opts_.noDeleteFlags))))
    return Error;
  auto& store = stores_[storage_];
  if (flag > 0) {
    for (auto entry = store.begin(); entry != store.end();) {
      const int stat = StatusCode(entry->second.status);  // 0 unread, 1 read, 2 unsent, 3 sent
      const bool gone = stat == 1 || (stat == 3 && flag >= 2) || (stat == 2 && flag >= 3) || flag == 4;
      entry = gone ? store.erase(entry) : std::next(entry);
    }
    return Ok;
  }
  if (index < opts_.indexBase || index >= IndexLimit)
    return CmsError(321);
  store.erase(index);
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
  const std::string prompt = (opts_.barePrompt ? BarePrompt : Prompt) + Noise(NoisePrompt);
  if (opts_.latePrompt <= 0)
    return prompt;
  for (int i = 1; i < opts_.latePrompt; ++i)
    later_.emplace_back(i * UnsolicitedGapMs, Unsolicited);
  later_.emplace_back(opts_.latePrompt * UnsolicitedGapMs, prompt);
  return Unsolicited;
}

}  // namespace sim
