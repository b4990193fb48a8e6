// Listings with the parts of long messages: with --join one line (or JSON object) per message,
// with -j a "part" member on every part. A modem with a store answers each line as it comes, so
// the order in which the parts are read is the tool's own.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../captured_pdus.h"
#include "fake_exchange.h"
#include "modem/failure.h"
#include "modem/messages.h"
#include "sim_pdu.h"

namespace {

using namespace captured;

// One stored message: its index, whether it is unread, and its SMS-DELIVER (hex, SMSC part first);
// a read in text mode that fails (the modem answers "+CMS ERROR: 500") when it is listed only.
struct Stored {
  int index;
  bool unread;
  std::string pdu;
  bool listedOnly = false;
};
using Storage = std::vector<Stored>;

const char Anna[] = "+491701234567";
const char Ben[] = "+4915112345678";
const char Dhl[] = "DHL";  // alphanumeric (0xD0)
const char Carl[] = "+49170123456";  // the sender of EightBit()
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
std::string EightBit(const std::string& userDataHex) {
  return "00440B919471103254F6000442501001000080" + sim::HexEncode(std::string(1, (char)(userDataHex.size() / 2))) +
         userDataHex;
}

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
    for (const Stored& m : storage) {
      sim::DeliverInfo info;
      if (std::to_string(m.index) + "\r" != line.substr(8) || !sim::DecodeDeliverPdu(m.pdu, &info)) continue;
      if (m.listedOnly) return "\r\n+CMS ERROR: 500\r\n";
      const bool asHex = info.alphabet == 1 || !info.header.empty();
      return "\r\n+CMGR: \"" + std::string(m.unread ? "REC UNREAD" : "REC READ") + "\",\"" +
             sim::Utf8ToUcs2Hex(info.sender) + "\",,\"" + info.date + "\"\r\n" +
             (asHex ? sim::HexEncode(info.ud) : sim::Utf8ToUcs2Hex(info.text)) + "\r\n\r\nOK\r\n";
    }
    return "\r\n+CMS ERROR: 321\r\n";
  }
  return "\r\nOK\r\n";
}

std::string Line(int index, bool unread, const char* sender, const char* date, const std::string& text) {
  return std::to_string(index) + "\t" + (unread ? "1" : "0") + "\t" + sender + "\t" + date + "\t" + text + "\n";
}
// One JSON object; tail is what follows the text ("" for a message that is no part).
std::string Object(int index, bool unread, const char* sender, const char* date, const std::string& text,
                   const std::string& tail = "") {
  return "{\"index\":" + std::to_string(index) + ",\"unread\":" + (unread ? "true" : "false") + ",\"sender\":\"" +
         sender + "\",\"date\":\"" + date + "\",\"text\":\"" + text + "\"" + tail + "}";
}
std::string Part(int reference, int number, int total) {
  return ",\"part\":{\"reference\":" + std::to_string(reference) + ",\"number\":" + std::to_string(number) +
         ",\"total\":" + std::to_string(total) + "}";
}
std::string Parts(const std::string& indexes, bool complete) {
  return ",\"parts\":[" + indexes + "],\"complete\":" + (complete ? "true" : "false");
}
std::string Document(const std::vector<std::string>& objects) {
  std::string document = "{\"storage\":\"SM\",\"messages\":[";
  for (size_t i = 0; i < objects.size(); ++i) document += (i ? "," : "") + objects[i];
  return document + "]}\n";
}
const std::string Header = "num\ttype\tsender\tdate\tmsg\n";

const std::string Privet = "Привет, ";
const std::string Mir = "мир 😀";

// tsv: with --join; json: with -j alone; joined: with --join -j.
struct JoinCase { const char* source; Storage storage; std::string tsv, json, joined; };
const JoinCase JoinCases[] = {
    {"two parts out of order, another message between them",
     {{1, true, Deliver(Anna, D2, "world!", Concat(7, 2, 2))},
      {2, false, Deliver(Ben, D3, "alone", "")},
      {3, false, Deliver(Anna, D1, "Hello ", Concat(7, 1, 2))}},
     Header + Line(1, true, Anna, D1, "Hello world!") + Line(2, false, Ben, D3, "alone"),
     Document({Object(1, true, Anna, D2, "world!", Part(7, 2, 2)), Object(2, false, Ben, D3, "alone"),
               Object(3, false, Anna, D1, "Hello ", Part(7, 1, 2))}),
     Document({Object(1, true, Anna, D1, "Hello world!", Parts("3,1", true)), Object(2, false, Ben, D3, "alone")})},
    {"UCS-2 with a 16-bit reference, part 2 of 3 missing",
     {{4, false, Deliver(Anna, D1, Privet, Concat(0x1234, 1, 3, true), false)},
      {6, false, Deliver(Anna, D3, Mir, Concat(0x1234, 3, 3, true), false)}},
     Header + Line(4, false, Anna, D1, Privet + "[...]" + Mir),
     Document({Object(4, false, Anna, D1, Privet, Part(0x1234, 1, 3)), Object(6, false, Anna, D3, Mir, Part(0x1234, 3, 3))}),
     Document({Object(4, false, Anna, D1, Privet + "[...]" + Mir, Parts("4,6", false))})},
    {"the lowest sequence number present gives the date; escapes in the text",
     {{2, false, Deliver(Anna, D3, "\\ end", Concat(200, 3, 3))},
      {5, true, Deliver(Anna, D2, "a\tb {€} ", Concat(200, 2, 3), false)}},
     Header + Line(2, true, Anna, D2, "[...]a\\tb {€} \\\\ end"),
     Document({Object(2, false, Anna, D3, "\\\\ end", Part(200, 3, 3)), Object(5, true, Anna, D2, "a\\tb {€} ", Part(200, 2, 3))}),
     Document({Object(2, true, Anna, D2, "[...]a\\tb {€} \\\\ end", Parts("5,2", false))})},
    {"the read of the lowest index fails: its part counts as missing, the message stays at that index",
     {{1, false, Deliver(Anna, D1, "lost ", Concat(11, 1, 2)), true},
      {2, false, Deliver(Ben, D3, "alone", "")},
      {4, true, Deliver(Anna, D2, "found", Concat(11, 2, 2))}},
     Header + Line(1, true, Anna, D2, "[...]found") + Line(2, false, Ben, D3, "alone"),
     Document({Object(2, false, Ben, D3, "alone"), Object(4, true, Anna, D2, "found", Part(11, 2, 2))}),
     Document({Object(1, true, Anna, D2, "[...]found", Parts("4", false)), Object(2, false, Ben, D3, "alone")})},
    {"index 0 listed twice (which entry a read shows is unknown): no part, and its partner alone",
     {{0, false, Deliver(Anna, D1, "other", "")},
      {0, false, Deliver(Anna, D1, "first ", Concat(12, 1, 2))},
      {1, false, Deliver(Anna, D2, "second", Concat(12, 2, 2))}},
     Header + Line(0, false, Anna, D1, "other") + Line(1, false, Anna, D2, "[...]second"),
     Document({Object(0, false, Anna, D1, "other"), Object(1, false, Anna, D2, "second", Part(12, 2, 2))}),
     Document({Object(0, false, Anna, D1, "other"), Object(1, false, Anna, D2, "[...]second", Parts("1", false))})},
    {"a reference used again: sequence 1 twice, each part alone",
     {{1, false, Deliver(Anna, D1, "old one", Concat(9, 1, 2))},
      {2, true, Deliver(Anna, D2, "new one", Concat(9, 1, 2))},
      {3, true, Deliver(Anna, D3, "new two", Concat(9, 2, 2))}},
     Header + Line(1, false, Anna, D1, "old one") + Line(2, true, Anna, D2, "new one") + Line(3, true, Anna, D3, "new two"),
     Document({Object(1, false, Anna, D1, "old one", Part(9, 1, 2)), Object(2, true, Anna, D2, "new one", Part(9, 1, 2)),
               Object(3, true, Anna, D3, "new two", Part(9, 2, 2))}),
     Document({Object(1, false, Anna, D1, "old one", Part(9, 1, 2)), Object(2, true, Anna, D2, "new one", Part(9, 1, 2)),
               Object(3, true, Anna, D3, "new two", Part(9, 2, 2))})},
    {"the same reference from another sender, or with another total, is another message",
     {{1, false, Deliver(Anna, D1, "a1 ", Concat(3, 1, 2))},
      {2, false, Deliver(Dhl, D1, "d1 ", Concat(3, 1, 2))},
      {3, false, Deliver(Anna, D1, "x1 ", Concat(3, 1, 3))},
      {4, false, Deliver(Anna, D2, "a2", Concat(3, 2, 2))},
      {5, false, Deliver(Dhl, D2, "d2", Concat(3, 2, 2))}},
     Header + Line(1, false, Anna, D1, "a1 a2") + Line(2, false, Dhl, D1, "d1 d2") +
         Line(3, false, Anna, D1, "x1 [...][...]"),
     Document({Object(1, false, Anna, D1, "a1 ", Part(3, 1, 2)), Object(2, false, Dhl, D1, "d1 ", Part(3, 1, 2)),
               Object(3, false, Anna, D1, "x1 ", Part(3, 1, 3)), Object(4, false, Anna, D2, "a2", Part(3, 2, 2)),
               Object(5, false, Dhl, D2, "d2", Part(3, 2, 2))}),
     Document({Object(1, false, Anna, D1, "a1 a2", Parts("1,4", true)), Object(2, false, Dhl, D1, "d1 d2", Parts("2,5", true)),
               Object(3, false, Anna, D1, "x1 [...][...]", Parts("3", false))})},
    {"malformed concatenation, or none in the header: each alone, no part",
     {{1, false, Deliver(Anna, D1, "seq 0", Concat(5, 0, 2))},
      {2, false, Deliver(Anna, D1, "seq 3 of 2", Concat(5, 3, 2))},
      {3, false, Deliver(Anna, D1, "total 1", Concat(5, 1, 1))},
      {4, false, Deliver(Anna, D1, "IE 00 of 4", std::string("\x06\x00\x04\x05\x02\x01\x00", 7))},
      {5, false, Deliver(Anna, D1, "past the header", std::string("\x04\x00\x03\x05\x02", 5))},
      {6, false, Deliver(Anna, D1, "port numbers", std::string("\x04\x04\x02\xF5\xF5", 5))}},
     Header + Line(1, false, Anna, D1, "seq 0") + Line(2, false, Anna, D1, "seq 3 of 2") +
         Line(3, false, Anna, D1, "total 1") + Line(4, false, Anna, D1, "IE 00 of 4") +
         Line(5, false, Anna, D1, "past the header") + Line(6, false, Anna, D1, "port numbers"),
     Document({Object(1, false, Anna, D1, "seq 0"), Object(2, false, Anna, D1, "seq 3 of 2"),
               Object(3, false, Anna, D1, "total 1"), Object(4, false, Anna, D1, "IE 00 of 4"),
               Object(5, false, Anna, D1, "past the header"), Object(6, false, Anna, D1, "port numbers")}),
     Document({Object(1, false, Anna, D1, "seq 0"), Object(2, false, Anna, D1, "seq 3 of 2"),
               Object(3, false, Anna, D1, "total 1"), Object(4, false, Anna, D1, "IE 00 of 4"),
               Object(5, false, Anna, D1, "past the header"), Object(6, false, Anna, D1, "port numbers")})},
    {"captured from real networks: a whole message, and part 2 of another alone",
     {{1, false, Part2Of2}, {2, true, Part1Of2}, {3, false, LowerCasePart}},
     Header + Line(1, true, "+16175046925", "12/04/25,19:56:50-16", std::string(Part1Text) + Part2Text) +
         Line(3, false, "+15558675309", "25/04/17,13:40:37-28", std::string("[...]") + LowerCaseText),
     Document({Object(1, false, "+16175046925", "12/04/25,19:56:51-16", Part2Text, Part(0x4C, 2, 2)),
               Object(2, true, "+16175046925", "12/04/25,19:56:50-16", Part1Text, Part(0x4C, 1, 2)),
               Object(3, false, "+15558675309", "25/04/17,13:40:37-28", LowerCaseText, Part(0xC4, 2, 2))}),
     Document({Object(1, true, "+16175046925", "12/04/25,19:56:50-16", std::string(Part1Text) + Part2Text,
                      Parts("2,1", true)),
               Object(3, false, "+15558675309", "25/04/17,13:40:37-28", std::string("[...]") + LowerCaseText,
                      Parts("3", false))})},
    {"8-bit data parts: shown as given, never joined",
     {{1, false, EightBit("050003070201ABCD")}, {2, false, EightBit("050003070202EF")}},
     Header + Line(1, false, Carl, D1, "050003070201ABCD") + Line(2, false, Carl, D1, "050003070202EF"),
     Document({Object(1, false, Carl, D1, "050003070201ABCD", Part(7, 1, 2)),
               Object(2, false, Carl, D1, "050003070202EF", Part(7, 2, 2))}),
     Document({Object(1, false, Carl, D1, "050003070201ABCD", Part(7, 1, 2)),
               Object(2, false, Carl, D1, "050003070202EF", Part(7, 2, 2))})},
};

struct Listing {
  int result;
  std::string out;
  std::vector<std::string> reads;  // the AT+CMGR lines, in the order written
};
Listing List(const Storage& storage, bool json, bool join) {
  AnswerEachLine([&storage](const std::string& line) { return Answer(storage, line); });
  Listing run;
  char* data = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&data, &size);
  fflush(stdout);
  FILE* saved = stdout;
  stdout = out;
  run.result = ListMessages(FakePort, 0, json, join);
  stdout = saved;
  fclose(out);
  run.out.assign(data, size);
  free(data);
  for (const std::string& line : LinesSent())
    if (line.compare(0, 8, "AT+CMGR=") == 0) run.reads.push_back(line);
  return run;
}

TEST(JoinedListing, OneMessagePerConcatenatedMessage) {
  for (const JoinCase& c : JoinCases) {
    SCOPED_TRACE(c.source);
    const Listing plain = List(c.storage, false, false);
    const Listing tsv = List(c.storage, false, true);
    const Listing json = List(c.storage, true, false);
    const Listing joined = List(c.storage, true, true);
    EXPECT_EQ(c.tsv, tsv.out);
    EXPECT_EQ(c.json, json.out);
    EXPECT_EQ(c.joined, joined.out);
    const int highest = c.storage.back().index;  // each row's indexes ascend
    for (const Listing* run : {&plain, &tsv, &json, &joined}) EXPECT_EQ(highest, run->result);
    // Every index read exactly once, joined or not.
    for (const Listing* run : {&tsv, &joined}) {
      std::vector<std::string> reads = run->reads;
      std::sort(reads.begin(), reads.end());
      std::vector<std::string> wanted = plain.reads;
      std::sort(wanted.begin(), wanted.end());
      EXPECT_EQ(wanted, reads);
    }
  }
}

}  // namespace
