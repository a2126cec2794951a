#include "shell/core/Main.h"

#include <algorithm>
#include <utility>

#include "base/RuntimeExceptionPlus.h"

namespace bm {

Main::Main(StatusDisplay& display_, Dialogs& dialogs_, EventLoop& loop_, SerialService& ports)
    : display(display_), dialogs(dialogs_), loop(loop_), ComPort(ports) {
  UnhandledException = [this](std::exception_ptr error) { ShowUnhandled(error); };
}

void Main::SetUnhandledException(std::function<void(std::exception_ptr)> hook) {
  UnhandledException = std::move(hook);
}

void Main::ShowMessage(const std::string& text) { dialogs.MessageBox(text); }

void Main::SetTrace(TraceSink sink) { ComPort.SetTrace(std::move(sink)); }

Main::Registration Main::Listen(Observer& observer) {
  observers_->push_back(&observer);
  return Registration(observers_, observer);
}

Main::Registration& Main::Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    Registration gone(std::move(*this));
    list_ = std::move(other.list_);
    observer_ = std::exchange(other.observer_, nullptr);
  }
  return *this;
}

Main::Registration::~Registration() {
  const std::shared_ptr<List> list = list_.lock();
  if (list) list->erase(std::remove(list->begin(), list->end(), observer_), list->end());
}

void Main::Open() {
  display.SetCaption(Caption::status0, "");
  display.SetCaption(Caption::status1, "");
  g.serial_count = ComPort.Service().Count();
}

void Main::Timer1_Action() {
  const bool lit = display.LedColour(Led::LedRed) == Util::clRed;
  display.SetLed(Led::LedRed, lit ? Util::clMaroon : Util::clRed);
}

bool Main::_load_Action() {
  FOpenBtn_Action();
  return false;
}

void Main::Handle(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    UnhandledException(std::current_exception());
  }
}

void Main::ShowUnhandled(std::exception_ptr error) {
  dialogs.MessageBox("Unexpected error: " + RuntimeExceptionPlus::Message(error) +
                     RuntimeExceptionPlus::stackTrace(error));
}

void Main::RequestQuit() {
  quitRequested_ = true;
  // Never "X" on the way out: the port is simply closed, so a running sequence fails its next
  // reply check and unwinds.
  bootloader.Interrupt(Interruption::Quit);
  ComPort.Close();
  g.COMok = false;
}

Main::BusyScope::BusyScope(Main& main) : main_(main) {
  if (main_.busy_++ == 0) main_.display.SetBaudEnabled(false);
}

Main::BusyScope::~BusyScope() {
  if (--main_.busy_ == 0) main_.display.SetBaudEnabled(true);
}

}  // namespace bm
