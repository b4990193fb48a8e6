// The real command exchange on a pseudo-terminal: a write into a full output queue, where a
// collection ends when the buffer fills, when the other end goes away, and with a descriptor
// select cannot watch; NUL bytes and echoes as slow modems send them; the ESC a signal leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/exchange.h"
#include "serial/port.h"

namespace {

struct Pty {
  int master = -1, slave = -1;
  Pty() {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
    termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};

double SecondsOf(int (*read)(int), int port, int* result) {
  auto start = std::chrono::steady_clock::now();
  *result = read(port);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

// First: the last test below shuts the exchange for good. The port is non-blocking: a write into a full output queue waits for room, within a bound.
size_t FillOutputQueue(int port) {
  fcntl(port, F_SETFL, O_NONBLOCK);
  const std::string junk(4096, 'j');
  size_t filled = 0;
  // The kernel moves the queue on to the other end in the background: full means full for a while.
  for (int quiet = 0; quiet < 3; ++quiet) {
    for (ssize_t n; (n = write(port, junk.data(), junk.size())) > 0; quiet = 0) filled += (size_t)n;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return filled;
}

TEST(SendCmd, WaitsForRoomInAFullOutputQueue) {
  Pty pty;
  ASSERT_GE(pty.master, 0);
  const size_t filled = FillOutputQueue(pty.slave);
  ASSERT_GT(filled, 0u);
  std::string drained;
  std::thread modem([&] {  // a modem that takes a while to read; done after 1 s of silence
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    char buffer[4096];
    for (;;) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(pty.master, &readable);
      timeval wait = {1, 0};
      ssize_t n = select(pty.master + 1, &readable, nullptr, nullptr, &wait) > 0 ? read(pty.master, buffer, sizeof buffer) : 0;
      if (n <= 0) break;
      drained.append(buffer, (size_t)n);
    }
  });
  EXPECT_EQ(0, SendCmd(pty.slave, "AT\r"));
  modem.join();
  EXPECT_EQ("AT\r", drained.substr(filled));
}

TEST(SendCmd, GivesUpOnAQueueThatNeverDrains) {
  Pty pty;
  ASSERT_GE(pty.master, 0);
  ASSERT_GT(FillOutputQueue(pty.slave), 0u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, SendCmd(pty.slave, "AT\r"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));  // it did wait
  EXPECT_FALSE(PortLost());  // a stuck queue is no unplugged modem
}

// A signal while the modem waits for the PDU writes ESC before the port is put back, and only then.
TEST(SignalPath, EscEndsAnOpenPrompt) {
  for (bool open : {true, false}) {
    SCOPED_TRACE(open ? "prompt open" : "no prompt");
    Pty pty;
    ASSERT_GE(pty.master, 0);
    const pid_t child = fork();
    if (child == 0) {
      const int port = OpenPort(ttyname(pty.slave), 9600);
      SetPromptOpen(open);
      if (port >= 0) raise(SIGTERM);
      _exit(1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    fcntl(pty.master, F_SETFL, O_NONBLOCK);
    char written[8];
    const ssize_t n = read(pty.master, written, sizeof written);
    EXPECT_EQ(open ? "\x1b" : "", std::string(written, n > 0 ? n : 0));
  }
}

TEST(ReadResponse, StopsWhenTheBufferIsFullAndLeavesTheRestForTheNextRead) {
  Pty pty;
  ASSERT_GE(pty.master, 0);
  const std::string flood(ResponseBufferSize + 100, 'x');
  ASSERT_EQ((ssize_t)flood.size(), write(pty.master, flood.data(), flood.size()));
  int got = 0;
  double seconds = 0;
  for (int total = 0; total < ResponseBufferSize; total += got) {  // the pty may hand it over in pieces
    seconds = SecondsOf(ReadResponse, pty.slave, &got);
    ASSERT_GT(got, 0);
    if (got == ResponseBufferSize) break;
  }
  EXPECT_EQ(ResponseBufferSize, got);
  EXPECT_EQ('\0', ResponseBuffer[ResponseBufferSize]);
  EXPECT_LT(seconds, 1.0);  // a full buffer ends the collection without waiting for silence
  EXPECT_GT(ReadResponse(pty.slave), 0);
  EXPECT_FALSE(PortLost());
}

TEST(ReadResponse, ContinueResponseKeepsTheCutLineAndCollectsTheRest) {
  Pty pty;
  ASSERT_GE(pty.master, 0);
  std::string flood;
  for (int i = 0; flood.size() < ResponseBufferSize + 100; ++i) flood += std::to_string(i) + "\r\n";
  flood.resize(ResponseBufferSize + 100);
  ASSERT_EQ((ssize_t)flood.size(), write(pty.master, flood.data(), flood.size()));
  ASSERT_EQ(ResponseBufferSize, ReadResponse(pty.slave));
  EXPECT_EQ(7 + 100, ContinueResponse(pty.slave, 7));
  EXPECT_EQ(flood.substr(ResponseBufferSize - 7), std::string(ResponseBuffer));
}

TEST(ReadResponse, DescriptorAboveFdSetSizeIsNeverSelected) {
  Pty pty;
  ASSERT_GE(pty.master, 0);
  rlimit limit;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= (rlim_t)FD_SETSIZE + 1)
    GTEST_SKIP() << "cannot raise the descriptor limit above FD_SETSIZE here";
  limit.rlim_cur = FD_SETSIZE + 2;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
  const int high = FD_SETSIZE + 1;
  ASSERT_EQ(high, dup2(pty.slave, high));
  ASSERT_EQ(3, write(pty.master, "OK\n", 3));
  EXPECT_EQ(0, ReadResponse(high));  // FD_SET would write past the fd_set
  EXPECT_STREQ("", ResponseBuffer);
  close(high);
}

// What one collection after a write holds when the modem sends pieces at these times (ms after
// the write). NUL bytes, an echo alone, neither ends nor shortens it; other bytes do as ever. Each
// time stands 0.5 s or more from the 0.5 s and 1.5 s it is judged against, for a loaded machine.
struct Piece { int atMs; std::string bytes; };
struct CollectCase { const char* source; std::vector<Piece> pieces; std::string collected; };
const CollectCase CollectCases[] = {
    {"NUL bytes at once, the answer at 1 s", {{0, std::string("\0\0", 2)}, {1000, std::string("\r\nO\0K\r\n", 7)}},
     "\r\nOK\r\n"},
    {"the echo at once, the answer at 1 s", {{0, "AT+CMGF=0\r"}, {1000, "\r\nOK\r\n"}}, "AT+CMGF=0\r\r\nOK\r\n"},
    {"the echo at once, the answer at 2.5 s", {{0, "AT+CMGF=0\r"}, {2500, "\r\nOK\r\n"}}, "AT+CMGF=0\r"},
};

TEST(ReadResponse, EchoesAndNulBytesAreNoAnswer) {
  for (const CollectCase& c : CollectCases) {
    SCOPED_TRACE(c.source);
    Pty pty;
    ASSERT_GE(pty.master, 0);
    ASSERT_EQ(0, SendCmd(pty.slave, "AT+CMGF=0\r"));
    std::thread modem([&] {
      const auto start = std::chrono::steady_clock::now();
      for (const Piece& piece : c.pieces) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(piece.atMs));
        ASSERT_EQ((ssize_t)piece.bytes.size(), write(pty.master, piece.bytes.data(), piece.bytes.size()));
      }
    });
    const int count = ReadResponse(pty.slave);
    modem.join();
    EXPECT_EQ(c.collected, std::string(ResponseBuffer, count));
  }
}

// Declared last: once the modem is gone the exchange stays shut for the rest of the process.
TEST(ReadResponse, EndOfFileMeansTheModemIsGone) {
  Pty pty;
  ASSERT_GE(pty.master, 0);
  ASSERT_EQ(6, write(pty.master, "\r\nOK\r\n", 6));
  EXPECT_EQ(6, ReadResponse(pty.slave));
  close(pty.master);  // unplugged
  pty.master = -1;
  int got = -1;
  double seconds = SecondsOf(ReadResponse, pty.slave, &got);
  EXPECT_EQ(0, got);
  EXPECT_STREQ("", ResponseBuffer);
  EXPECT_TRUE(PortLost());
  EXPECT_LT(seconds, 1.0);  // no waiting out the silence windows
  EXPECT_EQ(-1, SendCmd(pty.slave, "AT\r"));
}
