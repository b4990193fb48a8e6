// The operations against the scripted fake exchange: the exact lines written, the number of
// answers waited for, and what reaches standard output and standard error.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "../captured_pdus.h"
#include "fake_exchange.h"
#include "../fnv_id.h"
#include "modem/commands.h"
#include "listing/output_check.h"
#include "modem/failure.h"
#include "modem/messages.h"
#include "modem/prepare.h"
#include "modem/send.h"
#include "modem/step.h"
#include "modem/ussd.h"
#include "serial/exchange.h"
#include "sim_pdu.h"

namespace {

using Lines = std::vector<std::string>;

const std::string Ok = "\r\nOK\r\n";
const std::string Error = "\r\nERROR\r\n";
const std::string CmsError = "\r\n+CMS ERROR: 321\r\n";
const std::string Prompt = "\r\n> ";

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Lines Repeat(const std::string& line, int times) { return Lines(times, line); }

const Lines PrepareSim = {"AT\r", "ATE0\r", "AT+CSCS=\"UCS2\"\r", "AT+CPMS=\"SM\",\"SM\",\"SM\"\r"};
const Lines PreparePhone = {"AT\r", "ATE0\r", "AT+CSCS=\"UCS2\"\r", "AT+CPMS=\"ME\",\"ME\",\"ME\"\r"};
const Lines PrepareGsm = {"AT\r", "ATE0\r", "AT+CSCS=\"GSM\"\r"};
const Lines PrepareReports = {"AT\r", "ATE0\r", "AT+CSCS=\"UCS2\"\r", "AT+CPMS=?\r", "AT+CPMS=\"SR\"\r"};
const std::string ReportStorages = "\r\n+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n";
// A probe that got nothing back, and ESC before each probe after it.
const Lines SilentProbes = Lines{"AT\r"} + Repeat("\x1b" "AT\r", 4) + Lines{"ATE0\r"};
const Lines Listed = {"AT+CMGF=0\r", "AT+CMGL=4\r"};

std::string Cmgl(const std::vector<int>& indexes) {
  std::string answer = "\r\n";
  for (int index : indexes)
    answer += "+CMGL: " + std::to_string(index) + ",1,,23\r\n07919471...\r\n";
  return answer + "\r\nOK\r\n";
}
std::string Cmgr(const char* textHex) {
  return "\r\n+CMGR: \"REC READ\",\"002B0031\",,\"24/05/01,10:20:30+08\"\r\n" + std::string(textHex) + "\r\n\r\nOK\r\n";
}
// "AT+CMGR=1\r", "AT+CMGR=2\r", ... for command "AT+CMGR=".
Lines ForIndexes(const std::string& command, int from, int to) {
  Lines lines;
  for (int i = from; i <= to; ++i) lines.push_back(command + std::to_string(i) + "\r");
  return lines;
}
Lines Cmgd(int from, int to) { return ForIndexes("AT+CMGD=", from, to); }

// Runs f with standard output and standard error sent to temporary files.
struct Captured {
  int result = 0;
  std::string out, err;
};
std::string Slurp(FILE* file) {
  std::string text;
  rewind(file);
  for (int ch; (ch = fgetc(file)) != EOF;) text += (char)ch;
  fclose(file);
  return text;
}
// outputFull: standard output is /dev/full, where every write fails.
Captured Capture(const std::function<int()>& f, bool outputFull = false) {
  fflush(stdout);
  fflush(stderr);
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  int savedOut = dup(1), savedErr = dup(2);
  const int full = outputFull ? open("/dev/full", O_WRONLY) : -1;
  dup2(outputFull ? full : fileno(out), 1);
  dup2(fileno(err), 2);
  ForgetOutputError(stdout);
  Captured run;
  run.result = f();
  fflush(stdout);
  fflush(stderr);
  ForgetOutputError(stdout);
  if (full >= 0) close(full);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  run.out = Slurp(out);
  run.err = Slurp(err);
  return run;
}

struct PrepareCase { const char* source; int charset, storage; Lines answers; int want; Lines sent; };
const PrepareCase PrepareCases[] = {
    {"OK on the third probe", 1, 0, {"", Error, Ok, Ok, Ok, Ok}, 0, Lines{"AT\r", "\x1b" "AT\r"} + PrepareSim},
    {"silent modem", 1, 0, {}, -1, SilentProbes},
    {"echo off refused", 1, 0, {Ok, Error}, -1, {"AT\r", "ATE0\r"}},
    {"charset refused", 1, 0, {Ok, Ok, Error}, -1, {"AT\r", "ATE0\r", "AT+CSCS=\"UCS2\"\r"}},
    {"storage left unchanged", 0, -1, {Ok, Ok, Ok}, 0, PrepareGsm},
    {"any negative storage", 1, -2, {Ok, Ok, Ok}, 0, {"AT\r", "ATE0\r", "AT+CSCS=\"UCS2\"\r"}},
    {"phone storage", 1, 1, {Ok, Ok, Ok, Ok}, 0, PreparePhone},
    {"storage refused", 1, 1, {Ok, Ok, Ok, "\r\n+CMS ERROR: 302\r\n"}, -1, PreparePhone},
    {"echo still on during the probe", 1, 0, {"AT\r\r\nOK\r\n", "ATE0\r\r\nOK\r\n", Ok, Ok}, 0, PrepareSim},
    {"status-report storage", 1, ReportStorage, {Ok, Ok, Ok, ReportStorages, Ok}, 0, PrepareReports},
    {"no status-report storage", 1, ReportStorage, {Ok, Ok, Ok, "\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"SR\")\r\n" + Ok},
     -1, Lines(PrepareReports.begin(), PrepareReports.end() - 1)},
};

TEST(PrepareModem, CommandOrder) {
  for (const PrepareCase& c : PrepareCases) {
    SCOPED_TRACE(c.source);
    PlayAnswers(c.answers);
    EXPECT_EQ(c.want, PrepareModem(FakePort, c.charset, c.storage));
    EXPECT_EQ(c.sent, LinesSent());
    EXPECT_EQ((int)c.sent.size(), ReadsDone());  // one collection per line
  }
}

// The highest index of a listing of storage, and whether index 0 holds a message.
int Highest(int storage, bool* zeroInUse = nullptr) {
  static Listing listing;
  const int highest = LastMessageIndex(FakePort, storage, &listing);
  if (zeroInUse) *zeroInUse = listing.zeroInUse;
  return highest;
}

TEST(LastMessageIndex, ListsInPduMode) {
  PlayAnswers({Ok, Ok, Ok, Ok, Ok, Cmgl({1, 4})});
  bool zeroInUse = true;
  EXPECT_EQ(4, Highest(0, &zeroInUse));
  EXPECT_FALSE(zeroInUse);
  EXPECT_EQ(PrepareSim + Listed, LinesSent());

  PlayAnswers({Ok, Ok, Ok, Ok, Ok, Cmgl({0, 2})});
  EXPECT_EQ(2, Highest(1, &zeroInUse));
  EXPECT_TRUE(zeroInUse);
  EXPECT_EQ(PreparePhone + Listed, LinesSent());
}

TEST(LastMessageIndex, PduModeRefusedListsNothing) {
  PlayAnswers({Ok, Ok, Ok, Ok, Error, Cmgl({3})});
  EXPECT_EQ(-1, Highest(0));
  EXPECT_EQ(PrepareSim + Lines{"AT+CMGF=0\r"}, LinesSent());
}

TEST(LastMessageIndex, GoesOnWhenPreparationFails) {
  PlayAnswers({Ok, Ok, Error, Ok, Cmgl({3})});
  EXPECT_EQ(3, Highest(0));
  EXPECT_EQ((Lines({"AT\r", "ATE0\r", "AT+CSCS=\"UCS2\"\r"}) + Listed), LinesSent());
}

const std::string Header = "num\ttype\tsender\tdate\tmsg\n";
const Lines Prepared = {Ok, Ok, Ok, Ok, Ok};  // probe, echo, charset, storage, PDU mode

// Full-length entries (about 350 bytes each) from first to last, after a line of pad bytes, so
// that the buffer's end falls elsewhere in them.
std::string LongCmgl(int first, int last, size_t pad = 0, const std::string& end = "\r\nOK\r\n") {
  std::string answer = "\r\n" + std::string(pad, 'x') + "\r\n";
  for (int i = first; i <= last; ++i)
    answer += "+CMGL: " + std::to_string(i) + ",1,,159\r\n0791" + std::string(326, 'A') + "\r\n";
  return answer + end;
}
std::string LongCmglOfSize(int last, size_t size) { return LongCmgl(1, last, size - LongCmgl(1, last).size()); }

const std::string TooLong = "atsms: the message listing went past 256 KiB; it is taken as broken\n";
struct LongCase { const char* source; std::string listing; int want; std::string err; };
const LongCase LongCases[] = {
    {"a line longer than the buffer",
     "\r\n+CMGL: 1,1,,159\r\n" + std::string(5000, 'A') + "\r\n+CMGL: 2,1,,159\r\nAB\r\n\r\nOK\r\n", 2, ""},
    {"exactly one full buffer, then silence", LongCmglOfSize(3, ResponseBufferSize), 3, ""},
    {"exactly the bound", LongCmglOfSize(255, ListingLimit), 255, ""},
    {"one byte past the bound", LongCmglOfSize(255, ListingLimit + 1), -1, TooLong},
};

TEST(LastMessageIndex, ReadsAListingLongerThanTheBufferToItsEnd) {
  for (const LongCase& c : LongCases) {
    SCOPED_TRACE(c.source);
    PlayAnswers(Prepared + Lines{c.listing});
    Captured run = Capture([] { return Highest(0); });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(c.err, run.err);
    EXPECT_EQ(PrepareSim + Listed, LinesSent());
  }
  for (size_t pad = 0; pad < 400; ++pad) {  // the buffer's end at every place within an entry
    PlayAnswers(Prepared + Lines{LongCmgl(1, 30, pad)});
    EXPECT_EQ(30, Highest(0)) << "pad " << pad;
    PlayAnswers(Prepared + Lines{LongCmgl(1, 12, pad, "+CMGL: 13OK\r\n")});
    EXPECT_EQ(-1, Highest(0)) << "pad " << pad;
  }
}

std::string Line(int index, const char* text) {
  return std::to_string(index) + "\t0\t+1\t24/05/01,10:20:30+08\t" + text + "\n";
}
Lines Cmgr(int from, int to) { return ForIndexes("AT+CMGR=", from, to); }

// id: its "id" member, or "" for a message whose listed PDU is no hex (these tests' "07919471...").
std::string Object(int index, const char* text, const std::string& id = "") {
  return "{\"index\":" + std::to_string(index) + "," + id +
         "\"unread\":false,\"sender\":\"+1\",\"date\":\"24/05/01,10:20:30+08\",\"text\":\"" + text + "\"}";
}
const std::string JsonOpen = "{\"storage\":\"SM\",\"messages\":[";
const std::string JsonClose = "]}\n";

// An entry as modems list it: index, <stat>, and an SMS-DELIVER from +1 with text; its id member.
std::string Entry(int index, int stat, const char* text) {
  const sim::Pdu pdu = sim::BuildDeliverPdu("+1", "24/05/01,10:20:30+08", text);
  return "+CMGL: " + std::to_string(index) + "," + std::to_string(stat) + ",," + std::to_string(pdu.tpduLength) +
         "\r\n" + pdu.hex + "\r\n";
}
std::string EntryId(const char* text) {
  return fnv::Member(fnv::OfPdu(sim::BuildDeliverPdu("+1", "24/05/01,10:20:30+08", text).hex));
}

// A status report (reference 17 to +491701234567, padded) as modems list it, and its JSON object.
const char ReportPdu[] = "0791947106004034" "0611" "0C91947110325476" "42501001020380" "425010010253B1" "00FFFFFF";
std::string ReportEntry(int index) {
  return "+CMGL: " + std::to_string(index) + ",0,,28\r\n" + ReportPdu + "\r\n";
}
std::string ReportObject(int index) {
  return "{\"index\":" + std::to_string(index) + "," + fnv::Member(fnv::OfPdu(ReportPdu)) +
         "\"unread\":true,\"status\":\"delivered\",\"code\":0,\"reference\":17,"
         "\"recipient\":\"+491701234567\",\"sent\":\"24/05/01,10:20:30+08\",\"done\":\"24/05/01,10:20:35+21\"}";
}

// After preparation and PDU mode: the listing, then the answers to "AT+CMGF=1" and each "AT+CMGR".
// out: the TSV; json: the same listing with -j. quick: with -q. storage: the SIM's, or the reports'.
struct ListCase { const char* source; Lines answers; int want; Lines sent; std::string out, json; bool quick = false;
                  int storage = 0; const char* error = nullptr; };
const ListCase ListCases[] = {
    {"1 and 3, 2 empty", {Cmgl({1, 3}), Ok, Cmgr("0041"), CmsError, Cmgr("00420022005C0043")}, 3,
     Lines{"AT+CMGF=1\r"} + Cmgr(1, 3), Header + Line(1, "A") + Line(3, "B\"\\\\C"),
     JsonOpen + Object(1, "A") + "," + Object(3, "B\\\"\\\\C") + JsonClose},
    {"descending", {Cmgl({5, 3}), Ok}, 5, Lines{"AT+CMGF=1\r"} + Cmgr(1, 5), Header, JsonOpen + JsonClose},
    {"index 0 first", {Cmgl({0, 2}), Ok, Cmgr("0030"), CmsError, Cmgr("0032")}, 2,
     Lines{"AT+CMGF=1\r"} + Cmgr(0, 2), Header + Line(0, "0") + Line(2, "2"),
     JsonOpen + Object(0, "0") + "," + Object(2, "2") + JsonClose},
    {"index 0 alone", {Cmgl({0}), Ok, Cmgr("0030")}, 0, Lines{"AT+CMGF=1\r"} + Cmgr(0, 0), Header + Line(0, "0"),
     JsonOpen + Object(0, "0") + JsonClose},
    {"empty storage", {Ok}, -1, {}, "", JsonOpen + JsonClose},
    {"after a refused deletion, the error last", {Cmgl({1}), Ok, Cmgr("0041")}, 1, Lines{"AT+CMGF=1\r"} + Cmgr(1, 1),
     Header + Line(1, "A"), JsonOpen + Object(1, "A") + "],\"error\":\"the modem refused \\\"AT+CMGD=1\\\"\"}\n", false, 0,
     "the modem refused \"AT+CMGD=1\""},
    {"empty after a refused deletion", {Ok}, -1, {}, "", JsonOpen + "],\"error\":\"x\"}\n", false, 0, "x"},
    {"listing cut off", {"\r\n+CMGL: 1,1,,23\r\n0791\r\n"}, -1, {}, "", ""},
    {"listing line without its index", {"\r\n+CMGL: \r\nOK\r\n"}, -1, {}, "", ""},
    {"text mode refused", {Cmgl({2}), Error}, -1, {"AT+CMGF=1\r"}, "", ""},
    {"quick: a status report beside a message, in the JSON document only",
     {"\r\n" + Entry(1, 1, "A") + ReportEntry(2) + "\r\nOK\r\n"}, 2, {}, Header + Line(1, "A"),
     JsonOpen + Object(1, "A", EntryId("A")) + "],\"reports\":[" + ReportObject(2) + "]}\n", true},
    {"quick: a PDU that does not parse is read in text mode",
     {"\r\n" + Entry(1, 1, "A") + "+CMGL: 2,1,,23\r\n07919471...\r\n\r\nOK\r\n", Ok, Cmgr("0042")}, 2,
     {"AT+CMGF=1\r", "AT+CMGR=2\r"}, Header + Line(1, "A") + Line(2, "B"),
     JsonOpen + Object(1, "A", EntryId("A")) + "," + Object(2, "B") + JsonClose, true},
    // The status-report storage lists its reports alone, from their PDUs: no text mode, no reads.
    {"report storage", {"\r\n" + Entry(1, 1, "A") + ReportEntry(3) + "+CMGL: 4,1,,23\r\n0791...\r\n\r\nOK\r\n"}, 4, {},
     "num\tstatus\treference\trecipient\tsent\tdone\n"
     "3\tdelivered\t17\t+491701234567\t24/05/01,10:20:30+08\t24/05/01,10:20:35+21\n",
     "{\"storage\":\"SR\",\"reports\":[" + ReportObject(3) + "]}\n", false, ReportStorage},
    // Real modems keep reports with <stat> 3, as if sent: they are reports all the same.
    {"report storage: reports kept as sent",
     {"\r\n+CMGL: 1,3,,29\r\n" + std::string(captured::ReportPadded) + "\r\n+CMGL: 2,2,,29\r\n" +
      captured::ReportWithPi + "\r\n\r\nOK\r\n"},
     2, {},
     "num\tstatus\treference\trecipient\tsent\tdone\n"
     "1\tdelivered\t171\t604865888\t09/07/08,15:37:57+08\t09/07/08,15:38:10+08\n"
     "2\tdelivered\t6\t+61439012244\t10/09/17,10:01:00+40\t10/09/17,10:01:54+40\n",
     "{\"storage\":\"SR\",\"reports\":[{\"index\":1," + fnv::Member(fnv::OfPdu(captured::ReportPadded)) +
         "\"unread\":false,\"status\":\"delivered\",\"code\":0,"
     "\"reference\":171,\"recipient\":\"604865888\",\"sent\":\"09/07/08,15:37:57+08\",\"done\":\"09/07/08,15:38:10+08\"},"
     "{\"index\":2," + fnv::Member(fnv::OfPdu(captured::ReportWithPi)) + "\"unread\":false,\"status\":\"delivered\",\"code\":0,\"reference\":6,"
     "\"recipient\":\"+61439012244\",\"sent\":\"10/09/17,10:01:00+40\",\"done\":\"10/09/17,10:01:54+40\"}]}\n",
     false, ReportStorage},
};

TEST(ListMessages, VisitsEveryIndexUpToTheHighest) {
  for (const ListCase& c : ListCases) {
    SCOPED_TRACE(c.source);
    for (bool json : {false, true}) {
      const bool reports = c.storage == ReportStorage;
      PlayAnswers((reports ? Lines{Ok, Ok, Ok, ReportStorages, Ok, Ok} : Prepared) + c.answers);
      ListingStyle style;
      style.json = json;
      style.quick = c.quick;
      Captured run = Capture([&style, &c] { return ListMessages(FakePort, c.storage, style, c.error); });
      EXPECT_EQ(c.want, run.result);
      EXPECT_EQ((reports ? PrepareReports : PrepareSim) + Listed + c.sent, LinesSent());
      EXPECT_EQ(json ? c.json : c.out, run.out);
    }
  }
}

TEST(DeleteMessage, PreparesUnlessStorageIsMinusOne) {
  PlayAnswers({Ok, Ok, Ok, Ok, Ok});
  EXPECT_EQ(0, DeleteMessage(FakePort, 0, 1));
  EXPECT_EQ(PreparePhone + Lines{"AT+CMGD=0\r"}, LinesSent());

  PlayAnswers({CmsError});
  EXPECT_EQ(-1, DeleteMessage(FakePort, 3, -1));
  EXPECT_EQ(Lines{"AT+CMGD=3\r"}, LinesSent());
}

// Entries with their <stat>: {index, stat}, ... (0 received unread, 1 read, 2 and 3 stored outgoing).
std::string CmglStat(const std::vector<std::pair<int, int>>& entries) {
  std::string answer = "\r\n";
  for (const auto& entry : entries)
    answer += "+CMGL: " + std::to_string(entry.first) + "," + std::to_string(entry.second) + ",,23\r\n07919471...\r\n";
  return answer + "\r\nOK\r\n";
}

// Only what the listing named is deleted. quick: with -q, where what the listing showed unread goes
// first, one by one, then the rest with one command (allAnswer its answer), unless refused.
struct DeleteAllCase { const char* source; std::string listing; int want; Lines deletions; bool quick = false;
                       std::string allAnswer = Ok; };
const DeleteAllCase DeleteAllCases[] = {
    {"messages at 2 and 5", Cmgl({2, 5}), 5, {"AT+CMGD=2\r", "AT+CMGD=5\r"}},
    {"descending", Cmgl({4, 1}), 4, {"AT+CMGD=1\r", "AT+CMGD=4\r"}},
    {"index 0 with others", Cmgl({0, 3}), 3, {"AT+CMGD=0\r", "AT+CMGD=3\r"}},
    {"index 0 alone", Cmgl({0}), 0, Cmgd(0, 0)},
    {"past the PDUs noted, unread and sent among them", CmglStat({{2, 0}, {300, 1}, {7, 3}}), 300,
     {"AT+CMGD=2\r", "AT+CMGD=7\r", "AT+CMGD=300\r"}},
    {"empty storage", Ok, -1, {}},
    {"quick: one command for the read ones", Cmgl({2, 5}), 5, {"AT+CMGD=1,3\r"}, true},
    {"quick: that refused, one per index", Cmgl({0, 3}), 3, {"AT+CMGD=1,3\r", "AT+CMGD=0\r", "AT+CMGD=3\r"}, true,
     Error},
    {"quick: the unread first, then the read and the sent", CmglStat({{5, 1}, {2, 0}, {4, 3}, {9, 0}}), 9,
     {"AT+CMGD=2\r", "AT+CMGD=9\r", "AT+CMGD=1,3\r"}, true},
    {"quick: that refused, the rest one by one, the unread not twice", CmglStat({{5, 1}, {2, 0}}), 5,
     {"AT+CMGD=2\r", "AT+CMGD=1,3\r", "AT+CMGD=5\r"}, true, CmsError},
    {"quick: every one unread, nothing left for the flag", CmglStat({{1, 0}, {3, 0}}), 3,
     {"AT+CMGD=1\r", "AT+CMGD=3\r"}, true},
    {"quick: empty storage", Ok, -1, {}, true},
};

TEST(DeleteAllMessages, DeletesWhatTheListingNamed) {
  for (const DeleteAllCase& c : DeleteAllCases) {
    SCOPED_TRACE(c.source);
    AnswerEachLine([&c](const std::string& line) {
      return line == "AT+CMGL=4\r" ? c.listing : line == "AT+CMGD=1,3\r" ? c.allAnswer : Ok;
    });
    Captured run = Capture([&c] { return DeleteAllMessages(FakePort, 0, c.quick); });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(PrepareSim + Listed + c.deletions, LinesSent());
  }
}

// take lists as list does, then deletes what it printed, as del all deletes. storage: the answer to
// the storage command ("+CPMS: 30,30,..." a full SIM). The lines after the listing, what is printed.
const std::string Roomy = "\r\n+CPMS: 3,30,3,30,3,30\r\n\r\nOK\r\n";
const std::string Full = "\r\n+CPMS: 30,30,30,30,30,30\r\n\r\nOK\r\n";
std::string PartEntry(int index, int stat, int sequence) {
  const sim::Pdu pdu = sim::BuildDeliverPdu("+1", "24/05/01,10:20:30+08", sequence == 1 ? "Long " : "end", true,
                                            sim::ConcatenationHeader(5, false, 2, sequence));
  return "+CMGL: " + std::to_string(index) + "," + std::to_string(stat) + ",," + std::to_string(pdu.tpduLength) +
         "\r\n" + pdu.hex + "\r\n";
}
std::string SentEntry(int index) {
  const sim::Pdu pdu = sim::BuildSubmitPdu("+1", "out");
  return "+CMGL: " + std::to_string(index) + ",3,,10\r\n" + pdu.hex + "\r\n";
}
struct TakeCase { const char* source; std::string listing; ListingStyle style; int want; Lines after; std::string out;
                  std::string storage = Roomy; std::string deleteAnswer = Ok; bool outputFull = false; };
ListingStyle Style(bool quick, bool join = false) {
  ListingStyle style;
  style.quick = quick;
  style.join = join;
  style.holdIncomplete = true;
  style.namedOnly = true;
  return style;
}
const TakeCase TakeCases[] = {
    {"read in text mode, only the listed indexes read and deleted", Cmgl({1, 3}), Style(false), 3,
     Lines{"AT+CMGF=1\r", "AT+CMGR=1\r", "AT+CMGR=3\r", "AT+CMGD=1\r", "AT+CMGD=3\r"},
     Header + Line(1, "A") + Line(3, "A")},
    {"quick: the unread first, then the read ones at once",
     "\r\n" + Entry(1, 1, "A") + Entry(2, 0, "B") + "\r\nOK\r\n", Style(true), 2, {"AT+CMGD=2\r", "AT+CMGD=1,3\r"},
     Header + Line(1, "A") + "2\t1\t+1\t24/05/01,10:20:30+08\tB\n"},
    {"quick: a stored outgoing message is not printed, so it stays",
     "\r\n" + Entry(1, 1, "A") + SentEntry(2) + "\r\nOK\r\n", Style(true), 2, {"AT+CMGD=1\r"}, Header + Line(1, "A")},
    {"quick, joined: a long message without its last part stays for a later run",
     "\r\n" + PartEntry(1, 1, 1) + Entry(2, 1, "A") + "\r\nOK\r\n", Style(true, true), 2, {"AT+CMGD=2\r"},
     Header + Line(2, "A")},
    {"quick, joined: on a full SIM that part can never be joined, so it goes too",
     "\r\n" + PartEntry(1, 1, 1) + Entry(2, 1, "A") + "\r\nOK\r\n", Style(true, true), 2, {"AT+CMGD=1,3\r"},
     Header + Line(1, "Long [...]") + Line(2, "A"), Full},
    {"quick, joined: a whole long message", "\r\n" + PartEntry(1, 1, 2) + PartEntry(3, 1, 1) + "\r\nOK\r\n",
     Style(true, true), 3, {"AT+CMGD=1,3\r"}, Header + Line(1, "Long end")},
    {"a refused deletion fails the run; the others are deleted all the same", Cmgl({1, 3}), Style(false), -1,
     Lines{"AT+CMGF=1\r", "AT+CMGR=1\r", "AT+CMGR=3\r", "AT+CMGD=1\r", "AT+CMGD=3\r"},
     Header + Line(1, "A") + Line(3, "A"), Roomy, Error},
    {"output that cannot be written: nothing deleted", "\r\n" + Entry(1, 1, "A") + "\r\nOK\r\n", Style(true), -1, {},
     "", Roomy, Ok, true},
};

TEST(TakeMessages, DeletesExactlyWhatWasPrinted) {
  for (const TakeCase& c : TakeCases) {
    SCOPED_TRACE(c.source);
    AnswerEachLine([&c](const std::string& line) {
      if (line == "AT+CMGL=4\r") return c.listing;
      if (line == "AT+CPMS=\"SM\",\"SM\",\"SM\"\r") return c.storage;
      if (line.compare(0, 8, "AT+CMGR=") == 0) return Cmgr("0041");  // 2 too: a message came after the listing
      return line.compare(0, 8, "AT+CMGD=") == 0 ? c.deleteAnswer : Ok;
    });
    Captured run = Capture([&c] { return TakeMessages(FakePort, 0, c.style); }, c.outputFull);
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(PrepareSim + Listed + c.after, LinesSent());
    EXPECT_EQ(c.out, run.out);
  }
}

// del --id: index 1 holds "A", 2 and 3 the parts of a long message; 4 is empty.
const std::string Stored = "\r\n" + Entry(1, 1, "A") + PartEntry(2, 1, 1) + PartEntry(3, 1, 2) + "\r\nOK\r\n";
MessageId IdOf(const std::string& entry) { return fnv::OfPdu(entry.substr(entry.find("\r\n") + 2, entry.rfind("\r\n") - entry.find("\r\n") - 2)); }
struct CheckedCase { const char* source; int index; bool join; MessageId id; int want; bool listed; Lines deletions;
                     std::string err; };
const CheckedCase CheckedCases[] = {
    {"the same message", 1, false, IdOf(Entry(1, 1, "A")), 0, true, {"AT+CMGD=1\r"}, ""},
    {"another message", 1, false, IdOf(Entry(1, 1, "B")), -1, false, {},
     "atsms: message 1 is no longer the one listed (id " + fnv::Text(IdOf(Entry(1, 1, "B"))) + "); nothing deleted\n"},
    {"an empty index", 4, false, IdOf(Entry(1, 1, "A")), -1, false, {},
     "atsms: message 4 is no longer the one listed (id " + fnv::Text(IdOf(Entry(1, 1, "A"))) + "); nothing deleted\n"},
    {"joined: the message's id deletes every part", 2, true,
     fnv::OfParts({sim::BuildDeliverPdu("+1", "24/05/01,10:20:30+08", "Long ", true, sim::ConcatenationHeader(5, false, 2, 1)).hex,
                   sim::BuildDeliverPdu("+1", "24/05/01,10:20:30+08", "end", true, sim::ConcatenationHeader(5, false, 2, 2)).hex}),
     0, true, {"AT+CMGD=2\r", "AT+CMGD=3\r"}, ""},
    {"joined: one part's id is not the message's", 2, true, IdOf(PartEntry(2, 1, 1)), -1, false, {},
     "atsms: message 2 is no longer the one listed (id " + fnv::Text(IdOf(PartEntry(2, 1, 1))) + "); nothing deleted\n"},
    {"without --join a part's own id", 2, false, IdOf(PartEntry(2, 1, 1)), 0, true, {"AT+CMGD=2\r"}, ""},
};

TEST(DeleteCheckedMessage, OnlyTheMessageListed) {
  for (const CheckedCase& c : CheckedCases) {
    SCOPED_TRACE(c.source);
    AnswerEachLine([](const std::string& line) { return line == "AT+CMGL=4\r" ? Stored : Ok; });
    bool listed = !c.listed;
    Captured run = Capture([&c, &listed] { return DeleteCheckedMessage(FakePort, c.index, 0, c.join, c.id, &listed); });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(c.listed, listed);
    EXPECT_EQ(PrepareSim + Listed + c.deletions, LinesSent());
    EXPECT_EQ(c.err, run.err);
    ForgetFailure();
  }
}

const std::string Confirmed = "\r\n+CMGS: 7\r\n\r\nOK\r\n";
const char HiPdu[] = "00010005812143F500080400480069\x1a\r";

// The answers after "AT+CMGS=14\r": a prompt counts in the first 10 answers; the confirmation
// within 60 s (40 silent collections of 1.5 s), and a final result ends either wait at once.
struct SendCase { const char* source; Lines answers; int want; bool pduWritten; int reads; };
const SendCase SendCases[] = {
    {"prompt and confirmation at once", {Prompt, Confirmed}, 0, true, 2},
    {"prompt in the 10th answer", Repeat("", 9) + Lines{Prompt, Confirmed}, 0, true, 11},
    {"prompt in the 11th answer", Repeat("", 10) + Lines{Prompt, Confirmed}, -1, false, 11},
    {"no prompt", {}, -1, false, 11},
    {"AT+CMGS refused", {"\r\n+CMS ERROR: 304\r\n", Prompt}, -1, false, 1},
    {"confirmed after 58.5 s", Lines{Prompt} + Repeat("", 39) + Lines{Confirmed}, 0, true, 41},
    {"not confirmed in 60 s", Lines{Prompt} + Repeat("", 40) + Lines{Confirmed}, -1, true, 41},
    {"an error ends the wait", {Prompt, "\r\n+CMS ERROR: 500\r\n", Confirmed}, -1, true, 2},
    {"the PDU's echo and an unasked line are no result",
     {Prompt, "00010005912143F500080400480069\x1a", "\r\n+CMTI: \"SM\",3\r\n", Confirmed}, 0, true, 4},
};

TEST(SendMessage, PromptAndConfirmationWaits) {
  for (const SendCase& c : SendCases) {
    SCOPED_TRACE(c.source);
    PlayAnswers(Prepared + c.answers);
    char text[] = "'Hi'";
    Captured run = Capture([&] { return SendMessage(FakePort, "12345", text, 1, 0); });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(c.want == 0 ? ResultOk : ResultError, run.out);
    Lines sent = PrepareSim + Lines{"AT+CMGF=0\r", "AT+CMGS=14\r"};
    if (c.pduWritten) sent.push_back(HiPdu);
    EXPECT_EQ(sent, LinesSent());
    EXPECT_EQ(5 + c.reads, ReadsDone());
  }
}

// 150 letters go as three parts; a part that fails ends the message. written: after the
// preparation, "C" for each AT+CMGS line and "P" for each PDU line.
struct PartsCase { const char* source; Lines answers; int want; const char* written; const char* err; };
const PartsCase PartsCases[] = {
    {"the second part confirmed after 18 s", Lines{Prompt, Confirmed, Prompt} + Repeat("", 12) + Lines{Confirmed, Prompt, Confirmed},
     0, "CPCPCP", ""},
    {"no prompt for the first part", {}, -1, "C", "atsms: part 1 of 3 was not accepted; 0 parts were sent\n"},
    {"AT+CMGS refused for the third part", {Prompt, Confirmed, Prompt, Confirmed, Error}, -1, "CPCPC",
     "atsms: part 3 of 3 was not accepted; 2 parts were sent\n"},
};

TEST(SendMessage, PartsOfALongText) {
  for (const PartsCase& c : PartsCases) {
    SCOPED_TRACE(c.source);
    PlayAnswers(Prepared + c.answers);
    std::string text(150, 'a');
    Captured run = Capture([&] { return SendMessage(FakePort, "12345", &text[0], 1, 0); });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(c.want == 0 ? ResultOk : ResultError, run.out);
    EXPECT_EQ(c.err, run.err);
    const Lines& sent = LinesSent();
    std::string written;
    for (size_t i = PrepareSim.size() + 1; i < sent.size(); ++i)
      written += sent[i].compare(0, 8, "AT+CMGS=") == 0 ? "C" : sent[i].find('\x1a') != std::string::npos ? "P" : "?";
    EXPECT_EQ(c.written, written);
  }
}

// With --report the modem is asked to keep the reports (<ds> 2) before the first part; the message
// goes whatever it answers, and one line says when its report may be lost. Each part's reference
// comes from its "+CMGS: <mr>", in order; a failed part ends the list with the parts that went out.
// answers: from the one to AT+CNMI? on; cnmi: the +CNMI lines written. "Hi" goes as one part (TP-SRR:
// first octet 21), 150 letters as three (TP-SRR and TP-UDHI: 61).
std::string Cmgs(const std::string& value) { return "\r\n+CMGS: " + value + "\r\n\r\nOK\r\n"; }
std::string Cnmi(const char* values) { return std::string("\r\n+CNMI: ") + values + "\r\n\r\nOK\r\n"; }
const std::string MayBeLost = "; the delivery report may be lost\n";
const Lines Asked = {"AT+CNMI?\r"};
const Lines Set = {"AT+CNMI?\r", "AT+CNMI=2,1,0,2,0\r"};
const std::string Long(150, 'a');
struct ReportCase { const char* source; Lines answers; Lines cnmi; std::string err; int want = 0;
                    const char* references = "[7]"; std::string text = "Hi"; };
const ReportCase ReportCases[] = {
    {"<ds> 0: set to 2, the rest as read", {Cnmi("3,1,2,0,1"), Ok, Prompt, Confirmed},
     {"AT+CNMI?\r", "AT+CNMI=3,1,2,2,1\r"}, ""},
    {"<ds> 2 already", {Cnmi("1,2,0,2,1"), Prompt, Confirmed}, Asked, ""},
    {"AT+CNMI= refused", {Cnmi("2,1,0,0,0"), "\r\n+CMS ERROR: 303\r\n", Prompt, Confirmed}, Set,
     "atsms: the modem refused AT+CNMI=2,1,0,2,0: +CMS ERROR: 303 (operation not supported)" + MayBeLost},
    {"AT+CNMI= unanswered", {Cnmi("2,1,0,0,0"), "", Prompt, Confirmed}, Set,
     "atsms: the modem gave no answer to AT+CNMI=2,1,0,2,0" + MayBeLost},
    {"OK without +CNMI:", {Ok, Prompt, Confirmed}, Asked, "atsms: the answer to AT+CNMI? could not be read" + MayBeLost},
    {"four values", {Cnmi("2,1,0,0"), Prompt, Confirmed}, Asked,
     "atsms: the answer to AT+CNMI? could not be read" + MayBeLost},
    {"<ds> 1: reports pass unstored", {Cnmi("2,1,0,1,0"), Prompt, Confirmed}, Asked,
     "atsms: the modem passes delivery reports on as +CDS instead of keeping them (+CNMI <ds> 1)" + MayBeLost},
    {"three parts", {Cnmi("2,1,0,2,0"), Prompt, Cmgs("0"), Prompt, Cmgs("18"), Prompt, Cmgs("19")}, Asked, "", 0,
     "[0,18,19]", Long},
    {"third part refused", {Cnmi("2,1,0,2,0"), Prompt, Cmgs("17"), Prompt, Cmgs("18"), Error}, Asked,
     "atsms: part 3 of 3 was not accepted; 2 parts were sent\n", -1, "[17,18]", Long},
    {"a confirmation without +CMGS:, one beyond 255",
     {Cnmi("2,1,0,2,0"), Prompt, Cmgs("17"), Prompt, Ok, Prompt, Cmgs("256")}, Asked, "", 0, "[17,null,null]", Long},
    {"an <ackpdu> after <mr>, a blank before it",
     {Cnmi("2,1,0,2,0"), Prompt, Cmgs("255"), Prompt, Cmgs("3,\"0100\""), Prompt, Cmgs(" 4")}, Asked, "", 0,
     "[255,3,4]", Long},
    {"text refused before the modem", {}, {}, "atsms: the text is not valid UTF-8\n", -1, "[]", "Caf\xE9"},
};

TEST(SendMessage, ReportKeptAndThePartsReferences) {
  for (const ReportCase& c : ReportCases) {
    SCOPED_TRACE(c.source);
    ForgetFailure();
    PlayAnswers(Prepared + c.answers);
    std::string text = c.text;
    Captured run = Capture([&] { return SendMessage(FakePort, "12345", &text[0], 1, 0, true); });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(std::string("\n{\n \"msg\":\"") + (c.want == 0 ? "OK" : "ERROR") + "\",\n \"references\":" +
                  c.references + "\n}\n",
              run.out);
    EXPECT_EQ(c.err, run.err);
    const Lines sent = LinesSent();
    const Lines before = c.cnmi.empty() ? Lines{} : PrepareSim + Lines{"AT+CMGF=0\r"} + c.cnmi;
    ASSERT_LE(before.size(), sent.size());
    EXPECT_EQ(before, Lines(sent.begin(), sent.begin() + (long)before.size()));
    for (const std::string& line : sent)
      if (line.find('\x1a') != std::string::npos) {
        EXPECT_EQ(c.text == "Hi" ? "002100" : "006100", line.substr(0, 6));
      }
  }
}

TEST(SendMessage, RefusedInputWritesNothingToTheModem) {
  const struct { const char* source; const char* phone; std::string text; } cases[] = {
      {"space in the number", "12 34", "Hi"},
      {"carriage return in the number", "123\rAT+CMGD=1", "Hi"},
      {"text of 1024 bytes", "12345", std::string(1024, 'a')},
      {"text not UTF-8", "12345", "Caf\xE9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    PlayAnswers(Prepared + Lines{Prompt, Confirmed});
    std::vector<char> text(c.text.begin(), c.text.end());
    text.push_back('\0');
    Captured run = Capture([&] { return SendMessage(FakePort, c.phone, text.data(), 1, 0); });
    EXPECT_EQ(-1, run.result);
    EXPECT_EQ(ResultError, run.out);
    EXPECT_EQ(Lines{}, LinesSent());
    EXPECT_EQ(0, ReadsDone());
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.size() - 1, run.err.find('\n')) << "one line: " << run.err;
  }
}

TEST(SendMessage, PreparationOrPduModeRefusedPrintsNothing) {
  char text[] = "Hi";
  PlayAnswers({});
  Captured run = Capture([&] { return SendMessage(FakePort, "12345", text, 1, 0); });
  EXPECT_EQ(-1, run.result);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(SilentProbes, LinesSent());

  PlayAnswers({Ok, Ok, Ok, Ok, Error, Prompt, Confirmed});
  run = Capture([&] { return SendMessage(FakePort, "12345", text, 1, 0); });
  EXPECT_EQ(-1, run.result);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(PrepareSim + Lines{"AT+CMGF=0\r"}, LinesSent());
}

const char UssdLine[] = "AT+CUSD=1,\"AA180C3602\",15\r";
const std::string CusdReply = "\r\n+CUSD: 0,\"Balance 5.00\",15\r\n";

std::string Trace(const Lines& answers, int counter) {
  std::string trace;
  for (const std::string& answer : answers) trace += answer + " - " + std::to_string(counter--) + "\n";
  return trace;
}

// The answers after the AT+CUSD line, the result, the trace lines (reply wait, then result wait)
// and the reply line that follows them.
struct UssdCase { const char* source; Lines answers; int want; Lines replyTrace; Lines resultTrace; const char* line; };
const char BalanceLine[] = "USSD reply: Balance 5.00\n";
const UssdCase UssdCases[] = {
    {"OK, then the network's answer", {Ok, CusdReply}, 0, {Ok}, {CusdReply}, BalanceLine},
    {"OK, then silence", {Ok}, 0, {Ok}, Repeat("", 11), "atsms: the network sent no reply\n"},
    {"OK in the 10th answer", Repeat("", 9) + Lines{Ok, CusdReply}, 0, Repeat("", 9) + Lines{Ok}, {CusdReply},
     BalanceLine},
    {"OK in the 11th answer", Repeat("", 10) + Lines{Ok, CusdReply}, -1, Repeat("", 10) + Lines{Ok}, {}, ""},
    {"no reply", {}, -1, Repeat("", 11), {}, ""},
    {"CUSD in the OK answer: no result wait", {"\r\nOK\r\n\r\n+CUSD: 0,\"x\",15\r\n", CusdReply}, 0,
     {"\r\nOK\r\n\r\n+CUSD: 0,\"x\",15\r\n"}, {}, "USSD reply: x\n"},
    {"CUSD without text in the OK answer", {"\r\nOK\r\n\r\n+CUSD: 2\r\n", CusdReply}, 0,
     {"\r\nOK\r\n\r\n+CUSD: 2\r\n"}, {}, "atsms: the network ended the request without text (status 2)\n"},
};

TEST(SendUssd, ReplyAndResultWaits) {
  for (const UssdCase& c : UssdCases) {
    SCOPED_TRACE(c.source);
    PlayAnswers(Lines{Ok, Ok, Ok} + c.answers);
    Captured run = Capture([] { return SendUssd(FakePort, "*100#"); });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(c.want == 0 ? ResultOk : ResultError, run.out);
    EXPECT_EQ(PrepareGsm + Lines{UssdLine}, LinesSent());
    EXPECT_EQ(std::string(UssdLine) + "\n" + Trace(c.replyTrace, 10) + Trace(c.resultTrace, 10) + c.line, run.err);
    EXPECT_EQ(3 + (int)(c.replyTrace.size() + c.resultTrace.size()), ReadsDone());
  }
}

// With -j the block names the form of the request it comes from; an OK block after a reply with
// text also carries it, JSON-escaped, and its status.
std::string JsonBlock(const char* msg, const char* form, const char* replyAndStatus = "") {
  return "\n{\n \"msg\":\"" + std::string(msg) + "\",\n \"form\":\"" + form + "\"" + replyAndStatus + "\n}\n";
}
const char BalanceJson[] = ",\n \"reply\":\"Balance 5.00\",\n \"status\":0";
struct UssdJsonCase { const char* source; Lines answers; std::string out; };
const UssdJsonCase UssdJsonCases[] = {
    {"the network's answer", {Ok, CusdReply}, JsonBlock("OK", "packed", BalanceJson)},
    {"no reply", {Ok}, JsonBlock("OK", "packed")},
    {"a reply without text", {"\r\nOK\r\n\r\n+CUSD: 2\r\n"}, JsonBlock("OK", "packed")},
    {"ERROR after a reply with text", {"\r\n+CUSD: 0,\"x\",15\r\n", Error}, JsonBlock("ERROR", "packed")},
    {"the plain request answered", {Error, Ok, CusdReply}, JsonBlock("OK", "text", BalanceJson)},
    {"a time-out with text: no reply member", {Ok, "\r\n+CUSD: 5,\"x\",15\r\n"}, JsonBlock("ERROR", "packed")},
};

TEST(SendUssd, JsonBlock) {
  for (const UssdJsonCase& c : UssdJsonCases) {
    SCOPED_TRACE(c.source);
    PlayAnswers(Lines{Ok, Ok, Ok} + c.answers);
    Captured plain = Capture([] { return SendUssd(FakePort, "*100#"); });
    PlayAnswers(Lines{Ok, Ok, Ok} + c.answers);
    Captured json = Capture([] { return SendUssd(FakePort, "*100#", true); });
    EXPECT_EQ(c.out, json.out);
    EXPECT_EQ(plain.result, json.result);
    EXPECT_EQ(plain.err, json.err);
  }
}

// The packed request first; the plain one once more only when the modem refused the packed one
// or the network answered it +CUSD: 4. The last request gives the result: the network's last
// answer +CUSD: 4 (not supported) or 5 (time-out) fails it. Each row: the USSD
// string, the answers after the preparation, whether the plain request followed, the result and
// the last line on standard error.
struct FallbackCase { const char* source; const char* code; Lines answers; bool plain; int want; std::string last; };
const std::string Cusd4 = "\r\n+CUSD: 4\r\n";
const std::string Balance = "USSD reply: Balance 5.00";
const std::string NoText = "atsms: the network ended the request without text (status ";
const FallbackCase FallbackCases[] = {
    {"ERROR", "*100#", {Error, Ok, CusdReply}, true, 0, Balance},
    {"+CME ERROR (+CMS ERROR alike)", "*100#", {"\r\n+CME ERROR: 258\r\n", Ok, CusdReply}, true, 0, Balance},
    {"COMMAND NOT SUPPORT ends the wait at once", "*100#", {"\r\nCOMMAND NOT SUPPORT\r\n", Ok, CusdReply}, true, 0,
     Balance},
    // Accepted, then an error line instead of the network's answer: never a second request.
    {"OK and ERROR in one answer", "*100#", {"\r\nOK\r\n\r\nERROR\r\n", Ok, CusdReply}, false, -1,
     "atsms: the network refused the USSD request: ERROR"},
    {"OK, then +CME ERROR", "*100#", {Ok, "\r\n+CME ERROR: 132\r\n", CusdReply}, false, -1,
     "atsms: the network refused the USSD request: +CME ERROR: 132 (service option not supported)"},
    {"+CUSD: 4", "*100#", {Ok, Cusd4, Ok, CusdReply}, true, 0, Balance},
    {"plain refused too", "*100#", {Error, "\r\n+CME ERROR: 258\r\n"}, true, -1,
     "atsms: the modem refused AT+CUSD=1,\"*100#\",15: +CME ERROR: 258"},
    {"plain answered +CUSD: 4 too: no third request", "*100#", {Cusd4 + Ok, Cusd4 + Ok}, true, -1, NoText + "4)"},
    {"plain answered +CUSD: 4 with text", "*100#", {Ok, Cusd4, Ok, "\r\n+CUSD: 4,\"Unknown\",15\r\n"}, true, -1,
     "atsms: the network answered AT+CUSD=1,\"*100#\",15 with +CUSD: 4 (operation not supported)"},
    // An answer stands, whatever it says: the request may have done something.
    {"a reply with text", "*100#", {Ok, CusdReply}, false, 0, Balance},
    {"+CUSD: 2", "*100#", {Ok, "\r\n+CUSD: 2\r\n"}, false, 0, NoText + "2)"},
    {"+CUSD: 5 (time-out)", "*100#", {Ok, "\r\n+CUSD: 5\r\n"}, false, -1, NoText + "5)"},
    {"no reply at all", "*100#", {Ok}, false, 0, "atsms: the network sent no reply"},
    {"a reply, then ERROR", "*100#", {"\r\n+CUSD: 0,\"x\",15\r\n", Error}, false, -1,
     "atsms: the modem refused AT+CUSD=1,\"AA180C3602\",15: ERROR"},
    // The packed result stands for a string the plain form cannot carry, and for the empty one;
    // +CUSD: 4 then fails it.
    {"not ASCII", "*100#\xC3\xA9", {Error, Ok, CusdReply}, false, -1,
     "atsms: the modem refused AT+CUSD=1,\"AA180C361AA600\",15: ERROR"},
    {"a quote", "*1\"#", {Cusd4 + Ok, Ok, CusdReply}, false, -1, NoText + "4)"},
    {"a control character", "*100#\n", {Cusd4 + Ok, Ok, CusdReply}, false, -1, NoText + "4)"},
    {"empty", "", {Error, Ok, CusdReply}, false, -1, "atsms: the modem refused AT+CUSD=1,\"\",15: ERROR"},
};

std::string PackedLine(const char* code) {
  char packed[PackedUssdSize];
  PackUssd(packed, code);
  return "AT+CUSD=1,\"" + std::string(packed) + "\",15\r";
}

TEST(SendUssd, PlainRequestOnceAfterARefusalOrNotSupported) {
  for (const FallbackCase& c : FallbackCases) {
    SCOPED_TRACE(c.source);
    ForgetFailure();
    PlayAnswers(Lines{Ok, Ok, Ok} + c.answers);
    Captured run = Capture([&] {
      const int result = SendUssd(FakePort, c.code);
      if (result == -1) ReportFailure("/dev/ttyUSB1");
      return result;
    });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(c.want == 0 ? ResultOk : ResultError, run.out);
    const std::string plain = "AT+CUSD=1,\"" + std::string(c.code) + "\",15\r";
    EXPECT_EQ(PrepareGsm + Lines{PackedLine(c.code)} + (c.plain ? Lines{plain} : Lines{}), LinesSent());
    // The plain request is traced as it happens, its counter from 10 down again.
    const size_t second = run.err.find("\n" + plain + "\n");
    if (c.plain) {
      EXPECT_LT(run.err.find(" - 10\n", second), run.err.find(" - 9\n", second)) << run.err;
    }
    // The last line as given; one of atsms's own only there, for a failure or a success without text.
    const size_t last = run.err.rfind('\n', run.err.size() - 2) + 1;
    EXPECT_EQ(c.last + "\n", run.err.substr(last));
    EXPECT_EQ(c.last.rfind("atsms: ", 0) == 0 ? last : std::string::npos, run.err.find("atsms: ")) << run.err;
  }
}

// In quick mode a collection ends at what its wait awaits: the prompt, a final result, the +CUSD line.
TEST(QuickMode, EachWaitSaysWhatItAwaits) {
  const std::vector<Awaited> prepared(5, AwaitFinalResult);  // probe, echo, charset, storage, PDU mode
  PlayAnswers(Prepared + Lines{"\r\n+CREG: 1\r\n", Prompt, Confirmed});
  char text[] = "Hi";
  EXPECT_EQ(0, Capture([&] { return SendMessage(FakePort, "12345", text, 1, 0); }).result);
  std::vector<Awaited> send = prepared;
  send.insert(send.end(), {AwaitPrompt, AwaitPrompt, AwaitFinalResult});
  EXPECT_EQ(send, AwaitedByRead());

  PlayAnswers({Ok, Ok, Ok, Ok, "\r\nRING\r\n", CusdReply});
  EXPECT_EQ(0, Capture([] { return SendUssd(FakePort, "*100#"); }).result);
  EXPECT_EQ((std::vector<Awaited>{AwaitFinalResult, AwaitFinalResult, AwaitFinalResult, AwaitUssdAck,
                                  AwaitUssdResult, AwaitUssdResult}),
            AwaitedByRead());
}

TEST(SendUssd, EmptyCode) {
  PlayAnswers({Ok, Ok, Ok, Ok, CusdReply});
  Captured run = Capture([] { return SendUssd(FakePort, ""); });
  EXPECT_EQ(0, run.result);
  EXPECT_EQ((PrepareGsm + Lines{"AT+CUSD=1,\"\",15\r"}), LinesSent());
}

TEST(SendUssd, PreparationFailsPrintsNothing) {
  PlayAnswers({Ok, Ok, Error});
  Captured run = Capture([] { return SendUssd(FakePort, "*100#"); });
  EXPECT_EQ(-1, run.result);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(PrepareGsm, LinesSent());
}

TEST(SendUssd, OverlongCodeIsRefusedBeforeTheModem) {
  PlayAnswers({Ok, Ok, Ok, Ok, CusdReply});
  Captured run = Capture([] { return SendUssd(FakePort, std::string(73, '1').c_str()); });
  EXPECT_EQ(-1, run.result);
  EXPECT_EQ(ResultError, run.out);
  EXPECT_EQ(Lines{}, LinesSent());
  EXPECT_FALSE(run.err.empty());
}

// The one line the front end adds once an operation has yielded -1: the first refusal of the run,
// or a line of its own; nothing when the failure has its line already, or for an empty storage.
int ListSim() { return ListMessages(FakePort, 0); }
int SendHi() {
  char text[] = "Hi";
  return SendMessage(FakePort, "12345", text, 1, 0);
}
int SendLong() {
  std::string text(150, 'a');
  return SendMessage(FakePort, "12345", &text[0], 1, 0);
}
int Ussd() { return SendUssd(FakePort, "*100#"); }
const std::string Locked = "\r\n+CME ERROR: 11\r\n";
struct FailureCase { const char* source; int (*operation)(); Lines answers; std::string lines; };
const FailureCase FailureCases[] = {
    {"a probe answered, ATE0 not", ListSim, {"AT\r"}, "atsms: the modem gave no answer to ATE0\n"},
    {"no answer to the listing", ListSim, Prepared, "atsms: the modem gave no answer to AT+CMGL=4\n"},
    {"listing line without its index", ListSim, Prepared + Lines{"\r\n+CMGL: \r\n\r\nOK\r\n"},
     "atsms: the answer to AT+CMGL=4 could not be read\n"},
    {"listing bound after a refusal: the bound's line only", ListSim,
     {Ok, Ok, Ok, Locked, Ok, LongCmglOfSize(255, ListingLimit + 1)}, TooLong},
    {"PDU not confirmed", SendHi, Prepared + Lines{Prompt}, "atsms: the modem did not confirm the PDU sent after AT+CMGS=14\n"},
    {"part refused after an error line: the part line only", SendLong,
     Prepared + Lines{Prompt, Confirmed, Prompt, "\r\n+CMS ERROR: 500\r\n"},
     "atsms: part 2 of 3 was not accepted; 1 part was sent\n"},
    {"USSD accepted in the 11th answer", Ussd, Lines{Ok, Ok, Ok} + Repeat("", 10) + Lines{Ok},
     "atsms: the modem accepted AT+CUSD=1,\"AA180C3602\",15 too late\n"},
};

TEST(ReportFailure, OneLineForTheFirstFailure) {
  for (const FailureCase& c : FailureCases) {
    SCOPED_TRACE(c.source);
    ForgetFailure();
    PlayAnswers(c.answers);
    Captured run = Capture([&] {
      const int result = c.operation();
      if (result == -1) {
        ReportFailure("/dev/ttyUSB1");
        ReportFailure("/dev/ttyUSB1");  // once per run
      }
      return result;
    });
    // From the first line of atsms's own on (the USSD trace comes before it).
    EXPECT_EQ(c.lines, run.err.substr(std::min(run.err.size(), run.err.find("atsms: "))));
  }
}

// A busy SIM (still starting): a command it refuses is written again every 0.5 s until the run's
// deadline (seconds from the start), never a PDU or a request the modem accepted; after it, the
// run fails, and its line says how to wait longer.
int DeletePhone3() { return DeleteMessage(FakePort, 3, 1); }
int ListPhone() { return ListMessages(FakePort, 1); }
const std::string Busy14 = "\r\n+CME ERROR: 14\r\n";
const std::string Busy314 = "\r\n+CMS ERROR: 314\r\n";
const std::string StoragePhone = "AT+CPMS=\"ME\",\"ME\",\"ME\"\r";
const Lines Charset = {"AT\r", "ATE0\r", "AT+CSCS=\"UCS2\"\r"};
const Lines Delete3 = {"AT+CMGD=3\r"};
const std::string Hint = "; wait for it with -w SECONDS\n";
struct BusyCase { const char* source; int (*operation)(); int deadline; Lines answers; Lines sent; int want; std::string line; };
const BusyCase BusyCases[] = {
    {"+CME ERROR: 14, SIM busy, +CMS ERROR: 314, then ready", DeletePhone3, 5,
     {Ok, Ok, Ok, Busy14, "\r\n+CME ERROR: SIM busy\r\n", Busy314, Ok, Ok}, Charset + Repeat(StoragePhone, 4) + Delete3,
     0, ""},
    {"+CMS ERROR: 500 is no busy refusal", DeletePhone3, 5, {Ok, Ok, Ok, "\r\n+CMS ERROR: 500\r\n", Ok},
     PreparePhone + Delete3, 0, ""},
    {"no -w: the SIM's messages never listed as the phone's", ListPhone, 0,
     {Ok, Ok, Ok, "\r\n+CME ERROR: 515\r\n", Ok, Cmgl({1}), Ok, Cmgr("0041")}, PreparePhone, -1,
     "atsms: the modem refused AT+CPMS=\"ME\",\"ME\",\"ME\": +CME ERROR: 515" + Hint},
    {"busy past the deadline", DeletePhone3, 3, Lines{Ok, Ok, Ok} + Repeat(Busy14, 5), Charset + Repeat(StoragePhone, 2),
     -1, "atsms: the modem refused AT+CPMS=\"ME\",\"ME\",\"ME\": +CME ERROR: 14 (SIM busy)" + Hint},
    {"busy while listing: the listing fails", ListPhone, 0, {Ok, Ok, Ok, Ok, Ok, Cmgl({1, 2}), Ok, Busy14, Cmgr("0042")},
     PreparePhone + Listed + Lines{"AT+CMGF=1\r", "AT+CMGR=1\r"}, -1,
     "atsms: the modem refused AT+CMGR=1: +CME ERROR: 14 (SIM busy)" + Hint},
    {"AT+CMGS, then the PDU refused as busy: never written again", SendHi, 5, Prepared + Lines{Busy314, Prompt, Busy314},
     PrepareSim + Lines{"AT+CMGF=0\r", "AT+CMGS=14\r", "AT+CMGS=14\r", HiPdu}, -1,
     "atsms: the modem refused the PDU sent after AT+CMGS=14: +CMS ERROR: 314 (SIM busy)\n"},
    {"USSD request refused as busy, then accepted", Ussd, 5, {Ok, Ok, Ok, Busy14, Ok, CusdReply},
     PrepareGsm + Lines{UssdLine, UssdLine}, 0, ""},
    {"USSD request accepted, then busy: never written again", Ussd, 5, {Ok, Ok, Ok, Ok, Busy14}, PrepareGsm + Lines{UssdLine},
     -1, "atsms: the network refused the USSD request: +CME ERROR: 14 (SIM busy)\n"},
    {"USSD request busy, no -w: no plain request either", Ussd, 0, {Ok, Ok, Ok, Busy14, Ok, CusdReply},
     PrepareGsm + Lines{UssdLine}, -1,
     "atsms: the modem refused AT+CUSD=1,\"AA180C3602\",15: +CME ERROR: 14 (SIM busy)" + Hint},
};

TEST(BusySim, CommandsWrittenAgainUntilTheDeadline) {
  for (const BusyCase& c : BusyCases) {
    SCOPED_TRACE(c.source);
    ForgetFailure();
    PlayAnswers(c.answers);
    SetBusyDeadline(NowMicros() + c.deadline * 1000000LL);
    Captured run = Capture([&] {
      const int result = c.operation();
      if (result == -1) ReportFailure("/dev/ttyUSB1");
      return result;
    });
    EXPECT_EQ(c.want, run.result);
    EXPECT_EQ(c.sent, LinesSent());
    EXPECT_EQ(c.line, run.err.substr(std::min(run.err.size(), run.err.find("atsms: "))));
  }
  ForgetFailure();
  SetBusyDeadline(0);
}

}  // namespace
