// Tests of the packers' run: the command line, the files it reads and the one it replaces.
#include "run_packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "program_run.h"
#include "quest_walker.h"
#include "run_unpacker.h"
#include "spell_walker.h"
#include "test_files.h"

namespace {

const PackerSpec kGrimpack{"grimpack", "grimdex", "sdb", {kSpellTables, &kSpellWalkRules}};

struct RunResult {
  int status = -1;
  std::string output;
  std::string errors;
};

RunResult RunGrimpack(std::vector<const char*> arguments) {
  RunResult result;
  arguments.insert(arguments.begin(), "grimpack");
  result.status = RunPacker(arguments, kGrimpack, {&result.output, &result.errors});
  return result;
}

// A folder with the spell sample as "spells.sdb" and its tables in "tables".
struct PackFolder {
  TempFolder folder;
  std::string original = folder / "spells.sdb";
  std::string tables = folder / "tables";

  PackFolder() {
    WriteWholeFile(original, ReadWholeFile(SAMPLES_FOLDER "/spells.sdb"));
    std::string console;
    const char* arguments[] = {"grimdex", original.c_str(), tables.c_str()};
    RunUnpacker(arguments, kSpellBanner, kSpellTables, RunSpellWalk, Console{&console});
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST(RunPackerTest, UsageHelpAndVersion) {
  const struct {
    std::vector<const char*> arguments;
    int status;
    std::string output;  // the start of standard output
    std::string errors;  // the start of standard error
  } cases[] = {
      {{}, kPackWritten, "Usage: grimpack [--strict] [--dry-run] [--verbose] ORIGINAL.sdb SOURCE... NEW.sdb\n", ""},
      {{"--help"}, kPackWritten, "Usage: grimpack", ""},
      {{"--version"}, kPackWritten, "grimpack " UNPACKER_VERSION "\n", ""},
      {{"a", "b"}, kPackUsage, "", "grimpack: expects ORIGINAL, at least one SOURCE and NEW"},
      {{"--dry-run", "a"}, kPackUsage, "", "grimpack: expects ORIGINAL and at least one SOURCE"},
      {{"--force", "a", "b", "c"}, kPackUsage, "", "grimpack: unknown option '--force'\n"},
  };
  for (const auto& c : cases) {
    const RunResult result = RunGrimpack(c.arguments);
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(result.output.starts_with(c.output)) << result.output;
    EXPECT_TRUE(result.errors.starts_with(c.errors)) << result.errors;
  }
}

TEST(RunPackerTest, NewDatabaseMayReplaceTheOriginal) {
  PackFolder pack;
  const std::string table = pack.tables + "/SpellModifiers.txt";
  std::string text = ReadWholeFile(table);
  text.replace(text.find("\t1\t"), 3, "\t2\t");
  WriteWholeFile(table, text);
  const RunResult result =
      RunGrimpack({pack.original.c_str(), pack.tables.c_str(), pack.original.c_str()});
  ASSERT_EQ(result.status, kPackWritten) << result.errors;
  EXPECT_NE(ReadWholeFile(pack.original), ReadWholeFile(SAMPLES_FOLDER "/spells.sdb"));
  EXPECT_EQ(pack.Files(), (std::vector<std::string>{"spells.sdb", "tables"}));
  EXPECT_NE(result.output.find("SpellModifiers.txt: 19 kept, 1 changed, 0 added, 0 removed"),
            std::string::npos)
      << result.output;
}

TEST(RunPackerTest, WhatCannotBeWrittenIsRefusedAndLeavesEverythingAsItWas) {
  PackFolder pack;
  std::filesystem::create_directory(pack.folder / "folder");
  std::filesystem::create_symlink(pack.original, pack.folder / "link");
  const std::string table = pack.tables + "/S_Spells.txt";
  const struct {
    std::string original;
    std::string tables;
    std::string target;
    std::string problem;
  } cases[] = {
      {pack.original, pack.folder / "none", pack.folder / "new", "none' is missing"},
      {pack.folder / "none", pack.tables, pack.folder / "new", "cannot open the original"},
      {pack.original, pack.tables, pack.folder / "folder", "is a folder"},
      {pack.original, pack.tables, pack.folder / "link", "is not an ordinary file"},
      {pack.original, pack.tables, table, "is the table"},
      {pack.original, pack.tables, pack.folder / "none/new", "cannot create a file beside"},
  };
  for (const auto& c : cases) {
    const RunResult result = RunGrimpack({c.original.c_str(), c.tables.c_str(), c.target.c_str()});
    EXPECT_EQ(result.status, kPackFailed);
    EXPECT_NE(result.errors.find(c.problem), std::string::npos) << result.errors;
    EXPECT_TRUE(result.errors.ends_with("grimpack: nothing was written\n"));
    EXPECT_EQ(pack.Files(), (std::vector<std::string>{"folder", "link", "spells.sdb", "tables"}));
  }
}

// A dry run prints the plan and writes nothing; a real run with --verbose prints the same plan.
TEST(RunPackerTest, DryRunPrintsThePlanAndWritesNothing) {
  PackFolder pack;
  const std::string weapons = pack.tables + "/S_Weapons.txt";
  std::string text = ReadWholeFile(weapons);
  // The first flame_arrow removed, the second one's Power changed, the last line moved up.
  text.erase(text.find("flame_arrow\tburn\teffect_up"), text.find("flame_arrow\tburn,pierce") -
                                                          text.find("flame_arrow\tburn\teffect_up"));
  text.replace(text.find("burn,pierce\t\t3"), 14, "burn,pierce\t\t5");
  const std::size_t lastLine = text.rfind("\r\n", text.size() - 3) + 2;
  const std::string last = text.substr(lastLine);
  text.erase(lastLine);
  text.insert(text.find("\r\n") + 2, last);
  WriteWholeFile(weapons, text);
  const std::string plan =
      "moved\tS_Weapons.txt\t1\t2\t21\n"
      "changed\tS_Weapons.txt\t1\t3\t3\tPower\t3\t5\n"
      "removed\tS_Weapons.txt\t1\t-\t2\n";
  const RunResult dry = RunGrimpack({"--dry-run", pack.original.c_str(), pack.tables.c_str()});
  EXPECT_EQ(dry.status, kPackWritten) << dry.errors;
  EXPECT_TRUE(dry.output.starts_with(plan + "grimpack: would write NEW")) << dry.output;
  EXPECT_NE(dry.output.find("S_Weapons.txt: 18 kept (1 moved), 1 changed, 0 added, 1 removed"),
            std::string::npos)
      << dry.output;
  EXPECT_EQ(pack.Files(), (std::vector<std::string>{"spells.sdb", "tables"}));
  const std::string target = pack.folder / "new.sdb";
  const RunResult real =
      RunGrimpack({"--verbose", pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(real.status, kPackWritten) << real.errors;
  EXPECT_TRUE(real.output.starts_with(plan + "grimpack: wrote ")) << real.output;
  // A dry run of tables that cannot be packed fails with the problems of a real run.
  text.replace(text.find("burn,pierce\t\t5"), 14, "burn,pierce\t\t5\t7");
  WriteWholeFile(weapons, text);
  const RunResult refused = RunGrimpack({"--dry-run", pack.original.c_str(), pack.tables.c_str()});
  EXPECT_EQ(refused.status, kPackFailed);
  EXPECT_NE(refused.errors.find("S_Weapons.txt line 3 has 10 columns"), std::string::npos)
      << refused.errors;
}

// The programs themselves: the packers run their walks and say what they did.
TEST(RunPackerTest, BothProgramsPackTheSamplesBack) {
  for (const auto& [packer, unpacker, sample] :
       {std::tuple{GRIMPACK_PATH, GRIMDEX_PATH, "spells.sdb"},
        std::tuple{LORUPACK_PATH, LORUDEX_PATH, "quests.qdb"}}) {
    TempFolder folder;
    const std::string original = std::string(SAMPLES_FOLDER "/") + sample;
    RunProgram(unpacker, {original, folder / "tables"});
    const ProgramResult result = RunProgram(packer, {original, folder / "tables", folder / "new"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.output.find(" kept, 0 changed, 0 added, 0 removed\n"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(original));
    EXPECT_EQ(RunProgram(packer, {"only-one"}).exitStatus, kPackUsage);
  }
}

// Quest tables written under a locale with a decimal comma pack back under it, commas and all.
TEST(RunPackerTest, QuestTablesTakeTheLocalesSeparator) {
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is needed: generate it with locale-gen";
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(setenv("LC_ALL", "de_DE.UTF-8", 1), 0);
  TempFolder folder;
  const std::string sample = SAMPLES_FOLDER "/quests.qdb";
  RunProgram(LORUDEX_PATH, {sample, folder / "tables"});
  const std::string table = folder / "tables/Quests.txt";
  std::string text = ReadWholeFile(table);
  const std::size_t money = text.find('\t', text.find('\t', text.find("\r\n") + 2) + 1) + 1;
  text.replace(money, text.find('\t', money) - money, "12,75");
  WriteWholeFile(table, text);
  const ProgramResult packed =
      RunProgram(LORUPACK_PATH, {sample, folder / "tables", folder / "new"});
  EXPECT_EQ(packed.exitStatus, kPackWritten) << packed.output;
  RunProgram(LORUDEX_PATH, {folder / "new", folder / "again"});
  EXPECT_EQ(ReadWholeFile(folder / "again/Quests.txt"), text);
  text.replace(money, 5, "12.75");
  WriteWholeFile(table, text);
  EXPECT_EQ(RunProgram(LORUPACK_PATH, {sample, folder / "tables", folder / "refused"}).exitStatus,
            kPackFailed);
  EXPECT_FALSE(std::filesystem::exists(folder / "refused"));
  unsetenv("LC_ALL");
}

// Under a locale with a decimal comma, a whole number written with zero decimals takes its
// table's separator: the spell tables' point, the quest tables' comma. The same value keeps the
// bytes; the other separator is refused.
TEST(RunPackerTest, WholeNumbersWithDecimalsTakeTheTablesSeparator) {
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is needed: generate it with locale-gen";
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(setenv("LC_ALL", "de_DE.UTF-8", 1), 0);
  const struct {
    const char* packer;
    const char* unpacker;
    std::string sample;
    std::string table;
    std::size_t column;  // an integer column, from 0
    std::string decimals;
    std::string otherDecimals;
  } cases[] = {
      {GRIMPACK_PATH, GRIMDEX_PATH, SAMPLES_FOLDER "/spells.sdb", "SpellPrototypes.txt", 6, ".0",
       ",0"},  // Slots
      {LORUPACK_PATH, LORUDEX_PATH, SAMPLES_FOLDER "/quests.qdb", "Briefing.txt", 3, ",00",
       ".00"},  // Zone
  };
  for (const auto& c : cases) {
    TempFolder folder;
    RunProgram(c.unpacker, {c.sample, folder / "tables"});
    const std::string table = folder / ("tables/" + c.table);
    const std::string text = ReadWholeFile(table);
    // The cell of the first record's line.
    std::size_t cellEnd = text.find("\r\n") + 2;
    for (std::size_t column = 0; column <= c.column; ++column)
      cellEnd = text.find('\t', cellEnd) + 1;
    --cellEnd;
    WriteWholeFile(table, std::string(text).insert(cellEnd, c.decimals));
    const ProgramResult packed =
        RunProgram(c.packer, {c.sample, folder / "tables", folder / "new"});
    EXPECT_EQ(packed.exitStatus, kPackWritten) << c.table;
    EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(c.sample)) << c.table;
    WriteWholeFile(table, std::string(text).insert(cellEnd, c.otherDecimals));
    EXPECT_EQ(RunProgram(c.packer, {c.sample, folder / "tables", folder / "refused"}).exitStatus,
              kPackFailed)
        << c.table;
    EXPECT_FALSE(std::filesystem::exists(folder / "refused"));
  }
  unsetenv("LC_ALL");
}

}  // namespace
