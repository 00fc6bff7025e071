// Splitting a text into the pieces a separator stands between.
#pragma once

#include <string_view>
#include <vector>

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
