// Planning a pack: the original's layout read, each table's lines paired with its records, and
// what became of every line turned into edits of the original's bytes.
#include "pack_plan.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "line_pairing.h"
#include "node_writer.h"
#include "run_failure.h"

namespace {

// The longest payload the long length form stores.
constexpr std::int64_t kLongestPayload = (std::int64_t{1} << 30) - 1;

// Problems reported at most; the rest are counted.
constexpr std::size_t kMostProblems = 40;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

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
  std::size_t tableNode;
  int rank;  // 0: appended to the node ending at `at`; 1: a node's header; 2: at a record
  std::size_t sequence;
  std::string source;  // what asked for it, for problems
};

// One edited table while it is planned: its bytes, its lines and their records.
struct EditedTable {
  std::size_t table;
  const TableSource& source;
  TableIndex& index;
  TablePairing pairing;
  LineReader lines;
  // Per line: the nearest line at or above it, and at or below it, whose record keeps its place.
  std::vector<std::size_t> inPlaceAbove;
  std::vector<std::size_t> inPlaceBelow;
};

PlanItem Item(PlanAction action, std::size_t table, std::size_t line, std::size_t originalLine) {
  PlanItem item;
  item.action = action;
  item.table = table;
  item.line = line;
  item.originalLine = originalLine;
  return item;
}

std::string Plural(std::size_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

// "<table> line N, column "<name>": "<cell>" <why>", or "<table> line N <why>".
std::string CellProblemText(const PackRules& rules, std::size_t table, std::size_t line,
                            const CellProblem& problem) {
  std::string text = TableName(rules, table) + " line " + std::to_string(line);
  if (problem.wholeLine) return text + " " + problem.why;
  text += ", column ";
  text += ColumnName(rules.tables[table], problem.column);
  text += ": \"";
  text += problem.cell;
  text += "\" ";
  text += problem.why;
  return text;
}

// A node whose payload grows or shrinks gets a new header, in its own length form where the
// new length fits.
std::string ResizedHeader(const NodeHeader& header, std::int64_t offset, std::int64_t length) {
  const bool shortForm = header.payloadStart - offset == 2;
  return NodeHeaderBytes(header.kind, static_cast<std::size_t>(length),
                         shortForm ? LengthForm::Auto : LengthForm::Long);
}

// The parts a table's line ends split a line into.
std::vector<std::uint64_t> PartHashes(std::string_view line, std::string_view lineEnd) {
  std::vector<std::uint64_t> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = line.find(lineEnd, start);
    parts.push_back(LineHash(line.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) return parts;
    start = end + lineEnd.size();
  }
}

// For every line, the nearest line at or above it (or at or below it) whose record keeps its
// place, kNone where there is none.
void NearestLinesInPlace(const TablePairing& pairing, std::vector<std::size_t>& above,
                         std::vector<std::size_t>& below) {
  const std::size_t lines = pairing.inPlace.size();
  above.assign(lines, kNone);
  below.assign(lines, kNone);
  for (std::size_t line = 0; line < lines; ++line) {
    above[line] = pairing.inPlace[line] ? line : (line > 0 ? above[line - 1] : kNone);
  }
  for (std::size_t line = lines; line-- > 0;) {
    below[line] = pairing.inPlace[line] ? line : (line + 1 < lines ? below[line + 1] : kNone);
  }
}

struct Planner {
  NodeReader& original;
  const PackRules& rules;
  char decimalSeparator;
  Layout layout;
  PackPlan plan;
  std::vector<PendingEdit> edits;
  std::vector<std::string> problems;
  std::size_t problemsLeftOut = 0;
  std::vector<int> utf8Tables;  // per table: -1 not yet known, else whether a line is in UTF-8
  RowBuilder row;

  void Problem(std::string text) {
    if (problems.size() < kMostProblems) {
      problems.push_back(std::move(text));
    } else {
      ++problemsLeftOut;
    }
  }

  void AddEdit(ByteEdit edit, std::size_t tableNode, int rank, std::string source) {
    edits.push_back({std::move(edit), tableNode, rank, edits.size(), std::move(source)});
  }

  const RecordSpot& Spot(std::size_t table, std::size_t record) const {
    return layout.tables[table].spots[record];
  }

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

  std::string_view ReadEditedLine(EditedTable& edited, std::size_t line);
  void JoinLinesOfRecords(EditedTable& edited);
  void PairTable(EditedTable& edited);
  Anchor AnchorOf(const EditedTable& edited, std::size_t line) const;
  std::size_t NeighbourTemplate(const EditedTable& edited, std::size_t line) const;
  bool Rebuild(EditedTable& edited, std::size_t line, std::size_t base, bool neighbour,
               RebuiltRecord& rebuilt, StoredRecord& stored);
  void PlanEqualLine(EditedTable& edited, std::size_t line);
  void PlanChangedLine(EditedTable& edited, std::size_t line);
  void PlanAddedLine(EditedTable& edited, std::size_t line);
  void PlanMove(EditedTable& edited, std::size_t line, ByteEdit edit);
  void PlanRemovals(EditedTable& edited);
  void NoteChangedCells(const EditedTable& edited, std::size_t line, std::size_t record,
                        const StoredRecord& stored, const RebuiltRecord& rebuilt);
  void PlanTable(std::size_t table, const TableSource& source, TableIndex& index);
  void PlanNodeHeaders();
  void CheckReadOffLengths();
  void NoteChangedRanges();
  PackPlan Finish();
};

// A failure to read a table again names the table.
std::string_view Planner::ReadEditedLine(EditedTable& edited, std::size_t line) {
  try {
    return ReadLine(edited.lines, line);
  } catch (const RunFailure& failure) {
    throw PackFailure{{"cannot read " + TableName(rules, edited.table) + ": " +
                       FailureMessage(failure.errorNumber)}};
  }
}

// Lines that a stored text's line breaks split are joined again where they are exactly the
// parts of a record's line, so that an unedited record holding line breaks is seen whole.
void Planner::JoinLinesOfRecords(EditedTable& edited) {
  const TableRecords& records = layout.tables[edited.table];
  std::vector<std::vector<std::uint64_t>> parts;
  std::vector<std::uint64_t> wholes;
  for (std::uint32_t record : records.multiLine) {
    const std::string_view line = RecordLine(original, rules, layout, records.spots[record], row);
    parts.push_back(PartHashes(line, edited.index.lineEnd));
    wholes.push_back(records.hashes[record]);
  }
  JoinSplitLines(edited.index, parts, wholes);
}

void Planner::PairTable(EditedTable& edited) {
  const TableRecords& records = layout.tables[edited.table];
  PairingTexts texts;
  texts.editedLine = [&](std::size_t line) { return ReadEditedLine(edited, line); };
  texts.recordLine = [&](std::size_t record) {
    return RecordLine(original, rules, layout, records.spots[record], row);
  };
  edited.pairing = PairLines(records.hashes, edited.index.hashes, texts);
  NearestLinesInPlace(edited.pairing, edited.inPlaceAbove, edited.inPlaceBelow);
}

// Where a moved or added line goes: after the record of the nearest line above that keeps its
// place, else before the record of the nearest one below, else where the table's records began.
Anchor Planner::AnchorOf(const EditedTable& edited, std::size_t line) const {
  const std::size_t above = line > 0 ? edited.inPlaceAbove[line - 1] : kNone;
  if (above != kNone) {
    const RecordSpot& spot = Spot(edited.table, edited.pairing.recordOfLine[above]);
    return {RecordEnd(spot), spot.tableNode, true};
  }
  const std::size_t below =
      line + 1 < edited.inPlaceBelow.size() ? edited.inPlaceBelow[line + 1] : kNone;
  const RecordSpot& spot =
      Spot(edited.table, below != kNone ? edited.pairing.recordOfLine[below] : 0);
  return {spot.offset, spot.tableNode, false};
}

// The record a line that resembles none is built on: the record of the nearest paired line
// above, else of the nearest one below, else the table's first record.
std::size_t Planner::NeighbourTemplate(const EditedTable& edited, std::size_t line) const {
  const std::vector<std::uint32_t>& records = edited.pairing.recordOfLine;
  for (std::size_t above = line; above-- > 0;) {
    if (records[above] != kNoRecord) return records[above];
  }
  for (std::size_t below = line + 1; below < records.size(); ++below) {
    if (records[below] != kNoRecord) return records[below];
  }
  return 0;
}

// Rebuilds the record `base` with the cells of the line; false, with its problems, when it
// cannot be stored.
bool Planner::Rebuild(EditedTable& edited, std::size_t line, std::size_t base, bool neighbour,
                      RebuiltRecord& rebuilt, StoredRecord& stored) {
  const std::size_t fileLine = FileLineOf(edited.index, line);
  const std::string where = TableName(rules, edited.table) + " line " + std::to_string(fileLine);
  const RecordSpot& spot = Spot(edited.table, base);
  if (const ReadOffLengths* held = ReadOffWithin(layout, spot.offset, RecordEnd(spot))) {
    Problem(ReadOffProblem(where, *held));
    return false;
  }
  const std::string text(ReadEditedLine(edited, line));
  if (LooksLikeUtf8(text) && !TableHasUtf8(edited.table)) {
    Problem(where +
            ": the line is in UTF-8, but the table's text is in the game's single-byte "
            "code page: save the table in the character set it was opened with (for "
            "example Cyrillic (Windows-1251)), not in UTF-8");
    return false;
  }
  stored = ReadStoredRecord(original, rules, layout, spot, decimalSeparator);
  std::vector<CellProblem> cellProblems;
  if (!RebuildRecord(stored, text, neighbour, decimalSeparator, rebuilt, cellProblems)) {
    for (const CellProblem& problem : cellProblems)
      Problem(CellProblemText(rules, edited.table, fileLine, problem));
    return false;
  }
  for (const RoundedCell& cell : rebuilt.rounded)
    plan.rounded.push_back({edited.table, fileLine, cell});
  return true;
}

// The line's record, copied to the line's place when it does not keep its own.
void Planner::PlanMove(EditedTable& edited, std::size_t line, ByteEdit edit) {
  const Anchor anchor = AnchorOf(edited, line);
  edit.at = anchor.at;
  AddEdit(std::move(edit), anchor.tableNode, anchor.after ? 0 : 2,
          TableName(rules, edited.table) + " line " +
              std::to_string(FileLineOf(edited.index, line)));
  plan.items.push_back(Item(PlanAction::Moved, edited.table, FileLineOf(edited.index, line),
                            edited.pairing.recordOfLine[line] + std::size_t{2}));
}

void Planner::PlanEqualLine(EditedTable& edited, std::size_t line) {
  const std::size_t record = edited.pairing.recordOfLine[line];
  TableChanges& changes = plan.changes[edited.table];
  ++changes.kept;
  plan.lineHashes[edited.table].push_back(layout.tables[edited.table].hashes[record]);
  if (edited.pairing.inPlace[line]) return;
  ++changes.moved;
  const RecordSpot& spot = Spot(edited.table, record);
  ByteEdit edit;
  edit.copyFrom = spot.offset;
  edit.copySize = spot.size;
  PlanMove(edited, line, std::move(edit));
}

// Plan items for the cells of a changed line whose fields were stored anew.
void Planner::NoteChangedCells(const EditedTable& edited, std::size_t line, std::size_t record,
                               const StoredRecord& stored, const RebuiltRecord& rebuilt) {
  const std::string before = StoredLine(stored);
  const std::vector<std::string_view> oldCells = SplitColumns(before);
  const std::vector<std::string_view> newCells = SplitColumns(rebuilt.given);
  for (std::size_t column : rebuilt.changedColumns) {
    PlanItem item =
        Item(PlanAction::Changed, edited.table, FileLineOf(edited.index, line), record + 2);
    item.column = column;
    if (column < oldCells.size()) item.oldText = oldCells[column];
    if (column < newCells.size()) item.newText = newCells[column];
    plan.items.push_back(std::move(item));
  }
}

void Planner::PlanChangedLine(EditedTable& edited, std::size_t line) {
  const std::size_t record = edited.pairing.recordOfLine[line];
  RebuiltRecord rebuilt;
  StoredRecord stored;
  if (!Rebuild(edited, line, record, false, rebuilt, stored)) return;
  if (!rebuilt.changed) return PlanEqualLine(edited, line);
  TableChanges& changes = plan.changes[edited.table];
  ++changes.changed;
  plan.lineHashes[edited.table].push_back(LineHash(rebuilt.line));
  const RecordSpot& spot = Spot(edited.table, record);
  ByteEdit edit;
  edit.bytes = std::move(rebuilt.bytes);
  if (edited.pairing.inPlace[line]) {
    edit.at = spot.offset;
    edit.removed = spot.size;
    AddEdit(std::move(edit), spot.tableNode, 2,
            TableName(rules, edited.table) + " line " +
                std::to_string(FileLineOf(edited.index, line)));
  } else {
    ++changes.changedMoved;
    PlanMove(edited, line, std::move(edit));
  }
  NoteChangedCells(edited, line, record, stored, rebuilt);
}

void Planner::PlanAddedLine(EditedTable& edited, std::size_t line) {
  if (layout.tables[edited.table].spots.empty()) {
    Problem(TableName(rules, edited.table) + " line " +
            std::to_string(FileLineOf(edited.index, line)) +
            ": the original has no record in this table to build a new one on");
    return;
  }
  const std::uint32_t resembling = edited.pairing.templateOfLine[line];
  const bool neighbour = resembling == kNoRecord;
  const std::size_t base = neighbour ? NeighbourTemplate(edited, line) : resembling;
  RebuiltRecord rebuilt;
  StoredRecord stored;
  if (!Rebuild(edited, line, base, neighbour, rebuilt, stored)) return;
  ++plan.changes[edited.table].added;
  plan.lineHashes[edited.table].push_back(LineHash(rebuilt.line));
  const Anchor anchor = AnchorOf(edited, line);
  ByteEdit edit;
  edit.at = anchor.at;
  edit.bytes = std::move(rebuilt.bytes);
  const std::size_t fileLine = FileLineOf(edited.index, line);
  AddEdit(std::move(edit), anchor.tableNode, anchor.after ? 0 : 2,
          TableName(rules, edited.table) + " line " + std::to_string(fileLine));
  plan.items.push_back(Item(PlanAction::Added, edited.table, fileLine, base + 2));
}

// Records whose lines are gone, and records that moved, leave their places.
void Planner::PlanRemovals(EditedTable& edited) {
  const TablePairing& pairing = edited.pairing;
  const std::string name = TableName(rules, edited.table);
  for (std::size_t record = 0; record < pairing.lineOfRecord.size(); ++record) {
    const std::uint32_t line = pairing.lineOfRecord[record];
    const bool removed = line == kNoLine;
    if (!removed && pairing.inPlace[line]) continue;
    const RecordSpot& spot = Spot(edited.table, record);
    ByteEdit edit;
    edit.at = spot.offset;
    edit.removed = spot.size;
    AddEdit(std::move(edit), spot.tableNode, 2,
            name + ": the record unpacked as line " + std::to_string(record + 2) +
                (removed ? ", removed" : ", moved"));
    if (!removed) continue;
    ++plan.changes[edited.table].removed;
    plan.items.push_back(Item(PlanAction::Removed, edited.table, 0, record + 2));
  }
}

void Planner::PlanTable(std::size_t table, const TableSource& source, TableIndex& index) {
  EditedTable edited{table, source, index, {}, ReaderOfLines(source, index), {}, {}};
  JoinLinesOfRecords(edited);
  PairTable(edited);
  for (std::size_t line = 0; line < LineCount(index); ++line) {
    if (edited.pairing.equal[line]) {
      PlanEqualLine(edited, line);
    } else if (edited.pairing.recordOfLine[line] != kNoRecord) {
      PlanChangedLine(edited, line);
    } else {
      PlanAddedLine(edited, line);
    }
  }
  PlanRemovals(edited);
}

void Planner::PlanNodeHeaders() {
  std::vector<std::int64_t> tableGrowth(layout.tableNodes.size(), 0);
  for (const PendingEdit& pending : edits) {
    const ByteEdit& edit = pending.edit;
    tableGrowth[pending.tableNode] +=
        static_cast<std::int64_t>(edit.bytes.size()) + edit.copySize - edit.removed;
  }
  std::vector<std::int64_t> databaseGrowth(layout.databases.size(), 0);
  auto resize = [&](std::int64_t offset, const NodeHeader& header, std::int64_t growth,
                    std::size_t tableNode, const std::string& what) -> std::int64_t {
    const std::int64_t length = PayloadLength(header) + growth;
    if (length > kLongestPayload) {
      Problem("the " + what + " @" + std::to_string(offset) + " would hold " +
              std::to_string(length) + " bytes, more than a node can");
      return 0;
    }
    ByteEdit edit;
    edit.at = offset;
    edit.removed = header.payloadStart - offset;
    edit.bytes = ResizedHeader(header, offset, length);
    const std::int64_t headerGrowth = static_cast<std::int64_t>(edit.bytes.size()) - edit.removed;
    AddEdit(std::move(edit), tableNode, 1, "the " + what + " @" + std::to_string(offset));
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
      Problem(ReadOffProblem(pending.source, held));
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
    const std::int64_t written = static_cast<std::int64_t>(edit.bytes.size()) + edit.copySize;
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
  for (PendingEdit& pending : edits) {
    plan.newSize += static_cast<std::int64_t>(pending.edit.bytes.size()) + pending.edit.copySize -
                    pending.edit.removed;
    plan.edits.push_back(std::move(pending.edit));
  }
  NoteChangedRanges();
  return std::move(plan);
}

}  // namespace

std::string TableName(const PackRules& rules, std::size_t table) {
  return std::string(rules.tables[table].fileName);
}

std::string ColumnName(const TableSpec& table, std::size_t column) {
  const std::vector<std::string_view> names = SplitColumns(table.headerRow);
  if (column >= names.size()) return std::to_string(column + 1);
  std::string name = "\"";
  name += names[column];
  name += '"';
  return name;
}

PackPlan PlanPack(NodeReader& original, const PackRules& rules, char decimalSeparator,
                  std::span<const TableSource> tables) {
  // On a second thread the stored lengths are checked, through a reader of its own, and the
  // tables are read and their lines found, while the unpacker's walk reads the original here.
  NodeReader second = SecondNodeReader(original);
  std::string damage;
  std::vector<TableIndex> indexes(tables.size());
  std::vector<std::string> startProblems(tables.size());
  std::exception_ptr checkFailure;
  std::thread checker([&] {
    try {
      damage = FirstStoredDamage(second);
      for (std::size_t table = 0; damage.empty() && table < tables.size(); ++table) {
        try {
          startProblems[table] =
              IndexTable(tables[table], rules.tables[table].headerRow, indexes[table]);
        } catch (const RunFailure& failure) {
          throw PackFailure{{"cannot read " + TableName(rules, table) + ": " +
                             FailureMessage(failure.errorNumber)}};
        }
      }
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
  Planner planner{original, rules, decimalSeparator, std::move(layout), {}, {}, {}, 0, {}, {}};
  planner.row.decimalSeparator = decimalSeparator;
  planner.utf8Tables.assign(rules.tables.size(), -1);
  planner.plan.lineHashes.resize(rules.tables.size());
  planner.plan.changes.resize(rules.tables.size());
  for (std::size_t table = 0; table < rules.tables.size(); ++table) {
    if (!startProblems[table].empty()) {
      planner.Problem(TableName(rules, table) + " line 1: " + startProblems[table]);
      continue;
    }
    planner.PlanTable(table, tables[table], indexes[table]);
  }
  planner.PlanNodeHeaders();
  planner.CheckReadOffLengths();
  return planner.Finish();
}
