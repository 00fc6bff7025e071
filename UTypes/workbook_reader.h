// Workbook files read back: the sheets a workbook holds and their rows of cells, as
// spreadsheets and libraries save them (shared or inline strings, rich text, formulas with their
// saved values, rows and cells with or without references).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "zip_archive.h"

// Why a file cannot be read as a workbook: words that complete "'<file>' ..." ("is not a
// workbook: ...", "is damaged: ...").
struct WorkbookFailure {
  std::string message;
};

struct WorkbookSheetEntry {
  std::string name;
  std::string part;  // the zip entry of its cells
};

// An open workbook: its container, its sheets in order, its shared strings and which of its
// cell styles show numbers as dates or times.
struct WorkbookFile {
  ZipArchive archive;
  std::vector<WorkbookSheetEntry> sheets;
  std::vector<std::string> sharedStrings;
  std::vector<bool> dateStyles;
};

// Reads the workbook's parts that say what it holds: its sheets, shared strings and styles.
// `file` is open for reading and stays the caller's. WorkbookFailure for a file that is not a
// workbook of this kind (not a zip; a binary or encrypted workbook, which are compound files;
// strict conformance; parts missing or not well-formed); IoFailure when a read fails.
void OpenWorkbookFile(PlatformFile file, WorkbookFile& workbook);

// The sheet named `name` (as spreadsheets compare names: ASCII letters in any case); null
// when the workbook has none.
const WorkbookSheetEntry* FindSheet(const WorkbookFile& workbook, std::string_view name);

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
};

// Hands each row of the sheet that holds a cell to `row(number, cells)`, rows in ascending
// order, 1-based, cells in ascending column order without empty ones. WorkbookFailure when the
// sheet is not well-formed or its rows or cells go backwards or past a sheet's limits;
// IoFailure when a read fails.
using SheetRowHandler = std::function<void(std::uint32_t row, std::span<const ReadCell> cells)>;
void ReadSheetRows(const WorkbookFile& workbook, const WorkbookSheetEntry& sheet,
                   const SheetRowHandler& row);

// The zero-based column and 1-based row of a cell reference ("B12"); false when it is none.
bool ReadCellReference(std::string_view reference, std::size_t& column, std::uint32_t& row);
