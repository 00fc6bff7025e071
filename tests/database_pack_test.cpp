// Tests of packing, in-process: sound databases pack back unchanged, edits come back as the
// unpacker writes them, and what cannot be stored or read back is refused with nothing written.
#include "pack_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "database_cases.h"
#include "node_writer.h"
#include "original_layout.h"
#include "pack_sources.h"
#include "packed_bytes.h"
#include "packed_file.h"
#include "quest_walker.h"
#include "run_packer.h"
#include "run_unpacker.h"
#include "session_tools.h"
#include "spell_walker.h"
#include "split_text.h"
#include "stored_tree.h"
#include "test_files.h"

namespace {

int Unpack(const Tool& tool, const std::string& database, const std::string& folder) {
  std::string console;
  const char* arguments[] = {"unpacker", database.c_str(), folder.c_str()};
  return RunUnpacker(arguments, tool.banner, tool.tables, tool.walker, Console{&console});
}

PackResult Pack(const Tool& tool, const std::string& original, const std::string& tables,
                const std::string& target) {
  return Pack(tool, std::vector<std::string>{original, tables, target});
}

// A table file as lines without their ends, the header first.
std::vector<std::string> TableLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string bytes = ReadWholeFile(path);
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", start);
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string JoinedTableLines(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines)
    bytes += line + "\r\n";
  return bytes;
}

void WriteTableLines(const std::string& path, const std::vector<std::string>& lines) {
  WriteWholeFile(path, JoinedTableLines(lines));
}

// A database in memory and the plan of packing a tables folder onto it.
struct TablesPackPlan {
  std::string database;
  NodeReader original;
  PackPlan plan;
};

void PlanTablesPack(const Tool& tool, std::string database, const std::string& tables,
                    TablesPackPlan& planned) {
  planned.database = std::move(database);
  planned.original = MemoryNodeReader(
      {reinterpret_cast<const std::uint8_t*>(planned.database.data()), planned.database.size()});
  PackSource source;
  std::vector<std::string> tableNames;
  for (const TableSpec& table : tool.tables)
    tableNames.emplace_back(table.fileName);
  OpenFolderSource(tables, tableNames, UnpackerName(tool), source);
  std::vector<PackSource> sources;
  sources.push_back(std::move(source));
  planned.plan = PlanPack(planned.original, tool.packer.rules, '.', sources, false);
  CloseSource(sources[0]);
}

void PlanSpellTablesPack(const std::string& tables, TablesPackPlan& planned) {
  PlanTablesPack(kSpells, ReadWholeFile(kSpells.sample), tables, planned);
}

bool IsSound(const std::string& bytes) {
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  return FirstStoredDamage(reader).empty();
}

// A database packed from its own unpacked tables is the database, byte for byte; one the
// packer must refuse (damaged, or not readable by the unpacker) leaves nothing behind.
void ExpectUnchangedTablesPackBack(const Tool& tool, const std::string& name,
                                   const std::string& bytes, int& packed) {
  SCOPED_TRACE(name);
  TempFolder folder;
  WriteWholeFile(folder / "original", bytes);
  const int unpacked = Unpack(tool, folder / "original", folder / "tables");
  const PackResult result = Pack(tool, folder / "original", folder / "tables", folder / "new");
  if (unpacked == 0 && IsSound(bytes)) {
    EXPECT_EQ(result.status, kExitSuccess) << result.errors;
    EXPECT_EQ(ReadWholeFile(folder / "new"), bytes);
    ++packed;
  } else {
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_FALSE(std::filesystem::exists(folder / "new"));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}),
            result.status == kExitSuccess ? 3 : 2)
      << "no temporary file remains";
}

TEST(DatabasePackTest, EverySoundDatabaseOfTheTestsPacksBackByteForByte) {
  int packed = 0;
  for (const DatabaseCase& test : SpellCases())
    ExpectUnchangedTablesPackBack(kSpells, test.name, test.database, packed);
  for (const DatabaseCase& test : QuestCases())
    ExpectUnchangedTablesPackBack(kQuests, test.name, test.database, packed);
  for (const Tool* tool : {&kSpells, &kQuests})
    ExpectUnchangedTablesPackBack(*tool, tool->sample, ReadWholeFile(tool->sample), packed);
  EXPECT_GT(packed, 20);
}

// An edit of a sample's tables, in cells as the unpacker writes them.
struct TableEdit {
  const char* name;
  const Tool* tool;
  std::size_t table;
  std::function<void(std::vector<std::string>& lines)> apply;
};

void SetCell(std::vector<std::string>& lines, std::size_t line, std::size_t column,
             const std::string& text) {
  std::vector<std::string> cells = CellsOf(lines[line]);
  cells[column] = text;
  lines[line] = JoinedCells(cells);
}

const std::vector<TableEdit>& FixedPointEdits() {
  using Lines = std::vector<std::string>;
  static const std::vector<TableEdit> edits = {
      {"prototype cells of every kind", &kSpells, 0,
       [](Lines& lines) {
         SetCell(lines, 1, 0, "Ice Lance");        // text
         SetCell(lines, 1, 3, "1234.5");           // plain float
         SetCell(lines, 1, 4, "astral");           // school
         SetCell(lines, 1, 6, "-7");               // int32
         SetCell(lines, 2, 16, "frost, slow, x");  // list with its joiner
         SetCell(lines, 2, 20, "9");               // quintuple
         SetCell(lines, 3, 26, "");                // shop flag cleared
         SetCell(lines, 3, 31, "10,20,30");        // colour channels
         SetCell(lines, 4, 33, "0.000125");        // float
       }},
      {"a line added after the first and at the end", &kSpells, 1,
       [](Lines& lines) {
         std::vector<std::string> added = CellsOf(lines[1]);
         added[0] = "Brand New";
         lines.insert(lines.begin() + 2, JoinedCells(added));
         lines.push_back(lines[3]);
         SetCell(lines, lines.size() - 1, 0, "Last One");
       }},
      {"a line added at the top", &kSpells, 2,
       [](Lines& lines) { lines.insert(lines.begin() + 1, lines[5]); }},
      {"lines removed at the start, middle and end", &kSpells, 3,
       [](Lines& lines) {
         lines.erase(lines.begin() + 1);
         lines.erase(lines.begin() + 5);
         lines.pop_back();
       }},
      {"lines moved and the table sorted backwards", &kSpells, 4,
       [](Lines& lines) { std::reverse(lines.begin() + 1, lines.end()); }},
      {"every record removed", &kSpells, 4, [](Lines& lines) { lines.resize(1); }},
      {"quest cells of every kind", &kQuests, 1,
       [](Lines& lines) {
         SetCell(lines, 1, 1, "777");             // int32
         SetCell(lines, 1, 2, "12.75");           // general float
         SetCell(lines, 1, 3, "sword,shield,x");  // list with its joiner
         SetCell(lines, 2, 4, "A new story");     // text
         SetCell(lines, 3, 2, "6.103515625E-5");  // exponent form
       }},
      {"briefings swapped, one removed, one added", &kQuests, 0,
       [](Lines& lines) {
         std::swap(lines[1], lines[4]);
         lines.erase(lines.begin() + 6);
         lines.insert(lines.begin() + 3, lines[2]);
         SetCell(lines, 3, 0, "Copied briefing");
       }},
  };
  return edits;
}

// After an edit in cells the unpacker writes, the packed database unpacks to the edited tables.
TEST(DatabasePackTest, EditedTablesComeBackAsEdited) {
  for (const TableEdit& edit : FixedPointEdits()) {
    SCOPED_TRACE(edit.name);
    const Tool& tool = *edit.tool;
    TempFolder folder;
    ASSERT_EQ(Unpack(tool, tool.sample, folder / "tables"), 0);
    const std::string tablePath =
        folder / ("tables/" + std::string(tool.tables[edit.table].fileName));
    std::vector<std::string> lines = TableLines(tablePath);
    edit.apply(lines);
    WriteTableLines(tablePath, lines);
    const PackResult result = Pack(tool, tool.sample, folder / "tables", folder / "new");
    ASSERT_EQ(result.status, kExitSuccess) << result.errors;
    EXPECT_TRUE(result.errors.empty());
    ASSERT_EQ(Unpack(tool, folder / "new", folder / "again"), 0);
    for (const TableSpec& table : tool.tables) {
      const std::string name(table.fileName);
      EXPECT_EQ(ReadWholeFile(folder / ("again/" + name)),
                ReadWholeFile(folder / ("tables/" + name)))
          << name;
    }
  }
}

// A cell put into the first record of a sample's table, and the problem it must give.
struct BadCell {
  const Tool* tool;
  std::size_t table;
  std::size_t column;
  std::string cell;
  std::string problem;
};

TEST(DatabasePackTest, CellsThatCannotBeStoredAreRefusedWithTheirPlace) {
  const BadCell cases[] = {
      {&kSpells, 0, 5, "12,5",
       "SpellPrototypes.txt line 2, column \"Mana\": \"12,5\" is not a number in this table "
       "(the decimal separator here is '.')"},
      {&kSpells, 0, 6, "1.5", "column \"Slots\": \"1.5\" is not a whole number"},
      {&kSpells, 0, 6, "2147483648", "column \"Slots\": \"2147483648\" is not a whole number"},
      {&kSpells, 0, 4, "fire", "column \"Type\": \"fire\" is not a school"},
      {&kSpells, 0, 31, "255255255", "a spreadsheet read the column as one number"},
      {&kSpells, 0, 26, "2", "column \"Shop 1\": \"2\" is not a shop flag"},
      {&kSpells, 0, 20, "256", "column \"Range Mod\": \"256\" is not a byte"},
      {&kSpells, 0, 3, "1e39", "is beyond the largest value a float32 holds"},
      {&kSpells, 0, 0, "\"Fireball\"", "is wrapped in quotes that the table did not have"},
      {&kSpells, 0, 16, std::string(127, 'x'), "a list element holds at most 126"},
      {&kSpells, 2, 0, "\x01x", "begins with the byte 01, which marks a list"},
      {&kQuests, 1, 2, "12,75", "the decimal separator here is '.'"},
      {&kQuests, 0, 3, "", "column \"Zone\": \"\" is not a whole number"},
  };
  for (const BadCell& bad : cases) {
    SCOPED_TRACE(bad.cell);
    TempFolder folder;
    ASSERT_EQ(Unpack(*bad.tool, bad.tool->sample, folder / "tables"), 0);
    const std::string tablePath =
        folder / ("tables/" + std::string(bad.tool->tables[bad.table].fileName));
    std::vector<std::string> lines = TableLines(tablePath);
    SetCell(lines, 1, bad.column, bad.cell);
    WriteTableLines(tablePath, lines);
    WriteWholeFile(folder / "new", "old");
    const PackResult result = Pack(*bad.tool, bad.tool->sample, folder / "tables", folder / "new");
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.errors.find(bad.problem), std::string::npos) << result.errors;
    EXPECT_EQ(ReadWholeFile(folder / "new"), "old");
  }
}

// A pack lists its first 40 problems and counts the rest: 40 bad cells are each listed, 43 are 40
// listed and "... and 3 more problems".
TEST(DatabasePackTest, ProblemsBeyondTheFortiethAreCounted) {
  TempFolder folder;
  WriteWholeFile(folder / "original", GenerateDatabase(DatabaseKind::Spells, 1, 200));
  ASSERT_EQ(Unpack(kSpells, folder / "original", folder / "tables"), 0);
  const std::string tablePath = folder / ("tables/" + std::string(kSpells.tables[0].fileName));
  const std::vector<std::string> unpacked = TableLines(tablePath);
  ASSERT_GE(unpacked.size(), 44u);
  const std::string problem = "column \"Slots\": \"1.5\" is not a whole number";
  for (const std::size_t bad : {40u, 43u}) {
    SCOPED_TRACE(std::to_string(bad) + " bad cells");
    std::vector<std::string> lines = unpacked;
    for (std::size_t line = 1; line <= bad; ++line)
      SetCell(lines, line, 6, "1.5");
    WriteTableLines(tablePath, lines);
    const PackResult result = Pack(kSpells, folder / "original", folder / "tables", folder / "new");
    EXPECT_EQ(result.status, kExitFailure);
    std::size_t listed = 0;
    for (std::size_t at = result.errors.find(problem); at != std::string::npos;
         at = result.errors.find(problem, at + 1)) {
      ++listed;
    }
    EXPECT_EQ(listed, 40u) << result.errors;
    const std::string more = "... and 3 more problems\n";
    EXPECT_EQ(result.errors.find(more) != std::string::npos, bad == 43) << result.errors;
    EXPECT_FALSE(std::filesystem::exists(folder / "new"));
  }
}

// Records moved together are copied by one edit and leave by one: three consecutive prototypes
// moved to the end of their table make an edit of three copies at the table's end and one
// removal of their stretch, and the database keeps its size.
TEST(DatabasePackTest, RecordsMovedTogetherMoveByOneEdit) {
  TempFolder folder;
  ASSERT_EQ(Unpack(kSpells, kSpells.sample, folder / "tables"), 0);
  const std::string tablePath = folder / "tables/SpellPrototypes.txt";
  std::vector<std::string> lines = TableLines(tablePath);
  ASSERT_GE(lines.size(), 10u);
  std::rotate(lines.begin() + 2, lines.begin() + 5, lines.end());  // lines 3 to 5 to the end
  WriteTableLines(tablePath, lines);

  TablesPackPlan planned;
  PlanSpellTablesPack(folder / "tables", planned);
  const PackPlan& plan = planned.plan;
  ASSERT_EQ(plan.edits.size(), 2u);
  const auto copying =
      std::ranges::find_if(plan.edits, [](const ByteEdit& edit) { return edit.copies > 0; });
  const auto removing =
      std::ranges::find_if(plan.edits, [](const ByteEdit& edit) { return edit.removed > 0; });
  ASSERT_NE(copying, plan.edits.end());
  ASSERT_NE(removing, plan.edits.end());
  EXPECT_NE(copying, removing);
  EXPECT_EQ(copying->copies, 3u);
  EXPECT_EQ(copying->copiedSize, removing->removed);
  EXPECT_GT(copying->at, removing->at);
  EXPECT_EQ(plan.newSize, static_cast<std::int64_t>(planned.database.size()));
}

// The length of the longest strictly increasing run, not necessarily adjacent, of `values`.
std::size_t LongestIncreasingLength(const std::vector<std::size_t>& values) {
  std::vector<std::size_t> tails;  // tails[k]: the least last value of a run of k + 1
  for (const std::size_t value : values) {
    const auto at = std::ranges::lower_bound(tails, value);
    if (at == tails.end()) {
      tails.push_back(value);
    } else {
      *at = value;
    }
  }
  return tails.size();
}

// Line numbers 0 to count - 1 reordered as a spreadsheet might: shuffled, reversed, or a few of
// them moved elsewhere.
std::vector<std::size_t> Reordered(Random& random, std::size_t count) {
  std::vector<std::size_t> order(count);
  for (std::size_t at = 0; at < count; ++at)
    order[at] = at;
  switch (RandomBelow(random, 3)) {
    case 0:
      for (std::size_t at = count; at > 1; --at)
        std::swap(order[at - 1], order[RandomBelow(random, at)]);
      break;
    case 1:
      std::ranges::reverse(order);
      break;
    default:
      for (std::size_t moves = RandomBelow(random, 4) + 1; moves-- > 0;) {
        const std::size_t from = RandomBelow(random, count);
        const std::size_t line = order[from];
        order.erase(order.begin() + static_cast<std::ptrdiff_t>(from));
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(RandomBelow(random, count)), line);
      }
  }
  return order;
}

// The fewest records move: however a table's lines are reordered, the records that keep their
// places are as many as the longest run of them still in their stored order, counted in each
// table node apart; and the packed database unpacks to the reordered tables, each record still
// in its table node (nodes in their stored order, each node's records in the new order).
TEST(DatabasePackTest, ReorderedLinesMoveTheFewestRecords) {
  for (const Tool* tool : {&kSpells, &kQuests}) {
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
      SCOPED_TRACE(std::string(tool->name) + " seed " + std::to_string(seed));
      TempFolder folder;
      const std::string database = GenerateDatabase(tool->kind, seed, 30);
      WriteWholeFile(folder / "original", database);
      ASSERT_EQ(Unpack(*tool, folder / "original", folder / "tables"), 0);
      NodeReader reader = MemoryNodeReader(
          {reinterpret_cast<const std::uint8_t*>(database.data()), database.size()});
      const Layout layout = ReadLayout(reader, tool->packer.rules, '.');
      Random random{seed};
      std::vector<std::size_t> expectedMoves(tool->tables.size(), 0);
      std::vector<std::string> expectedTables(tool->tables.size());
      for (std::size_t table = 0; table < tool->tables.size(); ++table) {
        const std::string path = folder / ("tables/" + std::string(tool->tables[table].fileName));
        const std::vector<std::string> lines = TableLines(path);
        expectedTables[table] = ReadWholeFile(path);
        const std::vector<RecordSpot>& spots = layout.tables[table].spots;
        if (spots.empty() || lines.size() != spots.size() + 1) continue;  // a line holds a break
        const std::vector<std::size_t> order = Reordered(random, spots.size());
        std::vector<std::string> reordered{lines.front()};
        std::vector<std::vector<std::size_t>> recordsOfNode(layout.tableNodes.size());
        for (const std::size_t record : order) {
          reordered.push_back(lines[record + 1]);
          recordsOfNode[spots[record].tableNode].push_back(record);
        }
        WriteTableLines(path, reordered);
        expectedMoves[table] = spots.size();
        std::vector<std::string> unpacked{lines.front()};
        for (const std::vector<std::size_t>& records : recordsOfNode) {
          expectedMoves[table] -= LongestIncreasingLength(records);
          for (const std::size_t record : records)
            unpacked.push_back(lines[record + 1]);
        }
        expectedTables[table] = JoinedTableLines(unpacked);
      }
      TablesPackPlan planned;
      PlanTablesPack(*tool, database, folder / "tables", planned);
      for (std::size_t table = 0; table < tool->tables.size(); ++table) {
        EXPECT_EQ(planned.plan.changes[table].moved, expectedMoves[table]) << table;
        EXPECT_EQ(planned.plan.changes[table].changed, 0u) << table;
      }
      const PackResult result = Pack(*tool, folder / "original", folder / "tables", folder / "new");
      ASSERT_EQ(result.status, kExitSuccess) << result.errors;
      ASSERT_EQ(Unpack(*tool, folder / "new", folder / "again"), 0);
      for (std::size_t table = 0; table < tool->tables.size(); ++table) {
        const std::string name(tool->tables[table].fileName);
        EXPECT_EQ(ReadWholeFile(folder / ("again/" + name)), expectedTables[table]) << name;
      }
    }
  }
}

// What a spreadsheet may do to a whole table, and the problem it must give.
TEST(DatabasePackTest, TablesASpreadsheetMangledAreRefused) {
  const struct {
    const char* name;
    std::function<std::string(const std::string&)> mangle;
    std::string problem;
  } cases[] = {
      {"byte order mark", [](const std::string& t) { return "\xEF\xBB\xBF" + t; },
       "SpellModifiers.txt line 1: the table starts with a UTF-8 byte order mark"},
      {"header changed", [](const std::string& t) { return "Nom" + t.substr(4); },
       "line 1: the header row is not the one the unpacker writes"},
      {"comma separated",
       [](const std::string& t) {
         std::string c = t;
         std::replace(c.begin(), c.end(), '\t', ',');
         return c;
       },
       "save the table with the tab as the only separator"},
      {"a column lost",
       [](const std::string& t) {
         const std::size_t second = t.find("\r\n") + 2;
         return t.substr(0, second) + t.substr(t.find('\t', second) + 1);
       },
       "SpellModifiers.txt line 2 has 12 columns; the record it stands for has 13"},
      {"UTF-8 text", [](const std::string& t) { return t + "\xD0\x9F\xD1\x80\x69\r\n"; },
       "line 22: the line is in UTF-8"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TempFolder folder;
    ASSERT_EQ(Unpack(kSpells, kSpells.sample, folder / "tables"), 0);
    const std::string tablePath = folder / "tables/SpellModifiers.txt";
    WriteWholeFile(tablePath, test.mangle(ReadWholeFile(tablePath)));
    const PackResult result = Pack(kSpells, kSpells.sample, folder / "tables", folder / "new");
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.errors.find(test.problem), std::string::npos) << result.errors;
    EXPECT_FALSE(std::filesystem::exists(folder / "new"));
  }
}

// Lines a stored text's line breaks split are one record again; tables saved with LF line ends
// (a spreadsheet on Linux) pack as well.
TEST(DatabasePackTest, TextsHoldingLineBreaksAndLineFeedTablesPackBack) {
  const std::string database =
      Node(1, {Node(1, {
                           Record({Field(0, Text("two\r\nlines")), Field(1, Text("a\tb"))}),
                           Record({Field(0, Text("bare\nfeed"))}),
                           Record({Field(0, Text("plain"))}),
                       })});
  for (bool lineFeeds : {false, true}) {
    TempFolder folder;
    WriteWholeFile(folder / "original", database);
    ASSERT_EQ(Unpack(kSpells, folder / "original", folder / "tables"), 0);
    const std::string tablePath = folder / "tables/SpellPrototypes.txt";
    std::string table = ReadWholeFile(tablePath);
    if (lineFeeds) {
      std::string converted;
      for (std::size_t at = 0; at < table.size(); ++at) {
        if (table.compare(at, 2, "\r\n") == 0 && at + 2 != table.find("lines")) continue;
        converted += table[at];
      }
      table = converted;
    }
    table.replace(table.find("plain"), 5, "PLAIN");
    WriteWholeFile(tablePath, table);
    const PackResult result = Pack(kSpells, folder / "original", folder / "tables", folder / "new");
    ASSERT_EQ(result.status, kExitSuccess) << result.errors;
    EXPECT_NE(result.output.find("2 kept, 1 changed"), std::string::npos) << result.output;
    std::string expected = database;
    expected.replace(expected.find("plain"), 5, "PLAIN");
    EXPECT_EQ(ReadWholeFile(folder / "new"), expected);
  }
}

// Shop flags of 5 bytes make the spell walk read the next field inside them, and a quest list
// element running past its field makes the quest walk read on from there: such records pack
// back unchanged, but the packer refuses to change what is read off the stored lengths.
TEST(DatabasePackTest, RecordsReadOffTheirLengthsPackUnchangedButRefuseEdits) {
  const std::string spells = Node(
      1,
      {Node(2, {
                   Record({Field(0, Text("first"))}),
                   Record({Field(0, Text("odd")), Field(8, std::string("\x01\x00\x00\x00\x00", 5)),
                           Field(1, Text("code"))}),
                   Record({Field(0, Text("last"))}),
               })});
  const std::string quests = Node(
      1,
      {
          Node(1, {Record({Field(0, Text("before"))})}),
          Node(2, {Record({Field(0, std::string("\x01\x04x\x00\x01\x04", 6)), Field(1, Int(5))})}),
          Node(1, {Record({Field(0, Text("after"))})}),
      });
  const struct {
    const Tool* tool;
    std::string database;
    std::size_t table;
    std::string from;
    std::string to;
    bool refused;
  } cases[] = {
      {&kSpells, spells, 1, "odd", "ODD", true},
      {&kSpells, spells, 1, "last", "LAST", false},
      {&kSpells, spells, 1, "first", "FIRST", false},
      {&kQuests, quests, 0, "before", "BEFORE", false},
      {&kQuests, quests, 0, "after", "AFTER", true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.to);
    TempFolder folder;
    WriteWholeFile(folder / "original", test.database);
    ASSERT_EQ(Unpack(*test.tool, folder / "original", folder / "tables"), 0);
    PackResult result = Pack(*test.tool, folder / "original", folder / "tables", folder / "new");
    ASSERT_EQ(result.status, kExitSuccess) << result.errors;
    EXPECT_EQ(ReadWholeFile(folder / "new"), test.database);
    const std::string tablePath =
        folder / ("tables/" + std::string(test.tool->tables[test.table].fileName));
    std::string table = ReadWholeFile(tablePath);
    table.replace(table.find(test.from), test.from.size(), test.to);
    WriteWholeFile(tablePath, table);
    std::filesystem::remove(folder / "new");
    result = Pack(*test.tool, folder / "original", folder / "tables", folder / "new");
    EXPECT_EQ(result.status, test.refused ? kExitFailure : kExitSuccess) << result.errors;
    if (test.refused) {
      EXPECT_NE(result.errors.find("read off its stored lengths"), std::string::npos)
          << result.errors;
    }
  }
}

TEST(DatabasePackTest, DamagedOriginalIsRefusedWithWhereItIsDamaged) {
  const std::string sample = ReadWholeFile(kQuests.sample);
  TempFolder folder;
  ASSERT_EQ(Unpack(kQuests, kQuests.sample, folder / "tables"), 0);
  WriteWholeFile(folder / "cut", sample.substr(0, sample.size() - 3));
  const PackResult result = Pack(kQuests, folder / "cut", folder / "tables", folder / "new");
  EXPECT_EQ(result.status, kExitFailure);
  EXPECT_NE(result.errors.find("the original database is damaged, the "), std::string::npos)
      << result.errors;
  EXPECT_NE(result.errors.find("bytes before this node's end"), std::string::npos);
}

// Each field owns the columns it produced: a text holding a tab owns two, the colour channels
// share one split at its commas; nodes that grow past 127 bytes take the long length form.
TEST(DatabasePackTest, ColumnsMapBackByTheRecordsOwnLayout) {
  auto database = [](const std::string& name, const std::string& longText, float green) {
    return Node(1, {Node(1, {
                                Record({Field(0, Text(name)), Field(23, Float(1.0f)),
                                        Field(24, Float(green)), Field(25, Float(0.0f))}),
                                Record({Field(1, Text(longText))}),
                                Record({Field(1, Text("code")), Field(0, Text("name"))}),
                            })});
  };
  const std::string original = database("a\tb", "short", 0.5f);
  const std::string longText(200, 'L');
  const struct {
    std::string from;
    std::string to;
    std::string expected;  // the packed database, or empty when refused
    std::string problem;
  } cases[] = {
      {"a\tb\t255,128,0", "a\tB\t255,51,0", database("a\tB", "short", 51.0f / 255.0f), ""},
      {"\tshort", "\t" + longText, database("a\tb", longText, 0.5f), ""},
      {"255,128,0", "255128", "", "does not hold 3 values separated by commas"},
      {"codename", "codeName", "", "cannot be told apart once changed"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.to);
    TempFolder folder;
    WriteWholeFile(folder / "original", original);
    ASSERT_EQ(Unpack(kSpells, folder / "original", folder / "tables"), 0);
    const std::string tablePath = folder / "tables/SpellPrototypes.txt";
    std::string table = ReadWholeFile(tablePath);
    ASSERT_NE(table.find(test.from), std::string::npos);
    table.replace(table.find(test.from), test.from.size(), test.to);
    WriteWholeFile(tablePath, table);
    const PackResult result = Pack(kSpells, folder / "original", folder / "tables", folder / "new");
    EXPECT_EQ(result.status, test.expected.empty() ? kExitFailure : kExitSuccess) << result.errors;
    EXPECT_EQ(ReadWholeFile(folder / "new"), test.expected);
    EXPECT_NE(result.errors.find(test.problem), std::string::npos) << result.errors;
  }
}

}  // namespace

// A packed database that does not read back as the plan says is refused by the check before it
// replaces anything: a changed text, a stored length damaged, a byte missing.
TEST(DatabasePackTest, TheReadBackCheckFindsWhatDiffersFromThePlan) {
  const std::string longName = "Fireball of the Long Name";
  TempFolder folder;
  ASSERT_EQ(Unpack(kSpells, kSpells.sample, folder / "tables"), 0);
  std::vector<std::string> lines = TableLines(folder / "tables/SpellPrototypes.txt");
  std::vector<std::string> cells = CellsOf(lines[1]);
  ASSERT_EQ(cells[0], "Fireball");
  cells[0] = longName;
  lines[1] = JoinedCells(cells);
  WriteTableLines(folder / "tables/SpellPrototypes.txt", lines);

  TablesPackPlan planned;
  PlanSpellTablesPack(folder / "tables", planned);
  NodeReader& original = planned.original;
  const PackPlan& plan = planned.plan;
  PlatformFile output;
  ASSERT_EQ(CreateFileForWriting((folder / "packed").c_str(), output), 0);
  WritePacked(original, plan, output);
  ASSERT_EQ(CloseFile(output), 0);
  const std::string packed = ReadWholeFile(folder / "packed");
  const std::size_t name = packed.find(longName + '\0');
  ASSERT_NE(name, std::string::npos);
  const std::string header = packed.substr(name - 2, 2);
  ASSERT_EQ(header, NodeHeaderBytes(static_cast<std::uint8_t>(header[0]), longName.size() + 1,
                                    LengthForm::Short));
  // The record's header stands before its first field, the name; its last field is a float.
  NodeReader packedReader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size()});
  SeekTo(packedReader, static_cast<std::int64_t>(name) - 7);
  const std::size_t lastFieldAt =
      static_cast<std::size_t>(NodeEnd(ReadNodeHeader(packedReader))) - 6;
  ASSERT_EQ(packed.substr(lastFieldAt, 6), NodeBytes(27, Float32Payload(0.5f)));

  struct Tampering {
    std::string name;
    std::function<void(std::string&)> apply;
    std::string problem;  // empty: the check passes
  };
  const Tampering tamperings[] = {
      {"none", [](std::string&) {}, ""},
      {"a letter of the changed text", [&](std::string& bytes) { bytes[name + 17] = 'i'; },
       "does not read back as the edited tables, first at SpellPrototypes.txt line 2"},
      {"the stored length of the changed record's last field, one past the record's end",
       [&](std::string& bytes) {
         bytes.replace(lastFieldAt, 2, NodeHeaderBytes(27, 5, LengthForm::Short));
       },
       "the packed database is damaged, "},
      {"the last byte", [](std::string& bytes) { bytes.pop_back(); },
       "bytes where " + std::to_string(packed.size()) + " were written"},
  };
  for (const Tampering& tampering : tamperings) {
    SCOPED_TRACE(tampering.name);
    std::string bytes = packed;
    tampering.apply(bytes);
    NodeReader reader =
        MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    std::string problem;
    try {
      CheckPacked(reader, kSpells.packer.rules, '.', plan);
    } catch (const PackFailure& failure) {
      problem = failure.problems.at(0);
    }
    if (tampering.problem.empty()) {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(tampering.problem), std::string::npos) << problem;
    }
  }
}
