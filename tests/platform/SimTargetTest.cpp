#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/ByteTrace.h"
#include "base/HexText.h"
#include "platform/sim/ExampleBoard.h"
#include "platform/sim/SimSerialPort.h"
#include "platform/sim/SimTarget.h"
#include "support/ScriptedEventLoop.h"

namespace bm::sim {
namespace {

using namespace std::string_literals;

// The example board, with every loader ID slot in use.
SimTargetConfig TestBoard() {
  SimTargetConfig c = ExampleBoardConfig();
  c.loaderIds = {0x0101, 0x0203, 0, 0xABCD};
  return c;
}

// A target on its port, with the scripted loop's clock.
struct Bench {
  explicit Bench(SimTargetConfig config = TestBoard())
      : target(std::make_shared<SimTarget>(config, loop.Clock())), port(target) {
    port.SetBaudRate(57600);
    port.Open();
  }
  // Sends the bytes one write per byte, as the download does, and reads what is readable now.
  std::string Exchange(const std::string& bytes) {
    for (char c : bytes) port.Write(std::string(1, c));
    return port.Read(1000);
  }
  test::ScriptedEventLoop loop;
  std::shared_ptr<SimTarget> target;
  SimSerialPort port;
};

std::string Page(char fill, int bytes = 128) { return std::string(bytes, fill); }

std::string Hex(const std::string& s) { return HexBytes(s); }

TEST(SimTarget, RepliesToEachCommandByteExact) {
  struct Case {
    std::string send;
    std::string reply;
    const char* why;
  };
  const Case cases[] = {
      {"?", "KW", "liveness check"},
      {"I", "I\x1E\x95\x0F\x40\x00\x38"s,
       "echo, signature MSB first, page words, application words low first"},
      {"i", "\x01\x01\x02\x03\x00\x00\xAB\xCD"s, "four loader IDs, each most significant byte first"},
      {"A\x10\x02", "\r", "set address acknowledged"},
      {"A\x00\x00"s + "E", "\r\r", "erase of an application page"},
      {"D" + Page('\x03'), "\x80", "checksum: 128 x 3 = 384, mod 256"},
      {"D" + Page('\xFF'), "\x80", "checksum of an empty page: 128 x 255 mod 256"},
      {"A\x00\x00"s + "D" + Page('\x01') + "P", "\r\x80\r", "page load and write"},
      {"B\x05\x00\x42"s, "\r", "EEPROM byte"},
      {"X", "", "leaving the loader has no reply"},
      {"X?", "", "after leaving, the loader no longer answers"},
      {"Zq\x00\x0D?"s, "KW", "stray bytes while idle are ignored"},
      {"A\xC0\x37"s + "E", "\r\r", "last application page may be erased"},
      {"A\x00\x38"s + "E", "\r?", "first boot page is refused"},
      {"A\xFF\x3F"s + "P", "\r?", "an address inside the last boot page is refused"},
      {"A\xFF\xFF"s + "E", "\r?", "an address past the whole flash is refused"},
      {"B\xFF\x03\x01"s, "\r", "last EEPROM byte"},
      {"B\x00\x04\x01"s, "?", "EEPROM address past the end is refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bench b;
    const std::string got = b.Exchange(c.send);
    EXPECT_EQ(Hex(got), Hex(c.reply)) << TraceText(b.target->Trace());

    // The same bytes in one write give the same reply: framing does not depend on chunking.
    Bench whole;
    whole.port.Write(c.send);
    EXPECT_EQ(Hex(whole.port.Read(1000)), Hex(c.reply));
  }
}

TEST(SimTarget, ProtectsTheBootSectionAndEepromRange) {
  Bench b;
  const std::vector<uint8_t> before = b.target->Flash();
  const std::vector<uint8_t> eepromBefore = b.target->Eeprom();
  // Erase and write every page of the boot section, then EEPROM past its end.
  for (int word = 0x3800; word < 0x4000; word += 64) {
    const std::string a = {'A', static_cast<char>(word & 0xFF), static_cast<char>(word >> 8)};
    b.Exchange(a + "E" + "D" + Page('\0') + "P");
  }
  b.Exchange("B\x00\x04\x00"s + "B\xFF\xFF\x00"s);
  EXPECT_EQ(b.target->Flash(), before);
  EXPECT_EQ(b.target->Eeprom(), eepromBefore);
  EXPECT_EQ(b.target->Flash().size(), 0x4000u * 2);
}

TEST(SimTarget, PageWriteOnlyClearsBitsSoAMissingEraseShows) {
  struct Case {
    bool erase;
    uint8_t expected;
    const char* why;
  };
  const Case cases[] = {
      {true, 0xF0, "erased first: the page holds exactly the data"},
      {false, 0x00, "no erase: old 0x0F AND new 0xF0 leaves 0x00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bench b;
    std::fill_n(b.target->Flash().begin() + 128, 128, 0x0F);  // page at word 64 holds old data
    b.Exchange("A\x40\x00"s + (c.erase ? "E" : "") + "D" + Page('\xF0') + "P");
    EXPECT_EQ(b.target->Flash()[128], c.expected);
    EXPECT_EQ(b.target->Flash()[255], c.expected);
    EXPECT_EQ(b.target->Flash()[127], 0xFF) << "the page before is untouched";
    EXPECT_EQ(b.target->Flash()[256], 0xFF) << "the page after is untouched";
  }
}

TEST(SimTarget, EepromWriteSetsTheByte) {
  Bench b;
  EXPECT_EQ(b.Exchange("B\x05\x00\x42"s + "B\x05\x00\xA5"s), "\r\r");
  EXPECT_EQ(b.target->Eeprom()[5], 0xA5);
  EXPECT_EQ(b.target->Eeprom()[4], 0xFF);
}

TEST(SimTarget, BytesAtAnotherRateAreNoise) {
  SimTargetConfig config = TestBoard();
  config.baud = 57600;
  Bench b(config);
  b.port.SetBaudRate(19200);
  EXPECT_EQ(b.Exchange("?"), "");
  EXPECT_EQ(b.Exchange("A\x00\x00"s + "E"), "");
  b.port.SetBaudRate(57600);
  EXPECT_EQ(b.Exchange("?"), "KW") << "the loader is idle again: the noise started no command";
  EXPECT_EQ(b.target->SentBytes(),
            "?A\x00\x00"
            "E?"s)
      << "noise is still traced";
}

TEST(SimTarget, InjectedFaults) {
  struct Case {
    Fault fault;
    std::string send;
    std::string reply;
    const char* why;
  };
  const Case cases[] = {
      {{'?', 2, FaultKind::NoReply}, "???", "KWKW", "only the second '?' goes unanswered"},
      {{'?', 0, FaultKind::NoReply}, "???", "", "occurrence 0: every '?'"},
      {{'?', 1, FaultKind::WrongReply}, "??", "LWKW", "first byte of the reply is wrong"},
      {{'A', 1, FaultKind::WrongReply}, "A\x00\x00"s, "\x0E", "wrong acknowledge"},
      {{'D', 1, FaultKind::WrongReply}, "D" + Page('\x01'), "\x81", "wrong checksum"},
      {{'E', 1, FaultKind::NoReply}, "E?", "KW", "the erase is carried out without a reply"},
      {{'I', 1, FaultKind::LateReply, 5}, "I", "", "late reply is not readable yet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Bench b;
    b.target->AddFault(c.fault);
    EXPECT_EQ(Hex(b.Exchange(c.send)), Hex(c.reply)) << TraceText(b.target->Trace());
  }
}

TEST(SimTarget, NoReplyStillCarriesOutTheCommand) {
  Bench b;
  b.target->AddFault({'P', 1, FaultKind::NoReply});
  EXPECT_EQ(b.Exchange("A\x00\x00"s + "E" + "D" + Page('\x12') + "P"), "\r\r\0"s) << "128 x 0x12 = 0x900";
  EXPECT_EQ(b.target->Flash()[0], 0x12);
}

TEST(SimTarget, LateReplyArrivesAtItsTimeAndHoldsBackLaterReplies) {
  Bench b;
  b.target->AddFault({'?', 1, FaultKind::LateReply, 30});
  b.port.Write("?");
  b.port.Write("A\x00\x00"s);
  b.loop.processEvents(29);
  EXPECT_EQ(b.port.BytesAvailable(), 0) << "the acknowledge must not overtake the late reply";
  b.loop.processEvents(1);
  EXPECT_EQ(b.port.Read(10), "KW\r");
}

TEST(SimTarget, FlushDropsArrivedBytesButNotLaterOnes) {
  Bench b;
  b.target->AddFault({'?', 2, FaultKind::LateReply, 10});
  b.port.Write("?");  // arrives at once
  b.port.Write("?");  // arrives 10 ms later
  EXPECT_EQ(b.port.BytesAvailable(), 2);
  b.port.Flush();
  EXPECT_EQ(b.port.BytesAvailable(), 0);
  b.loop.processEvents(10);
  EXPECT_EQ(b.port.Read(10), "KW") << "the reply that came after the flush is kept";
}

TEST(SimTarget, VanishedTargetFailsThePortOnce) {
  Bench b;
  b.target->AddFault({'E', 1, FaultKind::Vanish});
  EXPECT_EQ(b.Exchange("?"), "KW");
  b.port.Write("?");  // a reply queued but not read when the device goes
  EXPECT_EQ(b.Exchange("A\x00\x00"s + "E"), "");
  EXPECT_TRUE(b.target->Vanished());
  EXPECT_FALSE(b.port.IsOpen());
  EXPECT_EQ(b.port.BytesAvailable(), 0);
  EXPECT_EQ(b.port.Read(10), "");
  EXPECT_FALSE(b.port.Open()) << "an unplugged device cannot be opened again";
  b.port.Write("?");
  b.loop.processEvents(100);
  EXPECT_EQ(b.port.Read(10), "");
  EXPECT_EQ(b.target->SentBytes(),
            "??A\x00\x00"
            "E"s)
      << "nothing crosses the line afterwards";
}

// Each byte crosses the line in 11 bit times, both ways: a reply's first byte is readable one
// byte time after the command's last byte arrived (plus the chip's own time), each further byte
// one byte time later. Until the command has crossed, the port says how much of it is still on
// the way.
TEST(SimTarget, PacedBytesTakeTheLineTimeEachWay) {
  const double byteMs = 11 * 1000.0 / 57600;
  struct Case {
    std::string send;
    double firstMs;  // when the reply's first byte is readable
    int replyBytes;  // each further one a byte time later
    const char* why;
  };
  const Case cases[] = {
      {"?", 2 * byteMs, 2, "one byte out, two back"},
      {"I", 2 * byteMs, 7, "one out, seven back"},
      {"A\x00\x00"s, 4 * byteMs, 1, "three out, one back"},
      {"E", 2 * byteMs + 4.5, 1, "page erase time on top"},
      {"D" + Page('\x01'), 130 * byteMs, 1, "129 out, one back"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    SimTargetConfig config = TestBoard();
    config.paced = true;
    Bench b(config);
    const double sentMs = static_cast<double>(c.send.size()) * byteMs;
    const double wholeMs = c.firstMs + (c.replyBytes - 1) * byteMs;
    b.Exchange(c.send);
    EXPECT_EQ(b.port.BytesOnTheWay(), static_cast<int>(c.send.size()));
    b.loop.now = sentMs - byteMs / 2;
    EXPECT_EQ(b.port.BytesOnTheWay(), 1) << "half of the last byte is still to come";
    b.loop.now = sentMs;
    EXPECT_EQ(b.port.BytesOnTheWay(), 0);
    b.loop.now = c.firstMs - 0.01;
    EXPECT_EQ(b.port.BytesAvailable(), 0);
    b.loop.now = c.firstMs + 1e-9;
    EXPECT_EQ(b.port.BytesAvailable(), 1);
    b.loop.now = wholeMs - 0.01;
    EXPECT_EQ(b.port.BytesAvailable(), c.replyBytes - 1);
    b.loop.now = wholeMs + 1e-9;
    EXPECT_EQ(b.port.Read(1000).size(), static_cast<size_t>(c.replyBytes));
  }
}

TEST(SimTarget, PacedBytesSentSlowerThanTheLineArriveWhenSent) {
  SimTargetConfig config = TestBoard();
  config.paced = true;
  Bench b(config);
  const double byteMs = 11 * 1000.0 / 57600;
  b.port.Write("A");
  b.loop.now = 5;
  b.port.Write("\x00"s);
  b.loop.now = 10;
  b.port.Write("\x00"s);
  EXPECT_DOUBLE_EQ(b.target->NextReplyDueMs(), 10 + 2 * byteMs);
}

TEST(SimTarget, TraceTextShowsBothDirections) {
  Bench b;
  b.Exchange("A\xC0\x37"s);
  b.Exchange("E");
  EXPECT_EQ(TraceText(b.target->Trace()), "sent: 41 C0 37 | received: 0D | sent: 45 | received: 0D");
  EXPECT_EQ(TraceText(b.target->Trace(), 2), "... | sent: 45 | received: 0D");
  EXPECT_EQ(b.target->ReceivedBytes(), "\r\r");
}

TEST(SimSerialPort, ClosedPortReadsNothingAndReopeningRestartsTheLoader) {
  struct Case {
    bool restartOnOpen;
    std::string afterReopen;
    const char* why;
  };
  const Case cases[] = {
      {true, "KW", "a board reset on open: the loader listens again"},
      {false, "", "no reset: the program the loader started does not answer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    SimTargetConfig config = TestBoard();
    config.restartOnOpen = c.restartOnOpen;
    Bench b(config);
    b.port.Write("?");
    b.port.Close();
    EXPECT_FALSE(b.port.IsOpen());
    EXPECT_EQ(b.port.BytesAvailable(), 0);
    EXPECT_EQ(b.port.Read(10), "") << "a closed port returns nothing";
    b.port.Write("X");
    EXPECT_FALSE(b.target->Started()) << "a closed port sends nothing";
    ASSERT_TRUE(b.port.Open());
    EXPECT_EQ(b.port.Read(10), "") << "bytes that came while closed are lost";
    b.port.Write("X");
    EXPECT_TRUE(b.target->Started());
    b.port.Close();
    ASSERT_TRUE(b.port.Open());
    EXPECT_EQ(b.Exchange("?"), c.afterReopen);
  }
}

TEST(SimSerialPort, OpeningDropsAHalfReceivedCommand) {
  Bench b;
  b.port.Write("D\x01\x02"s);  // a page load cut short by the host
  b.port.Close();
  b.port.Open();
  EXPECT_EQ(b.Exchange("?"), "KW");
}

TEST(SimSerialService, OffersOnePortNamedSim) {
  auto target = std::make_shared<SimTarget>();
  SimSerialService service(target);
  ASSERT_EQ(service.Count(), 1);
  EXPECT_EQ(service.PortName(0), "sim");
  auto port = service.Bind(0);
  ASSERT_TRUE(port);
  EXPECT_FALSE(port->IsOpen()) << "binding does not open";
  ASSERT_TRUE(port->Open());
  port->Write("?");
  EXPECT_EQ(port->Read(2), "KW");
}

}  // namespace
}  // namespace bm::sim
