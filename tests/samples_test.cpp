// Tests of the shipped samples: the tools' output on them matches the committed expected tables
// and dumps byte for byte. UPDATE_GOLDEN=1 in the environment rewrites the expected files from
// the tools' output instead of comparing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "program_run.h"
#include "test_files.h"

namespace {

const std::string kSamplesFolder = SAMPLES_FOLDER;
const std::string kExpectedFolder = kSamplesFolder + "/expected";

constexpr std::string_view kSpellTables[] = {"SpellPrototypes.txt", "SpellModifiers.txt",
                                             "S_Spells.txt", "S_Armors.txt", "S_Weapons.txt"};
constexpr std::string_view kQuestTables[] = {"Briefing.txt", "Quests.txt"};

bool IsUpdatingGoldens() {
  const char* update = std::getenv("UPDATE_GOLDEN");
  return update != nullptr && std::string_view(update) == "1";
}

// Compares `actual` with the expected file, or rewrites the expected file when updating.
void ExpectGolden(const std::string& expectedPath, const std::string& actual) {
  if (IsUpdatingGoldens()) {
    std::filesystem::create_directories(std::filesystem::path(expectedPath).parent_path());
    WriteWholeFile(expectedPath, actual);
    return;
  }
  const std::string expected = ReadWholeFile(expectedPath);
  ASSERT_FALSE(expected.empty()) << "missing " << expectedPath;
  // A byte comparison without printing both files: the first difference says enough.
  const auto [at, ignored] =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  EXPECT_TRUE(expected == actual) << expectedPath << " differs at byte " << (at - expected.begin())
                                  << " (expected " << expected.size() << " bytes, got "
                                  << actual.size()
                                  << "); after a deliberate change rerun with UPDATE_GOLDEN=1";
}

// Unpacks a sample with a tool into a fresh folder and compares every table with its golden.
void ExpectToolMatchesGoldens(const std::string& tool, std::string_view toolName,
                              std::string_view sample, std::span<const std::string_view> tables) {
  TempFolder output;
  const ProgramResult result =
      RunProgram(tool, {kSamplesFolder + "/" + std::string(sample), output.path.string()});
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_EQ(result.output, "");
  std::size_t filesWritten = 0;
  for (const auto& entry : std::filesystem::directory_iterator(output.path)) {
    static_cast<void>(entry);
    ++filesWritten;
  }
  EXPECT_EQ(filesWritten, tables.size());
  for (std::string_view table : tables) {
    ExpectGolden(kExpectedFolder + "/" + std::string(toolName) + "/" + std::string(table),
                 ReadWholeFile(output / table));
  }
}

// The quest tables write the locale's decimal separator: the goldens hold the '.' of "C".
class SamplesTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("LC_ALL", "C", 1); }
};

TEST_F(SamplesTest, GrimdexTablesMatchGoldens) {
  ExpectToolMatchesGoldens(GRIMDEX_PATH, "grimdex", "spells.sdb", kSpellTables);
}

TEST_F(SamplesTest, LorudexTablesMatchGoldens) {
  ExpectToolMatchesGoldens(LORUDEX_PATH, "lorudex", "quests.qdb", kQuestTables);
}

TEST_F(SamplesTest, NodedumpOfSamplesMatchesGoldens) {
  // The spell sample down to its records only, which keeps its expected dump small.
  struct DumpCase {
    const char* sample;
    std::vector<std::string> options;
  };
  const DumpCase cases[] = {{"spells.sdb", {"--depth", "3"}}, {"quests.qdb", {}}};
  for (const DumpCase& test : cases) {
    std::vector<std::string> arguments = test.options;
    arguments.push_back(kSamplesFolder + "/" + test.sample);
    const ProgramResult result = RunProgram(NODEDUMP_PATH, arguments);
    EXPECT_EQ(result.exitStatus, 0) << test.sample;
    ExpectGolden(kExpectedFolder + "/nodedump/" + test.sample + ".txt", result.output);
  }
}

TEST_F(SamplesTest, NodedumpExplainsCutSample) {
  TempFolder folder;
  const std::string spells = ReadWholeFile(kSamplesFolder + "/spells.sdb");
  ASSERT_GT(spells.size(), 1000u);
  WriteWholeFile(folder / "cut.sdb", spells.substr(0, 1000));
  const ProgramResult result = RunProgram(NODEDUMP_PATH, {"--depth", "3", folder / "cut.sdb"});
  EXPECT_EQ(result.exitStatus, 1);
  // The database, the prototype table and the record the cut falls in are each marked, and
  // where grimdex stops.
  const std::string cutMark = "damage: the file ends @1000, ";
  std::size_t marks = 0;
  for (std::size_t at = result.output.find(cutMark); at != std::string::npos;
       at = result.output.find(cutMark, at + 1)) {
    ++marks;
  }
  EXPECT_EQ(marks, 3u) << result.output;
  // grimdex stops in the record the cut falls in.
  EXPECT_NE(result.output.find("damage: grimdex stops with"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("; damaged: 4 marks\n"), std::string::npos) << result.output;
}

}  // namespace
