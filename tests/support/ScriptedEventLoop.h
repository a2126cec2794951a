// An event loop for tests: time is injected, and a test can run a user action (Stop, a click,
// quitting) at a chosen yield or reply-wait pass, or as soon as a condition holds.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/EventLoop.h"

namespace bm::test {

class ScriptedEventLoop : public EventLoop {
 public:
  void processEvents(int maxWaitMs) override {
    ++passes;
    now += maxWaitMs;
    Fire();
  }
  void yield() override {
    ++yields;
    Fire();
  }

  // Runs `action` once, at the n-th pass (1-based).
  void AtPass(int n, std::function<void()> action) {
    actions_.push_back({[this, n] { return passes >= n; }, std::move(action)});
  }
  // Runs `action` once, at the n-th yield (1-based).
  void AtYield(int n, std::function<void()> action) {
    actions_.push_back({[this, n] { return yields >= n; }, std::move(action)});
  }
  // Runs `action` once, at the first pass or yield where `condition` holds.
  void When(std::function<bool()> condition, std::function<void()> action) {
    actions_.push_back({std::move(condition), std::move(action)});
  }

  // The injected clock in milliseconds, for the simulated target.
  std::function<double()> Clock() {
    return [this] { return now; };
  }

  double now = 0;
  int passes = 0;
  int yields = 0;

 private:
  struct Action {
    std::function<bool()> due;
    std::function<void()> run;
    bool done = false;
  };
  void Fire() {
    for (size_t i = 0; i < actions_.size(); ++i) {
      if (actions_[i].done || !actions_[i].due()) continue;
      actions_[i].done = true;
      auto run = actions_[i].run;  // the action may add further actions
      run();
    }
  }
  std::vector<Action> actions_;
};

}  // namespace bm::test
