// sim_store.cpp: the simulated modem's message store: store files, messages added by tests, full storages.
#include "modem_sim.h"

#include <cstdio>
#include <fstream>

#include "sim_common.h"
#include "sim_pdu.h"

namespace sim {
namespace {

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

// A status report given as its PDU: its recipient and TP-SCTS stand as sender and date.
bool ReportMessage(const std::string& pdu, Message* m) {
  StatusReportInfo info;
  if (!DecodeStatusReportPdu(pdu, &info))
    return false;
  m->sender = info.recipient;
  m->date = info.sent;
  m->pdu = pdu;
  return true;
}

// A message at index with status, as decode reads pdu, added to storage; false when it does not decode.
bool AddDecoded(Modem* modem, const std::string& storage, int index, const std::string& status,
                const std::string& pdu, bool (*decode)(const std::string& pdu, Message* m)) {
  Message m;
  m.index = index;
  m.status = status;
  if (!decode(pdu, &m))
    return false;
  modem->AddMessage(storage, m);
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
    } else if (kind == "PDU" || kind == "REPORT") {
      const bool report = kind == "REPORT";
      field = SplitFields(line, 5);
      ok = field.size() == 5 && place(field, 1, &m) && StatusCode(m.status) < 2 &&
           (report ? ReportMessage(field[4], &m) : PduMessage(field[4], &m));
      if (ok)
        loaded.emplace_back(field[1], m);
      expected = kind + "<TAB>STORAGE<TAB>INDEX<TAB>STATUS<TAB>HEX, " +
                 (report ? "an SMS-STATUS-REPORT" : "a received message's SMS-DELIVER");
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
  return AddDecoded(this, storage, index, status, pdu, PduMessage);
}

bool Modem::AddStatusReport(const std::string& storage, int index, const std::string& status,
                            const std::string& pdu) {
  return AddDecoded(this, storage, index, status, pdu, ReportMessage);
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

void Modem::RemoveMessage(const std::string& storage, int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto store = stores_.find(storage);
  if (store != stores_.end())
    store->second.erase(index);
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

}  // namespace sim
