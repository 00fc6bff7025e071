// Several sources packed together: folders of tables edited as in a spreadsheet and mods'
// databases, each compared with the original on its own and merged cell by cell in load order.
// On generated databases the test knows which record each source's line stands for, merges the
// tables itself and checks NEW's tables, its bytes and --strict against that; then the README's
// example on the spell sample, and the sources that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
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

// ---- Tables as cells.

using Cells = std::vector<std::string>;

std::string TableText(const std::string& header, const std::vector<Cells>& lines) {
  std::string text = header + "\r\n";
  for (const Cells& line : lines)
    text += JoinedCells(line) + "\r\n";
  return text;
}

// The number of conflicts the summary gives ("0 conflicts", "1 conflict:"), or -1.
long ConflictsInSummary(const std::string& output) {
  for (std::size_t start = 0; start < output.size();) {
    const std::size_t end = output.find('\n', start);
    const std::string line = output.substr(start, end - start);
    const std::size_t space = line.find(' ');
    const std::string words = space == std::string::npos ? "" : line.substr(space);
    if (space > 0 && (words == " conflicts" || words == " conflict:" || words == " conflicts:") &&
        line.find_first_not_of("0123456789") == space) {
      return std::stol(line.substr(0, space));
    }
    start = end == std::string::npos ? output.size() : end + 1;
  }
  return -1;
}

// ---- Sources as the test makes them.

// A line of a source and the original's record behind it: the record it stands for, or the one
// it is a renamed copy of.
struct SourceLine {
  Cells cells;
  std::size_t record = 0;
  bool copy = false;
};

using SourceTable = std::vector<SourceLine>;

struct Source {
  bool database = false;
  std::vector<SourceTable> tables;
  std::string bytes;  // a database source's
};

// A database's bytes, its node tree and the record nodes of its shown tables, in line order.
struct ParsedDatabase {
  std::string_view bytes;
  DatabaseTree tree;
  std::vector<std::vector<const TreeNode*>> records;
};

bool Parse(DatabaseKind kind, std::string_view bytes, ParsedDatabase& parsed) {
  parsed.bytes = bytes;
  if (!ReadDatabaseTree(kind, bytes, parsed.tree)) return false;
  parsed.records = RecordsOfTables(kind, parsed.tree);
  return true;
}

// ---- Lines a person can pair with their records.

// How much the cells a line shares with a record's line tell that record apart: a shared value
// that k of the table's n records hold in its column weighs log2((n + 1) / k) bits, so a value
// no other record holds weighs most.
struct ValueCounts {
  std::vector<std::map<std::string, std::size_t>> ofColumn;
  double threshold = 0;  // log2(n + 1): one value no other record holds
};

ValueCounts CountValues(const CellTable& table) {
  ValueCounts counts;
  counts.ofColumn.resize(CellsOf(table.header).size());
  for (const Cells& line : table.lines) {
    for (std::size_t column = 0; column < line.size() && column < counts.ofColumn.size(); ++column)
      ++counts.ofColumn[column][line[column]];
  }
  counts.threshold = std::log2(static_cast<double>(table.lines.size() + 1));
  return counts;
}

double Resemblance(const ValueCounts& counts, const Cells& line, const Cells& record) {
  double weight = 0;
  for (std::size_t column = 0; column < line.size() && column < record.size(); ++column) {
    if (line[column] != record[column]) continue;
    const auto found = counts.ofColumn[column].find(line[column]);
    weight += counts.threshold - std::log2(static_cast<double>(found->second));
  }
  return weight;
}

std::size_t CellsDiffering(const Cells& a, const Cells& b) {
  std::size_t count = 0;
  for (std::size_t column = 0; column < a.size() && column < b.size(); ++column)
    if (a[column] != b[column]) ++count;
  return count;
}

// By how many bits a line must resemble its record more than anything that could take its
// place: well beyond the rounding of any weighing.
constexpr double kClearMargin = 1.0;

// Whether a person could tell what a changed line or a copy of a source stands for, without
// doubt: it equals no line of the original nor another line of the source; a changed line
// resembles its record by more than one unique value's weight and clearly more than it
// resembles any other record, and than any other changed line or copy resembles its record; a
// copy is of a record whose line the source keeps as it is, resembles it by more than one unique
// value's weight and clearly more than any other record, from which it differs in two cells at
// least. Cases that fail this are not made: the line is put back as it was, or the copy left out.
bool IsClear(const CellTable& original, const ValueCounts& counts, const SourceTable& lines,
             std::size_t at) {
  const SourceLine& line = lines[at];
  const Cells& own = original.lines[line.record];
  if (std::ranges::find(original.lines, line.cells) != original.lines.end()) return false;
  for (std::size_t other = 0; other < lines.size(); ++other) {
    if (other != at && lines[other].cells == line.cells) return false;
  }
  const double resemblance = Resemblance(counts, line.cells, own);
  if (resemblance < counts.threshold + kClearMargin) return false;
  for (std::size_t record = 0; record < original.lines.size(); ++record) {
    if (record == line.record) continue;
    const Cells& other = original.lines[record];
    if (Resemblance(counts, line.cells, other) + kClearMargin > resemblance) return false;
    if (line.copy && CellsDiffering(line.cells, other) < 2) return false;
  }
  if (line.copy) {
    return std::ranges::any_of(lines, [&](const SourceLine& kept) {
      return !kept.copy && kept.record == line.record && kept.cells == own;
    });
  }
  for (std::size_t other = 0; other < lines.size(); ++other) {
    const SourceLine& rival = lines[other];
    const bool remaining = rival.copy || rival.cells != original.lines[rival.record];
    if (other != at && remaining &&
        Resemblance(counts, rival.cells, own) + kClearMargin > resemblance) {
      return false;
    }
  }
  return true;
}

// What becomes of a source's line that is not clear: kept, put back as its record's, or left out.
enum class LineFate : std::uint8_t { Kept, PutBack, LeftOut };

// The fate of each line of a source table: the lines that are not clear (IsClear) put back or
// left out, until every line is.
std::vector<LineFate> ClearFates(const CellTable& original, const SourceTable& lines) {
  const ValueCounts counts = CountValues(original);
  std::vector<LineFate> fates(lines.size(), LineFate::Kept);
  SourceTable current = lines;
  std::vector<std::size_t> places(lines.size());  // of each current line in `lines`
  for (std::size_t at = 0; at < places.size(); ++at)
    places[at] = at;
  for (bool changed = true; changed;) {
    changed = false;
    SourceTable next;
    std::vector<std::size_t> nextPlaces;
    for (std::size_t at = 0; at < current.size(); ++at) {
      SourceLine line = current[at];
      const bool edited = line.copy || line.cells != original.lines[line.record];
      if (edited && !IsClear(original, counts, current, at)) {
        changed = true;
        fates[places[at]] = line.copy ? LineFate::LeftOut : LineFate::PutBack;
        if (line.copy) continue;
        line.cells = original.lines[line.record];
      }
      next.push_back(std::move(line));
      nextPlaces.push_back(places[at]);
    }
    current = std::move(next);
    places = std::move(nextPlaces);
  }
  return fates;
}

void ApplyFates(const CellTable& original, const std::vector<LineFate>& fates, SourceTable& lines) {
  SourceTable kept;
  for (std::size_t at = 0; at < lines.size(); ++at) {
    if (fates[at] == LineFate::LeftOut) continue;
    kept.push_back(std::move(lines[at]));
    if (fates[at] == LineFate::PutBack) kept.back().cells = original.lines[kept.back().record];
  }
  lines = std::move(kept);
}

// ---- Mods' databases.

// A mod of the original made by MakeModDatabase, its lines as the unpacker writes them and their
// records; records whose lines are not clear are put back as the original has them, copies that
// are not clear left out.
bool MakeModSource(const Tool& tool, const std::vector<CellTable>& original,
                   const ParsedDatabase& originalDatabase, std::uint64_t seed,
                   const std::string& folder, Source& source, std::string& problem) {
  std::vector<std::vector<ModRecordOrigin>> origins;
  source.database = true;
  source.bytes = MakeModDatabase(tool.kind, originalDatabase.bytes, seed, &origins);
  WriteWholeFile(folder + ".db", source.bytes);
  std::vector<CellTable> tables;
  if (!UnpackTables(tool, folder + ".db", folder, tables, problem)) return false;
  std::vector<std::vector<LineFate>> fates;
  bool unclear = false;
  for (std::size_t table = 0; table < tables.size(); ++table) {
    if (tables[table].lines.size() != origins[table].size()) {
      problem = "the mod's " + std::string(tool.tables[table].fileName) + " has " +
                std::to_string(tables[table].lines.size()) + " lines for " +
                std::to_string(origins[table].size()) + " records";
      return false;
    }
    SourceTable lines;
    for (std::size_t line = 0; line < tables[table].lines.size(); ++line) {
      const ModRecordOrigin& origin = origins[table][line];
      lines.push_back({tables[table].lines[line], origin.record, origin.copy});
    }
    fates.push_back(ClearFates(original[table], lines));
    unclear = unclear || std::ranges::any_of(fates.back(),
                                             [](LineFate fate) { return fate != LineFate::Kept; });
    ApplyFates(original[table], fates.back(), lines);
    source.tables.push_back(std::move(lines));
  }
  if (!unclear) return true;
  // The mod's records with the same fates.
  DatabaseTree tree;
  if (!ReadDatabaseTree(tool.kind, source.bytes, tree)) {
    problem = "the mod is not sound";
    return false;
  }
  std::vector<std::size_t> seen(tables.size(), 0);
  for (TreeNode& databaseNode : tree.databases) {
    for (TreeNode& tableNode : databaseNode.children) {
      const int shown = ShownTableOf(tool.kind, databaseNode.kind, tableNode.kind);
      if (shown < 0) continue;
      const auto table = static_cast<std::size_t>(shown);
      std::vector<TreeNode> records;
      for (TreeNode& record : tableNode.children) {
        const std::size_t line = seen[table]++;
        const LineFate fate = fates[table][line];
        if (fate == LineFate::LeftOut) continue;
        records.push_back(fate == LineFate::Kept
                              ? std::move(record)
                              : *originalDatabase.records[table][origins[table][line].record]);
      }
      tableNode.children = std::move(records);
    }
  }
  source.bytes = WriteDatabaseTree(tree);
  return true;
}

// ---- Folders of edited tables.

// What the sources made so far did to one record: removed it, changed it, and the values they
// gave each column they changed.
struct EarlierTouches {
  bool removed = false;
  bool changed = false;
  std::map<std::size_t, std::set<std::string>> cells;
};

// Fresh names for a case: no table holds them.
struct FreshNames {
  std::size_t next = 1;
};

std::string FreshName(FreshNames& names) {
  return "Renamed " + std::to_string(names.next++);
}

// Another valid value for a cell of the column, none of `avoided`: a fresh name for names and
// codes, otherwise a value another line of the original holds in the column (so that every
// value has one text: the one the unpacker writes); nothing when the column holds no other.
std::optional<std::string> OtherValue(const CellTable& original, CellKind kind, std::size_t column,
                                      const std::set<std::string>& avoided, FreshNames& names,
                                      Random& random) {
  if (kind == CellKind::UniqueText) return FreshName(names);
  std::vector<std::string> values;
  for (const Cells& line : original.lines) {
    if (!avoided.contains(line[column]) && std::ranges::find(values, line[column]) == values.end())
      values.push_back(line[column]);
  }
  if (values.empty()) return std::nullopt;
  return values[RandomBelow(random, values.size())];
}

// A folder's table while it is edited: each record's line or none (deleted), and the copies
// after it.
struct TableEdit {
  const CellTable& original;
  const std::vector<ColumnRecipe>& columns;
  const std::vector<EarlierTouches>& earlier;
  std::vector<std::optional<Cells>> lines;
  std::vector<std::vector<SourceLine>> copiesAfter;  // each copy's cells and record
};

bool Changed(const TableEdit& edit, std::size_t record) {
  return edit.lines[record] && *edit.lines[record] != edit.original.lines[record];
}

// Changes a cell of the record to a value none of `avoided` and not the original's; false when
// the column holds no such value.
bool ChangeCell(TableEdit& edit, std::size_t record, std::size_t column,
                std::set<std::string> avoided, FreshNames& names, Random& random) {
  avoided.insert(edit.original.lines[record][column]);
  const std::optional<std::string> value =
      OtherValue(edit.original, edit.columns[column].kind, column, avoided, names, random);
  if (!value || !edit.lines[record]) return false;
  (*edit.lines[record])[column] = *value;
  return true;
}

// A record that `wanted` accepts, or none.
template <typename Wanted>
std::optional<std::size_t> PickRecord(const TableEdit& edit, Random& random, Wanted wanted) {
  std::vector<std::size_t> records;
  for (std::size_t record = 0; record < edit.lines.size(); ++record) {
    if (wanted(record)) records.push_back(record);
  }
  if (records.empty()) return std::nullopt;
  return records[RandomBelow(random, records.size())];
}

// One conflict with the sources made so far: a cell they changed given a third value, a record
// they removed changed, or a record they changed removed; whichever of them the table allows.
void MakeConflict(TableEdit& edit, FreshNames& names, Random& random) {
  const std::size_t first = RandomBelow(random, 3);
  for (std::size_t attempt = 0; attempt < 3; ++attempt) {
    const std::size_t how = (first + attempt) % 3;
    const auto record = PickRecord(edit, random, [&](std::size_t at) {
      const EarlierTouches& touches = edit.earlier[at];
      return edit.lines[at] && (how == 0   ? !touches.cells.empty()
                                : how == 1 ? touches.removed
                                           : touches.changed);
    });
    if (!record) continue;
    const EarlierTouches& touches = edit.earlier[*record];
    if (how == 0) {
      auto cell = touches.cells.begin();
      std::advance(cell, static_cast<std::ptrdiff_t>(RandomBelow(random, touches.cells.size())));
      if (ChangeCell(edit, *record, cell->first, cell->second, names, random)) return;
    } else if (how == 1) {
      if (ChangeCell(edit, *record, RandomBelow(random, edit.columns.size()), {}, names, random))
        return;
    } else {
      edit.lines[*record].reset();
      return;
    }
  }
}

// A cell of a record the sources made so far changed: another cell, or the same cell to the
// same value as theirs. No conflict.
void ChangeBeside(TableEdit& edit, FreshNames& names, Random& random) {
  const auto record = PickRecord(edit, random, [&](std::size_t at) {
    return edit.lines[at] && edit.earlier[at].changed && !edit.earlier[at].removed;
  });
  if (!record) return;
  const EarlierTouches& touches = edit.earlier[*record];
  const std::size_t column = RandomBelow(random, edit.columns.size());
  const auto theirs = touches.cells.find(column);
  if (theirs == touches.cells.end()) {
    ChangeCell(edit, *record, column, {}, names, random);
  } else if (theirs->second.size() == 1) {
    (*edit.lines[*record])[column] = *theirs->second.begin();
  }
}

// A cell of a record no source made so far removed, in a column none of them changed.
void ChangeFreely(TableEdit& edit, FreshNames& names, Random& random) {
  const auto record = PickRecord(
      edit, random, [&](std::size_t at) { return edit.lines[at] && !edit.earlier[at].removed; });
  if (!record) return;
  const std::size_t column = RandomBelow(random, edit.columns.size());
  if (!edit.earlier[*record].cells.contains(column))
    ChangeCell(edit, *record, column, {}, names, random);
}

// A record that no source made so far changed, and this one neither.
void RemoveFreely(TableEdit& edit, Random& random) {
  const auto record = PickRecord(edit, random, [&](std::size_t at) {
    return edit.lines[at] && !edit.earlier[at].changed && !Changed(edit, at);
  });
  if (record) edit.lines[*record].reset();
}

// A copy of an unchanged line with a fresh first cell right after its record, or now and then
// a line that a source made so far added (`copies`: their cells and records), after its record
// or another.
void CopyLine(TableEdit& edit, const std::vector<SourceLine>& copies, FreshNames& names,
              Random& random) {
  const auto unchanged = [&](std::size_t at) { return edit.lines[at] && !Changed(edit, at); };
  if (!copies.empty() && RandomChance(random, 40)) {
    const SourceLine& copy = copies[RandomBelow(random, copies.size())];
    if (!unchanged(copy.record)) return;
    const auto elsewhere = PickRecord(edit, random, [&](std::size_t at) { return edit.lines[at]; });
    const bool moved = elsewhere && RandomChance(random, 50);
    edit.copiesAfter[moved ? *elsewhere : copy.record].push_back(copy);
    return;
  }
  const auto record = PickRecord(edit, random, unchanged);
  if (!record) return;
  Cells copy = edit.original.lines[*record];
  copy[0] = FreshName(names);
  edit.copiesAfter[*record].push_back({std::move(copy), *record, true});
}

// A folder's table, edited as in a spreadsheet without sorting: cells changed (some beside the
// changes of the sources made so far, the same cells to the same values or other cells), lines
// deleted, renamed copies after their records, and with `conflict` one conflict with those
// sources. Lines that are not clear are put back or left out.
SourceTable EditTable(const CellTable& original, const std::vector<ColumnRecipe>& columns,
                      const std::vector<EarlierTouches>& earlier,
                      const std::vector<SourceLine>& earlierCopies, bool conflict,
                      FreshNames& names, Random& random) {
  TableEdit edit{original, columns, earlier, {}, {}};
  for (const Cells& line : original.lines)
    edit.lines.emplace_back(line);
  edit.copiesAfter.resize(original.lines.size());
  if (conflict) MakeConflict(edit, names, random);
  for (std::size_t count = RandomBelow(random, 3); count > 0; --count)
    ChangeBeside(edit, names, random);
  for (std::size_t count = RandomBelow(random, 3); count > 0; --count)
    ChangeFreely(edit, names, random);
  if (RandomChance(random, 40)) RemoveFreely(edit, random);
  if (RandomChance(random, 50)) CopyLine(edit, earlierCopies, names, random);
  SourceTable lines;
  for (std::size_t record = 0; record < original.lines.size(); ++record) {
    if (edit.lines[record]) lines.push_back({*edit.lines[record], record, false});
    for (const SourceLine& copy : edit.copiesAfter[record])
      lines.push_back(copy);
  }
  ApplyFates(original, ClearFates(original, lines), lines);
  return lines;
}

// ---- What each source did, each compared with the original on its own.

// What one source did to one record of the original.
struct Touch {
  std::size_t source = 0;
  std::size_t line = 0;  // its line that stands for the record (not removed)
  bool removed = false;
  std::map<std::size_t, std::string> cells;   // changed columns and their cells
  std::map<std::size_t, std::string> fields;  // a database's changed fields (by place), as bytes
  std::optional<std::pair<std::uint8_t, bool>> header;  // a database's other kind or length form
};

// A line a source adds, after the original record of the nearest line above it that stands for
// one (none: the table's top).
struct Addition {
  std::size_t source = 0;
  std::size_t line = 0;
  Cells cells;
  std::optional<std::size_t> after;
};

struct TableTouches {
  std::vector<std::vector<Touch>> ofRecord;  // per record, in the order the sources are given
  std::vector<Addition> added;
};

// A database source's record against the original's: the fields and the header it changed.
void AddStoredChanges(std::string_view originalBytes, const TreeNode& was,
                      std::string_view sourceBytes, const TreeNode& now, Touch& touch) {
  if (BytesOf(originalBytes, was) == BytesOf(sourceBytes, now)) return;
  if (now.kind != was.kind || now.longForm != was.longForm) {
    touch.header = std::pair{now.kind, now.longForm};
  }
  for (std::size_t field = 0; field < was.children.size() && field < now.children.size(); ++field) {
    const std::string_view bytes = BytesOf(sourceBytes, now.children[field]);
    if (BytesOf(originalBytes, was.children[field]) != bytes)
      touch.fields[field] = std::string(bytes);
  }
}

// Adds what the source did to one table: every record it changed or removed, every line it added.
void AddTouches(std::size_t index, const Source& source, const CellTable& original,
                const ParsedDatabase& originalDatabase, const ParsedDatabase* sourceDatabase,
                std::size_t table, TableTouches& touches) {
  const SourceTable& lines = source.tables[table];
  std::vector<bool> present(original.lines.size(), false);
  std::optional<std::size_t> after;
  for (std::size_t line = 0; line < lines.size(); ++line) {
    const SourceLine& at = lines[line];
    if (at.copy) {
      touches.added.push_back({index, line, at.cells, after});
      continue;
    }
    after = at.record;
    present[at.record] = true;
    Touch touch{index, line, false, {}, {}, {}};
    const Cells& was = original.lines[at.record];
    for (std::size_t column = 0; column < was.size(); ++column) {
      if (at.cells[column] != was[column]) touch.cells[column] = at.cells[column];
    }
    if (sourceDatabase != nullptr) {
      AddStoredChanges(originalDatabase.bytes, *originalDatabase.records[table][at.record],
                       sourceDatabase->bytes, *sourceDatabase->records[table][line], touch);
    }
    if (!touch.cells.empty() || !touch.fields.empty() || touch.header)
      touches.ofRecord[at.record].push_back(std::move(touch));
  }
  for (std::size_t record = 0; record < present.size(); ++record) {
    if (!present[record]) touches.ofRecord[record].push_back({index, 0, true, {}, {}, {}});
  }
}

// The touches of every source to every table, the sources given in load order; `parsed` holds
// each database source's parse (none for a folder).
std::vector<TableTouches> TouchesOf(const std::vector<CellTable>& original,
                                    const ParsedDatabase& originalDatabase,
                                    const std::vector<const Source*>& sources,
                                    const std::vector<const ParsedDatabase*>& parsed) {
  std::vector<TableTouches> touches(original.size());
  for (std::size_t table = 0; table < original.size(); ++table) {
    touches[table].ofRecord.resize(original[table].lines.size());
    for (std::size_t source = 0; source < sources.size(); ++source) {
      AddTouches(source, *sources[source], original[table], originalDatabase, parsed[source], table,
                 touches[table]);
    }
  }
  return touches;
}

// ---- The merge, as the rules state it.

// What the merge makes of one record of the original.
struct MergedRecord {
  bool removed = false;
  bool touched = false;
  Cells cells;
  std::set<std::size_t> changedColumns;
  std::set<std::size_t> changedFields;               // by a database source
  std::map<std::size_t, const Touch*> fieldWinners;  // the touch whose bytes a field takes
  const Touch* headerWinner = nullptr;
};

// A line of the merged table: a record of the original, or a line a source added.
struct MergedLine {
  Cells cells;
  std::optional<std::size_t> record;
  const Addition* addition = nullptr;
};

struct MergedTable {
  std::vector<MergedRecord> records;
  std::vector<MergedLine> lines;
};

struct Merge {
  std::vector<MergedTable> tables;
  std::vector<std::string> conflicts;  // in words, for reports
  std::size_t mergedRecords = 0;       // records several sources changed, without a conflict
};

// Whether the values that several sources gave one thing differ.
template <typename Value>
bool Disagree(const std::vector<Value>& values) {
  return std::ranges::any_of(values, [&](const Value& value) { return value != values.front(); });
}

// One record: a removal against a change takes the later verdict, a conflict; a record that
// stays takes every change, and where sources gave one cell, field or header different values
// the later one, a conflict each.
MergedRecord MergeRecord(const Cells& original, const std::vector<Touch>& touches,
                         const std::string& where, std::vector<std::string>& conflicts) {
  MergedRecord merged;
  merged.cells = original;
  merged.touched = !touches.empty();
  if (touches.empty()) return merged;
  const bool anyRemoval = std::ranges::any_of(touches, [](const Touch& t) { return t.removed; });
  const bool anyChange = std::ranges::any_of(touches, [](const Touch& t) { return !t.removed; });
  if (anyRemoval && anyChange) conflicts.push_back(where + ": removed and changed");
  merged.removed = touches.back().removed;
  if (merged.removed) return merged;
  std::map<std::size_t, std::vector<std::string>> cells;
  std::map<std::size_t, std::vector<std::string>> fields;
  std::vector<std::pair<std::uint8_t, bool>> headers;
  for (const Touch& touch : touches) {
    for (const auto& [column, cell] : touch.cells) {
      cells[column].push_back(cell);
      merged.cells[column] = cell;
      merged.changedColumns.insert(column);
    }
    for (const auto& [field, bytes] : touch.fields) {
      fields[field].push_back(bytes);
      merged.changedFields.insert(field);
      merged.fieldWinners[field] = &touch;
    }
    if (touch.header) {
      headers.push_back(*touch.header);
      merged.headerWinner = &touch;
    }
  }
  for (const auto& [column, values] : cells) {
    if (Disagree(values)) conflicts.push_back(where + ", column " + std::to_string(column + 1));
  }
  for (const auto& [field, values] : fields) {
    if (Disagree(values)) conflicts.push_back(where + ", field " + std::to_string(field + 1));
  }
  if (Disagree(headers)) conflicts.push_back(where + ": the record's header");
  return merged;
}

// The merged table: the records that stay in the original's order, and each line added once
// (a line that several sources added, where the later one put it) after the record it follows
// in its source, or the nearest one before that record that stays.
void OrderLines(const TableTouches& touches, MergedTable& merged) {
  std::vector<const Addition*> added;
  for (const Addition& addition : touches.added) {
    const bool laterAddsIt = std::ranges::any_of(touches.added, [&](const Addition& other) {
      return other.source > addition.source && other.cells == addition.cells;
    });
    if (!laterAddsIt) added.push_back(&addition);
  }
  auto placeOf = [&](const Addition& addition) {
    std::optional<std::size_t> after = addition.after;
    while (after && merged.records[*after].removed)
      after = *after == 0 ? std::nullopt : std::optional<std::size_t>(*after - 1);
    return after;
  };
  auto addAfter = [&](std::optional<std::size_t> record) {
    for (const Addition* addition : added) {
      if (placeOf(*addition) == record) merged.lines.push_back({addition->cells, {}, addition});
    }
  };
  addAfter(std::nullopt);
  for (std::size_t record = 0; record < merged.records.size(); ++record) {
    if (merged.records[record].removed) continue;
    merged.lines.push_back({merged.records[record].cells, record, nullptr});
    addAfter(record);
  }
}

Merge MergeSources(const Tool& tool, const std::vector<CellTable>& original,
                   const std::vector<TableTouches>& touches) {
  Merge merge;
  for (std::size_t table = 0; table < original.size(); ++table) {
    MergedTable merged;
    for (std::size_t record = 0; record < original[table].lines.size(); ++record) {
      const std::string where = std::string(tool.tables[table].fileName) + " line " +
                                std::to_string(TableFileLine(record));
      const std::vector<Touch>& ofRecord = touches[table].ofRecord[record];
      const std::size_t conflictsBefore = merge.conflicts.size();
      merged.records.push_back(
          MergeRecord(original[table].lines[record], ofRecord, where, merge.conflicts));
      if (ofRecord.size() > 1 && !merged.records.back().removed &&
          merge.conflicts.size() == conflictsBefore) {
        ++merge.mergedRecords;
      }
    }
    OrderLines(touches[table], merged);
    merge.tables.push_back(std::move(merged));
  }
  return merge;
}

// ---- Checking NEW.

// The columns a field's code stands in.
std::vector<std::size_t> ColumnsOfCode(const std::vector<ColumnRecipe>& columns,
                                       std::uint8_t code) {
  std::vector<std::size_t> found;
  for (std::size_t column = 0; column < columns.size(); ++column) {
    if (std::ranges::find(columns[column].codes, code) != columns[column].codes.end())
      found.push_back(column);
  }
  return found;
}

// Why NEW's record of a merged record of the original is not as the merge makes it, or empty:
// an untouched record keeps its bytes; of a touched one, the fields that no source changed keep
// theirs, and a field whose bytes a database source changed has that source's bytes where the
// merged line shows what that source's line shows.
std::string RecordDifference(const std::vector<ColumnRecipe>& columns, const MergedRecord& merged,
                             const TreeNode& was, const TreeNode& now,
                             std::string_view originalBytes, std::string_view newBytes,
                             const std::vector<const Source*>& sources,
                             const std::vector<const ParsedDatabase*>& parsed, std::size_t table) {
  if (!merged.touched) {
    return BytesOf(newBytes, now) == BytesOf(originalBytes, was)
               ? std::string()
               : "untouched, but its bytes are " + Hex(BytesOf(newBytes, now)) + ", not " +
                     Hex(BytesOf(originalBytes, was));
  }
  const std::uint8_t kind =
      merged.headerWinner != nullptr ? merged.headerWinner->header->first : was.kind;
  if (now.kind != kind) return "its kind byte is " + std::to_string(now.kind);
  if (now.children.size() != was.children.size()) return "it has other fields";
  for (std::size_t field = 0; field < was.children.size(); ++field) {
    const std::vector<std::size_t> shownIn = ColumnsOfCode(columns, was.children[field].kind);
    const bool cellsChanged = std::ranges::any_of(
        shownIn, [&](std::size_t column) { return merged.changedColumns.contains(column); });
    const std::string_view bytes = BytesOf(newBytes, now.children[field]);
    const std::string name = "field " + std::to_string(field + 1) + " (code " +
                             std::to_string(was.children[field].kind) + ")";
    if (!cellsChanged && !merged.changedFields.contains(field) &&
        bytes != BytesOf(originalBytes, was.children[field])) {
      return name + ", which no source changed, is " + Hex(bytes) + ", not " +
             Hex(BytesOf(originalBytes, was.children[field]));
    }
    const auto winner = merged.fieldWinners.find(field);
    if (winner == merged.fieldWinners.end()) continue;
    const Touch& touch = *winner->second;
    const Cells& theirs = sources[touch.source]->tables[table][touch.line].cells;
    const bool showsTheirs = std::ranges::all_of(
        shownIn, [&](std::size_t column) { return merged.cells[column] == theirs[column]; });
    const TreeNode& stored = parsed[touch.source]->records[table][touch.line]->children[field];
    if (showsTheirs && bytes != BytesOf(parsed[touch.source]->bytes, stored)) {
      return name + " is " + Hex(bytes) + ", not source " + std::to_string(touch.source + 1) +
             "'s " + Hex(BytesOf(parsed[touch.source]->bytes, stored));
    }
  }
  return {};
}

struct CaseFiles {
  const Tool& tool;
  const std::vector<CellTable>& original;
  const ParsedDatabase& originalDatabase;
  const std::vector<const Source*>& sources;
  const std::vector<const ParsedDatabase*>& parsed;
};

// NEW's lines against the merged tables, and where they agree its records' bytes.
void CheckNew(const CaseFiles& files, const Merge& merge, const std::vector<CellTable>& tables,
              std::string_view newBytes, std::vector<std::string>& differences) {
  bool linesAgree = true;
  for (std::size_t table = 0; table < tables.size(); ++table) {
    const std::string name(files.tool.tables[table].fileName);
    const std::vector<MergedLine>& expected = merge.tables[table].lines;
    const std::vector<Cells>& lines = tables[table].lines;
    for (std::size_t line = 0; line < std::max(expected.size(), lines.size()); ++line) {
      const std::string want =
          line < expected.size() ? JoinedCells(expected[line].cells) : "(none)";
      const std::string got = line < lines.size() ? JoinedCells(lines[line]) : "(none)";
      if (want == got) continue;
      differences.push_back(name + " line " + std::to_string(TableFileLine(line)) +
                            " of NEW is \"" + got.substr(0, 160) + "\", the merge makes \"" +
                            want.substr(0, 160) + "\"");
      linesAgree = false;
      break;
    }
  }
  ParsedDatabase packed;
  if (!Parse(files.tool.kind, newBytes, packed)) {
    differences.push_back("NEW is not a sound database");
    return;
  }
  for (std::string& difference :
       HiddenPartDifferences(files.tool.kind, files.originalDatabase.tree,
                             files.originalDatabase.bytes, packed.tree, newBytes))
    differences.push_back(std::move(difference));
  if (!linesAgree) return;
  for (std::size_t table = 0; table < tables.size(); ++table) {
    const std::vector<ColumnRecipe>& columns = TableColumns(files.tool.kind, table);
    const std::vector<MergedLine>& lines = merge.tables[table].lines;
    for (std::size_t line = 0; line < lines.size(); ++line) {
      const TreeNode& now = *packed.records[table][line];
      std::string difference;
      if (lines[line].record) {
        const std::size_t record = *lines[line].record;
        difference = RecordDifference(columns, merge.tables[table].records[record],
                                      *files.originalDatabase.records[table][record], now,
                                      files.originalDatabase.bytes, newBytes, files.sources,
                                      files.parsed, table);
      } else if (const ParsedDatabase* from = files.parsed[lines[line].addition->source]) {
        const TreeNode& added = *from->records[table][lines[line].addition->line];
        if (BytesOf(newBytes, now) != BytesOf(from->bytes, added))
          difference = "a database's added record, but not its bytes";
      }
      if (!difference.empty()) {
        differences.push_back(std::string(files.tool.tables[table].fileName) + " line " +
                              std::to_string(TableFileLine(line)) + " of NEW: " + difference);
      }
    }
  }
}

// ---- The change workbook against the plan.

// A plan field as it was before EscapedText.
std::string UnescapedField(std::string_view field) {
  std::string text;
  for (std::size_t at = 0; at < field.size(); ++at) {
    if (field[at] != '\\' || at + 1 == field.size()) {
      text += field[at];
      continue;
    }
    const char next = field[++at];
    text += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
  }
  return text;
}

std::string Utf8Of(std::string_view bytes) {
  std::string utf8;
  AppendUtf8OfBytes(*FindCodePage(kDefaultCodePage), bytes, utf8);
  return utf8;
}

// A cell as the plan gives it and as the workbook holds it: the same text, or the same number.
bool SameValue(const std::string& plan, const std::string& cell) {
  if (plan == cell) return true;
  char* end = nullptr;
  const double a = std::strtod(plan.c_str(), &end);
  if (plan.empty() || *end != '\0') return false;
  const double b = std::strtod(cell.c_str(), &end);
  return !cell.empty() && *end == '\0' && a == b;
}

// One row of a table sheet as the plan's items make it: the record's name, the sources of its
// items and, per changed column, the original's text.
struct ExpectedRow {
  std::string name;
  std::set<std::string> sources;
  std::map<std::string, std::string> originals;
};

// Rows by sheet, then by "changed 12", "removed 4", "added 7 from 2".
using ExpectedRows = std::map<std::string, std::map<std::string, ExpectedRow>>;

ExpectedRows RowsOfPlan(const std::string& plan, std::size_t& conflicts) {
  ExpectedRows rows;
  std::size_t start = 0;
  for (std::size_t end; (end = plan.find('\n', start)) != std::string::npos; start = end + 1) {
    const Cells item = CellsOf(plan.substr(start, end - start));
    if (item[0] == "conflict") ++conflicts;
    if (item[0] != "changed" && item[0] != "added" && item[0] != "removed") continue;
    const std::string sheet = item[1].substr(0, item[1].size() - 4);  // without ".txt"
    const std::string key =
        item[0] == "added" ? "added " + item[3] + " from " + item[2] : item[0] + " " + item[4];
    ExpectedRow& row = rows[sheet][key];
    row.name = Utf8Of(UnescapedField(item.back()));
    row.sources.insert(item[2]);
    if (item[0] == "changed" && !item[5].starts_with("(")) {
      row.originals[UnescapedField(item[5])] = Utf8Of(UnescapedField(item[6]));
    }
  }
  return rows;
}

// The workbook's text of a row's cell in the named column, or empty.
std::string CellOfColumn(const Cells& header, const std::vector<ReadCell>& cells,
                         const std::string& column) {
  const auto at = std::ranges::find(header, column);
  if (at == header.end()) return "(no column " + column + ")";
  const auto index = static_cast<std::size_t>(at - header.begin());
  for (const ReadCell& cell : cells)
    if (cell.column == index) return cell.value;
  return {};
}

Cells TextsOf(const std::vector<ReadCell>& cells) {
  Cells texts;
  for (const ReadCell& cell : cells) {
    texts.resize(std::max(texts.size(), cell.column + 1));
    texts[cell.column] = cell.value;
  }
  return texts;
}

// The change workbook's table sheets hold exactly a row per record of the plan's items, with
// its name, sources and original values, and a conflict row per conflict of the plan.
void CheckChangeWorkbook(const std::string& plan, const std::string& path, bool severalSources,
                         std::vector<std::string>& differences) {
  std::size_t conflicts = 0;
  ExpectedRows expected = RowsOfPlan(plan, conflicts);
  for (const SheetRows& sheet : ReadWorkbookSheets(path)) {
    if (sheet.rows.empty()) {
      differences.push_back("the change workbook's sheet " + sheet.name + " is empty");
      continue;
    }
    const Cells header = TextsOf(sheet.rows[0].second);
    if (sheet.name == "Conflicts" || sheet.name == "Sources") {
      if (sheet.name == "Conflicts" && sheet.rows.size() - 1 != conflicts) {
        differences.push_back("the change workbook has " + std::to_string(sheet.rows.size() - 1) +
                              " conflicts, the plan " + std::to_string(conflicts));
      }
      continue;
    }
    std::map<std::string, ExpectedRow>& rows = expected[sheet.name];
    for (std::size_t at = 1; at < sheet.rows.size(); ++at) {
      const std::vector<ReadCell>& cells = sheet.rows[at].second;
      const std::string change = CellOfColumn(header, cells, "Change");
      const std::string source = severalSources ? CellOfColumn(header, cells, "Source") : "1";
      const std::string key = change + " " + CellOfColumn(header, cells, "Line") +
                              (change == "added" ? " from " + source : "");
      const auto row = rows.find(key);
      if (row == rows.end()) {
        differences.push_back(sheet.name + ": the change workbook's row " + key +
                              " is no record of the plan");
        continue;
      }
      std::string sources;
      for (const std::string& each : row->second.sources)
        sources += (sources.empty() ? "" : ", ") + each;
      if (CellOfColumn(header, cells, "Name") != row->second.name ||
          (change != "added" && source.size() == sources.size() && source != sources)) {
        differences.push_back(sheet.name + " " + key + ": name or sources differ from the plan");
      }
      for (const auto& [column, original] : row->second.originals) {
        const std::string cell = CellOfColumn(header, cells, column + " (original)");
        if (!SameValue(original, cell)) {
          differences.push_back(sheet.name + " " + key + ", " + column + ": the original \"" +
                                cell + "\", the plan \"" + original + "\"");
        }
      }
      rows.erase(row);
    }
  }
  for (const auto& [sheet, rows] : expected) {
    for (const auto& [key, row] : rows)
      differences.push_back(sheet + ": the plan's record " + key + " is not in the workbook");
  }
}

// ---- A whole case.

constexpr std::size_t kSizes[] = {4, 8, 16, 32};

// What a case made and found, for its report and the tally of what the cases covered.
struct CaseResult {
  std::string report;  // empty: NEW is the merge
  bool conflicts = false;
  std::size_t mergedRecords = 0;  // that several sources changed, merged without a conflict
};

// The earlier touches of every record of a table, for the next folder.
std::vector<EarlierTouches> Earlier(const TableTouches& touches) {
  std::vector<EarlierTouches> earlier(touches.ofRecord.size());
  for (std::size_t record = 0; record < earlier.size(); ++record) {
    for (const Touch& touch : touches.ofRecord[record]) {
      earlier[record].removed = earlier[record].removed || touch.removed;
      earlier[record].changed = earlier[record].changed || !touch.removed;
      for (const auto& [column, cell] : touch.cells)
        earlier[record].cells[column].insert(cell);
    }
  }
  return earlier;
}

std::string Describe(const Tool& tool, const std::vector<const Source*>& sources,
                     const std::vector<TableTouches>& touches) {
  std::string text;
  for (std::size_t source = 0; source < sources.size(); ++source) {
    text += "  source " + std::to_string(source + 1) +
            (sources[source]->database ? " (a database):" : " (tables):");
    for (std::size_t table = 0; table < touches.size(); ++table) {
      std::string what;
      for (std::size_t record = 0; record < touches[table].ofRecord.size(); ++record) {
        for (const Touch& touch : touches[table].ofRecord[record]) {
          if (touch.source != source) continue;
          what += ' ';  // appended apart: GCC 12 takes " " + ... for an overlapping copy here
          what += std::to_string(TableFileLine(record));
          if (touch.removed) what += " removed";
          for (const auto& [column, cell] : touch.cells)
            what += " col " + std::to_string(column + 1) + "=\"" + cell.substr(0, 24) + "\"";
          for (const auto& [field, bytes] : touch.fields)
            what += " field " + std::to_string(field + 1);
          if (touch.header) what += " header";
          what += ";";
        }
      }
      for (const Addition& addition : touches[table].added) {
        if (addition.source == source) {
          what += " adds \"" + addition.cells[0] + "\" after " +
                  (addition.after ? std::to_string(*addition.after + 2) : "the top") + ";";
        }
      }
      if (!what.empty()) text += " " + std::string(tool.tables[table].fileName) + ":" + what;
    }
    text += "\n";
  }
  return text;
}

std::string Report(const Tool& tool, std::uint64_t seed, const std::string& sources,
                   const Merge& merge, const std::vector<std::string>& differences) {
  std::string report = std::string(tool.name) + " merge, seed " + std::to_string(seed) +
                       " (UNPACKER_MERGE_SEED=" + std::to_string(seed) + " runs it alone):\n" +
                       sources + "  conflicts expected: " + std::to_string(merge.conflicts.size()) +
                       "\n";
  for (const std::string& conflict : merge.conflicts)
    report += "    " + conflict + "\n";
  for (std::size_t index = 0; index < differences.size() && index < 8; ++index)
    report += "  - " + differences[index] + "\n";
  return report;
}

// Makes the sources of a case: mods' databases first, then folders in load order, each knowing
// what the sources made before it did; the last folder makes one conflict in some cases.
bool MakeSources(const Tool& tool, const std::vector<CellTable>& original,
                 const ParsedDatabase& originalDatabase, std::uint64_t seed,
                 const std::vector<bool>& databases, bool conflict, const TempFolder& folder,
                 std::vector<Source>& sources, std::string& problem) {
  sources.assign(databases.size(), {});
  std::vector<ParsedDatabase> parses(databases.size());
  std::vector<std::size_t> made;
  for (std::size_t at = 0; at < databases.size(); ++at) {
    if (!databases[at]) continue;
    const std::string path = folder / ("source" + std::to_string(at + 1));
    if (!MakeModSource(tool, original, originalDatabase, seed * 31 + at, path, sources[at],
                       problem)) {
      return false;
    }
    if (!Parse(tool.kind, sources[at].bytes, parses[at])) {
      problem = "a mod is not sound";
      return false;
    }
    made.push_back(at);
  }
  const std::size_t lastFolder = static_cast<std::size_t>(
      std::ranges::find(databases.rbegin(), databases.rend(), false).base() - databases.begin() -
      1);
  Random random{seed * 7919 + 17};
  FreshNames names;
  for (std::size_t at = 0; at < databases.size(); ++at) {
    if (databases[at]) continue;
    std::vector<const Source*> before;
    std::vector<const ParsedDatabase*> beforeParsed;
    for (std::size_t earlier : made) {
      before.push_back(&sources[earlier]);
      beforeParsed.push_back(sources[earlier].database ? &parses[earlier] : nullptr);
    }
    const std::vector<TableTouches> touches =
        TouchesOf(original, originalDatabase, before, beforeParsed);
    // The table of the conflict: one that the sources made so far touched.
    std::vector<std::size_t> touched;
    for (std::size_t table = 0; table < original.size(); ++table) {
      if (std::ranges::any_of(touches[table].ofRecord,
                              [](const std::vector<Touch>& ofRecord) { return !ofRecord.empty(); }))
        touched.push_back(table);
    }
    const std::size_t conflictTable = conflict && at == lastFolder && !touched.empty()
                                          ? touched[RandomBelow(random, touched.size())]
                                          : original.size();
    for (std::size_t table = 0; table < original.size(); ++table) {
      std::vector<SourceLine> copies;
      for (std::size_t earlier : made) {
        for (const SourceLine& line : sources[earlier].tables[table])
          if (line.copy) copies.push_back(line);
      }
      sources[at].tables.push_back(EditTable(original[table], TableColumns(tool.kind, table),
                                             Earlier(touches[table]), copies,
                                             table == conflictTable, names, random));
    }
    made.push_back(at);
  }
  return true;
}

// Writes the sources beside each other: folders of tables, or databases; returns their paths.
std::vector<std::string> WriteSources(const Tool& tool, const std::vector<CellTable>& original,
                                      const std::vector<Source>& sources,
                                      const TempFolder& folder) {
  std::vector<std::string> paths;
  for (std::size_t at = 0; at < sources.size(); ++at) {
    const std::string path = folder / ("source" + std::to_string(at + 1));
    if (sources[at].database) {
      WriteWholeFile(path + ".db", sources[at].bytes);
      paths.push_back(path + ".db");
      continue;
    }
    std::filesystem::create_directories(path);
    for (std::size_t table = 0; table < original.size(); ++table) {
      std::vector<Cells> lines;
      for (const SourceLine& line : sources[at].tables[table])
        lines.push_back(line.cells);
      WriteWholeFile(path + "/" + std::string(tool.tables[table].fileName),
                     TableText(original[table].header, lines));
    }
    paths.push_back(path);
  }
  return paths;
}

CaseResult RunCase(const Tool& tool, std::uint64_t seed) {
  TempFolder folder;
  const std::string originalBytes =
      GenerateDatabase(tool.kind, seed, kSizes[seed % std::size(kSizes)]);
  const std::string originalPath = folder / "original";
  WriteWholeFile(originalPath, originalBytes);
  std::vector<CellTable> original;
  std::string problem;
  ParsedDatabase originalDatabase;
  if (!UnpackTables(tool, originalPath, folder / "original-tables", original, problem) ||
      !Parse(tool.kind, originalBytes, originalDatabase)) {
    return {"seed " + std::to_string(seed) + ": the generated database: " + problem, false, 0};
  }
  Random random{seed * 104729 + 3};
  std::vector<bool> databases(2 + RandomBelow(random, 2));
  for (std::size_t at = 0; at < databases.size(); ++at)
    databases[at] = RandomChance(random, 40);
  if (std::ranges::all_of(databases, [](bool database) { return database; }))
    databases[RandomBelow(random, databases.size())] = false;
  const bool conflict = RandomChance(random, 50);
  std::vector<Source> sources;
  if (!MakeSources(tool, original, originalDatabase, seed, databases, conflict, folder, sources,
                   problem)) {
    return {"seed " + std::to_string(seed) + ": " + problem, false, 0};
  }
  const std::vector<std::string> sourcePaths = WriteSources(tool, original, sources, folder);
  std::vector<ParsedDatabase> parses(sources.size());
  std::vector<const Source*> given;
  std::vector<const ParsedDatabase*> parsed;
  for (std::size_t at = 0; at < sources.size(); ++at) {
    given.push_back(&sources[at]);
    parsed.push_back(nullptr);
    if (!sources[at].database) continue;
    if (!Parse(tool.kind, sources[at].bytes, parses[at])) return {"a mod is not sound", false, 0};
    parsed.back() = &parses[at];
  }
  const std::vector<TableTouches> touches = TouchesOf(original, originalDatabase, given, parsed);
  const Merge merge = MergeSources(tool, original, touches);
  const std::string described = Describe(tool, given, touches);
  CaseResult result{{}, !merge.conflicts.empty(), merge.mergedRecords};
  std::vector<std::string> differences;

  // --strict packs exactly when no source conflicts with another.
  const std::string target = folder / "new";
  std::vector<std::string> paths = {"--strict", originalPath};
  paths.insert(paths.end(), sourcePaths.begin(), sourcePaths.end());
  paths.push_back(target);
  PackResult packed = Pack(tool, paths);
  if (result.conflicts) {
    if (packed.status != kExitFailure || std::filesystem::exists(target) ||
        packed.errors.find("--strict packs none") == std::string::npos) {
      differences.push_back("--strict did not refuse the conflicts: status " +
                            std::to_string(packed.status) + ", " + packed.errors.substr(0, 300));
    }
    paths.erase(paths.begin());
    packed = Pack(tool, paths);
  }
  if (packed.status != kExitSuccess) {
    differences.push_back("the packer ended with status " + std::to_string(packed.status) + ": " +
                          packed.errors.substr(0, 600));
    result.report = Report(tool, seed, described, merge, differences);
    return result;
  }
  const long reported = ConflictsInSummary(packed.output);
  if (reported != static_cast<long>(merge.conflicts.size())) {
    differences.push_back("the summary gives " + std::to_string(reported) + " conflicts:\n" +
                          packed.output);
  }
  std::vector<CellTable> tables;
  if (!UnpackTables(tool, target, folder / "new-tables", tables, problem)) {
    differences.push_back("NEW: " + problem);
  } else {
    const CaseFiles files{tool, original, originalDatabase, given, parsed};
    CheckNew(files, merge, tables, ReadWholeFile(target), differences);
  }
  // The change workbook of the same merge: a row per record of the plan's items.
  const std::string changes = folder / "changes.xlsx";
  std::vector<std::string> dryRun = {"--no-new", "--changes", changes, originalPath};
  dryRun.insert(dryRun.end(), sourcePaths.begin(), sourcePaths.end());
  const PackResult planned = Pack(tool, dryRun);
  if (planned.status != kExitSuccess) {
    differences.push_back("--changes ended with status " + std::to_string(planned.status));
  } else {
    CheckChangeWorkbook(planned.output, changes, sourcePaths.size() > 1, differences);
  }
  if (!differences.empty()) result.report = Report(tool, seed, described, merge, differences);
  return result;
}

std::vector<std::uint64_t> Seeds(std::size_t count) {
  if (const char* seed = std::getenv("UNPACKER_MERGE_SEED")) return {std::stoull(seed)};
  std::vector<std::uint64_t> seeds;
  for (std::uint64_t seed = 1; seed <= count; ++seed)
    seeds.push_back(seed);
  return seeds;
}

// Runs the cases of one packer; reports the first few that fail in full, and checks that the
// cases met conflicts and merged records that several sources changed, both in fair shares.
void ExpectMergesAsTheRulesSay(const Tool& tool, std::size_t count) {
  const std::vector<std::uint64_t> seeds = Seeds(count);
  std::size_t failed = 0;
  std::size_t withConflicts = 0;
  std::size_t mergedRecords = 0;
  for (std::uint64_t seed : seeds) {
    const CaseResult result = RunCase(tool, seed);
    withConflicts += result.conflicts ? 1 : 0;
    mergedRecords += result.mergedRecords;
    if (result.report.empty()) continue;
    if (++failed <= 6) ADD_FAILURE() << result.report;
  }
  EXPECT_EQ(failed, 0u) << tool.name << " merges failed of " << seeds.size();
  if (seeds.size() < count) return;
  EXPECT_GE(withConflicts * 5, seeds.size()) << withConflicts << " cases with conflicts";
  EXPECT_GE((seeds.size() - withConflicts) * 5, seeds.size()) << "too few without conflicts";
  EXPECT_GE(mergedRecords, seeds.size() / 2) << "records several sources changed, merged";
}

TEST(ModMergeTest, SpellSourcesMergeAsTheRulesSay) {
  ExpectMergesAsTheRulesSay(kSpells, kFewCases ? 12 : 40);
}

TEST(ModMergeTest, QuestSourcesMergeAsTheRulesSay) {
  ExpectMergesAsTheRulesSay(kQuests, kFewCases ? 12 : 40);
}

// ---- The README's example on the spell sample.

std::size_t ColumnOf(const CellTable& table, std::string_view name) {
  const Cells header = CellsOf(table.header);
  return static_cast<std::size_t>(std::ranges::find(header, name) - header.begin());
}

void WriteTables(const Tool& tool, const std::vector<CellTable>& tables,
                 const std::string& folder) {
  std::filesystem::create_directories(folder);
  for (std::size_t table = 0; table < tables.size(); ++table) {
    WriteWholeFile(folder + "/" + std::string(tool.tables[table].fileName),
                   TableText(tables[table].header, tables[table].lines));
  }
}

Cells* LineNamed(CellTable& table, std::string_view name) {
  for (Cells& line : table.lines) {
    if (line[0] == name) return &line;
  }
  ADD_FAILURE() << "the sample has no spell named " << name;
  return &table.lines.front();
}

// A number cell a quarter higher, as the shortest text of the double.
std::string QuarterHigher(const std::string& cell) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, std::stod(cell) * 1.25);
  return std::string(text, end);
}

// The README's example: mod A raises the Mana of every fire spell by a quarter; mod B adds a
// spell, a copy of Frost Lance named Frost Storm, and changes two prices, one of them
// Fireball's. Packed together they make one database with both and no conflict, whether mod A
// comes as its tables or as the database packed from them. A third mod that gives Fireball
// other Mana is one conflict: the later mod wins, and --strict refuses it.
TEST(ModMergeTest, TwoModsOfTheSampleMergeAndAThirdConflicts) {
  TempFolder folder;
  const std::string sample = SAMPLES_FOLDER "/spells.sdb";
  std::vector<CellTable> tables;
  std::string problem;
  ASSERT_TRUE(UnpackTables(kSpells, sample, folder / "original", tables, problem)) << problem;
  const CellTable& prototypes = tables[0];
  const std::size_t subtype = ColumnOf(prototypes, "Subtype");
  const std::size_t type = ColumnOf(prototypes, "Type");
  const std::size_t mana = ColumnOf(prototypes, "Mana");
  const std::size_t price = ColumnOf(prototypes, "Price");

  std::vector<CellTable> modA = tables;
  std::size_t fireSpells = 0;
  for (Cells& line : modA[0].lines) {
    if (line[type] != "elemental" || line[subtype] != "Fire") continue;
    line[mana] = QuarterHigher(line[mana]);
    ++fireSpells;
  }
  ASSERT_EQ(fireSpells, 5u);
  ASSERT_EQ((*LineNamed(modA[0], "Fireball"))[mana], "15.625");
  WriteTables(kSpells, modA, folder / "modA");

  std::vector<CellTable> modB = tables;
  Cells frostStorm = *LineNamed(modB[0], "Frost Lance");
  frostStorm[0] = "Frost Storm";
  frostStorm[1] = "frost_storm";
  const auto frostLance = std::ranges::find(modB[0].lines, *LineNamed(modB[0], "Frost Lance"));
  modB[0].lines.insert(frostLance + 1, frostStorm);
  (*LineNamed(modB[0], "Fireball"))[price] = "175";
  (*LineNamed(modB[0], "Gust"))[price] = "50";
  WriteTables(kSpells, modB, folder / "modB");

  // Both mods: mod A's Mana and mod B's prices and spell.
  std::vector<CellTable> both = modB;
  for (std::size_t line = 0; line < modA[0].lines.size(); ++line) {
    const auto at = std::ranges::find(both[0].lines, tables[0].lines[line][0],
                                      [](const Cells& cells) { return cells[0]; });
    (*at)[mana] = modA[0].lines[line][mana];
  }
  const PackResult merged =
      Pack(kSpells, {sample, folder / "modA", folder / "modB", folder / "new.sdb"});
  ASSERT_EQ(merged.status, kExitSuccess) << merged.errors;
  EXPECT_NE(merged.output.find("\n0 conflicts\n"), std::string::npos) << merged.output;
  std::vector<CellTable> packed;
  ASSERT_TRUE(UnpackTables(kSpells, folder / "new.sdb", folder / "new", packed, problem))
      << problem;
  for (std::size_t table = 0; table < both.size(); ++table) {
    EXPECT_EQ(TableText(packed[table].header, packed[table].lines),
              TableText(both[table].header, both[table].lines))
        << kSpellFormat.tables[table].fileName;
  }

  // Mod A as the database packed from its tables: the same database.
  ASSERT_EQ(Pack(kSpells, {sample, folder / "modA", folder / "modA.sdb"}).status, kExitSuccess);
  const PackResult fromDatabase =
      Pack(kSpells, {sample, folder / "modA.sdb", folder / "modB", folder / "new2.sdb"});
  ASSERT_EQ(fromDatabase.status, kExitSuccess) << fromDatabase.errors;
  EXPECT_NE(fromDatabase.output.find("\n0 conflicts\n"), std::string::npos) << fromDatabase.output;
  EXPECT_TRUE(ReadWholeFile(folder / "new2.sdb") == ReadWholeFile(folder / "new.sdb"));

  // Mod C gives Fireball 20 Mana: one conflict, which mod C, the later, wins.
  std::vector<CellTable> modC = tables;
  (*LineNamed(modC[0], "Fireball"))[mana] = "20";
  WriteTables(kSpells, modC, folder / "modC");
  const std::string conflictItem =
      "conflict\tSpellPrototypes.txt\t3\t-\t2\tMana\t1\t15.625\t3\t20\n";
  const std::string conflictText =
      "SpellPrototypes.txt line 2 (Fireball), column \"Mana\": source 1 \"15.625\", source 3 "
      "\"20\"; "
      "source 3 won";
  const std::string changes = folder / "changes.xlsx";
  const PackResult plan = Pack(kSpells, {"--no-new", "--changes", changes, sample, folder / "modA",
                                         folder / "modB", folder / "modC"});
  ASSERT_EQ(plan.status, kExitSuccess) << plan.errors;
  // The change workbook: the 6 changed records and the added one, each changed cell beside the
  // original's value, and the conflict with each source's value and the winner.
  const std::vector<SheetRows> sheets = ReadWorkbookSheets(changes);
  ASSERT_EQ(sheets.size(), 3u);
  EXPECT_EQ(sheets[0].name, "SpellPrototypes");
  const Cells header = TextsOf(sheets[0].rows[0].second);
  std::map<std::string, std::vector<ReadCell>> rowOf;
  for (std::size_t at = 1; at < sheets[0].rows.size(); ++at)
    rowOf[CellOfColumn(header, sheets[0].rows[at].second, "Name")] = sheets[0].rows[at].second;
  EXPECT_EQ(rowOf.size(), 7u);
  EXPECT_EQ(sheets[0].rows.size(), 8u);
  const Cells& fireball = *LineNamed(tables[0], "Fireball");
  const std::vector<ReadCell>& changedFireball = rowOf["Fireball"];
  EXPECT_EQ(CellOfColumn(header, changedFireball, "Change"), "changed");
  EXPECT_EQ(CellOfColumn(header, changedFireball, "Source"), "2, 3");
  EXPECT_EQ(CellOfColumn(header, changedFireball, "Mana"), "20");
  EXPECT_EQ(CellOfColumn(header, changedFireball, "Mana (original)"), fireball[mana]);
  EXPECT_EQ(CellOfColumn(header, changedFireball, "Price"), "175");
  EXPECT_EQ(CellOfColumn(header, changedFireball, "Price (original)"), fireball[price]);
  EXPECT_EQ(CellOfColumn(header, rowOf["Frost Storm"], "Change"), "added");
  EXPECT_EQ(CellOfColumn(header, rowOf["Gust"], "Price"), "50");
  std::size_t fireChanged = 0;
  for (const auto& [name, cells] : rowOf)
    fireChanged += CellOfColumn(header, cells, "Subtype") == "Fire" &&
                   CellOfColumn(header, cells, "Change") == "changed";
  EXPECT_EQ(fireChanged, 5u);
  ASSERT_EQ(sheets[1].name, "Conflicts");
  ASSERT_EQ(sheets[1].rows.size(), 2u);
  EXPECT_EQ(TextsOf(sheets[1].rows[1].second),
            (Cells{"SpellPrototypes.txt", "2", "Fireball", "Mana", "3", "15.625", "", "20"}));
  EXPECT_NE(plan.output.find(conflictItem), std::string::npos) << plan.output;
  EXPECT_EQ(plan.output.find("conflict\t"), plan.output.rfind("conflict\t")) << plan.output;
  EXPECT_NE(plan.output.find("\n1 conflict:\n  " + conflictText + "\n"), std::string::npos)
      << plan.output;
  ASSERT_EQ(Pack(kSpells,
                 {sample, folder / "modA", folder / "modB", folder / "modC", folder / "new3.sdb"})
                .status,
            kExitSuccess);
  ASSERT_TRUE(UnpackTables(kSpells, folder / "new3.sdb", folder / "new3", packed, problem))
      << problem;
  EXPECT_EQ((*LineNamed(packed[0], "Fireball"))[mana], "20");
  EXPECT_EQ((*LineNamed(packed[0], "Fireball"))[price], "175");

  const PackResult strict = Pack(kSpells, {"--strict", sample, folder / "modA", folder / "modB",
                                           folder / "modC", folder / "strict.sdb"});
  EXPECT_EQ(strict.status, kExitFailure);
  // Refused, nothing won: the source that would win is named so.
  const std::string refusedText = conflictText.substr(0, conflictText.size() - 3) + "would win";
  EXPECT_EQ(strict.errors, "grimpack: " + refusedText +
                               "\ngrimpack: 1 conflict of sources, and --strict packs none\n"
                               "grimpack: nothing was written\n");
  EXPECT_FALSE(std::filesystem::exists(folder / "strict.sdb"));
}

// One value written two ways by two sources ("13.5" and "13.50") is one change, without a
// conflict even under --strict; a source that writes the stored value otherwise ("12.50" for
// Fireball's 12.5 Mana) changes nothing, so another source's change of it is no conflict.
TEST(ModMergeTest, OneValueWrittenTwoWaysIsOneChange) {
  TempFolder folder;
  const std::string sample = SAMPLES_FOLDER "/spells.sdb";
  std::vector<CellTable> tables;
  std::string problem;
  ASSERT_TRUE(UnpackTables(kSpells, sample, folder / "original", tables, problem)) << problem;
  const std::size_t mana = ColumnOf(tables[0], "Mana");
  ASSERT_EQ((*LineNamed(tables[0], "Fireball"))[mana], "12.5");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"13.5", "13.50"}, "13.5"},
      {{"13.50", "13.5"}, "13.5"},
      {{"12.50", "14"}, "14"},
      {{"14", "12.50"}, "14"},
  };
  for (const auto& [written, packedMana] : cases) {
    SCOPED_TRACE(written[0] + " and " + written[1]);
    std::vector<std::string> arguments = {"--strict", sample};
    for (std::size_t source = 0; source < written.size(); ++source) {
      std::vector<CellTable> edited = tables;
      (*LineNamed(edited[0], "Fireball"))[mana] = written[source];
      const std::string name = folder / ("source" + std::to_string(source));
      WriteTables(kSpells, edited, name);
      arguments.push_back(name);
    }
    arguments.push_back(folder / "new.sdb");
    const PackResult merged = Pack(kSpells, arguments);
    ASSERT_EQ(merged.status, kExitSuccess) << merged.errors;
    EXPECT_EQ(ConflictsInSummary(merged.output), 0) << merged.output;
    std::vector<CellTable> packed;
    ASSERT_TRUE(UnpackTables(kSpells, folder / "new.sdb", folder / "new", packed, problem))
        << problem;
    EXPECT_EQ((*LineNamed(packed[0], "Fireball"))[mana], packedMana);
  }
}

// ---- Sources that cannot be taken.

// What a folder holds: each file's name and bytes, its folders' names.
std::map<std::string, std::string> FolderContent(const std::filesystem::path& folder) {
  std::map<std::string, std::string> content;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    content[name] = entry.is_directory() ? "(a folder)" : ReadWholeFile(entry.path().string());
  }
  return content;
}

// Two mods each add a Firestorm, one of them spelt "firestorm", and the second gives Gust
// Fireball's Code: both pack, and the summary names each shared name with the lines that hold it.
// The original's own Names and Codes are no news.
TEST(ModMergeTest, RecordsSharingANameOrCodeAreListedWithTheirLines) {
  TempFolder folder;
  const std::string sample = SAMPLES_FOLDER "/spells.sdb";
  std::vector<CellTable> tables;
  std::string problem;
  ASSERT_TRUE(UnpackTables(kSpells, sample, folder / "original", tables, problem)) << problem;
  const std::size_t code = ColumnOf(tables[0], "Code");
  // The line in a table file of the record named `name` (its header row is line 1).
  const auto fileLine = [](const CellTable& table, std::string_view name) {
    const auto at = std::ranges::find(
        table.lines, name, [](const Cells& cells) { return std::string_view(cells[0]); });
    return std::to_string(TableFileLine(static_cast<std::size_t>(at - table.lines.begin())));
  };

  std::vector<CellTable> modA = tables;
  Cells firestorm = *LineNamed(modA[0], "Frost Lance");
  firestorm[0] = "Firestorm";
  firestorm[code] = "firestorm_a";
  modA[0].lines.push_back(firestorm);
  WriteTables(kSpells, modA, folder / "modA");
  std::vector<CellTable> modB = tables;
  firestorm[0] = "firestorm";
  firestorm[code] = "firestorm_b";
  modB[0].lines.insert(modB[0].lines.begin(), firestorm);
  const std::string fireballCode = (*LineNamed(modB[0], "Fireball"))[code];
  (*LineNamed(modB[0], "Gust"))[code] = fireballCode;
  WriteTables(kSpells, modB, folder / "modB");

  const PackResult unchanged =
      Pack(kSpells, {"--dry-run", sample, folder / "original", folder / "unchanged.sdb"});
  ASSERT_EQ(unchanged.status, kExitSuccess) << unchanged.errors;
  EXPECT_EQ(unchanged.output.find("another record holds too"), std::string::npos)
      << unchanged.output;

  const PackResult merged =
      Pack(kSpells, {sample, folder / "modA", folder / "modB", folder / "new.sdb"});
  ASSERT_EQ(merged.status, kExitSuccess) << merged.errors;
  EXPECT_NE(merged.output.find("\n2 names that a source brings and another record holds too"),
            std::string::npos)
      << merged.output;
  const std::string prefix = "  SpellPrototypes.txt, column ";
  EXPECT_NE(merged.output.find(prefix +
                               "\"Name\": \"firestorm\" at source 2 line 2 and source 1 "
                               "line " +
                               fileLine(modA[0], "Firestorm") + "\n"),
            std::string::npos)
      << merged.output;
  EXPECT_NE(merged.output.find(prefix + "\"Code\": \"" + fireballCode + "\" at source 1 line " +
                               fileLine(modA[0], "Fireball") + " and source 2 line " +
                               fileLine(modB[0], "Gust") + "\n"),
            std::string::npos)
      << merged.output;

  // One source alone: its lines, without sources.
  const PackResult alone = Pack(kSpells, {"--dry-run", sample, folder / "modB", folder / "b.sdb"});
  ASSERT_EQ(alone.status, kExitSuccess) << alone.errors;
  EXPECT_NE(alone.output.find(prefix + "\"Code\": \"" + fireballCode + "\" at line " +
                              fileLine(modB[0], "Fireball") + " and line " +
                              fileLine(modB[0], "Gust") + "\n"),
            std::string::npos)
      << alone.output;
}

// A source that is not a sound database of the packer's kind is refused as ORIGINAL would be,
// with nothing written and the source named: a database of the other kind, a cut one. ORIGINAL
// itself as a source changes nothing; NEW as a source is refused unless NEW is ORIGINAL.
TEST(ModMergeTest, SourcesThatCannotBeTakenAreRefused) {
  enum class Outcome : std::uint8_t { Refused, Original, TablesAlone };
  const struct {
    const Tool* tool;
    std::vector<std::string> sources;  // in the folder; "tables" an edited folder of tables
    std::string target;
    Outcome outcome;
    std::string problem;  // a refusal's message names the source
  } cases[] = {
      {&kSpells, {"quests.qdb"}, "new.sdb", Outcome::Refused, "quests.qdb"},
      {&kSpells, {"tables", "quests.qdb"}, "new.sdb", Outcome::Refused, "quests.qdb"},
      {&kQuests, {"spells.sdb"}, "new.qdb", Outcome::Refused, "spells.sdb"},
      {&kSpells,
       {"cut.sdb"},
       "new.sdb",
       Outcome::Refused,
       "the source database '{}/cut.sdb' is damaged, the database @0: the file ends @"},
      {&kQuests,
       {"cut.qdb"},
       "new.qdb",
       Outcome::Refused,
       "the source database '{}/cut.qdb' is damaged"},
      {&kSpells, {"original"}, "new.sdb", Outcome::Original, ""},
      {&kQuests, {"original"}, "new.qdb", Outcome::Original, ""},
      {&kSpells, {"original", "tables"}, "new.sdb", Outcome::TablesAlone, ""},
      {&kSpells, {"tables", "original"}, "new.sdb", Outcome::TablesAlone, ""},
      {&kSpells,
       {"existing.sdb"},
       "existing.sdb",
       Outcome::Refused,
       "the source '{}/existing.sdb' is NEW itself"},
      {&kSpells,
       {"tables", "./existing.sdb"},
       "existing.sdb",
       Outcome::Refused,
       "the source '{}/./existing.sdb' is NEW itself"},
      {&kSpells, {"original"}, "original", Outcome::Original, ""},
      {&kSpells, {"tables", "original"}, "original", Outcome::TablesAlone, ""},
  };
  for (const auto& c : cases) {
    const bool spells = c.tool == &kSpells;
    SCOPED_TRACE(std::string(c.tool->packer.program) + " with " + c.sources.front() + " to " +
                 c.target);
    TempFolder folder;
    const std::string sample = ReadWholeFile(SAMPLES_FOLDER "/spells.sdb");
    const std::string questSample = ReadWholeFile(SAMPLES_FOLDER "/quests.qdb");
    const std::string& own = spells ? sample : questSample;
    WriteWholeFile(folder / "original", own);
    WriteWholeFile(folder / "spells.sdb", sample);
    WriteWholeFile(folder / "quests.qdb", questSample);
    WriteWholeFile(folder / "cut.sdb", sample.substr(0, sample.size() / 2));
    WriteWholeFile(folder / "cut.qdb", questSample.substr(0, questSample.size() / 2));
    WriteWholeFile(folder / "existing.sdb", sample);
    // The tables with one price changed, and the database they make alone.
    std::vector<CellTable> tables;
    std::string problem;
    ASSERT_TRUE(UnpackTables(*c.tool, folder / "original", folder / "tables", tables, problem));
    tables[0].lines[0][spells ? 3 : 1] = "777";
    WriteTables(*c.tool, tables, folder / "tables");
    ASSERT_EQ(Pack(*c.tool, {folder / "original", folder / "tables", folder / "alone"}).status,
              kExitSuccess);
    const std::string alone = ReadWholeFile(folder / "alone");
    std::filesystem::remove(folder / "alone");
    const std::map<std::string, std::string> before = FolderContent(folder.path);

    std::vector<std::string> paths = {folder / "original"};
    for (const std::string& source : c.sources)
      paths.push_back(folder / source);
    paths.push_back(folder / c.target);
    const PackResult result = Pack(*c.tool, paths);
    if (c.outcome == Outcome::Refused) {
      std::string problemText = c.problem;
      if (const std::size_t at = problemText.find("{}"); at != std::string::npos)
        problemText.replace(at, 2, folder.path.string());
      EXPECT_EQ(result.status, kExitFailure) << result.output;
      EXPECT_NE(result.errors.find(problemText), std::string::npos) << result.errors;
      EXPECT_TRUE(
          result.errors.ends_with(std::string(c.tool->packer.program) + ": nothing was written\n"));
      EXPECT_TRUE(FolderContent(folder.path) == before) << "something was written";
      continue;
    }
    EXPECT_EQ(result.status, kExitSuccess) << result.errors;
    const std::string packed = ReadWholeFile(folder / c.target);
    EXPECT_TRUE(packed == (c.outcome == Outcome::Original ? own : alone));
  }
}

// A mod of the spell sample made on its node tree: its first composed spell (S_Spells line 2)
// gets the kind byte 2 and the field of the given code the text.
std::string SampleWithKindAndText(std::uint8_t code, std::string_view text) {
  DatabaseTree tree;
  EXPECT_TRUE(
      ReadDatabaseTree(DatabaseKind::Spells, ReadWholeFile(SAMPLES_FOLDER "/spells.sdb"), tree));
  TreeNode& record = tree.databases[0].children[2].children[0];
  record.kind = 2;
  for (TreeNode& field : record.children) {
    if (field.kind == code) field.value = TextPayload(text);
  }
  return WriteDatabaseTree(tree);
}

// Two mods that give a record the same kind byte agree on its header, though the other fields
// they change give it other lengths: the record takes both mods' changes, without a conflict.
TEST(ModMergeTest, ModsThatGiveARecordTheSameKindByteAgree) {
  TempFolder folder;
  WriteWholeFile(folder / "power.sdb", SampleWithKindAndText(4, "9"));        // Power 3 to 9
  WriteWholeFile(folder / "required.sdb", SampleWithKindAndText(2, "ward"));  // burn to ward
  const std::string sample = SAMPLES_FOLDER "/spells.sdb";
  const PackResult result = Pack(
      kSpells, {"--strict", sample, folder / "power.sdb", folder / "required.sdb", folder / "new"});
  EXPECT_EQ(result.status, kExitSuccess) << result.errors;
  ASSERT_EQ(
      Pack(kSpells, {sample, folder / "power.sdb", folder / "required.sdb", folder / "new"}).status,
      kExitSuccess);
  DatabaseTree packed;
  ASSERT_TRUE(ReadDatabaseTree(DatabaseKind::Spells, ReadWholeFile(folder / "new"), packed));
  const TreeNode& record = packed.databases[0].children[2].children[0];
  EXPECT_EQ(record.kind, 2);
  EXPECT_EQ(record.children[1].value, TextPayload("ward"));
  EXPECT_EQ(record.children[3].value, TextPayload("9"));
}

// The record node behind line `line` of shown table `table`.
TreeNode& ShownRecord(DatabaseKind kind, DatabaseTree& tree, std::size_t table, std::size_t line) {
  for (TreeNode& database : tree.databases) {
    for (TreeNode& tableNode : database.children) {
      if (ShownTableOf(kind, database.kind, tableNode.kind) != static_cast<int>(table)) continue;
      if (line < tableNode.children.size()) return tableNode.children[line];
      line -= tableNode.children.size();
    }
  }
  throw std::out_of_range("no such record");
}

// The kind bytes of the mod's record behind the line and of the original's record it comes
// from.
std::vector<std::uint8_t> RecordKinds(DatabaseKind kind, std::string_view original,
                                      std::string_view mod, std::size_t table, std::size_t line,
                                      const ModRecordOrigin& origin) {
  DatabaseTree originalTree;
  DatabaseTree modTree;
  EXPECT_TRUE(ReadDatabaseTree(kind, original, originalTree));
  EXPECT_TRUE(ReadDatabaseTree(kind, mod, modTree));
  return {ShownRecord(kind, originalTree, table, origin.record).kind,
          ShownRecord(kind, modTree, table, line).kind};
}

// `mod` with the record behind the line given the `nth` kind byte (from 0) that is none of
// `taken`: other bytes that no table shows.
std::string WithRecordKind(DatabaseKind kind, std::string_view mod, std::size_t table,
                           std::size_t line, const std::vector<std::uint8_t>& taken,
                           std::size_t nth) {
  DatabaseTree tree;
  EXPECT_TRUE(ReadDatabaseTree(kind, mod, tree));
  std::uint8_t recordKind = 0x40;
  for (std::size_t skipped = 0;; ++recordKind) {
    if (std::ranges::find(taken, recordKind) == taken.end() && skipped++ == nth) break;
  }
  ShownRecord(kind, tree, table, line).kind = recordKind;
  return WriteDatabaseTree(tree);
}

// Two mods that give a record other bytes no table shows conflict, whether the record is the
// original's or one that both mods add alike: one rule for both, also under --strict.
TEST(ModMergeTest, LinesAddedAlikeWithOtherBytesConflictAsChangedRecordsDo) {
  std::size_t cases[2] = {0, 0};  // of the original's records, of added ones
  for (const Tool* tool : {&kSpells, &kQuests}) {
    for (std::uint64_t seed = 1; seed <= (kFewCases ? 4u : 12u); ++seed) {
      const std::string original = GenerateDatabase(tool->kind, seed, 40);
      std::vector<std::vector<ModRecordOrigin>> origins;
      const std::string mod = MakeModDatabase(tool->kind, original, seed, &origins);
      for (const bool added : {false, true}) {
        std::optional<std::pair<std::size_t, std::size_t>> found;  // table, line
        for (std::size_t table = 0; table < origins.size() && !found; ++table) {
          for (std::size_t line = 0; line < origins[table].size() && !found; ++line) {
            if (origins[table][line].copy == added) found.emplace(table, line);
          }
        }
        if (!found) continue;
        SCOPED_TRACE(std::string(tool->name) + " seed " + std::to_string(seed) +
                     (added ? ", an added record" : ", the original's record"));
        const auto [table, line] = *found;
        TempFolder folder;
        WriteWholeFile(folder / "original", original);
        const std::vector<std::uint8_t> kinds =
            RecordKinds(tool->kind, original, mod, table, line, origins[table][line]);
        WriteWholeFile(folder / "first", WithRecordKind(tool->kind, mod, table, line, kinds, 0));
        WriteWholeFile(folder / "second", WithRecordKind(tool->kind, mod, table, line, kinds, 1));
        const PackResult alike = Pack(*tool, {"--dry-run", folder / "original", folder / "first",
                                              folder / "first", folder / "new"});
        const PackResult other = Pack(*tool, {"--dry-run", folder / "original", folder / "first",
                                              folder / "second", folder / "new"});
        const PackResult strict =
            Pack(*tool, {"--strict", "--dry-run", folder / "original", folder / "first",
                         folder / "second", folder / "new"});
        ASSERT_EQ(alike.status, kExitSuccess) << alike.errors;
        // A copy whose source the mod removed may pair with that record: not an added line.
        const std::string addedItem = "added\t" + std::string(tool->tables[table].fileName) +
                                      "\t2\t" + std::to_string(TableFileLine(line)) + "\t";
        if (added && alike.output.find(addedItem) == std::string::npos) continue;
        ++cases[added ? 1 : 0];
        EXPECT_EQ(ConflictsInSummary(alike.output), 0) << alike.output;
        EXPECT_EQ(ConflictsInSummary(other.output), 1) << other.output;
        EXPECT_EQ(
            other.output.find("\t(the record)\t1\t(added)\t2\t(added)\n") != std::string::npos,
            added)
            << other.output;
        EXPECT_NE(strict.status, kExitSuccess) << strict.output;
        // Bytes no table shows are written as changed items write them, never raw.
        const std::size_t conflictItem = other.output.find("conflict\t");
        const std::string item =
            other.output.substr(conflictItem, other.output.find('\n', conflictItem) - conflictItem);
        EXPECT_TRUE(std::ranges::all_of(item, [](char c) {
          return c == '\t' || (c >= ' ' && c < 127);
        })) << item;
      }
    }
  }
  EXPECT_GE(cases[0], 2u);
  EXPECT_GE(cases[1], 2u);
}

// A shop flag cell the other way round.
std::string OtherShopFlag(const std::string& cell) {
  return cell.empty() ? "1" : "";
}

// Two databases packed from tables that change different shop flags of one record (one flips
// flag a, the other flag b and, now and then, flag a the same way): the field's bytes no column
// shows did not change, so its flags merge cell by cell, without a conflict, also under
// --strict, and NEW shows every flip.
TEST(ModMergeTest, DifferentShopFlagsOfOneRecordMergeWithoutAConflict) {
  std::size_t cases = 0;
  for (std::uint64_t seed = 1; seed <= (kFewCases ? 3u : 10u); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempFolder folder;
    WriteWholeFile(folder / "original", GenerateDatabase(DatabaseKind::Spells, seed, 30));
    std::vector<CellTable> tables;
    std::string problem;
    ASSERT_TRUE(UnpackTables(kSpells, folder / "original", folder / "tables", tables, problem))
        << problem;
    Random random{seed};
    for (std::size_t table = 0; table < tables.size(); ++table) {
      const std::vector<ColumnRecipe>& columns = TableColumns(DatabaseKind::Spells, table);
      std::vector<std::size_t> flags;
      for (std::size_t column = 0; column < columns.size(); ++column) {
        if (columns[column].kind == CellKind::ShopFlag) flags.push_back(column);
      }
      if (flags.size() < 2 || tables[table].lines.empty()) continue;
      ++cases;
      const std::size_t line = RandomBelow(random, tables[table].lines.size());
      const std::size_t flagA = RandomBelow(random, flags.size());
      const std::size_t a = flags[flagA];
      const std::size_t b =
          flags[(flagA + 1 + RandomBelow(random, flags.size() - 1)) % flags.size()];
      std::vector<CellTable> first = tables;
      std::vector<CellTable> second = tables;
      Cells& firstLine = first[table].lines[line];
      Cells& secondLine = second[table].lines[line];
      firstLine[a] = OtherShopFlag(firstLine[a]);
      secondLine[b] = OtherShopFlag(secondLine[b]);
      if (RandomChance(random, 50)) secondLine[a] = firstLine[a];
      Cells expected = tables[table].lines[line];
      expected[a] = firstLine[a];
      expected[b] = secondLine[b];
      WriteTables(kSpells, first, folder / "first");
      WriteTables(kSpells, second, folder / "second");
      for (const char* name : {"first", "second"}) {
        const PackResult packed = Pack(
            kSpells, {folder / "original", folder / name, folder / (std::string(name) + ".sdb")});
        ASSERT_EQ(packed.status, kExitSuccess) << packed.errors;
      }
      const PackResult merged =
          Pack(kSpells, {"--strict", folder / "original", folder / "first.sdb",
                         folder / "second.sdb", folder / "new"});
      ASSERT_EQ(merged.status, kExitSuccess) << merged.errors << merged.output;
      EXPECT_EQ(ConflictsInSummary(merged.output), 0) << merged.output;
      std::vector<CellTable> packed;
      ASSERT_TRUE(UnpackTables(kSpells, folder / "new", folder / "new-tables", packed, problem))
          << problem;
      EXPECT_EQ(packed[table].lines[line], expected);
    }
  }
  EXPECT_GT(cases, 0u);
}

// Whatever a packer takes as the original it takes as a source: a database is judged by one
// rule, and one of the original's outline is never of the other kind. Over databases of both
// kinds given to both packers, each packed onto itself.
TEST(ModMergeTest, ADatabaseTakenAsTheOriginalIsTakenAsASource) {
  std::size_t taken = 0;
  for (const Tool* packer : {&kSpells, &kQuests}) {
    for (const Tool* maker : {&kSpells, &kQuests}) {
      for (std::uint64_t seed = 1; seed <= (kFewCases ? 3u : 8u); ++seed) {
        SCOPED_TRACE(std::string(packer->packer.program) + " with a " + std::string(maker->name) +
                     " database, seed " + std::to_string(seed));
        TempFolder folder;
        WriteWholeFile(folder / "database", GenerateDatabase(maker->kind, seed, 12));
        std::vector<CellTable> tables;
        std::string problem;
        if (!UnpackTables(*packer, folder / "database", folder / "tables", tables, problem))
          continue;
        const PackResult asOriginal =
            Pack(*packer, {"--dry-run", folder / "database", folder / "tables", folder / "new"});
        if (asOriginal.status != kExitSuccess) continue;
        ++taken;
        const PackResult asSource =
            Pack(*packer, {"--dry-run", folder / "database", folder / "database", folder / "new"});
        EXPECT_EQ(asSource.status, kExitSuccess) << asSource.errors;
      }
    }
  }
  EXPECT_GT(taken, 4u);
}

// The cell in the column named `column` of a table file's line `number` (the header row being
// line 1), split at CR LF as the file's lines are.
std::string CellAtFileLine(const std::string& text, std::size_t number, const std::string& column) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (number == 0 || number > lines.size()) return "(no line " + std::to_string(number) + ")";
  const Cells header = CellsOf(lines.front());
  const auto at = static_cast<std::size_t>(std::ranges::find(header, column) - header.begin());
  const Cells cells = CellsOf(lines[number - 1]);
  return at < cells.size() ? cells[at] : "(no column " + column + ")";
}

// After a record whose stored text holds a CR LF (its line takes two file lines), the plan's
// LINE and ORIGINAL_LINE are still the table files' lines, for a folder and a database source:
// each changed item's old value stands at ORIGINAL_LINE of the original's table and its new
// value at LINE of the source's.
TEST(ModMergeTest, PlanLinesAfterAStoredLineBreakAreTheTableFilesLines) {
  std::size_t checked = 0;
  for (std::uint64_t seed = 1; seed <= (kFewCases ? 3u : 8u); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    DatabaseTree tree;
    ASSERT_TRUE(ReadDatabaseTree(DatabaseKind::Spells,
                                 GenerateDatabase(DatabaseKind::Spells, seed, 20), tree));
    const std::vector<std::vector<const TreeNode*>> records =
        RecordsOfTables(DatabaseKind::Spells, tree);
    for (std::size_t table = 0; table < records.size(); ++table) {
      const std::vector<ColumnRecipe>& columns = TableColumns(DatabaseKind::Spells, table);
      const auto text = std::ranges::find(columns, CellKind::Text, &ColumnRecipe::kind);
      const auto number = std::ranges::find(columns, CellKind::Number, &ColumnRecipe::kind);
      if (text == columns.end() || number == columns.end() || records[table].size() < 4) continue;
      TreeNode& record = ShownRecord(DatabaseKind::Spells, tree, table, 1);
      for (TreeNode& field : record.children) {
        if (field.kind == text->codes[0]) field.value = TextPayload("one\r\ntwo");
      }
      TempFolder folder;
      WriteWholeFile(folder / "original", WriteDatabaseTree(tree));
      std::vector<CellTable> tables;
      std::string problem;
      ASSERT_TRUE(UnpackTables(kSpells, folder / "original", folder / "tables", tables, problem))
          << problem;
      const std::string tablePath =
          folder / ("tables/" + std::string(kSpells.tables[table].fileName));
      const std::string originalText = ReadWholeFile(tablePath);
      if (originalText.find("one\r\ntwo") == std::string::npos) continue;
      // Every file line after the record's two gets another number; CellTableOf splits the
      // file's lines as the file does.
      CellTable edited = CellTableOf(originalText);
      const auto numberColumn = static_cast<std::size_t>(number - columns.begin());
      for (std::size_t line = 3; line < edited.lines.size(); ++line)
        edited.lines[line][numberColumn] = "777";
      const std::string editedText = TableText(edited.header, edited.lines);
      WriteWholeFile(tablePath, editedText);
      ASSERT_EQ(Pack(kSpells, {folder / "original", folder / "tables", folder / "mod"}).status,
                kExitSuccess);
      for (const char* source : {"tables", "mod"}) {
        const PackResult plan = Pack(kSpells, {"--dry-run", folder / "original", folder / source});
        ASSERT_EQ(plan.status, kExitSuccess) << plan.errors;
        const std::string prefix = "changed\t" + std::string(kSpells.tables[table].fileName) + "\t";
        for (std::size_t start = 0;
             (start = plan.output.find(prefix, start)) != std::string::npos;) {
          const std::size_t end = plan.output.find('\n', start);
          const Cells item = CellsOf(plan.output.substr(start, end - start));
          start = end;
          if (item.size() != 9 || item[5].starts_with("(")) continue;
          ++checked;
          EXPECT_EQ(CellAtFileLine(editedText, std::stoul(item[3]), item[5]), item[7])
              << source << ": " << JoinedCells(item);
          EXPECT_EQ(CellAtFileLine(originalText, std::stoul(item[4]), item[5]), item[6])
              << source << ": " << JoinedCells(item);
        }
      }
    }
  }
  EXPECT_GT(checked, 20u);
}

// A database source that holds other parts where no table shows them (here one more database
// node) is not taken there, and the summary says so of that source alone.
TEST(ModMergeTest, ASourceWithOtherPartsNoTableShowsIsNamedInTheSummary) {
  const std::string aloneNote =
      "\n  the source holds other parts than ORIGINAL where no table shows them";
  const std::string firstNote = "source 1 holds other parts";
  const std::string secondNote = "\n  source 2 holds other parts than ORIGINAL where no table";
  for (const Tool* tool : {&kSpells, &kQuests}) {
    for (std::uint64_t seed = 1; seed <= (kFewCases ? 2u : 5u); ++seed) {
      SCOPED_TRACE(std::string(tool->name) + " seed " + std::to_string(seed));
      TempFolder folder;
      const std::string original = GenerateDatabase(tool->kind, seed, 12);
      const std::string mod = MakeModDatabase(tool->kind, original, seed);
      DatabaseTree tree;
      ASSERT_TRUE(ReadDatabaseTree(tool->kind, mod, tree));
      TreeNode extra;
      extra.kind = 9;
      tree.databases.push_back(extra);
      WriteWholeFile(folder / "original", original);
      WriteWholeFile(folder / "mod", mod);
      WriteWholeFile(folder / "other", WriteDatabaseTree(tree));
      const PackResult alone = Pack(*tool, {"--dry-run", folder / "original", folder / "other"});
      ASSERT_EQ(alone.status, kExitSuccess) << alone.errors;
      EXPECT_NE(alone.output.find(aloneNote), std::string::npos) << alone.output;
      const PackResult both =
          Pack(*tool, {"--no-new", folder / "original", folder / "mod", folder / "other"});
      ASSERT_EQ(both.status, kExitSuccess) << both.errors;
      EXPECT_EQ(both.output.find(firstNote), std::string::npos) << both.output;
      EXPECT_NE(both.output.find(secondNote), std::string::npos) << both.output;
    }
  }
}

}  // namespace
