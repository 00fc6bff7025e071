// The new table's records rebuilt from the sources' lines, and checked for what cannot be stored.
#include "new_records.h"

#include <vector>

#include "split_text.h"

namespace {

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

// The original's record with the fields and header that database sources changed, as they
// store them.
StoredRecord WithDatabaseParts(PackPlanning& planning, const TableSources& table,
                               const MergedRecord& merged, const StoredRecord& record) {
  StoredRecord base = record;
  for (std::size_t source = 0; source < planning.sources.size(); ++source) {
    std::vector<std::size_t> fields;
    bool header = false;
    for (std::size_t at = 0; at < merged.units.size(); ++at) {
      if (merged.unitSources[at] != source) continue;
      if (merged.units[at].unit.kind == UnitKind::Field)
        fields.push_back(merged.units[at].unit.index);
      header = header || merged.units[at].unit.kind == UnitKind::RecordHeader;
    }
    if (fields.empty() && !header) continue;
    const StoredRecord stored =
        ReadSourceRecord(planning, table, source, SourceLineOf(merged, source));
    base = WithPartsOf(base, stored, fields, header);
  }
  return base;
}

}  // namespace

bool Rebuild(PackPlanning& planning, const TableSources& table, const StoredRecord& base,
             std::string_view text, bool neighbour, std::size_t source, std::size_t line,
             RebuiltRecord& rebuilt) {
  const std::size_t fileLine = FileLineOf(*table.sources[source].index, line);
  const std::string lineEndProblem =
      LineEndProblem(text, table.sources[source].index->lineEnd, StoredLine(base));
  if (!lineEndProblem.empty()) {
    AddProblem(planning.problems,
               WhereInSource(planning, table, source, line) + ": " + lineEndProblem);
    return false;
  }
  if (LooksLikeUtf8(text) && !TableHasUtf8(planning.original, table.table)) {
    AddProblem(planning.problems,
               WhereInSource(planning, table, source, line) +
                   ": the line is in UTF-8, but the table's text is in the game's single-byte "
                   "code page: save the table in the character set it was opened with (for "
                   "example Cyrillic (Windows-1251)), not in UTF-8");
    return false;
  }
  std::vector<CellProblem> cellProblems;
  if (!RebuildRecord(base, text, neighbour, planning.original.decimalSeparator, rebuilt,
                     cellProblems)) {
    const std::string prefix = SourcePrefix(planning, source);
    for (const CellProblem& problem : cellProblems) {
      AddProblem(planning.problems,
                 prefix + CellProblemText(planning.original.rules, table.table, fileLine, problem));
    }
    return false;
  }
  for (const RoundedCell& cell : rebuilt.rounded)
    planning.plan.rounded.push_back({table.table, fileLine, cell});
  for (const SpacedListCell& cell : rebuilt.spacedLists)
    planning.plan.spacedLists.push_back({table.table, fileLine, cell});
  return true;
}

bool MergedBytes(PackPlanning& planning, TableSources& table, const NewLine& line,
                 const MergedRecord& merged, const StoredRecord& record, std::string& bytes,
                 std::string& expected) {
  std::vector<std::string> cells = CellsOf(StoredLine(record));
  std::string text;
  for (std::size_t at = 0; at < merged.units.size(); ++at) {
    const UnitChange& unit = merged.units[at];
    const std::size_t source = merged.unitSources[at];
    if (unit.unit.kind == UnitKind::WholeRecord) {
      if (planning.sources[source].kind != SourceKind::Database) {
        text = unit.value;
        break;
      }
      bytes = unit.value;
      expected = ReadSourceLine(table.sources[source], SourceLineOf(merged, source));
      return true;
    }
    if (unit.unit.kind == UnitKind::Cell && unit.unit.index < cells.size()) {
      cells[unit.unit.index] = unit.value;
    }
  }
  const StoredRecord base =
      text.empty() ? WithDatabaseParts(planning, table, merged, record) : record;
  if (text.empty()) text = JoinedCells(cells);
  std::vector<std::string>().swap(cells);  // the line holds them now
  RebuiltRecord rebuilt;
  if (!Rebuild(planning, table, base, text, false, line.source, line.line, rebuilt)) return false;
  bytes = std::move(rebuilt.bytes);
  expected = std::move(rebuilt.line);
  return true;
}
