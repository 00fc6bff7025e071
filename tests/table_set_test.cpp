// Tests of the output tables as files: their names, header rows and CR LF line ends, every line
// on disk once a table is closed or saved after a failure, and tables that cannot be written.
#include "table_set.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "failure_of.h"
#include "test_files.h"

namespace {

constexpr std::array<TableSpec, 2> kTables = {{{"First.txt", "A\tB"}, {"Second.txt", "C"}}};

// The text a table holds once the lines were handed to it.
std::string Expected(std::string_view header, const std::vector<std::string>& lines) {
  std::string text = std::string(header) + "\r\n";
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

// Lines of the given lengths, each of one letter, so that a misplaced byte shows.
std::vector<std::string> LinesOfLengths(std::initializer_list<std::size_t> lengths) {
  std::vector<std::string> lines;
  for (std::size_t length : lengths)
    lines.emplace_back(length, static_cast<char>('a' + lines.size() % 26));
  return lines;
}

TEST(TableSetTest, EveryLineHandedOverIsInItsFileOnceClosed) {
  constexpr std::size_t kBuffer = kTableBufferSize;
  const std::vector<std::string> cases[] = {
      {},
      LinesOfLengths({0, 1, 0}),
      LinesOfLengths({kBuffer - 7}),  // fills the buffer after the header exactly
      LinesOfLengths({kBuffer - 6}),
      LinesOfLengths({kBuffer - 2, 3}),
      LinesOfLengths({kBuffer + 1, 5, kBuffer * 2}),  // longer than the buffer
      std::vector<std::string>(40000, "a line of some length"),
  };
  for (const std::vector<std::string>& lines : cases) {
    TempFolder folder;
    TableSet tableSet;
    CreateTables(tableSet, kTables, folder / "out-", {});
    ASSERT_EQ(tableSet.tables.size(), kTables.size());
    for (const std::string& line : lines)
      WriteLine(tableSet.tables[0], line);
    for (Table& table : tableSet.tables)
      CloseTable(table);
    EXPECT_EQ(ReadWholeFile(folder / "out-First.txt"), Expected("A\tB", lines)) << lines.size();
    EXPECT_EQ(ReadWholeFile(folder / "out-Second.txt"), "C\r\n");
  }
}

TEST(TableSetTest, SavingAfterAFailureKeepsEveryLineHandedOver) {
  TempFolder folder;
  TableSet tableSet;
  CreateTables(tableSet, kTables, folder / "", {});
  const std::vector<std::string> lines = LinesOfLengths({10, kTableBufferSize, 3});
  for (const std::string& line : lines)
    WriteLine(tableSet.tables[1], line);
  SaveTablesAfterFailure(tableSet);
  SaveTablesAfterFailure(tableSet);  // closed tables are left alone
  EXPECT_EQ(ReadWholeFile(folder / "First.txt"), Expected("A\tB", {}));
  EXPECT_EQ(ReadWholeFile(folder / "Second.txt"), Expected("C", lines));
}

TEST(TableSetTest, CreatingTruncatesAnOlderTable) {
  TempFolder folder;
  WriteWholeFile(folder / "First.txt", std::string(1000, 'x'));
  TableSet tableSet;
  CreateTables(tableSet, kTables, folder / "", {});
  SaveTablesAfterFailure(tableSet);
  EXPECT_EQ(ReadWholeFile(folder / "First.txt"), "A\tB\r\n");
}

TEST(TableSetTest, ATableThatCannotBeCreatedEndsTheRunAndKeepsThoseBefore) {
  TempFolder folder;
  std::filesystem::create_directory(folder / "Second.txt");
  TableSet tableSet;
  EXPECT_NE(FailureOf([&] { CreateTables(tableSet, kTables, folder / "", {}); }), -1);
  SaveTablesAfterFailure(tableSet);
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / "First.txt"));
  TableSet elsewhere;
  EXPECT_NE(FailureOf([&] { CreateTables(elsewhere, kTables, folder / "missing/", {}); }), -1);
}

TEST(TableSetTest, ATableThatIsTheDatabaseIsRefusedBeforeAnyFileIsTouched) {
  TempFolder folder;
  const std::string database = folder / "Second.txt";
  WriteWholeFile(database, "database bytes");
  std::filesystem::create_directory(folder / "linked");
  std::filesystem::create_symlink(database, folder / "linked/Second.txt");
  PlatformFile file;
  ASSERT_TRUE(OpenFileForReading(database.c_str(), file));
  for (const std::string& prefix : {folder / "", folder / "linked/"}) {
    TableSet tableSet;
    EXPECT_EQ(FailureOf([&] { CreateTables(tableSet, kTables, prefix, file); }),
              kErrorAccessDenied);
    EXPECT_FALSE(std::filesystem::exists(prefix + "First.txt")) << prefix;
  }
  EXPECT_EQ(ReadWholeFile(database), "database bytes");
  CloseFile(file);
}

TEST(TableSetTest, AFailedWriteEndsTheRun) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no device that is always full";
  const std::array<TableSpec, 1> full = {{{"full", "header"}}};
  TableSet tableSet;
  CreateTables(tableSet, full, "/dev/", {});
  EXPECT_NE(FailureOf([&] { WriteLine(tableSet.tables[0], std::string(kTableBufferSize, 'x')); }),
            -1);
  WriteLine(tableSet.tables[0], "pending");
  EXPECT_NE(FailureOf([&] { CloseTable(tableSet.tables[0]); }), -1);
  SaveTablesAfterFailure(tableSet);
}

}  // namespace
