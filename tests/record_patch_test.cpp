// Tests of rebuilding a record from a line, on generated databases: an unchanged line keeps every
// byte, one changed cell changes one field's node, and a cell that cannot be stored is refused at
// its column.
#include "record_patch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "original_layout.h"
#include "quest_walker.h"
#include "session_databases.h"
#include "spell_walker.h"
#include "split_text.h"

namespace {

// A stored record with the column recipes of its table.
struct SampleRecord {
  StoredRecord record;
  const std::vector<ColumnRecipe>* columns;
};

// Every record of every shown table of a generated database of the kind.
std::vector<SampleRecord> GeneratedRecords(DatabaseKind kind, std::uint64_t seed) {
  const PackRules rules = kind == DatabaseKind::Spells
                              ? PackRules{kSpellFormat.tables, &kSpellFormat.walk}
                              : PackRules{kQuestFormat.tables, &kQuestFormat.walk};
  const std::string bytes = GenerateDatabase(kind, seed, 6);
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  const Layout layout = ReadLayout(reader, rules, '.');
  std::vector<SampleRecord> records;
  for (std::size_t table = 0; table < layout.tables.size(); ++table) {
    for (const RecordSpot& spot : layout.tables[table].spots) {
      records.push_back(
          {ReadStoredRecord(reader, rules, layout, spot, '.'), &TableColumns(kind, table)});
    }
  }
  return records;
}

std::vector<SampleRecord> AllGeneratedRecords() {
  std::vector<SampleRecord> records;
  for (DatabaseKind kind : {DatabaseKind::Spells, DatabaseKind::Quests}) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      std::vector<SampleRecord> more = GeneratedRecords(kind, seed);
      records.insert(records.end(), more.begin(), more.end());
    }
  }
  return records;
}

// The field nodes of a record node, header included, in order.
std::vector<std::string> FieldNodes(const std::string& record) {
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(record.data()), record.size()});
  const NodeHeader header = ReadNodeHeader(reader);
  std::vector<std::string> nodes;
  while (Position(reader) < NodeEnd(header)) {
    const std::int64_t offset = Position(reader);
    const NodeHeader field = ReadNodeHeader(reader);
    nodes.push_back(record.substr(static_cast<std::size_t>(offset),
                                  static_cast<std::size_t>(NodeEnd(field) - offset)));
    SeekTo(reader, NodeEnd(field));
  }
  return nodes;
}

// The field that alone makes the column, or -1 when the column is shared or has none.
int OnlyFieldOf(const StoredRecord& record, std::size_t column) {
  const std::vector<std::vector<std::size_t>> fieldColumns = ColumnsOfFields(record);
  int owner = -1;
  for (std::size_t field = 0; field < fieldColumns.size(); ++field) {
    for (std::size_t owned : fieldColumns[field]) {
      if (owned != column) continue;
      if (owner >= 0 || fieldColumns[field].size() != 1) return -1;
      owner = static_cast<int>(field);
    }
  }
  return owner;
}

TEST(RecordPatchTest, TheRecordsOwnLineRebuildsItsBytesExactly) {
  for (const SampleRecord& sample : AllGeneratedRecords()) {
    const std::string line = StoredLine(sample.record);
    SCOPED_TRACE(line);
    RebuiltRecord rebuilt;
    std::vector<CellProblem> problems;
    ASSERT_TRUE(RebuildRecord(sample.record, line, false, '.', rebuilt, problems));
    EXPECT_TRUE(problems.empty());
    EXPECT_FALSE(rebuilt.changed);
    EXPECT_TRUE(rebuilt.changedColumns.empty());
    EXPECT_EQ(rebuilt.bytes, sample.record.bytes);
    EXPECT_EQ(rebuilt.line, line);
  }
}

TEST(RecordPatchTest, OneChangedCellChangesOnlyItsFieldsNode) {
  const std::vector<SampleRecord> records = AllGeneratedRecords();
  std::size_t changed = 0;
  for (std::size_t index = 1; index < records.size(); ++index) {
    const StoredRecord& record = records[index].record;
    const StoredRecord& donor = records[index - 1].record;
    if (!SameFields(record, donor)) continue;
    std::vector<std::string> cells = CellsOf(StoredLine(record));
    const std::vector<std::string> donorCells = CellsOf(StoredLine(donor));
    for (std::size_t column = 0; column < cells.size(); ++column) {
      const int field = OnlyFieldOf(record, column);
      if (field < 0 || cells[column] == donorCells[column]) continue;
      std::vector<std::string> edited = cells;
      edited[column] = donorCells[column];
      SCOPED_TRACE(JoinedCells(edited));
      RebuiltRecord rebuilt;
      std::vector<CellProblem> problems;
      ASSERT_TRUE(RebuildRecord(record, JoinedCells(edited), false, '.', rebuilt, problems))
          << problems.front().why;
      std::vector<std::string> before = FieldNodes(record.bytes);
      std::vector<std::string> after = FieldNodes(rebuilt.bytes);
      ASSERT_EQ(before.size(), after.size());
      EXPECT_NE(before[static_cast<std::size_t>(field)], after[static_cast<std::size_t>(field)]);
      before.erase(before.begin() + field);
      after.erase(after.begin() + field);
      EXPECT_EQ(before, after);
      EXPECT_EQ(rebuilt.changedColumns, std::vector<std::size_t>{column});
      if (rebuilt.rounded.empty()) {
        EXPECT_EQ(CellsOf(rebuilt.line)[column], donorCells[column]);
      }
      ++changed;
    }
  }
  EXPECT_GT(changed, 100u);
}

// The cells that still show their stored values (StoredValuesShown) are exactly those whose
// fields the rebuild keeps: the record's own line shows every one; with a cell of another
// record, that cell shows its value only where the rebuild keeps its field's node. The record
// RebuildStoredRecord makes is the rebuilt one, read as stored: its bytes, its line, its fields'
// nodes where its fields say, and every cell of its line showing its values.
TEST(RecordPatchTest, CellsShowTheirStoredValuesWhereTheRebuildKeepsTheirFields) {
  const std::vector<SampleRecord> records = AllGeneratedRecords();
  std::size_t changed = 0;
  for (std::size_t index = 0; index < records.size(); ++index) {
    const StoredRecord& record = records[index].record;
    const std::string line = StoredLine(record);
    const std::vector<bool> own = StoredValuesShown(record, line, '.');
    EXPECT_EQ(own, std::vector<bool>(CellsOf(line).size(), true)) << line;
    if (index == 0 || !SameFields(record, records[index - 1].record)) continue;
    const std::vector<std::string> donorCells = CellsOf(StoredLine(records[index - 1].record));
    for (std::size_t column = 0; column < own.size(); ++column) {
      const int field = OnlyFieldOf(record, column);
      std::vector<std::string> edited = CellsOf(line);
      if (field < 0 || edited[column] == donorCells[column]) continue;
      edited[column] = donorCells[column];
      const std::string editedLine = JoinedCells(edited);
      SCOPED_TRACE(editedLine);
      RebuiltRecord rebuilt;
      std::vector<CellProblem> problems;
      ASSERT_TRUE(RebuildRecord(record, editedLine, false, '.', rebuilt, problems));
      const bool kept = FieldNodes(rebuilt.bytes)[static_cast<std::size_t>(field)] ==
                        FieldNodes(record.bytes)[static_cast<std::size_t>(field)];
      std::vector<bool> expected(own.size(), true);
      expected[column] = kept;
      EXPECT_EQ(StoredValuesShown(record, editedLine, '.'), expected);
      StoredRecord stored;
      ASSERT_TRUE(RebuildStoredRecord(record, editedLine, '.', stored));
      EXPECT_EQ(stored.bytes, rebuilt.bytes);
      EXPECT_EQ(StoredLine(stored), rebuilt.line);
      const std::vector<std::string> nodes = FieldNodes(stored.bytes);
      ASSERT_EQ(nodes.size(), stored.fields.size());
      for (std::size_t at = 0; at < nodes.size(); ++at) {
        const StoredField& part = stored.fields[at];
        EXPECT_EQ(stored.bytes.substr(part.offset, part.headerSize + part.payloadSize), nodes[at]);
      }
      EXPECT_EQ(StoredValuesShown(stored, rebuilt.line, '.'), std::vector<bool>(own.size(), true));
      ++changed;
    }
  }
  EXPECT_GT(changed, 100u);
}

// A cell that no field of its column's kind can store.
struct MalformedCell {
  CellKind kind;
  const char* cell;
};

TEST(RecordPatchTest, AMalformedCellIsRefusedAtItsColumn) {
  const MalformedCell cases[] = {
      {CellKind::Number, "twelve"},  {CellKind::Number, "1e999"}, {CellKind::Number, "12abc"},
      {CellKind::Colour, "255,128"}, {CellKind::Colour, "a,b,c"}, {CellKind::Colour, "1,2,3,4"},
      {CellKind::School, "fire"},    {CellKind::ShopFlag, "yes"}, {CellKind::Text, "\"quoted\""},
  };
  const std::vector<SampleRecord> records = AllGeneratedRecords();
  for (const MalformedCell& test : cases) {
    SCOPED_TRACE(test.cell);
    std::size_t refused = 0;
    for (const SampleRecord& sample : records) {
      std::vector<std::string> cells = CellsOf(StoredLine(sample.record));
      for (std::size_t column = 0; column < sample.columns->size(); ++column) {
        if ((*sample.columns)[column].kind != test.kind) continue;
        cells[column] = test.cell;
        RebuiltRecord rebuilt;
        std::vector<CellProblem> problems;
        EXPECT_FALSE(
            RebuildRecord(sample.record, JoinedCells(cells), false, '.', rebuilt, problems));
        ASSERT_FALSE(problems.empty());
        for (const CellProblem& problem : problems) {  // one a field behind a shared column
          EXPECT_FALSE(problem.wholeLine);
          EXPECT_EQ(problem.column, column);
          EXPECT_FALSE(problem.why.empty());
        }
        ++refused;
        break;
      }
    }
    EXPECT_GT(refused, 0u);
  }
}

TEST(RecordPatchTest, ALineOfAnotherWidthIsRefusedAsAWhole) {
  for (const SampleRecord& sample : AllGeneratedRecords()) {
    const std::string line = StoredLine(sample.record);
    for (const std::string& other : {line + "\textra", line.substr(0, line.rfind('\t'))}) {
      RebuiltRecord rebuilt;
      std::vector<CellProblem> problems;
      EXPECT_FALSE(RebuildRecord(sample.record, other, false, '.', rebuilt, problems));
      ASSERT_EQ(problems.size(), 1u);
      EXPECT_TRUE(problems.front().wholeLine);
    }
  }
}

TEST(RecordPatchTest, TakingEveryPartOfAnotherRecordGivesThatRecord) {
  const std::vector<SampleRecord> records = AllGeneratedRecords();
  for (std::size_t index = 1; index < records.size(); ++index) {
    const StoredRecord& record = records[index].record;
    const StoredRecord& other = records[index - 1].record;
    if (!SameFields(record, other)) continue;
    std::vector<std::size_t> every(record.fields.size());
    for (std::size_t field = 0; field < every.size(); ++field)
      every[field] = field;
    const StoredRecord taken = WithPartsOf(record, other, every, true);
    EXPECT_EQ(taken.bytes, other.bytes);
    EXPECT_EQ(StoredLine(taken), StoredLine(other));
    const StoredRecord kept = WithPartsOf(record, other, {}, false);
    EXPECT_EQ(kept.bytes, record.bytes);
  }
}

}  // namespace
