// Planning a pack, in its steps: the original's layout read and the sources' tables indexed;
// per table, what each source changes, the new table, and its lines as edits of the original's
// bytes; then the node headers, the check of bytes read off their lengths, and the edits in
// order.
#include "pack_plan.h"

#include <optional>

#include "byte_edits.h"
#include "name_checks.h"
#include "new_table.h"
#include "plan_items.h"
#include "planning_state.h"
#include "source_changes.h"
#include "source_indexes.h"
#include "split_text.h"
#include "table_edits.h"

namespace {

// The header's name of a column; none beyond the header.
std::optional<std::string_view> HeaderName(const TableSpec& table, std::size_t column) {
  const std::vector<std::string_view> names = SplitColumns(table.headerRow);
  if (column >= names.size()) return std::nullopt;
  return names[column];
}

// The database sources (from 0) whose parts no table shows are not the original's; the
// original's are read once, where a database source asks.
std::vector<std::size_t> SourcesWithOtherHiddenParts(OriginalTables& original,
                                                     std::vector<PackSource>& sources) {
  std::vector<std::size_t> others;
  std::optional<HiddenParts> originalParts;
  for (std::size_t source = 0; source < sources.size(); ++source) {
    if (sources[source].kind != SourceKind::Database) continue;
    if (!originalParts) originalParts = HiddenPartsOf(original.reader, original.layout);
    if (HiddenPartsOf(sources[source].reader, sources[source].layout) != *originalParts)
      others.push_back(source);
  }
  return others;
}

// One table planned in its steps.
void PlanTable(PackPlanning& planning, EditList& edits, std::size_t table,
               std::vector<std::vector<TableIndex>>& indexes) {
  TableInPlanning planned;
  // 1. What each source changes: per record, the changes of its line; merged.
  planned.sources = ChangesOfSources(planning, table, indexes);
  // 2. The new table: its lines, which keep their places, and where the others go.
  planned.newTable = PlaceNewLines(planning, planned.sources);
  // 3. The byte edits: each new line's, then the records that leave their places.
  planned.names.namingColumns = NamingColumns(planning.original.rules.tables[table]);
  PlanNewLines(planning, edits, planned);
  PlanRemovals(planning, edits, planned.sources, planned.newTable);
  // 4. What else the plan says of the table: the sources' conflicts and the names brought twice.
  NoteConflicts(planning, planned.sources);
  NoteDuplicateNames(planning, planned.names, planned.sources);
  for (SourceTable& from : planned.sources.sources)
    *from.index = TableIndex{};  // its lines are planned: let them go
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
  if (!name) return std::to_string(column + 1);
  std::string quoted = "\"";  // by appends: GCC 12 at -O3 takes a + chain for overlapping copies
  quoted.append(*name);
  quoted += '"';
  return quoted;
}

std::string BareColumnName(const TableSpec& table, std::size_t column) {
  const std::optional<std::string_view> name = HeaderName(table, column);
  return name ? std::string(*name) : std::to_string(column + 1);
}

PackPlan PlanPack(NodeReader& original, const PackRules& rules, char decimalSeparator,
                  std::vector<PackSource>& sources, bool withItems) {
  // 1. The original's layout, read while its stored lengths are checked and the sources'
  // tables indexed.
  PackStart start = StartPack(original, rules, decimalSeparator, sources);
  PackPlanning planning{{original, rules, decimalSeparator, std::move(start.layout), {}, {}},
                        sources,
                        sources.size() > 1,
                        withItems,
                        {},
                        {}};
  planning.original.row.decimalSeparator = decimalSeparator;
  planning.original.utf8Tables.assign(rules.tables.size(), -1);
  planning.plan.lineHashes.resize(rules.tables.size());
  planning.plan.changes.resize(rules.tables.size());
  planning.plan.sourceChanges.resize(rules.tables.size());
  planning.plan.otherHiddenParts = SourcesWithOtherHiddenParts(planning.original, sources);
  for (std::string& problem : start.problems)
    AddProblem(planning.problems, std::move(problem));
  // 2. Each table: what its sources change, its new table, and the edits of its lines.
  EditList edits;
  if (start.problems.empty()) {
    for (std::size_t table = 0; table < rules.tables.size(); ++table)
      PlanTable(planning, edits, table, start.indexes);
  }
  // 3. The node headers the edits resize, and no edit among bytes read off their lengths.
  PlanNodeHeaders(planning, edits);
  CheckReadOffLengths(planning, edits);
  ThrowProblems(planning.problems);
  // 4. The edits in the order of their offsets.
  FinishEdits(planning, edits);
  return std::move(planning.plan);
}
