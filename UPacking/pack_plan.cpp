// Planning a pack: the original's layout read, each table's lines paired with its records, and
// what became of every line turned into edits of the original's bytes.
#include "pack_plan.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>

#include "duplicate_names.h"
#include "line_pairing.h"
#include "message_text.h"
#include "node_writer.h"
#include "run_failure.h"
#include "split_text.h"

namespace {

// Problems reported at most; the rest are counted.
constexpr std::size_t kMostProblems = 40;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::uint32_t kNoNewLine = UINT32_MAX;
constexpr std::uint16_t kNoSource = UINT16_MAX;

// A record's place for an edit: before it or after it, in its table node.
struct Anchor {
  std::int64_t at;
  std::size_t tableNode;
  bool after;
};

// An edit on its way into the plan: the plan's edit, the node it grows or shrinks, and the
// order among edits at one offset.
struct PendingEdit {
  ByteEdit edit;
  std::uint32_t tableNode;
  std::uint32_t origin;  // what asked for it (Planner::origins), named only in problems
  std::uint8_t rank;  // 0: appended to the node ending at `at`; 1: a node's header; 2: at a record
};

// What asked for edits: a source's line, a record of the original moved or removed, or a node
// whose header changes.
struct EditOrigin {
  enum class Kind : std::uint8_t { Line, Record, Node };
  Kind kind = Kind::Line;
  std::uint16_t table = 0;
  std::uint16_t source = 0;  // a line's
  bool removed = false;      // a record: removed, or moved
  bool database = false;     // a node: a database node, or a table
  std::int64_t number = 0;   // a line's file line, a record's line, a node's offset
};

// One source's table while it is planned: its lines and the records they stand for.
struct SourceTable {
  std::size_t number;
  PackSource* source;
  TableIndex* index;
  TablePairing pairing;
  LineReader lines;
};

// A line of the new table: an original record, kept or changed, or an added line
// (MergedTable::added[added]). `source` and `line` name the source line it comes from (for a
// changed record, the last source that changed it; kNone for a record no source changed).
struct NewLine {
  std::uint32_t record = kNoRecord;
  std::uint32_t added = 0;
  std::uint32_t line = 0;
  std::uint16_t source = kNoSource;
  bool isAdded = false;
};

// One table while it is planned, its new lines taken in order.
struct TablePlanning {
  std::size_t table = 0;
  std::vector<SourceTable> sources;
  MergedTable merged;
  std::size_t newLines = 0;
  // Per new line: the record of the nearest line above that stands for one, else of the
  // nearest one below, else the first record: an added line's neighbour, in whose table node it
  // goes.
  std::vector<std::uint32_t> neighbours;
  // The new lines in the order they are planned: each table node's lines in the new table's
  // order, the nodes in the original's order (empty: the new table's order).
  std::vector<std::uint32_t> order;
  std::vector<bool> inPlace;                // per new line: its record keeps its place
  std::vector<bool> recordStays;            // per record: it keeps its place
  std::vector<std::uint32_t> firstInPlace;  // per table node: its first line that keeps its place
  TableIndex originalLines;  // where the original's table file holds each record (its joins)
  std::uint32_t lastInPlace = kNoNewLine;  // the last such line planned so far in its table node
  // The checks of names: the table's naming columns, the values of the added and changed lines
  // with their new lines, and the kept records with theirs, whose values are read only when a
  // line brings one.
  std::vector<std::size_t> namingColumns;
  std::vector<std::pair<std::uint32_t, std::vector<NamedValue>>> namedLines;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> keptRecords;
  bool namesBrought = false;
};

// The new line planned `at`-th.
std::uint32_t LineInOrder(const TablePlanning& planning, std::size_t at) {
  return planning.order.empty() ? static_cast<std::uint32_t>(at) : planning.order[at];
}

PlanItem Item(PlanAction action, std::size_t table, std::size_t source, std::size_t line,
              std::size_t originalLine) {
  PlanItem item;
  item.action = action;
  item.table = static_cast<std::uint16_t>(table);
  item.source = static_cast<std::uint16_t>(source);
  item.line = static_cast<std::uint32_t>(line);
  item.originalLine = static_cast<std::uint32_t>(originalLine);
  return item;
}

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

// "<table> line N, column "<name>": "<cell>" <why>", or "<table> line N <why>".
std::string CellProblemText(const PackRules& rules, std::size_t table, std::size_t line,
                            const CellProblem& problem) {
  std::string text = TableName(rules, table) + " line " + std::to_string(line);
  if (problem.wholeLine) return text + " " + problem.why;
  text += ", column ";
  text += ColumnName(rules.tables[table], problem.column);
  text += ": ";
  text += problem.cell;
  text += " ";
  text += problem.why;
  return text;
}

// A node whose payload grows or shrinks gets a new header, in its own length form where the
// new length fits.
std::string ResizedHeader(const NodeHeader& header, std::int64_t offset, std::int64_t length) {
  return NodeHeaderBytes(header.kind, static_cast<std::size_t>(length),
                         OwnLengthForm(static_cast<std::size_t>(header.payloadStart - offset)));
}

// The parts a table's line ends split a line into.
std::vector<std::uint64_t> PartHashes(std::string_view line, std::string_view lineEnd) {
  std::vector<std::uint64_t> parts;
  for (std::string_view part : SplitAt(line, lineEnd))
    parts.push_back(LineHash(part));
  return parts;
}

// A line whose end is not the header row's: an LF alone in a table whose lines end in CR LF (the
// next line joined to it), or a CR ending a line of a table whose lines end in LF; unless the
// record's own line holds such bytes (a stored text's line breaks). Empty when there is none.
std::string LineEndProblem(std::string_view text, std::string_view lineEnd,
                           std::string_view recordLine) {
  if (lineEnd == "\r\n") {
    for (std::size_t feed = text.find('\n'); feed != std::string_view::npos;
         feed = text.find('\n', feed + 1)) {
      if ((feed == 0 || text[feed - 1] != '\r') &&
          recordLine.find('\n') == std::string_view::npos) {
        return "ends in LF (\\n) where the header row ends in CR LF (\\r\\n), and the line after "
               "it "
               "is read as part of it: save the table with one kind of line end";
      }
    }
  } else if (text.ends_with('\r') && !recordLine.ends_with('\r')) {
    return "ends in CR LF (\\r\\n) where the header row ends in LF (\\n): save the table with one "
           "kind of line end";
  }
  return {};
}

// The bytes as hexadecimal pairs, for a plan item about bytes no column shows.
std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[static_cast<std::uint8_t>(c) >> 4];
    text += kDigits[static_cast<std::uint8_t>(c) & 15];
  }
  return text;
}

// A record node's kind byte and length form, as a plan item shows them: "kind 2, long form".
std::string HeaderText(char kind, std::size_t headerSize) {
  return "kind " + std::to_string(static_cast<std::uint8_t>(kind)) +
         (headerSize == 2 ? ", short form" : ", long form");
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

struct Planner {
  NodeReader& original;
  const PackRules& rules;
  char decimalSeparator;
  std::vector<PackSource>& sources;
  Layout layout;
  PackPlan plan;
  std::vector<PendingEdit> edits;
  std::vector<EditOrigin> origins;
  std::vector<std::string> problems;
  std::size_t problemsLeftOut = 0;
  std::vector<int> utf8Tables;  // per table: -1 not yet known, else whether a line is in UTF-8
  RowBuilder row;
  bool withItems = true;

  // An item of its own record, of the given name and line.
  void AddItem(PlanItem item, std::string_view line, std::string_view name) {
    if (!withItems) return;
    item.record = AddRecord(line, name);
    plan.items.push_back(item);
  }

  std::uint32_t AddRecord(std::string_view line, std::string_view name) {
    plan.records.push_back({std::string(name), std::string(line)});
    return static_cast<std::uint32_t>(plan.records.size() - 1);
  }

  // The line of a record of the original, as the unpacker writes it.
  std::string OriginalLine(std::size_t table, std::size_t record) {
    return std::string(RecordLine(original, rules, layout, Spot(table, record), row));
  }

  void Problem(std::string text) {
    if (problems.size() < kMostProblems) {
      problems.push_back(std::move(text));
    } else {
      ++problemsLeftOut;
    }
  }

  // Edits asked for by one line or node share its origin.
  std::uint32_t Origin(const EditOrigin& origin) {
    origins.push_back(origin);
    return static_cast<std::uint32_t>(origins.size() - 1);
  }

  std::uint32_t LineOrigin(const TablePlanning& planning, std::size_t source, std::size_t line) {
    EditOrigin origin;
    origin.table = static_cast<std::uint16_t>(planning.table);
    origin.source = static_cast<std::uint16_t>(source);
    origin.number = static_cast<std::int64_t>(FileLineOf(*planning.sources[source].index, line));
    return Origin(origin);
  }

  // An edit, with the bytes it inserts (if any), in its table node, in its rank at its offset.
  void AddEdit(ByteEdit edit, std::string inserted, std::size_t tableNode, int rank,
               std::uint32_t origin) {
    if (!inserted.empty()) {
      edit.inserted = static_cast<std::uint32_t>(plan.insertions.size());
      plan.insertions.push_back(std::move(inserted));
    }
    edits.push_back(
        {edit, static_cast<std::uint32_t>(tableNode), origin, static_cast<std::uint8_t>(rank)});
  }

  // A moved record copied to `anchor`: joined to the edit before it where that copies to the same
  // place, so that a sorted table's moves take few edits.
  template <typename MakeOrigin>
  void AddCopy(const Anchor& anchor, const RecordSpot& spot, MakeOrigin origin) {
    const int rank = anchor.after ? 0 : 2;
    PendingEdit* last = edits.empty() ? nullptr : &edits.back();
    const bool joins = last != nullptr && last->edit.at == anchor.at && last->rank == rank &&
                       last->tableNode == anchor.tableNode && last->edit.removed == 0 &&
                       last->edit.copies > 0 &&
                       last->edit.firstCopy + last->edit.copies == plan.copies.size();
    if (!joins) {
      ByteEdit edit;
      edit.at = anchor.at;
      edit.firstCopy = static_cast<std::uint32_t>(plan.copies.size());
      AddEdit(edit, {}, anchor.tableNode, rank, origin());
      last = &edits.back();
    }
    plan.copies.push_back({spot.offset, spot.size});
    ++last->edit.copies;
    last->edit.copiedSize += spot.size;
  }

  std::string OriginText(const EditOrigin& origin) const {
    switch (origin.kind) {
      case EditOrigin::Kind::Line:
        return (Several() ? sources[origin.source].path + ": " : std::string()) +
               TableName(rules, origin.table) + " line " + std::to_string(origin.number);
      case EditOrigin::Kind::Record:
        return TableName(rules, origin.table) + ": the record unpacked as line " +
               std::to_string(origin.number) + (origin.removed ? ", removed" : ", moved");
      case EditOrigin::Kind::Node:
        break;
    }
    return std::string(origin.database ? "the database node @" : "the table @") +
           std::to_string(origin.number);
  }

  const RecordSpot& Spot(std::size_t table, std::size_t record) const {
    return layout.tables[table].spots[record];
  }

  bool Several() const { return sources.size() > 1; }

  // The problem of an edit that touches bytes read off their stored lengths.
  std::string ReadOffProblem(const std::string& source, const ReadOffLengths& held) const {
    const std::string why = rules.walk->moveToNodeEnds
                                ? "changes a record that is read off its stored lengths"
                                : "changes the database after a record that is read off its "
                                  "stored lengths, and everything after it is read so";
    return source + ": " + why + " (the field @" + std::to_string(held.field) +
           " is not read as its length says; nodedump shows it); keep it as it is";
  }

  bool TableHasUtf8(std::size_t table) {
    if (utf8Tables[table] < 0) {
      utf8Tables[table] = TableHasUtf8Lines(original, rules, decimalSeparator, table) ? 1 : 0;
    }
    return utf8Tables[table] == 1;
  }

  // "<table> line N" of a source's line, the source named first when there are several.
  std::string Where(const TablePlanning& planning, std::size_t source, std::size_t line) const {
    const SourceTable& from = planning.sources[source];
    std::string where = Several() ? from.source->path + ": " : std::string();
    return where + TableName(rules, planning.table) + " line " +
           std::to_string(FileLineOf(*from.index, line));
  }

  std::string_view ReadSourceLine(SourceTable& from, std::size_t line);
  StoredRecord ReadSourceRecord(const TablePlanning& planning, std::size_t source,
                                std::size_t line);
  void RefuseBlankLinesAtTheEnd(TablePlanning& planning, SourceTable& from);
  void JoinLinesOfRecords(std::size_t table, SourceTable& from);
  void PairTable(std::size_t table, SourceTable& from);
  void DescribeLine(TablePlanning& planning, SourceTable& from, std::size_t line,
                    RecordChange& change);
  void DescribeSource(TablePlanning& planning, SourceTable& from,
                      std::vector<RecordChange>& changes, std::vector<AddedLine>& added);
  bool SameUnitValue(std::size_t table, std::uint32_t record, const ChangeUnit& unit,
                     const std::string& value, const std::string& winner);
  void MergeSources(TablePlanning& planning);
  NewLine NewLineAt(const TablePlanning& planning, std::size_t index) const;
  void PlaceNewLines(TablePlanning& planning);
  Anchor AnchorOf(const TablePlanning& planning, std::size_t newLine) const;
  std::size_t NeighbourTemplate(const TablePlanning& planning, std::size_t newLine) const;
  bool Rebuild(TablePlanning& planning, const StoredRecord& base, std::string_view text,
               bool neighbour, std::size_t source, std::size_t line, RebuiltRecord& rebuilt);
  void PlanMove(TablePlanning& planning, std::size_t newLine, const NewLine& line,
                std::string inserted);
  void PlanKept(TablePlanning& planning, std::size_t newLine, const NewLine& line);
  bool MergedBytes(TablePlanning& planning, const NewLine& line, const MergedRecord& merged,
                   const StoredRecord& record, std::string& bytes, std::string& expected);
  void NoteChangedUnits(const TablePlanning& planning, const MergedRecord& merged,
                        const StoredRecord& record);
  template <typename ShownByCells>
  void NoteChangedUnit(const TablePlanning& planning, const MergedRecord& merged, std::size_t at,
                       std::size_t source, const StoredRecord& record,
                       const std::vector<std::string>& cells, ShownByCells shownByCells);
  void PlanChanged(TablePlanning& planning, std::size_t newLine, const NewLine& line);
  void PlanAdded(TablePlanning& planning, std::size_t newLine, const NewLine& line);
  void PlanRemovals(TablePlanning& planning);
  void NoteConflicts(TablePlanning& planning);
  void NoteNamedLine(TablePlanning& planning, std::size_t newLine, std::size_t source,
                     std::size_t line, std::string_view text,
                     std::optional<std::string_view> before);
  void NoteDuplicateNames(TablePlanning& planning);
  void PlanTable(std::size_t table, std::vector<std::vector<TableIndex>>& indexes);
  void PlanNodeHeaders();
  void CheckReadOffLengths();
  void NoteChangedRanges();
  PackPlan Finish();
};

// A failure to read a table again names the table.
std::string_view Planner::ReadSourceLine(SourceTable& from, std::size_t line) {
  try {
    return ReadLine(from.lines, line);
  } catch (const IoFailure& failure) {
    throw PackFailure{
        {"cannot read " + from.source->path + ": " + FailureMessage(failure.errorNumber)}};
  }
}

// The record a database source's line stands for, as that source stores it.
StoredRecord Planner::ReadSourceRecord(const TablePlanning& planning, std::size_t source,
                                       std::size_t line) {
  PackSource& from = *planning.sources[source].source;
  const RecordSpot& spot = from.layout.tables[planning.table].spots[line];
  return ReadStoredRecord(from.reader, rules, from.layout, spot, decimalSeparator);
}

// Lines that a stored text's line breaks split are joined again where they are exactly the
// parts of a record's line, so that an unedited record holding line breaks is seen whole. A
// database source's lines are its records already.
// A table that ends in blank lines (empty rows a spreadsheet saved) is refused for that, once,
// rather than line by line, where no record of the original reads as a blank line (a record
// without fields does); its blank lines are left out of the plan.
void Planner::RefuseBlankLinesAtTheEnd(TablePlanning& planning, SourceTable& from) {
  if (from.source->database) return;  // its lines are its records'
  if (std::ranges::find(layout.tables[planning.table].hashes, LineHash("")) !=
      layout.tables[planning.table].hashes.end()) {
    return;
  }
  TableIndex& index = *from.index;
  std::size_t lines = LineCount(index);
  while (lines > 0 && LineStart(index, lines - 1) == index.ends[lines - 1])
    --lines;
  const std::size_t blank = LineCount(index) - lines;
  if (blank == 0) return;
  Problem(Where(planning, from.number, lines) + ": the table ends in " +
          Plural(blank, "blank line") + "; delete them");
  index.ends.resize(lines);
  index.hashes.resize(lines);
}

void Planner::JoinLinesOfRecords(std::size_t table, SourceTable& from) {
  if (from.source->database) return;
  const TableRecords& records = layout.tables[table];
  std::vector<std::vector<std::uint64_t>> parts;
  std::vector<std::uint64_t> wholes;
  for (std::uint32_t record : records.multiLine) {
    const std::string_view line = RecordLine(original, rules, layout, records.spots[record], row);
    parts.push_back(PartHashes(line, from.index->lineEnd));
    wholes.push_back(records.hashes[record]);
  }
  JoinSplitLines(*from.index, parts, wholes);
}

void Planner::PairTable(std::size_t table, SourceTable& from) {
  const TableRecords& records = layout.tables[table];
  PairingTexts texts;
  texts.editedLine = [&](std::size_t line) { return ReadSourceLine(from, line); };
  texts.recordLine = [&](std::size_t record) {
    return RecordLine(original, rules, layout, records.spots[record], row);
  };
  if (from.source->workbook && !from.source->sheets.shownLines[table].empty()) {
    // A workbook's line that holds a float exactly where the table's decimals would not show it
    // pairs by the line the table shows; DescribeLine asks whether its record still holds it.
    const std::vector<std::uint64_t> hashes =
        PairingHashes(from.source->sheets.shownLines[table], from.index->hashes);
    from.pairing = PairLines(records.hashes, hashes, texts);
    return;
  }
  from.pairing = PairLines(records.hashes, from.index->hashes, texts);
}

// What a source's line changes in the record it stands for: the cells in which it differs from
// the record's line; for a database source, also the fields and the header whose bytes differ,
// or the record as a whole when it stores other fields.
void Planner::DescribeLine(TablePlanning& planning, SourceTable& from, std::size_t line,
                           RecordChange& change) {
  const RecordSpot& spot = Spot(planning.table, change.record);
  if (!from.source->database) {
    // A line paired by the floats it shows (PairingHashes) is unchanged where those still show
    // the stored values.
    const bool pairedByShownFloats =
        from.source->workbook && ShowsFloatsExactly(from.source->sheets, planning.table, line);
    if (from.pairing.equal[line] && !pairedByShownFloats) return;
    const StoredRecord record = ReadStoredRecord(original, rules, layout, spot, decimalSeparator);
    AddCellChanges(record, ReadSourceLine(from, line), decimalSeparator, change);
    return;
  }
  const RecordSpot& sourceSpot = from.source->layout.tables[planning.table].spots[line];
  if (ReadRecordBytes(original, spot) == ReadRecordBytes(from.source->reader, sourceSpot)) return;
  const StoredRecord record = ReadStoredRecord(original, rules, layout, spot, decimalSeparator);
  const StoredRecord stored = ReadSourceRecord(planning, from.number, line);
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
  AddCellChanges(record, StoredLine(stored), decimalSeparator, change);
  std::vector<std::size_t> differing;
  for (std::size_t field = 0; field < record.fields.size(); ++field) {
    if (FieldNode(record, field) != FieldNode(stored, field)) differing.push_back(field);
  }
  for (std::size_t field : FieldsWithHiddenChanges(record, stored, differing, decimalSeparator))
    change.units.push_back({{UnitKind::Field, field}, std::string(FieldNode(stored, field))});
}

// Every change a source makes to the table: records changed and removed, lines added.
void Planner::DescribeSource(TablePlanning& planning, SourceTable& from,
                             std::vector<RecordChange>& changes, std::vector<AddedLine>& added) {
  const TablePairing& pairing = from.pairing;
  std::uint32_t after = kNoPrecedingRecord;
  for (std::size_t line = 0; line < pairing.recordOfLine.size(); ++line) {
    const std::uint32_t record = pairing.recordOfLine[line];
    if (record == kNoRecord) {
      const std::uint64_t bytesHash =
          from.source->database  // never 0, which a line of tables has
              ? LineHash(ReadSourceRecord(planning, from.number, line).bytes) | 1
              : 0;
      added.push_back({from.number, line, from.index->hashes[line], after, bytesHash});
      continue;
    }
    after = record;
    RecordChange change;
    change.source = from.number;
    change.record = record;
    change.sourceLine = line;
    DescribeLine(planning, from, line, change);
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
bool Planner::SameUnitValue(std::size_t table, std::uint32_t record, const ChangeUnit& unit,
                            const std::string& value, const std::string& winner) {
  if (value == winner) return true;
  if (unit.kind != UnitKind::Cell) return false;
  const StoredRecord stored =
      ReadStoredRecord(original, rules, layout, Spot(table, record), decimalSeparator);
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

void Planner::MergeSources(TablePlanning& planning) {
  std::vector<RecordChange> changes;
  std::vector<AddedLine> added;
  for (SourceTable& from : planning.sources)
    DescribeSource(planning, from, changes, added);
  std::vector<SourceChanges>& counts = plan.sourceChanges[planning.table];
  counts.assign(sources.size(), {});
  for (const RecordChange& change : changes) {
    ++(change.removed ? counts[change.source].removed : counts[change.source].changed);
  }
  for (const AddedLine& line : added)
    ++counts[line.source].added;
  planning.merged = MergeTable(
      layout.tables[planning.table].spots.size(), std::move(changes), std::move(added),
      [&](std::uint32_t record, const ChangeUnit& unit, const std::string& a,
          const std::string& b) { return SameUnitValue(planning.table, record, unit, a, b); },
      Several());
}

// A line of the new table: one source's lines in their order, several sources' records in the
// original's order with their added lines among them.
NewLine Planner::NewLineAt(const TablePlanning& planning, std::size_t index) const {
  NewLine newLine;
  if (!Several()) {
    const TablePairing& pairing = planning.sources.front().pairing;
    newLine.source = 0;
    newLine.line = static_cast<std::uint32_t>(index);
    newLine.record = pairing.recordOfLine[index];
    newLine.isAdded = newLine.record == kNoRecord;
    return newLine;
  }
  const MergedTable& merged = planning.merged;
  const MergedLine& mergedLine = merged.lines[index];
  newLine.isAdded = mergedLine.added;
  if (newLine.isAdded) {
    const AddedLine& added = merged.added[mergedLine.index];
    newLine.added = mergedLine.index;
    newLine.source = static_cast<std::uint16_t>(added.source);
    newLine.line = static_cast<std::uint32_t>(added.line);
    return newLine;
  }
  newLine.record = mergedLine.index;
  const MergedRecord* verdict = VerdictOf(merged, newLine.record);
  if (verdict != nullptr && !verdict->unitSources.empty()) {
    // Named for the last source that changed it.
    newLine.source = static_cast<std::uint16_t>(*std::ranges::max_element(verdict->unitSources));
    newLine.line = static_cast<std::uint32_t>(SourceLineOf(*verdict, newLine.source));
  }
  return newLine;
}

// Each new line's neighbour record (TablePlanning::neighbours) from the records of the lines.
std::vector<std::uint32_t> NeighbourRecords(std::span<const std::uint32_t> records) {
  std::vector<std::uint32_t> neighbours(records.size(), kNoRecord);
  std::uint32_t above = kNoRecord;
  for (std::size_t line = 0; line < records.size(); ++line) {
    if (records[line] != kNoRecord) above = records[line];
    neighbours[line] = above;
  }
  std::uint32_t below = 0;
  for (std::size_t line = records.size(); line-- > 0;) {
    if (records[line] != kNoRecord) below = records[line];
    if (neighbours[line] == kNoRecord) neighbours[line] = below;
  }
  return neighbours;
}

// A line stands for its record, which stays in its table node (and so in its database node):
// the new lines are planned node by node, each added line in its neighbour's node, and which
// records keep their place is the longest run of them in increasing order in that order.
void Planner::PlaceNewLines(TablePlanning& planning) {
  planning.newLines = Several() ? planning.merged.lines.size()
                                : planning.sources.front().pairing.recordOfLine.size();
  std::vector<std::uint32_t> records(planning.newLines);
  for (std::uint32_t line = 0; line < planning.newLines; ++line)
    records[line] = NewLineAt(planning, line).record;
  const std::vector<RecordSpot>& spots = layout.tables[planning.table].spots;
  planning.neighbours = NeighbourRecords(records);
  std::vector<std::uint32_t> nodes(planning.newLines, 0);
  if (!spots.empty()) {
    for (std::uint32_t line = 0; line < planning.newLines; ++line)
      nodes[line] = spots[planning.neighbours[line]].tableNode;
  }
  if (std::ranges::is_sorted(nodes)) {
    planning.inPlace =
        Several() ? LongestIncreasingRun(records) : planning.sources.front().pairing.inPlace;
  } else {
    planning.order.resize(planning.newLines);
    for (std::uint32_t line = 0; line < planning.newLines; ++line)
      planning.order[line] = line;
    std::ranges::stable_sort(planning.order, {}, [&](std::uint32_t line) { return nodes[line]; });
    std::vector<std::uint32_t> ordered(planning.newLines);
    for (std::size_t at = 0; at < planning.newLines; ++at)
      ordered[at] = records[planning.order[at]];
    const std::vector<bool> orderedInPlace = LongestIncreasingRun(ordered);
    planning.inPlace.assign(planning.newLines, false);
    for (std::size_t at = 0; at < planning.newLines; ++at)
      planning.inPlace[planning.order[at]] = orderedInPlace[at];
  }
  planning.recordStays.assign(spots.size(), false);
  planning.firstInPlace.assign(layout.tableNodes.size(), kNoNewLine);
  std::size_t staying = 0;
  for (std::size_t at = 0; at < planning.newLines; ++at) {
    const std::uint32_t line = LineInOrder(planning, at);
    if (!planning.inPlace[line]) continue;
    planning.recordStays[records[line]] = true;
    if (planning.firstInPlace[nodes[line]] == kNoNewLine) planning.firstInPlace[nodes[line]] = line;
    ++staying;
  }
  // Room for every record that may move, and its plan item, at once.
  const std::size_t moving = planning.newLines - staying;
  plan.copies.reserve(plan.copies.size() + moving);
  if (withItems) plan.items.reserve(plan.items.size() + moving);
  plan.lineHashes[planning.table].reserve(planning.newLines);
}

// Where a moved or added line goes in its table node: after the record of the nearest line
// above in the node that keeps its place, else before the record of the node's first one, else
// where the table's records began (no line stands for a record). Lines are planned in order, so
// the nearest one above is the last one planned.
Anchor Planner::AnchorOf(const TablePlanning& planning, std::size_t newLine) const {
  if (planning.lastInPlace != kNoNewLine) {
    const RecordSpot& spot = Spot(planning.table, NewLineAt(planning, planning.lastInPlace).record);
    return {RecordEnd(spot), spot.tableNode, true};
  }
  const std::size_t node = Spot(planning.table, planning.neighbours[newLine]).tableNode;
  const std::uint32_t below = planning.firstInPlace[node];
  const RecordSpot& spot =
      Spot(planning.table, below != kNoNewLine ? NewLineAt(planning, below).record : 0);
  return {spot.offset, spot.tableNode, false};
}

// The record a line that resembles none is built on: its neighbour.
std::size_t Planner::NeighbourTemplate(const TablePlanning& planning, std::size_t newLine) const {
  return planning.neighbours[newLine];
}

// Rebuilds `base` with the cells of `text`, which stands for the source's line; false, with
// its problems, when it cannot be stored.
bool Planner::Rebuild(TablePlanning& planning, const StoredRecord& base, std::string_view text,
                      bool neighbour, std::size_t source, std::size_t line,
                      RebuiltRecord& rebuilt) {
  const std::size_t fileLine = FileLineOf(*planning.sources[source].index, line);
  const std::string lineEndProblem =
      LineEndProblem(text, planning.sources[source].index->lineEnd, StoredLine(base));
  if (!lineEndProblem.empty()) {
    Problem(Where(planning, source, line) + ": " + lineEndProblem);
    return false;
  }
  if (LooksLikeUtf8(text) && !TableHasUtf8(planning.table)) {
    Problem(Where(planning, source, line) +
            ": the line is in UTF-8, but the table's text is in the game's single-byte "
            "code page: save the table in the character set it was opened with (for "
            "example Cyrillic (Windows-1251)), not in UTF-8");
    return false;
  }
  std::vector<CellProblem> cellProblems;
  if (!RebuildRecord(base, text, neighbour, decimalSeparator, rebuilt, cellProblems)) {
    const std::string prefix = Several() ? sources[source].path + ": " : std::string();
    for (const CellProblem& problem : cellProblems)
      Problem(prefix + CellProblemText(rules, planning.table, fileLine, problem));
    return false;
  }
  for (const RoundedCell& cell : rebuilt.rounded)
    plan.rounded.push_back({planning.table, fileLine, cell});
  for (const SpacedListCell& cell : rebuilt.spacedLists)
    plan.spacedLists.push_back({planning.table, fileLine, cell});
  return true;
}

// The record of the new line, or its new bytes, put at the line's place when it does not keep
// its own.
void Planner::PlanMove(TablePlanning& planning, std::size_t newLine, const NewLine& line,
                       std::string inserted) {
  const Anchor anchor = AnchorOf(planning, newLine);
  const std::size_t source = line.source == kNoSource ? 0 : line.source;
  const auto origin = [&] { return LineOrigin(planning, source, line.line); };
  if (inserted.empty()) {
    AddCopy(anchor, Spot(planning.table, line.record), origin);
  } else {
    ByteEdit edit;
    edit.at = anchor.at;
    AddEdit(edit, std::move(inserted), anchor.tableNode, anchor.after ? 0 : 2, origin());
  }
  const std::size_t fileLine = FileLineOf(*planning.sources[source].index, line.line);
  if (withItems) {
    AddItem(Item(PlanAction::Moved, planning.table, source, fileLine,
                 FileLineOf(planning.originalLines, line.record)),
            {}, RecordName(OriginalLine(planning.table, line.record)));
  }
}

void Planner::PlanKept(TablePlanning& planning, std::size_t newLine, const NewLine& line) {
  if (!planning.namingColumns.empty())
    planning.keptRecords.emplace_back(static_cast<std::uint32_t>(newLine), line.record);
  TableChanges& changes = plan.changes[planning.table];
  ++changes.kept;
  plan.lineHashes[planning.table].push_back(layout.tables[planning.table].hashes[line.record]);
  if (planning.inPlace[newLine]) return;
  ++changes.moved;
  PlanMove(planning, newLine, line, {});
}

// The bytes of a record as the sources' winning changes make it, and the line it must read as;
// false, with the problems, when they cannot be stored. A database source's record as a whole
// comes as it is; otherwise the fields and header that database sources changed come as they
// store them, and the cells as the sources give them are stored on those.
bool Planner::MergedBytes(TablePlanning& planning, const NewLine& line, const MergedRecord& merged,
                          const StoredRecord& record, std::string& bytes, std::string& expected) {
  StoredRecord base = record;
  std::vector<std::string> cells = CellsOf(StoredLine(record));
  std::string text;
  for (std::size_t at = 0; at < merged.units.size(); ++at) {
    const UnitChange& unit = merged.units[at];
    const std::size_t source = merged.unitSources[at];
    if (unit.unit.kind == UnitKind::WholeRecord) {
      if (!sources[source].database) {
        text = unit.value;
        break;
      }
      bytes = unit.value;
      expected = ReadSourceLine(planning.sources[source], SourceLineOf(merged, source));
      return true;
    }
    if (unit.unit.kind == UnitKind::Cell && unit.unit.index < cells.size()) {
      cells[unit.unit.index] = unit.value;
    }
  }
  for (std::size_t source = 0; source < sources.size() && text.empty(); ++source) {
    std::vector<std::size_t> fields;
    bool header = false;
    for (std::size_t at = 0; at < merged.units.size(); ++at) {
      if (merged.unitSources[at] != source) continue;
      if (merged.units[at].unit.kind == UnitKind::Field)
        fields.push_back(merged.units[at].unit.index);
      header = header || merged.units[at].unit.kind == UnitKind::RecordHeader;
    }
    if (fields.empty() && !header) continue;
    const StoredRecord stored = ReadSourceRecord(planning, source, SourceLineOf(merged, source));
    base = WithPartsOf(base, stored, fields, header);
  }
  if (text.empty()) text = JoinedCells(cells);
  std::vector<std::string>().swap(cells);  // the line holds them now
  RebuiltRecord rebuilt;
  if (!Rebuild(planning, base, text, false, line.source, line.line, rebuilt)) return false;
  bytes = std::move(rebuilt.bytes);
  expected = std::move(rebuilt.line);
  return true;
}

// Plan items for the units of a record that the sources changed.
void Planner::NoteChangedUnits(const TablePlanning& planning, const MergedRecord& merged,
                               const StoredRecord& record) {
  const std::vector<std::string> cells = CellsOf(StoredLine(record));
  const std::vector<std::vector<std::size_t>> fieldColumns = ColumnsOfFields(record);
  // A field's bytes are an item of their own only where no cell of the same source shows them.
  auto shownByCells = [&](std::size_t field, std::size_t source) {
    for (std::size_t at = 0; at < merged.units.size(); ++at) {
      const ChangeUnit& unit = merged.units[at].unit;
      if (std::ranges::find(merged.alikeSources[at], source) != merged.alikeSources[at].end() &&
          unit.kind == UnitKind::Cell &&
          std::ranges::find(fieldColumns[field], unit.index) != fieldColumns[field].end()) {
        return true;
      }
    }
    return false;
  };
  // A cell that shows the stored value otherwise ("1.000" for 1) is no unit of a change
  // (AddCellChanges).
  for (std::size_t at = 0; at < merged.units.size(); ++at) {
    for (std::size_t source : merged.alikeSources[at])
      NoteChangedUnit(planning, merged, at, source, record, cells, shownByCells);
  }
}

// One item of a changed unit of a record, for one of the sources that changed it so.
template <typename ShownByCells>
void Planner::NoteChangedUnit(const TablePlanning& planning, const MergedRecord& merged,
                              std::size_t at, std::size_t source, const StoredRecord& record,
                              const std::vector<std::string>& cells, ShownByCells shownByCells) {
  const UnitChange& unit = merged.units[at];
  if (unit.unit.kind == UnitKind::Field && shownByCells(unit.unit.index, source)) return;
  const std::size_t line = SourceLineOf(merged, source);
  PlanItem item = Item(PlanAction::Changed, planning.table, source,
                       FileLineOf(*planning.sources[source].index, line),
                       FileLineOf(planning.originalLines, merged.record));
  ChangedCell cell;
  cell.newText = unit.value;
  switch (unit.unit.kind) {
    case UnitKind::Cell:
      cell.column = unit.unit.index;
      if (unit.unit.index < cells.size()) cell.oldText = cells[unit.unit.index];
      break;
    case UnitKind::Field: {
      const StoredField& field = record.fields[unit.unit.index];
      cell.columnText = "(field code " + std::to_string(field.code) + ")";
      cell.oldText = HexBytes(std::string_view(record.bytes)
                                  .substr(field.offset, field.headerSize + field.payloadSize));
      cell.newText = HexBytes(unit.value);
      break;
    }
    case UnitKind::RecordHeader:
      cell.columnText = "(the record's header)";
      cell.oldText = HeaderText(record.bytes.front(), record.headerSize);
      cell.newText = HeaderText(unit.value[0], static_cast<std::size_t>(unit.value[1]));
      break;
    case UnitKind::WholeRecord:
      // A database source's record in hexadecimal, the original's with it; a line as text.
      cell.columnText = "(the record)";
      cell.oldText = sources[source].database ? HexBytes(record.bytes) : StoredLine(record);
      if (sources[source].database) cell.newText = HexBytes(unit.value);
      break;
  }
  if (!withItems) return;
  item.cell = static_cast<std::uint32_t>(plan.changedCells.size());
  item.record = static_cast<std::uint32_t>(plan.records.size() - 1);  // PlanChanged's
  plan.changedCells.push_back(std::move(cell));
  plan.items.push_back(item);
}

void Planner::PlanChanged(TablePlanning& planning, std::size_t newLine, const NewLine& line) {
  const MergedRecord& merged = *VerdictOf(planning.merged, line.record);
  const RecordSpot& spot = Spot(planning.table, line.record);
  if (const ReadOffLengths* held = ReadOffWithin(layout, spot.offset, RecordEnd(spot))) {
    Problem(ReadOffProblem(Where(planning, line.source, line.line), *held));
    return;
  }
  const StoredRecord record = ReadStoredRecord(original, rules, layout, spot, decimalSeparator);
  std::string bytes;
  std::string expected;
  if (!MergedBytes(planning, line, merged, record, bytes, expected)) return;
  if (bytes == record.bytes) return PlanKept(planning, newLine, line);
  TableChanges& changes = plan.changes[planning.table];
  ++changes.changed;
  plan.lineHashes[planning.table].push_back(LineHash(expected));
  ByteEdit edit;
  if (planning.inPlace[newLine]) {
    edit.at = spot.offset;
    edit.removed = spot.size;
    AddEdit(edit, std::move(bytes), spot.tableNode, 2,
            LineOrigin(planning, line.source, line.line));
  } else {
    ++changes.changedMoved;
    PlanMove(planning, newLine, line, std::move(bytes));
  }
  if (withItems) AddRecord(expected, RecordName(StoredLine(record)));
  NoteNamedLine(planning, newLine, line.source, line.line, expected, StoredLine(record));
  NoteChangedUnits(planning, merged, record);
}

// An added line: a database source's record as it stores it; a line of tables built on the
// record it resembles most, or its neighbour's.
void Planner::PlanAdded(TablePlanning& planning, std::size_t newLine, const NewLine& line) {
  SourceTable& from = planning.sources[line.source];
  const std::string where = Where(planning, line.source, line.line);
  const std::size_t fileLine = FileLineOf(*from.index, line.line);
  if (layout.tables[planning.table].spots.empty()) {
    Problem(where + ": the original has no record in this table to build a new one on");
    return;
  }
  std::string bytes;
  std::string expected;
  std::size_t base = kNone;
  if (from.source->database) {
    const RecordSpot& spot = from.source->layout.tables[planning.table].spots[line.line];
    if (const ReadOffLengths* held =
            ReadOffWithin(from.source->layout, spot.offset, RecordEnd(spot))) {
      Problem(where + ": a record that its database reads off its stored lengths (the field @" +
              std::to_string(held->field) + "); it cannot be added elsewhere");
      return;
    }
    bytes = ReadSourceRecord(planning, line.source, line.line).bytes;
    expected = ReadSourceLine(from, line.line);
  } else {
    const std::uint32_t resembling = from.pairing.templateOfLine[line.line];
    const bool neighbour = resembling == kNoRecord;
    base = neighbour ? NeighbourTemplate(planning, newLine) : resembling;
    const RecordSpot& spot = Spot(planning.table, base);
    if (const ReadOffLengths* held = ReadOffWithin(layout, spot.offset, RecordEnd(spot))) {
      Problem(ReadOffProblem(where, *held));
      return;
    }
    const StoredRecord stored = ReadStoredRecord(original, rules, layout, spot, decimalSeparator);
    RebuiltRecord rebuilt;
    // The line stays in the reader's window, which nothing reads again before the rebuild.
    const std::string_view text = ReadSourceLine(from, line.line);
    if (!Rebuild(planning, stored, text, neighbour, line.source, line.line, rebuilt)) return;
    bytes = std::move(rebuilt.bytes);
    expected = std::move(rebuilt.line);
  }
  ++plan.changes[planning.table].added;
  plan.lineHashes[planning.table].push_back(LineHash(expected));
  const Anchor anchor = AnchorOf(planning, newLine);
  ByteEdit edit;
  edit.at = anchor.at;
  AddEdit(edit, std::move(bytes), anchor.tableNode, anchor.after ? 0 : 2,
          LineOrigin(planning, line.source, line.line));
  NoteNamedLine(planning, newLine, line.source, line.line, expected, std::nullopt);
  AddItem(Item(PlanAction::Added, planning.table, line.source, fileLine,
               base == kNone ? 0 : FileLineOf(planning.originalLines, base)),
          expected, RecordName(expected));
}

// Records removed, and records that moved, leave their places.
// Records that leave their places one after another leave as one stretch of bytes.
void Planner::PlanRemovals(TablePlanning& planning) {
  const std::size_t firstEdit = edits.size();
  for (std::uint32_t record = 0; record < planning.recordStays.size(); ++record) {
    if (planning.recordStays[record]) continue;
    const MergedRecord* verdict = VerdictOf(planning.merged, record);
    const bool removed = verdict != nullptr && verdict->removed;
    const RecordSpot& spot = Spot(planning.table, record);
    PendingEdit* last = edits.size() > firstEdit ? &edits.back() : nullptr;
    if (last != nullptr && last->tableNode == spot.tableNode &&
        last->edit.at + last->edit.removed == spot.offset) {
      last->edit.removed += spot.size;
    } else {
      EditOrigin origin;
      origin.kind = EditOrigin::Kind::Record;
      origin.table = static_cast<std::uint16_t>(planning.table);
      origin.removed = removed;
      origin.number = static_cast<std::int64_t>(FileLineOf(planning.originalLines, record));
      ByteEdit edit;
      edit.at = spot.offset;
      edit.removed = spot.size;
      AddEdit(edit, {}, spot.tableNode, 2, Origin(origin));
    }
    if (!removed) continue;
    ++plan.changes[planning.table].removed;
    if (!withItems) continue;
    const std::string text = OriginalLine(planning.table, record);
    AddItem(Item(PlanAction::Removed, planning.table, verdict->removedBy, 0,
                 FileLineOf(planning.originalLines, record)),
            text, RecordName(text));
  }
}

// The conflicts of the table's sources, with what they are about.
void Planner::NoteConflicts(TablePlanning& planning) {
  for (const Conflict& conflict : planning.merged.conflicts) {
    TableConflict noted{
        planning.table, FileLineOf(planning.originalLines, conflict.record), 0, {}, {}, conflict};
    if (conflict.added) {
      const AddedLine& line = planning.merged.added[conflict.record];
      noted.originalLine = 0;
      noted.line = FileLineOf(*planning.sources[line.source].index, line.line);
      noted.what = "the record";
      noted.name = RecordName(ReadSourceLine(planning.sources[line.source], line.line));
      plan.conflicts.push_back(std::move(noted));
      continue;
    }
    noted.name = RecordName(OriginalLine(planning.table, conflict.record));
    switch (conflict.unit.kind) {
      case UnitKind::Cell:
        noted.what = ColumnName(rules.tables[planning.table], conflict.unit.index);
        break;
      case UnitKind::Field: {
        const RecordSpot& spot = Spot(planning.table, conflict.record);
        const StoredRecord record =
            ReadStoredRecord(original, rules, layout, spot, decimalSeparator);
        noted.what = "field code " + std::to_string(record.fields[conflict.unit.index].code);
        // Shown as a changed item shows them.
        for (std::string& value : noted.conflict.values)
          value = HexBytes(value);
        break;
      }
      case UnitKind::RecordHeader:
        noted.what = "the record's header";
        for (std::string& value : noted.conflict.values)
          value = HeaderText(value[0], static_cast<std::size_t>(value[1]));
        break;
      case UnitKind::WholeRecord:
        noted.what = "the record";
        break;
    }
    plan.conflicts.push_back(std::move(noted));
  }
}

void Planner::PlanTable(std::size_t table, std::vector<std::vector<TableIndex>>& indexes) {
  TablePlanning planning;
  planning.table = table;
  for (std::uint32_t record : layout.tables[table].multiLine) {
    NoteFileLines(planning.originalLines, record,
                  RecordLine(original, rules, layout, Spot(table, record), row));
  }
  for (std::size_t source = 0; source < sources.size(); ++source) {
    TableIndex& index = indexes[source][table];
    planning.sources.push_back({source,
                                &sources[source],
                                &index,
                                {},
                                ReaderOfLines(sources[source].tables[table], index)});
  }
  for (SourceTable& from : planning.sources) {
    RefuseBlankLinesAtTheEnd(planning, from);
    JoinLinesOfRecords(table, from);
    PairTable(table, from);
  }
  MergeSources(planning);
  PlaceNewLines(planning);
  planning.namingColumns = NamingColumns(rules.tables[table]);
  std::size_t node = kNone;
  for (std::size_t at = 0; at < planning.newLines; ++at) {
    const std::uint32_t index = LineInOrder(planning, at);
    const NewLine line = NewLineAt(planning, index);
    if (!layout.tables[table].spots.empty()) {
      const std::size_t lineNode = Spot(table, planning.neighbours[index]).tableNode;
      if (lineNode != node) planning.lastInPlace = kNoNewLine;  // anchors stay in their node
      node = lineNode;
    }
    if (line.isAdded) {
      PlanAdded(planning, index, line);
    } else if (const MergedRecord* verdict = VerdictOf(planning.merged, line.record);
               verdict == nullptr || verdict->units.empty()) {
      PlanKept(planning, index, line);
    } else {
      PlanChanged(planning, index, line);
    }
    if (planning.inPlace[index]) planning.lastInPlace = index;
  }
  PlanRemovals(planning);
  NoteConflicts(planning);
  NoteDuplicateNames(planning);
  for (SourceTable& from : planning.sources)
    *from.index = TableIndex{};  // its lines are planned: let them go
}

// The naming cells of a line of the new table (`text`), and which of them it brings: all of an
// added line's, a changed record's where they differ from the record's line `before`.
void Planner::NoteNamedLine(TablePlanning& planning, std::size_t newLine, std::size_t source,
                            std::size_t line, std::string_view text,
                            std::optional<std::string_view> before) {
  if (planning.namingColumns.empty()) return;
  const std::vector<std::string_view> cells = SplitColumns(text);
  std::vector<std::string_view> oldCells;
  if (before) oldCells = SplitColumns(*before);
  const SourceLine at{
      static_cast<std::uint16_t>(source),
      static_cast<std::uint32_t>(FileLineOf(*planning.sources[source].index, line))};
  std::vector<NamedValue> values;
  for (std::size_t column : planning.namingColumns) {
    const std::string_view cell = column < cells.size() ? cells[column] : std::string_view();
    const std::string_view old = column < oldCells.size() ? oldCells[column] : std::string_view();
    const bool brought = !cell.empty() && (!before || NameKey(cell) != NameKey(old));
    planning.namesBrought = planning.namesBrought || brought;
    values.push_back({std::string(cell), at, brought});
  }
  planning.namedLines.emplace_back(static_cast<std::uint32_t>(newLine), std::move(values));
}

// Names that a source's line brings and another record of the new table holds too. The kept
// records' lines are read only then, from the first source with a line for each, in its order.
void Planner::NoteDuplicateNames(TablePlanning& planning) {
  if (!planning.namesBrought) return;
  std::vector<std::pair<SourceLine, std::uint32_t>> keptLines;  // the line read, the new line
  for (const auto& [newLine, record] : planning.keptRecords) {
    for (const SourceTable& from : planning.sources) {
      const std::uint32_t line = from.pairing.lineOfRecord[record];
      if (line == kNoLine) continue;
      keptLines.push_back({{static_cast<std::uint16_t>(from.number), line}, newLine});
      break;
    }
  }
  std::ranges::sort(keptLines, [](const auto& a, const auto& b) {
    return a.first.source != b.first.source ? a.first.source < b.first.source
                                            : a.first.line < b.first.line;
  });
  for (const auto& [at, newLine] : keptLines) {
    const std::string text(ReadSourceLine(planning.sources[at.source], at.line));
    NoteNamedLine(planning, newLine, at.source, at.line, text, text);
  }
  std::ranges::sort(planning.namedLines, {},
                    &std::pair<std::uint32_t, std::vector<NamedValue>>::first);
  for (std::size_t at = 0; at < planning.namingColumns.size(); ++at) {
    std::vector<NamedValue> values;
    values.reserve(planning.namedLines.size());
    for (auto& [newLine, named] : planning.namedLines)
      values.push_back(std::move(named[at]));
    for (DuplicateName& duplicate :
         FindDuplicateNames(planning.table, planning.namingColumns[at], std::move(values)))
      plan.duplicateNames.push_back(std::move(duplicate));
  }
}

void Planner::PlanNodeHeaders() {
  std::vector<std::int64_t> tableGrowth(layout.tableNodes.size(), 0);
  for (const PendingEdit& pending : edits) {
    const ByteEdit& edit = pending.edit;
    tableGrowth[pending.tableNode] += WrittenSize(plan, edit) - edit.removed;
  }
  std::vector<std::int64_t> databaseGrowth(layout.databases.size(), 0);
  auto resize = [&](std::int64_t offset, const NodeHeader& header, std::int64_t growth,
                    std::size_t tableNode, const std::string& what) -> std::int64_t {
    const std::int64_t length = PayloadLength(header) + growth;
    if (length > static_cast<std::int64_t>(kLongestPayload)) {
      Problem("the " + what + " @" + std::to_string(offset) + " would hold " +
              std::to_string(length) + " bytes, more than a node can");
      return 0;
    }
    ByteEdit edit;
    edit.at = offset;
    edit.removed = header.payloadStart - offset;
    std::string bytes = ResizedHeader(header, offset, length);
    const std::int64_t headerGrowth = static_cast<std::int64_t>(bytes.size()) - edit.removed;
    EditOrigin origin;
    origin.kind = EditOrigin::Kind::Node;
    origin.database = what != "table";
    origin.number = offset;
    AddEdit(edit, std::move(bytes), tableNode, 1, Origin(origin));
    return headerGrowth;
  };
  const std::size_t tableNodes = layout.tableNodes.size();
  for (std::size_t index = 0; index < tableNodes; ++index) {
    if (tableGrowth[index] == 0) continue;
    const TableNodeSpot spot = layout.tableNodes[index];
    databaseGrowth[spot.database] +=
        tableGrowth[index] + resize(spot.offset, spot.header, tableGrowth[index], index, "table");
  }
  for (std::size_t index = 0; index < layout.databases.size(); ++index) {
    if (databaseGrowth[index] == 0) continue;
    const DatabaseSpot spot = layout.databases[index];
    resize(spot.offset, spot.header, databaseGrowth[index], 0, "database node");
  }
}

// No edit may touch bytes that the unpacker reads off their stored lengths, nor add or remove
// bytes among them.
void Planner::CheckReadOffLengths() {
  for (const PendingEdit& pending : edits) {
    const ByteEdit& edit = pending.edit;
    for (const ReadOffLengths& held : layout.readOff) {
      const bool touches = edit.removed > 0
                               ? edit.at < held.end && edit.at + edit.removed > held.start
                               : edit.at > held.start && edit.at < held.end;
      if (!touches) continue;
      Problem(ReadOffProblem(OriginText(origins[pending.origin]), held));
      break;
    }
  }
}

// Where the new database differs from the original, in its own offsets, a byte wider on each
// side, overlapping ranges merged; the edits are in order.
void Planner::NoteChangedRanges() {
  std::int64_t shift = 0;
  for (const ByteEdit& edit : plan.edits) {
    const std::int64_t at = edit.at + shift;
    const std::int64_t written = WrittenSize(plan, edit);
    const ByteRange range{std::max<std::int64_t>(at - 1, 0), at + written + 1};
    if (!plan.changed.empty() && plan.changed.back().end >= range.start) {
      plan.changed.back().end = std::max(plan.changed.back().end, range.end);
    } else {
      plan.changed.push_back(range);
    }
    shift += written - edit.removed;
  }
}

PackPlan Planner::Finish() {
  if (!problems.empty()) {
    if (problemsLeftOut > 0) {
      problems.push_back("... and " + Plural(problemsLeftOut, "more problem"));
    }
    throw PackFailure{std::move(problems)};
  }
  std::ranges::stable_sort(edits, [](const PendingEdit& a, const PendingEdit& b) {
    if (a.edit.at != b.edit.at) return a.edit.at < b.edit.at;
    return a.rank < b.rank;
  });
  plan.newSize = layout.size;
  plan.edits.reserve(edits.size());
  for (const PendingEdit& pending : edits) {
    plan.newSize += WrittenSize(plan, pending.edit) - pending.edit.removed;
    plan.edits.push_back(pending.edit);
  }
  edits = {};
  NoteChangedRanges();
  return std::move(plan);
}

// Finds the lines of a source's tables: a folder's files are read, a database's lines are its
// records already. A table whose start is wrong is a problem named with its source.
void IndexSourceTables(const PackRules& rules, const PackSource& source,
                       std::vector<TableIndex>& indexes, std::vector<std::string>& problems) {
  if (source.database) {
    indexes = source.rendered.indexes;
    return;
  }
  indexes.resize(rules.tables.size());
  for (std::size_t table = 0; table < rules.tables.size(); ++table) {
    try {
      const std::string problem =
          IndexTable(source.tables[table], rules.tables[table].headerRow, indexes[table]);
      if (!problem.empty()) problems.push_back(TableName(rules, table) + " line 1: " + problem);
    } catch (const IoFailure& failure) {
      throw PackFailure{{"cannot read " + TableName(rules, table) + " in '" + source.path +
                         "': " + FailureMessage(failure.errorNumber)}};
    }
  }
}

// The header's name of a column; none beyond the header.
std::optional<std::string_view> HeaderName(const TableSpec& table, std::size_t column) {
  const std::vector<std::string_view> names = SplitColumns(table.headerRow);
  if (column >= names.size()) return std::nullopt;
  return names[column];
}

}  // namespace

std::string_view RecordName(std::string_view line) {
  return line.substr(0, std::min(line.find('\t'), line.size()));
}

std::string TableName(const PackRules& rules, std::size_t table) {
  return std::string(rules.tables[table].fileName);
}

std::string ColumnName(const TableSpec& table, std::size_t column) {
  const std::optional<std::string_view> name = HeaderName(table, column);
  return name ? "\"" + std::string(*name) + "\"" : std::to_string(column + 1);
}

std::string BareColumnName(const TableSpec& table, std::size_t column) {
  const std::optional<std::string_view> name = HeaderName(table, column);
  return name ? std::string(*name) : std::to_string(column + 1);
}

PackPlan PlanPack(NodeReader& original, const PackRules& rules, char decimalSeparator,
                  std::vector<PackSource>& sources, bool withItems) {
  // On a second thread the stored lengths are checked, through a reader of its own, and the
  // sources' tables are read and their lines found, while the unpacker's walk reads the
  // original here. A database source's lines are found already.
  NodeReader second = SecondNodeReader(original);
  std::string damage;
  std::vector<std::vector<TableIndex>> indexes(sources.size());
  std::vector<std::string> startProblems;
  std::exception_ptr checkFailure;
  std::thread checker([&] {
    try {
      damage = FirstStoredDamage(second);
      for (std::size_t source = 0; damage.empty() && source < sources.size(); ++source)
        IndexSourceTables(rules, sources[source], indexes[source], startProblems);
    } catch (...) {
      checkFailure = std::current_exception();
    }
  });
  Layout layout;
  std::exception_ptr walkFailure;
  try {
    layout = ReadLayout(original, rules, decimalSeparator);
  } catch (...) {
    walkFailure = std::current_exception();
  }
  checker.join();
  static_cast<void>(CloseFile(second.file));  // read only: nothing is lost if closing fails
  if (checkFailure) std::rethrow_exception(checkFailure);
  if (!damage.empty()) {
    throw PackFailure{{"the original database is damaged, " + damage +
                       " (nodedump shows it); only a sound database is packed"}};
  }
  if (walkFailure) std::rethrow_exception(walkFailure);
  Planner planner{original, rules, decimalSeparator, sources, std::move(layout), {}, {}, {}, {}, 0,
                  {},       {}};
  planner.row.decimalSeparator = decimalSeparator;
  planner.withItems = withItems;
  planner.utf8Tables.assign(rules.tables.size(), -1);
  planner.plan.lineHashes.resize(rules.tables.size());
  planner.plan.changes.resize(rules.tables.size());
  planner.plan.sourceChanges.resize(rules.tables.size());
  std::optional<HiddenParts> originalParts;  // read once, where a database source asks
  for (std::size_t source = 0; source < sources.size(); ++source) {
    if (!sources[source].database) continue;
    if (!originalParts) originalParts = HiddenPartsOf(original, planner.layout);
    if (HiddenPartsOf(sources[source].reader, sources[source].layout) != *originalParts)
      planner.plan.otherHiddenParts.push_back(source);
  }
  for (std::string& problem : startProblems)
    planner.Problem(std::move(problem));
  if (startProblems.empty()) {
    for (std::size_t table = 0; table < rules.tables.size(); ++table)
      planner.PlanTable(table, indexes);
  }
  planner.PlanNodeHeaders();
  planner.CheckReadOffLengths();
  return planner.Finish();
}
