#include "platform/win32/Win32Loop.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: it needs its types.
#include <mmsystem.h>

#include <algorithm>
#include <utility>

#include "platform/win32/Interrupts.h"
#include "platform/win32/ReceivingLines.h"
#include "platform/win32/Win32Child.h"

namespace bm::win32 {
namespace {

// A wait covers at most this many handles (one place of MAXIMUM_WAIT_OBJECTS is the message
// queue's). Handles beyond it are looked at every kOverflowLookMs instead of waited on.
constexpr size_t kMostHandles = MAXIMUM_WAIT_OBJECTS - 1;
constexpr auto kOverflowLook = std::chrono::milliseconds(5);

bool Signalled(HANDLE h) { return ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

}  // namespace

Mailbox::Mailbox() : wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

Mailbox::~Mailbox() {
  if (wake_) ::CloseHandle(wake_);
}

void Mailbox::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> hold(lock_);
  if (closed_) return;
  posted_.push_back(std::move(work));
  ::SetEvent(wake_);
}

std::vector<std::function<void()>> Mailbox::Take() {
  std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(posted_, {});
}

void Mailbox::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  posted_.clear();
}

Win32Loop::Win32Loop() { ::timeBeginPeriod(1); }

Win32Loop::~Win32Loop() {
  mail_->Close();
  ::timeEndPeriod(1);
}

Win32Loop::WatchId Win32Loop::Watch(void* handle, std::function<void()> ready) {
  const WatchId id = NewId();
  watches_[id] = {handle, std::move(ready)};
  return id;
}

void Win32Loop::Unwatch(WatchId watch) { watches_.erase(watch); }

bool Win32Loop::Turn(std::optional<Clock::duration> timeout) {
  std::vector<HANDLE> handles;
  if (HANDLE interrupt = InterruptEvent()) handles.push_back(interrupt);
  handles.push_back(mail_->Wake());
  const std::vector<ReceivingLine> lines = ReceivingLines();
  for (const ReceivingLine& line : lines) handles.push_back(line.event);
  std::vector<WatchId> watched;
  for (const auto& [id, watch] : watches_) {
    handles.push_back(watch.handle);
    watched.push_back(id);
  }

  timeout = UntilNextTimer(timeout);
  if (handles.size() > kMostHandles)
    timeout = timeout ? std::min<Clock::duration>(*timeout, kOverflowLook) : kOverflowLook;
  // A timer is never early: the wait is rounded up to whole milliseconds, and a wait that ends
  // a little early (the system's timer ticks) only makes another turn.
  DWORD ms = INFINITE;
  if (timeout) {
    const auto whole = std::chrono::ceil<std::chrono::milliseconds>(*timeout).count();
    ms = static_cast<DWORD>(std::min<int64_t>(whole, INFINITE - 1));
  }
  const DWORD waited = static_cast<DWORD>(std::min(handles.size(), kMostHandles));
  const DWORD woken =
      ::MsgWaitForMultipleObjectsEx(waited, handles.data(), ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  Turned();
  // Each look at a handle or the message queue is a call to the system (under wine, a round trip
  // to its server): a wait that ran out saw nothing signalled, and messages are looked for only
  // when the wait says some came (one that came beside a handle waits for the next turn).
  const bool nothingCame = woken == WAIT_TIMEOUT && waited == handles.size();

  // The thread's windows (the port arrivals' hidden window) get their messages.
  if (woken == WAIT_OBJECT_0 + waited) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  NoteInterrupts(TakeInterrupts());

  bool bytesArrived = false;
  for (const ReceivingLine& line : lines) {
    if (nothingCame || !Signalled(line.event)) continue;
    bytesArrived = true;
    // An earlier pull may have closed this line's port (a hang-up ends the port).
    const std::vector<ReceivingLine> now = ReceivingLines();
    const bool stillOpen = std::any_of(now.begin(), now.end(),
                                       [&line](const ReceivingLine& l) { return l.event == line.event; });
    if (stillOpen && line.pull) line.pull();
  }
  for (const WatchId id : watched) {
    // A callback may have removed this watch (or any other) by now.
    const auto it = watches_.find(id);
    if (nothingCame || it == watches_.end() || !Signalled(it->second.handle)) continue;
    const std::function<void()> ready = it->second.ready;
    ready();
  }
  for (std::function<void()>& work : mail_->Take()) work();
  EndTurn();
  return bytesArrived;
}

std::unique_ptr<ChildProcess> Win32Loop::Start(const std::string& program,
                                               const std::vector<std::string>& args, ChildEvents events) {
  return std::make_unique<Win32Child>(mail_, program, args, std::move(events));
}

}  // namespace bm::win32
