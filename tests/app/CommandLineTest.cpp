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
    ::unsetenv("BRINDLEMARK_REPLY_TIMEOUT");
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

// Each bounded option takes both of its bounds and refuses one step past either; --baud takes
// every rate from 300 the help promises, the slow ones too.
TEST(CommandLine, NumericOptionsTakeTheirBoundsAndNothingBeyond) {
  Environment none(nullptr, nullptr);
  const struct {
    const char* option;
    const char* value;
    bool accepted;
  } cases[] = {
      {"--wait-after-open", "0", true},
      {"--wait-after-open", "10000", true},
      {"--wait-after-open", "10001", false},
      {"--wait-after-open", "-1", false},
      {"--reply-timeout", "10", true},
      {"--reply-timeout", "60000", true},
      {"--reply-timeout", "9", false},
      {"--reply-timeout", "60001", false},
      {"--reply-timeout", "5s", false},
      {"--connect-attempts", "1", true},
      {"--connect-attempts", "100", true},
      {"--connect-attempts", "0", false},
      {"--connect-attempts", "101", false},
      {"--baud", "300", true},
      {"--baud", "600", true},
      {"--baud", "1200", true},
      {"--baud", "100000000", true},
      {"--baud", "299", false},
      {"--baud", "0", false},
      {"--baud", "-1200", false},
      {"--baud", "100000001", false},
      {"--baud", "3000000000", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.value);
    const ParsedCommandLine parsed = ParseCommandLine({"download", "f.hex", "-P", "sim", c.option, c.value});
    EXPECT_EQ(parsed.line.has_value(), c.accepted) << parsed.text;
    if (!c.accepted) {
      EXPECT_EQ(parsed.exitCode, 2);
    }
  }
}

// The reply window: the documented 50 ms, BRINDLEMARK_REPLY_TIMEOUT instead, the option before
// both; gang's children get it; a window the environment cannot give is a usage error.
TEST(CommandLine, TheReplyWindowComesFromTheOptionTheEnvironmentOrTheDefault) {
  Environment none(nullptr, nullptr);
  EXPECT_EQ(ParseCommandLine({"download", "f.hex", "-P", "sim"}).line->replyTimeoutMs, 50);
  Environment::Set("BRINDLEMARK_REPLY_TIMEOUT", "400");
  EXPECT_EQ(ParseCommandLine({"download", "f.hex", "-P", "sim"}).line->replyTimeoutMs, 400);
  EXPECT_EQ(ParseCommandLine({"ports", "--probe"}).line->replyTimeoutMs, 400);
  const ParsedCommandLine gang =
      ParseCommandLine({"gang", "f.hex", "-P", "a", "--reply-timeout", "900", "--connect-attempts", "2"});
  ASSERT_TRUE(gang.line) << gang.text;
  EXPECT_EQ(gang.line->replyTimeoutMs, 900);
  EXPECT_EQ(ChildArguments(*gang.line, "a"),
            (std::vector<std::string>{"download", "f.hex", "--port", "a", "--json", "--reply-timeout", "900",
                                      "--connect-attempts", "2"}));
  Environment::Set("BRINDLEMARK_REPLY_TIMEOUT", "slow");
  const ParsedCommandLine refused = ParseCommandLine({"download", "f.hex", "-P", "sim"});
  EXPECT_FALSE(refused.line);
  EXPECT_EQ(
      refused.text,
      "brindlemark-cli download: BRINDLEMARK_REPLY_TIMEOUT='slow' is not milliseconds from 10 to 60000");
}

}  // namespace
}  // namespace bm::cli
