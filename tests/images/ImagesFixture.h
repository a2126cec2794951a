// What the loading tests share: the presenter over an engine, on a headless display with
// recording dialogs and a scripted event loop, and a scratch folder for the files a test writes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/FileOpen.h"
#include "platform/PortList.h"
#include "shell/core/Presenter.h"
#include "support/HeadlessDisplay.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedEventLoop.h"
#include "support/ShownFindings.h"

namespace bm::test {

class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info ? info->test_suite_name() : "t") + "_" + (info ? info->name() : "t");
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = std::filesystem::temp_directory_path() / ("bm-images-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }

  std::string Write(const std::string& name, const std::string& content) const {
    const auto file = path_ / PathFromName(name);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    return Write(name, std::string(bytes.begin(), bytes.end()));
  }
  std::string Path(const std::string& name) const { return (path_ / PathFromName(name)).string(); }

 private:
  std::filesystem::path path_;
};

struct MainFixture {
  HeadlessDisplay display;
  RecordingDialogs dialogs;
  ScriptedEventLoop loop;
  PortList ports;
  Engine engine{loop, ports};
  Presenter presenter{engine, display, dialogs};
  std::exception_ptr escaped;

  MainFixture() {
    presenter.SetUnhandledException([this](std::exception_ptr e) { escaped = e; });
  }
  // Chooses `path` in the file-open dialog of the Load button, as the view would run it.
  void Load(const std::string& path) {
    dialogs.answer = path;
    presenter.Handle([this] { presenter.FOpenBtn_Action(); });
  }
};

}  // namespace bm::test
