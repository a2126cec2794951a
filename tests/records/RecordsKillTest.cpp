// Serial numbers and rows survive processes killed at any moment. Many boards' runs go at once
// against one record, the simulated target in each process (`--port sim`); some are killed with
// SIGKILL at a random moment. Afterwards: the numbers run from the sequence's start without a gap,
// none went to two boards, each is on the one board whose run was done (used), or belongs to a
// run that failed (void) or never ended (taken, its row unfinished), and every run that reached a
// port has its row.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "records/RecordStore.h"
#include "support/PostgresServer.h"

extern char** environ;

namespace bm::records {
namespace {

namespace fs = std::filesystem;
const std::string kBlink = std::string(BM_SOURCE_DIR) + "/examples/blink/blink.ppro";
const std::string kLayout = "BM-{:06d}@eeprom:16";

struct Launch {
  std::string tag;  // the run's --station-name: its row says which run it was
  bool killed = false;
  int exitStatus = -1;  // when it was not killed
  std::string out;      // its stdout (JSON lines)
};

pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv{const_cast<char*>(BM_CLI_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, BM_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(error, 0);
  return pid;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The pid of the one child `parent` started, once it has one (gang's board), or -1.
pid_t ChildOf(pid_t parent) {
  std::ifstream in("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
  pid_t child = -1;
  in >> child;
  return child;
}

// Runs `boards` runs over `lanes` lanes at once; `argsOf(tag)` is a run's command line. With
// `killChild`, the run's own child (gang's board) gets the signal, not the run.
std::vector<Launch> RunLanes(int lanes, int boards, const std::string& folder,
                             const std::function<std::vector<std::string>(const std::string&)>& argsOf,
                             bool killChild) {
  std::vector<Launch> launches(static_cast<size_t>(boards));
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  for (int lane = 0; lane < lanes; ++lane) {
    threads.emplace_back([&, lane] {
      std::mt19937 random(static_cast<unsigned>(lane * 7919 + 17));
      for (int i; (i = next++) < boards;) {
        Launch& l = launches[static_cast<size_t>(i)];
        l.tag = "lane" + std::to_string(lane) + "-run" + std::to_string(i);
        const std::string out = folder + "/" + l.tag + ".jsonl";
        const pid_t pid = Spawn(argsOf(l.tag), out);
        bool signalled = false;
        // One run in three is killed, one in six stopped (SIGTERM: it ends as a stopped run), at
        // a moment of its first 400 ms; the others run to their end.
        if (const unsigned fate = random() % 6; fate < 3) {
          std::this_thread::sleep_for(std::chrono::microseconds(random() % 400'000));
          const pid_t victim = killChild ? ChildOf(pid) : pid;
          signalled = victim > 0 && ::kill(victim, fate < 2 ? SIGKILL : SIGTERM) == 0;
        }
        int raw = 0;
        EXPECT_EQ(::waitpid(pid, &raw, 0), pid);
        // A run that had ended before the signal came counts as the run it was: a killed run
        // exits by the signal (SIGTERM too, before its handler was set), a gang whose board got
        // a signal fails.
        l.exitStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        l.killed = killChild ? signalled && l.exitStatus != 0 : WIFSIGNALED(raw);
        l.out = ReadAll(out);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  return launches;
}

// What the record must say of the runs, whatever moment each was killed at.
void CheckRecord(const std::string& where, const std::vector<Launch>& launches) {
  auto store = Store::Open(where, false);
  const std::vector<Attempt> rows = store->Find({});
  std::map<std::string, const Attempt*> rowOf;  // by tag
  std::map<int64_t, const Attempt*> byId;
  for (const Attempt& a : rows) {
    EXPECT_TRUE(rowOf.emplace(a.stationName, &a).second) << "two rows for " << a.stationName;
    byId[a.id] = &a;
  }
  int killed = 0, done = 0;
  for (const Launch& l : launches) {
    killed += l.killed;
    const auto row = rowOf.find(l.tag);
    // A run that reached a port has its row, killed or not.
    const bool reachedPort = l.out.find("\"event\":\"port\"") != std::string::npos;
    if (reachedPort) {
      EXPECT_NE(row, rowOf.end()) << l.tag << " reached a port and has no row";
    }
    if (l.killed) continue;
    // A run that ended by itself has its row finished, with its outcome; only one stopped before
    // it reached a port (SIGTERM during its load) has none.
    if (l.exitStatus != 0 && row == rowOf.end()) continue;
    ASSERT_NE(row, rowOf.end()) << l.tag << " exited " << l.exitStatus << " without a row";
    EXPECT_NE(row->second->outcome, "unfinished") << l.tag << " exited " << l.exitStatus;
    if (l.exitStatus == 0) {
      ++done;
      EXPECT_EQ(row->second->outcome, "done") << l.tag;
      EXPECT_NE(l.out.find("\"boardSerial\":\"" + row->second->boardSerial + "\""), std::string::npos)
          << l.tag;
    }
  }

  const std::vector<SerialNumber> numbers = store->Numbers("line");
  std::set<int64_t> attemptsWithNumber;
  std::map<std::string, int> counts;
  for (size_t i = 0; i < numbers.size(); ++i) {
    const SerialNumber& n = numbers[i];
    EXPECT_EQ(n.number, static_cast<int64_t>(i + 1)) << "a gap or a repeat in the sequence";
    EXPECT_TRUE(attemptsWithNumber.insert(n.attemptId).second) << "two numbers for attempt " << n.attemptId;
    ++counts[n.state];
    const auto a = byId.find(n.attemptId);
    ASSERT_NE(a, byId.end()) << "number " << n.number << " of no attempt";
    EXPECT_EQ(a->second->serialNumber, n.number);
    char text[16];
    std::snprintf(text, sizeof text, "BM-%06lld", static_cast<long long>(n.number));
    EXPECT_EQ(a->second->boardSerial, text);
    if (n.state == "used")
      EXPECT_EQ(a->second->outcome, "done") << n.number;
    else if (n.state == "void")
      EXPECT_TRUE(a->second->outcome != "done" && a->second->outcome != "unfinished") << n.number;
    else
      EXPECT_EQ(n.state == "taken" ? a->second->outcome : "?", "unfinished") << n.number << " " << n.state;
  }
  // Each board that holds a number holds its own.
  std::set<int64_t> serialsOnBoards;
  for (const Attempt& a : rows)
    if (a.serialNumber) {
      EXPECT_TRUE(serialsOnBoards.insert(*a.serialNumber).second) << *a.serialNumber;
    }
  EXPECT_EQ(serialsOnBoards.size(), numbers.size());
  std::printf(
      "%zu runs (%d killed, %d done): %zu rows, %zu numbers: %d used, %d void, %d taken and unfinished\n",
      launches.size(), killed, done, rows.size(), numbers.size(), counts["used"], counts["void"],
      counts["taken"]);
  EXPECT_GT(killed, 0);
  EXPECT_GT(counts["used"], 0);
}

class KillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/bm-records-kill-XXXXXX";
    folder_ = ::mkdtemp(dir);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string folder_;
};

// Eight stations' boards at once on one PostgreSQL sequence, the record new to them all.
TEST_F(KillTest, EightStationsOnePostgresSequence) {
  test::PostgresServer server;
  const std::string uri = server.Uri();
  const auto launches = RunLanes(
      8, 504, folder_,
      [&uri](const std::string& tag) {
        return std::vector<std::string>{"download", kBlink,
                                        "--port",   "sim",
                                        "--json",   "--record",
                                        uri,        "--station-name",
                                        tag,        "--serial-number",
                                        kLayout,    "--sequence",
                                        "line",     "--sequence-start",
                                        "1"};
      },
      false);
  CheckRecord(uri, launches);
}

// Two gang processes at a time on one SQLite file, their boards' children killed.
TEST_F(KillTest, TwoGangsOneSqliteFile) {
  const std::string file = folder_ + "/record.db";
  const auto launches = RunLanes(
      2, 500, folder_,
      [&file](const std::string& tag) {
        return std::vector<std::string>{"gang",   kBlink,
                                        "--port", "sim",
                                        "--json", "--record",
                                        file,     "--station-name",
                                        tag,      "--serial-number",
                                        kLayout,  "--sequence",
                                        "line",   "--sequence-start",
                                        "1"};
      },
      true);
  CheckRecord(file, launches);
}

}  // namespace
}  // namespace bm::records
