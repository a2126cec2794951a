// Where the port and the rate of a run come from: an option beats the environment, a project's
// BaudRate beats BRINDLEMARK_BAUD (which replaces only the built-in rate), and the avrdude-style
// short options mean what they mean there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/cli/CommandLine.h"

namespace bm::cli {
namespace {

struct Environment {
  Environment(const char* port, const char* baud) {
    Set("BRINDLEMARK_PORT", port);
    Set("BRINDLEMARK_BAUD", baud);
  }
  ~Environment() {
    Set("BRINDLEMARK_PORT", nullptr);
    Set("BRINDLEMARK_BAUD", nullptr);
    Set("BRINDLEMARK_REPLY_TIMEOUT", nullptr);
  }
  static void Set(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value ? value : "");  // an empty value removes the variable
#else
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
#endif
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

// avrdude's habits: a value joined to its short option and clustered flags, wherever the separate
// forms are accepted (before the command too).
TEST(CommandLine, JoinedValuesAndClusteredFlagsReadAsTheSeparateForms) {
  Environment none(nullptr, nullptr);
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> devices;
    std::optional<int> baud;
    bool quiet, trace;
  } cases[] = {
      {{"download", "f.hex", "-Psim", "-b115200", "-qv"}, {"sim"}, 115200, true, true},
      {{"-Psim", "erase", "f.hex", "-vb300"}, {"sim"}, 300, false, true},
      {{"gang", "f.hex", "-Pa", "-P", "b", "-qPc"}, {"a", "b", "c"}, {}, true, false},
      {{"station", "f.hex", "-qb", "1200"}, {}, 1200, true, false},
      {{"download", "--port=sim", "f.hex", "--baud=2400", "-vq"}, {"sim"}, 2400, true, true},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    ASSERT_TRUE(parsed.line) << parsed.text;
    EXPECT_EQ(parsed.line->file, "f.hex");
    EXPECT_EQ(parsed.line->ports.devices, c.devices);
    EXPECT_EQ(parsed.line->baud, c.baud);
    EXPECT_EQ(parsed.line->quiet, c.quiet);
    EXPECT_EQ(parsed.line->trace, c.trace);
  }
}

// The short forms' mistakes get one line each, naming the option as it was typed: a value is
// never the next option, in a cluster neither.
TEST(CommandLine, MistakesInShortFormsAreNamedAsTyped) {
  Environment none(nullptr, nullptr);
  const struct {
    std::vector<std::string> args;
    const char* text;
  } cases[] = {
      {{"download", "f.hex", "-qP"}, "brindlemark-cli download: -P needs a value"},
      {{"download", "-vP", "--json", "f.hex"}, "brindlemark-cli download: -P needs a value"},
      {{"download", "f.hex", "-vqb"}, "brindlemark-cli download: -b needs a value"},
      {{"download", "f.hex", "-qx"}, "brindlemark-cli download: Unknown option 'x'."},
      {{"load", "f.hex", "-q"}, "brindlemark-cli load: Unknown option 'q'."},
      {{"download", "f.hex", "-b-300"},
       "brindlemark-cli download: --baud -300 is not a usable rate (the slowest is 300)"},
      {{"download", "f.hex", "--stop=yes"}, "brindlemark-cli download: Unexpected value after '--stop'."},
      // A long option with one dash reads as a cluster of short ones: say what was meant.
      {{"download", "f.hex", "-json"},
       "brindlemark-cli download: Unknown option 'json'; long options take two dashes: --json"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    EXPECT_FALSE(parsed.line);
    EXPECT_EQ(parsed.exitCode, 2);
    EXPECT_EQ(parsed.text, c.text);
  }
}

// avrdude's command line, with no command of ours, gets one line: the same job in our words, the
// file of its flash write (its format letter left off, a name the shell would split quoted), its
// port and its rate. Neither chip nor programmer needs naming: the loader names the chip.
TEST(CommandLine, AvrdudesCommandLineIsAnsweredWithOurs) {
  Environment none(nullptr, nullptr);
  const std::string said =
      "brindlemark-cli: avrdude's -p, -c and -U are not needed here (the loader names the chip); the "
      "same job: brindlemark-cli download ";
  const struct {
    std::vector<std::string> args;
    const char* ours;
  } cases[] = {
      {{"-p", "m328p", "-c", "arduino", "-P", "/dev/ttyUSB0", "-U", "flash:w:blink.hex"},
       "blink.hex -P /dev/ttyUSB0"},
      // As the Arduino IDE writes it.
      {{"-v", "-patmega328p", "-carduino", "-P/dev/ttyACM0", "-b115200", "-D",
        "-Uflash:w:/tmp/build/blink.ino.hex:i"},
       "/tmp/build/blink.ino.hex -P /dev/ttyACM0 -b 115200"},
      {{"-c", "stk500v1", "-p", "m328p", "-U", "eeprom:w:data.eep:i", "-U", "flash:w:C:\\fw\\my board.hex"},
       "'C:\\fw\\my board.hex'"},
      {{"-p", "m328p", "-c", "arduino", "-U", "eeprom:w:data.eep"}, "data.eep"},
      {{"-p", "m328p", "-U", "blink.hex", "-C", "/etc/avrdude.conf"}, "blink.hex"},
      // Nothing written: the file is the user's to name.
      {{"-p", "m328p", "-c", "arduino", "-P", "COM3", "-b", "19200"}, "FILE -P COM3 -b 19200"},
      {{"-p", "m328p", "-c", "arduino", "-U", "flash:r:backup.hex:i"}, "FILE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ours);
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    EXPECT_FALSE(parsed.line);
    EXPECT_EQ(parsed.exitCode, 2);
    EXPECT_EQ(parsed.text, said + c.ours);
  }
}

// Every command that takes -b takes the range its help names: from the slowest rate (each reply
// window grows with the line time) to the largest number that is still a rate, and nothing beyond.
TEST(CommandLine, EveryCommandWithARateTakesTheRangeItsHelpNames) {
  Environment none(nullptr, nullptr);
  const std::string range = std::to_string(kMinBaud) + " to " + std::to_string(kMaxBaud) + " baud";
  for (const Command command : {Command::Download, Command::Erase, Command::Gang, Command::Station}) {
    SCOPED_TRACE(CommandName(command));
    EXPECT_NE(HelpText(command).find(range), std::string::npos) << HelpText(command);
    for (const int rate : {kMinBaud, kMaxBaud, kMinBaud - 1, kMaxBaud + 1}) {
      const ParsedCommandLine parsed =
          ParseCommandLine({CommandName(command), "f.hex", "-P", "a", "-b", std::to_string(rate)});
      const bool inRange = rate >= kMinBaud && rate <= kMaxBaud;
      ASSERT_EQ(parsed.line.has_value(), inRange) << rate << ": " << parsed.text;
      if (inRange) {
        EXPECT_EQ(parsed.line->baud, rate);
      } else {
        EXPECT_EQ(parsed.exitCode, 2);
      }
    }
  }
}

// A gang or station board's child runs the download the gang line asks for: its arguments read
// back as the same run, -q included (the boards' own lines go, errors stay).
TEST(CommandLine, ABoardsChildReadsBackAsTheSameRun) {
  Environment none(nullptr, nullptr);
  for (const char* command : {"gang", "station"}) {
    SCOPED_TRACE(command);
    const ParsedCommandLine parsed = ParseCommandLine(
        {command, "f.hex", "-P", "a", "-qvb", "1200", "--stop", "--no-eeprom", "--force", "--verify",
         "--wait-after-open", "200", "--reply-timeout", "300", "--connect-attempts", "3"});
    ASSERT_TRUE(parsed.line) << parsed.text;
    EXPECT_TRUE(parsed.line->quiet);
    const ParsedCommandLine child = ParseCommandLine(ChildArguments(*parsed.line, "a"));
    ASSERT_TRUE(child.line) << child.text;
    const CommandLine& run = *child.line;
    EXPECT_EQ(run.command, Command::Download);
    EXPECT_EQ(run.file, "f.hex");
    EXPECT_EQ(run.ports.devices, std::vector<std::string>{"a"});
    EXPECT_TRUE(run.json);
    EXPECT_TRUE(run.quiet);
    EXPECT_TRUE(run.trace);
    EXPECT_EQ(run.baud, 1200);
    EXPECT_TRUE(run.stop && run.noEeprom && run.force && run.verify);
    EXPECT_FALSE(run.noFlash);
    EXPECT_EQ(run.waitAfterOpenMs, 200);
    EXPECT_EQ(run.replyTimeoutMs, 300);
    EXPECT_EQ(run.connectAttempts, 3);
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
