// Packing edited tables back: the original's layout, the alignment of each table, the edits
// they make, the new database written and read back.
#include "database_pack.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <unordered_map>

#include "line_diff.h"
#include "node_writer.h"
#include "run_failure.h"
#include "stored_tree.h"
#include "table_text.h"

namespace {

// The longest payload the long length form stores.
constexpr std::int64_t kLongestPayload = (std::int64_t{1} << 30) - 1;

// Problems reported at most; the rest are counted.
constexpr std::size_t kMostProblems = 40;

// ---- The original's layout: where its nodes are and what its records read as.

struct DatabaseSpot {
  std::int64_t offset;
  NodeHeader header;
};

struct TableNodeSpot {
  std::int64_t offset;
  NodeHeader header;
  std::size_t database;
};

// A record whose line goes to a table.
struct RecordSpot {
  std::int64_t offset;
  std::int64_t end;
  std::size_t tableNode;
  std::uint64_t hash;  // of its line
  bool multiLine;      // its line holds a line feed
};

// Bytes that the unpacker reads off their stored lengths: a field read past its payload's end or
// short of it. They must stay as they are, and where they are relative to each other.
struct ReadOffLengths {
  std::int64_t start;
  std::int64_t end;
  std::int64_t field;  // the field that is read otherwise than its length says
};

struct Layout {
  std::vector<DatabaseSpot> databases;
  std::vector<TableNodeSpot> tableNodes;
  std::vector<std::vector<RecordSpot>> records;  // per table, in file order
  std::vector<ReadOffLengths> readOff;
};

// Watches the unpacker's walk over the original.
struct LayoutWatcher : WatchLinesOnly {
  Layout& layout;
  const WalkRules& rules;
  std::int64_t fileSize;
  std::int64_t recordOffset = 0;
  std::int64_t recordEnd = 0;
  std::int64_t furthest = 0;
  std::int64_t misreadField = -1;
  bool readOffToTheEnd = false;

  void Database(std::int64_t offset, const NodeHeader& header) {
    layout.databases.push_back({offset, header});
  }
  void Table(std::int64_t offset, const NodeHeader& header, int /*route*/) {
    layout.tableNodes.push_back({offset, header, layout.databases.size() - 1});
  }
  void Record(std::int64_t offset, const NodeHeader& header) {
    recordOffset = offset;
    recordEnd = NodeEnd(header);
    furthest = recordEnd;
    misreadField = -1;
  }
  void Field(std::int64_t offset, const NodeHeader& field, std::string_view /*text*/,
             std::int64_t positionAfter) {
    if (ReadOffItsLength(field, positionAfter) && misreadField < 0) misreadField = offset;
    furthest = std::max(furthest, positionAfter);
  }
  void Line(int route, std::string_view line) {
    NoteReadOffLengths(route);
    if (route == kDropLine) return;
    const auto table = static_cast<std::size_t>(route);
    layout.records[table].push_back({recordOffset, recordEnd, layout.tableNodes.size() - 1,
                                     LineHash(line), line.find('\n') != std::string_view::npos});
  }

  // A walk that moves to node ends re-aligns after the record: only what the record read is
  // held. Otherwise every later header is read where the misread left the reader.
  void NoteReadOffLengths(int route) {
    if (misreadField < 0 || readOffToTheEnd) return;
    if (!rules.moveToNodeEnds) {
      layout.readOff.push_back({recordOffset, fileSize, misreadField});
      readOffToTheEnd = true;
    } else if (route != kDropLine) {
      layout.readOff.push_back({recordOffset, furthest, misreadField});
    }
  }
};

Layout ReadLayout(NodeReader& original, const PackRules& rules, char decimalSeparator) {
  Layout layout;
  layout.records.resize(rules.tables.size());
  LayoutWatcher watcher{{}, layout, *rules.walk, Size(original)};
  SeekTo(original, 0);
  try {
    WalkDatabase(original, decimalSeparator, *rules.walk, watcher);
  } catch (const RunFailure& failure) {
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
    throw PackFailure{
        {"the original database cannot be unpacked: a value runs past the end "
         "of the file (nodedump marks where)"}};
  }
  return layout;
}

// ---- A stored record read again, field by field.

// Collects the fields of one record as the walk reads them.
struct FieldCollector : WatchLinesOnly {
  StoredRecord& record;
  const FieldCatalogue& catalogue;
  std::int64_t recordOffset = 0;

  void Record(std::int64_t offset, const NodeHeader& header) {
    recordOffset = offset;
    record.headerSize = static_cast<std::size_t>(header.payloadStart - offset);
  }
  void Field(std::int64_t offset, const NodeHeader& field, std::string_view text,
             std::int64_t /*positionAfter*/) {
    StoredField stored;
    stored.offset = static_cast<std::size_t>(offset - recordOffset);
    stored.headerSize = static_cast<std::size_t>(field.payloadStart - offset);
    stored.payloadSize = static_cast<std::size_t>(PayloadLength(field));
    stored.code = field.kind;
    stored.rule = catalogue[field.kind];
    for (char c : text) {
      if (c != '\0') stored.text += c;
    }
    record.fields.push_back(std::move(stored));
  }
  void Line(int /*route*/, std::string_view /*line*/) {}
};

// Whether a line of one table looks like UTF-8.
struct Utf8LineFinder : WatchLinesOnly {
  int table;
  bool found;
  void Line(int route, std::string_view line) {
    if (route == table && !found) found = LooksLikeUtf8(line);
  }
};

std::string ReadOriginalBytes(NodeReader& original, std::int64_t start, std::int64_t end) {
  std::string bytes(static_cast<std::size_t>(end - start), '\0');
  SeekTo(original, start);
  ReadBytes(original, bytes.size(), reinterpret_cast<std::uint8_t*>(bytes.data()));
  return bytes;
}

// ---- Planning one table.

enum class ItemKind : std::uint8_t { Keep, Patch, Move, New };

// A line of the edited table and the record it stands for.
struct Item {
  ItemKind kind;
  std::size_t record;  // the original record (Keep, Patch, Move); the template's for New
  std::size_t line;    // index into the table's logical lines
};

// A line of the edited table, lines that a stored text's line breaks split joined again.
struct EditedLine {
  std::string_view text;
  std::size_t fileLine;  // the table file's line number of its first part
};

// An edited table's file split into lines, each hashed: all that needs no original.
struct PreparedTable {
  std::string_view bytes;
  TableLines split;
  std::vector<std::uint64_t> hashes;  // of split.lines
};

PreparedTable PrepareTable(std::string_view bytes) {
  PreparedTable prepared{bytes, SplitTableLines(bytes), {}};
  prepared.hashes.reserve(prepared.split.lines.size());
  for (std::string_view line : prepared.split.lines)
    prepared.hashes.push_back(LineHash(line));
  return prepared;
}

// A record's place for an edit: before it or after it, in its table node.
struct Anchor {
  std::int64_t at;
  std::size_t tableNode;
  bool after;
};

// An edit on its way into the plan: the plan's edit, the nodes it grows or shrinks, and the
// order among edits at one offset.
struct PendingEdit {
  ByteEdit edit;
  std::size_t tableNode;
  int rank;  // 0: appended to the node ending at `at`; 1: a node's header; 2: at a record
  std::size_t sequence;
  std::string source;  // the line that asked for it, for problems
};

struct Planner {
  NodeReader& original;
  const PackRules& rules;
  char decimalSeparator;
  Layout layout;
  PackPlan plan;
  std::vector<PendingEdit> edits;
  std::vector<std::string> problems;
  std::size_t problemsLeftOut = 0;

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

  StoredRecord ReadStoredRecord(const RecordSpot& spot) {
    const TableNodeSpot& node = layout.tableNodes[spot.tableNode];
    StoredRecord record;
    const TableRules tableRules = rules.walk->tableRules(node.header.kind);
    FieldCollector collector{{}, record, *tableRules.catalogue};
    RowBuilder row;
    row.decimalSeparator = decimalSeparator;
    SeekTo(original, spot.offset);
    WalkRecord(original, row, tableRules, kDropLine, rules.walk->moveToNodeEnds,
               NodeEnd(node.header), collector);
    record.bytes = ReadOriginalBytes(original, spot.offset, spot.end);
    return record;
  }

  // Whether a record of the table reads as a line in UTF-8 (asked only of a changed line that
  // looks like UTF-8, so the original is walked again only then).
  bool TableHasUtf8Lines(std::size_t table) {
    Utf8LineFinder finder{{}, static_cast<int>(table), false};
    SeekTo(original, 0);
    WalkDatabase(original, decimalSeparator, *rules.walk, finder);
    return finder.found;
  }

  // The bytes read off their stored lengths that hold part of the record, if any.
  const ReadOffLengths* ReadOffIn(const RecordSpot& spot) const {
    for (const ReadOffLengths& held : layout.readOff) {
      if (spot.offset < held.end && spot.end > held.start) return &held;
    }
    return nullptr;
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

  void PlanTable(std::size_t table, const PreparedTable& prepared);
  std::vector<EditedLine> JoinSplitLines(std::size_t table, const PreparedTable& prepared,
                                         std::vector<std::uint64_t>& hashes);
  void PlanItems(std::size_t table, const std::vector<EditedLine>& lines,
                 const std::vector<Item>& items, const std::vector<bool>& removed);
  void PlanNodeHeaders();
  void CheckReadOffLengths();
  PackPlan Finish();
};

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

// Lines that a stored text's line breaks split are joined again where they are exactly the
// parts of a record's line, so that an unedited record holding line breaks is seen whole.
std::vector<EditedLine> Planner::JoinSplitLines(std::size_t table, const PreparedTable& prepared,
                                                std::vector<std::uint64_t>& hashes) {
  const TableLines& split = prepared.split;
  std::unordered_multimap<std::uint64_t, std::vector<std::string>> partsByFirst;
  for (const RecordSpot& spot : layout.records[table]) {
    if (!spot.multiLine) continue;
    const std::string line = StoredLine(ReadStoredRecord(spot));
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
      const std::size_t end = line.find(split.lineEnd, start);
      parts.push_back(line.substr(start, end == std::string::npos ? end : end - start));
      if (end == std::string::npos) break;
      start = end + split.lineEnd.size();
    }
    if (parts.size() > 1) partsByFirst.emplace(LineHash(parts.front()), std::move(parts));
  }
  std::vector<EditedLine> lines;
  lines.reserve(split.lines.size());
  hashes.reserve(split.lines.size());
  for (std::size_t at = 1; at < split.lines.size();) {
    std::size_t joined = 1;
    if (partsByFirst.empty()) {
      lines.push_back({split.lines[at], at + 1});
      hashes.push_back(prepared.hashes[at]);
      ++at;
      continue;
    }
    const auto [first, last] = partsByFirst.equal_range(prepared.hashes[at]);
    for (auto candidate = first; candidate != last && joined == 1; ++candidate) {
      const std::vector<std::string>& parts = candidate->second;
      if (at + parts.size() > split.lines.size()) continue;
      bool same = true;
      for (std::size_t part = 0; part < parts.size() && same; ++part)
        same = split.lines[at + part] == parts[part];
      if (same) joined = parts.size();
    }
    const std::string_view start = split.lines[at];
    const std::string_view end = split.lines[at + joined - 1];
    lines.push_back({std::string_view(start.data(), static_cast<std::size_t>(
                                                        end.data() + end.size() - start.data())),
                     at + 1});
    hashes.push_back(joined == 1 ? prepared.hashes[at] : LineHash(lines.back().text));
    at += joined;
  }
  return lines;
}

// Pairs lines with records: equal lines by the alignment, lines equal to a record left over
// elsewhere as that record moved, the rest of each stretch between aligned lines one for one
// as changed records, then new records and removed ones.
std::vector<Item> MatchLines(std::span<const RecordSpot> records,
                             std::span<const std::uint64_t> lineHashes,
                             std::vector<bool>& removed) {
  std::vector<std::uint64_t> recordHashes;
  recordHashes.reserve(records.size());
  for (const RecordSpot& spot : records)
    recordHashes.push_back(spot.hash);
  const std::vector<LineMatch> matches = AlignLines(recordHashes, lineHashes);
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> recordOfLine(lineHashes.size(), kNone);
  std::vector<bool> used(records.size(), false);
  for (const LineMatch& match : matches) {
    recordOfLine[match.edited] = match.original;
    used[match.original] = true;
  }
  std::vector<Item> items(lineHashes.size(), Item{ItemKind::New, kNone, 0});
  std::unordered_multimap<std::uint64_t, std::size_t> leftOver;
  for (std::size_t record = records.size(); record-- > 0;) {
    if (!used[record]) leftOver.emplace(recordHashes[record], record);
  }
  for (std::size_t line = 0; line < lineHashes.size(); ++line) {
    items[line].line = line;
    if (recordOfLine[line] != kNone) {
      items[line] = {ItemKind::Keep, recordOfLine[line], line};
      continue;
    }
    // The earliest record left over with this line (equal multimap keys keep no order).
    auto [first, last] = leftOver.equal_range(lineHashes[line]);
    auto earliest = last;
    for (auto at = first; at != last; ++at) {
      if (earliest == last || at->second < earliest->second) earliest = at;
    }
    if (earliest != last) {
      items[line] = {ItemKind::Move, earliest->second, line};
      used[earliest->second] = true;
      leftOver.erase(earliest);
    }
  }
  // Between two kept lines, the records still unused and the lines still new pair one for one.
  std::size_t record = 0;
  std::size_t line = 0;
  while (line <= lineHashes.size()) {
    std::size_t nextLine = line;
    while (nextLine < lineHashes.size() && items[nextLine].kind != ItemKind::Keep)
      ++nextLine;
    const std::size_t nextRecord =
        nextLine < lineHashes.size() ? items[nextLine].record : records.size();
    std::size_t freeRecord = record;
    for (std::size_t at = line; at < nextLine; ++at) {
      if (items[at].kind != ItemKind::New) continue;
      while (freeRecord < nextRecord && used[freeRecord])
        ++freeRecord;
      if (freeRecord == nextRecord) break;
      items[at] = {ItemKind::Patch, freeRecord, at};
      used[freeRecord] = true;
    }
    record = nextRecord + 1;
    line = nextLine + 1;
  }
  removed.assign(records.size(), false);
  for (std::size_t index = 0; index < records.size(); ++index)
    removed[index] = !used[index];
  return items;
}

void Planner::PlanTable(std::size_t table, const PreparedTable& prepared) {
  const std::string startProblem =
      TableStartProblem(prepared.bytes, prepared.split, rules.tables[table].headerRow);
  if (!startProblem.empty()) {
    Problem(TableName(rules, table) + " line 1: " + startProblem);
    return;
  }
  std::vector<std::uint64_t> hashes;
  const std::vector<EditedLine> lines = JoinSplitLines(table, prepared, hashes);
  std::vector<bool> removed;
  const std::vector<Item> items = MatchLines(layout.records[table], hashes, removed);
  PlanItems(table, lines, items, removed);
}

// For every item, the nearest item before it and after it whose record stays where it is.
void NearestKeptItems(const std::vector<Item>& items, std::vector<std::size_t>& before,
                      std::vector<std::size_t>& after) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  before.assign(items.size(), kNone);
  after.assign(items.size(), kNone);
  auto stays = [](const Item& item) {
    return item.kind == ItemKind::Keep || item.kind == ItemKind::Patch;
  };
  for (std::size_t index = 1; index < items.size(); ++index)
    before[index] = stays(items[index - 1]) ? index - 1 : before[index - 1];
  for (std::size_t index = items.size(); index-- > 1;)
    after[index - 1] = stays(items[index]) ? index : after[index];
}

void Planner::PlanItems(std::size_t table, const std::vector<EditedLine>& lines,
                        const std::vector<Item>& items, const std::vector<bool>& removed) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  const std::vector<RecordSpot>& records = layout.records[table];
  TableChanges& changes = plan.changes[table];
  std::vector<std::uint64_t>& expected = plan.lineHashes[table];
  std::vector<std::size_t> keptBefore;
  std::vector<std::size_t> keptAfter;
  NearestKeptItems(items, keptBefore, keptAfter);
  // Where an added or moved line goes: after the record of the nearest line above that stays,
  // else before the record of the nearest line below, else where the table's records began.
  auto anchorOf = [&](std::size_t index) -> Anchor {
    if (keptBefore[index] != kNone) {
      const RecordSpot& spot = records[items[keptBefore[index]].record];
      return {spot.end, spot.tableNode, true};
    }
    const RecordSpot& spot =
        records[keptAfter[index] != kNone ? items[keptAfter[index]].record : 0];
    return {spot.offset, spot.tableNode, false};
  };
  // The record a new line is built on: the record of the nearest line above that is not new,
  // else of the nearest one below, else the table's first record.
  std::vector<std::size_t> templates(items.size(), kNone);
  for (std::size_t index = 0; index < items.size(); ++index) {
    if (items[index].kind != ItemKind::New)
      templates[index] = items[index].record;
    else if (index > 0)
      templates[index] = templates[index - 1];
  }
  for (std::size_t index = items.size(); index-- > 0;) {
    if (templates[index] == kNone) {
      templates[index] = index + 1 < items.size() ? templates[index + 1] : kNone;
    }
  }
  const std::string name = TableName(rules, table);
  for (std::size_t index = 0; index < items.size(); ++index) {
    const Item& item = items[index];
    if (item.kind == ItemKind::Keep) {
      ++changes.kept;
      expected.push_back(records[item.record].hash);
      continue;
    }
    const EditedLine& line = lines[item.line];
    const std::string where = name + " line " + std::to_string(line.fileLine);
    if (records.empty()) {
      Problem(where + ": the original has no record in this table to build a new one on");
      continue;
    }
    if (item.kind == ItemKind::Move) {
      const RecordSpot& spot = records[item.record];
      const Anchor anchor = anchorOf(index);
      ByteEdit edit;
      edit.at = anchor.at;
      edit.copyFrom = spot.offset;
      edit.copySize = spot.end - spot.offset;
      AddEdit(std::move(edit), anchor.tableNode, anchor.after ? 0 : 2, where);
      ++changes.kept;
      ++changes.moved;
      expected.push_back(spot.hash);
      continue;
    }
    if (item.kind == ItemKind::New && templates[index] == kNone) templates[index] = 0;
    const std::size_t base = item.kind == ItemKind::Patch ? item.record : templates[index];
    const bool isNew = item.kind == ItemKind::New;
    if (const ReadOffLengths* held = ReadOffIn(records[base])) {
      Problem(ReadOffProblem(where, *held));
      continue;
    }
    if (LooksLikeUtf8(line.text) && !TableHasUtf8Lines(table)) {
      Problem(where +
              ": the line is in UTF-8, but the table's text is in the game's single-byte "
              "code page: save the table in the character set it was opened with (for "
              "example Cyrillic (Windows-1251)), not in UTF-8");
      continue;
    }
    const StoredRecord stored = ReadStoredRecord(records[base]);
    RebuiltRecord rebuilt;
    std::vector<CellProblem> cellProblems;
    if (!RebuildRecord(stored, line.text, isNew, decimalSeparator, rebuilt, cellProblems)) {
      for (const CellProblem& problem : cellProblems)
        Problem(CellProblemText(rules, table, line.fileLine, problem));
      continue;
    }
    for (const RoundedCell& cell : rebuilt.rounded)
      plan.rounded.push_back({table, line.fileLine, cell});
    expected.push_back(LineHash(rebuilt.line));
    if (isNew) {
      const Anchor anchor = anchorOf(index);
      ByteEdit edit;
      edit.at = anchor.at;
      edit.bytes = std::move(rebuilt.bytes);
      AddEdit(std::move(edit), anchor.tableNode, anchor.after ? 0 : 2, where);
      ++changes.added;
    } else if (rebuilt.changed) {
      const RecordSpot& spot = records[item.record];
      ByteEdit edit;
      edit.at = spot.offset;
      edit.removed = spot.end - spot.offset;
      edit.bytes = std::move(rebuilt.bytes);
      AddEdit(std::move(edit), spot.tableNode, 2, where);
      ++changes.changed;
    } else {
      ++changes.kept;
    }
  }
  std::vector<bool> movedAway(records.size(), false);
  for (const Item& item : items) {
    if (item.kind == ItemKind::Move) movedAway[item.record] = true;
  }
  for (std::size_t record = 0; record < records.size(); ++record) {
    if (!removed[record] && !movedAway[record]) continue;
    const RecordSpot& spot = records[record];
    ByteEdit edit;
    edit.at = spot.offset;
    edit.removed = spot.end - spot.offset;
    AddEdit(std::move(edit), spot.tableNode, 2,
            name + ": the record unpacked as line " + std::to_string(record + 2) +
                (movedAway[record] ? ", moved" : ", removed"));
    if (removed[record]) ++changes.removed;
  }
}

// A node whose payload grows or shrinks gets a new header, in its own length form where the
// new length fits.
std::string ResizedHeader(const NodeHeader& header, std::int64_t offset, std::int64_t length) {
  const bool shortForm = header.payloadStart - offset == 2;
  return NodeHeaderBytes(header.kind, static_cast<std::size_t>(length),
                         shortForm ? LengthForm::Auto : LengthForm::Long);
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

PackPlan Planner::Finish() {
  if (!problems.empty()) {
    if (problemsLeftOut > 0)
      problems.push_back("... and " + std::to_string(problemsLeftOut) + " more problems");
    throw PackFailure{std::move(problems)};
  }
  std::ranges::sort(edits, [](const PendingEdit& a, const PendingEdit& b) {
    if (a.edit.at != b.edit.at) return a.edit.at < b.edit.at;
    if (a.rank != b.rank) return a.rank < b.rank;
    return a.sequence < b.sequence;
  });
  plan.newSize = Size(original);
  for (PendingEdit& pending : edits) {
    plan.newSize += static_cast<std::int64_t>(pending.edit.bytes.size()) + pending.edit.copySize -
                    pending.edit.removed;
    plan.edits.push_back(std::move(pending.edit));
  }
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
                  const TableReader& readTable) {
  // On a second thread the stored lengths are checked, through a reader of its own, and the
  // first table is read and split, while the unpacker's walk reads the original here.
  NodeReader second = SecondNodeReader(original);
  std::string damage;
  PreparedTable first;
  std::exception_ptr checkFailure;
  std::thread checker([&] {
    try {
      damage = FirstStoredDamage(second);
      if (damage.empty()) first = PrepareTable(readTable(0));
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
  Planner planner{original, rules, decimalSeparator, std::move(layout), {}, {}, {}, 0};
  planner.plan.lineHashes.resize(rules.tables.size());
  planner.plan.changes.resize(rules.tables.size());
  planner.PlanTable(0, first);
  for (std::size_t table = 1; table < rules.tables.size(); ++table) {
    planner.PlanTable(table, PrepareTable(readTable(table)));
  }
  planner.PlanNodeHeaders();
  planner.CheckReadOffLengths();
  return planner.Finish();
}
