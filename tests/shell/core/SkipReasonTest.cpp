// Why the search passed each port by, as the window and the command-line tool say it: open failures injected
// through a serial service (tests run as root, so a real permission error cannot be made), and
// how the Qt port tells the open errors apart.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/PortList.h"
#include "platform/posix/PosixSerialPort.h"
#include "shell/core/Presenter.h"
#include "shell/core/SkipReason.h"
#include "support/HeadlessDisplay.h"
#include "support/Inside.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedEventLoop.h"

namespace bm {
namespace {

// One port that fails to open as told, or answers "?" with `answer`.
class ScriptedService : public SerialService {
 public:
  ScriptedService(OpenFailure failure, std::string answer)
      : failure_(std::move(failure)), answer_(std::move(answer)) {}
  int Count() override { return 1; }
  std::string PortName(int) override { return "/dev/ttyUSB7"; }
  std::string Description(int) override { return "scripted"; }
  std::unique_ptr<SerialPort> Bind(int) override { return std::make_unique<Port>(*this); }

 private:
  class Port : public SerialPort {
   public:
    explicit Port(ScriptedService& s) : s_(s) {}
    bool Open() override { return open_ = s_.failure_.kind == OpenFailure::Kind::None; }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    void SetBaudRate(int) override {}
    int BaudRate() const override { return 57600; }
    void Write(std::string_view bytes) override {
      if (bytes == "?") received_ = s_.answer_;
    }
    void XmitWait() override {}
    void Drain() override {}
    void Flush() override { received_.clear(); }
    int BytesAvailable() override { return static_cast<int>(received_.size()); }
    std::string Read(int n) override {
      std::string out = received_.substr(0, static_cast<size_t>(n));
      received_.erase(0, out.size());
      return out;
    }
    OpenFailure LastOpenFailure() const override { return s_.failure_; }

   private:
    ScriptedService& s_;
    bool open_ = false;
    std::string received_;
  };
  OpenFailure failure_;
  std::string answer_;
};

TEST(SkipReason, EachWayAPortFailsIsToldApart) {
  using K = OpenFailure::Kind;
  const struct {
    OpenFailure failure;
    std::string answer;
    const char* reason;
  } cases[] = {
      {{K::PermissionDenied, "dialout", "Permission denied", ""},
       "",
       "could not open — permission denied (the device belongs to group 'dialout'; join it with: sudo "
       "adduser "
       "$USER dialout, then log in again)"},
      {{K::PermissionDenied, "", "Permission denied", "root:root, crw-------"},
       "",
       "could not open — permission denied (the device is root:root, crw-------, no group to join; a udev "
       "rule "
       "can give you access, see the README)"},
      {{K::Busy, "", "Device or resource busy", ""}, "", "could not open — busy (held by another program)"},
      {{K::NoDevice, "", "No such file or directory", ""},
       "",
       "could not open — no such device (No such file or directory)"},
      {{K::Other, "", "Input/output error", ""}, "", "could not open — Input/output error"},
      {{}, "", "no answer to \"?\""},
      {{}, "K", "wrong answer to \"?\" (4B instead of \"KW\")"},
      {{}, "OK", "wrong answer to \"?\" (4F 4B instead of \"KW\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    HeadlessDisplay display;
    test::RecordingDialogs dialogs;
    test::ScriptedEventLoop loop;
    PortList ports;
    ports.Add(std::make_unique<ScriptedService>(c.failure, c.answer));
    Engine engine(loop, ports);
    Presenter presenter(engine, display, dialogs);
    presenter.Open();
    test::Inside(presenter).mode = Mode::FileLoaded;
    struct Tries : Engine::Observer {
      void OnPortTried(const PortTry& t) override { tried.push_back(t); }
      std::vector<PortTry> tried;
    } tries;
    const Engine::Registration listening = presenter.engine().Listen(tries);
    const std::vector<PortTry>& tried = tries.tried;
    presenter.ComportBtn_Action();
    ASSERT_EQ(tried.size(), 2u);
    EXPECT_EQ(tried[0].status, PortTry::Status::Trying);
    EXPECT_EQ(tried[1].status, PortTry::Status::Skipped);
    EXPECT_EQ(tried[1].port, "/dev/ttyUSB7");
    EXPECT_EQ(SkipReason(tried[1]), c.reason);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Target not found"}) << "the window's text stays";
    // ... and its information says why, port by port, and at which rate.
    EXPECT_EQ(dialogs.infos,
              std::vector<std::string>{"/dev/ttyUSB7: " + std::string(c.reason) +
                                       "\nBaud rate: " + std::to_string(presenter.engine().BaudRate())});
  }
}

TEST(ExplainOpenFailure, ByTheErrorNotByGuessing) {
  using K = OpenFailure::Kind;
  const struct {
    int openErrno;
    K kind;
    const char* why;
  } cases[] = {
      {EACCES, K::PermissionDenied, "the file is not the user's to open"},
      {EPERM, K::PermissionDenied, "not permitted"},
      {EBUSY, K::Busy, "another program's exclusive flag"},
      {ENOENT, K::NoDevice, "unplugged"},
      {ENXIO, K::NoDevice, "a device file without its device"},
      {ENODEV, K::NoDevice, "no driver behind it"},
      {EIO, K::Other, "anything else keeps the system's words"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const OpenFailure f = posix::ExplainOpenFailure(c.openErrno, {"dialout", "root:dialout"}, "text");
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_EQ(f.group, c.kind == K::PermissionDenied ? "dialout" : "");
    EXPECT_EQ(f.owner, c.kind == K::PermissionDenied ? "root:dialout" : "");
    EXPECT_EQ(f.detail, "text");
  }
}

// Only a group that may read and write the device, and is not root, is worth joining.
TEST(ExplainOpenFailure, SuggestsOnlyAGroupThatIsSafeAndHelps) {
  const struct {
    unsigned gid, mode;
    const char* group;
    const char* joinable;
  } cases[] = {
      {20, 020660, "dialout", "dialout"},
      {20, 020600, "dialout", ""},  // the group may not use it: joining would not help
      {20, 020640, "dialout", ""},  // read only
      {0, 020660, "root", ""},      // never suggest root
      {0, 020666, "wheel", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.group);
    EXPECT_EQ(posix::JoinableGroup(c.gid, c.mode, c.group), c.joinable);
  }
}

}  // namespace
}  // namespace bm
