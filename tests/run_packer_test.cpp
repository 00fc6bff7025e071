// Tests of the packers' run: the command line, the files it reads and the one it replaces.
#include "run_packer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "database_cases.h"
#include "platform.h"
#include "program_run.h"
#include "quest_walker.h"
#include "run_unpacker.h"
#include "spell_packer.h"
#include "spell_walker.h"
#include "test_files.h"

namespace {

const PackerSpec& kGrimpack = kSpellPacker;

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
    RunUnpacker(arguments, kSpellFormat.banner, kSpellFormat.tables, WalkFormat<kSpellFormat>,
                Console{&console});
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
      {{},
       kExitSuccess,
       "Usage: grimpack [--strict] [--dry-run] [--verbose] [--changes FILE] [--code-page N]\n"
       "                ORIGINAL.sdb SOURCE... NEW.sdb\n",
       ""},
      {{"--changes"}, kExitUsage, "", "grimpack: --changes expects the workbook to write\n"},
      {{"--help"}, kExitSuccess, "Usage: grimpack", ""},
      {{"--version"}, kExitSuccess, "grimpack " UNPACKER_VERSION "\n", ""},
      {{"a", "b"}, kExitUsage, "", "grimpack: expects ORIGINAL, at least one SOURCE and NEW"},
      {{"--dry-run", "a"}, kExitUsage, "", "grimpack: expects ORIGINAL and at least one SOURCE"},
      {{"--force", "a", "b", "c"}, kExitUsage, "", "grimpack: unknown option '--force'\n"},
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
  ASSERT_EQ(result.status, kExitSuccess) << result.errors;
  EXPECT_NE(ReadWholeFile(pack.original), ReadWholeFile(SAMPLES_FOLDER "/spells.sdb"));
  EXPECT_EQ(pack.Files(), (std::vector<std::string>{"spells.sdb", "tables"}));
  EXPECT_NE(result.output.find("SpellModifiers.txt: 19 kept, 1 changed, 0 added, 0 removed"),
            std::string::npos)
      << result.output;
}

// The mistakes people make are refused in one line that says what happened; nothing is written.
TEST(RunPackerTest, MistakesPeopleMakeAreSaidInOneLine) {
  const struct {
    const char* name;
    std::function<void(PackFolder&)> make;  // a mistake made in the folder
    std::vector<std::string> arguments;     // beside the folder's ORIGINAL and tables
    std::string problem;
  } cases[] = {
      {"quest database",
       [](PackFolder& p) {
         WriteWholeFile(p.original, ReadWholeFile(SAMPLES_FOLDER "/quests.qdb"));
       },
       {},
       "holds a quest database (briefings and quests): lorupack packs it, not grimpack"},
      {"empty original",
       [](PackFolder& p) { WriteWholeFile(p.original, ""); },
       {},
       "is empty: it holds no record to build the tables' lines on"},
      {"a file of another kind",
       [](PackFolder& p) { WriteWholeFile(p.original, "PNG\r\n\x1a"); },
       {},
       "the original database is damaged"},
      {"table that is a folder",
       [](PackFolder& p) {
         std::filesystem::remove(p.tables + "/S_Spells.txt");
         std::filesystem::create_directory(p.tables + "/S_Spells.txt");
       },
       {},
       "S_Spells.txt' is a folder, not a table"},
      {"table that is a fifo",
       [](PackFolder& p) {
         std::filesystem::remove(p.tables + "/S_Spells.txt");
         mkfifo((p.tables + "/S_Spells.txt").c_str(), 0600);
       },
       {},
       "S_Spells.txt' is not an ordinary file"},
      {"table saved as UTF-16",
       [](PackFolder& p) {
         WriteWholeFile(p.tables + "/S_Spells.txt", std::string("\xFF\xFEP\0r\0", 6));
       },
       {},
       "S_Spells.txt line 1: the table is in UTF-16"},
      {"mixed line ends",
       [](PackFolder& p) {
         std::string text = ReadWholeFile(p.tables + "/S_Spells.txt");
         text.erase(text.find("\r\n", text.find("\r\n") + 2), 1);  // line 2 ends in LF
         WriteWholeFile(p.tables + "/S_Spells.txt", text);
       },
       {},
       "S_Spells.txt line 2: ends in LF (\\n) where the header row ends in CR LF (\\r\\n)"},
      {"lines that end in CR alone",
       [](PackFolder& p) {
         std::string text = ReadWholeFile(p.tables + "/S_Spells.txt");
         for (std::size_t at = text.find("\r\n"); at != std::string::npos;
              at = text.find("\r\n", at))
           text.erase(at + 1, 1);
         WriteWholeFile(p.tables + "/S_Spells.txt", text);
       },
       {},
       "S_Spells.txt line 1: the lines end in CR (\\r) alone"},
      {"blank lines at the end",
       [](PackFolder& p) {
         WriteWholeFile(p.tables + "/S_Spells.txt",
                        ReadWholeFile(p.tables + "/S_Spells.txt") + "\r\n\r\n");
       },
       {},
       "S_Spells.txt line 22: the table ends in 2 blank lines; delete them"},
      {"a long cell",
       [](PackFolder& p) {
         std::string text = ReadWholeFile(p.tables + "/SpellPrototypes.txt");
         const std::size_t mana = text.find("\t12.5\t") + 1;
         text.replace(mana, 4, std::string(70, '9') + "\r" + std::string(30, '8'));
         WriteWholeFile(p.tables + "/SpellPrototypes.txt", text);
       },
       {},
       "column \"Mana\": \"" + std::string(60, '9') + "...\" (101 bytes) is not a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PackFolder pack;
    c.make(pack);
    const std::string target = pack.folder / "new.sdb";
    const RunResult result =
        RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.errors.find(c.problem), std::string::npos) << result.errors;
    EXPECT_EQ(std::ranges::count(result.errors, '\n'), 2) << result.errors;
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

// Sources given otherwise than meant: a link to a tables folder is that folder; a table file
// given instead of its folder is named as a table.
TEST(RunPackerTest, SourcesGivenAsLinksOrTablesAreTakenOrNamedForWhatTheyAre) {
  PackFolder pack;
  const std::string link = pack.folder / "linked";
  std::filesystem::create_directory_symlink(pack.tables, link);
  const RunResult linked = RunGrimpack({"--dry-run", pack.original.c_str(), link.c_str()});
  EXPECT_EQ(linked.status, kExitSuccess) << linked.errors;
  const std::string table = pack.tables + "/S_Spells.txt";
  const RunResult tableFile = RunGrimpack({"--dry-run", pack.original.c_str(), table.c_str()});
  EXPECT_EQ(tableFile.status, kExitFailure);
  EXPECT_EQ(tableFile.errors, "grimpack: the source '" + table +
                                  "' is the table S_Spells.txt, not a database: a source of "
                                  "tables is the folder that holds them\n"
                                  "grimpack: nothing was written\n");
  const std::string nowhere = pack.folder / "nowhere";
  std::filesystem::create_symlink(pack.folder / "missing", nowhere);
  const RunResult dangling = RunGrimpack({"--dry-run", pack.original.c_str(), nowhere.c_str()});
  EXPECT_EQ(dangling.status, kExitFailure);
  EXPECT_TRUE(dangling.errors.starts_with("grimpack: the source '" + nowhere +
                                          "' is not an ordinary file (a fifo, a device, or a "
                                          "link that leads nowhere)"))
      << dangling.errors;
}

// A list element that is empty or begins or ends with a space is stored as written, and noted.
TEST(RunPackerTest, ListsWithSpacedOrEmptyElementsAreStoredAndNoted) {
  PackFolder pack;
  std::string text = ReadWholeFile(pack.tables + "/S_Spells.txt");
  const std::size_t list = text.find("\tburn,area_up\t");
  ASSERT_NE(list, std::string::npos);
  text.replace(list + 1, 12, "burn, area_up");
  WriteWholeFile(pack.tables + "/S_Spells.txt", text);
  const std::string target = pack.folder / "new.sdb";
  const RunResult result =
      RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(result.status, kExitSuccess) << result.errors;
  EXPECT_NE(result.output.find("1 list stored with an element that is empty or begins or ends "
                               "with a space, as written (the elements are split at the joiner "
                               "\",\" alone):\n  S_Spells.txt line "),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("column \"Required\": \"burn, area_up\""), std::string::npos);
}

// The mirror case: a comma without a space in a list whose joiner is ", " stays inside one
// element, and is noted as such.
TEST(RunPackerTest, ACommaInsideAnElementOfACommaSpaceListIsNoted) {
  PackFolder pack;
  std::string text = ReadWholeFile(pack.tables + "/SpellPrototypes.txt");
  const std::size_t line = text.find("\r\n") + 2;
  const std::size_t nameEnd = text.find('\t', line);
  const std::string name = text.substr(line, nameEnd - line) + ",Tower of Winds";
  text.replace(line, nameEnd - line, name);
  WriteWholeFile(pack.tables + "/SpellPrototypes.txt", text);
  const std::string target = pack.folder / "new.sdb";
  const RunResult result =
      RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(result.status, kExitSuccess) << result.errors;
  EXPECT_NE(result.output.find("1 list stored with a comma inside an element, as written (the "
                               "elements are split at the joiner \", \" alone):\n  "
                               "SpellPrototypes.txt line 2, column \"Name\": \"" +
                               name + "\"\n"),
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
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.errors.find(c.problem), std::string::npos) << result.errors;
    EXPECT_TRUE(result.errors.ends_with("grimpack: nothing was written\n"));
    EXPECT_EQ(pack.Files(), (std::vector<std::string>{"folder", "link", "spells.sdb", "tables"}));
  }
}

// A dry run prints the plan and writes nothing; a real run with --verbose prints the same plan.
// The change workbook is written beside the databases, never over a file the pack reads or
// writes; refused, nothing is written and the files are as they were.
TEST(RunPackerTest, TheChangeWorkbookIsNoFileThePackReadsOrWrites) {
  PackFolder pack;
  const std::string target = pack.folder / "new.sdb";
  WriteWholeFile(target, "old");
  const std::string table = pack.tables + "/S_Weapons.txt";
  const std::string tableText = ReadWholeFile(table);
  const struct {
    std::string changes;
    std::string refusal;
  } cases[] = {
      {pack.original, "is ORIGINAL"},     {target, "is NEW"},
      {pack.tables, "is the source"},     {table, "is the table"},
      {"", "--changes is an empty path"},
  };
  for (const auto& c : cases) {
    const RunResult result = RunGrimpack({"--changes", c.changes.c_str(), pack.original.c_str(),
                                          pack.tables.c_str(), target.c_str()});
    EXPECT_EQ(result.status, kExitFailure) << c.changes;
    EXPECT_NE(result.errors.find(c.refusal), std::string::npos) << result.errors;
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(ReadWholeFile(table), tableText);
  }
  EXPECT_EQ(pack.Files(), (std::vector<std::string>{"new.sdb", "spells.sdb", "tables"}));
  const std::string changes = pack.folder / "changes.xlsx";
  const RunResult written = RunGrimpack(
      {"--changes", changes.c_str(), pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(written.status, kExitSuccess) << written.errors;
  EXPECT_EQ(pack.Files(),
            (std::vector<std::string>{"changes.xlsx", "new.sdb", "spells.sdb", "tables"}));
}

TEST(RunPackerTest, DryRunPrintsThePlanAndWritesNothing) {
  PackFolder pack;
  const std::string weapons = pack.tables + "/S_Weapons.txt";
  std::string text = ReadWholeFile(weapons);
  // The first flame_arrow removed, the second one's Power changed, the last line moved up.
  text.erase(text.find("flame_arrow\tburn\teffect_up"),
             text.find("flame_arrow\tburn,pierce") - text.find("flame_arrow\tburn\teffect_up"));
  text.replace(text.find("burn,pierce\t\t3"), 14, "burn,pierce\t\t5");
  const std::size_t lastLine = text.rfind("\r\n", text.size() - 3) + 2;
  const std::string last = text.substr(lastLine);
  text.erase(lastLine);
  text.insert(text.find("\r\n") + 2, last);
  WriteWholeFile(weapons, text);
  const std::string plan =
      "moved\tS_Weapons.txt\t1\t2\t21\ttime_slow\n"
      "changed\tS_Weapons.txt\t1\t3\t3\tPower\t3\t5\tflame_arrow\n"
      "removed\tS_Weapons.txt\t1\t-\t2\tflame_arrow\n";
  const RunResult dry = RunGrimpack({"--dry-run", pack.original.c_str(), pack.tables.c_str()});
  EXPECT_EQ(dry.status, kExitSuccess) << dry.errors;
  EXPECT_TRUE(dry.output.starts_with(plan + "grimpack: would write NEW")) << dry.output;
  EXPECT_NE(dry.output.find("S_Weapons.txt: 18 kept (1 moved), 1 changed, 0 added, 1 removed"),
            std::string::npos)
      << dry.output;
  EXPECT_EQ(pack.Files(), (std::vector<std::string>{"spells.sdb", "tables"}));
  const std::string target = pack.folder / "new.sdb";
  const RunResult real =
      RunGrimpack({"--verbose", pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(real.status, kExitSuccess) << real.errors;
  EXPECT_TRUE(real.output.starts_with(plan + "grimpack: wrote ")) << real.output;
  // A dry run of tables that cannot be packed fails with the problems of a real run.
  text.replace(text.find("burn,pierce\t\t5"), 14, "burn,pierce\t\t5\t7");
  WriteWholeFile(weapons, text);
  const RunResult refused = RunGrimpack({"--dry-run", pack.original.c_str(), pack.tables.c_str()});
  EXPECT_EQ(refused.status, kExitFailure);
  EXPECT_NE(refused.errors.find("S_Weapons.txt line 3 has 10 columns"), std::string::npos)
      << refused.errors;
}

// A NEW that a real run cannot write fails a dry run too, with the real run's words: its folder
// missing, a file, or one where no file can be made, an empty path.
TEST(RunPackerTest, DryRunRefusesANewThatARealRunCannotWrite) {
  PackFolder pack;
  const std::string targets[] = {pack.folder / "missing/new.sdb", pack.original + "/new.sdb",
                                 "/proc/new.sdb", "", pack.tables + "/SpellModifiers.txt"};
  for (const std::string& target : targets) {
    SCOPED_TRACE("NEW '" + target + "'");
    const RunResult real =
        RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
    const RunResult dry =
        RunGrimpack({"--dry-run", pack.original.c_str(), pack.tables.c_str(), target.c_str()});
    EXPECT_EQ(real.status, kExitFailure) << real.output;
    EXPECT_EQ(dry.status, real.status) << dry.output;
    EXPECT_EQ(dry.errors, real.errors);
  }
  EXPECT_EQ(pack.Files(), (std::vector<std::string>{"spells.sdb", "tables"}));
}

// A folder the user may not write (someone else's): the dry run fails as the real run does,
// also for a user whom permissions bind while the tests run as root.
TEST(RunPackerTest, DryRunRefusesAFolderTheUserMayNotWrite) {
  PackFolder pack;
  const std::string program = pack.folder / "grimpack";
  std::filesystem::copy_file(GRIMPACK_PATH, program);
  std::filesystem::create_directory(pack.folder / "closed");
  std::filesystem::permissions(pack.folder.path, std::filesystem::perms{0755});
  std::filesystem::permissions(pack.folder / "closed", std::filesystem::perms{0555});
  std::filesystem::permissions(pack.original, std::filesystem::perms{0644});
  const ProgramResult real = RunProgramUnprivileged(
      program, {"spells.sdb", "tables", "closed/new.sdb"}, pack.folder.path.string(), true);
  const ProgramResult dry =
      RunProgramUnprivileged(program, {"--dry-run", "spells.sdb", "tables", "closed/new.sdb"},
                             pack.folder.path.string(), true);
  EXPECT_EQ(real.exitStatus, kExitFailure) << real.output;
  EXPECT_EQ(dry.exitStatus, real.exitStatus) << dry.output;
  EXPECT_EQ(dry.output, real.output);
  EXPECT_TRUE(std::filesystem::is_empty(pack.folder / "closed"));
}

// Put before a command, --dry-run plans what the command does: the last path is NEW, even one
// that exists; --no-new plans the sources alone, every path after ORIGINAL one of them.
TEST(RunPackerTest, DryRunOfACommandPlansWhatTheCommandDoes) {
  PackFolder pack;
  const std::string target = pack.folder / "new.sdb";
  WriteWholeFile(target, ReadWholeFile(pack.original));
  const RunResult dry =
      RunGrimpack({"--dry-run", pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(dry.status, kExitSuccess) << dry.errors;
  EXPECT_TRUE(dry.output.starts_with("grimpack: would write " + target + " ")) << dry.output;
  EXPECT_EQ(dry.output.find("source 2"), std::string::npos) << dry.output;
  const RunResult sources =
      RunGrimpack({"--no-new", pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(sources.status, kExitSuccess) << sources.errors;
  EXPECT_NE(sources.output.find("  source 2: " + target + " (a database)"), std::string::npos)
      << sources.output;
  const RunResult real = RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
  EXPECT_EQ(real.status, kExitSuccess) << real.errors;
  EXPECT_EQ(real.output.substr(real.output.find('(')), dry.output.substr(dry.output.find('(')));
}

// Sources that make the same change are each named in the plan, the later ones as the first.
TEST(RunPackerTest, EqualChangesOfSeveralSourcesAreEachInThePlan) {
  PackFolder pack;
  const std::string weapons = pack.tables + "/S_Weapons.txt";
  std::string text = ReadWholeFile(weapons);
  text.replace(text.find("burn,pierce\t\t3"), 14, "burn,pierce\t\t5");
  WriteWholeFile(weapons, text);
  const char* tables = pack.tables.c_str();
  const RunResult plan = RunGrimpack({"--no-new", pack.original.c_str(), tables, tables, tables});
  EXPECT_EQ(plan.status, kExitSuccess) << plan.errors;
  EXPECT_TRUE(
      plan.output.starts_with("changed\tS_Weapons.txt\t1\t3\t3\tPower\t3\t5\tflame_arrow\n"
                              "changed\tS_Weapons.txt\t2\t3\t3\tPower\t3\t5\tflame_arrow\n"
                              "changed\tS_Weapons.txt\t3\t3\t3\tPower\t3\t5\tflame_arrow\n"
                              "grimpack: would write NEW"))
      << plan.output;
}

// A cell that shows its stored value otherwise ("12.50" for 12.5) is no changed item, even where
// another cell of its record changed.
TEST(RunPackerTest, ACellThatKeepsItsStoredValueIsNotInThePlan) {
  PackFolder pack;
  const std::string prototypes = pack.tables + "/SpellPrototypes.txt";
  std::string text = ReadWholeFile(prototypes);
  const std::size_t mana = text.find("\t12.5\t") + 1;
  const std::size_t lineStart = text.rfind("\r\n", mana) + 2;
  text.replace(mana, 4, "12.50");
  text.replace(lineStart, text.find('\t', lineStart) - lineStart, "Renamed Spell");
  WriteWholeFile(prototypes, text);
  const RunResult plan = RunGrimpack({"--dry-run", pack.original.c_str(), pack.tables.c_str()});
  EXPECT_EQ(plan.status, kExitSuccess) << plan.errors;
  EXPECT_NE(plan.output.find("\tName\t"), std::string::npos) << plan.output;
  EXPECT_EQ(plan.output.find("\tMana\t"), std::string::npos) << plan.output;
}

// A plan or a summary that cannot be printed (a full disk, a closed standard output) fails the
// run with why on standard error; a real run that cannot print its plan writes nothing, and
// one that cannot print its summary says that NEW is written.
TEST(RunPackerTest, APlanOrSummaryThatCannotBePrintedFailsTheRun) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no device that is always full";
  PackFolder pack;
  const std::string weapons = pack.tables + "/S_Weapons.txt";
  std::string text = ReadWholeFile(weapons);
  text.replace(text.find("burn,pierce\t\t3"), 14, "burn,pierce\t\t5");  // a plan of one item
  WriteWholeFile(weapons, text);
  const std::string target = pack.folder / "new.sdb";
  const struct {
    std::string redirection;
    std::vector<std::string> options;
    std::string said;
  } cases[] = {
      {">/dev/full", {"--dry-run"}, "cannot print the plan: "},
      {">&-", {"--dry-run"}, "cannot print the plan: "},
      {">/dev/full", {"--verbose"}, "cannot print the plan: "},
      {">&-", {"--verbose"}, "cannot print the plan: "},
      {">/dev/full", {}, "is written, but its summary cannot be printed: "},
      {">&-", {}, "is written, but its summary cannot be printed: "},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.redirection + " " + (test.options.empty() ? "" : test.options[0]));
    std::vector<std::string> arguments = test.options;
    arguments.insert(arguments.end(), {pack.original, pack.tables, target});
    const ProgramResult run = RunProgramWithOutputTo(test.redirection, GRIMPACK_PATH, arguments);
    EXPECT_EQ(run.exitStatus, kExitFailure) << run.output;
    EXPECT_NE(run.output.find("grimpack: " +
                              (test.said.starts_with("is") ? "'" + target + "' " : "") + test.said),
              std::string::npos)
        << run.output;
    EXPECT_EQ(std::filesystem::exists(target), test.options.empty());
    std::filesystem::remove(target);
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
    EXPECT_EQ(RunProgram(packer, {"only-one"}).exitStatus, kExitUsage);
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
  EXPECT_EQ(packed.exitStatus, kExitSuccess) << packed.output;
  RunProgram(LORUDEX_PATH, {folder / "new", folder / "again"});
  EXPECT_EQ(ReadWholeFile(folder / "again/Quests.txt"), text);
  text.replace(money, 5, "12.75");
  WriteWholeFile(table, text);
  EXPECT_EQ(RunProgram(LORUPACK_PATH, {sample, folder / "tables", folder / "refused"}).exitStatus,
            kExitFailure);
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
    EXPECT_EQ(packed.exitStatus, kExitSuccess) << c.table;
    EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(c.sample)) << c.table;
    WriteWholeFile(table, std::string(text).insert(cellEnd, c.otherDecimals));
    EXPECT_EQ(RunProgram(c.packer, {c.sample, folder / "tables", folder / "refused"}).exitStatus,
              kExitFailure)
        << c.table;
    EXPECT_FALSE(std::filesystem::exists(folder / "refused"));
  }
  unsetenv("LC_ALL");
}

// A run killed while it writes leaves nothing behind: the new database has no name until it is
// checked. The kill is SIGXFSZ from the file size limit, sent at the write that crosses it; like
// SIGKILL it ends the run without any handler.
TEST(RunPackerTest, RunKilledWhileWritingLeavesNothingBehind) {
  PackFolder pack;
  PlatformFile probe;
  if (!CreateUnnamedFile(FolderPart(pack.original), 0600, probe)) {
    GTEST_SKIP() << "the file system of " << pack.folder.path << " has no unnamed files";
  }
  static_cast<void>(CloseFile(probe));
  const std::string target = pack.folder / "new.sdb";
  WriteWholeFile(target, "old");
  std::vector<std::string> command = {"/bin/sh", "-c", "ulimit -c 0 && ulimit -f 1 && exec \"$@\"",
                                      "sh"};
  for (const std::string& word :
       ProgramCommand(GRIMPACK_PATH, {pack.original, pack.tables, target}))
    command.push_back(word);
  ASSERT_GT(std::filesystem::file_size(pack.original), 1024u) << "more than the limit's block";
  const ProgramResult result = RunCommand(command);
  EXPECT_EQ(result.signal, SIGXFSZ);
  EXPECT_EQ(pack.Files(), (std::vector<std::string>{"new.sdb", "spells.sdb", "tables"}));
  EXPECT_EQ(ReadWholeFile(target), "old");
}

// The temporary file's name is short and random: a NEW whose name fills the folder's limit is
// written, and no number of stale files beside it (the counted names of earlier versions among
// them) stops a run.
TEST(RunPackerTest, TemporaryNamesFitBesideAnyNewAndNeverRunOut) {
  PackFolder pack;
  std::vector<std::string> stale;
  for (int number = 1; number <= 100; ++number) {
    stale.push_back("new.sdb.pack" + std::to_string(number) + ".tmp");
    stale.push_back(".pack-" + std::string(10, static_cast<char>('a' + number % 26)) +
                    std::to_string(number) + ".tmp");
  }
  for (const std::string& name : stale)
    WriteWholeFile(pack.folder / name, "stale");
  for (const std::string& name : {std::string("new.sdb"), std::string(250, 'n') + ".sdb"}) {
    SCOPED_TRACE(name.size());
    const std::string target = pack.folder / name;
    const RunResult result =
        RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
    EXPECT_EQ(result.status, kExitSuccess) << result.errors;
    EXPECT_EQ(ReadWholeFile(target), ReadWholeFile(pack.original));
  }
  EXPECT_EQ(pack.Files().size(), stale.size() + 4);
  for (const std::string& name : stale)
    EXPECT_EQ(ReadWholeFile(pack.folder / name), "stale") << name;
}

// NEW keeps its permissions; a new NEW takes the original's without execute bits (less the
// umask): a copy of a private database is as private, from the temporary file on.
TEST(RunPackerTest, NewDatabaseIsAsPrivateAsTheFileItReplacesOrItsOriginal) {
  using std::filesystem::perms;
  const struct {
    perms original;
    bool newExists;
    perms existing;
    perms expected;
  } cases[] = {
      {perms{0644}, false, perms{}, perms{0644}},    {perms{0600}, false, perms{}, perms{0600}},
      {perms{0755}, false, perms{}, perms{0644}},    {perms{0644}, true, perms{0600}, perms{0600}},
      {perms{0600}, true, perms{0664}, perms{0664}},  // beyond what the umask lets through
  };
  const mode_t umaskBefore = umask(022);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.original)) + " " +
                 std::to_string(static_cast<int>(c.existing)));
    PackFolder pack;
    std::filesystem::permissions(pack.original, c.original);
    const std::string target = pack.folder / "new.sdb";
    if (c.newExists) {
      WriteWholeFile(target, "old");
      std::filesystem::permissions(target, c.existing);
    }
    const RunResult result =
        RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
    EXPECT_EQ(result.status, kExitSuccess) << result.errors;
    EXPECT_EQ(std::filesystem::status(target).permissions(), c.expected);
  }
  umask(umaskBefore);
}

// A NEW that the user may not write is not replaced, as cp leaves it without -f: read-only, or
// someone else's in a shared folder (one with the sticky bit, as /tmp), also when it is ORIGINAL.
// Root may write any file, and replaces a read-only one.
TEST(RunPackerTest, NewThatTheUserMayNotWriteIsNotReplaced) {
  const bool asRoot = geteuid() == 0;
  const uid_t user = asRoot ? kUnprivilegedUser : geteuid();
  const struct {
    std::string name;
    bool usersOwn;
    std::filesystem::perms mode;
    bool replaced;
  } cases[] = {
      {"read-only.sdb", true, std::filesystem::perms{0444}, false},
      {"others.sdb", false, std::filesystem::perms{0644}, false},
      {"others-open.sdb", false, std::filesystem::perms{0666}, false},
      {"own.sdb", true, std::filesystem::perms{0644}, true},
      {"spells.sdb", true, std::filesystem::perms{0444}, false},  // ORIGINAL itself
  };
  PackFolder pack;
  const std::string program = pack.folder / "grimpack";
  std::filesystem::copy_file(GRIMPACK_PATH, program);
  std::filesystem::permissions(pack.folder.path, std::filesystem::perms{01777});
  const std::string sample = ReadWholeFile(pack.original);
  const std::string edited = pack.tables + "/SpellModifiers.txt";
  std::string text = ReadWholeFile(edited);
  WriteWholeFile(edited, text.replace(text.find("\t1\t"), 3, "\t2\t"));
  for (const auto& c : cases) {
    if (!c.usersOwn && !asRoot) continue;  // only root can give a file to someone else
    SCOPED_TRACE(c.name);
    const std::string target = pack.folder / c.name;
    WriteWholeFile(target, sample);
    ASSERT_EQ(chown(target.c_str(), c.usersOwn ? user : 0, static_cast<gid_t>(-1)), 0);
    std::filesystem::permissions(target, c.mode);
    const ProgramResult result = RunProgramUnprivileged(program, {"spells.sdb", "tables", c.name},
                                                        pack.folder.path.string(), true);
    EXPECT_EQ(result.exitStatus, c.replaced ? kExitSuccess : kExitFailure) << result.output;
    EXPECT_EQ(ReadWholeFile(target) == sample, !c.replaced);
    if (!c.replaced) {
      EXPECT_TRUE(result.output.starts_with("grimpack: '" + c.name + "' may not be written by you"))
          << result.output;
    }
  }
  if (asRoot) {
    const std::string target = pack.folder / "read-only.sdb";
    const RunResult result =
        RunGrimpack({pack.original.c_str(), pack.tables.c_str(), target.c_str()});
    EXPECT_EQ(result.status, kExitSuccess) << "root may write any file: " << result.errors;
    EXPECT_NE(ReadWholeFile(target), sample);
  }
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
  for (const Case& test : {Case{GRIMPACK_PATH, "grimpack", kSpellFormat.tables, 3, 1},
                           Case{LORUPACK_PATH, "lorupack", kQuestFormat.tables, 1, 0}}) {
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
    EXPECT_EQ(result.exitStatus, kExitFailure);
    EXPECT_EQ(result.output, test.program + ": cannot read 'original': out of memory\n" +
                                 test.program + ": nothing was written\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "new"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 2);
  }
}

}  // namespace

namespace {

// A table of a gigabyte without a tab is refused under a limit of memory far below its size, at
// once: its header row is read first, alone.
TEST(RunPackerTest, AGigabyteTableWithoutATabIsRefusedByItsStartAlone) {
  if (!kMemoryLimitsHold) GTEST_SKIP() << "the sanitizers and emulators reserve address space";
  PackFolder pack;
  const std::string table = pack.tables + "/S_Spells.txt";
  WriteWholeFile(table, std::string(64, '9'));
  std::filesystem::resize_file(table, std::uintmax_t{1} << 30);
  const ProgramResult result =
      RunProgramInMemory(kMemoryBelowHugeText, GRIMPACK_PATH, {"spells.sdb", "tables", "new.sdb"},
                         pack.folder.path.string());
  EXPECT_EQ(result.exitStatus, kExitFailure);
  EXPECT_EQ(result.output,
            "grimpack: S_Spells.txt line 1: the header row has no tab: save the table with the tab "
            "as the only separator\ngrimpack: nothing was written\n");
  EXPECT_FALSE(std::filesystem::exists(pack.folder / "new.sdb"));
}

}  // namespace
