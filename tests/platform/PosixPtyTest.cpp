// PosixSerialPort on a pseudo-terminal the test plays the other end of: a full kernel buffer, the
// drains it asks for, a hang-up, a rate outside the classic table, a holder that was killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/posix/PosixLine.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/ReceivingLines.h"
#include "support/PtyPair.h"
#include "support/Stopwatch.h"

namespace bm::posix {
namespace {

bool Receiving(int fd) {
  const std::vector<ReceivingLine> lines = ReceivingLines();
  return std::any_of(lines.begin(), lines.end(), [fd](const ReceivingLine& l) { return l.fd == fd; });
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

// The other end does not read: the kernel's buffer fills, Write still returns at once and keeps the
// rest in the port's own buffer; Drain and Close give up on a stuck reader after their bound (the
// rest's line time twice over plus a second) instead of freezing the program. Once the reader
// reads again, the kept bytes go out whole and in order.
TEST(PosixSerialPort, AFullKernelBufferNeitherBlocksNorLosesBytes) {
  constexpr int kBaud = 1'000'000;
  test::PtyPair pty;
  ASSERT_TRUE(pty.Made());
  PosixSerialPort port(pty.Device());
  port.SetBaudRate(kBaud);
  ASSERT_TRUE(port.Open()) << port.ErrorText();
  const std::string bytes = Pattern(32 * 1024);
  port.Write(bytes);  // would never return if it waited for a reader
  ASSERT_GT(port.BytesNotTaken(), 0) << "the kernel took everything: no full buffer to test";
  test::Stopwatch t;
  port.Drain();
  EXPECT_GE(t.elapsed(), 1000) << "it waited its margin for the reader";
  EXPECT_LT(t.elapsed(), 30'000) << "and gave up";
  EXPECT_TRUE(port.IsOpen()) << "a slow reader is no failure";
  EXPECT_GT(port.BytesNotTaken(), 0) << "the rest still waits for the reader";
  EXPECT_EQ(port.LineCounts().drains, 1);

  std::string received;
  std::thread reader([&] { received = pty.Receive(bytes.size(), 20'000); });
  for (test::Stopwatch w; port.BytesNotTaken() > 0 && w.elapsed() < 20'000;) port.XmitWait();
  reader.join();
  EXPECT_EQ(received.size(), bytes.size());
  EXPECT_TRUE(received == bytes) << "every byte once, in order";

  port.Write(bytes);
  ASSERT_GT(port.BytesNotTaken(), 0);
  t.restart();
  port.Close();
  EXPECT_GE(t.elapsed(), 1000);
  EXPECT_LT(t.elapsed(), 30'000) << "Close gives up on a stuck reader too";
  EXPECT_FALSE(port.IsOpen());
}

// Drain is one kernel drain per call, whatever was written; XmitWait paces without one; Close
// drains once; a closed port asks the kernel for nothing.
TEST(PosixSerialPort, EachDrainIsOneKernelDrain) {
  test::PtyPair pty;
  PosixSerialPort port(pty.Device());
  port.SetBaudRate(115200);
  port.Drain();
  EXPECT_EQ(port.LineCounts().drains, 0) << "closed";
  ASSERT_TRUE(port.Open()) << port.ErrorText();
  port.Drain();
  port.Drain();
  EXPECT_EQ(port.LineCounts().drains, 2) << "nothing written: still one each";
  for (char c : std::string("ABCDEFGH")) {
    port.Write(std::string(1, c));
    port.XmitWait();
  }
  EXPECT_EQ(port.LineCounts().drains, 2) << "XmitWait paces by the model";
  EXPECT_EQ(port.LineCounts().writes, 8);
  port.Drain();
  EXPECT_EQ(port.LineCounts().drains, 3);
  port.Close();
  EXPECT_EQ(port.LineCounts().drains, 4) << "Close drains once";
  EXPECT_EQ(pty.Receive(8), "ABCDEFGH");
}

// The other end goes away; the port notices at its next look (reading or writing), fails once,
// behaves as closed, keeps its first error and leaves the event loops' list of lines.
TEST(PosixSerialPort, AHangUpClosesThePortOnce) {
  const struct {
    const char* noticedBy;
    void (*look)(PosixSerialPort&);
  } cases[] = {
      {"a look for bytes", [](PosixSerialPort& p) { p.BytesAvailable(); }},
      {"a read", [](PosixSerialPort& p) { p.Read(4); }},
      {"a write", [](PosixSerialPort& p) { p.Write("?"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.noticedBy);
    test::PtyPair pty;
    PosixSerialPort port(pty.Device());
    ASSERT_TRUE(port.Open()) << port.ErrorText();
    const int fd = port.Handle();
    EXPECT_TRUE(Receiving(fd));
    pty.HangUp();
    c.look(port);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(Receiving(fd)) << "an event loop no longer watches it";
    const std::string first = port.ErrorText();
    EXPECT_FALSE(first.empty());
    port.Write("?");
    port.XmitWait();
    port.Drain();
    port.Flush();
    EXPECT_EQ(port.Read(4), "");
    EXPECT_EQ(port.BytesAvailable(), 0);
    EXPECT_EQ(port.ErrorText(), first) << "no error storm";
    port.Close();
  }
}

// The pull an event loop calls moves what the kernel holds into the port, so the line is no longer
// readable and a poll loop does not spin; the bytes are the port's to read.
TEST(PosixSerialPort, TheLinesPullEmptiesTheKernelsQueueIntoThePort) {
  test::PtyPair pty;
  PosixSerialPort port(pty.Device());
  ASSERT_TRUE(port.Open()) << port.ErrorText();
  pty.Send("KW\r");
  pollfd p{port.Handle(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  for (const ReceivingLine& line : ReceivingLines())
    if (line.fd == port.Handle()) line.pull();
  p.revents = 0;
  EXPECT_EQ(::poll(&p, 1, 0), 0) << "nothing left in the kernel";
  EXPECT_EQ(port.Read(10), "KW\r");
  const int fd = port.Handle();
  port.Close();
  EXPECT_FALSE(Receiving(fd));
}

// Every rate lands on the device as itself, input and output: the classic ones from the table,
// the others as the driver's own divisor, and back to the table on an open port.
TEST(PosixSerialPort, EveryRateLandsOnTheDeviceExactly) {
  test::PtyPair pty;
  PosixSerialPort port(pty.Device());
  ASSERT_TRUE(port.Open()) << port.ErrorText();
  const struct {
    int baud;
    bool other;
  } cases[] = {{250000, true}, {9600, false},   {1'000'000, true},
               {76800, true},  {230400, false}, {57600, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.baud);
    port.SetBaudRate(c.baud);
    const LineRates rates = RatesOf(port.Handle());
    EXPECT_EQ(rates.output, c.baud);
    EXPECT_EQ(rates.input, c.baud);
    EXPECT_EQ(rates.otherRate, c.other);
    EXPECT_EQ(port.ErrorText(), "");
  }
  port.Close();
  port.SetBaudRate(500000);  // while closed: applies on open
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(RatesOf(port.Handle()).output, 500000);
}

// A run that holds the port and is killed leaves nothing behind that says "busy": its flock dies
// with it, and a pseudo-terminal never got an exclusive flag (it would outlive the run).
TEST(PosixSerialPort, AKilledHolderLeavesThePortFree) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.Made());
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PosixSerialPort holder(pty.Device());
    const char ok = holder.Open() ? '1' : '0';
    [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
    ::pause();
    ::_exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(ok, '1');
  PosixSerialPort port(pty.Device());
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::Kind::Busy);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(port.Open()) << port.ErrorText();
  EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::Kind::None);
}

// What is not a serial device does not open, and says why.
TEST(PosixSerialPort, WhatIsNotASerialDeviceIsRefusedWithItsReason) {
  char folder[] = "/tmp/bm-port-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string file = std::string(folder) + "/plain";
  std::ofstream(file) << "x";
  const struct {
    std::string device;
    OpenFailure::Kind kind;
  } cases[] = {
      {std::string(folder) + "/missing", OpenFailure::Kind::NoDevice},
      {file, OpenFailure::Kind::Other},
      {"/dev/null", OpenFailure::Kind::Other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    PosixSerialPort port(c.device);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastOpenFailure().kind, c.kind);
    EXPECT_FALSE(port.ErrorText().empty());
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace bm::posix
