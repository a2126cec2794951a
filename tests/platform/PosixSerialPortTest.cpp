// The real serial path: PosixSerialPort on the slave of a pseudo-terminal served by
// brindlemark-target-sim. The presenter's runs wait with the window's event loop, which watches
// the port's line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/posix/PosixLine.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/qt/QtEventLoop.h"
#include "shell/core/Presenter.h"
#include "support/HeadlessDisplay.h"
#include "support/Inside.h"
#include "support/Stopwatch.h"
#include "support/TargetSimProcess.h"

namespace bm::posix {
namespace {

using namespace std::string_literals;

// Polls the port the way COMwait does, but without any event-loop turn: Read must pull from the
// OS by itself. Gives up after `ms` of wall time.
std::string ReadAtLeast(PosixSerialPort& port, int n, int ms = 3000) {
  std::string got;
  test::Stopwatch timer;
  while (static_cast<int>(got.size()) < n && timer.elapsed() < ms)
    got += port.Read(n - static_cast<int>(got.size()));
  return got;
}

class NoDialogs : public Dialogs {
 public:
  void MessageBox(const std::string&) override {}
  std::optional<std::string> OpenFile(const std::vector<FileKind>&) override { return std::nullopt; }
};

struct Link {
  explicit Link(std::vector<std::string> options = {}, int baud = 57600)
      : sim(std::move(options)), port(sim.Device()) {
    port.SetBaudRate(baud);
  }
  test::TargetSimProcess sim;
  PosixSerialPort port;
};

TEST(PosixSerialPort, OpensWithEightDataBitsNoParityTwoStopBitsNoFlowControl) {
  Link link({"--baud", "57600"});
  ASSERT_TRUE(link.sim.Started()) << link.sim.StderrText();
  ASSERT_TRUE(link.port.Open()) << link.port.ErrorText();
  EXPECT_TRUE(link.port.IsOpen());
  termios tio{};
  ASSERT_EQ(::tcgetattr(link.port.Handle(), &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(tio.c_cflag & CSTOPB) << "two stop bits";
  EXPECT_FALSE(tio.c_cflag & PARENB) << "no parity";
  EXPECT_FALSE(tio.c_cflag & CRTSCTS) << "no hardware handshake";
  EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF)) << "no XON/XOFF";
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO)) << "raw bytes, no echo";
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD)) << "modem lines ignored";
  EXPECT_FALSE(SetLowLatency(link.port.Handle(), DriverSerialFlags()))
      << "a pseudo-terminal has no low-latency flag: that is normal";
}

// The presenter over the real port to a target process, with `flashBytes` of flash image in place, as a
// load would leave it (mode 1, no loader ID named, 57600 baud).
struct MainOverPort {
  explicit MainOverPort(std::vector<std::string> options, int flashBytes)
      : sim(std::move(options)), ports(false, {sim.Device()}) {
    presenter.Open();
    presenter.engine().SetReplyWindow(test::kPtyReplyWindowMs);
    for (int i = 0; i < flashBytes; ++i)
      test::Inside(presenter).g.FlashArr[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 % 251);
    test::Inside(presenter).g.FBytesRead = flashBytes;
    test::Inside(presenter).g.OrgBootID = -1;
    test::Inside(presenter).mode = Mode::FileLoaded;
    display.SetCheckValue(Check::ProgFlashChk, true);
    test::Inside(presenter).ComPort.SetBaudRate(57600);
  }
  test::TargetSimProcess sim;
  PosixSerialService ports;
  qt::QtEventLoop loop;
  HeadlessDisplay display;
  NoDialogs dialogs;
  Engine engine{loop, ports};
  Presenter presenter{engine, display, dialogs};
};

// A whole download through the real port: a page costs one kernel drain (before its checksum
// window), not one per byte, and every page byte is its own write at the line's pace.
TEST(PosixSerialPort, ADownloadDrainsOncePerPage) {
  constexpr int kPages = 4;
  MainOverPort rig({"--paced"}, kPages * 128);
  test::TargetSimProcess& sim = rig.sim;
  Presenter& presenter = rig.presenter;
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  presenter.ComportBtn_Action();
  ASSERT_EQ(presenter.ModeNumber(), 2) << sim.StderrText();
  const SerialPort::Counts before = test::Inside(presenter).ComPort.LineCounts();
  presenter.DownLdBtn_Action();
  ASSERT_TRUE(presenter.LastRun().result.Clean()) << sim.StderrText();
  const SerialPort::Counts run{test::Inside(presenter).ComPort.LineCounts().writes - before.writes,
                               test::Inside(presenter).ComPort.LineCounts().drains - before.drains};
  EXPECT_EQ(run.drains, kPages) << "one drain per page";
  // A write per byte: per page "A" and its two address bytes, "E", "D", 128 data bytes, "P";
  // before them "?", "I", and the last page's "A" (three writes) and "E".
  EXPECT_EQ(run.writes, kPages * (3 + 1 + 1 + 128 + 1) + 1 + 1 + 3 + 1);
}

// The driver's low-latency flag is set on open and put back on close; one the user had set
// before is left as it was. A stand-in for the serial ioctls plays the driver.
TEST(PosixSerialPort, TheLowLatencyFlagIsRestoredOnClose) {
  const int low = LowLatencyFlag();
  for (const int before : {0x40, 0x40 | low}) {
    SCOPED_TRACE(before);
    int flags = before;
    std::vector<int> written;
    const SerialFlagsIo driver{[&](int) -> std::optional<int> { return flags; },
                               [&](int, int value) {
                                 written.push_back(value);
                                 flags = value;
                                 return true;
                               }};
    test::TargetSimProcess sim;
    PosixSerialPort port(sim.Device(), driver);
    ASSERT_TRUE(port.Open()) << port.ErrorText();
    EXPECT_EQ(flags, before | low) << "set while open";
    port.Close();
    EXPECT_EQ(flags, before) << "as it was before the port opened";
    const std::vector<int> expected =
        (before & low) ? std::vector<int>{} : std::vector<int>{before | low, before};
    EXPECT_EQ(written, expected) << "a flag already set is not touched";
  }
}

// Close lets what is still queued reach the wire: the line time of the bytes written (a lower
// bound only, so a busy machine cannot make it fail).
TEST(PosixSerialPort, CloseWaitsOutTheLineTimeOfWhatIsQueued) {
  Link link({}, 1200);
  ASSERT_TRUE(link.port.Open()) << link.port.ErrorText();
  test::Stopwatch t;
  link.port.Write(std::string(20, 'Z'));  // not commands: the target ignores them
  link.port.Close();
  const int64_t lineMs = 20 * 11 * 1000 / 1200;  // 1 start, 8 data and 2 stop bits each
  EXPECT_GE(t.elapsed(), lineMs);
}

TEST(PosixSerialPort, OpenFailsOnAMissingDeviceAndSaysWhy) {
  PosixSerialPort port("/dev/brindlemark-no-such-device");
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Read(10), "");
  EXPECT_FALSE(port.ErrorText().empty());
}

TEST(PosixSerialPort, ExchangesBytesWithoutBlockingOrAnEventLoop) {
  Link link({"--baud", "57600"});
  ASSERT_TRUE(link.port.Open()) << link.port.ErrorText();
  EXPECT_EQ(link.port.Read(10), "") << "nothing there: returns at once, empty";
  EXPECT_EQ(link.port.BytesAvailable(), 0);
  link.port.Write("?");
  EXPECT_EQ(ReadAtLeast(link.port, 2), "KW") << link.sim.StderrText();
  link.port.Write("I");
  EXPECT_EQ(ReadAtLeast(link.port, 7), "I\x1E\x95\x0F\x40\x00\x38"s) << "raw bytes, no text encoding";
}

TEST(PosixSerialPort, PageSentByteByByteWithXmitWaitArrivesWhole) {
  Link link({"--paced"});
  ASSERT_TRUE(link.port.Open());
  link.port.Write("D");
  link.port.XmitWait();
  for (int i = 0; i < 128; ++i) {
    link.port.Write(std::string(1, static_cast<char>(i)));
    link.port.XmitWait();
  }
  EXPECT_EQ(ReadAtLeast(link.port, 1), "\xC0"s) << "sum 0..127 = 8128 = 0xC0 mod 256\n"
                                                << link.sim.StderrText();
}

// A pseudo-terminal's drain returns at once. What the port's line model still has on the line
// afterwards is what the drain did not prove gone (a reply window adds its line time), and it
// runs out with the line time, whatever the scheduler did meanwhile.
TEST(PosixSerialPort, BytesOnTheWayFollowTheLineModelPastAnEarlyDrain) {
  Link link({}, 1200);  // 9.17 ms a byte
  ASSERT_TRUE(link.port.Open());
  EXPECT_EQ(link.port.BytesOnTheWay(), 0);
  test::Stopwatch t;
  link.port.Write(std::string(20, '\0'));  // 183 ms of line time; an idle loader ignores them
  link.port.Drain();
  const int left = link.port.BytesOnTheWay();
  const double elapsedMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
  EXPECT_LE(left, 20);
  EXPECT_GE(left, static_cast<int>((20 * 11000.0 / 1200 - elapsedMs) / (11000.0 / 1200)))
      << "after " << elapsedMs << " ms";
  while (t.elapsed() < 200) {
  }
  EXPECT_EQ(link.port.BytesOnTheWay(), 0);
}

TEST(PosixSerialPort, FlushKeepsTheJustWrittenCommandAndDropsOlderReplies) {
  // At 1200 baud a paced reply to "?" takes about 27 ms, so the flush below comes before it.
  Link link({"--paced", "--trace", "--page-words", "4"}, 1200);
  ASSERT_TRUE(link.port.Open());
  link.port.Write("?");
  test::Stopwatch t;
  while (link.port.BytesAvailable() < 2 && t.elapsed() < 3000) {
  }
  ASSERT_EQ(link.port.BytesAvailable(), 2) << "the first reply sits in the port's buffer";
  link.port.Write("?");
  t.restart();
  while (t.elapsed() < 100) {
  }  // the second reply arrives in the OS input queue and is not pulled
  link.port.Write("D");
  link.port.Flush();
  EXPECT_EQ(link.port.BytesAvailable(), 0) << "both older replies are gone";
  link.port.Write(std::string(8, '\x02'));
  EXPECT_EQ(ReadAtLeast(link.port, 2, 500), "\x10"s) << "only the reply to the D written before the flush\n"
                                                     << link.sim.StderrText();
}

TEST(PosixSerialPort, CloseRightAfterWriteStillDeliversTheByte) {
  Link link({"--exit-after-stop"});
  ASSERT_TRUE(link.port.Open());
  link.port.Write("X");
  link.port.Close();
  EXPECT_FALSE(link.port.IsOpen());
  EXPECT_EQ(link.port.Read(10), "") << "a closed port reads nothing";
  EXPECT_EQ(link.sim.WaitExit(5000), 0) << "the loader got its X and the tool ended";
}

TEST(PosixSerialPort, VanishedDeviceFailsOnceAndStaysClosed) {
  Link link({"--fault", "E:1:vanish"});
  ASSERT_TRUE(link.port.Open());
  link.port.Write("?");
  ASSERT_EQ(ReadAtLeast(link.port, 2), "KW");
  link.port.Write("E");
  test::Stopwatch t;
  while (link.port.IsOpen() && t.elapsed() < 3000) link.port.BytesAvailable();
  EXPECT_FALSE(link.port.IsOpen()) << "a hung-up device reads as closed";
  const std::string firstError = link.port.ErrorText();
  EXPECT_FALSE(firstError.empty());
  link.port.Write("?");
  link.port.XmitWait();
  link.port.Flush();
  EXPECT_EQ(link.port.Read(10), "");
  EXPECT_EQ(link.port.BytesAvailable(), 0);
  EXPECT_EQ(link.port.ErrorText(), firstError) << "only the first error is kept";
  EXPECT_FALSE(link.port.Open()) << "the device is gone";
}

// The real device of a connected, idle target goes away (the pseudo-terminal's master closes,
// as an unplugged adapter's device does): the next look ends the connection.
TEST(PosixSerialPort, AnIdleConnectionNoticesTheDeviceGone) {
  MainOverPort rig({}, 128);
  test::TargetSimProcess& sim = rig.sim;
  Presenter& presenter = rig.presenter;
  HeadlessDisplay& display = rig.display;
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  presenter.ComportBtn_Action();
  ASSERT_EQ(presenter.ModeNumber(), 2) << sim.StderrText();
  EXPECT_FALSE(presenter.WatchConnection());
  sim.Stop();
  test::Stopwatch t;
  bool ended = false;
  while (!ended && t.elapsed() < 3000) ended = presenter.WatchConnection();
  EXPECT_TRUE(ended);
  EXPECT_EQ(presenter.ModeNumber(), 1);
  EXPECT_EQ(display.Text(Caption::status1), "Adapter unplugged");
  EXPECT_FALSE(presenter.WatchConnection()) << "said once";
}

// A port another program holds, by its exclusive flag or by a flock, is busy, and looking at it
// disturbs nothing: as root the open passes the other program's exclusive flag, and its line
// settings, the reply waiting in its input and the half-received command of the board behind it
// must all stay as they were. An open port holds a flock of its own, and no exclusive flag on a
// pseudo-terminal (there it would outlive a killed run).
TEST(PosixSerialPort, APortAnotherProgramHoldsIsBusyAndLeftAsItWas) {
  Link link({"--paced"});
  ASSERT_TRUE(link.sim.Started()) << link.sim.StderrText();
  const int other = ::open(link.sim.Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  termios mine{};
  ASSERT_EQ(::tcgetattr(other, &mine), 0);
  ::cfmakeraw(&mine);
  ::cfsetspeed(&mine, B19200);  // settings of its own: one stop bit, another rate
  mine.c_cflag &= ~CSTOPB;
  ASSERT_EQ(::tcsetattr(other, TCSANOW, &mine), 0);
  for (const bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive ? "exclusive flag" : "flock");
    if (exclusive)
      ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    else
      ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    // "?" and the first byte of "A" in one write: once the reply is there, the board has the "A".
    ASSERT_EQ(::write(other, "?A", 2), 2);
    pollfd p{other, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1) << link.sim.StderrText();
    const LineRates before = RatesOf(other);
    termios was{};
    ::tcgetattr(other, &was);

    EXPECT_FALSE(link.port.Open());
    EXPECT_EQ(link.port.LastOpenFailure().kind, OpenFailure::Kind::Busy);

    termios is{};
    ::tcgetattr(other, &is);
    EXPECT_EQ(std::memcmp(&was, &is, sizeof was), 0) << "the line's settings are untouched";
    EXPECT_EQ(RatesOf(other).output, before.output);
    int flag = 0;
    ASSERT_EQ(::ioctl(other, TIOCGEXCL, &flag), 0);
    EXPECT_EQ(flag != 0, exclusive) << "the other program's flag is as it set it";
    ASSERT_EQ(::write(other, "\x00\x00", 2), 2);  // the rest of the "A"
    std::string got;
    for (test::Stopwatch t; got.size() < 3 && t.elapsed() < 3000;) {
      char buf[8];
      const ssize_t n = ::read(other, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "KW\r") << "its waiting reply kept, and the board acknowledges the address: not reset\n"
                           << link.sim.StderrText();
    if (exclusive)
      ::ioctl(other, TIOCNXCL);
    else
      ::flock(other, LOCK_UN);
  }
  ASSERT_TRUE(link.port.Open()) << link.port.ErrorText();
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "our own lock is held while open";
  EXPECT_NE(::flock(other, LOCK_SH | LOCK_NB), 0) << "exclusively: a second instance is kept out too";
  int flag = 0;
  ASSERT_EQ(::ioctl(other, TIOCGEXCL, &flag), 0);
  EXPECT_EQ(flag, 0) << "no exclusive flag on a pseudo-terminal";
  link.port.Close();
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0) << "and released on close";
  ::close(other);
}

// The stable name of a port is the link the system keeps for it in /dev/serial/by-id.
TEST(PortIdentity, TheStableNameIsTheLinkThatLeadsToTheDevice) {
  test::TargetSimProcess sim;
  ASSERT_TRUE(sim.Started());
  char dir[] = "/tmp/bm-byid-XXXXXX";
  const std::string folder = ::mkdtemp(dir);
  const std::string link = folder + "/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";
  std::filesystem::create_symlink("/dev/null", folder + "/other");
  std::filesystem::create_symlink(sim.Device(), link);
  EXPECT_EQ(StableName(sim.Device(), folder), link);
  EXPECT_EQ(StableName("/dev/zero", folder), "");
  std::filesystem::remove_all(folder);
}

TEST(PosixSerialPort, LoaderAtAnotherRateHearsNoiseUntilTheRateMatches) {
  Link link({"--baud", "57600"}, 19200);
  ASSERT_TRUE(link.port.Open());
  link.port.Write("?");
  EXPECT_EQ(ReadAtLeast(link.port, 2, 200), "");
  link.port.SetBaudRate(57600);  // on the open port
  link.port.Write("?");
  EXPECT_EQ(ReadAtLeast(link.port, 2), "KW");
}

// A loader that listens at a rate outside the classic table only (a 16 MHz board at 250000 or
// 1000000 baud) answers once the device really runs at it, opened at that rate or switched to it.
TEST(PosixSerialPort, ALoaderAtARateOutsideTheTableAnswers) {
  for (const int baud : {250000, 1'000'000}) {
    SCOPED_TRACE(baud);
    for (const bool switched : {false, true}) {
      SCOPED_TRACE(switched ? "switched on the open port" : "opened at it");
      Link link({"--baud", std::to_string(baud)}, switched ? 57600 : baud);
      ASSERT_TRUE(link.port.Open()) << link.port.ErrorText();
      if (switched) {
        link.port.Write("?");
        EXPECT_EQ(ReadAtLeast(link.port, 2, 200), "") << "not at 57600";
        link.port.SetBaudRate(baud);
      }
      EXPECT_EQ(RatesOf(link.port.Handle()).output, baud);
      link.port.Write("?");
      EXPECT_EQ(ReadAtLeast(link.port, 2), "KW") << link.sim.StderrText();
    }
  }
}

TEST(PosixSerialPort, ReopeningTheDeviceResetsALoaderThatLeft) {
  Link link({"--trace"});
  ASSERT_TRUE(link.port.Open());
  link.port.Write("X?");
  // The target has read the X (its trace says so) before the device closes: left unscheduled
  // until after the reopening, it would take it as the new session's first byte.
  for (int waited = 0; link.sim.StderrText().find("sent:") == std::string::npos && waited < 10000;
       waited += 5)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(ReadAtLeast(link.port, 2, 200), "") << "the loader left";
  link.port.Close();
  ASSERT_TRUE(link.port.Open());
  link.port.Write("?");
  EXPECT_EQ(ReadAtLeast(link.port, 2), "KW") << link.sim.StderrText();
}

TEST(PosixSerialPort, TargetToolPreloadsAndSavesItsImages) {
  // A folder of its own: fixed names in /tmp would be another user's files on a shared machine.
  char folder[] = "/tmp/bm-sim-images-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string dir = std::string(folder) + "/";
  const std::string flashIn = dir + "flash-in.bin", flashOut = dir + "flash-out.bin";
  const std::string eepromOut = dir + "eeprom-out.bin";
  std::ofstream(flashIn, std::ios::binary) << std::string(4, '\x0F');
  Link link({"--flash-in", flashIn, "--flash-out", flashOut, "--eeprom-out", eepromOut, "--flash-words",
             "256", "--boot-words", "256", "--eeprom-bytes", "16", "--page-words", "2"});
  ASSERT_TRUE(link.port.Open());
  // Page 0 written without an erase (bits only clear), page 1 erased and written, one EEPROM byte.
  link.port.Write("A\x00\x00"s + "D\xF1\xF2\xF3\xF4" + "P" + "A\x02\x00"s + "E" + "D\x11\x22\x33\x44" + "P" +
                  "B\x03\x00\x5A"s);
  EXPECT_EQ(ReadAtLeast(link.port, 8), "\r\xCA\r\r\r\xAA\r\r"s) << link.sim.StderrText();
  EXPECT_EQ(link.sim.Stop(), 0);
  std::ifstream f(flashOut, std::ios::binary), e(eepromOut, std::ios::binary);
  const std::string flash((std::istreambuf_iterator<char>(f)), {}),
      eeprom((std::istreambuf_iterator<char>(e)), {});
  ASSERT_EQ(flash.size(), 1024u) << "application and boot section";
  EXPECT_EQ(flash.substr(0, 9), "\x01\x02\x03\x04\x11\x22\x33\x44\xFF"s);
  ASSERT_EQ(eeprom.size(), 16u);
  EXPECT_EQ(eeprom.substr(2, 3), "\xFF\x5A\xFF"s);
  std::filesystem::remove_all(folder);
}

TEST(PosixSerialService, AppendsTheNamedDevicesAfterTheSystemPorts) {
  PosixSerialService none(false, {"/dev/pts/98", "/tmp/link"});
  ASSERT_EQ(none.Count(), 2);
  EXPECT_EQ(none.PortName(0), "/dev/pts/98");
  EXPECT_EQ(none.PortName(1), "/tmp/link");
  PosixSerialService system(true, {"/tmp/link"});
  EXPECT_EQ(system.PortName(system.Count() - 1), "/tmp/link");
}

TEST(PosixSerialService, BoundPortOpensTheNamedDevice) {
  test::TargetSimProcess sim;
  PosixSerialService service(false, {sim.Device()});
  auto port = service.Bind(0);
  ASSERT_TRUE(port);
  EXPECT_FALSE(port->IsOpen());
  port->SetBaudRate(19200);
  ASSERT_TRUE(port->Open());
  port->Write("?");
  EXPECT_EQ(ReadAtLeast(static_cast<PosixSerialPort&>(*port), 2), "KW");
}

}  // namespace
}  // namespace bm::posix
