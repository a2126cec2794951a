// The outcome table is the one list of outcome names: docs/cli.md lists exactly its rows, and the
// help lists every exit status the tool can end with.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "app/cli/CommandLine.h"
#include "app/cli/ExitCodes.h"

namespace bm::cli {
namespace {

// The rows "| `name` | status | meaning |" of the document's outcome table.
std::map<std::string, int> DocumentedOutcomes() {
  std::ifstream in(std::string(BM_SOURCE_DIR) + "/docs/cli.md");
  std::map<std::string, int> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    const size_t nameEnd = line.find('`', 3);
    const std::string rest = line.substr(nameEnd + 1);
    int status = -1;
    if (std::sscanf(rest.c_str(), " | %d |", &status) == 1) rows[line.substr(3, nameEnd - 3)] = status;
  }
  return rows;
}

TEST(OutcomeTable, TheDocumentListsEveryOutcomeWithItsExitStatus) {
  std::map<std::string, int> table;
  for (const OutcomeRow& row : kOutcomes) table[row.name] = row.exitStatus;
  EXPECT_EQ(DocumentedOutcomes(), table);
}

TEST(OutcomeTable, NamesAreDistinctAndTheHelpListsEveryExitStatus) {
  std::set<std::string> names;
  const std::string help = HelpText();
  for (const OutcomeRow& row : kOutcomes) {
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    EXPECT_EQ(NameOf(row.outcome), std::string(row.name));
    if (!row.boardOnly) {
      EXPECT_NE(help.find("\n  " + std::to_string(row.exitStatus) + " "), std::string::npos) << row.name;
    }
  }
  EXPECT_NE(NameOf(Outcome::NotFound), std::string(NameOf(Outcome::NoAnswer))) << "exit 3 and exit 6 differ";
}

}  // namespace
}  // namespace bm::cli
