// Whole-program tests of lorudex: the built binary on databases the tests write.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "case_runner.h"
#include "quest_walker.h"

namespace {

const std::string kLorudex = LORUDEX_PATH;

TEST(LorudexTest, UnpacksEveryTestDatabaseIntoExactlyTheExpectedTables) {
  for (const DatabaseCase& test : QuestCases())
    ExpectCaseOutput(kLorudex, kQuestFormat.tables, test);
}

// Records read in one piece give the tables of records read with a check per read.
TEST(LorudexTest, EveryTestDatabaseGivesTheSameTablesWhenItsRecordsAreReadInOnePiece) {
  for (const DatabaseCase& test : QuestCases()) {
    if (test.exitStatus == 0) {
      ExpectCaseOutput(kLorudex, kQuestFormat.tables, WithEmptyNodesAfter(test));
    }
  }
}

TEST(LorudexTest, PrintsItsBannerWithoutArguments) {
  const ProgramResult result = RunProgram(kLorudex, {""});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output,
            "/------------------------------------\\\r\n"
            "MARROWFJORDS QUESTS DATABASE UNPACKER\r\n"
            "VERSION: " UNPACKER_VERSION
            "\r\n"
            "\\------------------------------------/\r\n"
            "\r\n"
            " USAGE: lorudex.exe quests.qdb\r\n");
}

TEST(LorudexTest, WritesBothHeaderRowsForAnEmptyDatabaseIntoTheWorkingFolder) {
  TempFolder folder;
  WriteWholeFile(folder / "quests.qdb", "");
  const ProgramResult result = RunProgram(kLorudex, {"quests.qdb"}, folder.path.string());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(ReadWholeFile(folder / "Briefing.txt"),
            "Name\tExp\tExpTotal\tZone\tDescription\tMoney\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "Quests.txt"),
            "Name\tExp\tMoney\tItems\tDescription\tRemoveItems\tGiveQuests\tCompleteQuests\t"
            "AvailableZones\tCompleteZones\tSpecial\r\n");
}

TEST(LorudexTest, GeneralNumbersTakeTheLocaleSeparator) {
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is needed: generate it with locale-gen";
  std::setlocale(LC_ALL, "C");
  DatabaseCase test;
  for (const DatabaseCase& each : QuestCases()) {
    if (each.name == "full_records") test = each;
  }
  test.tables = {{"Briefing.txt", Lines({FullBriefingLine(',')})},
                 {"Quests.txt", Lines({FullQuestLine(',')})}};
  ASSERT_EQ(setenv("LC_ALL", "de_DE.UTF-8", 1), 0);
  ExpectCaseOutput(kLorudex, kQuestFormat.tables, test);
  unsetenv("LC_ALL");
}

}  // namespace
