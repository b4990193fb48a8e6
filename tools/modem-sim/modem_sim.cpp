// modem_sim.cpp: the simulated modem's port: the service thread on the pty master, the lines it receives and
// the answers it schedules.
#include "modem_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "sim_common.h"

namespace sim {
namespace {

// What a modem may say unasked right after a final result (--unsolicited-after-ok): a write of its
// own, late enough to miss a collection that ends at the "OK", early enough to join one that waits.
const char* const UnsolicitedLines[] = {"\r\n+CMTI: \"SM\",3\r\n", "\r\n^RSSI: 17\r\n", "\r\nRING\r\n"};
constexpr int UnsolicitedAfterOkMs = 20;
constexpr size_t LineLimit = 8192;

}  // namespace

Modem::Modem(Options o) : opts_(std::move(o)) {
  stores_["SM"];
  stores_["ME"];
  if (!opts_.noReportStorage)
    stores_["SR"];
}

Modem::~Modem() { Stop(); }

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
  started_ = Clock::now();
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
      ArriveReports();
      ArriveMessages();
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
    if (c == '\x1a' || c == '\x1b') {  // Ctrl-Z sends, ESC cancels; anything else is the PDU's text
      std::string raw;
      raw.swap(line_);
      awaitingPdu_ = false;
      HandlePdu(raw);
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

void Modem::Answer(const std::string& bare, const std::string& reply) {
  const std::string echo = bare.empty() ? bare : Noise(NoiseEcho) + bare;
  std::string answer = reply.empty() ? reply : Noise(NoiseStart) + reply;
  if (EndsWith(answer, Ok) && (opts_.noiseAt & NoiseFinal))
    answer.insert(answer.size() - std::string(Ok).size(), opts_.noise);
  if (opts_.answerDelayMs > 0 && !echo.empty()) {  // the echo at once, however long the answer takes
    Queue(0, echo);
    Queue(opts_.answerDelayMs, answer);
  } else if (!echo.empty() || !answer.empty()) {
    Queue(opts_.answerDelayMs, echo + answer);
  }
  if (opts_.unsolicitedAfterOk && EndsWith(answer, Ok)) {  // counted from when the OK goes out, which may be later
    Clock::time_point due = queue_.empty() ? Clock::now() : queue_.back().due;
    queue_.push_back({due + std::chrono::milliseconds(UnsolicitedAfterOkMs), UnsolicitedLines[unsolicitedSent_++ % 3]});
  }
  for (const auto& [delay, bytes] : later_)
    Queue(opts_.answerDelayMs + delay, bytes);
  later_.clear();
}

std::string Modem::Noise(unsigned at) const { return opts_.noiseAt & at ? opts_.noise : ""; }

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
