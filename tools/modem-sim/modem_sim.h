// modem_sim.h: a simulated GSM modem on a pseudo-terminal, for the demo, the end-to-end tests and the benchmark.
// It answers the AT commands atsms writes (TS 27.005, TS 27.007) from an in-memory message store.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace sim {

struct Message {
  int index = 0;
  std::string status;  // "REC UNREAD", "REC READ", "STO UNSENT" or "STO SENT"
  std::string sender;  // number, "+" number, alphanumeric name or empty; the destination of a stored outgoing one
  std::string date;    // "24/05/01,10:20:30+08"
  std::string text;    // UTF-8
  bool gsm7 = false;   // received ones: listed with the GSM 7-bit alphabet (160 characters) instead of UCS-2 (70)
  std::string header = {};  // received ones: a user data header (UDHL first) before the text, as in a part
  std::string pdu = {};     // received ones: the SMS-DELIVER (hex, SMSC part first) listed as it is; sender,
                            // date and text then say what it holds. A status report: its SMS-STATUS-REPORT,
                            // sender its recipient, date its TP-SCTS, no text
};

struct DeliverInfo;

// How a concatenated message's parts are coded: the alphabet and the size of the reference.
enum class PartCoding { Gsm7, Gsm7Wide, Ucs2, Ucs2Wide };

struct SentSms {
  int lengthArg = 0;        // the n of "AT+CMGS=n"
  bool lengthOk = false;    // n equals the PDU's octets after the SMSC part
  std::string pdu;          // hex as received, without Ctrl-Z
  std::string destination;  // with a leading '+' when the type of address is 0x91
  int dcs = 0;
  std::string text;         // UTF-8, decoded from UCS-2 (surrogate pairs joined) or GSM 7-bit
  // The concatenation header (IE 00 or 08), when there is one: total 0 for a message of one SMS.
  int reference = 0;
  int total = 0;
  int sequence = 0;
  bool reportRequested = false;  // TP-SRR: the sender asks for a status report
};

// A message as the recipient gets it: one SMS, or every part of a concatenated one.
struct DeliveredSms {
  std::string destination;
  int parts = 1;
  std::string text;  // the parts' texts joined in sequence order
};

// How the +CUSD reply carries its text.
enum class UssdForm {
  Text,      // "<text>",15; with charset UCS2 the text as UCS-2 hex and DCS 72
  Ucs2,      // "<UCS-2 hex>",72 whatever the charset
  Packed,    // "<packed GSM 7-bit hex>",15
  Unquoted,  // the packed hex without quotes and without DCS
  Hex,       // "<hex of the text's bytes>",0: a modem in its HEX character set, whatever AT+CSCS says
};

// Which forms of a USSD request (AT+CUSD=1,"<str>",15) the modem takes. It tells them apart by their
// shape: an even number of hex digits (none included) is packed; anything else is the string itself.
enum class UssdTakes {
  Packed,     // packed only: it unpacks the request; a string that is not packed gets ERROR
  Text,       // the string only: a packed request reaches the network as its hex digits
  TextError,  // the same, but the modem refuses a packed request itself (ussdRefusal)
  Both,       // a packed request is unpacked, any other taken as it is
};

// How text mode shows the user data of a message with a header (8-bit data always shows as hex).
enum class HeaderForm {
  Hex,         // (a) the user data in hex, header included (TS 27.005 3.1): 7-bit parts packed
  Characters,  // (b) the user data read as characters from its first bit, header and fill bits included
  Ucs2Only,    // (c) UCS-2 parts as in (b), so their header shows as three characters; 7-bit parts as in (a)
  Stripped,    // (d) the header left out: the part's own text
};

// How the text-mode header writes the alpha field between sender and date.
enum class AlphaField {
  Empty,   // "<sender>",,"<date>"
  Quoted,  // "<sender>","","<date>"
  Absent,  // "<sender>","<date>"
  Name,    // "<sender>","<phonebook name>","<date>"; "" for a sender without an entry
};

// Where Options::noise goes (bits of Options::noiseAt).
enum NoiseAt : unsigned {
  NoiseStart = 1,    // in front of every answer (behind the echo)
  NoiseEcho = 2,     // in front of every echo, glued to it
  NoiseRead = 4,     // between the header of a +CMGR answer and its text
  NoiseFinal = 8,    // in front of the final "\r\nOK\r\n" of every answer that ends with it
  NoisePrompt = 16,  // behind the ">" prompt
  NoiseUssd = 32,    // behind the network's +CUSD line
};

struct Options {
  // misbehaviour
  bool silent = false;            // never answer anything
  int okOnAt = 1;                 // answer "OK" to "AT" only from the Nth "AT" on; earlier probes get no answer at all
  bool keepEcho = false;          // ignore ATE0: keep echoing every command line
  std::string errorOn;            // answer "\r\nERROR\r\n" to any command line that starts with this text
  int pieceDelayMs = 0;           // if >0: every answer is written in two pieces (first half, delay, second half)
  int answerDelayMs = 0;          // delay before every answer (an echo comes at once, as real modems echo)
  bool unsolicitedAfterOk = false;  // 20 ms after every answer that ends in OK: "+CMTI", "^RSSI" or "RING", in turn
  int packetSize = 0;             // if >0: every answer (or piece) is written in packets of at most this many bytes
  int packetGapMs = 1;            // ... packetGapMs apart, as a USB modem hands over its output
  // Bytes a modem sends besides its answers: a NUL ("\0", as some send when they wake up) or lines
  // sent unasked ("\r\n+CMTI: \"SM\",3\r\n", "DST: 1\r\n"), at each of the NoiseAt points chosen.
  std::string noise = "\r\n+CMTI: \"SM\",3\r\n";
  unsigned noiseAt = 0;
  // SIM: every storage or message command (AT+CPMS, AT+CMGL, AT+CMGR, AT+CMGD, AT+CMGS, AT+CMGW) is
  // answered "+CMS ERROR: 311" (PIN required) or, without a SIM, "+CMS ERROR: 310"; with cmeErrors
  // "+CME ERROR: 11" or "+CME ERROR: 10" instead. noSim wins over simPin.
  bool simPin = false;
  bool noSim = false;
  bool cmeErrors = false;
  // A SIM still starting: those commands get busyAnswer the first busyTries times, and until
  // busyMs after Start().
  int busyTries = 0;
  int busyMs = 0;
  std::string busyAnswer = "+CME ERROR: 14";  // or "+CME ERROR: 515", "+CME ERROR: SIM busy", "+CMS ERROR: 314"
  // storage
  int indexBase = 1;              // 0: storages number their messages from 0
  bool descending = false;        // AT+CMGL lists in descending index order
  int capacitySm = 30;            // the totals AT+CPMS gives (never below the messages held)
  int capacityMe = 100;
  bool listingKeepsUnread = false;  // AT+CMGL leaves "REC UNREAD" as it is (most modems mark what they list read)
  bool noDeleteFlags = false;     // AT+CMGD knows no <delflag> but 0 (1 to 4 delete many at once)
  HeaderForm headerForm = HeaderForm::Hex;
  AlphaField alphaField = AlphaField::Empty;
  // sending
  // After its prompt a modem takes every byte as the PDU, until Ctrl-Z or ESC, across closes of the
  // port too: a run ended before it wrote the PDU leaves the modem taking the next run's lines as PDU.
  bool noPrompt = false;          // AT+CMGS gets no ">" at all
  bool barePrompt = false;        // the prompt is "\r\n>", without its blank
  int latePrompt = 0;             // N>0: N unsolicited answers, 0.7 s apart, come before the ">" prompt
  bool cmgsError = false;         // AT+CMGS answers "\r\nERROR\r\n"
  int cmsError = 0;               // >0: after the PDU, answer "\r\n+CMS ERROR: <n>\r\n" instead of +CMGS/OK
  int refusePdu = 0;              // N>0: the Nth PDU of the run is answered "\r\n+CMS ERROR: 500\r\n"
  int confirmDelayMs = 0;         // the network takes this long to confirm an SMS (+CMGS and OK)
  // USSD
  std::string ussdReply = "Balance: 12.34 EUR";  // text of the unsolicited +CUSD reply
  int ussdDelayMs = 1000;         // delay before the +CUSD reply
  UssdForm ussdForm = UssdForm::Text;
  int ussdStatus = 0;             // <m> of the +CUSD reply; 1: the network waits for an answer;
                                  // 4 (not supported) and 5 (time-out) come without text
  bool ussdBeforeOk = false;      // the +CUSD reply comes before the "OK", in the same answer
  bool ussdError = false;         // AT+CUSD is refused with ussdRefusal
  bool ussdNoReply = false;       // "OK" but never a +CUSD
  std::string ussdLateError;      // not empty: this line ("+CME ERROR: 132") instead of the +CUSD, after the OK
  UssdTakes ussdTakes = UssdTakes::Packed;
  std::string ussdRefusal = "ERROR";  // the line that refuses a request: "COMMAND NOT SUPPORT", "+CME ERROR: 258"
  // The network: with ussdMenu a service code (a string that starts with '*' or '#') opens the
  // balance menu (+CUSD: 1), kept between runs; a choice leads to the next menu or to a final
  // answer (+CUSD: 0), an unknown one gets the menu again, a service code starts afresh, and a menu
  // left alone for ussdSessionMs ends with an unsolicited "+CUSD: 2". With ussdMenu, or when the
  // modem takes the string itself, anything else outside a menu gets +CUSD: 4 (operation not
  // supported); otherwise every request gets ussdReply.
  bool ussdMenu = false;
  int ussdSessionMs = 30000;
  // delivery reports: a message accepted with TP-SRR gets its SMS-STATUS-REPORT (same TP-MR) after
  // reportDelayMs, routed as +CNMI <ds> then says: 0 dropped, 1 "+CDS:" on the port, 2 stored and
  // "+CDSI: <mem>,<index>" (not with <mode> 0, which buffers it)
  bool noReportStorage = false;   // no "SR": AT+CPMS=? names none, reports are kept in <mem3> (receiving)
  int reportDelayMs = 2000;
  int reportStatus = 0;           // TP-ST of those reports: 0 delivered, 0x20.. pending, 0x40.. failed
  // Messages from the network, each handled as +CNMI <mt> says when it comes (TS 27.005 3.4.1): 0, 1
  // or 3: stored "REC UNREAD" at the lowest free index of <mem3>, with 1 or 3 announced as
  // "+CMTI: \"<mem3>\",<index>" (not with <mode> 0, which buffers it); 2: written to the port as
  // "+CMT:" and stored nowhere. A full <mem3> holds it back until a place is free, as the network
  // tries again. Besides these, Arrive() (SIGUSR1 in modem-sim) brings one at any moment.
  std::vector<int> arriveAfterCmgl;  // one arrives right after the answer to each Nth AT+CMGL (1: the first)
  // What arrives, in turn (index and status are the modem's; a pdu is stored as it is); once they are
  // used up, "New message <n>" from +491700000000 in GSM 7-bit.
  std::vector<Message> arriving;
  // going away
  int hangupAfter = 0;            // N>0: close the pty master right after receiving the Nth command line
  // One call per log line (already time-stamped, no newline), from the service thread. Empty: no log.
  std::function<void(const std::string& line)> log;
};

class Modem {
 public:
  explicit Modem(Options o = {});
  ~Modem();  // stops the thread, closes both ends
  Modem(const Modem&) = delete;
  Modem& operator=(const Modem&) = delete;

  // Adds the messages of a store file (README.md); false on a parse error, see LastError().
  bool LoadStore(const std::string& file);
  std::string LastError() const;
  void AddMessage(const std::string& storage, Message m);  // storage "SM" or "ME"; replaces the same index
  // Stores m's text as a concatenated message, one part per index from m.index on, each with its
  // own header and as much text as fits; yields the number of parts.
  int AddLongMessage(const std::string& storage, Message m, PartCoding coding);
  // Stores m as one part of a concatenated message: its text (as much as fits) after a header with
  // these values as given (8-bit or 16-bit reference as coding says), so that parts out of order,
  // missing ones, a reference used again and malformed headers can be stored too.
  void AddPart(const std::string& storage, Message m, PartCoding coding, int reference, int sequence, int total);
  // Stores a received message given as its SMS-DELIVER PDU (hex, SMSC part first); false when it
  // does not decode.
  bool AddPduMessage(const std::string& storage, int index, const std::string& status, const std::string& pdu);
  // Stores a status report given as its SMS-STATUS-REPORT PDU (hex, SMSC part first), listed as it is
  // (padding, TP-PI and all); false when it does not decode.
  bool AddStatusReport(const std::string& storage, int index, const std::string& status, const std::string& pdu);
  void AddPhonebookEntry(const std::string& number, const std::string& name);
  // Fills places 1 to count (1 to 255) of a storage with received messages of full length: 160 GSM
  // 7-bit characters, or 70 UCS-2 ones; each text says its place ("Message 7 of 30 on SM: ...").
  void FillStorage(const std::string& storage, int count, bool gsm7);
  std::vector<Message> Messages(const std::string& storage) const;  // ascending index order
  void RemoveMessage(const std::string& storage, int index);        // leaves a hole at index
  // A message comes from the network now (the service thread takes it on its next turn, within
  // 20 ms): the next of Options::arriving, or m.
  void Arrive();
  void Arrive(Message m);
  int Arrived() const;  // messages that came so far: stored, or written to the port as +CMT

  bool Start();                    // openpty and the service thread; false on failure
  std::string SlavePath() const;   // e.g. /dev/pts/5
  int SlaveFd() const;             // kept open for the simulator's life; never change its settings
  std::vector<std::string> Commands() const;  // every command line received, raw, "\r" included (PDU lines end in "\x1a")
  std::vector<SentSms> Sent() const;            // every PDU that decoded, accepted or not
  std::vector<DeliveredSms> Delivered() const;  // accepted messages, once all their parts have arrived
  std::vector<std::string> UssdRequests() const;  // USSD strings as the network got them (unpacked when taken packed)
  bool UssdSessionOpen() const;                   // a menu waits for its choice
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Output {
    Clock::time_point due;
    std::string bytes;
  };

  void Run();
  void Receive(char c);
  void HandleLine(const std::string& raw);
  void HandlePdu(const std::string& raw);
  std::string Execute(const std::string& command, const std::string& text);  // text: as received, not upper-cased
  std::string ListMessages(const std::string& argument);
  void CountListing();
  std::string ReadMessage(const std::string& argument);
  std::string TextModeText(const Message& m, const DeliverInfo* received) const;
  std::string DeleteMessage(const std::string& argument);
  std::string SelectStorage(const std::string& argument);
  int Capacity(const std::string& storage) const;
  std::string Indications(const std::string& command);   // AT+CNMI?, AT+CNMI=?, AT+CNMI=...
  std::string ReportFields(const std::string& pdu) const;  // a report as text mode shows it
  void RequestReport(const SentSms& sms, int reference);
  void ArriveReports();  // reports whose time has come
  void ArriveMessages();  // messages from the network, as +CNMI <mt> says
  Message NextArriving();
  std::string StartSend(const std::string& argument);
  std::string Noise(unsigned at) const;  // opts_.noise when noiseAt has at, else ""
  std::string Ussd(const std::string& argument);
  std::string NetworkAnswer(const std::string& request);  // the +CUSD line the network sends
  std::string CusdLine(int status, const std::string& text) const;  // in the form ussdForm says
  void EndIdleSession();
  bool Record(const std::string& raw);  // false when this line hangs the modem up
  void Deliver(const SentSms& sms);
  void Answer(const std::string& echo, const std::string& answer);
  void Queue(int delayMs, const std::string& bytes);
  void QueuePackets(Clock::time_point due, const std::string& bytes);
  void Flush();
  void Log(const std::string& line) const;

  const Options opts_;
  mutable std::mutex mutex_;  // guards everything below that other threads read
  std::map<std::string, std::map<int, Message>> stores_;
  std::vector<std::string> commands_;
  std::vector<SentSms> sent_;
  std::vector<DeliveredSms> delivered_;
  // Parts of concatenated messages still missing some: destination, reference, total -> sequence -> text.
  std::map<std::tuple<std::string, int, int>, std::map<int, std::string>> pending_;
  std::vector<std::string> ussd_;
  std::map<std::string, std::string> phonebook_;  // number -> name
  int partReference_ = 0x4B;  // the last reference given to a concatenated message
  std::string error_;

  // Modem state, touched only by the service thread (under mutex_ while a line is handled).
  bool echo_ = true;
  bool ucs2_ = false;
  bool textMode_ = false;
  std::string storage_ = "SM";         // <mem1>: reading, listing, deleting
  std::string writeStorage_ = "SM";    // <mem2>
  std::string receiveStorage_ = "SM";  // <mem3>
  int cnmi_[5] = {2, 1, 0, 0, 0};      // <mode>,<mt>,<bm>,<ds>,<bfr> at power-up: no reports kept
  struct PendingReport {
    Clock::time_point due;
    int reference;
    std::string recipient;
    std::string sent;  // when the centre took the message
  };
  std::vector<PendingReport> reports_;
  std::deque<Message> incoming_;  // messages from the network not handed over yet
  size_t arrivingUsed_ = 0;       // of Options::arriving
  int arrived_ = 0;
  int listings_ = 0;              // AT+CMGL answered since Start
  bool heldBack_ = false;         // the log has said that <mem3> is full
  int probes_ = 0;
  int busyAnswered_ = 0;
  Clock::time_point started_;
  int reference_ = 0;
  bool awaitingPdu_ = false;
  int pduLength_ = 0;
  int unsolicitedSent_ = 0;
  int pdus_ = 0;  // PDUs ended by Ctrl-Z so far
  std::string menu_;  // the USSD menu open, "" for none
  Clock::time_point menuEnds_;
  std::string line_;
  std::vector<std::pair<int, std::string>> later_;  // answers that follow the current one: delay, bytes
  std::deque<Output> queue_;

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace sim
