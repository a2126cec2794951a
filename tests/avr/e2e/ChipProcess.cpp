#include "ChipProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace avrtest {
namespace {

std::string readText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> readBytes(const std::string &path) {
  const std::string text = readText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

std::string ChipProcess::loaderHex(const std::string &mcu) {
  return std::string(BOOTLOADER_DIR) + "/bootloader-" + mcu + ".hex";
}

ChipProcess::ChipProcess(const ChipConfig &config) {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/avr-chip-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    startError_ = "mkdtemp failed";
    return;
  }
  dir_ = pattern;

  const std::string loader = config.loader.empty() ? loaderHex(config.mcu) : config.loader;
  std::vector<std::string> args = {AVR_CHIP, "--mcu", config.mcu, "--loader", loader, "--baud",
                                   std::to_string(BOOT_BAUD), "--pty-path-file", file("pty"), "--flash-out",
                                   file("flash.bin"), "--eeprom-out", file("eeprom.bin"), "--transcript",
                                   file("transcript"), "--report", file("report"),
                                   // a last resort if a test dies without stopping it
                                   "--timeout", "600"};
  if (!config.app.empty()) {
    args.push_back("--app");
    args.push_back(config.app);
  }
  if (config.freq > 0) {
    args.push_back("--freq");
    args.push_back(std::to_string(config.freq));
  }
  if (config.corruptWrite > 0) {
    args.push_back("--corrupt-write");
    args.push_back(std::to_string(config.corruptWrite));
  }
  args.insert(args.end(), config.extra.begin(), config.extra.end());
  pid_ = fork();
  if (pid_ == 0) {
    const int log = open(file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int i = 0; i < 500; ++i) {
    std::string text = readText(file("pty"));
    if (!text.empty() && text.back() == '\n') {
      text.pop_back();
      port_ = text;
      return;
    }
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  startError_ = "avr-chip did not start: " + readText(file("stderr"));
}

ChipProcess::~ChipProcess() {
  stop();
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

std::string ChipProcess::transcript() const { return readText(file("transcript")); }

bool ChipProcess::waitForOutput(const std::string &text, double seconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (transcript().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

const ChipState &ChipProcess::stop() {
  if (pid_ <= 0) return state_;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  state_.flash = readBytes(file("flash.bin"));
  state_.eeprom = readBytes(file("eeprom.bin"));
  state_.harnessLog = readText(file("stderr"));
  std::istringstream report(readText(file("report")));
  for (std::string line; std::getline(report, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) state_.report[line.substr(0, eq)] = std::stoull(line.substr(eq + 1));
  }
  return state_;
}

}  // namespace avrtest
