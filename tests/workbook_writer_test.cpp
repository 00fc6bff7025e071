// The workbook writer: the same workbook byte for byte whether its sheets are deflated on a
// thread of their own or on the caller's, and cells that each name their place.
#include "workbook_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session_databases.h"
#include "test_files.h"
#include "zip_archive.h"

namespace {

// A workbook of a few sheets whose rows come in turns, numbers and texts, from the seed.
void FillWorkbook(WorkbookWriter& workbook, std::uint64_t seed) {
  Random random{seed};
  const std::size_t sheets = 1 + RandomBelow(random, 4);
  for (std::size_t sheet = 0; sheet < sheets; ++sheet) {
    AddSheet(workbook, "Sheet" + std::to_string(sheet),
             {{12, CellStyle::Text}, {10, CellStyle::General}}, sheet % 2 == 0);
  }
  const std::size_t rows = RandomBelow(random, 40000);
  std::vector<std::string> values;
  std::vector<SheetCell> cells;
  for (std::size_t row = 0; row < rows; ++row) {
    const std::size_t columns = 1 + RandomBelow(random, 12);
    values.assign(columns, {});
    cells.clear();
    for (std::size_t column = 0; column < columns; ++column) {
      const bool number = RandomChance(random, 60);
      values[column] = number ? std::to_string(RandomBelow(random, 1000000))
                              : "text & <" + std::to_string(RandomBelow(random, 50)) + ">";
      cells.push_back({RandomChance(random, 5) ? SheetCellKind::Empty
                       : number                ? SheetCellKind::Number
                                               : SheetCellKind::Text,
                       values[column], number ? CellStyle::General : CellStyle::Text});
    }
    AppendSheetRow(workbook, RandomBelow(random, sheets), cells);
  }
}

std::string WrittenWorkbook(std::uint64_t seed, bool deflateApart, const TempFolder& folder) {
  WorkbookWriter workbook;
  workbook.deflateApart = deflateApart;
  FillWorkbook(workbook, seed);
  const std::string path = folder / (deflateApart ? "apart.xlsx" : "alone.xlsx");
  WriteWorkbookFile(workbook, path, "");
  CloseWorkbookWriter(workbook);
  return ReadWholeFile(path);
}

TEST(WorkbookWriterTest, SheetsDeflatedApartGiveTheSameBytes) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempFolder folder;
    const std::string alone = WrittenWorkbook(seed, false, folder);
    const std::string apart = WrittenWorkbook(seed, true, folder);
    EXPECT_GT(alone.size(), 0u);
    EXPECT_TRUE(apart == alone) << apart.size() << " bytes against " << alone.size();
  }
}

// The first sheet's XML of the workbook at `path`.
std::string FirstSheetXml(const std::string& path) {
  PlatformFile file;
  if (!OpenFileForReading(path.c_str(), file)) return "";
  ZipArchive archive;
  ReadZipDirectory(file, archive);
  archive.file = file;
  const ZipEntry* entry = FindZipEntry(archive, "xl/worksheets/sheet1.xml");
  std::string xml = entry == nullptr ? "" : ReadWholeZipEntry(archive, *entry, 1 << 20);
  static_cast<void>(CloseFile(file));
  return xml;
}

// A cell without a reference would follow the one before it, which Gnumeric does not read:
// every cell names its place, after a gap as after its neighbour.
TEST(WorkbookWriterTest, EveryCellNamesItsPlace) {
  constexpr SheetCell kEmpty{};
  constexpr SheetCell kOne{SheetCellKind::Number, "1"};
  constexpr SheetCell kText{SheetCellKind::Text, "a", CellStyle::Text};
  const struct {
    std::vector<SheetCell> cells;
    std::string_view row;
  } kCases[] = {
      {{kOne, kOne}, "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>1</v></c></row>"},
      {{kEmpty, kOne}, "<row r=\"1\"><c r=\"B1\"><v>1</v></c></row>"},
      {{kOne, kEmpty, kEmpty, kText, kOne},
       "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"D1\" s=\"1\" "
       "t=\"inlineStr\"><is><t>a</t></is></c>"
       "<c r=\"E1\"><v>1</v></c></row>"},
      {{kEmpty, kEmpty}, "<row r=\"1\"></row>"},
  };
  for (const auto& [cells, row] : kCases) {
    SCOPED_TRACE(std::string(row));
    TempFolder folder;
    WorkbookWriter workbook;
    AddSheet(workbook, "Sheet", {}, false);
    AppendSheetRow(workbook, 0, cells);
    const std::string path = folder / "cells.xlsx";
    WriteWorkbookFile(workbook, path, "");
    const std::string xml = FirstSheetXml(path);
    EXPECT_NE(xml.find(std::string("<sheetData>").append(row).append("</sheetData>")),
              std::string::npos)
        << xml;
  }
}

}  // namespace
