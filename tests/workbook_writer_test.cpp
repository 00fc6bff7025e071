// The workbook writer: the same workbook byte for byte whether its sheets are deflated on a
// thread of their own or on the caller's.
#include "workbook_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session_databases.h"
#include "test_files.h"

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
                       : number               ? SheetCellKind::Number
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

}  // namespace
