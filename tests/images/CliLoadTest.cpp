// brindlemark-cli load, run as the built program: JSON report, exit status, image files.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "ImagesFixture.h"

namespace bm {
namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun Cli(const std::string& args) {
  const std::string command = std::string(BM_CLI_PATH) + " " + args + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  CliRun run{-1, {}};
  if (!pipe) return run;
  std::array<char, 4096> chunk;
  size_t got;
  while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.out.append(chunk.data(), got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }
std::string Examples(const std::string& name) { return Quote(std::string(BM_EXAMPLES_DIR) + "/" + name); }

TEST(CliLoad, ReportsTheLoadAsJson) {
  struct Case {
    const char* why;
    std::string file;
    int status;
    int mode;
    std::string deviceId;
    bool paramEnabled;
    std::vector<std::string> messages;
    std::vector<std::string> trail;  // the error's trail: empty unless a reader raised it
  };
  test::ScratchDir dir;
  const Case cases[] = {
      {"the example project", Examples("blink/blink.ppro"), 0, 1, "1E950F", false, {}, {}},
      {"the example pack", Examples("blink.pack"), 0, 1, "1E950F", true, {}, {}},
      {"a file that does not exist",
       Quote(dir.Path("nope.hex")),
       1,
       0,
       "---",
       false,
       {"load: cannot load '" + dir.Path("nope.hex") + "': no such file"},
       {}},
      {"an empty EEPROM file: nothing loaded, and why",
       Quote(dir.Write("no.eep", "")),
       1,
       0,
       "---",
       false,
       {"End of file record missing!\nat Line:1\n (file: no.eep)"},
       {}},
      {"an encrypted pack: one line, no box",
       Quote(dir.Write("x.enc", "data")),
       1,
       0,
       "---",
       false,
       {"Encrypted files (.enc, .encr) cannot be loaded: x.enc"},
       {}},
      {"an error escaping the pack reader",
       Quote(dir.Write("cut.pack", std::string(5, 'x'))),
       1,
       0,
       "---",
       false,
       {},
       {"dParamList.LoadPackFile", "Main.OpenButton.Action"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const CliRun run = Cli("load --json " + c.file);
    EXPECT_EQ(run.status, c.status);
    const auto j = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << run.out;
    EXPECT_EQ(j["mode"], c.mode);
    EXPECT_EQ(j["deviceId"], c.deviceId);
    EXPECT_EQ(j["paramEnabled"], c.paramEnabled);
    EXPECT_EQ(j["messages"].template get<std::vector<std::string>>(), c.messages);
    // "error" is null exactly when the load succeeded: a script reads one key.
    if (c.status == 0) {
      EXPECT_TRUE(j["error"].is_null());
    } else {
      ASSERT_TRUE(j["error"].is_object()) << run.out;
      EXPECT_FALSE(j["error"]["what"].template get<std::string>().empty());
      EXPECT_EQ(j["error"]["trail"].template get<std::vector<std::string>>(), c.trail);
    }
  }
}

TEST(CliLoad, FieldsOfALoadedProject) {
  const auto j = nlohmann::json::parse(Cli("load --json " + Examples("blink/blink.ppro")).out);
  EXPECT_EQ(j["title"], "Brindlemark [blink.ppro]");
  EXPECT_EQ(j["cpuName"], "ATmega328P");
  EXPECT_EQ(j["orgId"], 0x1E950F);
  EXPECT_EQ(j["orgBootId"], 0x0101);
  EXPECT_EQ(j["orgEepEnd"], 1024);
  EXPECT_EQ(j["baud"], 57600);
  EXPECT_EQ(j["progFlash"], true);
  EXPECT_EQ(j["progEeprom"], true);
  EXPECT_EQ(j["flashSize"], std::to_string(j["flashBytes"].get<int>()) + " Bytes");
}

TEST(CliLoad, WritesTheLoadedImages) {
  test::ScratchDir dir;
  const std::string hex = dir.Write("a.hex", ":03001000010203E7\n:00000001FF\n");
  const CliRun run = Cli("load " + Quote(hex) + " --flash-out " + Quote(dir.Path("f.bin")) +
                         " --eeprom-out " + Quote(dir.Path("e.bin")));
  EXPECT_EQ(run.status, 0);
  std::ifstream flash(dir.Path("f.bin"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(flash)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, std::string(16, '\xFF') + "\x01\x02\x03") << "0 up to the image end, gaps as 0xFF";
  EXPECT_EQ(std::filesystem::file_size(dir.Path("e.bin")), 0u) << "no EEPROM image: an empty file";
}

TEST(CliLoad, UsageErrorsExitWith2) {
  for (const char* args : {"load", "load a.hex --bogus", "load a.hex b.hex", "load a.hex --flash-out"})
    EXPECT_EQ(Cli(args).status, 2) << args;
}

}  // namespace
}  // namespace bm
