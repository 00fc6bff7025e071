// Tests of the workbook reader: workbooks saved by real clients read cell for cell, files that are
// no workbook of this kind refused with the reason, and cell references.
#include "workbook_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform.h"
#include "run_failure.h"
#include "test_files.h"
#include "workbook_files.h"
#include "zip_archive.h"

namespace {

const std::string kFixtures = WORKBOOK_FIXTURES;

// ---- Fixtures saved by each client (tests/workbooks/README.txt says which program made which).

struct FixtureSheets {
  const char* file;
  std::vector<std::string> sheets;
};

const FixtureSheets kFixtureSheets[] = {
    {"calc-shared-strings.xlsx", {"Briefing", "Quests", "About"}},
    {"gnumeric-save.xlsx", {"Briefing", "Quests", "About"}},
    {"openpyxl-save.xlsx", {"Briefing", "Quests", "About"}},
    {"hand-written-structures.xlsx", {"Briefing", "Notes"}},
};

struct ExpectedCell {
  const char* file;
  const char* sheet;
  std::uint32_t row;
  std::size_t column;  // zero-based
  ReadCellKind kind;
  std::string_view value;
  bool formula = false;
  bool formulaValue = true;
};

constexpr ReadCellKind kNumber = ReadCellKind::Number;
constexpr ReadCellKind kText = ReadCellKind::Text;

const ExpectedCell kExpectedCells[] = {
    // Calc: every text a shared string, marked xml:space="preserve"; numbers in their shortest
    // form.
    {"calc-shared-strings.xlsx", "Briefing", 1, 0, kText, "Name"},
    {"calc-shared-strings.xlsx", "Briefing", 11, 0, kText, "Северный тракт"},
    {"calc-shared-strings.xlsx", "Briefing", 7, 1, kNumber, "2.5"},
    {"calc-shared-strings.xlsx", "Briefing", 16, 2, kNumber, "13103.2"},
    {"calc-shared-strings.xlsx", "Quests", 2, 0, kText, "Eels for the Elder"},
    {"calc-shared-strings.xlsx", "About", 2, 1, kNumber, "13249"},
    // Gnumeric: shared and inline strings side by side, indented XML, numbers with 21 digits.
    {"gnumeric-save.xlsx", "Briefing", 1, 0, kText, "Name"},
    {"gnumeric-save.xlsx", "Briefing", 11, 0, kText, "Северный тракт"},
    {"gnumeric-save.xlsx", "Briefing", 16, 2, kNumber, "13103.2000000000000002"},
    {"gnumeric-save.xlsx", "Quests", 2, 0, kText, "Eels for the Elder"},
    {"gnumeric-save.xlsx", "Quests", 2, 3, kText, "Basket of Eels"},
    {"gnumeric-save.xlsx", "About", 2, 1, kNumber, "13249"},
    // openpyxl: every text an inline string, letters past ASCII as character references.
    {"openpyxl-save.xlsx", "Briefing", 1, 0, kText, "Name"},
    {"openpyxl-save.xlsx", "Briefing", 11, 0, kText, "Северный тракт"},
    {"openpyxl-save.xlsx", "Briefing", 16, 2, kNumber, "13103.2"},
    {"openpyxl-save.xlsx", "Quests", 2, 0, kText, "Eels for the Elder"},
    {"openpyxl-save.xlsx", "About", 2, 1, kNumber, "13249"},
    // XML written by hand: rows 1 and 2 and their cells carry no references.
    {"hand-written-structures.xlsx", "Briefing", 1, 0, kText, "Name"},
    {"hand-written-structures.xlsx", "Briefing", 1, 1, kText, "Fireball "},  // rich-text runs
    {"hand-written-structures.xlsx", "Briefing", 1, 2, kText, "東京"},  // its phonetic run left out
    {"hand-written-structures.xlsx", "Briefing", 1, 3, kText, "  two leading spaces"},
    {"hand-written-structures.xlsx", "Briefing", 1, 4, kText, "line\rend"},  // _x000D_
    {"hand-written-structures.xlsx", "Briefing", 2, 0, kText, "inline"},
    {"hand-written-structures.xlsx", "Briefing", 2, 1, kText, "ab", true},  // t="str"
    {"hand-written-structures.xlsx", "Briefing", 2, 2, kNumber, "", true, false},
    {"hand-written-structures.xlsx", "Briefing", 2, 3, ReadCellKind::Boolean, "1"},
    {"hand-written-structures.xlsx", "Briefing", 2, 4, ReadCellKind::Error, "#DIV/0!"},
    {"hand-written-structures.xlsx", "Briefing", 4, 0, ReadCellKind::Date, "45000"},    // format 14
    {"hand-written-structures.xlsx", "Briefing", 4, 1, ReadCellKind::Date, "45000.5"},  // custom
    {"hand-written-structures.xlsx", "Briefing", 4, 2, ReadCellKind::Date, "2023-03-15T00:00:00"},
    {"hand-written-structures.xlsx", "Briefing", 4, 3, kNumber, "12.5"},
    {"hand-written-structures.xlsx", "Briefing", 4, 4, kNumber, "25", true},
    {"hand-written-structures.xlsx", "Notes", 1, 0, kText, "not a table"},
};

const ReadCell* FindCell(const std::vector<SheetRows>& sheets, std::string_view sheet,
                         std::uint32_t row, std::size_t column) {
  for (const SheetRows& rows : sheets) {
    if (rows.name != sheet) continue;
    for (const auto& [number, cells] : rows.rows) {
      if (number != row) continue;
      for (const ReadCell& cell : cells) {
        if (cell.column == column) return &cell;
      }
    }
  }
  return nullptr;
}

TEST(WorkbookReader, ReadsTheSheetsEachClientSaved) {
  for (const FixtureSheets& fixture : kFixtureSheets) {
    std::vector<std::string> names;
    for (const SheetRows& sheet : ReadWorkbookSheets(kFixtures + "/" + fixture.file)) {
      names.push_back(sheet.name);
    }
    EXPECT_EQ(names, fixture.sheets) << fixture.file;
  }
}

TEST(WorkbookReader, ReadsTheCellsEachClientSaved) {
  std::string file;
  std::vector<SheetRows> sheets;
  for (const ExpectedCell& expected : kExpectedCells) {
    if (file != expected.file) {
      file = expected.file;
      sheets = ReadWorkbookSheets(kFixtures + "/" + file);
    }
    const ReadCell* cell = FindCell(sheets, expected.sheet, expected.row, expected.column);
    const std::string where = file + " " + expected.sheet + " row " + std::to_string(expected.row) +
                              " column " + std::to_string(expected.column);
    if (cell == nullptr) {
      ADD_FAILURE() << where << ": no cell";
      continue;
    }
    EXPECT_EQ(static_cast<int>(cell->kind), static_cast<int>(expected.kind)) << where;
    EXPECT_EQ(cell->value, expected.value) << where;
    EXPECT_EQ(cell->formula, expected.formula) << where;
    EXPECT_EQ(cell->formulaValue, expected.formulaValue) << where;
  }
}

TEST(WorkbookReader, RowsWithoutReferencesFollowTheRowBefore) {
  const std::vector<SheetRows> sheets =
      ReadWorkbookSheets(kFixtures + "/hand-written-structures.xlsx");
  ASSERT_FALSE(sheets.empty());
  std::vector<std::uint32_t> rows;
  for (const auto& [number, cells] : sheets[0].rows)
    rows.push_back(number);
  EXPECT_EQ(rows, (std::vector<std::uint32_t>{1, 2, 4}));
}

TEST(WorkbookReader, FindsSheetsByNameInAnyCase) {
  PlatformFile file;
  ASSERT_TRUE(OpenFileForReading((kFixtures + "/hand-written-structures.xlsx").c_str(), file));
  WorkbookFile workbook;
  OpenWorkbookFile(file, workbook);
  const WorkbookSheetEntry* notes = FindSheet(workbook, "NOTES");
  ASSERT_NE(notes, nullptr);
  EXPECT_EQ(notes->name, "Notes");
  EXPECT_EQ(notes->part, "xl/worksheets/sheet2.xml");  // the absolute target, without its "/"
  EXPECT_EQ(FindSheet(workbook, "Quests"), nullptr);
  static_cast<void>(CloseFile(file));
}

// ---- Files refused, with the start of the reason.

using Entries = std::vector<std::pair<std::string, std::string>>;

constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelationships =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kPackage =
    "http://schemas.openxmlformats.org/package/2006/relationships";

std::string RelationshipsPart(std::string_view type, std::string_view target) {
  return std::string("<Relationships xmlns=\"") + std::string(kPackage) +
         "\"><Relationship Id=\"rId1\" Type=\"" + std::string(type) + "\" Target=\"" +
         std::string(target) + "\"/></Relationships>";
}

// The zip entries of a workbook of one sheet: elements in the namespace `ns`, relationship types
// under `relationships`, the sheet's rows `sheetData`.
Entries OneSheetWorkbook(std::string_view ns, std::string_view relationships,
                         std::string_view sheetData) {
  const std::string type = std::string(relationships);
  return {
      {"_rels/.rels", RelationshipsPart(type + "/officeDocument", "xl/workbook.xml")},
      {"xl/workbook.xml", "<workbook xmlns=\"" + std::string(ns) + "\" xmlns:r=\"" + type +
                              "\"><sheets><sheet name=\"Briefing\" sheetId=\"1\" "
                              "r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       RelationshipsPart(type + "/worksheet", "worksheets/sheet1.xml")},
      {"xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + std::string(ns) + "\"><sheetData>" +
                                       std::string(sheetData) + "</sheetData></worksheet>"},
  };
}

void WriteZipEntries(const std::string& path, const Entries& entries) {
  PlatformFile file;
  ASSERT_EQ(CreateFileForWriting(path.c_str(), file), 0);
  ZipWriter zip;
  StartZip(zip, file, 6);
  for (const auto& [name, content] : entries) {
    BeginZipEntry(zip, name);
    AppendZipEntry(zip, content);
  }
  FinishZip(zip);
  CloseZipWriter(zip);
  ASSERT_EQ(CloseFile(file), 0);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

// Opens the workbook and reads every sheet: the failure's message, or "" when it reads.
std::string FailureOfReading(const std::string& path) {
  PlatformFile file;
  if (!OpenFileForReading(path.c_str(), file)) return "cannot open " + path;
  std::string message;
  try {
    WorkbookFile workbook;
    OpenWorkbookFile(file, workbook);
    for (const WorkbookSheetEntry& sheet : workbook.sheets) {
      ReadSheetRows(workbook, sheet, [](std::uint32_t, std::span<const ReadCell>) {});
    }
  } catch (const WorkbookFailure& failure) {
    message = failure.message;
  }
  static_cast<void>(CloseFile(file));
  return message;
}

const std::string kCompoundFileHeader = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
const std::string kOneCell = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";

struct RefusedFile {
  const char* name;
  std::string bytes;  // written as they are, unless `entries` is not empty
  Entries entries;
  std::string_view messageStart;
};

TEST(WorkbookReader, RefusesFilesThatAreNoWorkbookOfThisKind) {
  const RefusedFile refused[] = {
      {"csv-renamed.xlsx",
       "Name,Exp\r\nEels for the Elder,100\r\n",
       {},
       "is not a workbook (not a zip container)"},
      {"binary-or-encrypted.xlsx",
       kCompoundFileHeader + std::string(504, '\0'),
       {},
       "is a binary or encrypted workbook, not an .xlsx workbook"},
      {"strict.xlsx", "",
       OneSheetWorkbook("http://purl.oclc.org/ooxml/spreadsheetml/main",
                        "http://purl.oclc.org/ooxml/officeDocument/relationships", kOneCell),
       "is a workbook in strict conformance"},
      {"strict-namespace-only.xlsx", "",
       OneSheetWorkbook("http://purl.oclc.org/ooxml/spreadsheetml/main", kRelationships, kOneCell),
       "is a workbook in strict conformance"},
      {"no-workbook-part.xlsx",
       "",
       {{"readme.txt", "a zip of notes"}},
       "is not a workbook: it names no workbook part"},
      {"sheet-not-well-formed.xlsx", "",
       OneSheetWorkbook(kMain, kRelationships, "<row r=\"1\"><c r=\"A1\"><v>1</v></row>"),
       "is damaged: its part 'xl/worksheets/sheet1.xml' "},
  };
  TempFolder folder;
  for (const RefusedFile& file : refused) {
    const std::string path = folder / file.name;
    if (file.entries.empty()) {
      WriteBytes(path, file.bytes);
    } else {
      WriteZipEntries(path, file.entries);
    }
    EXPECT_TRUE(FailureOfReading(path).starts_with(file.messageStart))
        << file.name << ": " << FailureOfReading(path);
  }
}

// A sheet of `rows` rows, each a number and an inline text; its last row ends as `lastRowEnd`.
std::string ManyRows(std::uint32_t rows, std::string_view lastRowEnd) {
  std::string sheetData;
  for (std::uint32_t row = 1; row <= rows; ++row) {
    const std::string number = std::to_string(row);
    sheetData += "<row r=\"" + number + "\"><c r=\"A" + number + "\"><v>" + number +
                 "</v></c><c r=\"B" + number + "\" t=\"inlineStr\"><is><t>x" + number +
                 "</t></is></c>";
    sheetData += row == rows ? lastRowEnd : "</row>";
  }
  return sheetData;
}

// A sheet large enough to be inflated on a worker gives every row, and its damage, as a small
// one does.
TEST(WorkbookReader, LargeSheetsReadAsSmallOnes) {
  TempFolder folder;
  for (const std::uint32_t rows : {3u, 40000u}) {
    SCOPED_TRACE(rows);
    const std::string path = folder / "rows.xlsx";
    WriteZipEntries(path, OneSheetWorkbook(kMain, kRelationships, ManyRows(rows, "</row>")));
    const std::vector<SheetRows> sheets = ReadWorkbookSheets(path);
    ASSERT_EQ(sheets.size(), 1u);
    ASSERT_EQ(sheets[0].rows.size(), rows);
    for (std::uint32_t row = 1; row <= rows; ++row) {
      const auto& [number, cells] = sheets[0].rows[row - 1];
      ASSERT_EQ(number, row);
      ASSERT_EQ(cells.size(), 2u);
      EXPECT_EQ(cells[0].value, std::to_string(row));
      EXPECT_EQ(cells[1].value, "x" + std::to_string(row));
    }
    WriteZipEntries(path, OneSheetWorkbook(kMain, kRelationships, ManyRows(rows, "</rows>")));
    const std::string failure = FailureOfReading(path);
    EXPECT_TRUE(failure.starts_with("is damaged: its part 'xl/worksheets/sheet1.xml' ")) << failure;
    EXPECT_NE(failure.find("</rows> does not close <row>"), std::string::npos) << failure;
  }
}

// ---- Cell references.

struct ReferenceCase {
  std::string_view reference;
  bool valid;
  std::size_t column;
  std::uint32_t row;
};

constexpr ReferenceCase kReferences[] = {
    {"A1", true, 0, 1},        {"B12", true, 1, 12},
    {"AA10", true, 26, 10},    {"XFD1048576", true, 16383, 1048576},  // the last cell of a sheet
    {"XFE1", false, 0, 0},                                            // a column past the last
    {"A1048577", false, 0, 0},                                        // a row past the last
    {"A0", false, 0, 0},       {"a1", false, 0, 0},
    {"A01", false, 0, 0},      {"", false, 0, 0},
    {"1", false, 0, 0},        {"A", false, 0, 0},
};

TEST(WorkbookReader, ReadsCellReferences) {
  for (const ReferenceCase& expected : kReferences) {
    std::size_t column = 0;
    std::uint32_t row = 0;
    const bool valid = ReadCellReference(expected.reference, column, row);
    EXPECT_EQ(valid, expected.valid) << '"' << expected.reference << '"';
    if (!valid || !expected.valid) continue;
    EXPECT_EQ(column, expected.column) << expected.reference;
    EXPECT_EQ(row, expected.row) << expected.reference;
  }
}

}  // namespace
