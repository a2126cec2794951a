// Where the port and the rate of a run come from: an option beats the environment, a project's
// BaudRate beats BRINDLEMARK_BAUD (which replaces only the built-in rate), and the avrdude-style
// short options mean what they mean there.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/cli/CommandLine.h"

namespace bm::cli {
namespace {

struct Environment {
  Environment(const char* port, const char* baud) {
    Set("BRINDLEMARK_PORT", port);
    Set("BRINDLEMARK_BAUD", baud);
  }
  ~Environment() {
    ::unsetenv("BRINDLEMARK_PORT");
    ::unsetenv("BRINDLEMARK_BAUD");
  }
  static void Set(const char* name, const char* value) {
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
};

TEST(CommandLine, OptionsBeatTheEnvironment) {
  const struct {
    const char* port;
    const char* baud;
    std::vector<std::string> args;
    std::vector<std::string> devices;
    std::optional<int> optionBaud;
    std::optional<int> defaultBaud;
  } cases[] = {
      {"/dev/ttyUSB7", "115200", {"download", "f.hex"}, {"/dev/ttyUSB7"}, {}, 115200},
      {"/dev/ttyUSB7", "115200", {"download", "f.hex", "-P", "sim", "-b", "19200"}, {"sim"}, 19200, 115200},
      {"/dev/ttyUSB7", nullptr, {"download", "f.hex", "--port", "a", "--port", "b"}, {"a", "b"}, {}, {}},
      {"/dev/ttyUSB7", nullptr, {"gang", "f.hex", "--all-ports"}, {}, {}, {}},
      {"/dev/ttyUSB7", nullptr, {"ports"}, {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    Environment environment(c.port, c.baud);
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    ASSERT_TRUE(parsed.line) << parsed.text;
    EXPECT_EQ(parsed.line->ports.devices, c.devices);
    EXPECT_EQ(parsed.line->baud, c.optionBaud);
    EXPECT_EQ(parsed.line->defaultBaud, c.defaultBaud);
  }
}

TEST(CommandLine, ShortOptionsAndAnUnusableEnvironmentRate) {
  Environment none(nullptr, nullptr);
  const ParsedCommandLine parsed = ParseCommandLine({"download", "f.hex", "-P", "sim", "-v", "-q"});
  ASSERT_TRUE(parsed.line) << parsed.text;
  EXPECT_TRUE(parsed.line->trace);
  EXPECT_TRUE(parsed.line->quiet);
  Environment slow(nullptr, "3");
  const ParsedCommandLine refused = ParseCommandLine({"download", "f.hex", "-P", "sim"});
  EXPECT_FALSE(refused.line);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(refused.text,
            "brindlemark-cli download: BRINDLEMARK_BAUD='3' is not a usable rate (a number from 300)");
}

}  // namespace
}  // namespace bm::cli
