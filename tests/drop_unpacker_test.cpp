// Tests of the unpackers' run of dropped databases: workbooks beside them, kept files, last lines.
#include "drop_unpacker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dropped_runs.h"
#include "run_unpacker.h"
#include "spell_walker.h"
#include "test_files.h"

namespace {

DropResult Drop(const std::vector<std::string>& dropped) {
  return RunDropped("grimdex", dropped,
                    [](std::span<const char* const> arguments, Console console) {
                      return RunUnpackerDrop(arguments, kSpellFormat, console);
                    });
}

// The workbook the command line writes of the same database, for comparison.
std::string CommandLineWorkbook(const std::string& database, const std::string& workbook) {
  const char* const arguments[] = {"grimdex", database.c_str(), workbook.c_str()};
  std::string ignored;
  EXPECT_EQ(RunUnpacker(arguments, kSpellFormat, Console{&ignored, nullptr}), kExitSuccess);
  return ReadWholeFile(workbook);
}

TEST(DropUnpackerTest, UnpacksADroppedDatabaseIntoAWorkbookBesideIt) {
  TempFolder folder;
  std::filesystem::create_directories(folder.path / "Заклинания" / "other");
  const std::string database = folder / "Заклинания/spells.sdb";
  WriteWholeFile(database, ReadWholeFile(SAMPLES_FOLDER "/spells.sdb"));
  const DropResult result = Drop({database});
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(LastLine(result.output), "Unpacked spells.sdb into spells.xlsx, beside it.");
  EXPECT_EQ(ReadWholeFile(folder / "Заклинания/spells.xlsx"),
            CommandLineWorkbook(database, folder / "Заклинания/other/spells.xlsx"));
}

TEST(DropUnpackerTest, KeepsAWorkbookAlreadyThereAndTakesTheNextFreeName) {
  TempFolder folder;
  const std::string database = folder / "spells.sdb";
  WriteWholeFile(database, ReadWholeFile(SAMPLES_FOLDER "/spells.sdb"));
  WriteWholeFile(folder / "spells.xlsx", "edited by hand");
  const DropResult first = Drop({database});
  const DropResult second = Drop({database});
  EXPECT_EQ(first.status, kExitSuccess);
  EXPECT_EQ(LastLine(first.output),
            "Unpacked spells.sdb into spells (2).xlsx (spells.xlsx is there and was kept), beside "
            "it.");
  EXPECT_EQ(LastLine(second.output),
            "Unpacked spells.sdb into spells (3).xlsx (spells.xlsx is there and was kept), beside "
            "it.");
  EXPECT_EQ(ReadWholeFile(folder / "spells.xlsx"), "edited by hand");
  EXPECT_EQ(ReadWholeFile(folder / "spells (2).xlsx"), ReadWholeFile(folder / "spells (3).xlsx"));
}

TEST(DropUnpackerTest, EndsWithWhatBecameOfEachDatabaseAndFailsWhenOneFailed) {
  TempFolder folder;
  const std::string database = folder / "spells.sdb";
  WriteWholeFile(database, ReadWholeFile(SAMPLES_FOLDER "/spells.sdb"));
  const DropResult result = Drop({folder / "missing.sdb", database});
  EXPECT_EQ(result.status, kExitFailure);
  EXPECT_NE(result.output.find("Not unpacked: missing.sdb (see the lines above).\r\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(LastLine(result.output), "Unpacked spells.sdb into spells.xlsx, beside it.");
  EXPECT_EQ(Drop({folder / "missing.sdb"}).status, kExitFailure);
}

TEST(DropUnpackerTest, ADoubleClickSaysWhatToDoThenShowsTheCommandLine) {
  const DropResult result = Drop({});
  std::string banner;
  const char* const bannerArguments[] = {"grimdex"};
  RunUnpacker(bannerArguments, kSpellFormat, Console{&banner, nullptr});
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_TRUE(result.output.starts_with("To unpack a database, drop it on grimdex in its"))
      << result.output;
  EXPECT_TRUE(result.output.ends_with("\r\n\r\n" + banner)) << result.output;
}

}  // namespace
