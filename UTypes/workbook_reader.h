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
#include "sheet_cells.h"
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

// Hands each row of the sheet that holds a cell to `row(number, cells)`, rows in ascending
// order, 1-based, cells in ascending column order without empty ones. WorkbookFailure when the
// sheet is not well-formed or its rows or cells go backwards or past a sheet's limits;
// IoFailure when a read fails. The rows of a sheet of 1 MiB or more are read on a thread of their
// own, `row` called on this one.
void ReadSheetRows(const WorkbookFile& workbook, const WorkbookSheetEntry& sheet,
                   const SheetRowHandler& row);

// The zero-based column and 1-based row of a cell reference ("B12"); false when it is none.
bool ReadCellReference(std::string_view reference, std::size_t& column, std::uint32_t& row);
