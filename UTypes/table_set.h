// The output tables of a run: text files of CR LF lines, written through large buffers.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

// A table as a program declares it: file name and header row (without line end).
struct TableSpec {
  std::string_view fileName;
  std::string_view headerRow;
};

// The file line of a table's line `line` (from 0, the first after the header row): the header
// row is line 1.
inline std::size_t TableFileLine(std::size_t line) {
  return line + 2;
}

// Bytes gathered per table before they are written.
inline constexpr std::size_t kTableBufferSize = std::size_t{256} * 1024;

struct Table {
  std::string path;  // output prefix + file name
  std::string_view headerRow;
  PlatformFile file;
  std::vector<char> pending;  // lines handed over and not yet written
};

// The run's tables in their fixed order.
struct TableSet {
  std::vector<Table> tables;
};

// Creates every table file under `outputPrefix` (truncating existing ones), then writes every
// header row, both in table order. A failure raises IoFailure; tables created before it stay. First
// of all, a table whose path names `database` (the open file the run reads, through any link)
// raises IoFailure with denied access before any file is created or changed.
void CreateTables(TableSet& tableSet, std::span<const TableSpec> specs,
                  std::string_view outputPrefix, PlatformFile database);

// Hands one line to the table; the line end CR LF is added. A failed write raises IoFailure.
void WriteLine(Table& table, std::string_view line);

// Writes pending lines and closes the file; a failure raises IoFailure.
void CloseTable(Table& table);

// After a failure: writes what every table still holds and closes it, ignoring further
// failures, so that every line handed over before the failure is on disk. Deletes nothing.
void SaveTablesAfterFailure(TableSet& tableSet);
