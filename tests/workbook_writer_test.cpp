// The workbook writer: the same workbook byte for byte whether its sheets are deflated on a
// thread of their own or on the caller's, and cells that each name their place.
#include "workbook_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "run_failure.h"
#include "session_databases.h"
#include "test_files.h"
#include "workbook_reader.h"
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

// How a workbook is written: its sheets deflated on a thread of their own or on the caller's, and
// its file begun before the rows, with the XML from which a sheet streams into it.
struct WritingWay {
  bool deflateApart = true;
  bool fileBegun = false;
  std::uint64_t streamedSheetXml = kStreamedSheetXml;
  std::size_t largestSheet = kNoStreamedSheet;
};

std::string WrittenWorkbook(std::uint64_t seed, WritingWay way, const std::string& path) {
  WorkbookWriter workbook;
  workbook.deflateApart = way.deflateApart;
  workbook.streamedSheetXml = way.streamedSheetXml;
  workbook.largestSheet = way.largestSheet;
  if (way.fileBegun) BeginWorkbookFile(workbook, path, "");
  FillWorkbook(workbook, seed);
  WriteWorkbookFile(workbook, path, "");
  CloseWorkbookWriter(workbook);
  return ReadWholeFile(path);
}

// Every sheet of the workbook at `path`: its name, then its rows as (row, cells).
using ReadRows = std::vector<std::pair<std::uint32_t, std::vector<ReadCell>>>;
std::vector<std::pair<std::string, ReadRows>> SheetsOf(const std::string& path) {
  PlatformFile file;
  EXPECT_TRUE(OpenFileForReading(path.c_str(), file));
  WorkbookFile book;
  OpenWorkbookFile(file, book);
  std::vector<std::pair<std::string, ReadRows>> sheets;
  for (const WorkbookSheetEntry& sheet : book.sheets) {
    ReadRows& rows = sheets.emplace_back(sheet.name, ReadRows{}).second;
    ReadSheetRows(book, sheet, [&](std::uint32_t row, std::span<const ReadCell> cells) {
      rows.emplace_back(row, std::vector<ReadCell>(cells.begin(), cells.end()));
    });
  }
  static_cast<void>(CloseFile(file));
  return sheets;
}

std::uint64_t LittleEndianAt(std::string_view bytes, std::size_t offset, int width) {
  std::uint64_t value = 0;
  for (int index = width - 1; index >= 0; --index)
    value =
        value << 8 | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(index)]);
  return value;
}

// The name of the archive's first entry; every local header, which readers that stream an
// archive go by, must give the checksum and sizes of the directory.
std::string FirstEntryName(const std::string& path) {
  PlatformFile file;
  EXPECT_TRUE(OpenFileForReading(path.c_str(), file));
  ZipArchive archive;
  ReadZipDirectory(file, archive);
  static_cast<void>(CloseFile(file));
  const std::string bytes = ReadWholeFile(path);
  for (const ZipEntry& entry : archive.entries) {
    SCOPED_TRACE(entry.name);
    const auto header = static_cast<std::size_t>(entry.localHeaderOffset);
    EXPECT_EQ(LittleEndianAt(bytes, header, 4), 0x04034b50u);
    EXPECT_EQ(LittleEndianAt(bytes, header + 14, 4), entry.crc);
    EXPECT_EQ(LittleEndianAt(bytes, header + 18, 4), entry.compressedSize);
    EXPECT_EQ(LittleEndianAt(bytes, header + 22, 4), entry.size);
  }
  return archive.entries.empty() ? "" : archive.entries.front().name;
}

// A workbook has the same bytes whether its sheets are deflated apart or alone. A sheet that
// streams into the begun file from its first byte, from partway or never holds the same rows as
// when every sheet is held; it is the archive's first entry. Where the largest sheet is named,
// it is the one that streams.
TEST(WorkbookWriterTest, SheetsDeflatedApartOrStreamedGiveTheSameWorkbook) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    TempFolder folder;
    const std::string held = folder / "held.xlsx";
    const std::string heldAlone = WrittenWorkbook(seed, {.deflateApart = false}, held);
    const std::string heldApart = WrittenWorkbook(seed, {}, held);
    EXPECT_GT(heldAlone.size(), 0u);
    EXPECT_TRUE(heldApart == heldAlone)
        << heldApart.size() << " bytes against " << heldAlone.size();
    const auto expected = SheetsOf(held);
    for (const std::uint64_t from : {std::uint64_t{0}, std::uint64_t{300000}, kStreamedSheetXml}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", streamed from " + std::to_string(from));
      const std::string alone = WrittenWorkbook(seed, {false, true, from}, folder / "a.xlsx");
      const std::string apart = WrittenWorkbook(seed, {true, true, from}, folder / "b.xlsx");
      EXPECT_TRUE(alone == apart);
      EXPECT_TRUE(SheetsOf(folder / "b.xlsx") == expected);
      const bool streams = from < kStreamedSheetXml;
      EXPECT_EQ(FirstEntryName(folder / "b.xlsx").starts_with("xl/worksheets/"), streams);
      EXPECT_EQ(apart == heldApart, !streams);
    }
    // Where the largest sheet is named, it alone streams, whichever sheet has rows first.
    for (std::size_t largest = 0; largest < expected.size(); ++largest) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", largest " + std::to_string(largest));
      WrittenWorkbook(seed, {true, true, 0, largest}, folder / "c.xlsx");
      EXPECT_TRUE(SheetsOf(folder / "c.xlsx") == expected);
      EXPECT_EQ(FirstEntryName(folder / "c.xlsx"),
                "xl/worksheets/sheet" + std::to_string(largest + 1) + ".xml");
    }
  }
}

// A write that fails while a sheet streams (a full disk) is raised, and leaves no workbook.
TEST(WorkbookWriterTest, AFailedWriteWhileStreamingLeavesNoWorkbook) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no device that is always full";
  for (const bool deflateApart : {false, true}) {
    TempFolder folder;
    const std::string path = folder / "full.xlsx";
    WorkbookWriter workbook;
    workbook.deflateApart = deflateApart;
    workbook.streamedSheetXml = 0;
    PlatformFile full;
    ASSERT_EQ(CreateFileForWriting("/dev/full", full), 0);
    BeginWorkbookFile(workbook, path, "");
    static_cast<void>(CloseFile(workbook.file.file));
    workbook.file.file = full;
    EXPECT_THROW(
        {
          FillWorkbook(workbook, 3);
          WriteWorkbookFile(workbook, path, "");
        },
        IoFailure);
    CloseWorkbookWriter(workbook);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(path).parent_path()));
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

// A text of `size` bytes drawn from pieces that take each way of writing: plain, entities, the
// escape of controls and of a literal escape, edge spaces, and UTF-8 of several lengths.
std::string DrawnCellText(Random& random, std::size_t size) {
  constexpr std::string_view kPieces[] = {"a",  "Zq", "&",       "<",        ">",  "\x01", "\r",
                                          "\t", " ",  "_x0041_", "\xC3\xA9", "\n", "_"};
  std::string text;
  while (text.size() < size)
    text += kPieces[RandomBelow(random, std::size(kPieces))];
  return text;
}

// Every cell written reads back as itself, in its place: texts from one to nearly the most
// characters a cell holds, of the bytes that grow most when written, among numbers, in columns
// as far as the last one, so that a row's XML outgrows what is gathered before it is deflated.
TEST(WorkbookWriterTest, EveryCellReadsBackAsItselfInItsPlace) {
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Random random{seed};
    struct Written {
      std::uint32_t row;
      std::size_t column;
      SheetCellKind kind;
      std::string value;
    };
    std::vector<Written> written;
    TempFolder folder;
    WorkbookWriter workbook;
    AddSheet(workbook, "Sheet", {}, false);
    const std::uint32_t rows = 1 + static_cast<std::uint32_t>(RandomBelow(random, 30));
    for (std::uint32_t row = 1; row <= rows; ++row) {
      const std::size_t columns =
          RandomChance(random, 10) ? kMostSheetColumns : 1 + RandomBelow(random, 40);
      std::vector<std::string> values(columns);
      std::vector<SheetCell> cells(columns);
      for (std::size_t column = 0; column < columns; ++column) {
        // A wide row has cells here and there, and always one in its last column.
        if (columns > 40 && column + 1 < columns && !RandomChance(random, 1)) continue;
        const bool number = RandomChance(random, 40);
        const std::size_t size =
            RandomChance(random, 5) ? kMostCellCharacters - 8 : 1 + RandomBelow(random, 30);
        // Numbers of every length up to 24 digits, so that each way of copying them is taken.
        values[column] = number ? std::to_string(RandomBelow(random, 1u << 30))
                                          .substr(0, 1 + RandomBelow(random, 9)) +
                                      std::string(RandomBelow(random, 16), '7')
                                : DrawnCellText(random, size);
        cells[column] = {number ? SheetCellKind::Number : SheetCellKind::Text, values[column],
                         number ? CellStyle::General : CellStyle::Text};
        written.push_back({row, column, cells[column].kind, values[column]});
      }
      AppendSheetRow(workbook, 0, cells);
    }
    const std::string path = folder / "cells.xlsx";
    WriteWorkbookFile(workbook, path, "");
    std::size_t next = 0;
    const auto sheets = SheetsOf(path);
    for (const auto& [row, cells] : sheets.at(0).second) {
      for (const ReadCell& cell : cells) {
        ASSERT_LT(next, written.size());
        const Written& expected = written[next++];
        EXPECT_EQ(row, expected.row);
        EXPECT_EQ(cell.column, expected.column);
        EXPECT_EQ(cell.kind == ReadCellKind::Number, expected.kind == SheetCellKind::Number);
        EXPECT_TRUE(cell.value == expected.value) << "row " << row << " column " << cell.column;
      }
    }
    EXPECT_EQ(next, written.size());
  }
}

}  // namespace
