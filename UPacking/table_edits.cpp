// The new table's lines as edits: kept, moved, changed and added records.
#include "table_edits.h"

#include <optional>

#include "new_records.h"
#include "plan_items.h"

namespace {

std::uint32_t LineOrigin(EditList& edits, const TableSources& table, std::size_t source,
                         std::size_t line) {
  EditOrigin origin;
  origin.table = static_cast<std::uint16_t>(table.table);
  origin.source = static_cast<std::uint16_t>(source);
  origin.number = static_cast<std::int64_t>(FileLineOf(*table.sources[source].index, line));
  return AddOrigin(edits, origin);
}

// The record of the new line, or its new bytes, put at the line's place when it does not keep
// its own.
void PlanMove(PackPlanning& planning, EditList& edits, TableInPlanning& table, const Anchor& anchor,
              const NewLine& line, std::string inserted) {
  const std::size_t source = line.source == kNoSource ? 0 : line.source;
  const auto origin = [&] { return LineOrigin(edits, table.sources, source, line.line); };
  if (inserted.empty()) {
    AddCopy(planning.plan, edits, anchor,
            SpotOf(planning.original, table.sources.table, line.record), origin);
  } else {
    ByteEdit edit;
    edit.at = anchor.at;
    AddEdit(planning.plan, edits, edit, std::move(inserted), anchor.tableNode, RankAt(anchor),
            origin());
  }
  if (!planning.withItems) return;
  const std::size_t fileLine = FileLineOf(*table.sources.sources[source].index, line.line);
  AddItem(planning,
          Item(PlanAction::Moved, table.sources.table, source, fileLine,
               FileLineOf(table.sources.originalLines, line.record)),
          {}, RecordName(OriginalRecordLine(planning.original, table.sources.table, line.record)));
}

void PlanKept(PackPlanning& planning, EditList& edits, TableInPlanning& table, std::size_t newLine,
              const NewLine& line, const Anchor& anchor) {
  const std::size_t number = table.sources.table;
  NoteKeptRecord(table.names, newLine, line.record);
  TableChanges& changes = planning.plan.changes[number];
  ++changes.kept;
  planning.plan.lineHashes[number].push_back(
      planning.original.layout.tables[number].hashes[line.record]);
  if (table.newTable.inPlace[newLine]) return;
  ++changes.moved;
  PlanMove(planning, edits, table, anchor, line, {});
}

void PlanChanged(PackPlanning& planning, EditList& edits, TableInPlanning& table,
                 std::size_t newLine, const NewLine& line, const Anchor& anchor) {
  TableSources& sources = table.sources;
  const MergedRecord& merged = *VerdictOf(sources.merged, line.record);
  const RecordSpot& spot = SpotOf(planning.original, sources.table, line.record);
  if (const ReadOffLengths* held =
          ReadOffWithin(planning.original.layout, spot.offset, RecordEnd(spot))) {
    AddProblem(planning.problems,
               ReadOffProblem(planning.original.rules,
                              WhereInSource(planning, sources, line.source, line.line), *held));
    return;
  }
  const StoredRecord& record = RecordOf(planning.original, sources, line.record);
  std::string bytes;
  std::string expected;
  if (!MergedBytes(planning, sources, line, merged, record, bytes, expected)) return;
  if (bytes == record.bytes) return PlanKept(planning, edits, table, newLine, line, anchor);
  TableChanges& changes = planning.plan.changes[sources.table];
  ++changes.changed;
  planning.plan.lineHashes[sources.table].push_back(LineHash(expected));
  if (table.newTable.inPlace[newLine]) {
    ByteEdit edit;
    edit.at = spot.offset;
    edit.removed = spot.size;
    AddEdit(planning.plan, edits, edit, std::move(bytes), spot.tableNode, 2,
            LineOrigin(edits, sources, line.source, line.line));
  } else {
    ++changes.changedMoved;
    PlanMove(planning, edits, table, anchor, line, std::move(bytes));
  }
  if (planning.withItems) AddRecord(planning.plan, expected, RecordName(StoredLine(record)));
  NoteNamedLine(table.names, sources, newLine, line.source, line.line, expected,
                StoredLine(record));
  NoteChangedUnits(planning, sources, merged, record);
}

// The bytes of an added line as its database source stores its record; false, with the
// problem, when that database reads it off its stored lengths.
bool AddedRecordBytes(PackPlanning& planning, TableSources& table, const NewLine& line,
                      const std::string& where, std::string& bytes, std::string& expected) {
  SourceTable& from = table.sources[line.source];
  const RecordSpot& spot = from.source->layout.tables[table.table].spots[line.line];
  if (const ReadOffLengths* held =
          ReadOffWithin(from.source->layout, spot.offset, RecordEnd(spot))) {
    AddProblem(planning.problems,
               where + ": a record that its database reads off its stored lengths (the field @" +
                   std::to_string(held->field) + "); it cannot be added elsewhere");
    return false;
  }
  bytes = ReadSourceRecord(planning, table, line.source, line.line).bytes;
  expected = ReadSourceLine(from, line.line);
  return true;
}

// The bytes of an added line of tables: built on the record it resembles most, or its
// neighbour's (`base`); false, with the problems, when it cannot be stored.
bool BuiltRecordBytes(PackPlanning& planning, TableInPlanning& table, std::size_t newLine,
                      const NewLine& line, const std::string& where, std::size_t& base,
                      std::string& bytes, std::string& expected) {
  TableSources& sources = table.sources;
  SourceTable& from = sources.sources[line.source];
  const std::uint32_t resembling = from.pairing.templateOfLine[line.line];
  const bool neighbour = resembling == kNoRecord;
  base = neighbour ? table.newTable.neighbours[newLine] : resembling;
  const RecordSpot& spot = SpotOf(planning.original, sources.table, base);
  if (const ReadOffLengths* held =
          ReadOffWithin(planning.original.layout, spot.offset, RecordEnd(spot))) {
    AddProblem(planning.problems, ReadOffProblem(planning.original.rules, where, *held));
    return false;
  }
  const StoredRecord stored = ReadOriginalRecord(planning.original, sources.table, base);
  RebuiltRecord rebuilt;
  // The line stays in the reader's window, which nothing reads again before the rebuild.
  const std::string_view text = ReadSourceLine(from, line.line);
  if (!Rebuild(planning, sources, stored, text, neighbour, line.source, line.line, rebuilt))
    return false;
  bytes = std::move(rebuilt.bytes);
  expected = std::move(rebuilt.line);
  return true;
}

// An added line: a database source's record as it stores it; a line of tables built on the
// record it resembles most, or its neighbour's.
void PlanAdded(PackPlanning& planning, EditList& edits, TableInPlanning& table, std::size_t newLine,
               const NewLine& line, const Anchor& anchor) {
  TableSources& sources = table.sources;
  const std::string where = WhereInSource(planning, sources, line.source, line.line);
  const std::size_t fileLine = FileLineOf(*sources.sources[line.source].index, line.line);
  if (planning.original.layout.tables[sources.table].spots.empty()) {
    AddProblem(planning.problems,
               where + ": the original has no record in this table to build a new one on");
    return;
  }
  std::string bytes;
  std::string expected;
  std::size_t base = kNone;
  const bool built =
      planning.sources[line.source].kind == SourceKind::Database
          ? AddedRecordBytes(planning, sources, line, where, bytes, expected)
          : BuiltRecordBytes(planning, table, newLine, line, where, base, bytes, expected);
  if (!built) return;
  ++planning.plan.changes[sources.table].added;
  planning.plan.lineHashes[sources.table].push_back(LineHash(expected));
  ByteEdit edit;
  edit.at = anchor.at;
  AddEdit(planning.plan, edits, edit, std::move(bytes), anchor.tableNode, RankAt(anchor),
          LineOrigin(edits, sources, line.source, line.line));
  NoteNamedLine(table.names, sources, newLine, line.source, line.line, expected, std::nullopt);
  AddItem(planning,
          Item(PlanAction::Added, sources.table, line.source, fileLine,
               base == kNone ? 0 : FileLineOf(sources.originalLines, base)),
          expected, RecordName(expected));
}

}  // namespace

void PlanNewLines(PackPlanning& planning, EditList& edits, TableInPlanning& table) {
  const NewTable& newTable = table.newTable;
  PlacesWalk walk;
  for (std::size_t at = 0; at < newTable.count; ++at) {
    const std::uint32_t index = LineInOrder(newTable, at);
    const NewLine line = NewLineAt(table.sources, newTable, index);
    const Anchor anchor = NextAnchor(planning.original, table.sources, newTable, walk, index);
    if (line.isAdded) {
      PlanAdded(planning, edits, table, index, line, anchor);
    } else if (const MergedRecord* verdict = VerdictOf(table.sources.merged, line.record);
               verdict == nullptr || verdict->units.empty()) {
      PlanKept(planning, edits, table, index, line, anchor);
    } else {
      PlanChanged(planning, edits, table, index, line, anchor);
    }
  }
}
