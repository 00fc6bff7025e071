// The new table's names checked against each other where a source brings one.
#include "name_checks.h"

#include <algorithm>
#include <string>

#include "split_text.h"

void NoteNamedLine(NameChecks& names, const TableSources& table, std::size_t newLine,
                   std::size_t source, std::size_t line, std::string_view text,
                   std::optional<std::string_view> before) {
  if (names.namingColumns.empty()) return;
  const std::vector<std::string_view> cells = SplitColumns(text);
  std::vector<std::string_view> oldCells;
  if (before) oldCells = SplitColumns(*before);
  const SourceLine at{static_cast<std::uint16_t>(source),
                      static_cast<std::uint32_t>(FileLineOf(*table.sources[source].index, line))};
  std::vector<NamedValue> values;
  for (std::size_t column : names.namingColumns) {
    const std::string_view cell = column < cells.size() ? cells[column] : std::string_view();
    const std::string_view old = column < oldCells.size() ? oldCells[column] : std::string_view();
    const bool brought = !cell.empty() && (!before || NameKey(cell) != NameKey(old));
    names.namesBrought = names.namesBrought || brought;
    values.push_back({std::string(cell), at, brought});
  }
  names.namedLines.emplace_back(static_cast<std::uint32_t>(newLine), std::move(values));
}

void NoteKeptRecord(NameChecks& names, std::size_t newLine, std::uint32_t record) {
  if (!names.namingColumns.empty())
    names.keptRecords.emplace_back(static_cast<std::uint32_t>(newLine), record);
}

void NoteDuplicateNames(PackPlanning& planning, NameChecks& names, TableSources& table) {
  if (!names.namesBrought) return;
  std::vector<std::pair<SourceLine, std::uint32_t>> keptLines;  // the line read, the new line
  for (const auto& [newLine, record] : names.keptRecords) {
    for (const SourceTable& from : table.sources) {
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
    const std::string text(ReadSourceLine(table.sources[at.source], at.line));
    NoteNamedLine(names, table, newLine, at.source, at.line, text, text);
  }
  std::ranges::sort(names.namedLines, {},
                    &std::pair<std::uint32_t, std::vector<NamedValue>>::first);
  for (std::size_t at = 0; at < names.namingColumns.size(); ++at) {
    std::vector<NamedValue> values;
    values.reserve(names.namedLines.size());
    for (auto& [newLine, named] : names.namedLines)
      values.push_back(std::move(named[at]));
    for (DuplicateName& duplicate :
         FindDuplicateNames(table.table, names.namingColumns[at], std::move(values)))
      planning.plan.duplicateNames.push_back(std::move(duplicate));
  }
}
