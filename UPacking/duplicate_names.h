// Records of the new table that share a Name or a Code with another record, where a source
// brought the value: packed as they are, and named in the summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "table_set.h"

// A line of the new table where a source gives it: the source (from 0) and the line in its
// table file.
struct SourceLine {
  std::uint16_t source = 0;
  std::uint32_t line = 0;
};

// One line's value in a naming column. `brought`: the line is added, or changed this value.
struct NamedValue {
  std::string value;
  SourceLine at;
  bool brought = false;
};

// A value several lines of one column hold, at least one of them bringing it.
struct DuplicateName {
  std::size_t table = 0;
  std::size_t column = 0;
  std::string value;              // as the first of its lines holds it
  std::vector<SourceLine> lines;  // in the new table's order
};

// The columns of a table whose every value names one record: "Name" and "Code", from 0.
std::vector<std::size_t> NamingColumns(const TableSpec& table);

// The form in which two names are the same name: the letters of the Latin alphabet and of the
// game's Cyrillic (Windows-1251) without their case; every other byte as it is.
std::string NameKey(std::string_view value);

// The values of `values` (one column's, in the new table's order) that several lines hold under
// one NameKey, at least one line bringing it; empty values are no names. In the order of their
// first lines.
std::vector<DuplicateName> FindDuplicateNames(std::size_t table, std::size_t column,
                                              std::vector<NamedValue> values);
