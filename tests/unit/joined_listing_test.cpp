// Listings with the parts of long messages: with --join one line (or JSON object) per message,
// with -j a "part" member on every part. A modem with a store answers each line as it comes, so
// the order in which the parts are read is the tool's own.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../captured_pdus.h"
#include "fake_exchange.h"
#include "../fnv_id.h"
#include "modem/messages.h"
#include "sim_pdu.h"

namespace {

using namespace captured;

// One stored message: its index, whether it is unread, and its SMS-DELIVER (hex, SMSC part first);
// a read in text mode that fails (the modem answers "+CMS ERROR: 500") when it is listed only.
struct Stored { int index; bool unread; std::string pdu; bool listedOnly = false; };
using Storage = std::vector<Stored>;

const char Anna[] = "+491701234567";
const char Ben[] = "+4915112345678";
const char D1[] = "24/05/01,10:00:00+08";
const char D2[] = "24/05/02,11:00:00+08";
const char D3[] = "24/05/03,12:00:00+08";

std::string Deliver(const char* sender, const char* date, const std::string& text, const std::string& header,
                    bool gsm7 = true) {
  return sim::BuildDeliverPdu(sender, date, text, gsm7, header).hex;
}
std::string Concat(int reference, int sequence, int total, bool wide = false) {
  return sim::ConcatenationHeader(reference, wide, total, sequence);
}
// 8-bit data (DCS 04) after a header, from Carl on D1: the modem shows it as hex in text mode.
const char Carl[] = "+49170123456";
const char EightBit[] = "00440B919471103254F6000442501001000080";  // then TP-UDL and the user data

// What the modem answers: the PDU listing, each index in text mode (UCS2 charset; a header shown
// as the user data in hex, as most modems do), OK to everything else.
std::string Answer(const Storage& storage, const std::string& line) {
  if (line == "AT+CMGL=4\r") {
    std::string answer = "\r\n";
    for (const Stored& m : storage)
      answer += "+CMGL: " + std::to_string(m.index) + "," + (m.unread ? "0" : "1") + ",," +
                std::to_string(sim::TpduLength(m.pdu)) + "\r\n" + m.pdu + "\r\n";
    return answer + "\r\nOK\r\n";
  }
  if (line.compare(0, 8, "AT+CMGR=") == 0) {
    const Stored* m = nullptr;  // of an index listed twice, the last entry
    for (const Stored& entry : storage)
      if (std::to_string(entry.index) + "\r" == line.substr(8)) m = &entry;
    sim::DeliverInfo info;
    if (!m || !sim::DecodeDeliverPdu(m->pdu, &info)) return "\r\n+CMS ERROR: 321\r\n";
    if (m->listedOnly) return "\r\n+CMS ERROR: 500\r\n";
    const bool asHex = info.alphabet == 1 || !info.header.empty();
    return "\r\n+CMGR: \"" + std::string(m->unread ? "REC UNREAD" : "REC READ") + "\",\"" +
           sim::Utf8ToUcs2Hex(info.sender) + "\",,\"" + info.date + "\"\r\n" +
           (asHex ? sim::HexEncode(info.ud) : sim::Utf8ToUcs2Hex(info.text)) + "\r\n\r\nOK\r\n";
  }
  return "\r\nOK\r\n";
}

// One message as a listing shows it; tail is what its JSON object has after the text; group: the
// indexes of a joined message's stored parts in sequence-number order, which its id covers.
struct Shown { int index; bool unread; const char* sender; const char* date; std::string text, tail = "";
               std::vector<int> group = {}; };
using Shows = std::vector<Shown>;
std::string Part(int reference, int number, int total) {
  return ",\"part\":{\"reference\":" + std::to_string(reference) + ",\"number\":" + std::to_string(number) +
         ",\"total\":" + std::to_string(total) + "}";
}
std::string Parts(const std::string& indexes, bool complete) {
  return ",\"parts\":[" + indexes + "],\"complete\":" + (complete ? "true" : "false");
}
std::string Tsv(const Shows& shown) {
  std::string tsv = "num\ttype\tsender\tdate\tmsg\n";
  for (const Shown& m : shown)
    tsv += std::to_string(m.index) + (m.unread ? "\t1\t" : "\t0\t") + m.sender + "\t" + m.date + "\t" + m.text + "\n";
  return tsv;
}
// The "id" member of m: its PDU's id, its parts' for a joined message, none for an index listed twice.
std::string IdMember(const Shown& m, const Storage& storage) {
  std::vector<std::string> pdus;
  for (int index : m.group.empty() ? std::vector<int>{m.index} : m.group)
    for (const Stored& stored : storage)
      if (stored.index == index) pdus.push_back(stored.pdu);
  if (m.group.empty()) return pdus.size() == 1 ? fnv::Member(fnv::OfPdu(pdus[0])) : "";
  return fnv::Member(fnv::OfParts(pdus));
}
std::string Json(const Shows& shown, const Storage& storage) {
  std::string document = "{\"storage\":\"SM\",\"messages\":[";
  for (const Shown& m : shown)
    document += std::string(&m == &shown[0] ? "" : ",") + "{\"index\":" + std::to_string(m.index) + "," +
                IdMember(m, storage) + "\"unread\":" + (m.unread ? "true" : "false") + ",\"sender\":\"" + m.sender +
                "\",\"date\":\"" + m.date + "\",\"text\":\"" + m.text + "\"" + m.tail + "}";
  return document + "]}\n";
}

const char Us[] = "+16175046925";  // the sender of the captured parts
const char Us1[] = "12/04/25,19:56:50-16";  // the date of part 1
const char Us2[] = "12/04/25,19:56:51-16";  // the date of part 2
const std::string Whole = std::string(Part1Text) + Part2Text;

// joined: the listing with --join, as TSV and (with -j) as JSON; separate: with -j alone, when it
// differs from joined.
struct JoinCase { const char* source; Storage storage; Shows joined, separate = {}; };
const JoinCase JoinCases[] = {
    {"captured parts out of order, between them the same reference from another sender (another message); "
     "unread from either, the date of part 1",
     {{1, true, Part2Of2}, {2, false, Deliver(Ben, D3, "Ben's ", Concat(0x4C, 1, 2))}, {3, false, Part1Of2}},
     {{1, true, Us, Us1, Whole, Parts("3,1", true), {3, 1}}, {2, false, Ben, D3, "Ben's [...]", Parts("2", false), {2}}},
     {{1, true, Us, Us2, Part2Text, Part(0x4C, 2, 2)}, {2, false, Ben, D3, "Ben's ", Part(0x4C, 1, 2)},
      {3, false, Us, Us1, Part1Text, Part(0x4C, 1, 2)}}},
    {"16-bit reference, parts 1 (its read fails) and 3 of 4 missing: at index 1 with the date of part 2; "
     "the same reference with another total is another message",
     {{1, false, Deliver(Anna, D1, "lost ", Concat(0x1234, 1, 4, true)), true},
      {2, false, Deliver(Anna, D3, "\\ end", Concat(0x1234, 4, 4, true))},
      {3, false, Deliver(Anna, D1, "three", Concat(0x1234, 1, 3, true))},
      {5, true, Deliver(Anna, D2, "a\tb {€} ", Concat(0x1234, 2, 4, true), false)}},
     {{1, true, Anna, D2, "[...]a\\tb {€} [...]\\\\ end", Parts("5,2", false), {1, 5, 2}},
      {3, false, Anna, D1, "three[...][...]", Parts("3", false), {3}}},
     {{2, false, Anna, D3, "\\\\ end", Part(0x1234, 4, 4)}, {3, false, Anna, D1, "three", Part(0x1234, 1, 3)},
      {5, true, Anna, D2, "a\\tb {€} ", Part(0x1234, 2, 4)}}},
    {"a reference used again: sequence 1 twice, each part alone",
     {{1, false, Deliver(Anna, D1, "old one", Concat(9, 1, 2))},
      {2, true, Deliver(Anna, D2, "new one", Concat(9, 1, 2))},
      {3, true, Deliver(Anna, D3, "new two", Concat(9, 2, 2))}},
     {{1, false, Anna, D1, "old one", Part(9, 1, 2)}, {2, true, Anna, D2, "new one", Part(9, 1, 2)},
      {3, true, Anna, D3, "new two", Part(9, 2, 2)}}},
    {"each alone: a malformed concatenation element or none, index 0 listed twice, a part first (which entry "
     "a read shows is unknown: no part), and 8-bit data parts (shown as given)",
     {{0, false, Deliver(Anna, D1, "first ", Concat(12, 1, 2))}, {0, false, Deliver(Anna, D1, "other", "")},
      {1, false, Deliver(Anna, D1, "seq 0", Concat(5, 0, 2))},
      {2, false, Deliver(Anna, D1, "seq 3 of 2", Concat(5, 3, 2))},
      {3, false, Deliver(Anna, D1, "total 1", Concat(5, 1, 1))},
      {4, false, Deliver(Anna, D1, "IE 00 of 4", std::string("\x06\x00\x04\x05\x02\x01\x00", 7))},
      {5, false, Deliver(Anna, D1, "past the header", std::string("\x04\x00\x03\x05\x02", 5))},
      {6, false, Deliver(Anna, D1, "port numbers", std::string("\x04\x04\x02\xF5\xF5", 5))},
      {7, false, EightBit + std::string("08050003070201ABCD")}, {8, false, EightBit + std::string("07050003070202EF")}},
     {{0, false, Anna, D1, "other"}, {1, false, Anna, D1, "seq 0"}, {2, false, Anna, D1, "seq 3 of 2"},
      {3, false, Anna, D1, "total 1"}, {4, false, Anna, D1, "IE 00 of 4"}, {5, false, Anna, D1, "past the header"},
      {6, false, Anna, D1, "port numbers"}, {7, false, Carl, D1, "050003070201ABCD", Part(7, 1, 2)},
      {8, false, Carl, D1, "050003070202EF", Part(7, 2, 2)}}},
};

struct Listed { int result; std::string out; std::vector<std::string> reads; };  // reads: AT+CMGR lines, sorted
Listed List(const Storage& storage, bool json, bool join, bool quick = false) {
  AnswerEachLine([&storage](const std::string& line) { return Answer(storage, line); });
  Listed run;
  char* data = nullptr;
  size_t size = 0;
  fflush(stdout);
  FILE* const saved = stdout;
  stdout = open_memstream(&data, &size);
  ListingStyle style;
  style.json = json;
  style.join = join;
  style.quick = quick;
  run.result = ListMessages(FakePort, 0, style);
  fclose(stdout);
  stdout = saved;
  run.out.assign(data, size);
  free(data);
  for (const std::string& line : LinesSent())
    if (line.compare(0, 8, "AT+CMGR=") == 0) run.reads.push_back(line);
  std::sort(run.reads.begin(), run.reads.end());
  return run;
}

TEST(JoinedListing, OneMessagePerConcatenatedMessage) {
  for (const JoinCase& c : JoinCases) {
    SCOPED_TRACE(c.source);
    const Listed plain = List(c.storage, false, false);
    const Listed tsv = List(c.storage, false, true);
    const Listed json = List(c.storage, true, false);
    const Listed joined = List(c.storage, true, true);
    EXPECT_EQ(Tsv(c.joined), tsv.out);
    EXPECT_EQ(Json(c.separate.empty() ? c.joined : c.separate, c.storage), json.out);
    EXPECT_EQ(Json(c.joined, c.storage), joined.out);
    const int highest = c.storage.back().index;  // each row's indexes ascend
    for (const Listed* run : {&plain, &tsv, &json, &joined}) EXPECT_EQ(highest, run->result);
    for (const Listed* run : {&tsv, &joined}) EXPECT_EQ(plain.reads, run->reads);  // each index read once
    // With -q the same from the listing alone, where no read fails: only an index listed twice is read.
    bool readFails = false;
    for (const Stored& m : c.storage) readFails = readFails || m.listedOnly;
    for (const Listed* run : {&plain, &tsv, &json, &joined}) {
      const bool join = run == &tsv || run == &joined;
      const Listed quick = List(c.storage, run == &json || run == &joined, join, true);
      if (!readFails) {
        EXPECT_EQ(run->out, quick.out);
      }
      EXPECT_EQ(highest, quick.result);
      for (const std::string& read : quick.reads) EXPECT_EQ("AT+CMGR=0\r", read);
    }
  }
}

}  // namespace
