// Every cut of the sample databases ends with the right report and keeps exactly the lines of the
// records that were whole before the cut: the walk in-process at every byte, the built programs
// at a stride of cuts and around every record's end (at every byte on request).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "database_cases.h"
#include "node_reader.h"
#include "platform.h"
#include "program_run.h"
#include "run_failure.h"
#include "session_tools.h"
#include "test_files.h"
#include "tree_walk.h"

namespace {

// Program runs going at once: a run mostly waits on the file system, so a few overlap well.
constexpr std::int64_t kParallelRuns = 4;

// The programs run on every kStride-th cut and the cuts around every record's end; the walk
// in-process already takes every cut. UNPACKER_EVERY_CUT_THROUGH_PROGRAMS=ON runs them on every
// cut as well (thousands of runs: minutes).
constexpr std::int64_t kStride = 97;
constexpr const char* kEveryCutSwitch = "UNPACKER_EVERY_CUT_THROUGH_PROGRAMS";
constexpr int kNoTable = -1;

bool EveryCutThroughPrograms() {
  const char* value = std::getenv(kEveryCutSwitch);
  return value != nullptr && std::string_view(value) == "ON";
}

// The table that gets a record's line, from its database node's and table node's kinds: the
// tools' routing written down apart from their code.
using LineRoute = int (*)(std::uint8_t databaseKind, std::uint8_t tableKind);

int SpellLineRoute(std::uint8_t databaseKind, std::uint8_t tableKind) {
  return databaseKind == 1 && tableKind >= 1 && tableKind <= 5 ? tableKind - 1 : kNoTable;
}

int QuestLineRoute(std::uint8_t databaseKind, std::uint8_t tableKind) {
  if (tableKind == 1) return 0;
  return tableKind == 2 && databaseKind == 1 ? 1 : kNoTable;
}

// The routing of the tool's format, written down apart from its code.
LineRoute RouteOf(const Tool& tool) {
  return tool.kind == DatabaseKind::Spells ? SpellLineRoute : QuestLineRoute;
}

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

std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

SampleLayout LayoutOf(const std::string& bytes, const Tool& tool) {
  SampleLayout layout;
  layout.cleanCuts.push_back(0);
  NodeReader reader = MemoryNodeReader(BytesOf(bytes));
  const bool firstDatabaseNodeOnly = tool.format->walk.firstDatabaseNodeOnly;
  while (!AtEnd(reader)) {
    const NodeHeader database = ReadNodeHeader(reader);
    while (Position(reader) < NodeEnd(database)) {
      const NodeHeader table = ReadNodeHeader(reader);
      while (Position(reader) < NodeEnd(table)) {
        const NodeHeader record = ReadNodeHeader(reader);
        SeekTo(reader, NodeEnd(record));
        layout.records.push_back({NodeEnd(record), RouteOf(tool)(database.kind, table.kind)});
      }
    }
    // grimdex reads the first database node only: every longer cut is as good as the whole.
    const std::int64_t last = firstDatabaseNodeOnly ? Size(reader) : NodeEnd(database);
    for (std::int64_t cut = NodeEnd(database); cut <= last; ++cut)
      layout.cleanCuts.push_back(cut);
    if (firstDatabaseNodeOnly) break;
  }
  return layout;
}

bool IsCleanCut(const SampleLayout& layout, std::int64_t cut) {
  return std::ranges::find(layout.cleanCuts, cut) != layout.cleanCuts.end();
}

// How many lines the table holds after its header row when the database is cut at `cut`: one
// per record of it that ends at or before the cut.
std::size_t WholeRecordLines(const SampleLayout& layout, std::size_t table, std::int64_t cut) {
  return static_cast<std::size_t>(
      std::ranges::count_if(layout.records, [&](const RecordEnd& record) {
        return record.table == static_cast<int>(table) && record.end <= cut;
      }));
}

// ---- The walk in-process.

// The walk's watcher here: every routed line, by table.
struct LineCollector : WatchLinesOnly {
  std::vector<std::vector<std::string>> lines;
  void Line(int route, std::string_view line) {
    if (route != kDropLine) lines[static_cast<std::size_t>(route)].emplace_back(line);
  }
};

// How a walk over some bytes ended and the lines it handed out.
struct WalkEnd {
  bool returned = false;
  int errorNumber = 0;  // of the failure that ended it, when it did not return
  std::vector<std::vector<std::string>> lines;
};

// Walks the bytes, copied to a buffer of their own size, so that under the sanitizers a read
// past them is caught rather than landing in the rest of the sample.
WalkEnd WalkBytes(const Tool& tool, std::string_view bytes, char decimalSeparator) {
  const std::vector<std::uint8_t> held(bytes.begin(), bytes.end());
  NodeReader reader = MemoryNodeReader(held);
  LineCollector collector;
  collector.lines.resize(tool.tables.size());
  WalkEnd end;
  try {
    WalkDatabase(reader, decimalSeparator, tool.format->walk, collector);
    end.returned = true;
  } catch (const IoFailure& failure) {
    end.errorNumber = failure.errorNumber;
  }
  end.lines = std::move(collector.lines);
  return end;
}

// The lines of the whole sample, checked against its layout: one per routed record.
std::vector<std::vector<std::string>> FullLines(const Tool& tool, const std::string& sample,
                                                const SampleLayout& layout, char separator) {
  WalkEnd whole = WalkBytes(tool, sample, separator);
  EXPECT_TRUE(whole.returned) << "the whole sample is walked without a failure";
  const auto size = static_cast<std::int64_t>(sample.size());
  for (std::size_t index = 0; index < tool.tables.size(); ++index) {
    EXPECT_EQ(whole.lines[index].size(), WholeRecordLines(layout, index, size))
        << "every routed record of the whole sample gives one line";
  }
  return std::move(whole.lines);
}

struct CutSample {
  Tool tool;
  std::string sample;
  SampleLayout layout;
  char separator;
  std::vector<std::vector<std::string>> fullLines;
};

CutSample PrepareCuts(const Tool& tool) {
  CutSample cuts{tool, ReadWholeFile(tool.sample), {}, ReadDecimalSeparator(), {}};
  EXPECT_FALSE(cuts.sample.empty()) << tool.sample;
  cuts.layout = LayoutOf(cuts.sample, tool);
  cuts.fullLines = FullLines(tool, cuts.sample, cuts.layout, cuts.separator);
  return cuts;
}

// Walks every cut of the sample in-process and checks how each ends and what it handed out.
void CheckEveryCutInProcess(const Tool& tool) {
  const CutSample cuts = PrepareCuts(tool);
  if (::testing::Test::HasFailure()) return;
  const auto size = static_cast<std::int64_t>(cuts.sample.size());
  for (std::int64_t cut = 0; cut < size; ++cut) {
    const WalkEnd end =
        WalkBytes(tool, std::string_view(cuts.sample).substr(0, static_cast<std::size_t>(cut)),
                  cuts.separator);
    const bool clean = IsCleanCut(cuts.layout, cut);
    EXPECT_EQ(end.returned, clean) << "cut " << cut;
    if (!end.returned) {
      EXPECT_EQ(end.errorNumber, kErrorReadBeyondEnd) << "cut " << cut;
    }
    for (std::size_t index = 0; index < tool.tables.size(); ++index) {
      const std::vector<std::string>& full = cuts.fullLines[index];
      const std::size_t count = WholeRecordLines(cuts.layout, index, cut);
      EXPECT_TRUE(std::ranges::equal(end.lines[index], std::span(full).first(count)))
          << "cut " << cut << ", " << tool.tables[index].fileName;
    }
    if (::testing::Test::HasFailure()) return;  // one broken cut tells enough
  }
}

// ---- The built programs.

// The cuts to run the program on, in increasing order: every kStride-th byte offset, the offsets
// from just before every record's end into the next header, and the whole sample; or on request
// every offset up to the whole sample.
std::vector<std::int64_t> ProgramCuts(std::int64_t size, const SampleLayout& layout) {
  const bool everyCut = EveryCutThroughPrograms();
  std::vector<std::int64_t> cuts;
  for (std::int64_t cut = 0; cut <= size; ++cut) {
    const bool nearRecordEnd = std::ranges::any_of(layout.records, [cut](const RecordEnd& record) {
      return cut >= record.end - 1 && cut <= record.end + 3;
    });
    if (everyCut || cut % kStride == 0 || nearRecordEnd || cut == size) cuts.push_back(cut);
  }
  return cuts;
}

// A folder where one run at a time writes its database, console and tables.
struct RunSlot {
  TempFolder folder;
  pid_t child = -1;
  std::int64_t cut = 0;
};

void StartRun(const Tool& tool, std::string_view database, RunSlot& slot) {
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

// Checks the slot's finished run on a cut: its exit status and console, and that every table
// holds its header row and the lines of exactly the records that end at or before the cut.
void CheckCutRun(const CutSample& cuts, RunSlot& slot) {
  const Tool& tool = cuts.tool;
  const int status = FinishRun(slot);
  const bool clean = IsCleanCut(cuts.layout, slot.cut);
  EXPECT_EQ(status, clean ? 0 : 1) << "cut " << slot.cut;
  EXPECT_EQ(ReadWholeFile(slot.folder / "console"),
            clean ? std::string() : ReadBeyondEndReport(UnpackerName(tool)))
      << "cut " << slot.cut;
  for (std::size_t index = 0; index < tool.tables.size(); ++index) {
    std::string expected = std::string(tool.tables[index].headerRow) + "\r\n";
    const std::size_t count = WholeRecordLines(cuts.layout, index, slot.cut);
    for (std::size_t line = 0; line < count; ++line)
      expected += cuts.fullLines[index][line] + "\r\n";
    const std::string name(tool.tables[index].fileName);
    EXPECT_EQ(ReadWholeFile(slot.folder / "out/" + name), expected)
        << "cut " << slot.cut << ", " << name;
  }
}

// Runs the program on its cuts of the sample, a few runs at a time, and checks each.
void CheckProgramCuts(const Tool& tool) {
  const CutSample cuts = PrepareCuts(tool);
  if (::testing::Test::HasFailure()) return;
  std::vector<RunSlot> slots(static_cast<std::size_t>(kParallelRuns));
  const std::vector<std::int64_t> programCuts =
      ProgramCuts(static_cast<std::int64_t>(cuts.sample.size()), cuts.layout);
  for (std::size_t first = 0; first < programCuts.size(); first += slots.size()) {
    const std::size_t count = std::min(slots.size(), programCuts.size() - first);
    for (std::size_t index = 0; index < count; ++index) {
      slots[index].cut = programCuts[first + index];
      StartRun(tool,
               std::string_view(cuts.sample).substr(0, static_cast<std::size_t>(slots[index].cut)),
               slots[index]);
    }
    for (std::size_t index = 0; index < count; ++index)
      CheckCutRun(cuts, slots[index]);
    if (::testing::Test::HasFailure()) return;  // one broken cut tells enough
  }
}

const Tool& kGrimdex = kSpells;
const Tool& kLorudex = kQuests;

TEST(TruncationTest, SpellWalkOnEveryCutOfTheSampleReportsTheEndAndKeepsTheWholeRecords) {
  CheckEveryCutInProcess(kGrimdex);
}

TEST(TruncationTest, QuestWalkOnEveryCutOfTheSampleReportsTheEndAndKeepsTheWholeRecords) {
  CheckEveryCutInProcess(kLorudex);
}

TEST(TruncationTest, GrimdexOnCutsOfTheSpellSampleReportsTheEndAndKeepsTheWholeRecords) {
  CheckProgramCuts(kGrimdex);
}

TEST(TruncationTest, LorudexOnCutsOfTheQuestSampleReportsTheEndAndKeepsTheWholeRecords) {
  CheckProgramCuts(kLorudex);
}

}  // namespace
