// A workbook as a source of a pack: each sheet named after a table is that table, its cells
// turned back into the table's text in the game's code page, as its unpacker writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "original_layout.h"
#include "platform.h"

// What the About sheet of a workbook records; `known` is false when it has none.
struct RecordedOrigin {
  bool known = false;
  std::string databaseName;
  std::int64_t databaseSize = -1;
  std::uint32_t databaseCrc = 0;
  int codePage = 0;  // 0: not recorded
};

// A line that holds a float as the shortest text of its float32 where the table's few decimals
// would not show that float ("4.6666665" where the table shows 4.666667): its text keeps the
// float exactly, and it pairs with a record by the line the table shows for it.
struct ShownLine {
  std::size_t line = 0;         // from 0, after the header row
  std::uint64_t ownHash = 0;    // LineHash of the line as read
  std::uint64_t shownHash = 0;  // LineHash of the line with each such float as the table shows it
};

// A workbook's tables, as text, and what the summary says of it.
struct WorkbookTables {
  std::vector<std::string> texts;  // one per table of the rules, header row first, CR LF lines
  std::vector<std::vector<ShownLine>> shownLines;  // per table, in increasing order of lines
  RecordedOrigin origin;
  int codePage = 0;
  std::vector<std::string> ignoredSheets;
  std::size_t formulaCells = 0;
  std::string firstFormula;  // where the first formula cell is, for the summary
};

// Whether the open file is a workbook by its content (a zip container), rather than a database.
// IoFailure when a read fails.
bool IsWorkbookFile(PlatformFile file);

// What the About sheet of the workbook open as `file` records: `known` false when the file is
// not a workbook that can be read or has no About sheet. IoFailure when a read fails.
RecordedOrigin ReadRecordedOrigin(PlatformFile file);

// Whether the open database of `size` bytes is the one `origin` records: its size and its
// CRC-32 (computed only when the sizes agree). IoFailure when a read fails.
bool IsRecordedDatabase(const RecordedOrigin& origin, PlatformFile database, std::int64_t size);

// Reads the workbook at `path` (open as `file`) into table texts: its sheets named after the
// rules' tables, in the code page `codePage` (0: the one the workbook records, else
// kDefaultCodePage). Number cells are written as the unpacker writes the value they round to
// where they hold exactly that value's number, else as saved; text cells are converted to the
// code page. Raises PackFailure naming the workbook, the sheet, the row and the column for a
// workbook that cannot be read, a missing table sheet, a character the code page cannot hold,
// a date, a truth value, an error or a formula without a saved value, a number in a text
// column, an empty row among the lines; IoFailure when a read fails.
void ReadWorkbookTables(const std::string& path, PlatformFile file, const PackRules& rules,
                        char decimalSeparator, int codePage, WorkbookTables& tables);

// The hashes by which a table's lines pair with records: each line's own (`hashes`), or the
// shown hash of a ShownLine whose own hash is still the line's. Such a line stands for its record
// unchanged only where its floats still show the stored values, which the planner asks of the
// record (ShowsFloatsExactly).
std::vector<std::uint64_t> PairingHashes(std::span<const ShownLine> shown,
                                         std::span<const std::uint64_t> hashes);

// Whether line `line` of table `table` is one of the workbook's ShownLines.
bool ShowsFloatsExactly(const WorkbookTables& tables, std::size_t table, std::size_t line);

// The lines the summary adds for a workbook source: sheets ignored, formulas packed as their
// saved values, a database other than the one the workbook was made from (`original`, its
// size and CRC-32 when they are needed: computed only when the sizes agree).
std::vector<std::string> WorkbookNotes(const std::string& path, const WorkbookTables& tables,
                                       PlatformFile original, std::int64_t originalSize);
