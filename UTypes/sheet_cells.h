// The cells of a sheet's row as a workbook saved them, before they mean anything to a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

// What a cell holds as saved: a number (its decimal text as saved, "12.5", "1E-05"), a text
// (UTF-8, escapes undone, rich-text runs joined), a truth value, an error ("#DIV/0!"), or a
// number shown as a date or time.
enum class ReadCellKind : std::uint8_t { Number, Text, Boolean, Error, Date };

struct ReadCell {
  std::size_t column = 0;  // zero-based
  ReadCellKind kind = ReadCellKind::Text;
  std::string value;
  bool formula = false;      // a formula's saved value
  bool formulaValue = true;  // false: a formula with no saved value (`value` is empty)
  bool operator==(const ReadCell&) const = default;
};

// Takes a row: its 1-based number and its cells in ascending column order without empty ones.
using SheetRowHandler = std::function<void(std::uint32_t row, std::span<const ReadCell> cells)>;
