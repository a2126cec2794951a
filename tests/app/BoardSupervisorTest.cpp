// How a board ends, whatever its child did: the result line's outcome wins over the exit
// status; a child without one is judged by how it ended; one that cannot start, crashes, is
// stopped or runs out of time still ends its board. Tiny shell scripts stand in for the child.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/BoardSupervisor.h"
#include "app/cli/EventLog.h"
#include "platform/posix/PollLoop.h"

namespace bm::cli {
namespace {

using json = nlohmann::ordered_json;

struct Ended {
  std::optional<BoardResult> result;
  std::vector<std::string> events;  // "event" or "event: text" for messages
};

// Runs one board to its end. `stopAfterMs`: ask it to stop then.
Ended RunBoard(const std::string& program, const std::string& script, std::optional<double> limit = {},
               std::optional<int> stopAfterMs = {}, std::optional<std::string> logBase = {}) {
  using std::chrono::milliseconds;
  Ended ended;
  posix::PollLoop loop;
  BoardSupervisor supervisor(
      loop, program,
      [&](const std::string& port, const std::string& event, const json& fields) {
        EXPECT_EQ(port, "p");
        ended.events.push_back(event == "message" ? event + ": " + fields.value("text", "") : event);
      },
      [&](const std::string&, const BoardResult& result) {
        ended.result = result;
        loop.Quit();
      });
  supervisor.Start({"p", {"-c", script}, logBase, limit, "as-named.ppro"});
  if (stopAfterMs) loop.After(milliseconds(*stopAfterMs), [&] { supervisor.Stop("p"); });
  loop.After(milliseconds(20000), [&] { loop.Quit(); });  // a board that never ends fails below
  loop.Run();
  EXPECT_EQ(supervisor.Running(), 0);
  return ended;
}

TEST(BoardSupervisor, EveryWayAChildEndsEndsItsBoardWithTheRightOutcome) {
  const std::string result = R"(echo '{"event":"result","t":0.5,"outcome":"verify-failed","seconds":0.5}';)";
  const struct {
    const char* what;
    std::string script;
    Outcome outcome;
    int exitCode;
    std::optional<double> limit = {};
    std::optional<int> stopAfterMs = {};
  } cases[] = {
      {"its result line", result + " exit 9", Outcome::VerifyFailed, 9},
      {"its result line, whatever the status", result + " exit 0", Outcome::VerifyFailed, 0},
      {"no result line: its exit status", "exit 3", Outcome::NotFound, 3},
      {"no result line, a status the table lacks", "exit 42", Outcome::Failed, 42},
      {"a crash", "kill -KILL $$", Outcome::Failed, 5},
      {"stopped, ending by the signal", "sleep 10", Outcome::Stopped, 130, {}, 100},
      {"out of time", "sleep 10", Outcome::Timeout, 130, 0.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Ended e = RunBoard("/bin/sh", c.script, c.limit, c.stopAfterMs);
    ASSERT_TRUE(e.result) << "the board never ended";
    EXPECT_EQ(NameOf(e.result->outcome), std::string(NameOf(c.outcome)));
    EXPECT_EQ(e.result->exitCode, c.exitCode);
  }
}

TEST(BoardSupervisor, AChildThatCannotStartIsAFailureThatSaysWhy) {
  const Ended e = RunBoard("/nonexistent/brindlemark-cli", "exit 0");
  ASSERT_TRUE(e.result) << "the board never ended";
  EXPECT_EQ(e.result->outcome, Outcome::Failed);
  ASSERT_EQ(e.events.size(), 1u);
  EXPECT_EQ(e.events[0].rfind("message: cannot start the board's run: ", 0), 0u) << e.events[0];
}

// What the board's row and its log keep of the child's lines: the chip it identified, the hashes
// of its result, and its start line naming the file as the user named it.
TEST(BoardSupervisor, TheBoardKeepsWhatItsChildReported) {
  char dir[] = "/tmp/bm-board-XXXXXX";
  const std::string scratch = ::mkdtemp(dir);
  const std::string sha(64, 'a');
  const std::string script = R"(echo '{"event":"start","t":0.0,"file":"/tmp/copy/x.ppro","sha256":")" + sha +
                             R"("}';)"
                             R"(echo 'not json';)"
                             R"(echo '{"event":"identified","t":0.1,"signature":"1E950F"}';)"
                             R"(echo '{"event":"result","t":0.2,"outcome":"done","seconds":0.2,"sha256":")" +
                             sha + R"(","flashSha256":")" + std::string(64, 'b') +
                             R"(","eepromSha256":null}')";
  const Ended e = RunBoard("/bin/sh", script, {}, {}, scratch + "/board");
  ASSERT_TRUE(e.result);
  EXPECT_EQ(e.events, (std::vector<std::string>{"start", "identified", "result"}));
  EXPECT_EQ(BoardJson("p", *e.result).dump(), json({{"port", "p"},
                                                    {"signature", "1E950F"},
                                                    {"outcome", "done"},
                                                    {"exitCode", 0},
                                                    {"seconds", 0.2},
                                                    {"sha256", sha},
                                                    {"flashSha256", std::string(64, 'b')},
                                                    {"eepromSha256", nullptr}})
                                                  .dump());
  std::ifstream log(scratch + "/board.jsonl");
  const std::string text{std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
  EXPECT_NE(text.find(R"("file":"as-named.ppro")"), std::string::npos) << text;
  EXPECT_NE(text.find("not json\n"), std::string::npos) << "every line is kept: " << text;
  std::filesystem::remove_all(scratch);
}

// The result line: outcome and exitCode from one Outcome (an extra field cannot make them
// disagree), the documented fields in their order, the command's own after them.
TEST(EmitResult, OutcomeAndExitCodeAgreeAndTheDocumentedFieldsKeepTheirOrder) {
  std::ostringstream out;
  EventLog log(out, true);
  EXPECT_EQ(EmitResult(log, Outcome::Usage, {{"boards", json::array()}, {"exitCode", 0}, {"sha256", "x"}}),
            2);
  const json line = json::parse(out.str());
  std::vector<std::string> keys;
  for (const auto& [key, value] : line.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"event", "t", "outcome", "failures", "exitCode", "seconds",
                                            "sha256", "flashSha256", "eepromSha256", "boards"}));
  EXPECT_EQ(line["outcome"], "usage");
  EXPECT_EQ(line["exitCode"], 2);
  EXPECT_EQ(line["sha256"], "x");
}

}  // namespace
}  // namespace bm::cli
