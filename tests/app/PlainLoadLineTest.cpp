// Which load command lines the program on the PATH runs itself, and what it reads from them.
// Every line it does not take goes, unchanged, to the full tool's parser.
#include <gtest/gtest.h>

#include "app/cli/PlainLoadLine.h"

namespace bm::cli {
namespace {

TEST(PlainLoadLine, ReadsThePlainSpellings) {
  const struct {
    std::vector<std::string> args;
    std::string file;
    bool json;
    std::optional<std::string> flashOut, eepromOut;
    std::vector<std::string> ports;
  } cases[] = {
      {{"load", "a.hex"}, "a.hex", false, {}, {}, {}},
      {{"--json", "load", "a.hex"}, "a.hex", true, {}, {}, {}},
      {{"load", "a.hex", "--json"}, "a.hex", true, {}, {}, {}},
      {{"load", "--flash-out", "f.bin", "a.hex", "--eeprom-out=e.bin"}, "a.hex", false, "f.bin", "e.bin", {}},
      {{"--port", "sim", "load", "a.hex", "--port=/dev/ttyUSB0", "--simulated-target"},
       "a.hex",
       false,
       {},
       {},
       {"sim", "/dev/ttyUSB0"}},
      {{"load", "load"}, "load", false, {}, {}, {}},  // a file named "load"
  };
  for (const auto& c : cases) {
    const std::optional<CommandLine> line = ParsePlainLoad(c.args);
    ASSERT_TRUE(line) << c.args.back();
    EXPECT_EQ(line->command, Command::Load);
    EXPECT_EQ(line->file, c.file);
    EXPECT_EQ(line->json, c.json);
    EXPECT_EQ(line->flashOut, c.flashOut);
    EXPECT_EQ(line->eepromOut, c.eepromOut);
    EXPECT_EQ(line->ports.devices, c.ports);
  }
}

TEST(PlainLoadLine, LeavesEveryOtherLineToTheParser) {
  const std::vector<std::vector<std::string>> others = {
      {},
      {"load"},                               // no FILE
      {"load", "a.hex", "b.hex"},             // two
      {"download", "a.hex"},                  // another command
      {"a.hex", "load"},                      // the command is not first
      {"load", "a.hex", "--help"},            //
      {"load", "a.hex", "-h"},                //
      {"load", "-json", "a.hex"},             // a single-dash spelling
      {"load", "a.hex", "--json", "--json"},  // repeated
      {"load", "a.hex", "--flash-out", "x", "--flash-out", "y"},
      {"--flash-out", "x", "load", "a.hex"},       // load's option before load
      {"load", "a.hex", "--flash-out"},            // no value
      {"load", "a.hex", "--flash-out", "--json"},  // an option where the value should be
      {"load", "a.hex", "--flash-out="},           // an empty value
      {"load", "a.hex", "--stop"},                 // not an option of load
      {"load", "--", "a.hex"},                     // end of options
      {"load", "-"},                               //
      {"load", ""},                                //
      {"--version"},                               //
  };
  for (const auto& args : others) {
    std::string text;
    for (const std::string& a : args) text += "'" + a + "' ";
    EXPECT_FALSE(ParsePlainLoad(args)) << text;
  }
}

}  // namespace
}  // namespace bm::cli
