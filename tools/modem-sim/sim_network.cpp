// sim_network.cpp: the network behind the simulated modem: sent messages delivered, USSD requests answered.
#include "modem_sim.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "sim_common.h"
#include "sim_pdu.h"

namespace sim {
namespace {

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

// The local time as a time stamp shows it: "yy/MM/dd,hh:mm:ss±zz", zz in quarters of an hour.
std::string Now() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const int quarters = static_cast<int>(local.tm_gmtoff / 900 % 100);
  char stamp[64];
  snprintf(stamp, sizeof stamp, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", local.tm_year % 100, local.tm_mon + 1,
           local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, quarters < 0 ? '-' : '+', abs(quarters));
  return stamp;
}

}  // namespace

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
  if (request && !opts_.ussdLateError.empty()) {  // the network refuses what the modem accepted
    later_.emplace_back(opts_.ussdDelayMs, "\r\n" + opts_.ussdLateError + "\r\n");
  } else if (request && !opts_.ussdNoReply) {
    std::string reply = NetworkAnswer(text) + Noise(NoiseUssd);
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
  } else if (opts_.ussdStatus == 4 || opts_.ussdStatus == 5) {
    return "\r\n+CUSD: " + std::to_string(opts_.ussdStatus) + "\r\n";  // not supported, time-out: no text
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
    case UssdForm::Hex: str = "\"" + HexEncode(text) + "\",0"; break;
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

// The centre took the message now; its report comes when the network has delivered it.
void Modem::RequestReport(const SentSms& sms, int reference) {
  const auto due = Clock::now() + std::chrono::milliseconds(opts_.answerDelayMs + opts_.reportDelayMs);
  reports_.push_back({due, reference, sms.destination, Now()});
}

// Where a report goes is up to +CNMI <ds> when it arrives (TS 27.005 3.4.1).
void Modem::ArriveReports() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = Clock::now();
  for (auto r = reports_.begin(); r != reports_.end();) {
    if (r->due > now) {
      ++r;
      continue;
    }
    const std::string pdu = BuildStatusReportPdu(r->reference, r->recipient, r->sent, Now(), opts_.reportStatus).hex;
    const std::string about = "status report on reference " + std::to_string(r->reference);
    r = reports_.erase(r);
    if (cnmi_[3] == 0) {
      Log(about + " dropped: +CNMI <ds> 0");
      continue;
    }
    if (cnmi_[3] == 1) {  // routed to the port, stored nowhere
      Queue(0, "\r\n+CDS: " + (textMode_ ? ReportFields(pdu) : std::to_string(TpduLength(pdu)) + "\r\n" + pdu) +
                   "\r\n");
      continue;
    }
    const std::string storage = stores_.count("SR") ? "SR" : receiveStorage_;
    auto& store = stores_[storage];
    if (static_cast<int>(store.size()) >= Capacity(storage)) {
      Log(about + " dropped: " + storage + " is full");
      continue;
    }
    Message m;
    m.index = opts_.indexBase;
    while (store.count(m.index))
      ++m.index;
    m.status = Statuses[0];
    m.sender = r->recipient;
    m.pdu = pdu;
    store[m.index] = m;
    Log(about + " stored in " + storage + " at " + std::to_string(m.index));
    if (cnmi_[0] != 0)  // <mode> 0 keeps indications in the modem
      Queue(0, "\r\n+CDSI: \"" + storage + "\"," + std::to_string(m.index) + "\r\n");
  }
}

void Modem::Arrive() {
  std::lock_guard<std::mutex> lock(mutex_);
  incoming_.push_back(NextArriving());
}

void Modem::Arrive(Message m) {
  std::lock_guard<std::mutex> lock(mutex_);
  incoming_.push_back(std::move(m));
}

int Modem::Arrived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return arrived_;
}

Message Modem::NextArriving() {
  if (arrivingUsed_ < opts_.arriving.size())
    return opts_.arriving[arrivingUsed_++];
  Message m;
  m.sender = "+491700000000";
  m.text = "New message " + std::to_string(arrived_ + static_cast<int>(incoming_.size()) + 1);
  m.gsm7 = true;
  return m;
}

// <mt> 2 routes a message without a class to the port, 0, 1 and 3 store it (TS 27.005 3.4.1).
void Modem::ArriveMessages() {
  std::lock_guard<std::mutex> lock(mutex_);
  while (!incoming_.empty()) {
    Message m = incoming_.front();
    m.status = Statuses[0];
    if (m.date.empty())
      m.date = Now();
    const Pdu pdu = m.pdu.empty() ? BuildDeliverPdu(m.sender, m.date, m.text, m.gsm7, m.header) : Pdu{m.pdu, TpduLength(m.pdu)};
    DeliverInfo info;
    DecodeDeliverPdu(pdu.hex, &info);
    if (cnmi_[1] == 2) {
      std::string shown = "\r\n+CMT: ," + std::to_string(pdu.tpduLength) + "\r\n" + pdu.hex + "\r\n";
      if (textMode_)
        shown = "\r\n+CMT: \"" + (ucs2_ ? Utf8ToUcs2Hex(info.sender) : info.sender) + "\",,\"" + info.date + "\"\r\n" +
                TextModeText(m, &info) + "\r\n";
      Queue(0, shown);
      Log("message from " + info.sender + " written to the port: +CNMI <mt> 2");
    } else {
      auto& store = stores_[receiveStorage_];
      if (static_cast<int>(store.size()) >= Capacity(receiveStorage_)) {
        if (!heldBack_)
          Log("a message waits: " + receiveStorage_ + " is full");
        heldBack_ = true;
        return;
      }
      m.index = opts_.indexBase;
      while (store.count(m.index))
        ++m.index;
      store[m.index] = m;
      Log("message from " + info.sender + " stored in " + receiveStorage_ + " at " + std::to_string(m.index));
      if (cnmi_[1] != 0 && cnmi_[0] != 0)  // <mode> 0 keeps indications in the modem
        Queue(0, "\r\n+CMTI: \"" + receiveStorage_ + "\"," + std::to_string(m.index) + "\r\n");
    }
    heldBack_ = false;
    ++arrived_;
    incoming_.pop_front();
  }
}

}  // namespace sim
