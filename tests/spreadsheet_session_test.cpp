// Spreadsheet sessions on generated databases of both kinds: the tables are unpacked, edited as
// a person edits them in a spreadsheet (sorted, lines deleted, cells changed, a line copied and
// renamed), packed back onto the original, and the new database's bytes are checked record by
// record against what the person did. One function per step: generate, unpack, edit, pack,
// check.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "node_writer.h"
#include "program_run.h"
#include "quest_walker.h"
#include "run_packer.h"
#include "run_unpacker.h"
#include "session_databases.h"
#include "session_tools.h"
#include "spell_walker.h"
#include "split_text.h"
#include "test_files.h"
#include "workbook_files.h"

namespace {

// ---- Step 1: generate.

// Table sizes from a handful of records to a few hundred, one for each seed in turn.
constexpr std::size_t kSizes[] = {4, 12, 40, 120, 300};

// The database of a session: sound, with bytes no table shows (session_databases.h). Its
// tables have `size` records, or one of kSizes by the seed.
std::string GenerateSessionDatabase(const Tool& tool, std::uint64_t seed, std::size_t size = 0) {
  return GenerateDatabase(
      tool.kind, seed,
      size > 0 ? size : kSizes[static_cast<std::size_t>(seed % std::size(kSizes))]);
}

// ---- Step 2: unpack: UnpackTables (session_tools.h).

// ---- Step 3: edit.

enum class LineChange : std::uint8_t { None, Changed, Duplicate };

constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);

// A line the session writes and the record it comes from: the record whose line it was, or for
// a duplicate the record of the line it copies. A changed line or a duplicate differs from that
// record's line in exactly one cell.
struct SessionLine {
  std::vector<std::string> cells;
  std::size_t record = 0;  // the index of its line in the unpacked table
  LineChange change = LineChange::None;
};

struct TableSession {
  std::string fileName;
  std::string header;
  std::vector<SessionLine> lines;
  std::vector<std::size_t> removed;  // records whose lines were deleted
  std::vector<std::string> steps;    // what the person did, in words
};

// What a session may do to each table.
struct SessionSteps {
  bool reorder = false;
  bool remove = false;
  bool change = false;
  bool duplicate = false;
  bool throughWorkbook = false;  // the tables unpacked and packed as a workbook's sheets
  std::size_t records = 0;       // of each table; 0 for one of kSizes by the seed
};

std::vector<TableSession> UneditedSessions(const Tool& tool, const std::vector<CellTable>& tables) {
  std::vector<TableSession> sessions;
  for (std::size_t table = 0; table < tables.size(); ++table) {
    TableSession session{
        std::string(tool.tables[table].fileName), tables[table].header, {}, {}, {}};
    for (std::size_t line = 0; line < tables[table].lines.size(); ++line)
      session.lines.push_back({tables[table].lines[line], line, LineChange::None});
    sessions.push_back(std::move(session));
  }
  return sessions;
}

std::string ColumnTitle(const TableSession& session, std::size_t column) {
  return "\"" + CellsOf(session.header)[column] + "\"";
}

// A line as a person reading the table sees it: its line number in the file, the header row
// being line 1.
std::string LineNumber(std::size_t index) {
  return std::to_string(TableFileLine(index));
}

// How a spreadsheet orders cells: numbers before texts, texts without regard to case, and
// empty cells last whichever way it sorts.
struct SortKey {
  int group = 0;  // 0 a number, 1 a text, 2 an empty cell
  double number = 0;
  std::string text;
};

SortKey SortKeyOf(const std::string& cell) {
  if (cell.empty()) return {2, 0, {}};
  double number = 0;
  const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), number);
  if (error == std::errc() && end == cell.data() + cell.size()) return {0, number, {}};
  SortKey key{1, 0, cell};
  for (char& c : key.text)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return key;
}

void SortLines(TableSession& session, std::size_t column, bool descending) {
  std::ranges::stable_sort(session.lines, [&](const SessionLine& a, const SessionLine& b) {
    SortKey first = SortKeyOf(a.cells[column]);
    SortKey second = SortKeyOf(b.cells[column]);
    if (first.group == 2 || second.group == 2) return first.group < second.group;
    if (descending) std::swap(first, second);
    return std::tie(first.group, first.number, first.text) <
           std::tie(second.group, second.number, second.text);
  });
  session.steps.push_back("sorted by " + ColumnTitle(session, column) +
                          (descending ? " descending" : " ascending"));
}

void ReverseLines(TableSession& session) {
  std::ranges::reverse(session.lines);
  session.steps.push_back("reversed");
}

void ShuffleLines(TableSession& session, Random& random) {
  for (std::size_t at = session.lines.size(); at > 1; --at)
    std::swap(session.lines[at - 1], session.lines[RandomBelow(random, at)]);
  session.steps.push_back("shuffled");
}

void RemoveLine(TableSession& session, std::size_t index) {
  const std::size_t record = session.lines[index].record;
  session.steps.push_back("deleted line " + LineNumber(index) + " (line " + LineNumber(record) +
                          " of the original)");
  session.removed.push_back(record);
  session.lines.erase(session.lines.begin() + static_cast<std::ptrdiff_t>(index));
}

void ChangeCell(TableSession& session, std::size_t index, std::size_t column,
                const std::string& value) {
  SessionLine& line = session.lines[index];
  session.steps.push_back("line " + LineNumber(index) + " (line " + LineNumber(line.record) +
                          " of the original), " + ColumnTitle(session, column) + ": \"" +
                          line.cells[column] + "\" to \"" + value + "\"");
  line.cells[column] = value;
  line.change = LineChange::Changed;
}

// Copies a line, gives the copy a new first cell and puts it right after its source or at the
// end of the table.
void DuplicateLine(TableSession& session, std::size_t index, const std::string& name,
                   bool atTheEnd) {
  SessionLine copy = session.lines[index];
  copy.cells[0] = name;
  copy.change = LineChange::Duplicate;
  const std::size_t at = atTheEnd ? session.lines.size() : index + 1;
  session.steps.push_back("line " + LineNumber(index) + " (line " + LineNumber(copy.record) +
                          " of the original) copied to line " + LineNumber(at) + " as \"" + name +
                          "\"");
  session.lines.insert(session.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(copy));
}

bool ColumnHolds(const CellTable& table, const TableSession& session, std::size_t column,
                 const std::string& value) {
  const auto holds = [&](const std::vector<std::string>& cells) { return cells[column] == value; };
  return std::ranges::any_of(table.lines, holds) ||
         std::ranges::any_of(session.lines,
                             [&](const SessionLine& line) { return holds(line.cells); });
}

// A name that no line of the table holds in the column.
std::string NewName(const CellTable& table, const TableSession& session, std::size_t column,
                    Random& random) {
  std::string name;
  do {
    name = "Renamed " + std::to_string(RandomBelow(random, 100000));
  } while (ColumnHolds(table, session, column, name));
  return name;
}

// Another valid value for a cell of the column: a new name for names and codes; otherwise
// mostly a value another line holds in the column, as a person copies or retypes one.
std::string OtherValue(const CellTable& table, const TableSession& session, std::size_t column,
                       CellKind kind, const std::string& current, Random& random) {
  constexpr std::string_view kSchools[] = {"elemental", "senses", "astral"};
  if (kind == CellKind::UniqueText) return NewName(table, session, column, random);
  if (kind == CellKind::ShopFlag) return current.empty() ? "1" : "";
  if (kind == CellKind::School) {
    std::string school;
    do {
      school = kSchools[RandomBelow(random, 3)];
    } while (school == current);
    return school;
  }
  std::vector<std::string> others;
  for (const std::vector<std::string>& line : table.lines) {
    if (line[column] != current) others.push_back(line[column]);
  }
  if (!others.empty() && RandomChance(random, 85))
    return others[RandomBelow(random, others.size())];
  if (kind == CellKind::Number) return current == "7" ? "8" : "7";
  if (kind == CellKind::Colour) return current == "1,2,3" ? "3,2,1" : "1,2,3";
  return NewName(table, session, column, random);
}

std::size_t CellsDiffering(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::size_t count = 0;
  for (std::size_t column = 0; column < a.size(); ++column)
    if (a[column] != b[column]) ++count;
  return count;
}

// How often each value stands in each column of the original table.
using ValueCounts = std::vector<std::map<std::string, std::size_t>>;

ValueCounts CountValues(const CellTable& table) {
  ValueCounts counts(CellsOf(table.header).size());
  for (const std::vector<std::string>& line : table.lines) {
    for (std::size_t column = 0; column < line.size(); ++column)
      ++counts[column][line[column]];
  }
  return counts;
}

std::size_t CountOf(const ValueCounts& counts, std::size_t column, const std::string& value) {
  const auto found = counts[column].find(value);
  return found == counts[column].end() ? 0 : found->second;
}

// Whether the cell of `line` in column `at` tells records apart at least as well as its cell in
// `column` does, both as a column (it holds at least as many distinct values) and as a value (no
// more lines hold it): whichever of the two weighs a cell, it weighs at least as much.
bool TellsAsWell(const ValueCounts& counts, const std::vector<std::string>& line, std::size_t at,
                 std::size_t column) {
  return counts[at].size() >= counts[column].size() &&
         CountOf(counts, at, line[at]) <= CountOf(counts, column, line[column]);
}

// Whether a person could tell which record a line changed in `column` stands for. It must not
// equal any line of the original or of the session. And another record that took the new value
// must differ from the changed line in a cell that tells records apart as well as the changed
// one: otherwise matching by weighted cells might rightly take that record ("its only telling
// cell was the one changed"), so such sessions are not made. (A record that differs from the
// changed line in no more cells than its own record is a tie, which the check allows; see
// AcceptableBases.)
bool CanBeToldApart(const CellTable& table, const TableSession& session, const ValueCounts& counts,
                    std::size_t record, const std::vector<std::string>& changed,
                    std::size_t column) {
  if (std::ranges::find(table.lines, changed) != table.lines.end()) return false;
  for (const SessionLine& line : session.lines) {
    if (line.cells == changed) return false;
  }
  for (std::size_t other = 0; other < table.lines.size(); ++other) {
    const std::vector<std::string>& cells = table.lines[other];
    if (other == record || cells[column] != changed[column]) continue;
    bool told = false;
    for (std::size_t at = 0; at < cells.size() && !told; ++at)
      told = cells[at] != changed[at] && TellsAsWell(counts, changed, at, column);
    if (!told) return false;
  }
  return true;
}

// Whether a copy of a record's line with a new name is clearly built on that record: no other
// record's line differs from it in only one more cell, which a matching of lines with the
// records left over might take for that record renamed and changed. (One that differs in the
// name alone is a tie, which the check allows.)
bool CopyCanBeToldApart(const CellTable& table, std::size_t record,
                        const std::vector<std::string>& copy) {
  for (std::size_t other = 0; other < table.lines.size(); ++other) {
    if (other != record && CellsDiffering(table.lines[other], copy) == 2) return false;
  }
  return true;
}

// Changes one cell in one to three lines not changed yet, each to another valid value of its
// column that leaves the line's record recognisable.
void ChangeCells(const CellTable& table, const std::vector<ColumnRecipe>& columns,
                 TableSession& session, Random& random) {
  const ValueCounts counts = CountValues(table);
  for (std::size_t count = 1 + RandomBelow(random, 3); count > 0; --count) {
    for (int attempt = 0; attempt < 30; ++attempt) {
      const std::size_t index = RandomBelow(random, session.lines.size());
      const std::size_t column = RandomBelow(random, columns.size());
      const SessionLine& line = session.lines[index];
      if (line.change != LineChange::None) continue;
      std::vector<std::string> changed = line.cells;
      changed[column] =
          OtherValue(table, session, column, columns[column].kind, line.cells[column], random);
      if (!CanBeToldApart(table, session, counts, line.record, changed, column)) continue;
      ChangeCell(session, index, column, changed[column]);
      break;
    }
  }
}

// What a person might do to one table in a spreadsheet, in the order they would do it.
void EditTable(const CellTable& table, const std::vector<ColumnRecipe>& columns,
               const SessionSteps& steps, TableSession& session, Random& random) {
  if (steps.reorder) {
    const std::size_t how = RandomBelow(random, 4);
    if (how < 2) SortLines(session, RandomBelow(random, columns.size()), how == 1);
    if (how == 2) ReverseLines(session);
    if (how == 3) ShuffleLines(session, random);
  }
  if (steps.remove) {
    for (std::size_t count = RandomBelow(random, 3); count > 0 && session.lines.size() > 1; --count)
      RemoveLine(session, RandomBelow(random, session.lines.size()));
  }
  if (steps.change) ChangeCells(table, columns, session, random);
  if (steps.duplicate && RandomChance(random, 50)) {
    const std::size_t index = RandomBelow(random, session.lines.size());
    const SessionLine& source = session.lines[index];
    std::vector<std::string> copy = source.cells;
    copy[0] = NewName(table, session, 0, random);
    if (source.change == LineChange::None && CopyCanBeToldApart(table, source.record, copy)) {
      DuplicateLine(session, index, copy[0], RandomChance(random, 50));
    }
  }
}

std::vector<TableSession> EditTables(const Tool& tool, const std::vector<CellTable>& tables,
                                     const SessionSteps& steps, Random& random) {
  std::vector<TableSession> sessions = UneditedSessions(tool, tables);
  for (std::size_t table = 0; table < tables.size(); ++table) {
    if (tables[table].lines.empty()) continue;
    EditTable(tables[table], TableColumns(tool.kind, table), steps, sessions[table], random);
  }
  return sessions;
}

// ---- Step 4: pack.

std::string TableText(const TableSession& session) {
  std::string text = session.header + "\r\n";
  for (const SessionLine& line : session.lines)
    text += JoinedCells(line.cells) + "\r\n";
  return text;
}

// Writes the session's tables into `folder` and packs them onto the original as `target`.
PackResult PackSession(const Tool& tool, const std::vector<TableSession>& sessions,
                       const std::string& folder, const std::string& original,
                       const std::string& target) {
  std::filesystem::create_directories(folder);
  for (const TableSession& session : sessions)
    WriteWholeFile(folder + "/" + session.fileName, TableText(session));
  return Pack(tool, {original, folder, target});
}

// Writes the session's tables as a workbook's sheets, as a spreadsheet saves them, and packs
// the workbook onto the original as `target`.
PackResult PackSessionWorkbook(const Tool& tool, const std::vector<TableSession>& sessions,
                               const std::string& workbook, const std::string& original,
                               const std::string& target) {
  std::vector<TableLines> tables;
  for (const TableSession& session : sessions) {
    TableLines& lines = tables.emplace_back();
    for (const SessionLine& line : session.lines)
      lines.push_back(line.cells);
  }
  WriteTablesAsWorkbook(tool.format->walk, tool.tables, tables, workbook);
  return Pack(tool, {original, workbook, target});
}

// ---- Step 5: check.

// The table node of each line's record in NEW: its own record's, and for a copy that of the
// nearest line above that stands for a record (else below): a record stays in its node.
std::vector<std::size_t> NodesOfLines(const TableSession& session,
                                      const std::vector<std::size_t>& nodeOfRecord) {
  std::vector<std::size_t> nodes(session.lines.size(), kNoNode);
  std::size_t above = kNoNode;
  for (std::size_t index = 0; index < session.lines.size(); ++index) {
    const SessionLine& line = session.lines[index];
    if (line.change != LineChange::Duplicate) above = nodeOfRecord[line.record];
    nodes[index] = above;
  }
  std::size_t below = nodeOfRecord.empty() ? 0 : nodeOfRecord.front();
  for (std::size_t index = session.lines.size(); index-- > 0;) {
    const SessionLine& line = session.lines[index];
    if (line.change != LineChange::Duplicate) below = nodeOfRecord[line.record];
    if (nodes[index] == kNoNode) nodes[index] = below;
  }
  return nodes;
}

// The session's tables as NEW must read: each table node's lines in the session's order, the
// nodes in the original's order.
std::vector<TableSession> InNodeOrder(const Tool& tool, const std::vector<TableSession>& sessions,
                                      std::string_view originalBytes) {
  DatabaseTree original;
  if (!ReadDatabaseTree(tool.kind, originalBytes, original)) return sessions;
  const std::vector<std::vector<std::size_t>> nodes = TableNodesOfRecords(tool.kind, original);
  std::vector<TableSession> ordered = sessions;
  for (std::size_t table = 0; table < sessions.size(); ++table) {
    const std::vector<std::size_t> nodeOfLine = NodesOfLines(sessions[table], nodes[table]);
    std::vector<std::size_t> order(nodeOfLine.size());
    for (std::size_t at = 0; at < order.size(); ++at)
      order[at] = at;
    std::ranges::stable_sort(order, {}, [&](std::size_t at) { return nodeOfLine[at]; });
    for (std::size_t at = 0; at < order.size(); ++at)
      ordered[table].lines[at] = sessions[table].lines[order[at]];
  }
  return ordered;
}

// Every table node of NEW holds the records of the same lines as the original's node.
void CheckTableNodes(const Tool& tool, const std::vector<TableSession>& ordered,
                     const DatabaseTree& original, const DatabaseTree& packed,
                     std::vector<std::string>& differences) {
  const std::vector<std::vector<std::size_t>> was = TableNodesOfRecords(tool.kind, original);
  const std::vector<std::vector<std::size_t>> now = TableNodesOfRecords(tool.kind, packed);
  for (std::size_t table = 0; table < ordered.size(); ++table) {
    if (NodesOfLines(ordered[table], was[table]) != now[table])
      differences.push_back(ordered[table].fileName + ": records moved into other table nodes");
  }
}

bool IsList(const TreeNode& field) {
  return !field.value.empty() && field.value.front() == '\x01';
}

// The codes of the fields behind the cells in which `line` differs from `base`; of fields that
// share a column, those whose comma-separated piece differs.
std::set<std::uint8_t> FieldsBehindChangedCells(const std::vector<ColumnRecipe>& columns,
                                                const std::vector<std::string>& base,
                                                const std::vector<std::string>& line) {
  std::set<std::uint8_t> codes;
  for (std::size_t column = 0; column < columns.size(); ++column) {
    if (base[column] == line[column]) continue;
    const std::vector<std::uint8_t>& shared = columns[column].codes;
    if (shared.size() == 1) {
      codes.insert(shared.front());
      continue;
    }
    std::string before = base[column];
    std::string after = line[column];
    std::ranges::replace(before, ',', '\t');
    std::ranges::replace(after, ',', '\t');
    const std::vector<std::string> beforePieces = CellsOf(before);
    const std::vector<std::string> afterPieces = CellsOf(after);
    for (std::size_t piece = 0; piece < shared.size(); ++piece) {
      if (beforePieces.size() != shared.size() || afterPieces.size() != shared.size() ||
          beforePieces[piece] != afterPieces[piece]) {
        codes.insert(shared[piece]);
      }
    }
  }
  return codes;
}

// What makes `packed` other than the record `base` with only the fields of `changed` written
// anew, or empty: the same kind byte, the same fields in the same order with the same codes,
// the bytes of every other field, and the length forms of the record and of the changed fields
// where their new lengths fit them. A renamed field also keeps its list form.
std::string RecordDifference(std::string_view originalBytes, const TreeNode& base,
                             std::string_view newBytes, const TreeNode& packed,
                             const std::set<std::uint8_t>& changed, int renamedCode) {
  if (packed.kind != base.kind) {
    return "its kind byte is " + std::to_string(packed.kind) + ", the record's " +
           std::to_string(base.kind);
  }
  if (packed.children.size() != base.children.size()) {
    return "it has " + std::to_string(packed.children.size()) + " fields, the record " +
           std::to_string(base.children.size());
  }
  for (std::size_t index = 0; index < base.children.size(); ++index) {
    const TreeNode& was = base.children[index];
    const TreeNode& now = packed.children[index];
    const std::string field = "field code " + std::to_string(was.kind);
    if (now.kind != was.kind) {
      return "its field " + std::to_string(index + 1) + " has code " + std::to_string(now.kind) +
             ", the record's " + field;
    }
    if (!changed.contains(was.kind) && BytesOf(newBytes, now) != BytesOf(originalBytes, was)) {
      return field + ", whose cells did not change, is " + Hex(BytesOf(newBytes, now)) +
             " where the record had " + Hex(BytesOf(originalBytes, was));
    }
    if (!KeepsLengthForm(was, now)) return field + " lost its length form";
    if (was.kind == renamedCode && IsList(now) != IsList(was)) {
      return field + " lost its list form: " + Hex(now.value) + " from " + Hex(was.value);
    }
  }
  if (!KeepsLengthForm(base, packed)) return "the record lost its length form";
  if (changed.empty() && BytesOf(newBytes, packed) != BytesOf(originalBytes, base)) {
    return "its bytes are not the record's";
  }
  return {};
}

// The records a changed or copied line may be built on: its own, and any other record whose
// line differs from it in no more cells than its own record's line does. A person could not
// tell which of such records the line stands for, so the check allows any of them. Such ties
// are rare: names and codes are unique in most tables, and only the composed spell tables hold
// lines that share all but a cell or two (the same prototype with other modifiers).
std::vector<std::size_t> AcceptableBases(const CellTable& original, const SessionLine& line) {
  const std::size_t ownDifference = CellsDiffering(original.lines[line.record], line.cells);
  std::vector<std::size_t> bases = {line.record};
  for (std::size_t record = 0; record < original.lines.size(); ++record) {
    if (record != line.record &&
        CellsDiffering(original.lines[record], line.cells) <= ownDifference)
      bases.push_back(record);
  }
  return bases;
}

// Where a difference is: the table, the line and the record it came from.
std::string LinePlace(const TableSession& session, std::size_t index) {
  const SessionLine& line = session.lines[index];
  const char* how = line.change == LineChange::None      ? "unchanged"
                    : line.change == LineChange::Changed ? "changed"
                                                         : "a renamed copy";
  return session.fileName + " line " + LineNumber(index) + " (" + how + ", from line " +
         LineNumber(line.record) + " of the original): ";
}

// A database's bytes and the record nodes of each of its shown tables, in the order of their
// lines.
struct TableRecords {
  std::string_view bytes;
  std::vector<std::vector<const TreeNode*>> tables;
};

// Why NEW's record of a line is built neither on the record the line came from nor on one
// tied with it; empty when it is.
std::string LineDifference(const std::vector<ColumnRecipe>& columns, const CellTable& original,
                           const SessionLine& line, const std::vector<const TreeNode*>& records,
                           std::string_view originalBytes, const TreeNode& packed,
                           std::string_view newBytes) {
  const int renamedCode = line.change == LineChange::Duplicate ? columns[0].codes[0] : -1;
  const std::vector<std::size_t> bases = line.change == LineChange::None
                                             ? std::vector<std::size_t>{line.record}
                                             : AcceptableBases(original, line);
  std::string firstDifference;
  for (std::size_t base : bases) {
    const std::string difference = RecordDifference(
        originalBytes, *records[base], newBytes, packed,
        FieldsBehindChangedCells(columns, original.lines[base], line.cells), renamedCode);
    if (difference.empty()) return {};
    if (firstDifference.empty()) firstDifference = difference;
  }
  return firstDifference;
}

// Every line's record in NEW against the record it came from (the records of a table in NEW
// stand in the order of its lines, as NEW unpacks to the session's tables), and the records of
// deleted lines gone.
void CheckTableRecords(const Tool& tool, std::size_t table, const CellTable& original,
                       const TableSession& session, const TableRecords& originalRecords,
                       const TableRecords& newRecords, std::vector<std::string>& differences) {
  const std::vector<const TreeNode*>& was = originalRecords.tables[table];
  const std::vector<const TreeNode*>& now = newRecords.tables[table];
  if (now.size() != session.lines.size()) {
    differences.push_back(session.fileName + ": NEW holds " + std::to_string(now.size()) +
                          " records for " + std::to_string(session.lines.size()) + " lines");
    return;
  }
  const std::vector<ColumnRecipe>& columns = TableColumns(tool.kind, table);
  for (std::size_t index = 0; index < session.lines.size(); ++index) {
    const std::string difference =
        LineDifference(columns, original, session.lines[index], was, originalRecords.bytes,
                       *now[index], newRecords.bytes);
    if (!difference.empty()) differences.push_back(LinePlace(session, index) + difference);
  }
  for (std::size_t record : session.removed) {
    for (const TreeNode* packed : now) {
      if (BytesOf(newRecords.bytes, *packed) == BytesOf(originalRecords.bytes, *was[record])) {
        differences.push_back(session.fileName + ": the record of deleted line " +
                              LineNumber(record) + " of the original is still there");
      }
    }
  }
}

// NEW unpacks to exactly the session's tables.
void CheckUnpackedTables(const Tool& tool, const std::string& database, const std::string& folder,
                         const std::vector<TableSession>& sessions,
                         std::vector<std::string>& differences) {
  std::vector<CellTable> tables;
  std::string problem;
  if (!UnpackTables(tool, database, folder, tables, problem)) {
    differences.push_back("NEW: " + problem);
    return;
  }
  for (const TableSession& session : sessions) {
    const std::string text = ReadWholeFile(folder + "/" + session.fileName);
    if (text != TableText(session))
      differences.push_back(session.fileName + " of NEW is not the session's");
  }
}

// Checks the bytes of NEW against the session, record by record; returns what differs.
std::vector<std::string> CheckNewDatabase(const Tool& tool, const std::vector<CellTable>& tables,
                                          const std::vector<TableSession>& sessions,
                                          std::string_view originalBytes,
                                          std::string_view newBytes) {
  DatabaseTree original;
  DatabaseTree packed;
  if (!ReadDatabaseTree(tool.kind, originalBytes, original)) return {"the original is not sound"};
  if (!ReadDatabaseTree(tool.kind, newBytes, packed)) return {"NEW is not a sound database"};
  std::vector<std::string> differences =
      HiddenPartDifferences(tool.kind, original, originalBytes, packed, newBytes);
  const TableRecords originalRecords{originalBytes, RecordsOfTables(tool.kind, original)};
  const TableRecords newRecords{newBytes, RecordsOfTables(tool.kind, packed)};
  CheckTableNodes(tool, sessions, original, packed, differences);
  for (std::size_t table = 0; table < sessions.size(); ++table) {
    CheckTableRecords(tool, table, tables[table], sessions[table], originalRecords, newRecords,
                      differences);
  }
  const bool edited = std::ranges::any_of(
      sessions, [](const TableSession& session) { return !session.steps.empty(); });
  if (!edited && newBytes != originalBytes) {
    differences.push_back("NEW is not the original, though no table was edited");
  }
  return differences;
}

// ---- A whole session.

constexpr std::size_t kMostDifferencesShown = 6;

std::string Report(const Tool& tool, std::uint64_t seed, const std::vector<TableSession>& sessions,
                   const std::vector<std::string>& differences) {
  std::string report = std::string(tool.name) + " session, seed " + std::to_string(seed) +
                       " (UNPACKER_SESSION_SEED=" + std::to_string(seed) + " runs it alone):\n";
  for (const TableSession& session : sessions) {
    if (session.steps.empty()) continue;
    report += "  " + session.fileName + ":";
    for (const std::string& step : session.steps)
      report += " " + step + ";";
    report += "\n";
  }
  for (std::size_t index = 0; index < differences.size() && index < kMostDifferencesShown; ++index)
    report += "  - " + differences[index] + "\n";
  if (differences.size() > kMostDifferencesShown) {
    report += "  - and " + std::to_string(differences.size() - kMostDifferencesShown) + " more\n";
  }
  return report;
}

// Generates a database, unpacks it, edits its tables, packs them and checks NEW. Returns a
// report of what differed from the promise, or an empty text.
std::string RunSession(const Tool& tool, std::uint64_t seed, const SessionSteps& steps) {
  TempFolder folder;
  const std::string original = GenerateSessionDatabase(tool, seed, steps.records);
  WriteWholeFile(folder / "original", original);
  std::vector<CellTable> tables;
  std::string problem;
  if (!UnpackTables(tool, folder / "original", folder / "tables", tables, problem)) {
    return Report(tool, seed, {}, {"the generated database: " + problem});
  }
  Random random{seed * 7919 + 17};
  const std::vector<TableSession> sessions = EditTables(tool, tables, steps, random);
  const PackResult result =
      steps.throughWorkbook
          ? PackSessionWorkbook(tool, sessions, folder / "edited.xlsx", folder / "original",
                                folder / "new")
          : PackSession(tool, sessions, folder / "edited", folder / "original", folder / "new");
  if (result.status != kExitSuccess) {
    return Report(
        tool, seed, sessions,
        {"the packer ended with status " + std::to_string(result.status) + ": " + result.errors});
  }
  const std::vector<TableSession> ordered = InNodeOrder(tool, sessions, original);
  std::vector<std::string> differences =
      CheckNewDatabase(tool, tables, ordered, original, ReadWholeFile(folder / "new"));
  CheckUnpackedTables(tool, folder / "new", folder / "again", ordered, differences);
  return differences.empty() ? std::string() : Report(tool, seed, sessions, differences);
}

std::vector<std::uint64_t> Seeds(std::size_t count) {
  if (const char* seed = std::getenv("UNPACKER_SESSION_SEED")) return {std::stoull(seed)};
  std::vector<std::uint64_t> seeds;
  for (std::uint64_t seed = 1; seed <= count; ++seed)
    seeds.push_back(seed);
  return seeds;
}

// Runs `count` sessions on databases of the tool's kind; reports the first few that fail in full.
void ExpectSessionsKeepThePromise(const Tool& tool, const SessionSteps& steps,
                                  const std::vector<std::uint64_t>& seeds) {
  constexpr std::size_t kMostReportsShown = 6;
  std::size_t failed = 0;
  for (std::uint64_t seed : seeds) {
    const std::string report = RunSession(tool, seed, steps);
    if (report.empty()) continue;
    if (++failed <= kMostReportsShown) ADD_FAILURE() << report;
  }
  EXPECT_EQ(failed, 0u) << tool.name << " sessions failed of " << seeds.size();
}

void ExpectSessionsKeepThePromise(const Tool& tool, const SessionSteps& steps, std::size_t count) {
  ExpectSessionsKeepThePromise(tool, steps, Seeds(count));
}

// The first `count` seeds whose session database spreads a shown table over several table nodes.
std::vector<std::uint64_t> SeedsOfTablesInSeveralNodes(const Tool& tool, std::size_t count) {
  std::vector<std::uint64_t> seeds;
  for (std::uint64_t seed = 1; seeds.size() < count; ++seed) {
    DatabaseTree tree;
    if (!ReadDatabaseTree(tool.kind, GenerateSessionDatabase(tool, seed), tree)) continue;
    const std::vector<std::vector<std::size_t>> nodes = TableNodesOfRecords(tool.kind, tree);
    if (std::ranges::any_of(nodes, [](const std::vector<std::size_t>& table) {
          return !table.empty() && table.front() != table.back();
        })) {
      seeds.push_back(seed);
    }
  }
  return seeds;
}

constexpr SessionSteps kEverySessionStep = {
    .reorder = true, .remove = true, .change = true, .duplicate = true};

// The tables as unpacked: every generated database packs back byte for byte.
TEST(SpreadsheetSessionTest, UneditedTablesPackBackByteForByte) {
  for (const Tool* tool : {&kSpells, &kQuests})
    ExpectSessionsKeepThePromise(*tool, {}, kFewCases ? 5 : 20);
}

// Cells changed where they stand, nothing moved: only the fields behind them change.
TEST(SpreadsheetSessionTest, CellsChangedInPlaceChangeOnlyTheirFields) {
  for (const Tool* tool : {&kSpells, &kQuests})
    ExpectSessionsKeepThePromise(*tool, {.change = true}, kFewCases ? 5 : 30);
}

// Sorted or reversed, lines deleted, cells changed, lines copied and renamed: every record
// keeps what its line does not change.
TEST(SpreadsheetSessionTest, SpellSessionsKeepWhatTheirLinesDoNotChange) {
  ExpectSessionsKeepThePromise(kSpells, kEverySessionStep, kFewCases ? 15 : 80);
}

TEST(SpreadsheetSessionTest, QuestSessionsKeepWhatTheirLinesDoNotChange) {
  ExpectSessionsKeepThePromise(kQuests, kEverySessionStep, kFewCases ? 15 : 80);
}

// The same sessions in a workbook saved by a spreadsheet: its numbers are number cells.
TEST(SpreadsheetSessionTest, SessionsHoldThroughAWorkbook) {
  SessionSteps steps = kEverySessionStep;
  steps.throughWorkbook = true;
  for (const Tool* tool : {&kSpells, &kQuests})
    ExpectSessionsKeepThePromise(*tool, steps, kFewCases ? 8 : 40);
}

// Tables of thousands of lines, whose lines the packer compares with their records on two
// threads, half each: through a workbook every line with a float its table does not show
// exactly is compared, on either thread.
TEST(SpreadsheetSessionTest, SessionsOfLargeTablesHold) {
  for (const bool throughWorkbook : {false, true}) {
    SessionSteps steps = kEverySessionStep;
    steps.throughWorkbook = throughWorkbook;
    steps.records = 5000;
    for (const Tool* tool : {&kSpells, &kQuests})
      ExpectSessionsKeepThePromise(*tool, steps, 1);
  }
}

// Tables sorted, reversed or shuffled (and edited) where a table's records lie in several
// database nodes: every record stays in its table node, and so in its database node.
TEST(SpreadsheetSessionTest, SortingQuestTablesKeepsEachRecordInItsDatabaseNode) {
  const std::vector<std::uint64_t> seeds = SeedsOfTablesInSeveralNodes(kQuests, kFewCases ? 6 : 30);
  ExpectSessionsKeepThePromise(kQuests, {.reorder = true}, seeds);
  ExpectSessionsKeepThePromise(kQuests, kEverySessionStep, seeds);
}

// A mod made of a generated database is sound, unpacks and is not the database.
TEST(SpreadsheetSessionTest, ModsOfGeneratedDatabasesAreSoundAndUnpack) {
  for (const Tool* tool : {&kSpells, &kQuests}) {
    for (std::uint64_t seed = 1; seed <= (kFewCases ? 3u : 10u); ++seed) {
      SCOPED_TRACE(std::string(tool->name) + " seed " + std::to_string(seed));
      const std::string database = GenerateSessionDatabase(*tool, seed);
      const std::string mod = MakeModDatabase(tool->kind, database, seed);
      DatabaseTree tree;
      EXPECT_TRUE(ReadDatabaseTree(tool->kind, mod, tree));
      EXPECT_TRUE(mod != database) << "the mod changes nothing";
      TempFolder folder;
      WriteWholeFile(folder / "mod", mod);
      std::vector<CellTable> tables;
      std::string problem;
      EXPECT_TRUE(UnpackTables(*tool, folder / "mod", folder / "tables", tables, problem))
          << problem;
    }
  }
}

// ---- Named sessions on the samples.

// Packs the sessions onto the sample and checks NEW; returns its bytes.
std::string PackAndCheck(const Tool& tool, const std::vector<CellTable>& tables,
                         const std::vector<TableSession>& sessions, const TempFolder& folder) {
  const PackResult result =
      PackSession(tool, sessions, folder / "edited", tool.sample, folder / "new");
  EXPECT_EQ(result.status, kExitSuccess) << result.errors;
  const std::string packed = ReadWholeFile(folder / "new");
  const std::string sample = ReadWholeFile(tool.sample);
  const std::vector<TableSession> ordered = InNodeOrder(tool, sessions, sample);
  std::vector<std::string> differences = CheckNewDatabase(tool, tables, ordered, sample, packed);
  CheckUnpackedTables(tool, folder / "new", folder / "again", ordered, differences);
  for (const std::string& difference : differences)
    ADD_FAILURE() << difference;
  return packed;
}

// The weapon spells begin with two flame arrows. Deleting the first and changing the power of
// the second, which then stands where the first stood, removes the first record and changes
// one field of the second: NEW is the sample without the one and with "5" for "3" in the other.
TEST(SpreadsheetSessionTest, ADeletedLineAndAChangedNextLineChangeOnlyTheirRecords) {
  TempFolder folder;
  std::vector<CellTable> tables;
  std::string problem;
  ASSERT_TRUE(UnpackTables(kSpells, kSpells.sample, folder / "tables", tables, problem)) << problem;
  constexpr std::size_t kWeapons = 4;
  std::vector<TableSession> sessions = UneditedSessions(kSpells, tables);
  TableSession& weapons = sessions[kWeapons];
  ASSERT_EQ(JoinedCells(weapons.lines[1].cells), "flame_arrow\tburn,pierce\t\t3\t\t\t\t1\t");
  RemoveLine(weapons, 0);
  ChangeCell(weapons, 0, 3, "5");
  const std::string packed = PackAndCheck(kSpells, tables, sessions, folder);

  DatabaseTree expected;
  ASSERT_TRUE(ReadDatabaseTree(DatabaseKind::Spells, ReadWholeFile(kSpells.sample), expected));
  std::vector<TreeNode>& records = expected.databases[0].children[kWeapons].children;
  records.erase(records.begin());
  TreeNode& power = records[0].children[3];
  ASSERT_EQ(power.kind, 4);
  power.value = TextPayload("5");
  const std::string expectedBytes = WriteDatabaseTree(expected);
  const auto [at, ignored] = std::ranges::mismatch(packed, expectedBytes);
  EXPECT_TRUE(packed == expectedBytes)
      << "NEW differs from the expected database first @" << (at - packed.begin());
}

// A table of a sample reversed and one cell changed in the middle line: every record keeps its
// bytes, only the field behind that cell changes.
TEST(SpreadsheetSessionTest, AReversedTableWithOneChangedCellChangesOnlyThatField) {
  const struct {
    const Tool* tool;
    std::size_t table;
    std::size_t column;
    std::string value;
  } cases[] = {
      {&kSpells, 0, 5, "13.5"},    // SpellPrototypes, Mana
      {&kSpells, 1, 7, "Temple"},  // SpellModifiers, Shop
      {&kSpells, 2, 3, "9"},       // S_Spells, Power
      {&kSpells, 3, 2, "echo"},    // S_Armors, Optional
      {&kSpells, 4, 4, ""},        // S_Weapons, Shop 1
      {&kQuests, 0, 3, "7"},       // Briefing, Zone
      {&kQuests, 1, 1, "275"},     // Quests, Exp
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.tool->tables[test.table].fileName));
    TempFolder folder;
    std::vector<CellTable> tables;
    std::string problem;
    ASSERT_TRUE(UnpackTables(*test.tool, test.tool->sample, folder / "tables", tables, problem))
        << problem;
    std::vector<TableSession> sessions = UneditedSessions(*test.tool, tables);
    TableSession& session = sessions[test.table];
    ReverseLines(session);
    const std::size_t middle = session.lines.size() / 2;
    ASSERT_NE(session.lines[middle].cells[test.column], test.value);
    ChangeCell(session, middle, test.column, test.value);
    PackAndCheck(*test.tool, tables, sessions, folder);
  }
}

}  // namespace
