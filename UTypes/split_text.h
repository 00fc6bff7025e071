// Splitting a text into the pieces a separator stands between, and a table's line into its
// cells and back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The line end of every table and console line the programs write.
inline constexpr std::string_view kLineEnd = "\r\n";

// The pieces of `text` between occurrences of `separator` (not empty), in order: one more than
// the separators, empty pieces included ("a,,b" at "," is "a", "", "b"; "" is one empty piece).
inline std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    pieces.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return pieces;
    start = end + separator.size();
  }
}

// The columns of a line or of a field's text, split at its tabs.
inline std::vector<std::string_view> SplitColumns(std::string_view text) {
  return SplitAt(text, "\t");
}

// The cells of a line as strings.
inline std::vector<std::string> CellsOf(std::string_view line) {
  std::vector<std::string> cells;
  for (std::string_view cell : SplitColumns(line))
    cells.emplace_back(cell);
  return cells;
}

// The line of the cells, joined by tabs.
inline std::string JoinedCells(const std::vector<std::string>& cells) {
  std::string line;
  std::size_t size = cells.size();
  for (const std::string& cell : cells)
    size += cell.size();
  line.reserve(size);
  for (std::size_t index = 0; index < cells.size(); ++index) {
    if (index > 0) line += '\t';
    line += cells[index];
  }
  return line;
}
