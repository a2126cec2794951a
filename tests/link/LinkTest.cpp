// The serial link: baud pop-up, COMwait, the liveness check, the port search, identification
// and release.
#include <gtest/gtest.h>

#include <stdexcept>

#include "link/TargetBench.h"
#include "support/Inside.h"

namespace bm {
namespace {

using test::Bytes;
using test::Hex;
using test::TargetBench;
using test::TraceOnFailure;

TEST(BaudSelect, RatesOfThePopUpAndNothingElse) {
  struct Case {
    int index;
    int rate;
    const char* why;
  } cases[] = {
      {0, 9600, "first entry"},
      {1, 19200, "second entry"},
      {2, 38400, "third entry"},
      {3, 57600, "the default after a load"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TargetBench b;
    test::Inside(b.presenter).ComPort.SetBaudRate(1234);
    b.presenter.BaudSelect_Change(c.index);
    EXPECT_EQ(test::Inside(b.presenter).ComPort.BaudRate(), c.rate);
    EXPECT_EQ(b.display.baudRate, c.rate) << "the pop-up shows the port's rate";
  }
  TargetBench b;
  test::Inside(b.presenter).ComPort.SetBaudRate(1234);
  b.presenter.BaudSelect_Change(4);
  b.presenter.BaudSelect_Change(-1);
  EXPECT_EQ(test::Inside(b.presenter).ComPort.BaudRate(), 1234) << "an index outside 0..3 changes nothing";
  b.presenter.BaudSelect_Change(2);
  EXPECT_EQ(test::Inside(b.presenter).ComPort.BaudRate(), 38400);
}

TEST(COMwait, AtLeastOnePassAtMostFifty) {
  TargetBench b;
  test::Inside(b.presenter).ComPort.Select(0);
  ASSERT_TRUE(test::Inside(b.presenter).ComPort.Open());
  test::Inside(b.presenter).bootloader.COMwait(0);
  EXPECT_EQ(b.loop.passes, 1) << "one pass even when enough is waiting";
  b.loop.passes = 0;
  test::Inside(b.presenter).ComPort.Write("?");
  test::Inside(b.presenter).bootloader.COMwait(2);
  EXPECT_EQ(b.loop.passes, 1) << "the reply is there after the first pass";
  EXPECT_EQ(test::Inside(b.presenter).ComPort.Read(2), "KW");
}

// A reply that never comes is waited for 50 ms plus the line time of the awaited bytes and of
// the written bytes still on the line (11 bits a byte), in whole passes of 1 ms.
TEST(COMwait, TheWindowIsFiftyMillisecondsPlusTheLineTime) {
  struct Case {
    int baud;
    std::string written;  // to a paced target that will not answer it
    int awaited;
    int passes;
    const char* why;
  };
  const Case cases[] = {
      {57600, "", 1, 51, "0.19 ms of line time takes a pass of its own"},
      {57600, "i", 8, 52, "the 8 bytes of \"i\" and the \"i\" itself: 1.7 ms"},
      {9600, "", 8, 60, "9.2 ms for the 8 bytes of \"i\""},
      {1200, "", 1, 60, "a byte at 1200 baud: 9.2 ms"},
      {300, "", 2, 124, "\"KW\" at 300 baud: 73.3 ms"},
      {300, Bytes({'A', 0, 0}), 1, 197, "\"A\" and its address still going out, and the reply: 146.7 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    sim::SimTargetConfig config = test::TestBoard();
    config.paced = true;
    TargetBench b(config);
    b.target().AddFault({'A', 0, sim::FaultKind::NoReply});
    b.target().AddFault({'i', 0, sim::FaultKind::NoReply});
    ComPort& port = test::Inside(b.presenter).ComPort;
    port.SetBaudRate(c.baud);
    port.Select(0);
    ASSERT_TRUE(port.Open());
    if (!c.written.empty()) port.Write(c.written);
    test::Inside(b.presenter).bootloader.COMwait(c.awaited);
    EXPECT_EQ(b.loop.passes, c.passes);
  }
}

// A slow link (every reply 200 ms late): the documented 50 ms window finds no loader; a window
// widened to 500 ms finds it and writes the image exactly, and the erase and flash check waits
// keep their margin above the window.
TEST(ReplyWindow, AWiderWindowReachesASlowLink) {
  for (const int windowMs : {0, 500}) {
    SCOPED_TRACE(windowMs ? "500 ms window" : "default window");
    TargetBench b;
    TraceOnFailure trace(b, "slow link");
    for (const char letter : std::string("?IiAEDPB"))
      b.target().AddFault({letter, 0, sim::FaultKind::LateReply, 200});
    if (windowMs) b.presenter.engine().SetReplyWindow(windowMs);
    EXPECT_EQ(b.presenter.engine().ReplyWindow(), windowMs ? windowMs : 50);
    const auto image = test::Image(200);
    b.Load(image, {1, 2, 3});
    if (!windowMs) {
      EXPECT_FALSE(b.Connect());
      EXPECT_EQ(b.presenter.LastSearch(), SearchOutcome::NotFound);
      continue;
    }
    ASSERT_TRUE(b.Connect());
    b.presenter.DownLdBtn_Action();
    EXPECT_TRUE(b.dialogs.messages.empty()) << b.dialogs.messages.front();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), b.target().Flash().begin()));
    EXPECT_EQ(b.target().Eeprom()[2], 3);
  }
}

TEST(PortSearch, HighestAnsweringPortWinsAndEachFailureOnlySkipsItsPort) {
  struct Case {
    bool upperSilent, lowerSilent;
    int expectUsed;  // target index identified, -1 = none
    const char* why;
  } cases[] = {
      {false, false, 1, "two targets: the higher index is used"},
      {true, false, 0, "the higher port is silent: the search moves on"},
      {true, true, -1, "no loader anywhere: Target not found"},
  };
  for (const Case& c : cases) {
    TargetBench b(test::TestBoard(), 2);
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    if (c.upperSilent) b.target(1).AddFault({'?', 0, sim::FaultKind::NoReply});
    if (c.lowerSilent) b.target(0).AddFault({'?', 0, sim::FaultKind::NoReply});
    b.Load(test::Image(10));
    b.display.progressMaximum = 42;
    const bool connected = b.Connect();
    EXPECT_EQ(connected, c.expectUsed >= 0);
    EXPECT_EQ(b.display.progressMaximum, 100);
    EXPECT_EQ(b.display.progress, 0);
    EXPECT_EQ(b.target(1).SentBytes(), c.expectUsed == 1 ? "?I" : "?");
    EXPECT_EQ(b.target(0).SentBytes(), c.expectUsed == 1   ? ""
                                       : c.expectUsed == 0 ? "?I"
                                                           : "?")
        << "the lower port is tried only when the higher one fails";
    if (connected) {
      EXPECT_EQ(b.display.Text(Caption::status1), "COMport sim");
      EXPECT_TRUE(b.dialogs.messages.empty());
      EXPECT_EQ(b.display.Text(Caption::ModeLabel), "Target connected");
    } else {
      EXPECT_EQ(b.presenter.ModeNumber(), 1);
      EXPECT_EQ(b.display.Text(Caption::status1), "COMport none");
      EXPECT_EQ(b.dialogs.messages, std::vector<std::string>{"Target not found"});
      EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
    }
  }
}

// A service whose one port fails when bound, as a driver might.
class FailingService : public SerialService {
 public:
  int Count() override { return 1; }
  std::string PortName(int) override { return "broken"; }
  std::string Description(int) override { return "fails when bound"; }
  std::unique_ptr<SerialPort> Bind(int) override { throw std::runtime_error("device busy"); }
};

TEST(PortSearch, AnErrorOnOnePortEndsOnlyThatPortsTry) {
  TargetBench b;
  b.ports.Add(std::make_unique<FailingService>());  // highest index: tried first
  test::Inside(b.presenter).g.serial_count = b.ports.Count();
  b.Load(test::Image(10));
  EXPECT_TRUE(b.Connect());
  EXPECT_TRUE(b.dialogs.messages.empty());
  EXPECT_FALSE(b.presenter.Busy());
}

TEST(PortSearch, NoPortsAtAll) {
  TargetBench b;
  test::Inside(b.presenter).g.serial_count = 0;
  b.Load(test::Image(10));
  EXPECT_FALSE(b.Connect());
  EXPECT_EQ(b.dialogs.messages, std::vector<std::string>{"Target not found"});
}

TEST(PortSearch, TheLoaderAtAnotherRateDoesNotAnswer) {
  auto config = test::TestBoard();
  config.baud = 57600;
  TargetBench b(config);
  b.Load(test::Image(10));
  b.engine.SetBaudRate(9600);
  EXPECT_FALSE(b.Connect());
  b.engine.SetBaudRate(57600);
  b.dialogs.messages.clear();
  EXPECT_TRUE(b.Connect()) << b.TraceText();
}

TEST(CheckComPort, OnTheOpenPortDiscardsStaleBytesAndAsksAgain) {
  TargetBench b;
  b.Load(test::Image(10));
  ASSERT_TRUE(b.Connect());
  // A "KW" is left unread on the line, then the loader stops answering: trusting the stale
  // bytes would start a run on a dead link.
  test::Inside(b.presenter).ComPort.Write("?");
  test::Inside(b.presenter).bootloader.COMwait(2);
  b.target().AddFault({'?', 0, sim::FaultKind::NoReply});
  b.Mark();
  b.presenter.DownLdBtn_Action();
  EXPECT_EQ(b.Sent(), "?") << b.TraceText();
  EXPECT_FALSE(test::Inside(b.presenter).g.COMok);
  EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
  EXPECT_EQ(b.presenter.ModeNumber(), 1) << "no longer connected";
  EXPECT_EQ(b.dialogs.messages, std::vector<std::string>{"Target not found"});
}

TEST(IntToHex, TwoUpperCaseDigitsOfTheByteAtAOneBasedPosition) {
  const std::string reply = Bytes({0x0F, 0xFF, 0x00, 0xA5});
  EXPECT_EQ(IntToHex(reply, 1), "0F");
  EXPECT_EQ(IntToHex(reply, 2), "FF");
  EXPECT_EQ(IntToHex(reply, 3), "00");
  EXPECT_EQ(IntToHex(reply, 4), "A5");
}

TEST(Identify, CaptionsAndTheLoaderExchangeOnlyWhenALoaderIdIsExpected) {
  struct Case {
    int32_t orgId, orgBootId;
    const char* sent;
    const char* loaderCaption;
    const char* why;
  } cases[] = {
      {0, -1, "?I", "Loader ID: ---", "plain HEX: no device check, no \"i\""},
      {0x1E950F, 0x0101, "?Ii", "Loader ID : &&101", "project file: both checked"},
      {0x1E950F, -5, "?I", "Loader ID: ---", "any negative loader ID: not asked for"},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    b.Load(test::Image(10), {}, c.orgId, c.orgBootId);
    EXPECT_TRUE(b.Connect());
    EXPECT_EQ(b.target().SentBytes(), c.sent);
    EXPECT_EQ(b.display.Text(Caption::TargDevIDcapt), "Device ID : &&1E950F");
    EXPECT_EQ(b.display.Text(Caption::TargLoaderIDcapt), c.loaderCaption);
    EXPECT_EQ(test::Inside(b.presenter).g.TargID, 0x1E950F);
    EXPECT_EQ(test::Inside(b.presenter).g.BlockSize, 64);
    EXPECT_EQ(test::Inside(b.presenter).g.FlashEnd, 0x4000);
    EXPECT_TRUE(b.dialogs.messages.empty());
  }
}

TEST(Identify, RefusalsReleaseTheLoaderAndShowTheirMessage) {
  struct Case {
    uint32_t signature;
    std::array<uint16_t, 4> loaderIds;
    int pageWords, flashWords;
    int32_t orgId, orgBootId;
    sim::Fault fault;
    const char* message;  // "" = none
    const char* why;
  } cases[] = {
      {0x1E950F,
       {0x0101, 0, 0, 0},
       64,
       0x4000,
       0x1E9587,
       0x0101,
       {},
       "Device ID :\r1E9587\rexpected!",
       "another chip"},
      {0x1E950F,
       {0x0202, 0, 0, 0},
       64,
       0x4000,
       0x1E950F,
       0x0101,
       {},
       "Requested LoaderID is &h101\rLoaderID in device is &h202\r",
       "another loader, no further IDs"},
      {0x1E950F,
       {0x0202, 0x0A, 0, 0xBEEF},
       64,
       0x4000,
       0,
       0,
       {},
       "Requested LoaderID is &h0\rLoaderID in device is &h202\rLoaderID1 in device is &hA\r"
       "LoaderID2 in device is &h0\rLoaderID3 in device is &hBEEF",
       "expected loader ID 0 is still asked for; further IDs listed"},
      {0x1E950F,
       {0x0101, 0, 0, 0},
       64,
       0x4000,
       0,
       0x0101,
       {'I', 1, sim::FaultKind::NoReply},
       "Communication error",
       "no reply to \"I\""},
      {0x1E950F,
       {0x0101, 0, 0, 0},
       64,
       0x4000,
       0,
       0x0101,
       {'I', 1, sim::FaultKind::WrongReply},
       "Communication error",
       "wrong echo to \"I\""},
      {0x1E950F,
       {0x0101, 0, 0, 0},
       64,
       0x4000,
       0,
       0x0101,
       {'i', 1, sim::FaultKind::NoReply},
       "Communication error",
       "no reply to \"i\""},
      {0x1E950F,
       {0x0101, 0, 0, 0},
       64,
       0x4000,
       0,
       0x0101,
       {'i', 1, sim::FaultKind::ShortReply, 0, 1},
       "Communication error",
       "a one-byte reply to \"i\""},
      {0x1E950F,
       {0x0101, 0, 0, 0},
       129,
       0x4000,
       0,
       -1,
       {},
       "The target reports a flash page of 129 words; only pages of 1 to 128 words can be programmed.",
       "a page larger than the block buffer"},
      {0x1E950F,
       {0x0101, 0, 0, 0},
       64,
       32,
       0,
       -1,
       {},
       "The target reports a flash size of 32 words, smaller than its page of 64 words.",
       "a flash smaller than one page"},
  };
  for (const Case& c : cases) {
    auto config = test::TestBoard();
    config.signature = c.signature;
    config.loaderIds = c.loaderIds;
    config.pageWords = c.pageWords;
    config.flashWords = c.flashWords;
    TargetBench b(config);
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    if (c.fault.command) b.target().AddFault(c.fault);
    b.Load(test::Image(10), {}, c.orgId, c.orgBootId);
    EXPECT_FALSE(b.Connect());
    EXPECT_EQ(b.dialogs.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(b.presenter.ModeNumber(), 0);
    EXPECT_FALSE(test::Inside(b.presenter).g.COMok);
    EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
    EXPECT_TRUE(b.target().Started()) << "released: the loader got \"X\"";
    EXPECT_EQ(b.target().SentBytes().back(), 'X');
    EXPECT_EQ(b.display.Text(Caption::status0), "COMport none");
    EXPECT_EQ(b.display.Text(Caption::status1), "ERROR");
    EXPECT_EQ(b.display.Text(Caption::ModeLabel), "none");
  }
}

// A reply to "i" of 2 to 7 bytes is read with the missing bytes as 0.
TEST(Identify, AShortLoaderIdReplyIsZeroFilled) {
  struct Case {
    int keep;
    const char* message;
  } cases[] = {
      {2, "Requested LoaderID is &h202\rLoaderID in device is &h101\r"},
      {5,
       "Requested LoaderID is &h202\rLoaderID in device is &h101\rLoaderID1 in device is &hA0B\r"
       "LoaderID2 in device is &hC00\rLoaderID3 in device is &h0"},
      {7,
       "Requested LoaderID is &h202\rLoaderID in device is &h101\rLoaderID1 in device is &hA0B\r"
       "LoaderID2 in device is &hC0D\rLoaderID3 in device is &hE00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keep);
    auto config = test::TestBoard();
    config.loaderIds = {0x0101, 0x0A0B, 0x0C0D, 0x0E0F};
    TargetBench b(config);
    b.target().AddFault({'i', 1, sim::FaultKind::ShortReply, 0, c.keep});
    b.Load(test::Image(10), {}, 0, 0x0202);
    EXPECT_FALSE(b.Connect());
    EXPECT_EQ(b.dialogs.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(b.display.Text(Caption::TargLoaderIDcapt), "Loader ID : &&101");
  }
}

// The answer to "?" must be "KW": more bytes after it do no harm (the next command's flush
// drops them), one byte or another answer is no loader.
TEST(PortSearch, OnlyKWAnswersTheLivenessCheck) {
  struct Case {
    sim::Fault fault;
    bool found;
    const char* why;
  } cases[] = {
      {{'?', 1, sim::FaultKind::StrayAfterReply}, true, "\"KW\" and a stray byte"},
      {{'?', 1, sim::FaultKind::ShortReply, 0, 1}, false, "only \"K\""},
      {{'?', 1, sim::FaultKind::WrongReply}, false, "\"LW\""},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    b.target().AddFault(c.fault);
    b.Load(test::Image(10), {}, 0x1E950F, 0x0101);
    EXPECT_EQ(b.Connect(), c.found);
    EXPECT_EQ(b.dialogs.messages,
              c.found ? std::vector<std::string>{} : std::vector<std::string>{"Target not found"});
  }
}

// A loader that answers "?" at once and splits its "I" reply: the echo and the signature come
// at once, the page-size and flash-size bytes `tailMs` later, as a slow line or an adapter's
// latency timer can deliver them. (The simulated target hands out a reply whole.)
class SplitIdentifyService : public SerialService {
 public:
  SplitIdentifyService(const test::ScriptedEventLoop& loop, double tailMs) : loop_(loop), tailMs_(tailMs) {}
  int Count() override { return 1; }
  std::string PortName(int) override { return "split"; }
  std::string Description(int) override { return "splits the identification reply"; }
  std::unique_ptr<SerialPort> Bind(int) override { return std::make_unique<Port>(*this); }

 private:
  class Port : public SerialPort {
   public:
    explicit Port(SplitIdentifyService& line) : line_(line) {}
    bool Open() override { return open_ = true; }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    void SetBaudRate(int baud) override { baud_ = baud; }
    int BaudRate() const override { return baud_; }
    void Write(std::string_view bytes) override {
      for (char c : bytes) {
        if (c == '?') Queue(0, "KW");
        if (c == 'I') {
          Queue(0, Bytes({'I', 0x1E, 0x95, 0x0F}));
          Queue(line_.tailMs_, Bytes({64, 0x00, 0x40}));
        }
      }
    }
    void XmitWait() override {}
    void Drain() override {}
    void Flush() override { Arrived(), received_.clear(); }
    int BytesAvailable() override { return static_cast<int>(Arrived().size()); }
    std::string Read(int n) override {
      Arrived();
      std::string out = received_.substr(0, static_cast<size_t>(n));
      received_.erase(0, out.size());
      return out;
    }

   private:
    void Queue(double afterMs, std::string bytes) { pending_.push_back({line_.loop_.now + afterMs, bytes}); }
    // Moves the bytes whose time has come into the receive buffer.
    const std::string& Arrived() {
      while (!pending_.empty() && pending_.front().first <= line_.loop_.now) {
        received_ += pending_.front().second;
        pending_.erase(pending_.begin());
      }
      return received_;
    }
    SplitIdentifyService& line_;
    bool open_ = false;
    int baud_ = 9600;
    std::vector<std::pair<double, std::string>> pending_;
    std::string received_;
  };

  const test::ScriptedEventLoop& loop_;
  double tailMs_;
};

TEST(Identify, ThePageAndFlashSizeBytesAreAwaitedLikeAnyReply) {
  struct Case {
    double tailMs;
    bool identified;
    const char* why;
  } cases[] = {
      {0, true, "the whole reply at once"},
      {5, true, "page and flash size a few milliseconds after the signature"},
      {500, false, "they never come within the wait: refused, without a message"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    test::ScriptedEventLoop loop;
    PortList ports;
    ports.Add(std::make_unique<SplitIdentifyService>(loop, c.tailMs));
    HeadlessDisplay display;
    test::RecordingDialogs dialogs;
    Engine engine(loop, ports);
    Presenter presenter(engine, display, dialogs);
    presenter.Open();
    test::Inside(presenter).mode = Mode::FileLoaded;
    test::Inside(presenter).g.OrgBootID = -1;  // as a plain HEX file leaves it: no "i"
    presenter.ComportBtn_Action();
    EXPECT_EQ(presenter.ModeNumber(), c.identified ? 2 : 0);
    EXPECT_EQ(test::Inside(presenter).g.BlockSize, c.identified ? 64 : 0);
    EXPECT_EQ(test::Inside(presenter).g.FlashEnd, c.identified ? 0x4000 : 0);
    EXPECT_TRUE(dialogs.messages.empty());
  }
}

TEST(Release, SendsXOnlyWhenConnected) {
  TargetBench b;
  b.presenter.engine().release();
  EXPECT_EQ(b.target().SentBytes(), "");
  b.Load(test::Image(10));
  ASSERT_TRUE(b.Connect());
  b.Mark();
  b.presenter.engine().release();
  EXPECT_EQ(b.Sent(), "X");
  EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
  EXPECT_FALSE(test::Inside(b.presenter).g.COMok);
}

TEST(BusyGuard, ClicksWhileIdentificationWaitsDoNothing) {
  TargetBench b;
  b.Load(test::Image(300), {}, 0x1E950F, 0x0101);
  b.target().AddFault({'i', 1, sim::FaultKind::LateReply, 20});
  int clicks = 0;
  b.loop.When([&] { return b.target().SentBytes() == "?Ii"; },
              [&] {
                ++clicks;
                EXPECT_TRUE(b.presenter.Busy());
                EXPECT_FALSE(b.display.baudEnabled);
                b.presenter.DownLdBtn_Action();
                b.presenter.EraseBtn_Action();
                b.presenter.ComportBtn_Action();
              });
  EXPECT_TRUE(b.Connect());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(b.target().SentBytes(), "?Ii") << "nothing sent by the clicks";
  EXPECT_TRUE(b.display.baudEnabled);
}

}  // namespace
}  // namespace bm
