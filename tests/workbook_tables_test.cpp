// The unpackers' workbooks: each sheet holds its table cell for cell, an unedited workbook packs
// back into its database byte for byte, and what a sheet cannot hold is refused whole.
#include "workbook_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "database_cases.h"
#include "node_writer.h"
#include "session_tools.h"
#include "workbook_files.h"

namespace {

// The columns of each table that hold texts, counted from 1.
struct TextColumns {
  const Tool* tool;
  std::size_t table;
  std::vector<std::size_t> columns;
};

const TextColumns kTextColumns[] = {
    {&kSpells, 0, {1, 2, 3, 5, 12, 17, 18, 32}},
    {&kSpells, 1, {1, 2, 8}},
    {&kSpells, 2, {1, 2, 3, 4}},
    {&kSpells, 3, {1, 2, 3, 4}},
    {&kSpells, 4, {1, 2, 3, 4}},
    {&kQuests, 0, {1, 5}},
    {&kQuests, 1, {1, 4, 5, 6, 7, 8, 9, 10}},
};

TEST(WorkbookTablesTest, EachTablesColumnsFollowItsHeaderRow) {
  for (const TextColumns& expected : kTextColumns) {
    const TableSpec& table = expected.tool->tables[expected.table];
    const std::vector<TableColumn> columns =
        ColumnsOfTable(expected.tool->format->walk, static_cast<int>(expected.table));
    EXPECT_EQ(columns.size(), CellsOf(table.headerRow).size()) << table.fileName;
    std::vector<std::size_t> texts;
    for (std::size_t column = 0; column < columns.size(); ++column) {
      if (columns[column].kind == ColumnKind::Text) texts.push_back(column + 1);
    }
    EXPECT_EQ(texts, expected.columns) << table.fileName;
  }
}

int Unpack(const Tool& tool, const std::vector<std::string>& arguments, std::string& console) {
  std::vector<const char*> pointers = {"unpacker"};
  for (const std::string& argument : arguments)
    pointers.push_back(argument.c_str());
  console.clear();
  return RunUnpacker(pointers, *tool.format, Console{&console});
}

// The table's line that a workbook row stands for, from the format: texts in the game's code
// page, whole numbers as they are, a float as the table writes the float32 it reads as, a tab
// between cells, and as many columns as the header's unless the line end mark says otherwise.
std::string LineOfRow(const std::vector<TableColumn>& columns, std::size_t headerColumns,
                      const std::vector<ReadCell>& cells, char separator) {
  std::vector<std::string> line(headerColumns);
  for (const ReadCell& cell : cells) {
    if (cell.kind == ReadCellKind::Text && cell.value == kLineEndMark) {
      line.resize(cell.column);
      break;
    }
    if (cell.column >= line.size()) line.resize(cell.column + 1);
    std::string& text = line[cell.column];
    CodePageMiss miss;
    if (cell.kind == ReadCellKind::Text) {
      EXPECT_TRUE(AppendBytesOfUtf8(*FindCodePage(kDefaultCodePage), cell.value, text, miss));
    } else if (cell.column < columns.size() && columns[cell.column].kind == ColumnKind::Float) {
      const FieldRule& rule = columns[cell.column].rule;
      float value = 0.0f;
      std::from_chars(cell.value.data(), cell.value.data() + cell.value.size(), value);
      EXPECT_EQ(WorkbookFloatText(value), cell.value) << "not the shortest text of its float";
      EXPECT_TRUE(DecodedText(rule, Float32BitsPayload(std::bit_cast<std::uint32_t>(value)),
                              separator, text));
      text.erase(0, LeadText(rule).size());
    } else {
      text = cell.value;
    }
  }
  return JoinedCells(line);
}

// The text of a table as its sheet shows it.
std::string TableTextOfSheet(const Tool& tool, std::size_t table, const SheetRows& sheet,
                             char separator) {
  const std::vector<TableColumn> columns =
      ColumnsOfTable(tool.format->walk, static_cast<int>(table));
  const std::size_t headerColumns = CellsOf(tool.tables[table].headerRow).size();
  std::string text;
  std::uint32_t expectedRow = 1;
  for (const auto& [row, cells] : sheet.rows) {
    EXPECT_EQ(row, expectedRow++) << sheet.name << ": a row without cells";
    text += LineOfRow(columns, headerColumns, cells, separator) + "\r\n";
  }
  return text;
}

// Unpacks `database` both ways and compares every table with its sheet; the sheets come in the
// tables' order, the About sheet last.
void ExpectSheetsHoldTheTables(const Tool& tool, const std::string& database,
                               const TempFolder& folder, char separator) {
  std::string console;
  ASSERT_EQ(Unpack(tool, {database, folder / "tables"}, console), 0) << console;
  ASSERT_EQ(Unpack(tool, {database, folder / "book.xlsx"}, console), 0) << console;
  const std::vector<SheetRows> sheets = ReadWorkbookSheets(folder / "book.xlsx");
  ASSERT_EQ(sheets.size(), tool.tables.size() + 1);
  EXPECT_EQ(sheets.back().name, kAboutSheetName);
  for (std::size_t table = 0; table < tool.tables.size(); ++table) {
    EXPECT_EQ(sheets[table].name, SheetNameOf(tool.tables[table]));
    EXPECT_EQ(TableTextOfSheet(tool, table, sheets[table], separator),
              ReadWholeFile(folder / "tables" + "/" + std::string(tool.tables[table].fileName)))
        << tool.tables[table].fileName;
  }
}

// The locale of the unpackers' decimal separator for the length of a test.
struct DecimalSeparatorLocale {
  explicit DecimalSeparatorLocale(const char* name) { setenv("LC_ALL", name, 1); }
  ~DecimalSeparatorLocale() {
    unsetenv("LC_ALL");
    std::setlocale(LC_ALL, "C");
  }
};

// The shortest text that reads back as the float, as the standard's shortest conversion gives
// it: every multiple of 1/16 below 2^16 (past the whole numbers and sixteenths written without
// a search, whose bounds are 2^24 and 2^14), round and other whole numbers up to 2^24 and past
// it, and floats of every kind.
TEST(WorkbookTablesTest, AFloatsTextIsItsShortest) {
  auto expectShortest = [](float value) {
    char digits[32];
    char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    ASSERT_EQ(WorkbookFloatText(value), std::string(digits, static_cast<std::size_t>(end - digits)))
        << std::bit_cast<std::uint32_t>(value);
  };
  for (std::int32_t sixteenths = -(1 << 20); sixteenths <= (1 << 20); ++sixteenths)
    expectShortest(static_cast<float>(sixteenths) / 16.0f);
  // Whole numbers of trailing zeros, which scientific notation may write shorter ("1e+06").
  for (std::int32_t whole = 0; whole < (1 << 24); whole += 1000)
    expectShortest(static_cast<float>(whole));
  for (std::int32_t whole = (1 << 24) - (1 << 14); whole <= (1 << 24) + 64; ++whole) {
    expectShortest(static_cast<float>(whole));
    expectShortest(-static_cast<float>(whole));
  }
  Random random{11};
  for (int draw = 0; draw < 200000; ++draw) {
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(NextRandom(random)));
    if (std::isfinite(value)) expectShortest(value);
  }
  expectShortest(-0.0f);
}

TEST(WorkbookTablesTest, EveryCellOfAWorkbookIsItsTablesCell) {
  const std::size_t seeds = kFewCases ? 4 : 16;
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr)
        << "the " << locale << " locale is needed: generate it with locale-gen";
    const DecimalSeparatorLocale chosen(locale);
    const char separator = locale[0] == 'C' ? '.' : ',';
    for (const Tool* tool : {&kSpells, &kQuests}) {
      SCOPED_TRACE(std::string(tool->name) + " under " + locale);
      TempFolder folder;
      ExpectSheetsHoldTheTables(*tool, tool->sample, folder, separator);
      for (std::uint64_t seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TempFolder generated;
        WriteWholeFile(generated / "db",
                       GenerateDatabase(tool->kind, seed, static_cast<std::size_t>(4 + seed * 6)));
        ExpectSheetsHoldTheTables(*tool, generated / "db", generated, separator);
      }
      // The written cases: damaged records, NUL bytes in texts, fields out of place.
      for (const DatabaseCase& written : tool == &kSpells ? SpellCases() : QuestCases()) {
        if (written.exitStatus != 0) continue;
        SCOPED_TRACE(written.name);
        TempFolder each;
        WriteWholeFile(each / "db", written.database);
        ExpectSheetsHoldTheTables(*tool, each / "db", each, separator);
      }
    }
  }
}

// Stored names of every length up to 40 of random bytes, NUL and the bytes beyond ASCII among
// them, lose their NULs as in the tables and keep every other byte's character.
TEST(WorkbookTablesTest, TextsOfAnyBytesAreTheirTablesCells) {
  Random random{7};
  for (std::size_t round = 0; round < 8; ++round) {
    std::string records;
    for (std::size_t length = 0; length <= 40; ++length) {
      std::string name(length, 'a');
      for (char& byte : name) {
        const std::size_t draw = RandomBelow(random, 8);
        byte = draw == 0   ? '\0'
               : draw == 1 ? static_cast<char>(0x80 + RandomBelow(random, 0x80))
                           : static_cast<char>(0x20 + RandomBelow(random, 0x5F));
      }
      records += Record({Field(0, Text(name)), Field(4, Int(static_cast<std::int32_t>(length)))});
    }
    TempFolder folder;
    WriteWholeFile(folder / "db", NodeBytes(1, NodeBytes(1, records)));
    ExpectSheetsHoldTheTables(kSpells, folder / "db", folder, '.');
  }
}

// What each sheet is made from is counted by its table nodes' stored lengths, from the headers
// alone as the walk meets them: a table's nodes add up, nodes of no table (another database kind,
// an unknown table kind) count for none, and damage ends the count quietly.
TEST(WorkbookTablesTest, EachTablesBytesAreCountedByItsNodesLengths) {
  const std::string small(10, 'x');
  const std::string large(300, 'x');
  using Bytes = std::vector<std::int64_t>;
  const struct {
    const char* what;
    std::string database;
    Bytes bytes;
  } cases[] = {
      {"no table", "", {0, 0, 0, 0, 0}},
      {"empty tables", NodeBytes(1, NodeBytes(1, "") + NodeBytes(2, "")), {0, 0, 0, 0, 0}},
      {"two tables", NodeBytes(1, NodeBytes(1, small) + NodeBytes(3, large)), {10, 0, 300, 0, 0}},
      {"a table's nodes add up",
       NodeBytes(1, NodeBytes(2, large) + NodeBytes(1, small + small) + NodeBytes(1, large)),
       {320, 300, 0, 0, 0}},
      // The spell walk reads the first database node only.
      {"a later database node",
       NodeBytes(1, NodeBytes(4, small)) + NodeBytes(1, NodeBytes(5, large)),
       {0, 0, 0, 10, 0}},
      {"an unknown table kind",
       NodeBytes(1, NodeBytes(9, large) + NodeBytes(2, small)),
       {0, 10, 0, 0, 0}},
      {"another database kind", NodeBytes(2, NodeBytes(1, large)), {0, 0, 0, 0, 0}},
      {"a table cut short counts its stored length",
       NodeBytes(1, NodeBytes(1, large) + NodeBytes(2, large + large)).substr(0, 340),
       {300, 600, 0, 0, 0}},
      {"a header cut short ends the count",
       NodeBytes(1, NodeBytes(3, large) + "\x02"),
       {0, 0, 300, 0, 0}},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.what);
    TempFolder folder;
    WriteWholeFile(folder / "db", each.database);
    NodeReader reader;
    ASSERT_TRUE(OpenNodeReader((folder / "db").c_str(), reader));
    EXPECT_EQ(TableBytesOfRoutes(reader, kSpellFormat.walk, kSpells.tables.size()), each.bytes);
    CloseNodeReader(reader);
  }
}

int Pack(const Tool& tool, const std::vector<std::string>& paths, std::string& output,
         std::string& errors) {
  std::vector<const char*> pointers = {"packer"};
  for (const std::string& path : paths)
    pointers.push_back(path.c_str());
  output.clear();
  errors.clear();
  return RunPacker(pointers, tool.packer, {&output, &errors});
}

// Whether every table of a summary says that nothing moved, changed, came or went.
bool NothingChanged(const std::string& summary) {
  std::size_t tables = 0;
  std::size_t start = 0;
  while (start < summary.size()) {
    const std::size_t end = std::min(summary.find('\n', start), summary.size());
    const std::string_view line = std::string_view(summary).substr(start, end - start);
    if (line.find(" kept") != std::string_view::npos) {
      ++tables;
      if (line.find(" moved)") != std::string_view::npos ||
          line.find(", 0 changed, 0 added, 0 removed") == std::string_view::npos) {
        return false;
      }
    }
    start = end + 1;
  }
  return tables > 0;
}

TEST(WorkbookTablesTest, UneditedWorkbooksPackBackByteForByte) {
  const std::size_t seeds = kFewCases ? 4 : 24;
  for (const Tool* tool : {&kSpells, &kQuests}) {
    for (std::uint64_t seed = 0; seed <= seeds; ++seed) {
      SCOPED_TRACE(std::string(tool->name) + " seed " + std::to_string(seed));
      TempFolder folder;
      std::string database = tool->sample;
      if (seed > 0) {
        database = folder / "db";
        WriteWholeFile(database,
                       GenerateDatabase(tool->kind, seed, static_cast<std::size_t>(3 + seed * 8)));
      }
      std::string output;
      std::string errors;
      ASSERT_EQ(Unpack(*tool, {database, folder / "book.xlsx"}, output), 0) << output;
      ASSERT_EQ(Pack(*tool, {database, folder / "book.xlsx", folder / "new"}, output, errors), 0)
          << errors;
      EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(database));
      EXPECT_TRUE(NothingChanged(output)) << output;
    }
  }
}

// A spell database of modifiers, each a record with a name alone.
std::string ModifierDatabase(std::size_t records, std::string_view name) {
  NodeWriter writer;
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 2, LengthForm::Long);
  for (std::size_t record = 0; record < records; ++record) {
    BeginNode(writer, 0, name.size() > 100 ? LengthForm::Long : LengthForm::Auto);
    AppendNode(writer, 0, TextPayload(name));
    EndNode(writer);
  }
  EndNode(writer);
  EndNode(writer);
  return writer.bytes;
}

// A spell database of prototypes that lack fields, as the samples' records do: each field after
// a missing one stands in a column of another kind (a float under "Subtype", a text under
// "Price"), where the packer takes its cell by the column.
std::string ShiftedFieldsDatabase() {
  NodeWriter writer;
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 1, LengthForm::Long);
  for (int record = 0; record < 3; ++record) {
    BeginNode(writer, 0, LengthForm::Auto);
    AppendNode(writer, 0, TextPayload("Bolt"));
    AppendNode(writer, 1, TextPayload("Fire"));
    AppendNode(writer, 3, Float32Payload(4.6666665f + static_cast<float>(record)));
    AppendNode(writer, 4, Int32Payload(record));
    AppendNode(writer, 5, Float32Payload(0.1f));
    AppendNode(writer, 16, TextListPayload({"Ith", "Ra"}));
    EndNode(writer);
  }
  EndNode(writer);
  EndNode(writer);
  return writer.bytes;
}

TEST(WorkbookTablesTest, FieldsInColumnsOfAnotherKindPackBackByteForByte) {
  TempFolder folder;
  WriteWholeFile(folder / "db", ShiftedFieldsDatabase());
  std::string output;
  std::string errors;
  ASSERT_EQ(Unpack(kSpells, {folder / "db", folder / "book.xlsx"}, output), 0) << output;
  ASSERT_EQ(Pack(kSpells, {folder / "db", folder / "book.xlsx", folder / "new"}, output, errors), 0)
      << errors;
  EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(folder / "db"));
  EXPECT_TRUE(NothingChanged(output)) << output;
  // Every sheet still holds its table cell for cell.
  ExpectSheetsHoldTheTables(kSpells, folder / "db", folder, '.');
}

// A spell database of prototypes whose Mana, a float the table shows with six decimals, holds
// the given bits: floats near 4.5 are 4.8e-07 apart, so neighbours share their six decimals.
std::string ManaDatabase(const std::vector<std::uint32_t>& mana) {
  NodeWriter writer;
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 1, LengthForm::Long);
  for (std::size_t record = 0; record < mana.size(); ++record) {
    BeginNode(writer, 0, LengthForm::Auto);
    AppendNode(writer, 0, TextPayload("Spell" + std::to_string(record)));
    AppendNode(writer, 1, TextPayload("Code" + std::to_string(record)));
    AppendNode(writer, 2, TextPayload("Bolt"));
    AppendNode(writer, 3, Float32Payload(static_cast<float>(record)));
    AppendNode(writer, 4, Int32Payload(1));
    AppendNode(writer, 5, Float32BitsPayload(mana[record]));
    EndNode(writer);
  }
  EndNode(writer);
  EndNode(writer);
  return writer.bytes;
}

// The tables of `database` as a spreadsheet saves its workbook, every Mana cell the shortest
// text of the float `mana` gives it.
void WriteManaWorkbook(const std::string& database, const std::vector<std::uint32_t>& mana,
                       const TempFolder& folder, const std::string& path) {
  std::string console;
  std::filesystem::remove_all(folder / "mana-tables");
  ASSERT_EQ(Unpack(kSpells, {database, folder / "mana-tables"}, console), 0) << console;
  std::vector<TableLines> tables(kSpells.tables.size());
  for (std::size_t table = 0; table < kSpells.tables.size(); ++table) {
    const std::string text =
        ReadWholeFile(folder / "mana-tables" + "/" + std::string(kSpells.tables[table].fileName));
    CellTable cells = CellTableOf(text);
    for (std::size_t line = 0; line < cells.lines.size(); ++line) {
      if (table == 0) cells.lines[line][5] = WorkbookFloatText(std::bit_cast<float>(mana[line]));
      tables[table].push_back(cells.lines[line]);
    }
  }
  WriteTablesAsWorkbook(kSpells.format->walk, kSpells.tables, tables, path);
}

TEST(WorkbookTablesTest, FloatsTheTablesDecimalsDoNotShowKeepOrTakeWhatTheirCellsHold) {
  std::vector<std::uint32_t> mana;
  for (std::uint32_t record = 0; record < 40; ++record)
    mana.push_back(std::bit_cast<std::uint32_t>(4.5f) + record * 3);
  TempFolder folder;
  WriteWholeFile(folder / "db", ManaDatabase(mana));
  // Unedited: the workbook's exact floats are the stored ones, and every byte is kept.
  std::string output;
  std::string errors;
  WriteManaWorkbook(folder / "db", mana, folder, folder / "book.xlsx");
  ASSERT_EQ(Pack(kSpells, {folder / "db", folder / "book.xlsx", folder / "new"}, output, errors), 0)
      << errors;
  EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(folder / "db"));
  EXPECT_TRUE(NothingChanged(output)) << output;
  // A cell edited to the next float, where the table shows both with the same six decimals and
  // the typed one otherwise than the cell: the record takes the float typed.
  std::string console;
  ASSERT_EQ(Unpack(kSpells, {folder / "db", folder / "tables"}, console), 0);
  std::size_t tested = 0;
  for (std::size_t edited = 0; edited < mana.size(); edited += 3) {
    SCOPED_TRACE("record " + std::to_string(edited));
    std::vector<std::uint32_t> typed = mana;
    typed[edited] += 1;
    WriteWholeFile(folder / "expected", ManaDatabase(typed));
    std::filesystem::remove_all(folder / "expected-tables");
    ASSERT_EQ(Unpack(kSpells, {folder / "expected", folder / "expected-tables"}, console), 0);
    const std::string table = ReadWholeFile(folder / "expected-tables/SpellPrototypes.txt");
    const std::string typedText = WorkbookFloatText(std::bit_cast<float>(typed[edited]));
    if (table != ReadWholeFile(folder / "tables/SpellPrototypes.txt") ||
        CellTableOf(table).lines[edited][5] == typedText) {
      continue;  // the table tells the two apart, or shows the typed one as it is typed
    }
    ++tested;
    WriteManaWorkbook(folder / "db", typed, folder, folder / "edited.xlsx");
    ASSERT_EQ(
        Pack(kSpells, {folder / "db", folder / "edited.xlsx", folder / "new"}, output, errors), 0)
        << errors;
    EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(folder / "expected"));
  }
  EXPECT_GE(tested, 4u) << "floats the table shows alike";
}

TEST(WorkbookTablesTest, WhatASheetCannotHoldIsRefusedAndLeavesNothing) {
  struct Case {
    std::size_t records;
    std::string name;
    std::string said;
  };
  const Case cases[] = {
      {1048576, "a", "SpellModifiers.txt line 1048577: a sheet holds at most 1048576 rows"},
      {2, std::string(32768, 'a'),
       "SpellModifiers.txt line 2: column \"Name\" holds a text of 32768 characters"},
      // Two UTF-8 bytes a character (1251's А): counted in characters, not bytes.
      {2, std::string(32768, '\xC0'),
       "SpellModifiers.txt line 2: column \"Name\" holds a text of 32768 characters"},
  };
  for (const Case& refused : cases) {
    if (refused.records > 1000 && kProgramsRunUnderEmulator) continue;
    TempFolder folder;
    WriteWholeFile(folder / "db", ModifierDatabase(refused.records, refused.name));
    std::string console;
    EXPECT_EQ(Unpack(kSpells, {folder / "db", folder / "book.xlsx"}, console), 1);
    EXPECT_EQ(console.find(refused.said), 0u) << console;
    EXPECT_NE(console.find("unpack into a folder"), std::string::npos) << console;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path),
                            std::filesystem::directory_iterator{}),
              1)
        << "only the database is left";
  }
}

// A cell holds texts of as many characters as a sheet allows, whatever their bytes in UTF-8.
TEST(WorkbookTablesTest, TextsOfTheMostCharactersAreKept) {
  for (const char letter : {'a', '\xC0'}) {
    TempFolder folder;
    WriteWholeFile(folder / "db", ModifierDatabase(2, std::string(kMostCellCharacters, letter)));
    std::string console;
    EXPECT_EQ(Unpack(kSpells, {folder / "db", folder / "book.xlsx"}, console), 0) << console;
  }
}

TEST(WorkbookTablesTest, TheCodePageChoosesTheLettersAndEveryByteComesBack) {
  struct Case {
    const char* codePage;
    std::string bytes;
    std::string letters;
  };
  const Case cases[] = {
      {nullptr, "\xC0\xE1\xE2", "\xD0\x90\xD0\xB1\xD0\xB2"},  // 1251: А б в
      {"1252", "\xC0\xE9", "\xC3\x80\xC3\xA9"},               // À é
      {"1253", "\xC1\xE2", "\xCE\x91\xCE\xB2"},               // Α β
      {nullptr, "x\x98y", "x\xEF\x9E\x98y"},                  // undefined: U+F798
      {"1252", "\x81\x8D", "\xEF\x9E\x81\xEF\x9E\x8D"},       // undefined: U+F781, U+F78D
  };
  for (const Case& letters : cases) {
    TempFolder folder;
    WriteWholeFile(folder / "db", ModifierDatabase(1, letters.bytes));
    std::vector<std::string> arguments = {folder / "db", folder / "book.xlsx"};
    if (letters.codePage != nullptr)
      arguments.insert(arguments.begin(), {"--code-page", letters.codePage});
    std::string console;
    ASSERT_EQ(Unpack(kSpells, arguments, console), 0) << console;
    const std::vector<SheetRows> sheets = ReadWorkbookSheets(folder / "book.xlsx");
    ASSERT_GE(sheets.size(), 2u);
    ASSERT_EQ(sheets[1].rows.size(), 2u);
    EXPECT_EQ(sheets[1].rows[1].second.at(0).value, letters.letters);
    std::string output;
    std::string errors;
    ASSERT_EQ(Pack(kSpells, {folder / "db", folder / "book.xlsx", folder / "new"}, output, errors),
              0)
        << errors;
    EXPECT_EQ(ReadWholeFile(folder / "new"), ReadWholeFile(folder / "db"));
  }
  std::string console;
  EXPECT_EQ(Unpack(kSpells, {"--code-page", "866", "db", "book.xlsx"}, console), 1);
  EXPECT_EQ(console.find("Unknown code page '866': the code pages are 874 1250"), 0u) << console;
}

}  // namespace
