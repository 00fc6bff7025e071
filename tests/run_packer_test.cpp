// Tests of the packers' run: the command line, the files it reads and the one it replaces.
#include "run_packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "database_cases.h"
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
      {{}, kPackWritten, "Usage: grimpack ORIGINAL.sdb TABLES_FOLDER NEW.sdb\n", ""},
      {{"--help"}, kPackWritten, "Usage: grimpack", ""},
      {{"--version"}, kPackWritten, "grimpack " UNPACKER_VERSION "\n", ""},
      {{"a", "b"}, kPackUsage, "", "grimpack: expects three paths"},
      {{"a", "b", "c", "d"}, kPackUsage, "", "grimpack: expects three paths"},
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
      {pack.original, pack.folder / "none", pack.folder / "new", "cannot read the table"},
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

// The 32-bit executables have 2 to 3 GB of address space: an original whose text is larger
// than what is left used to end a packer with std::bad_alloc and status 134.
TEST(RunPackerTest, TextLargerThanTheMemoryLeftFailsAndWritesNothing) {
  if (!kMemoryLimitsHold) GTEST_SKIP() << "the sanitizers and emulators reserve address space";
  struct Case {
    std::string packer;
    std::string program;
    std::span<const TableSpec> tables;
    std::uint8_t tableKind;
    std::uint8_t textCode;
  };
  for (const Case& test : {Case{GRIMPACK_PATH, "grimpack", kSpellTables, 3, 1},
                           Case{LORUPACK_PATH, "lorupack", kQuestTables, 1, 0}}) {
    SCOPED_TRACE(test.program);
    TempFolder folder;
    WriteDatabaseWithHugeText(folder / "original", test.tableKind, test.textCode);
    std::filesystem::create_directory(folder / "tables");
    for (const TableSpec& table : test.tables) {
      WriteWholeFile(folder / "tables/" + std::string(table.fileName),
                     std::string(table.headerRow) + "\r\n");
    }
    const ProgramResult result = RunProgramInMemory(
        kMemoryBelowHugeText, test.packer, {"original", "tables", "new"}, folder.path.string());
    EXPECT_EQ(result.exitStatus, kPackFailed);
    EXPECT_EQ(result.output, test.program + ": cannot read 'original': out of memory\n" +
                                 test.program + ": nothing was written\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "new"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 2);
  }
}

}  // namespace
