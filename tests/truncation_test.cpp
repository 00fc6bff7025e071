// Whole-program tests: both tools on every cut of the sample databases end with the right report
// and keep exactly the lines of the records that were whole before the cut.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "database_cases.h"
#include "node_reader.h"
#include "program_run.h"
#include "quest_walker.h"
#include "spell_walker.h"
#include "test_files.h"

namespace {

// Runs going at once: a run mostly waits on the file system, so a few overlap well.
constexpr std::int64_t kParallelRuns = 4;

// Under the sanitizers a run of the tools costs ten times as much, and under an emulator (the
// 32-bit build under qemu-i386) a run starts slowly: there the cuts are the bytes around every
// record's end and every kStride-th byte, not every byte.
constexpr bool kStrided = kProgramsRunUnderSanitizers || kProgramsRunUnderEmulator;
constexpr std::int64_t kStride = 97;
constexpr int kNoTable = -1;

// The table that gets a record's line, from its database node's and table node's kinds.
using LineRoute = int (*)(std::uint8_t databaseKind, std::uint8_t tableKind);

int SpellLineRoute(std::uint8_t databaseKind, std::uint8_t tableKind) {
  return databaseKind == 1 && tableKind >= 1 && tableKind <= 5 ? tableKind - 1 : kNoTable;
}

int QuestLineRoute(std::uint8_t databaseKind, std::uint8_t tableKind) {
  if (tableKind == 1) return 0;
  return tableKind == 2 && databaseKind == 1 ? 1 : kNoTable;
}

struct Tool {
  std::string program;
  std::string moduleName;
  std::string sample;
  std::span<const TableSpec> tables;
  LineRoute route;
  bool firstDatabaseNodeOnly;
};

struct RecordEnd {
  std::int64_t end;
  int table;
};

// Where every record of a well-formed database ends and which table takes its line, and the
// cuts at which the walk finds nothing more to read and ends normally.
struct SampleLayout {
  std::vector<RecordEnd> records;
  std::vector<std::int64_t> cleanCuts;
};

SampleLayout LayoutOf(const std::string& bytes, const Tool& tool) {
  SampleLayout layout;
  layout.cleanCuts.push_back(0);
  NodeReader reader = MemoryNodeReader(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  while (!AtEnd(reader)) {
    const NodeHeader database = ReadNodeHeader(reader);
    while (Position(reader) < NodeEnd(database)) {
      const NodeHeader table = ReadNodeHeader(reader);
      while (Position(reader) < NodeEnd(table)) {
        const NodeHeader record = ReadNodeHeader(reader);
        SeekTo(reader, NodeEnd(record));
        layout.records.push_back({NodeEnd(record), tool.route(database.kind, table.kind)});
      }
    }
    // grimdex reads the first database node only: every longer cut is as good as the whole.
    const std::int64_t last = tool.firstDatabaseNodeOnly ? Size(reader) : NodeEnd(database);
    for (std::int64_t cut = NodeEnd(database); cut <= last; ++cut)
      layout.cleanCuts.push_back(cut);
    if (tool.firstDatabaseNodeOnly) break;
  }
  return layout;
}

// The cuts to run, in increasing order: every byte offset before the end, or under the
// sanitizers or an emulator the offsets from just before every record's end into the next
// header, and a stride.
std::vector<std::int64_t> CutsToRun(std::int64_t size, const SampleLayout& layout) {
  std::vector<std::int64_t> cuts;
  for (std::int64_t cut = 0; cut < size; ++cut) {
    const bool nearRecordEnd = std::ranges::any_of(layout.records, [cut](const RecordEnd& record) {
      return cut >= record.end - 1 && cut <= record.end + 3;
    });
    if (!kStrided || cut % kStride == 0 || nearRecordEnd) cuts.push_back(cut);
  }
  return cuts;
}

// A folder where one run at a time writes its database, console and tables.
struct RunSlot {
  TempFolder folder;
  pid_t child = -1;
  std::int64_t cut = 0;
};

void StartRun(const Tool& tool, const std::string& database, RunSlot& slot) {
  WriteWholeFile(slot.folder / "database", database);
  const std::string console = slot.folder / "console";
  const std::string folder = slot.folder.path.string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, console.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  slot.child = StartCommand(ProgramCommand(tool.program, {"database", "out"}), &actions);
  posix_spawn_file_actions_destroy(&actions);
}

// The exit status of the slot's run, or -1 after a signal (reported as a failure).
int FinishRun(RunSlot& slot) {
  int status = 0;
  if (slot.child < 0 || waitpid(slot.child, &status, 0) != slot.child) return -1;
  EXPECT_FALSE(WIFSIGNALED(status)) << "cut " << slot.cut << ": signal " << WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each table's whole text when the database is not cut, split into its lines (CR LF kept).
std::vector<std::vector<std::string>> FullTableLines(const Tool& tool, RunSlot& slot) {
  StartRun(tool, ReadWholeFile(tool.sample), slot);
  EXPECT_EQ(FinishRun(slot), 0);
  std::vector<std::vector<std::string>> tables;
  for (const TableSpec& table : tool.tables) {
    const std::string text = ReadWholeFile(slot.folder / "out/" + std::string(table.fileName));
    std::vector<std::string>& lines = tables.emplace_back();
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find("\r\n", start);
      if (end == std::string::npos) break;
      lines.push_back(text.substr(start, end + 2 - start));
      start = end + 2;
    }
  }
  return tables;
}

// Checks the slot's finished run on a cut: its exit status and console, and that every table
// holds its header and the lines of exactly the records that end at or before the cut.
void CheckCutRun(const Tool& tool, const SampleLayout& layout,
                 const std::vector<std::vector<std::string>>& fullLines, RunSlot& slot) {
  const int status = FinishRun(slot);
  const bool clean = std::ranges::find(layout.cleanCuts, slot.cut) != layout.cleanCuts.end();
  EXPECT_EQ(status, clean ? 0 : 1) << "cut " << slot.cut;
  EXPECT_EQ(ReadWholeFile(slot.folder / "console"),
            clean ? std::string() : ReadBeyondEndReport(tool.moduleName))
      << "cut " << slot.cut;
  for (std::size_t index = 0; index < tool.tables.size(); ++index) {
    // The header row, then one line per record that is whole before the cut.
    std::size_t lineCount = 1;
    for (const RecordEnd& record : layout.records)
      lineCount += record.table == static_cast<int>(index) && record.end <= slot.cut ? 1 : 0;
    std::string expected;
    for (std::size_t line = 0; line < lineCount && line < fullLines[index].size(); ++line)
      expected += fullLines[index][line];
    const std::string name(tool.tables[index].fileName);
    EXPECT_EQ(ReadWholeFile(slot.folder / "out/" + name), expected)
        << "cut " << slot.cut << ", " << name;
  }
}

// Runs the tool on every cut of its sample, a few runs at a time, and checks each.
void CheckEveryCut(const Tool& tool) {
  const std::string sample = ReadWholeFile(tool.sample);
  ASSERT_FALSE(sample.empty()) << tool.sample;
  const SampleLayout layout = LayoutOf(sample, tool);
  std::vector<RunSlot> slots(static_cast<std::size_t>(kParallelRuns));
  const std::vector<std::vector<std::string>> fullLines = FullTableLines(tool, slots[0]);
  for (std::size_t index = 0; index < tool.tables.size(); ++index) {
    const auto records = std::ranges::count_if(layout.records, [index](const RecordEnd& record) {
      return record.table == static_cast<int>(index);
    });
    ASSERT_EQ(fullLines[index].size(), static_cast<std::size_t>(records) + 1)
        << "every routed record of the whole sample gives one line";
  }
  const std::vector<std::int64_t> cuts =
      CutsToRun(static_cast<std::int64_t>(sample.size()), layout);
  for (std::size_t first = 0; first < cuts.size(); first += slots.size()) {
    const std::size_t count = std::min(slots.size(), cuts.size() - first);
    for (std::size_t index = 0; index < count; ++index) {
      slots[index].cut = cuts[first + index];
      StartRun(tool, sample.substr(0, static_cast<std::size_t>(slots[index].cut)), slots[index]);
    }
    for (std::size_t index = 0; index < count; ++index)
      CheckCutRun(tool, layout, fullLines, slots[index]);
    if (::testing::Test::HasFailure()) return;  // one broken cut tells enough
  }
}

TEST(TruncationTest, EveryCutOfTheSpellSampleReportsTheEndAndKeepsTheWholeRecords) {
  CheckEveryCut(
      {GRIMDEX_PATH, "grimdex", SAMPLES_FOLDER "/spells.sdb", kSpellTables, SpellLineRoute, true});
}

TEST(TruncationTest, EveryCutOfTheQuestSampleReportsTheEndAndKeepsTheWholeRecords) {
  CheckEveryCut(
      {LORUDEX_PATH, "lorudex", SAMPLES_FOLDER "/quests.qdb", kQuestTables, QuestLineRoute, false});
}

}  // namespace
