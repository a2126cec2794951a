// The command line of brindlemark-cli: one option table per command, read with CLI11, and the
// help texts made from the same tables, so the help always lists every option. Global options
// (--port, --simulated-target, --json) may stand before or after the command; short options take
// their value joined or apart (-b115200, -b 115200) and flags cluster (-qv), as avrdude users
// type them. avrdude's own command line (-p, -c, -U and no command) gets ours for the same job.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/PortOptions.h"
#include "app/cli/RecordOptions.h"
#include "link/Bootloader.h"

namespace bm::cli {

// The reply window: the documented 50 ms unless --reply-timeout or BRINDLEMARK_REPLY_TIMEOUT
// widens it (or narrows it, down to kMinReplyTimeoutMs).
inline constexpr int kDefaultReplyTimeoutMs = kComWaitPasses * kPassMs;
inline constexpr int kMinReplyTimeoutMs = 10;

enum class Command { Ports, Load, Download, Erase, Gang, Station, Loaders, Records, Help };

struct CommandLine {
  Command command = Command::Help;
  std::string file;  // FILE of load, download, erase and gang; DB of records
  app::PortOptions ports;
  bool json = false;
  bool help = false;                            // --help: show the command's help
  std::optional<Command> helpTopic;             // help COMMAND
  std::optional<std::string> flashOut;          // load
  std::optional<std::string> eepromOut;         // load
  std::optional<int> baud;                      // download, erase, gang: -b/--baud
  std::optional<int> defaultBaud;               // BRINDLEMARK_BAUD: the rate when the file names none
  bool quiet = false;                           // -q: errors only (gang, station: and their children)
  int connectAttempts = 1;                      // "?" per port in the search, spread over one second
  int replyTimeoutMs = kDefaultReplyTimeoutMs;  // every reply window (BRINDLEMARK_REPLY_TIMEOUT)
  std::optional<int> waitAfterOpenMs;           // after opening a port, before the first "?"
  bool verify = false;                          // download, gang: check the flash with the loader's CRC
  bool noFlash = false, noEeprom = false;       // download, gang
  bool stop = false, force = false, trace = false;
  bool probe = false;                    // ports
  bool allPorts = false;                 // gang
  std::optional<double> timeoutSeconds;  // gang, per board
  std::optional<std::string> logDir;     // gang, station
  std::optional<std::string> watchDir;   // station: where device entries appear
  int settleMs = 300;                    // station: from a device's appearance to its opening
  std::optional<int> maxBoards;          // station: end after this many boards
  RecordOptions record;                  // download, erase, gang, station: --record ...; records
};

struct ParsedCommandLine {
  std::optional<CommandLine> line;  // none: print `text` and exit with `exitCode`
  std::string text;                 // the help (stdout) or the one-line error (stderr)
  int exitCode = 0;
  bool wantsJson = false;  // --json was given, even if the rest did not parse
};

// `args` without the program name. BRINDLEMARK_PORT names the port when no -P/--port does (for
// download, erase and gang); BRINDLEMARK_BAUD replaces only the built-in rate (an option and a
// project's BaudRate beat it); BRINDLEMARK_REPLY_TIMEOUT is --reply-timeout's default.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// Whether the version is asked for: --version anywhere before "--".
bool AsksForVersion(const std::vector<std::string>& args);

// The slowest rate a run accepts: below it a page takes longer than any wait is meant to last.
inline constexpr int kMinBaud = 300;
// Far beyond any serial port: a larger number is a typing mistake, not a rate.
inline constexpr int kMaxBaud = 100'000'000;

// The whole help, or one command's.
std::string HelpText(std::optional<Command> command = std::nullopt);

const char* CommandName(Command command);

// The arguments a gang board's child gets: `download FILE --port DEVICE --json` and the options
// gang passes through.
std::vector<std::string> ChildArguments(const CommandLine& gang, const std::string& device);

}  // namespace bm::cli
