// An unpacker's tables as the sheets of a workbook: the walk's fields made into typed cells,
// texts converted from the game's code page, and the sheet that says where the workbook came from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "code_page.h"
#include "field_codec.h"
#include "node_reader.h"
#include "table_set.h"
#include "tree_walk.h"
#include "workbook_writer.h"

// What a table's column holds, as its fields' decoders write it: texts (names, lists, schools,
// and columns made of several fields such as "R,G,B"), whole numbers, or floats.
enum class ColumnKind : std::uint8_t { Text, Integer, Float };

struct TableColumn {
  ColumnKind kind = ColumnKind::Text;
  FieldRule rule;  // of the column's last field: a float's style and separator
};

// The columns of the table that `route` leads to, from its catalogue's fields in code order: a
// field with a tab before it starts a column, the others continue the last one.
std::vector<TableColumn> ColumnsOfTable(const WalkRules& walk, int route);

// Whether a path names a workbook: it ends in ".xlsx", in any case.
bool IsWorkbookName(std::string_view path);

// The name of a table's sheet: its file name without ".txt".
std::string_view SheetNameOf(const TableSpec& table);

// The text of the cell that follows the last cell of a line with fewer or more columns than its
// table's header row, so that its column count survives spreadsheets that drop empty cells. Its
// first character is in none of the code pages, so no stored text can show it.
inline constexpr std::string_view kLineEndMark = "\xE2\x88\x8E end of record";

// The decimal text a workbook holds for a finite float32: the shortest that reads back as it,
// so that a spreadsheet's 15 digits show it whole.
std::string WorkbookFloatText(float value);

// The sheet that records where a workbook came from, and what it records.
inline constexpr std::string_view kAboutSheetName = "About";
struct WorkbookOrigin {
  std::string databaseName;  // the file name, without its folder
  std::int64_t databaseSize = 0;
  std::uint32_t databaseCrc = 0;  // CRC-32 of the whole file
  int codePage = kDefaultCodePage;
  std::string writtenBy;  // "grimdex 0.4"
  std::string packer;     // "grimpack"
};

// The keys of the About sheet's rows, in its order.
inline constexpr std::string_view kOriginKeys[] = {"Database", "Database size", "Database CRC-32",
                                                   "Code page", "Written by"};

// The CRC-32 of a whole file, read through its open handle. A failed read raises IoFailure.
std::uint32_t FileCrc32(PlatformFile file, std::int64_t size);

// A refusal to make a workbook: one line naming the table and line, pointing to the text tables.
struct WorkbookRefusal {
  std::string message;
};

// The unpackers' watcher for a workbook: each routed record's line becomes a row of its table's
// sheet, cell by cell from its fields. Make it with StartWorkbookTables.
struct WorkbookLineWriter : WatchLinesOnly {
  NodeReader* reader = nullptr;  // the database being walked: a float's stored bits
  const WalkRules* walk = nullptr;
  std::span<const TableSpec> tables;
  const CodePage* codePage = nullptr;
  WorkbookWriter* workbook = nullptr;
  const FieldCatalogue* catalogue = &kSkipEveryField;
  // The record being read: per cell where it starts in the line, how many fields made it and
  // the last one's rule and float bits. A cell is the line's bytes from its start to the tab
  // that starts the next cell, so its bytes are taken from the finished line, not copied.
  struct PendingCell {
    std::size_t start = 0;
    std::size_t fields = 0;
    const FieldRule* rule = nullptr;
    std::uint32_t floatBits = 0;
  };
  std::vector<PendingCell> cells;
  std::size_t cellCount = 0;
  std::size_t lineLength = 0;              // of the line so far, without the NUL bytes it will lose
  std::vector<std::size_t> headerColumns;  // per table
  std::vector<std::vector<TableColumn>> columns;  // per table, as ColumnsOfTable gives them
  std::vector<std::string> values;                // the finished cells' texts, UTF-8 or numbers
  std::vector<SheetCell> row;

  void Table(std::int64_t offset, const NodeHeader& header, int route);
  void Field(std::int64_t offset, const NodeHeader& field, std::string_view text,
             std::int64_t positionAfter);
  void Line(int route, std::string_view line);
  // The cell's bytes as UTF-8: the bytes themselves, or their conversion made in `held`.
  std::string_view TextInUtf8(std::string_view bytes, std::string& held) const;
};

// Per route, the bytes its table nodes hold by their stored lengths, read through a second reader
// from the database's and tables' headers alone, as the walk meets them: what each sheet's XML
// will be made from. Damage or a failed read ends the reading quietly.
std::vector<std::int64_t> TableBytesOfRoutes(const NodeReader& database, const WalkRules& walk,
                                             std::size_t routes);

// The table bytes from which the largest table's sheet streams into the workbook's file from its
// first rows; below them, the first sheet to reach kStreamedSheetXml does.
inline constexpr std::int64_t kStreamedTableBytes = std::int64_t{8} << 20;

// Adds a sheet for each table with its header row, in the tables' order, and readies `writer`;
// the sheet of the most table bytes, when they reach kStreamedTableBytes, is the one streamed.
void StartWorkbookTables(WorkbookLineWriter& writer, WorkbookWriter& workbook, NodeReader& reader,
                         const WalkRules& walk, std::span<const TableSpec> tables,
                         const CodePage& codePage);

// Adds the About sheet, last.
void AddOriginSheet(WorkbookWriter& workbook, const WorkbookOrigin& origin);
