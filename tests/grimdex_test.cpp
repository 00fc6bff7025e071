// Whole-program tests of grimdex: the built binary on databases the tests write.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "case_runner.h"
#include "spell_walker.h"

namespace {

const std::string kGrimdex = GRIMDEX_PATH;

TEST(GrimdexTest, UnpacksEveryTestDatabaseIntoExactlyTheExpectedTables) {
  for (const DatabaseCase& test : SpellCases())
    ExpectCaseOutput(kGrimdex, kSpellFormat.tables, test);
}

// Records read in one piece give the tables of records read with a check per read.
TEST(GrimdexTest, EveryTestDatabaseGivesTheSameTablesWhenItsRecordsAreReadInOnePiece) {
  for (const DatabaseCase& test : SpellCases()) {
    if (test.exitStatus == 0) {
      ExpectCaseOutput(kGrimdex, kSpellFormat.tables, WithEmptyNodesAfter(test));
    }
  }
}

TEST(GrimdexTest, PrintsItsBannerWithoutArguments) {
  const ProgramResult result = RunProgram(kGrimdex, {});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output,
            "/------------------------------------\\\r\n"
            "MARROWFJORDS SPELLS DATABASE UNPACKER\r\n"
            "VERSION: " UNPACKER_VERSION
            "\r\n"
            "\\------------------------------------/\r\n"
            "\r\n"
            " USAGE: grimdex.exe spells.sdb [path to save to]\r\n");
}

TEST(GrimdexTest, WritesTheFiveHeaderRowsForAnEmptyDatabase) {
  TempFolder folder;
  WriteWholeFile(folder / "spells.sdb", "");
  const ProgramResult result = RunProgram(kGrimdex, {"spells.sdb"}, folder.path.string());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(ReadWholeFile(folder / "SpellPrototypes.txt"),
            "Name\tCode\tSubtype\tPrice\tType\tMana\tSlots\tSpeed\tRange\tArea\tEffect\tTarget\t"
            "Num Targets\tDuration\tActions\tRequire Trace\tBuilt-in Mods\tSpecial Mods\t"
            "Texture Type Index\tSubtypeID\tRange Mod\tTargets Mod\tArea Mod\tEffect Mod\t"
            "Duration Mod\tComplex\tShop 1\tShop 2\tShop 3\tShop 4\tShop 5\tLight Color\t"
            "Light Radius\tFadeout time\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "SpellModifiers.txt"),
            "Name\tCode\tPrice\tType\tMana\tValue\tComplex\tShop\tShop 1\tShop 2\tShop 3\t"
            "Shop 4\tShop 5\r\n");
  for (const char* name : {"S_Spells.txt", "S_Armors.txt", "S_Weapons.txt"}) {
    EXPECT_EQ(ReadWholeFile(folder / name),
              "Prototype\tRequired\tOptional\tPower\tShop 1\tShop 2\tShop 3\tShop 4\tShop 5\r\n");
  }
}

TEST(GrimdexTest, MissingDatabaseIsAFailure) {
  TempFolder folder;
  const ProgramResult result = RunProgram(kGrimdex, {"missing.sdb", "made"}, folder.path.string());
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.output, "Error opening file\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(folder / "made"));
}

TEST(GrimdexTest, PlainNumbersKeepTheirPointUnderACommaLocale) {
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is needed: generate it with locale-gen";
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(setenv("LC_ALL", "de_DE.UTF-8", 1), 0);
  for (const DatabaseCase& test : SpellCases())
    ExpectCaseOutput(kGrimdex, kSpellFormat.tables, test);
  unsetenv("LC_ALL");
}

}  // namespace
