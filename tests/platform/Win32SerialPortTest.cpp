// The COM port against brindlemark-target-sim on a pseudo-terminal that scripts/test-windows.sh
// maps into the wine prefix: BM_TEST_SIM_PORT answers as our loader does, BM_TEST_HANGUP_PORT's
// target goes away at its second "?" (its pseudo-terminal closes, as an unplugged adapter's
// device does). Without them (not under the script) these tests are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/win32/ReceivingLines.h"
#include "platform/win32/Win32Loop.h"
#include "platform/win32/Win32SerialPort.h"

namespace bm::win32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string PortFrom(const char* variable) {
  const char* port = std::getenv(variable);
  return port ? port : "";
}

// Reply-wait passes until `bytes` bytes arrived (or three seconds passed); what came.
std::string Receive(Win32Loop& loop, Win32SerialPort& port, size_t bytes) {
  std::string got;
  const auto end = Clock::now() + 3s;
  while (got.size() < bytes && port.IsOpen() && Clock::now() < end) {
    loop.processEvents(50);
    got += port.Read(64);
  }
  return got;
}

bool OnTheLines(const Win32SerialPort&) { return !ReceivingLines().empty(); }

TEST(Win32SerialPort, TalksToTheLoaderWritesAtOnceAndFlushesOnlyWhatCameBefore) {
  const std::string name = PortFrom("BM_TEST_SIM_PORT");
  if (name.empty()) GTEST_SKIP() << "no simulated target mapped (scripts/test-windows.sh maps one)";
  Win32Loop loop;
  Win32SerialPort port(name);
  port.SetBaudRate(115200);
  ASSERT_TRUE(port.Open()) << port.ErrorText();
  EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::Kind::None);
  EXPECT_TRUE(OnTheLines(port)) << "an open port's event is among the receiving lines";

  port.Write("?");
  const auto sent = Clock::now();
  loop.processEvents(5000);  // ends as the reply arrives
  EXPECT_LT(Clock::now() - sent, 4s);
  EXPECT_EQ(Receive(loop, port, 2), "KW");

  // A reply that arrived before a flush is gone; one after it is kept.
  port.Write("?");
  port.Drain();
  const auto waitFor = Clock::now() + 3s;
  while (port.BytesAvailable() < 2 && Clock::now() < waitFor) loop.processEvents(10);
  ASSERT_EQ(port.BytesAvailable(), 2);
  port.Flush();
  EXPECT_EQ(port.BytesAvailable(), 0);
  port.Write("?");
  EXPECT_EQ(Receive(loop, port, 2), "KW");

  // Each Drain is one drain of the driver's; writes are counted as they were made.
  const SerialPort::Counts before = port.LineCounts();
  port.Drain();
  port.Drain();
  EXPECT_EQ(port.LineCounts().drains - before.drains, 2);
  EXPECT_EQ(port.LineCounts().writes, 3);

  // The line's model: at 1200 baud 60 bytes are half a second of line time, still on their way
  // when Write returns (it does not wait for them).
  port.SetBaudRate(1200);
  port.Write(std::string(60, '\0'));
  EXPECT_GT(port.BytesOnTheWay(), 0);
  EXPECT_EQ(port.BaudRate(), 1200);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.BytesOnTheWay(), 0);
  EXPECT_FALSE(OnTheLines(port)) << "a closed port's event is off the lines";
  EXPECT_EQ(port.Read(10), "");
  EXPECT_EQ(port.ErrorText(), "");
}

// An adapter pulled out mid-run: the port fails once, keeps its first error, behaves as closed,
// and a reply wait that was waiting for it ends.
TEST(Win32SerialPort, ADeviceThatGoesAwayFailsThePortOnce) {
  const std::string name = PortFrom("BM_TEST_HANGUP_PORT");
  if (name.empty()) GTEST_SKIP() << "no vanishing target mapped (scripts/test-windows.sh maps one)";
  Win32Loop loop;
  Win32SerialPort port(name);
  port.SetBaudRate(115200);
  ASSERT_TRUE(port.Open()) << port.ErrorText();
  port.Write("?");
  EXPECT_EQ(Receive(loop, port, 2), "KW");
  port.Write("?");  // the target vanishes
  const auto end = Clock::now() + 5s;
  while (port.IsOpen() && Clock::now() < end) {
    loop.processEvents(1000);
    port.Read(64);
  }
  ASSERT_FALSE(port.IsOpen()) << "the port failed";
  const std::string first = port.ErrorText();
  EXPECT_NE(first, "");
  EXPECT_FALSE(OnTheLines(port));
  port.Write("?");
  port.Drain();
  port.Flush();
  EXPECT_EQ(port.Read(10), "");
  EXPECT_EQ(port.ErrorText(), first) << "the first error is kept, nothing more is reported";
}

}  // namespace
}  // namespace bm::win32
