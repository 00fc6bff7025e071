// Tests of the sample generator: it reproduces the committed sample databases bit for bit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "program_run.h"
#include "test_files.h"

namespace {

TEST(SampleGeneratorTest, ReproducesCommittedDatabases) {
  TempFolder folder;
  const ProgramResult result = RunProgram(SAMPLE_GENERATOR_PATH, {folder.path.string()});
  ASSERT_EQ(result.exitStatus, 0);
  for (const char* name : {"spells.sdb", "quests.qdb"}) {
    const std::string committed = ReadWholeFile(std::string(SAMPLES_FOLDER "/") + name);
    EXPECT_FALSE(committed.empty()) << name;
    EXPECT_TRUE(ReadWholeFile(folder / name) == committed)
        << name << " differs from the generator's output: regenerate it with sample_generator";
  }
}

TEST(SampleGeneratorTest, RefusesMissingFolder) {
  TempFolder folder;
  EXPECT_EQ(RunProgram(SAMPLE_GENERATOR_PATH, {}).exitStatus, 2);
  EXPECT_EQ(RunProgram(SAMPLE_GENERATOR_PATH, {folder / "missing"}).exitStatus, 1);
}

}  // namespace
