// Tests of the node tree dump: whole dumps of small streams, sound and damaged, and the program.
#include "node_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "damaged_nodes.h"
#include "node_writer.h"
#include "program_run.h"
#include "test_files.h"

namespace {

struct DumpResult {
  int status = -1;
  std::string text;
};

// The stored lengths alone, without the unpackers' walks.
constexpr DumpOptions kLengthsOnly{.unpackers = Unpackers{}};

DumpResult Dump(const std::string& bytes, DumpOptions options = kLengthsOnly) {
  NodeReader reader = MemoryNodeReader(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  DumpResult result;
  result.status = DumpNodeTree(reader, options, result.text);
  return result;
}

// A database node holding a long-form table with one record of a text and a float field.
std::string SoundDatabase() {
  NodeWriter writer;
  BeginNode(writer, 1);
  BeginNode(writer, 2, LengthForm::Long);
  BeginNode(writer, 0);
  AppendNode(writer, 0, TextPayload("Fire"));
  AppendNode(writer, 3, Float32Payload(2.5f));
  EndNode(writer);
  EndNode(writer);
  EndNode(writer);
  return writer.bytes;
}

TEST(NodeDumpTest, DumpsSoundStreamNodeByNode) {
  const DumpResult result = Dump(SoundDatabase());
  EXPECT_EQ(result.status, kDumpWellFormed);
  EXPECT_EQ(result.text,
            "database @0 kind 1 short length 20 payload @2\n"
            "  table @2 kind 2 long length 15 payload @7\n"
            "    record @7 kind 0 short length 13 payload @9\n"
            "      field @9 kind 0 short length 5 payload @11 | 46 69 72 65 00 | Fire.\n"
            "      field @16 kind 3 short length 4 payload @18 | 00 00 20 40 | .. @ | int32 "
            "1075838976 | float32 2.5\n"
            "summary: 1 database node, 1 table, 1 record, 2 fields in 22 bytes; well formed\n");
}

TEST(NodeDumpTest, EmptyFileHasNoNodes) {
  const DumpResult result = Dump("");
  EXPECT_EQ(result.status, kDumpWellFormed);
  EXPECT_EQ(result.text,
            "summary: 0 database nodes, 0 tables, 0 records, 0 fields in 0 bytes; well formed\n");
}

TEST(NodeDumpTest, PreviewShowsOnlyPrintableAsciiAsText) {
  NodeWriter writer;
  BeginNode(writer, 1);
  BeginNode(writer, 1);
  BeginNode(writer, 0);
  AppendNode(writer, 9, std::string("\x1F \x7E\x7F\xC0\xFF", 6));
  EndNode(writer);
  EndNode(writer);
  EndNode(writer);
  const DumpResult result = Dump(writer.bytes);
  EXPECT_NE(result.text.find("| 1F 20 7E 7F C0 FF | . ~...\n"), std::string::npos) << result.text;
}

TEST(NodeDumpTest, MarksFieldRunningPastItsRecord) {
  // The record claims 2 bytes, its field takes 4: the field's payload is then read as a record.
  NodeWriter writer;
  BeginNode(writer, 1);
  BeginNode(writer, 1);
  AppendLongHeader(writer, 0, 2);
  AppendNode(writer, 7, std::string("\x09\x00", 2));
  EndNode(writer);
  EndNode(writer);
  const DumpResult result = Dump(writer.bytes);
  EXPECT_EQ(result.status, kDumpDamaged);
  EXPECT_EQ(result.text,
            "database @0 kind 1 short length 11 payload @2\n"
            "  table @2 kind 1 short length 9 payload @4\n"
            "    record @4 kind 0 long length 2 payload @9\n"
            "      field @9 kind 7 short length 2 payload @11 | 09 00 | ..\n"
            "      damage: runs past its record's end @11 by 2 bytes\n"
            "    record @11 kind 9 short length 0 payload @13\n"
            "summary: 1 database node, 1 table, 2 records, 1 field in 13 bytes; damaged: 1 mark\n");
}

TEST(NodeDumpTest, MarksEveryNodeTheFileEndsIn) {
  const DumpResult result = Dump(SoundDatabase().substr(0, 19));
  EXPECT_EQ(result.status, kDumpDamaged);
  EXPECT_EQ(
      result.text,
      "database @0 kind 1 short length 20 payload @2\n"
      "damage: the file ends @19, 3 bytes before this node's end @22\n"
      "  table @2 kind 2 long length 15 payload @7\n"
      "  damage: the file ends @19, 3 bytes before this node's end @22\n"
      "    record @7 kind 0 short length 13 payload @9\n"
      "    damage: the file ends @19, 3 bytes before this node's end @22\n"
      "      field @9 kind 0 short length 5 payload @11 | 46 69 72 65 00 | Fire.\n"
      "      field @16 kind 3 short length 4 payload @18 | 00 (+3 bytes) | .\n"
      "      damage: the file ends @19, 3 bytes before this node's end @22\n"
      "summary: 1 database node, 1 table, 1 record, 2 fields in 19 bytes; damaged: 4 marks\n");
}

TEST(NodeDumpTest, MarksFileEndingInsideHeader) {
  const std::string cutInShortHeader = SoundDatabase().substr(0, 17);
  const DumpResult shortHeader = Dump(cutInShortHeader, kLengthsOnly);
  EXPECT_EQ(shortHeader.status, kDumpDamaged);
  EXPECT_NE(shortHeader.text.find("      damage: the file ends @17 inside the header of a field "
                                  "@16\nsummary: 1 database node, 1 table, 1 record, 1 field in "
                                  "17 bytes; damaged: 4 marks\n"),
            std::string::npos)
      << shortHeader.text;
  // The long form's four length bytes are cut after two.
  const DumpResult longHeader = Dump(SoundDatabase().substr(0, 4));
  EXPECT_EQ(
      longHeader.text,
      "database @0 kind 1 short length 20 payload @2\n"
      "damage: the file ends @4, 18 bytes before this node's end @22\n"
      "  damage: the file ends @4 inside the header of a table @2\n"
      "summary: 1 database node, 0 tables, 0 records, 0 fields in 4 bytes; damaged: 2 marks\n");
}

TEST(NodeDumpTest, MarksNegativeLengthAndReadsItAsEmpty) {
  NodeWriter writer;
  BeginNode(writer, 1);
  BeginNode(writer, 1);
  AppendLongHeader(writer, 0, -3);
  AppendNode(writer, 0, "");
  EndNode(writer);
  EndNode(writer);
  const DumpResult result = Dump(writer.bytes);
  EXPECT_EQ(result.status, kDumpDamaged);
  EXPECT_EQ(
      result.text,
      "database @0 kind 1 short length 9 payload @2\n"
      "  table @2 kind 1 short length 7 payload @4\n"
      "    record @4 kind 0 long length -3 payload @9\n"
      "    damage: negative length -3, read as an empty payload\n"
      "    record @9 kind 0 short length 0 payload @11\n"
      "summary: 1 database node, 1 table, 2 records, 0 fields in 11 bytes; damaged: 1 mark\n");
}

TEST(NodeDumpTest, HugeLengthEndsAtTheFileEnd) {
  NodeWriter writer;
  AppendLongHeader(writer, 1, (1 << 30) - 1);
  AppendNode(writer, 2, "");
  const DumpResult result = Dump(writer.bytes);
  EXPECT_EQ(result.status, kDumpDamaged);
  EXPECT_EQ(result.text,
            "database @0 kind 1 long length 1073741823 payload @5\n"
            "damage: the file ends @7, 1073741821 bytes before this node's end @1073741828\n"
            "  table @5 kind 2 short length 0 payload @7\n"
            "summary: 1 database node, 1 table, 0 records, 0 fields in 7 bytes; damaged: 1 mark\n");
}

TEST(NodeDumpTest, NotesFurtherDatabaseNodesWithoutCallingThemDamage) {
  const DumpResult result = Dump(NodeBytes(1, "") + NodeBytes(2, ""));
  EXPECT_EQ(result.status, kDumpWellFormed);
  EXPECT_EQ(result.text,
            "database @0 kind 1 short length 0 payload @2\n"
            "database @2 kind 2 short length 0 payload @4\n"
            "note: a further database node (read by lorudex, ignored by grimdex)\n"
            "summary: 2 database nodes, 0 tables, 0 records, 0 fields in 4 bytes; 1 note; well "
            "formed\n");
}

TEST(NodeDumpTest, DepthStopsDescending) {
  const DumpResult result = Dump(SoundDatabase(), {.depth = 2});
  EXPECT_EQ(result.text,
            "database @0 kind 1 short length 20 payload @2\n"
            "  table @2 kind 2 long length 15 payload @7\n"
            "summary: 1 database node, 1 table, 0 records, 0 fields in 22 bytes; levels below 2 "
            "not read; well formed\n");
  // Damage below the depth is not read, so it is not reported.
  EXPECT_EQ(Dump(SoundDatabase().substr(0, 19), {.depth = 1}).status, kDumpDamaged);
}

TEST(NodeDumpTest, MaxBytesLimitsPreviewButKeepsReadings) {
  const DumpResult two = Dump(SoundDatabase(), {.previewBytes = 2});
  EXPECT_NE(two.text.find("payload @11 | 46 69 (+3 bytes) | Fi\n"), std::string::npos) << two.text;
  EXPECT_NE(two.text.find("payload @18 | 00 00 (+2 bytes) | .. | int32 1075838976 | float32 2.5\n"),
            std::string::npos)
      << two.text;
  for (const std::int64_t nothing : {0, -5}) {
    const DumpResult none = Dump(SoundDatabase(), {.previewBytes = nothing});
    EXPECT_NE(none.text.find("payload @11\n"), std::string::npos) << none.text;
    EXPECT_NE(none.text.find("payload @18 | int32 1075838976 | float32 2.5\n"), std::string::npos)
        << none.text;
  }
}

std::string drained;
std::size_t largestDrained = 0;
void CollectDrained(std::string& text) {
  drained += text;
  largestDrained = std::max(largestDrained, text.size());
  text.clear();
}

TEST(NodeDumpTest, DrainReceivesTheWholeDumpInPieces) {
  NodeWriter writer;
  BeginNode(writer, 1);
  BeginNode(writer, 1);
  for (int record = 0; record < 2000; ++record) {
    BeginNode(writer, 0);
    AppendNode(writer, 0, TextPayload("Frost Lance"));
    EndNode(writer);
  }
  EndNode(writer);
  EndNode(writer);
  const DumpResult whole = Dump(writer.bytes);
  drained.clear();
  const DumpResult pieces = Dump(writer.bytes, {.drain = CollectDrained});
  EXPECT_GT(drained.size(), kDumpDrainSize);
  EXPECT_LT(pieces.text.size(), kDumpDrainSize);
  EXPECT_EQ(drained + pieces.text, whole.text);
}

// A preview was read and shown whole: --max-bytes 1073741824 took gigabytes for a large field.
TEST(NodeDumpTest, LongPreviewIsReadAndDrainedInPieces) {
  std::string text(std::size_t{1} << 20, 'p');
  text[12345] = '\x01';
  const std::string database = NodeBytes(1, NodeBytes(1, NodeBytes(0, NodeBytes(0, text))));
  const DumpOptions preview{.previewBytes = std::int64_t{1} << 30, .unpackers = Unpackers{}};
  const DumpResult whole = Dump(database, preview);
  EXPECT_NE(whole.text.find(" 70 01 70 "), std::string::npos);
  EXPECT_NE(whole.text.find(" | ppp"), std::string::npos);
  drained.clear();
  largestDrained = 0;
  DumpOptions drainedPreview = preview;
  drainedPreview.drain = CollectDrained;
  const DumpResult pieces = Dump(database, drainedPreview);
  EXPECT_TRUE(drained + pieces.text == whole.text);
  EXPECT_LT(largestDrained, 2 * kDumpDrainSize);
}

// A file that held fewer bytes than its size said (cut while it was read, or a special file)
// made the walk retry one header for ever, its marks filling memory. Now the failed read ends
// the walk with a mark.
TEST(NodeDumpTest, FileCutWhileItIsReadEndsTheWalkInsteadOfHanging) {
  const struct {
    std::size_t cut;
    std::string text;
  } cases[] = {
      {17,
       "database @0 kind 1 short length 20 payload @2\n"
       "  table @2 kind 2 long length 15 payload @7\n"
       "    record @7 kind 0 short length 13 payload @9\n"
       "      field @9 kind 0 short length 5 payload @11 | 46 69 72 65 00 | Fire.\n"
       "      damage: the file ends @17 inside the header of a field @16, though it states 22 "
       "bytes\n"
       "summary: 1 database node, 1 table, 1 record, 1 field in 22 bytes; damaged: 1 mark\n"},
      {13,
       "database @0 kind 1 short length 20 payload @2\n"
       "  table @2 kind 2 long length 15 payload @7\n"
       "    record @7 kind 0 short length 13 payload @9\n"
       "      field @9 kind 0 short length 5 payload @11 |\n"
       "      damage: the file ends @13 inside the payload of a field @9, though it states 22 "
       "bytes\n"
       "summary: 1 database node, 1 table, 1 record, 1 field in 22 bytes; damaged: 1 mark\n"},
      {0,
       "damage: the file ends @0 inside the header of a database @0, though it states 22 bytes\n"
       "summary: 0 database nodes, 0 tables, 0 records, 0 fields in 22 bytes; damaged: 1 mark\n"},
  };
  for (const auto& test : cases) {
    TempFolder folder;
    WriteWholeFile(folder / "db", SoundDatabase());
    NodeReader reader;
    ASSERT_TRUE(OpenNodeReader((folder / "db").c_str(), reader));
    std::filesystem::resize_file(folder / "db", test.cut);
    std::string text;
    EXPECT_EQ(DumpNodeTree(reader, kLengthsOnly, text), kDumpDamaged) << test.cut;
    EXPECT_EQ(text, test.text);
    CloseNodeReader(reader);
  }
}

// The program: reading the file, options and exit statuses.
// nodedump looked only at node lengths and called well formed what an unpacker cannot read (a
// quest list whose last element runs past the file's end). Now it follows each unpacker's own
// reading of the values: what it cannot read is damage, what it reads past or short of a
// field's end is a note.
TEST(NodeDumpTest, VerdictAgreesWithTheUnpackersReading) {
  const std::string elementPastTheFile(
      "\x01\x1b\x00\x00\x00\x02\x11\x00\x00\x00\x00\x07\x00\x00\x00"
      "\x03\x02\x01",
      18);
  NodeWriter flags;  // spell modifiers whose shop flags are 5 bytes long
  BeginNode(flags, 1);
  BeginNode(flags, 2);
  BeginNode(flags, 0);
  AppendNode(flags, 8, std::string("\x01\x00\x00\x00\x00", 5));
  AppendNode(flags, 0, TextPayload("name"));
  EndNode(flags);
  EndNode(flags);
  EndNode(flags);
  NodeWriter list;  // a quest name list whose last element runs past its field
  BeginNode(list, 1);
  BeginNode(list, 2);
  BeginNode(list, 0);
  AppendNode(list, 0,
             std::string("\x01\x04"
                         "a\x00\x01\x04",
                         6));
  AppendNode(list, 1, Int32Payload(5));
  EndNode(list);
  EndNode(list);
  EndNode(list);
  const struct {
    std::string bytes;
    Unpackers unpackers;
    int status;
    std::string mark;
  } cases[] = {
      {elementPastTheFile, FormatAlone(kQuestFormat), kDumpDamaged,
       "      damage: lorudex stops with \"Read beyond end of file\": the value of the field @15 "
       "runs past the file's end\n"},
      {elementPastTheFile, FormatAlone(kSpellFormat), kDumpWellFormed, ""},
      {flags.bytes, FormatAlone(kSpellFormat), kDumpWellFormed,
       "      note: grimdex reads the value of the field @6 to @12, where its length ends it "
       "@13\n"},
      {list.bytes, FormatAlone(kQuestFormat), kDumpWellFormed,
       "      note: lorudex reads the value of the field @6 to @16, where its length ends it "
       "@14\n"},
  };
  for (const auto& test : cases) {
    const DumpResult result = Dump(test.bytes, {.unpackers = test.unpackers});
    EXPECT_EQ(result.status, test.status) << result.text;
    EXPECT_NE(result.text.find(test.mark), std::string::npos) << result.text;
  }
}

class NodeDumpProgramTest : public ::testing::Test {
 protected:
  ProgramResult Run(const std::vector<std::string>& arguments) {
    return RunProgram(NODEDUMP_PATH, arguments);
  }
  TempFolder folder;
};

TEST_F(NodeDumpProgramTest, DumpsFileWithItsExitStatus) {
  WriteWholeFile(folder / "sound.sdb", SoundDatabase());
  WriteWholeFile(folder / "cut.sdb", SoundDatabase().substr(0, 19));
  const ProgramResult sound = Run({folder / "sound.sdb"});
  EXPECT_EQ(sound.exitStatus, kDumpWellFormed);
  EXPECT_EQ(sound.output, Dump(SoundDatabase(), {.unpackers = FormatAlone(kSpellFormat)}).text);
  const ProgramResult cut = Run({"--max-bytes=1", "--depth", "4", folder / "cut.sdb"});
  EXPECT_EQ(cut.exitStatus, kDumpDamaged);
  EXPECT_EQ(cut.output, Dump(SoundDatabase().substr(0, 19),
                             {.previewBytes = 1, .unpackers = FormatAlone(kSpellFormat)})
                            .text);
}

TEST_F(NodeDumpProgramTest, HelpAndVersion) {
  const ProgramResult help = Run({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.output.rfind("Usage: nodedump [options] FILE\n", 0), 0u) << help.output;
  const ProgramResult version = Run({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.output, "nodedump " UNPACKER_VERSION "\n");
}

TEST_F(NodeDumpProgramTest, BadUsageAndUnopenableFileExitWithTwo) {
  WriteWholeFile(folder / "db", SoundDatabase());
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--depth", "0", folder / "db"},
      {"--colour", folder / "db"},
      {folder / "db", folder / "db"},
      {folder / "missing.sdb"},
      {folder.path.string()},  // a folder is not a database
  };
  for (const std::vector<std::string>& arguments : cases) {
    const ProgramResult result = Run(arguments);
    EXPECT_EQ(result.exitStatus, kDumpCannotRun) << ::testing::PrintToString(arguments);
    EXPECT_EQ(result.output, "") << ::testing::PrintToString(arguments);
  }
}

// Every failure is told one way, one line "nodedump: ..." on standard error, and exits with
// kDumpCannotRun: a wrong command line (with the hint to the help), a file that cannot be
// opened, a dump that cannot be written.
TEST_F(NodeDumpProgramTest, FailuresAreToldOnStandardErrorOneLineEach) {
  WriteWholeFile(folder / "db", SoundDatabase());
  const std::string missing = folder / "missing.sdb";
  const ProgramResult usage = RunProgram(NODEDUMP_PATH, {"--colour", folder / "db"}, {}, true);
  EXPECT_EQ(usage.exitStatus, kDumpCannotRun);
  EXPECT_EQ(usage.output, "nodedump: unknown option '--colour'\nTry 'nodedump --help'.\n");
  const ProgramResult unopened = RunProgram(NODEDUMP_PATH, {missing}, {}, true);
  EXPECT_EQ(unopened.exitStatus, kDumpCannotRun);
  EXPECT_EQ(unopened.output, "nodedump: cannot open '" + missing + "'\n");
  const ProgramResult unwritten =
      RunProgramWithOutputTo(">/dev/full", NODEDUMP_PATH, {folder / "db"});
  EXPECT_EQ(unwritten.exitStatus, kDumpCannotRun);
  EXPECT_EQ(unwritten.output, "nodedump: cannot write the dump to standard output\n");
}

}  // namespace
