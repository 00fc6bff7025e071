// Tests of the sample generator: it reproduces the committed sample databases bit for bit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "program_run.h"
#include "test_files.h"

namespace {

// The whole file, or an empty string when it cannot be read. Reads by size rather than through
// stream iterators, which GCC's null-dereference warning trips over at -O3.
std::string ReadFileBytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return in ? bytes : std::string{};
}

TEST(SampleGeneratorTest, ReproducesCommittedDatabases) {
  TempFolder folder;
  const ProgramResult result = RunProgram(SAMPLE_GENERATOR_PATH, {folder.path.string()});
  ASSERT_EQ(result.exitStatus, 0);
  for (const char* name : {"spells.sdb", "quests.qdb"}) {
    const std::string committed = ReadFileBytes(std::string(SAMPLES_FOLDER "/") + name);
    EXPECT_FALSE(committed.empty()) << name;
    EXPECT_TRUE(ReadFileBytes(folder / name) == committed)
        << name << " differs from the generator's output: regenerate it with sample_generator";
  }
}

TEST(SampleGeneratorTest, RefusesMissingFolder) {
  TempFolder folder;
  EXPECT_EQ(RunProgram(SAMPLE_GENERATOR_PATH, {}).exitStatus, 2);
  EXPECT_EQ(RunProgram(SAMPLE_GENERATOR_PATH, {folder / "missing"}).exitStatus, 1);
}

}  // namespace
