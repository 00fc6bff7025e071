// What each source changes in a table: its lines paired with the records they stand for, each
// line compared with its record, and the sources' changes merged.
#include "source_changes.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <thread>

#include "message_text.h"
#include "record_patch.h"
#include "run_failure.h"
#include "split_text.h"

namespace {

// The bytes of a record's field, header included.
std::string_view FieldNode(const StoredRecord& record, std::size_t field) {
  const StoredField& part = record.fields[field];
  return std::string_view(record.bytes).substr(part.offset, part.headerSize + part.payloadSize);
}

// Of the fields (`differing`) in which a database source's record `stored` differs from the
// original's `record` (SameFields), those whose bytes its cells do not explain: with the others
// taken from `stored`, the record rebuilt with its line is not `stored`. Those hold changes of
// bytes no column shows and are merged whole; the others merge cell by cell.
std::vector<std::size_t> FieldsWithHiddenChanges(const StoredRecord& record,
                                                 const StoredRecord& stored,
                                                 std::vector<std::size_t> differing,
                                                 char decimalSeparator) {
  const std::string line = StoredLine(stored);
  for (std::size_t at = 0; at < differing.size();) {
    std::vector<std::size_t> others = differing;
    others.erase(others.begin() + static_cast<std::ptrdiff_t>(at));
    RebuiltRecord rebuilt;
    std::vector<CellProblem> ignored;
    if (RebuildRecord(WithPartsOf(record, stored, others, true), line, false, decimalSeparator,
                      rebuilt, ignored) &&
        rebuilt.bytes == stored.bytes) {
      differing = std::move(others);
    } else {
      ++at;
    }
  }
  return differing;
}

// The parts a table's line ends split a line into.
std::vector<std::uint64_t> PartHashes(std::string_view line, std::string_view lineEnd) {
  std::vector<std::uint64_t> parts;
  for (std::string_view part : SplitAt(line, lineEnd))
    parts.push_back(LineHash(part));
  return parts;
}

// The cells of a line that no longer show the values the record stores (StoredValuesShown), as
// the line has them, or a change of the line as a whole when it has other columns than the
// record.
void AddCellChanges(const StoredRecord& record, std::string_view line, char decimalSeparator,
                    RecordChange& change) {
  const std::vector<bool> shown = StoredValuesShown(record, line, decimalSeparator);
  if (shown.empty()) {
    change.units.push_back({{UnitKind::WholeRecord, 0}, std::string(line)});
    return;
  }
  const std::vector<std::string_view> cells = SplitColumns(line);
  for (std::size_t column = 0; column < cells.size(); ++column) {
    if (!shown[column])
      change.units.push_back({{UnitKind::Cell, column}, std::string(cells[column])});
  }
}

// A table that ends in blank lines (empty rows a spreadsheet saved) is refused for that, once,
// rather than line by line, where no record of the original reads as a blank line (a record
// without fields does); its blank lines are left out of the plan.
void RefuseBlankLinesAtTheEnd(PackPlanning& planning, const TableSources& table,
                              SourceTable& from) {
  const std::vector<std::uint64_t>& hashes = planning.original.layout.tables[table.table].hashes;
  if (std::ranges::find(hashes, LineHash("")) != hashes.end()) return;
  TableIndex& index = *from.index;
  std::size_t lines = LineCount(index);
  while (lines > 0 && LineStart(index, lines - 1) == index.ends[lines - 1])
    --lines;
  const std::size_t blank = LineCount(index) - lines;
  if (blank == 0) return;
  AddProblem(planning.problems, WhereInSource(planning, table, from.number, lines) +
                                    ": the table ends in " + Plural(blank, "blank line") +
                                    "; delete them");
  index.ends.resize(lines);
  index.hashes.resize(lines);
}

// Lines that a stored text's line breaks split are joined again where they are exactly the
// parts of a record's line, so that an unedited record holding line breaks is seen whole.
void JoinLinesOfRecords(OriginalTables& original, std::size_t table, SourceTable& from) {
  const TableRecords& records = original.layout.tables[table];
  std::vector<std::vector<std::uint64_t>> parts;
  std::vector<std::uint64_t> wholes;
  for (std::uint32_t record : records.multiLine) {
    parts.push_back(PartHashes(OriginalRecordLine(original, table, record), from.index->lineEnd));
    wholes.push_back(records.hashes[record]);
  }
  JoinSplitLines(*from.index, parts, wholes);
}

void PairTable(OriginalTables& original, std::size_t table, SourceTable& from) {
  const TableRecords& records = original.layout.tables[table];
  PairingTexts texts;
  texts.editedLine = [&](std::size_t line) { return ReadSourceLine(from, line); };
  texts.recordLine = [&](std::size_t record) {
    return OriginalRecordLine(original, table, record);
  };
  if (from.source->kind == SourceKind::Workbook && !from.source->sheets.shownLines[table].empty()) {
    // A workbook's line that holds a float exactly where the table's decimals would not show it
    // pairs by the line the table shows; DescribeLines asks whether its record still holds it.
    const std::vector<std::uint64_t> hashes =
        PairingHashes(from.source->sheets.shownLines[table], from.index->hashes);
    from.pairing = PairLines(records.hashes, hashes, texts);
    return;
  }
  from.pairing = PairLines(records.hashes, from.index->hashes, texts);
}

// A source's lines described on a second thread from this many on: fewer are described sooner
// than a thread and its readers start.
constexpr std::size_t kLeastLinesOnTwoThreads = 4096;

// Whether a paired line may change its record: it is not the record's line, or it was paired
// by the floats it shows (PairingHashes), which must still be the stored values.
bool MayChangeRecord(const SourceTable& from, std::size_t table, std::size_t line) {
  const bool pairedByShownFloats = from.source->kind == SourceKind::Workbook &&
                                   ShowsFloatsExactly(from.source->sheets, table, line);
  return !from.pairing.equal[line] || pairedByShownFloats;
}

// What the paired lines [begin, end) of a source of tables change in their records: the cells
// in which each differs from its record's line, the changes in order of lines. The original is
// read through `database` and the lines through `lines`, so that two threads may each describe
// a range.
std::vector<RecordChange> DescribeLines(const OriginalTables& original, std::size_t table,
                                        const SourceTable& from, NodeReader& database,
                                        LineReader& lines, std::size_t begin, std::size_t end) {
  std::vector<RecordChange> changes;
  for (std::size_t line = begin; line < end; ++line) {
    const std::uint32_t record = from.pairing.recordOfLine[line];
    if (record == kNoRecord || !MayChangeRecord(from, table, line)) continue;
    RecordChange change;
    change.source = from.number;
    change.record = record;
    change.sourceLine = line;
    const StoredRecord stored =
        ReadStoredRecord(database, original.rules, original.layout, SpotOf(original, table, record),
                         original.decimalSeparator);
    AddCellChanges(stored, ReadSourceLine(from, lines, line), original.decimalSeparator, change);
    if (!change.units.empty()) changes.push_back(std::move(change));
  }
  return changes;
}

// DescribeLines over all of a source's lines, the later half on a second thread with readers of
// its own where there are enough of them. A failure raised is the first in order of lines.
std::vector<RecordChange> DescribeAllLines(OriginalTables& original, std::size_t table,
                                           SourceTable& from) {
  const std::size_t lines = from.pairing.recordOfLine.size();
  if (lines < kLeastLinesOnTwoThreads) {
    return DescribeLines(original, table, from, original.reader, from.lines, 0, lines);
  }
  const std::size_t half = lines / 2;
  NodeReader database = SecondNodeReader(original.reader);
  LineReader laterLines = ReaderOfLines(*from.lines.source, *from.lines.index);
  std::vector<RecordChange> later;
  std::exception_ptr laterFailure;
  std::thread worker([&] {
    try {
      later = DescribeLines(original, table, from, database, laterLines, half, lines);
    } catch (...) {
      laterFailure = std::current_exception();
    }
  });
  std::vector<RecordChange> changes;
  std::exception_ptr failure;
  try {
    changes = DescribeLines(original, table, from, original.reader, from.lines, 0, half);
  } catch (...) {
    failure = std::current_exception();
  }
  worker.join();
  static_cast<void>(CloseFile(database.file));  // read only: nothing is lost if closing fails
  if (failure) std::rethrow_exception(failure);
  if (laterFailure) std::rethrow_exception(laterFailure);
  std::ranges::move(later, std::back_inserter(changes));
  return changes;
}

// What a database source's record changes in the original's: the cells in which its line
// differs, the fields and the header whose bytes differ, or the record as a whole when it
// stores other fields.
void DescribeStoredRecord(PackPlanning& planning, TableSources& table, SourceTable& from,
                          std::size_t line, RecordChange& change) {
  OriginalTables& original = planning.original;
  const RecordSpot& spot = SpotOf(original, table.table, change.record);
  const RecordSpot& sourceSpot = from.source->layout.tables[table.table].spots[line];
  if (ReadRecordBytes(original.reader, spot) == ReadRecordBytes(from.source->reader, sourceSpot)) {
    return;
  }
  const StoredRecord& record = RecordOf(original, table, change.record);
  const StoredRecord stored = ReadSourceRecord(planning, table, from.number, line);
  if (!SameFields(record, stored)) {
    change.units.push_back({{UnitKind::WholeRecord, 0}, stored.bytes});
    return;
  }
  const std::string_view ownHeader = std::string_view(record.bytes).substr(0, record.headerSize);
  const std::string_view header = std::string_view(stored.bytes).substr(0, stored.headerSize);
  // The header's kind byte and length form; its length follows from the fields.
  if (header[0] != ownHeader[0] || header.size() != ownHeader.size()) {
    change.units.push_back(
        {{UnitKind::RecordHeader, 0}, std::string{header[0], static_cast<char>(header.size())}});
  }
  AddCellChanges(record, StoredLine(stored), original.decimalSeparator, change);
  std::vector<std::size_t> differing;
  for (std::size_t field = 0; field < record.fields.size(); ++field) {
    if (FieldNode(record, field) != FieldNode(stored, field)) differing.push_back(field);
  }
  for (std::size_t field :
       FieldsWithHiddenChanges(record, stored, differing, original.decimalSeparator))
    change.units.push_back({{UnitKind::Field, field}, std::string(FieldNode(stored, field))});
}

// Every change a source makes to the table: records changed and removed, lines added.
void DescribeSource(PackPlanning& planning, TableSources& table, SourceTable& from,
                    std::vector<RecordChange>& changes, std::vector<AddedLine>& added) {
  const TablePairing& pairing = from.pairing;
  const bool storesRecords = from.source->kind == SourceKind::Database;
  std::vector<RecordChange> described;
  if (!storesRecords) described = DescribeAllLines(planning.original, table.table, from);
  auto nextDescribed = described.begin();
  std::uint32_t after = kNoPrecedingRecord;
  for (std::size_t line = 0; line < pairing.recordOfLine.size(); ++line) {
    const std::uint32_t record = pairing.recordOfLine[line];
    if (record == kNoRecord) {
      const std::uint64_t bytesHash =
          storesRecords  // never 0, which a line of tables has
              ? LineHash(ReadSourceRecord(planning, table, from.number, line).bytes) | 1
              : 0;
      added.push_back({from.number, line, from.index->hashes[line], after, bytesHash});
      continue;
    }
    after = record;
    if (!storesRecords) {
      if (nextDescribed != described.end() && nextDescribed->sourceLine == line) {
        changes.push_back(std::move(*nextDescribed++));
      }
      continue;
    }
    RecordChange change;
    change.source = from.number;
    change.record = record;
    change.sourceLine = line;
    DescribeStoredRecord(planning, table, from, line, change);
    if (!change.units.empty()) changes.push_back(std::move(change));
  }
  for (std::uint32_t record = 0; record < pairing.lineOfRecord.size(); ++record) {
    if (pairing.lineOfRecord[record] != kNoLine) continue;
    RecordChange change;
    change.source = from.number;
    change.record = record;
    change.removed = true;
    changes.push_back(std::move(change));
  }
}

// Whether a source's value of a record's unit is the winning one: the same text or bytes, or
// for a cell a text that still shows the value the record stores once its cell holds the
// winning text (StoredValuesShown).
bool SameUnitValue(OriginalTables& original, TableSources& table, std::uint32_t record,
                   const ChangeUnit& unit, const std::string& value, const std::string& winner) {
  if (value == winner) return true;
  if (unit.kind != UnitKind::Cell) return false;
  const char decimalSeparator = original.decimalSeparator;
  const StoredRecord& stored = RecordOf(original, table, record);
  std::vector<std::string> cells = CellsOf(StoredLine(stored));
  if (unit.index >= cells.size()) return false;
  cells[unit.index] = winner;
  StoredRecord withWinner;
  if (!RebuildStoredRecord(stored, JoinedCells(cells), decimalSeparator, withWinner)) return false;
  cells = CellsOf(StoredLine(withWinner));
  cells[unit.index] = value;
  const std::vector<bool> shown =
      StoredValuesShown(withWinner, JoinedCells(cells), decimalSeparator);
  return unit.index < shown.size() && shown[unit.index];
}

void MergeSources(PackPlanning& planning, TableSources& table) {
  std::vector<RecordChange> changes;
  std::vector<AddedLine> added;
  for (SourceTable& from : table.sources)
    DescribeSource(planning, table, from, changes, added);
  std::vector<SourceChanges>& counts = planning.plan.sourceChanges[table.table];
  counts.assign(planning.sources.size(), {});
  for (const RecordChange& change : changes) {
    ++(change.removed ? counts[change.source].removed : counts[change.source].changed);
  }
  for (const AddedLine& line : added)
    ++counts[line.source].added;
  table.merged = MergeTable(
      planning.original.layout.tables[table.table].spots.size(), std::move(changes),
      std::move(added),
      [&](std::uint32_t record, const ChangeUnit& unit, const std::string& a,
          const std::string& b) {
        return SameUnitValue(planning.original, table, record, unit, a, b);
      },
      planning.severalSources);
}

}  // namespace

TableSources ChangesOfSources(PackPlanning& planning, std::size_t table,
                              std::vector<std::vector<TableIndex>>& indexes) {
  OriginalTables& original = planning.original;
  TableSources changed;
  changed.table = table;
  for (std::uint32_t record : original.layout.tables[table].multiLine)
    NoteFileLines(changed.originalLines, record, OriginalRecordLine(original, table, record));
  for (std::size_t source = 0; source < planning.sources.size(); ++source) {
    TableIndex& index = indexes[source][table];
    changed.sources.push_back({source,
                               &planning.sources[source],
                               &index,
                               {},
                               ReaderOfLines(planning.sources[source].tables[table], index)});
  }
  for (SourceTable& from : changed.sources) {
    if (from.source->kind != SourceKind::Database) {  // a database's lines are its records'
      RefuseBlankLinesAtTheEnd(planning, changed, from);
      JoinLinesOfRecords(original, table, from);
    }
    PairTable(original, table, from);
  }
  MergeSources(planning, changed);
  return changed;
}

const StoredRecord& RecordOf(OriginalTables& original, TableSources& table, std::uint32_t record) {
  if (table.lastRecord != record) {
    table.lastRecord = kNoRecord;  // a read that fails leaves no record behind
    table.lastRecordRead = ReadOriginalRecord(original, table.table, record);
    table.lastRecord = record;
  }
  return table.lastRecordRead;
}

std::string_view ReadSourceLine(SourceTable& from, std::size_t line) {
  return ReadSourceLine(from, from.lines, line);
}

std::string_view ReadSourceLine(const SourceTable& from, LineReader& lines, std::size_t line) {
  try {
    return ReadLine(lines, line);
  } catch (const IoFailure& failure) {
    throw PackFailure{
        {"cannot read " + from.source->path + ": " + FailureMessage(failure.errorNumber)}};
  }
}

StoredRecord ReadSourceRecord(const PackPlanning& planning, const TableSources& table,
                              std::size_t source, std::size_t line) {
  PackSource& from = *table.sources[source].source;
  const RecordSpot& spot = from.layout.tables[table.table].spots[line];
  return ReadStoredRecord(from.reader, planning.original.rules, from.layout, spot,
                          planning.original.decimalSeparator);
}

std::string WhereInSource(const PackPlanning& planning, const TableSources& table,
                          std::size_t source, std::size_t line) {
  return SourcePrefix(planning, source) + TableName(planning.original.rules, table.table) +
         " line " + std::to_string(FileLineOf(*table.sources[source].index, line));
}
