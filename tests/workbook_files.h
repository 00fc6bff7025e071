// Workbooks in the tests: a workbook file's sheets read back as rows of cells, and tables
// written into a workbook as a spreadsheet saves them (numbers in number columns as numbers).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "code_page.h"
#include "platform.h"
#include "run_failure.h"
#include "split_text.h"
#include "workbook_reader.h"
#include "workbook_tables.h"
#include "workbook_writer.h"

struct SheetRows {
  std::string name;
  std::vector<std::pair<std::uint32_t, std::vector<ReadCell>>> rows;
};

// Every sheet of the workbook with its rows; a workbook that cannot be read fails the test.
inline std::vector<SheetRows> ReadWorkbookSheets(const std::string& path) {
  std::vector<SheetRows> sheets;
  PlatformFile file;
  if (!OpenFileForReading(path.c_str(), file)) {
    ADD_FAILURE() << "cannot open " << path;
    return sheets;
  }
  try {
    WorkbookFile workbook;
    OpenWorkbookFile(file, workbook);
    for (const WorkbookSheetEntry& entry : workbook.sheets) {
      SheetRows& sheet = sheets.emplace_back();
      sheet.name = entry.name;
      ReadSheetRows(workbook, entry, [&](std::uint32_t row, std::span<const ReadCell> cells) {
        sheet.rows.emplace_back(row, std::vector<ReadCell>(cells.begin(), cells.end()));
      });
    }
  } catch (const WorkbookFailure& failure) {
    ADD_FAILURE() << path << " " << failure.message;
  }
  static_cast<void>(CloseFile(file));
  return sheets;
}

// A whole number or a number with a '.', as a spreadsheet reads a number typed into a cell.
inline bool LooksLikeNumber(const std::string& text) {
  if (text.empty() || text == "-") return false;
  std::size_t points = 0;
  for (std::size_t index = text[0] == '-' ? 1 : 0; index < text.size(); ++index) {
    if (text[index] == '.') {
      ++points;
    } else if (text[index] < '0' || text[index] > '9') {
      return false;
    }
  }
  return points <= 1;
}

// Writes tables (their header rows and lines of cells, in the game's code page) as the sheets of
// a workbook, as a spreadsheet saves them: a cell of a number column that reads as a number is a
// number cell, any other cell a text; a line of other than the header's column count ends in the
// line end mark.
using TableLines = std::vector<std::vector<std::string>>;
inline void WriteTablesAsWorkbook(const WalkRules& walk, std::span<const TableSpec> specs,
                                  const std::vector<TableLines>& tables, const std::string& path) {
  const CodePage& page = *FindCodePage(kDefaultCodePage);
  WorkbookWriter workbook;
  std::vector<std::string> texts;
  for (std::size_t route = 0; route < specs.size(); ++route) {
    const std::vector<TableColumn> columns = ColumnsOfTable(walk, static_cast<int>(route));
    const std::size_t sheet = AddSheet(workbook, std::string(SheetNameOf(specs[route])), {}, true);
    const std::vector<std::string> header = CellsOf(specs[route].headerRow);
    std::vector<std::vector<std::string>> lines = {header};
    lines.insert(lines.end(), tables[route].begin(), tables[route].end());
    for (const std::vector<std::string>& line : lines) {
      texts.assign(line.size(), {});
      std::vector<SheetCell> cells(line.size());
      for (std::size_t column = 0; column < line.size(); ++column) {
        const bool numberColumn =
            column < columns.size() && columns[column].kind != ColumnKind::Text;
        if (line[column].empty()) continue;
        if (numberColumn && LooksLikeNumber(line[column]) && &line != &lines[0]) {
          cells[column] = {SheetCellKind::Number, line[column]};
        } else {
          AppendUtf8OfBytes(page, line[column], texts[column]);
          cells[column] = {SheetCellKind::Text, texts[column], CellStyle::Text};
        }
      }
      if (line.size() != header.size()) cells.push_back({SheetCellKind::Text, kLineEndMark});
      AppendSheetRow(workbook, sheet, cells);
    }
  }
  PlatformFile file;
  ASSERT_EQ(CreateFileForWriting(path.c_str(), file), 0);
  WriteWorkbook(workbook, file);
  ASSERT_EQ(CloseFile(file), 0);
}
