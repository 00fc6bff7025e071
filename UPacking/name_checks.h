// The check of the new table's names: the values of its naming columns that a source's line
// brings and another record holds too (PackPlan::duplicateNames).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "duplicate_names.h"
#include "planning_state.h"
#include "source_changes.h"

// One table's names while its new lines are planned: its naming columns, the values of the
// added and changed lines with their new lines, and the kept records with theirs, whose values
// are read only when a line brings one.
struct NameChecks {
  std::vector<std::size_t> namingColumns;
  std::vector<std::pair<std::uint32_t, std::vector<NamedValue>>> namedLines;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> keptRecords;
  bool namesBrought = false;
};

// The naming cells of a line of the new table (`text`, the source's line `line`), and which of
// them it brings: all of an added line's, a changed record's where they differ from the
// record's line `before`.
void NoteNamedLine(NameChecks& names, const TableSources& table, std::size_t newLine,
                   std::size_t source, std::size_t line, std::string_view text,
                   std::optional<std::string_view> before);

// A record of the original kept as line `newLine` of the new table.
void NoteKeptRecord(NameChecks& names, std::size_t newLine, std::uint32_t record);

// Names that a source's line brings and another record of the new table holds too. The kept
// records' lines are read only then, from the first source with a line for each, in its order.
void NoteDuplicateNames(PackPlanning& planning, NameChecks& names, TableSources& table);
