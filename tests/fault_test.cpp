// Whole-program tests of both tools under faults: a full disk, a read-only output folder,
// databases that cannot be opened, tables that are the database or a fifo, damaged lengths at
// every level, and very large databases.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "damaged_nodes.h"
#include "database_cases.h"
#include "node_writer.h"
#include "program_run.h"
#include "session_tools.h"
#include "test_files.h"

namespace {

const Tool& kGrimdex = kSpells;
const Tool& kLorudex = kQuests;
const Tool kTools[] = {kGrimdex, kLorudex};

std::string Report(const Tool& tool, std::string_view message) {
  return "Exception EInOutError in module " + UnpackerName(tool) + " at 00401A2C.\n" +
         std::string(message) + ".\r\n";
}

std::string TablePath(const TempFolder& folder, const TableSpec& table) {
  return folder / "out/" + std::string(table.fileName);
}

bool HasTables(const TempFolder& folder, const Tool& tool) {
  return std::ranges::any_of(tool.tables, [&folder](const TableSpec& table) {
    return std::filesystem::exists(TablePath(folder, table));
  });
}

// Runs the tool on `database` in `folder`, tables to folder/out.
ProgramResult RunOn(const Tool& tool, const TempFolder& folder, const std::string& database) {
  return RunProgram(tool.program, {database, "out"}, folder.path.string());
}

ProgramResult RunOnBytes(const Tool& tool, const TempFolder& folder, std::string_view bytes) {
  WriteWholeFile(folder / "database", bytes);
  return RunOn(tool, folder, "database");
}

// Runs the tool as a user without any rights in `folder` (RunProgramUnprivileged). The program
// is copied into the folder, so that the user can reach it wherever the build lives; the folder
// is opened up for reading.
ProgramResult RunUnprivileged(const Tool& tool, const TempFolder& folder,
                              const std::string& database) {
  const std::string program = folder / UnpackerName(tool);
  std::filesystem::copy_file(tool.program, program);
  chmod(folder.path.c_str(), 0755);
  chmod(program.c_str(), 0755);
  return RunProgramUnprivileged(program, {database, "out"}, folder.path.string());
}

TEST(FaultTest, TableOnAFullDiskReportsIOError28AndKeepsEveryOtherTable) {
  for (const Tool& tool : kTools) {
    TempFolder whole;
    ASSERT_EQ(RunOn(tool, whole, tool.sample).exitStatus, 0);
    for (const TableSpec& full : tool.tables) {
      SCOPED_TRACE(UnpackerName(tool) + ": " + std::string(full.fileName) + " on a full disk");
      TempFolder folder;
      std::filesystem::create_directory(folder.path / "out");
      std::filesystem::create_symlink("/dev/full", TablePath(folder, full));
      const ProgramResult result = RunOn(tool, folder, tool.sample);
      EXPECT_EQ(result.signal, 0);
      EXPECT_EQ(result.exitStatus, 1);
      EXPECT_EQ(result.output, Report(tool, "I/O error 28"));
      for (const TableSpec& table : tool.tables) {
        if (table.fileName == full.fileName) continue;
        EXPECT_EQ(ReadWholeFile(TablePath(folder, table)), ReadWholeFile(TablePath(whole, table)))
            << table.fileName;
      }
    }
  }
}

TEST(FaultTest, ReadOnlyOutputFolderReportsDeniedAccessAndWritesNothing) {
  for (const Tool& tool : kTools) {
    SCOPED_TRACE(UnpackerName(tool));
    TempFolder folder;
    std::filesystem::copy_file(tool.sample, folder / "database");
    chmod((folder / "database").c_str(), 0644);
    std::filesystem::create_directory(folder.path / "out");
    chmod((folder / "out").c_str(), 0555);
    const ProgramResult result = RunUnprivileged(tool, folder, "database");
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, Report(tool, "File access denied"));
    EXPECT_TRUE(std::filesystem::is_empty(folder.path / "out"));
  }
}

TEST(FaultTest, DatabaseThatIsNoReadableFileSaysErrorOpeningFile) {
  for (const Tool& tool : kTools) {
    SCOPED_TRACE(UnpackerName(tool));
    TempFolder folder;
    std::filesystem::create_directory(folder.path / "a folder");
    ASSERT_EQ(mkfifo((folder / "a fifo").c_str(), 0644), 0);  // no writer: opening must not wait
    const std::string notADatabase[] = {"a folder", "a fifo", "/dev/zero", "missing"};
    for (const std::string& database : notADatabase) {
      const ProgramResult result = RunOn(tool, folder, database);
      EXPECT_EQ(result.exitStatus, 1) << database;
      EXPECT_EQ(result.output, "Error opening file\r\n") << database;
      EXPECT_FALSE(HasTables(folder, tool)) << database;
    }
    WriteWholeFile(folder / "unreadable", "");
    chmod((folder / "unreadable").c_str(), 0);
    const ProgramResult result = RunUnprivileged(tool, folder, "unreadable");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Error opening file\r\n");
    EXPECT_FALSE(HasTables(folder, tool));
  }
}

// Every name in `folder` and below it, sorted.
std::vector<std::string> FolderListing(const TempFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path)) {
    names.push_back(std::filesystem::relative(entry.path(), folder.path).string());
  }
  std::ranges::sort(names);
  return names;
}

// A table that was the database itself was truncated before the walk read it: the modder's only
// copy was gone. Now the run is refused before any file is created or changed.
TEST(FaultTest, TableThatIsTheDatabaseIsRefusedAndTheDatabaseKept) {
  enum class Link { None, Symbolic, Hard };
  struct Case {
    const Tool& tool;
    std::string database;  // a copy of the tool's sample
    Link link;             // made in out/ under `linkName`, to the database
    std::string linkName;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {kLorudex, "Quests.txt", Link::None, "", {"Quests.txt"}},
      {kGrimdex, "S_Spells.txt", Link::None, "", {"S_Spells.txt"}},
      {kGrimdex, "S_Spells.txt", Link::None, "", {"S_Spells.txt", "."}},
      {kGrimdex, "spells.sdb", Link::Symbolic, "S_Armors.txt", {"spells.sdb", "out"}},
      {kLorudex, "quests.qdb", Link::Hard, "Briefing.txt", {"quests.qdb", "out"}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(UnpackerName(test.tool) + " " + ::testing::PrintToString(test.arguments));
    TempFolder folder;
    std::filesystem::copy_file(test.tool.sample, folder / test.database);
    std::filesystem::create_directory(folder / "out");
    if (test.link == Link::Symbolic) {
      std::filesystem::create_symlink("../" + test.database, folder / "out/" + test.linkName);
    } else if (test.link == Link::Hard) {
      std::filesystem::create_hard_link(folder / test.database, folder / "out/" + test.linkName);
    }
    const std::vector<std::string> before = FolderListing(folder);
    const ProgramResult result = RunProgram(test.tool.program, test.arguments, folder.path);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, Report(test.tool, "File access denied"));
    EXPECT_TRUE(ReadWholeFile(folder / test.database) == ReadWholeFile(test.tool.sample));
    EXPECT_EQ(FolderListing(folder), before);
  }
}

// A fifo named like a table made the tool wait for a reader for ever, after the tables before it
// were truncated. Now it fails at once; a device still takes a table as any file does.
TEST(FaultTest, FifoNamedLikeATableFailsAtOnceInsteadOfWaiting) {
  TempFolder folder;
  std::filesystem::create_directory(folder / "out");
  ASSERT_EQ(mkfifo((folder / "out/S_Spells.txt").c_str(), 0644), 0);
  const ProgramResult fifo = RunOn(kGrimdex, folder, kGrimdex.sample);
  EXPECT_EQ(fifo.signal, 0);
  EXPECT_EQ(fifo.exitStatus, 1);
  EXPECT_EQ(fifo.output, Report(kGrimdex, "I/O error " + std::to_string(ENXIO)));

  TempFolder device;
  std::filesystem::create_directory(device / "out");
  std::filesystem::create_symlink("/dev/null", device / "out/S_Spells.txt");
  const ProgramResult null = RunOn(kGrimdex, device, kGrimdex.sample);
  EXPECT_EQ(null.exitStatus, 0);
  EXPECT_EQ(null.output, "");
}

// Stored lengths that no writer makes: negative ones, and the largest the long form holds.
constexpr std::int32_t kDamagedLengths[] = {-1, -(1 << 30), (1 << 30) - 1};

// A database node of kind 1 holding a table of `tableKind` with two records of two text fields.
// The node at `damagedLevel` (1 database, 2 table, 3 record, 4 field) stores `storedLength`
// instead of its real length; its real payload follows all the same.
std::string DamagedDatabase(std::uint8_t tableKind, int damagedLevel, std::int32_t storedLength) {
  const auto node = [&](int level, std::uint8_t kind, const std::string& payload) {
    if (level != damagedLevel) return NodeBytes(kind, payload);
    NodeWriter writer;
    AppendLongHeader(writer, kind, storedLength);
    return writer.bytes + payload;
  };
  const std::string firstRecord =
      node(3, 0, node(4, 1, TextPayload("Fire")) + NodeBytes(2, TextPayload("Ice")));
  const std::string secondRecord = NodeBytes(0, NodeBytes(1, TextPayload("Air")));
  return node(1, 1, node(2, tableKind, firstRecord + secondRecord));
}

TEST(FaultTest, NegativeAndHugeLengthsAtEveryLevelEndWithTheHeadersKept) {
  struct Damaged {
    const Tool& tool;
    std::uint8_t tableKind;  // composed spells, quests
  };
  for (const Damaged& damaged : {Damaged{kGrimdex, 3}, Damaged{kLorudex, 2}}) {
    for (int level = 1; level <= 4; ++level) {
      for (const std::int32_t length : kDamagedLengths) {
        SCOPED_TRACE(UnpackerName(damaged.tool) + ", level " + std::to_string(level) +
                     ", stored length " + std::to_string(length));
        TempFolder folder;
        const std::string database = DamagedDatabase(damaged.tableKind, level, length);
        const ProgramResult result = RunOnBytes(damaged.tool, folder, database);
        EXPECT_EQ(result.signal, 0);
        // A node that claims more bytes than the file holds is never finished: the walk reads
        // on to the end, and a huge payload is refused before room is made for it. grimdex
        // reads nothing of a node past its parent's end, so there only the database node can.
        const bool runsIntoTheEnd = &damaged.tool == &kLorudex || level == 1;
        if (length > 0) {
          EXPECT_EQ(result.exitStatus, runsIntoTheEnd ? 1 : 0);
        }
        if (result.exitStatus == 0) {
          EXPECT_EQ(result.output, "");
        } else {
          EXPECT_EQ(result.exitStatus, 1);
          EXPECT_EQ(result.output, ReadBeyondEndReport(UnpackerName(damaged.tool)));
        }
        for (const TableSpec& table : damaged.tool.tables) {
          const std::string text = ReadWholeFile(TablePath(folder, table));
          EXPECT_TRUE(text.starts_with(std::string(table.headerRow) + "\r\n")) << table.fileName;
          // Every record moves the walk on by at least a byte, so bytes read again as headers
          // still give at most one line a byte.
          const auto mostLines = static_cast<std::ptrdiff_t>(1 + database.size());
          EXPECT_LE(std::ranges::count(text, '\n'), mostLines) << table.fileName;
        }
      }
    }
  }
}

constexpr std::size_t kManyRecords = 2'000'000;
constexpr std::size_t kManyElements = 100'000;

// A database node of kind 1 holding one table of `tableKind` with the given payload.
std::string OneTable(std::uint8_t tableKind, const std::string& records) {
  return NodeBytes(1, NodeBytes(tableKind, records, LengthForm::Long), LengthForm::Long);
}

TEST(FaultTest, MillionsOfEmptyRecordsGiveOneEmptyLineEach) {
  // An empty record is its kind byte and a length byte of 0.
  const std::string emptyRecords(2 * kManyRecords, '\0');
  struct Case {
    const Tool& tool;
    std::uint8_t tableKind;
    std::size_t table;
  };
  for (const Case& test : {Case{kGrimdex, 3, 2}, Case{kLorudex, 1, 0}}) {
    SCOPED_TRACE(UnpackerName(test.tool));
    TempFolder folder;
    const ProgramResult result =
        RunOnBytes(test.tool, folder, OneTable(test.tableKind, emptyRecords));
    EXPECT_EQ(result.exitStatus, 0);
    const TableSpec& table = test.tool.tables[test.table];
    std::string expected = std::string(table.headerRow) + "\r\n";
    for (std::size_t record = 0; record < kManyRecords; ++record)
      expected += "\r\n";
    EXPECT_TRUE(ReadWholeFile(TablePath(folder, table)) == expected) << "an empty line each";
  }
}

// Runs the tool on one table holding one record of one field, and expects that table to hold
// its header and exactly `line`.
struct OneFieldCase {
  const Tool& tool;
  std::uint8_t tableKind;
  std::uint8_t fieldCode;
  std::size_t table;
};

void ExpectOneFieldLine(const OneFieldCase& test, const std::string& payload,
                        const std::string& line) {
  SCOPED_TRACE(UnpackerName(test.tool));
  TempFolder folder;
  const std::string record = NodeBytes(0, NodeBytes(test.fieldCode, payload));
  const ProgramResult result = RunOnBytes(test.tool, folder, OneTable(test.tableKind, record));
  EXPECT_EQ(result.exitStatus, 0);
  const TableSpec& table = test.tool.tables[test.table];
  EXPECT_TRUE(ReadWholeFile(TablePath(folder, table)) ==
              std::string(table.headerRow) + "\r\n" + line + "\r\n")
      << "the whole field on one line";
}

TEST(FaultTest, ListOfAHundredThousandElementsIsJoinedWhole) {
  const std::vector<std::string> elements(kManyElements, "a");
  std::string joined = "\ta";
  for (std::size_t element = 1; element < kManyElements; ++element)
    joined += ",a";
  // Composed spells' Required and quests' Items: both joined by a comma.
  for (const OneFieldCase& test :
       {OneFieldCase{kGrimdex, 3, 2, 2}, OneFieldCase{kLorudex, 2, 3, 1}}) {
    ExpectOneFieldLine(test, TextListPayload(elements), joined);
  }
}

TEST(FaultTest, TextOfAMegabyteIsWrittenWholeOnOneLine) {
  // Larger than the read buffer and the table buffer: it is read and written straight through.
  std::string text(std::size_t{1} << 20, 'x');
  for (std::size_t index = 0; index < text.size(); index += 4096)
    text[index] = static_cast<char>('a' + index / 4096 % 26);
  // Composed spells' Prototype and briefings' Name: no lead.
  for (const OneFieldCase& test :
       {OneFieldCase{kGrimdex, 3, 1, 2}, OneFieldCase{kLorudex, 1, 0, 0}}) {
    ExpectOneFieldLine(test, TextPayload(text), text);
  }
}

// A spell node's bytes past its parent's end are read as the nodes that follow, never also as
// part of the node that reaches over them.
TEST(FaultTest, SpellNodesAreReadOnlyUpToTheirParentsEnd) {
  // The Code field claims 10 bytes where its record holds 2: "B" and its NUL.
  const std::string fieldPastRecord = NodeBytes(0, NodeBytes(0, TextPayload("A")) +
                                                       std::string("\x01\x14"
                                                                   "B",
                                                                   3) +
                                                       '\0');
  const std::string prototypes =
      NodeBytes(1, fieldPastRecord + NodeBytes(0, NodeBytes(0, TextPayload("C"))) +
                       NodeBytes(0, NodeBytes(0, TextPayload("D"))));
  // A record that claims 8 bytes more than its table holds, then a table of modifiers.
  NodeWriter recordPastTable;
  AppendLongHeader(recordPastTable, 0, 12);
  recordPastTable.bytes += NodeBytes(0, TextPayload("E"));
  const std::string modifiers = NodeBytes(2, NodeBytes(0, NodeBytes(0, TextPayload("M"))));
  const std::string database =
      NodeBytes(1, prototypes + NodeBytes(1, recordPastTable.bytes) + modifiers);
  TempFolder folder;
  const ProgramResult result = RunOnBytes(kGrimdex, folder, database);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(
      ReadWholeFile(TablePath(folder, kSpellFormat.tables[0])),
      std::string(kSpellFormat.tables[0].headerRow) + "\r\n" + Lines({"A\tB", "C", "D", "E"}));
  EXPECT_EQ(ReadWholeFile(TablePath(folder, kSpellFormat.tables[1])),
            std::string(kSpellFormat.tables[1].headerRow) + "\r\n" + Lines({"M"}));
}

constexpr std::size_t kDamagedDatabaseSize = 256 * 1024;

// Every 4 bytes a record of 2 bytes whose Name field claims 131073 bytes.
std::string FieldsReachingPastTheirRecords() {
  std::string records;
  for (std::size_t offset = 0; offset < kDamagedDatabaseSize; offset += 4)
    records += std::string("\x00\x04\x00\x03", 4);
  return NodeBytes(1, NodeBytes(1, records, LengthForm::Long), LengthForm::Long);
}

// Every 16 bytes a table of 14 bytes whose record claims half the file, filled with fields.
std::string RecordsReachingPastTheirTables() {
  NodeWriter period;
  AppendNode(period, 3, "");
  period.bytes[1] = 28;  // the table's length: 14 bytes
  AppendLongHeader(period, 0, static_cast<std::int32_t>(kDamagedDatabaseSize / 2));
  period.bytes += std::string(
      "\x09\x0E"
      "abcdefg",
      9);
  std::string tables;
  for (std::size_t offset = 0; offset < kDamagedDatabaseSize; offset += period.bytes.size())
    tables += period.bytes;
  return NodeBytes(1, tables, LengthForm::Long);
}

// Damaged spell databases whose every record (or table) claims to reach far past its parent:
// read over and over, a 256 KB file wrote gigabytes. Now the tables stay near the file's size.
TEST(FaultTest, SpellNodesReachingFarPastTheirParentsAreNotReadOverAndOver) {
  for (const std::string& database :
       {FieldsReachingPastTheirRecords(), RecordsReachingPastTheirTables()}) {
    TempFolder folder;
    const ProgramResult result = RunOnBytes(kGrimdex, folder, database);
    EXPECT_EQ(result.signal, 0);
    std::uintmax_t written = 0;
    for (const TableSpec& table : kSpellFormat.tables)
      written += std::filesystem::file_size(TablePath(folder, table));
    EXPECT_LT(written, 4 * database.size());
  }
}

// The same tables dumped over and over made nodedump write a gigabyte for a 64 KB file.
TEST(FaultTest, NodedumpOfNodesReachingFarPastTheirParentsDumpsEachOnce) {
  for (const std::string& database :
       {FieldsReachingPastTheirRecords(), RecordsReachingPastTheirTables()}) {
    TempFolder folder;
    WriteWholeFile(folder / "database", database);
    const ProgramResult result = RunProgram(NODEDUMP_PATH, {folder / "database"});
    EXPECT_EQ(result.exitStatus, 1) << "the damage is marked";
    // A line and a few marks for a node of a few bytes: a few hundred bytes a byte at most.
    EXPECT_LT(result.output.size(), 256 * database.size());
  }
}

// The 32-bit executables have 2 to 3 GB of address space: a record's text larger than what is
// left used to end the run with std::bad_alloc and status 134.
TEST(FaultTest, TextLargerThanTheMemoryLeftEndsWithAReportAndTheLinesBeforeIt) {
  if (!kMemoryLimitsHold) GTEST_SKIP() << "the sanitizers and emulators reserve address space";
  for (const OneFieldCase& test :
       {OneFieldCase{kGrimdex, 3, 1, 2}, OneFieldCase{kLorudex, 1, 0, 0}}) {
    SCOPED_TRACE(UnpackerName(test.tool));
    TempFolder folder;
    const std::int64_t hugeText =
        WriteDatabaseWithHugeText(folder / "database", test.tableKind, test.fieldCode);
    const ProgramResult result = RunProgramInMemory(kMemoryBelowHugeText, test.tool.program,
                                                    {"database", "out"}, folder.path.string());
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Exception EOutOfMemory in module " + UnpackerName(test.tool) +
                                 " at 00401A2C.\nOut of memory reading 'database' at offset " +
                                 std::to_string(hugeText) + ".\r\n");
    const TableSpec& table = test.tool.tables[test.table];
    EXPECT_EQ(ReadWholeFile(TablePath(folder, table)),
              std::string(table.headerRow) + "\r\nKept\r\n");
  }
}

// nodedump follows the unpackers' reading without keeping the text they read, so the same
// database is dumped whole in the same memory.
TEST(FaultTest, NodedumpFollowsTheUnpackersOverATextLargerThanTheMemoryLeft) {
  if (!kMemoryLimitsHold) GTEST_SKIP() << "the sanitizers and emulators reserve address space";
  TempFolder folder;
  const std::int64_t hugeText = WriteDatabaseWithHugeText(folder / "database.qdb", 1, 0);
  const auto size = static_cast<std::int64_t>(std::filesystem::file_size(folder / "database.qdb"));
  for (const std::string unpacker : {"grimdex", "lorudex"}) {
    const ProgramResult result = RunProgramInMemory(
        kMemoryBelowHugeText, NODEDUMP_PATH, {"--unpacker", unpacker, folder / "database.qdb"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("field @" + std::to_string(hugeText - 5) + " kind 0 long length " +
                                 std::to_string(size - hugeText)),
              std::string::npos)
        << result.output;
    EXPECT_TRUE(result.output.ends_with("2 records, 2 fields in " + std::to_string(size) +
                                        " bytes; well formed\n"))
        << result.output;
  }
}

}  // namespace
