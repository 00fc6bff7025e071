// Workbook files: sheets of rows of cells, written as an Office Open XML spreadsheet (.xlsx)
// that spreadsheets open without an import dialog.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "deflate_thread.h"
#include "platform.h"
#include "replacing_file.h"
#include "row_buffer.h"
#include "zip_archive.h"

// What a sheet holds at most: rows, columns, and characters (UTF-16 units) in one cell.
inline constexpr std::uint32_t kMostSheetRows = 1048576;
inline constexpr std::size_t kMostSheetColumns = 16384;
inline constexpr std::size_t kMostCellCharacters = 32767;

enum class SheetCellKind : std::uint8_t { Empty, Number, Text };

// The styles of the workbook's style sheet, in its order: General numbers; Text (the Text number
// format, so that what is typed into the cell stays text); the bold Text of a header row; and
// General on a fill that marks a cell: Changed (yellow), Added (green), Removed (red).
enum class CellStyle : std::uint8_t { General, Text, Header, Changed, Added, Removed };

// A cell: a number's decimal text ("12.5", "-3", "1e-07"), or a text in UTF-8.
struct SheetCell {
  SheetCellKind kind = SheetCellKind::Empty;
  std::string_view value;
  CellStyle style = CellStyle::General;
};

// A column's width in characters and the style of its empty cells.
struct SheetColumn {
  double width = 10;
  CellStyle style = CellStyle::General;
};

// A sheet being made: its part's XML is deflated in memory as its rows come, so that the rows
// of several sheets may come in turns.
struct WorkbookSheet {
  std::string name;
  std::vector<SheetColumn> columns;
  ZipEntryInMemory part;
  RowBuilder pending;           // XML not yet deflated
  std::uint64_t xmlQueued = 0;  // XML handed to the deflater so far
  std::uint32_t rows = 0;
  std::size_t widestRow = 0;
  bool frozenHeader = false;
};

// A short piece of a cell's XML in a buffer of fixed size, so that it is copied in one move of
// known size.
struct CellOpening {
  std::array<char, 16> bytes{};
  std::size_t size = 0;
};

// The XML a sheet reaches before it is deflated straight into the workbook's file.
inline constexpr std::uint64_t kStreamedSheetXml = std::uint64_t{64} << 20;
inline constexpr std::size_t kNoStreamedSheet = static_cast<std::size_t>(-1);

struct WorkbookWriter {
  std::vector<WorkbookSheet> sheets;
  // The file being written, from BeginWorkbookFile until it is moved into place or discarded.
  ReplacingFile file;
  bool fileBegun = false;
  // The sheet deflated straight into `file`, the first to reach `streamedSheetXml` bytes of XML
  // (of those that may stream):
  // its deflated bytes, as a rule most of a large workbook's, are never held in memory. Without
  // a file begun, every sheet is held until the workbook is written.
  std::size_t streamedSheet = kNoStreamedSheet;
  std::uint64_t streamedSheetXml = kStreamedSheetXml;
  // The sheet its caller expects to hold the most XML, if it knows: then that sheet alone is
  // streamed, from its first bytes, so that only the smaller ones are held in memory.
  std::size_t largestSheet = kNoStreamedSheet;
  // Per column as far as a row has reached, the start of its cells' XML: <c r=" and its letters.
  std::vector<CellOpening> cellOpenings;
  // Whether the sheets' XML is deflated on a thread of its own while rows are made, where the
  // machine has more than one core; false: on the caller's thread. The bytes are the same.
  bool deflateApart = true;
  // Made with the first sheet; declared after the sheets, so that it stops before they go.
  std::unique_ptr<DeflateThread> deflater;
};

// Adds a sheet, its first row frozen and filtered when `headerRow` (a header row given by the
// first AppendSheetRow). Returns its index. The name is at most 31 characters, without : \ / ? * [
// ].
std::size_t AddSheet(WorkbookWriter& workbook, std::string name, std::vector<SheetColumn> columns,
                     bool headerRow);

// Appends a row of cells to the sheet: empty cells are left out. The caller keeps within
// kMostSheetRows rows, kMostSheetColumns cells and kMostCellCharacters per text.
void AppendSheetRow(WorkbookWriter& workbook, std::size_t sheet, std::span<const SheetCell> cells);

// Writes the workbook into `file` (open for writing, empty; the workbook's own file when one is
// begun): its sheets in the order added, the style sheet, the parts that tie them together. A
// failed write raises IoFailure; a workbook past the container's limits ZipFailure. Releases the
// sheets' memory.
void WriteWorkbook(WorkbookWriter& workbook, PlatformFile file);

// Begins the file of the workbook that will replace `target`, before its sheets' rows come, so
// that a large sheet goes into it as it is deflated: a temporary file beside `target` (its
// permissions as PermissionsForReplacement of `target` and `model` gives them), unseen until
// WriteWorkbookFile moves it over `target`. IoFailure when it cannot be made.
void BeginWorkbookFile(WorkbookWriter& workbook, const std::string& target,
                       const std::string& model);

// Writes the finished workbook as the file `target` (the one given to BeginWorkbookFile, which
// it calls when the file is not yet begun), syncs it and moves it over `target`, so that no
// workbook is ever half written there. IoFailure when that fails; the temporary file is then
// gone.
void WriteWorkbookFile(WorkbookWriter& workbook, const std::string& target,
                       const std::string& model);

// Releases what a workbook holds, and discards a begun file not yet in place; safe at any time.
void CloseWorkbookWriter(WorkbookWriter& workbook);

// The column letters of a zero-based column index: "A", "Z", "AA", "XFD".
std::string ColumnLetters(std::size_t column);
