// Tests of the run front end, driven in-process with a walker written for the tests.
#include "run_unpacker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "node_writer.h"
#include "platform.h"
#include "run_failure.h"
#include "test_files.h"

namespace {

constexpr std::string_view kBanner[] = {
    "/----\\", "TEST UNPACKER", "VERSION: " UNPACKER_VERSION, "\\----/", "", " USAGE: test.exe db"};
constexpr TableSpec kTables[] = {{"First.txt", "A\tB"}, {"Second.txt", "C"}, {"Third.txt", "D"}};

// Writes every top-level node's payload as a line to the table its kind selects.
void CopyPayloadsWalker(NodeReader& reader, TableSet& tables, char) {
  while (!AtEnd(reader)) {
    const NodeHeader node = ReadNodeHeader(reader);
    std::string payload(static_cast<std::size_t>(PayloadLength(node)), '\0');
    ReadBytes(reader, payload.size(), reinterpret_cast<std::uint8_t*>(payload.data()));
    WriteLine(tables.tables[node.kind % tables.tables.size()], payload);
  }
}

void IdleWalker(NodeReader&, TableSet&, char) {}

// Runs in a fresh working folder, so that tables going there can be seen.
class RunUnpackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path);
  }
  void TearDown() override { std::filesystem::current_path(previous); }

  int Run(std::vector<const char*> arguments, Walker walker = CopyPayloadsWalker) {
    console.clear();
    arguments.insert(arguments.begin(), "/some/folder/unpacker");
    return RunUnpacker(arguments, kBanner, kTables, walker, Console{&console});
  }

  std::string Database(std::string_view bytes) {
    WriteWholeFile(folder / "db", bytes);
    return folder / "db";
  }

  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  TempFolder folder;
  std::filesystem::path previous;
  std::string console;
};

const std::string kHeaderRowsOnly[] = {"A\tB\r\n", "C\r\n", "D\r\n"};

TEST_F(RunUnpackerTest, NoArgumentPrintsTheBannerAndCreatesNothing) {
  const std::string banner = "/----\\\r\nTEST UNPACKER\r\nVERSION: " UNPACKER_VERSION
                             "\r\n\\----/\r\n\r\n USAGE: test.exe db\r\n";
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(console, banner);
  EXPECT_EQ(Run({"", "out"}), 0);  // arguments count up to the first empty one
  EXPECT_EQ(console, banner);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path));
}

TEST_F(RunUnpackerTest, EmptyDatabaseGivesHeaderRowsOnly) {
  const std::string database = Database("");
  EXPECT_EQ(Run({database.c_str(), "", "ignored"}), 0);
  EXPECT_EQ(console, "");
  for (std::size_t index = 0; index < std::size(kTables); ++index) {
    EXPECT_EQ(ReadWholeFile(folder / kTables[index].fileName), kHeaderRowsOnly[index]);
  }
}

TEST_F(RunUnpackerTest, WritesLinesToTheTablesInOrder) {
  const std::string database =
      Database(NodeBytes(0, "one") + NodeBytes(1, "two") + NodeBytes(3, "three"));
  EXPECT_EQ(Run({database.c_str()}), 0);
  EXPECT_EQ(ReadWholeFile(folder / "First.txt"), "A\tB\r\none\r\nthree\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "Second.txt"), "C\r\ntwo\r\n");
}

TEST_F(RunUnpackerTest, MissingDatabaseFailsWithoutTablesButMakesTheFolder) {
  EXPECT_EQ(Run({"no-such.sdb", "made"}), 1);
  EXPECT_EQ(console, "Error opening file\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(folder / "made"));
  EXPECT_TRUE(std::filesystem::is_empty(folder / "made"));
  EXPECT_EQ(Run({folder.path.c_str()}), 1);  // a folder is no database
  EXPECT_EQ(console, "Error opening file\r\n");
  EXPECT_FALSE(Exists(folder / "First.txt"));
}

TEST_F(RunUnpackerTest, TablesGoIntoNewOrExistingOutputFolders) {
  const std::string database = Database(NodeBytes(0, "row"));
  const std::string made = folder / "made";
  const std::string withSeparator = folder / "made2/";
  EXPECT_EQ(Run({database.c_str(), made.c_str()}), 0);
  EXPECT_EQ(Run({database.c_str(), made.c_str()}), 0);  // now existing
  EXPECT_EQ(Run({database.c_str(), withSeparator.c_str()}), 0);
  EXPECT_EQ(Run({database.c_str(), "relative"}), 0);
  for (const std::string& path : {made, withSeparator, folder / "relative"}) {
    EXPECT_EQ(ReadWholeFile(path + "/First.txt"), "A\tB\r\nrow\r\n") << path;
  }
  EXPECT_FALSE(Exists(folder / "First.txt"));
}

TEST_F(RunUnpackerTest, OutputFolderThatCannotBeMadeFailsBeforeAnyTable) {
  const std::string database = Database(NodeBytes(0, "row"));
  WriteWholeFile(folder / "plain-file", "x");
  for (const std::string& output : {folder / "missing/parent", folder / "plain-file"}) {
    EXPECT_EQ(Run({database.c_str(), output.c_str()}), 1);
    EXPECT_EQ(console, "Error creating folder\r\n");
  }
  EXPECT_FALSE(Exists(folder / "First.txt"));
  EXPECT_FALSE(Exists(folder / "missing"));
}

TEST_F(RunUnpackerTest, TruncatedDatabaseKeepsEveryLineWrittenBeforeTheFailure) {
  const std::string whole = NodeBytes(0, "kept") + NodeBytes(1, "also kept") + NodeBytes(0, "lost");
  const std::string database = Database(whole.substr(0, whole.size() - 1));
  EXPECT_EQ(Run({database.c_str()}), 1);
  EXPECT_EQ(console,
            "Exception EInOutError in module unpacker at 00401A2C.\nRead beyond end of file.\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "First.txt"), "A\tB\r\nkept\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "Second.txt"), "C\r\nalso kept\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "Third.txt"), "D\r\n");
}

TEST_F(RunUnpackerTest, TableNameTakenByAFolderFailsWithEarlierTablesEmpty) {
  const std::string database = Database(NodeBytes(0, "row"));
  std::filesystem::create_directory(folder / "Second.txt");
  EXPECT_EQ(Run({database.c_str()}), 1);
  EXPECT_EQ(console, "Exception EInOutError in module unpacker at 00401A2C.\nI/O error " +
                         std::to_string(EISDIR) + ".\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "First.txt"), "");
  EXPECT_FALSE(Exists(folder / "Third.txt"));
}

TEST_F(RunUnpackerTest, FullDiskIsReportedWithItsErrorNumber) {
  const std::string database = Database(NodeBytes(0, "row"));
  std::filesystem::create_symlink("/dev/full", folder / "Third.txt");
  EXPECT_EQ(Run({database.c_str()}), 1);
  EXPECT_EQ(console, "Exception EInOutError in module unpacker at 00401A2C.\nI/O error 28.\r\n");
  EXPECT_EQ(ReadWholeFile(folder / "First.txt"), "A\tB\r\nrow\r\n");
}

TEST_F(RunUnpackerTest, ReadOnlyDatabaseIsUnpacked) {
  const std::string database = Database(NodeBytes(1, "row"));
  ASSERT_EQ(chmod(database.c_str(), 0444), 0);
  EXPECT_EQ(Run({database.c_str()}), 0);
  EXPECT_EQ(ReadWholeFile(folder / "Second.txt"), "C\r\nrow\r\n");
  // A running program cannot be opened for writing, not even by the superuser.
  EXPECT_EQ(Run({"/proc/self/exe"}, IdleWalker), 0);
  EXPECT_EQ(console, "");
}

TEST(FailureReportTest, MessagesFollowTheErrorNumber) {
  const struct {
    int errorNumber;
    std::string_view message;
  } cases[] = {
      {2, "File not found."},     {3, "Invalid filename."},          {4, "Too many open files."},
      {5, "File access denied."}, {100, "Read beyond end of file."}, {28, "I/O error 28."},
      {0, "I/O error 0."}};
  for (const auto& test : cases) {
    EXPECT_EQ(FailureReport("grimdex", test.errorNumber),
              "Exception EInOutError in module grimdex at 00401A2C.\n" + std::string(test.message) +
                  "\r\n");
  }
}

// An errno without a message of its own was looked up as a number of the message table: EIO (5)
// read "File access denied.", EINTR (4) "Too many open files.", ENETDOWN "Read beyond end of file".
TEST(FailureReportTest, UnmappedErrnoReadsAsIOErrorWithItsOwnNumber) {
  const struct {
    int errnoValue;
    std::string message;  // empty: "I/O error" and the errno
  } cases[] = {
      {ENOENT, "File not found"},
      {ENOTDIR, "Invalid filename"},
      {ENAMETOOLONG, "Invalid filename"},
      {EMFILE, "Too many open files"},
      {ENFILE, "Too many open files"},
      {EACCES, "File access denied"},
      {EPERM, "File access denied"},
      {ESRCH, ""},
      {EINTR, ""},
      {EIO, ""},
      {ENXIO, ""},
      {ENOSPC, ""},
      {ENETDOWN, ""},
      {EINVAL, ""},
  };
  for (const auto& test : cases) {
    const std::string message =
        test.message.empty() ? "I/O error " + std::to_string(test.errnoValue) : test.message;
    EXPECT_EQ(FailureMessage(ReportErrorNumber(test.errnoValue)), message) << test.errnoValue;
  }
}

TEST(ModuleNameTest, DropsTheFolder) {
  EXPECT_EQ(ModuleNameOf("/usr/local/bin/grimdex"), "grimdex");
  EXPECT_EQ(ModuleNameOf("lorudex"), "lorudex");
  EXPECT_EQ(ModuleNameOf(nullptr), "");
}

}  // namespace
