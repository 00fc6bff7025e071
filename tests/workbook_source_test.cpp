// A workbook's cells read back into table text: numbers as the unpacker writes the value they
// hold, texts in the game's code page, and the cells no table can hold refused with their place.
#include "workbook_source.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "session_tools.h"
#include "workbook_files.h"

namespace {

using Kind = SheetCellKind;

// A workbook of the tool's tables, each sheet its header row, and `rows` after the header of
// table `table`.
void WriteBook(const Tool& tool, std::size_t table, const std::vector<std::vector<SheetCell>>& rows,
               const std::string& path) {
  WorkbookWriter workbook;
  for (std::size_t route = 0; route < tool.tables.size(); ++route) {
    const std::size_t sheet =
        AddSheet(workbook, std::string(SheetNameOf(tool.tables[route])), {}, true);
    std::vector<std::string> names = CellsOf(tool.tables[route].headerRow);
    std::vector<SheetCell> header;
    for (const std::string& name : names)
      header.push_back({Kind::Text, name, CellStyle::Header});
    AppendSheetRow(workbook, sheet, header);
    if (route != table) continue;
    for (const std::vector<SheetCell>& row : rows)
      AppendSheetRow(workbook, sheet, row);
  }
  PlatformFile file;
  ASSERT_EQ(CreateFileForWriting(path.c_str(), file), 0);
  WriteWorkbook(workbook, file);
  ASSERT_EQ(CloseFile(file), 0);
}

// The table text of the workbook's table, or the problems it was refused with.
std::string TableOrProblems(const Tool& tool, std::size_t table, const std::string& path,
                            char decimalSeparator) {
  PlatformFile file;
  EXPECT_TRUE(OpenFileForReading(path.c_str(), file));
  WorkbookTables tables;
  std::string result;
  try {
    ReadWorkbookTables("book.xlsx", file, tool.packer.rules, decimalSeparator, 0, tables);
    result = tables.texts.at(table);
  } catch (const PackFailure& failure) {
    for (const std::string& problem : failure.problems)
      result += problem + "\n";
  }
  static_cast<void>(CloseFile(file));
  return result;
}

// One cell of a line of a table whose other cells are empty, and what the table line says.
struct CellCase {
  const Tool* tool;
  std::size_t table;
  std::size_t column;
  Kind kind;
  std::string value;
  char decimalSeparator;
  std::string cell;  // the table's cell, or the start of the problem
};

const CellCase kCellCases[] = {
    // Floats: the unpacker's own text of the float the number rounds to, where the cell holds
    // the workbook's number of that float; otherwise the number as saved, which the packer rounds.
    {&kSpells, 0, 5, Kind::Number, "12.5", '.', "12.5"},
    {&kSpells, 0, 5, Kind::Number, "7103.17", '.', "7103.169922"},
    {&kSpells, 0, 5, Kind::Number, "7103.1699218750", '.', "7103.1699218750"},
    {&kSpells, 0, 5, Kind::Number, "13.123456789", '.', "13.123456789"},
    {&kSpells, 0, 5, Kind::Number, "1e-07", '.', "1e-07"},
    {&kSpells, 0, 5, Kind::Number, "1E+20", '.', "1.00000002004088E20"},
    {&kSpells, 0, 5, Kind::Number, "-0", '.', "0"},
    {&kSpells, 0, 5, Kind::Text, "NAN", '.', "NAN"},
    {&kQuests, 1, 2, Kind::Number, "12.5", ',', "12,5"},
    {&kQuests, 1, 2, Kind::Number, "0.1", ',', "0,100000001490116"},
    // Whole numbers: as the unpacker writes them, whatever form the number was saved in.
    {&kSpells, 0, 6, Kind::Number, "5", '.', "5"},
    {&kSpells, 0, 6, Kind::Number, "5.0", '.', "5"},
    {&kSpells, 0, 6, Kind::Number, "1E+3", '.', "1000"},
    {&kSpells, 0, 6, Kind::Number, "-2147483648", '.', "-2147483648"},
    {&kSpells, 0, 6, Kind::Number, "2147483648", '.', "2147483648"},
    {&kSpells, 0, 6, Kind::Number, "2147483647", '.', "2147483647"},
    {&kSpells, 0, 6, Kind::Number, "-2147483649", '.', "-2147483649"},
    {&kSpells, 0, 6, Kind::Number, "-0", '.', "0"},
    {&kSpells, 0, 6, Kind::Number, "007", '.', "7"},
    {&kSpells, 0, 6, Kind::Number, "+5", '.', "5"},
    {&kSpells, 0, 6, Kind::Number, "-5", '.', "-5"},
    {&kSpells, 0, 6, Kind::Number, "0", '.', "0"},
    {&kSpells, 0, 6, Kind::Number, "99999999999", '.', "99999999999"},
    {&kSpells, 0, 6, Kind::Number, "2.5", '.', "2.5"},
    {&kSpells, 0, 26, Kind::Number, "1", '.', "1"},
    // Texts in the game's code page.
    {&kSpells, 0, 0, Kind::Text, "\xD0\x96\xD0\xB0\xD1\x80", '.', "\xC6\xE0\xF0"},
    {&kSpells, 0, 0, Kind::Text, "\xEF\x9E\x98", '.', "\x98"},
    {&kSpells, 0, 0, Kind::Text, "a\tb", '.', "a\tb"},
    {&kSpells, 0, 31, Kind::Text, "51,153,255", '.', "51,153,255"},
    // Refused, with the place.
    {&kSpells, 0, 0, Kind::Text, "\xE4\xB8\xAD", '.',
     "'book.xlsx' SpellPrototypes row 2, column \"Name\": the character U+4E2D"},
    {&kSpells, 0, 1, Kind::Number, "100000", '.',
     "'book.xlsx' SpellPrototypes row 2, column \"Code\": holds the number \"100000\" in a "
     "column of texts: format the cell as Text and type it again"},
};

TEST(WorkbookSourceTest, CellsBecomeTheTablesCells) {
  for (const CellCase& each : kCellCases) {
    SCOPED_TRACE(each.value);
    TempFolder folder;
    std::vector<SheetCell> row(each.column + 1);
    row[each.column] = {each.kind, each.value,
                        each.kind == Kind::Text ? CellStyle::Text : CellStyle::General};
    WriteBook(*each.tool, each.table, {row}, folder / "book.xlsx");
    const std::string result =
        TableOrProblems(*each.tool, each.table, folder / "book.xlsx", each.decimalSeparator);
    if (each.cell.starts_with("'book.xlsx'")) {
      EXPECT_EQ(result.find(each.cell), 0u) << result;
      continue;
    }
    std::vector<std::string> line(CellsOf(each.tool->tables[each.table].headerRow).size());
    line[each.column] = each.cell;
    EXPECT_EQ(result, std::string(each.tool->tables[each.table].headerRow) + "\r\n" +
                          JoinedCells(line) + "\r\n");
  }
}

TEST(WorkbookSourceTest, TheLineEndMarkGivesALineItsColumnsAndAnEmptyRowIsRefused) {
  TempFolder folder;
  const std::vector<std::vector<SheetCell>> rows = {
      {{Kind::Text, "short"}, {Kind::Text, "code"}, {Kind::Text, kLineEndMark}},
      {{}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {Kind::Text, kLineEndMark}},
      {{Kind::Text, kLineEndMark}},
  };
  WriteBook(kSpells, 1, rows, folder / "book.xlsx");
  const std::string header(kSpells.tables[1].headerRow);
  EXPECT_EQ(TableOrProblems(kSpells, 1, folder / "book.xlsx", '.'),
            header + "\r\nshort\tcode\r\n" + std::string(13, '\t') + "\r\n\r\n");
  WriteBook(kSpells, 1, {{{Kind::Text, "a"}}, {}, {{Kind::Text, "b"}}}, folder / "gap.xlsx");
  EXPECT_EQ(TableOrProblems(kSpells, 1, folder / "gap.xlsx", '.'),
            "'book.xlsx' SpellModifiers row 3 is empty: delete the row itself to remove a "
            "record\n");
}

}  // namespace
