// A table's line as its cells and back, for the tests that edit lines cell by cell.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "split_text.h"

// The cells of a line, split at its tabs.
inline std::vector<std::string> CellsOf(std::string_view line) {
  std::vector<std::string> cells;
  for (std::string_view cell : SplitColumns(line))
    cells.emplace_back(cell);
  return cells;
}

// The line of the cells, joined by tabs.
inline std::string LineOf(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t index = 0; index < cells.size(); ++index)
    line += (index > 0 ? "\t" : "") + cells[index];
  return line;
}
