// Tests of the next free name beside a file: the order names are tried in and what ends it.
#include "next_free_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "session_databases.h"

namespace {

std::string FreeNameAmong(std::string_view path, std::string_view tag, std::string_view extension,
                          const std::set<std::string>& taken) {
  return NextFreeName(path, tag, extension,
                      [&taken](const std::string& name) { return taken.contains(name); });
}

TEST(NextFreeNameTest, TakesTheFirstNameInTheOrderThatNoFileHas) {
  const struct {
    std::string_view path;
    std::string_view tag;
    std::string_view extension;
    std::set<std::string> taken;
    std::string expected;
  } cases[] = {
      {"mods/spells.sdb", "", ".xlsx", {}, "mods/spells.xlsx"},
      {"mods/spells.sdb", "", ".xlsx", {"mods/spells.xlsx"}, "mods/spells (2).xlsx"},
      {"mods/spells.sdb",
       "",
       ".xlsx",
       {"mods/spells.xlsx", "mods/spells (2).xlsx"},
       "mods/spells (3).xlsx"},
      // A gap is taken: the first free name, not the one after the highest.
      {"mods/spells.sdb",
       "",
       ".xlsx",
       {"mods/spells.xlsx", "mods/spells (3).xlsx"},
       "mods/spells (2).xlsx"},
      {"mods/spells.xlsx", "packed", ".sdb", {"mods/spells.sdb"}, "mods/spells (packed).sdb"},
      {"mods/spells.xlsx",
       "packed",
       ".sdb",
       {"mods/spells (packed).sdb"},
       "mods/spells (packed 2).sdb"},
      // Names of other files beside it are no concern.
      {"mods/spells.sdb", "", ".xlsx", {"mods/quests.xlsx", "spells.xlsx"}, "mods/spells.xlsx"},
      {"spells.sdb", "", ".xlsx", {}, "spells.xlsx"},
      {"Заклинания/呪文.sdb", "", ".xlsx", {"Заклинания/呪文.xlsx"}, "Заклинания/呪文 (2).xlsx"},
      // Only the last extension goes; a dot in a folder or leading a name is no extension.
      {"archive.tar.gz", "", ".xlsx", {}, "archive.tar.xlsx"},
      {"old.mods/spells", "", ".xlsx", {}, "old.mods/spells.xlsx"},
      {".sdb", "", ".xlsx", {}, ".sdb.xlsx"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(FreeNameAmong(testCase.path, testCase.tag, testCase.extension, testCase.taken),
              testCase.expected)
        << testCase.path << " tag '" << testCase.tag << "'";
  }
}

TEST(NextFreeNameTest, GivesUpWhenEveryNameItTriesIsTaken) {
  int tries = 0;
  const std::string name = NextFreeName("spells.sdb", "packed", ".sdb", [&tries](const auto&) {
    ++tries;
    return true;
  });
  EXPECT_EQ(name, "");
  EXPECT_EQ(tries, kMostFreeNameTries);
}

// For any set of taken names among the first candidates, written here from the rule: the name
// given is free, and every candidate before it is taken.
TEST(NextFreeNameTest, GivesTheFirstFreeCandidateForAnyTakenNames) {
  std::vector<std::string> candidates = {"f/db (packed).sdb"};
  for (int number = 2; number <= 12; ++number) {
    // Appended piece by piece: GCC's 32-bit optimiser takes a chain of + for overlapping copies.
    std::string candidate = "f/db (packed ";
    candidate += std::to_string(number);
    candidate += ").sdb";
    candidates.push_back(candidate);
  }
  Random random{20261210};
  for (int round = 0; round < 500; ++round) {
    std::set<std::string> taken;
    for (const std::string& candidate : candidates)
      if (RandomChance(random, 70)) taken.insert(candidate);
    std::size_t firstFree = 0;
    while (firstFree < candidates.size() && taken.contains(candidates[firstFree]))
      ++firstFree;
    if (firstFree == candidates.size()) continue;
    EXPECT_EQ(FreeNameAmong("f/db.xlsx", "packed", ".sdb", taken), candidates[firstFree]);
  }
}

}  // namespace
