// A workbook's sheets read back into the tables its unpacker writes.
#include "workbook_source.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>

#include "code_page.h"
#include "field_codec.h"
#include "message_text.h"
#include "node_writer.h"
#include "number_text.h"
#include "pack_plan.h"
#include "platform.h"
#include "run_failure.h"
#include "run_unpacker.h"
#include "split_text.h"
#include "table_text.h"
#include "workbook_reader.h"
#include "workbook_tables.h"

namespace {

// Problems listed before the rest are counted: a workbook typed in the wrong code page would
// otherwise list every text it holds.
constexpr std::size_t kProblemsListed = 20;

// The most room taken ahead for one sheet's text: an eighth of the address space at most, so
// that a 32-bit build keeps room for the rest.
constexpr std::uint64_t kMostReservedTextBytes =
    std::min<std::uint64_t>(std::uint64_t{1} << 30, std::numeric_limits<std::size_t>::max() / 8);

// What one table's conversion needs and gathers.
struct SheetConversion {
  const TableSpec* table = nullptr;
  std::vector<TableColumn> columns;
  std::size_t headerColumns = 0;
  char tableSeparator = '.';  // of its floats, for columns past the header's
  const CodePage* page = nullptr;
  char decimalSeparator = '.';
  std::string where;  // "'mod.xlsx' SpellPrototypes"
};

struct Problems {
  std::vector<std::string> listed;
  std::size_t count = 0;
  void Add(std::string problem) {
    if (count++ < kProblemsListed) listed.push_back(std::move(problem));
  }
};

std::string CellPlace(const SheetConversion& sheet, std::uint32_t row, std::size_t column) {
  return sheet.where + " row " + std::to_string(row) + ", column " +
         ColumnName(*sheet.table, column);
}

// The whole number a number text holds, within the int32 range; false otherwise.
bool WholeValue(const DecimalNumber& number, std::int32_t& value) {
  if (number.form == DecimalDigits::Form::Zero) {
    value = 0;
    return true;
  }
  if (number.form != DecimalDigits::Form::Finite) return false;
  const auto digits = static_cast<std::int64_t>(number.digits.size());
  if (number.exponent < digits || number.exponent > 10) return false;
  std::int64_t whole = 0;
  for (std::int64_t index = 0; index < number.exponent; ++index) {
    const std::size_t at = static_cast<std::size_t>(index);
    whole = whole * 10 + (at < number.digits.size() ? number.digits[at] - '0' : 0);
  }
  if (number.negative) whole = -whole;
  if (whole < std::numeric_limits<std::int32_t>::min() ||
      whole > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  value = static_cast<std::int32_t>(whole);
  return true;
}

// The saved number with the table's separator for its point.
std::string WithSeparator(std::string_view saved, char separator) {
  std::string text(saved.starts_with('+') ? saved.substr(1) : saved);
  for (char& c : text) {
    if (c == '.') c = separator;
  }
  return text;
}

double DoubleOf(std::string_view text) {
  double value = std::numeric_limits<double>::quiet_NaN();
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The table's text of a float in a column of `rule`, without its lead; false when none.
bool TableTextOfFloat(const FieldRule& rule, float value, char decimalSeparator,
                      std::string& text) {
  if (!DecodedText(rule, Float32BitsPayload(std::bit_cast<std::uint32_t>(value)), decimalSeparator,
                   text)) {
    return false;
  }
  text.erase(0, LeadText(rule).size());
  return true;
}

// A float column's text for a saved number: the unpacker's own text of the float32 it rounds to
// when the cell holds exactly the number the workbook writes for that float (as saved by any
// spreadsheet: the same double), otherwise the number as saved, which the packer rounds and
// says so. Where the table's text of that float does not show it, the number as saved is the
// cell's text and `shown` is the table's text (else `shown` is left empty).
std::string FloatColumnText(const TableColumn& column, std::string_view saved,
                            const DecimalNumber& number, char decimalSeparator,
                            std::string& shown) {
  const char separator = NumberSeparator(column.rule, decimalSeparator);
  float value = 0.0f;
  if (!NearestFloat(number, value)) return WithSeparator(saved, separator);
  const std::string shortest = WorkbookFloatText(value);
  if (saved != shortest && DoubleOf(saved) != DoubleOf(shortest)) {
    return WithSeparator(saved, separator);
  }
  std::string text;
  if (!TableTextOfFloat(column.rule, value, decimalSeparator, text)) {
    return WithSeparator(saved, separator);
  }
  // The table's few decimals may not show the float ("0" for 1e-07): then the number as saved,
  // which the packer rounds to the same float.
  DecimalNumber readNumber;
  float readBack = 0.0f;
  const bool showsIt =
      ReadNumberText(text, separator, readNumber) && NearestFloat(readNumber, readBack) &&
      std::bit_cast<std::uint32_t>(readBack) == std::bit_cast<std::uint32_t>(value);
  if (showsIt) return text;
  shown = std::move(text);
  return WithSeparator(saved, separator);
}

// Whether `saved` is a whole number within the int32 range written as std::to_string writes it
// ("0", "-12", no sign '+', no leading zero): then it is its own text outside a float column.
bool IsPlainWholeNumber(std::string_view saved) {
  const std::string_view digits = saved.starts_with('-') ? saved.substr(1) : saved;
  if (digits.empty() || digits.size() > 10) return false;
  if (digits[0] == '0' && saved.size() > 1) return false;
  std::int64_t value = 0;
  for (const char digit : digits) {
    if (digit < '0' || digit > '9') return false;
    value = value * 10 + (digit - '0');
  }
  return digits.size() == saved.size() ? value <= std::numeric_limits<std::int32_t>::max()
                                       : -value >= std::numeric_limits<std::int32_t>::min();
}

// A number cell's text in its column; `shown` as FloatColumnText gives it.
std::string NumberText(const SheetConversion& sheet, std::size_t column, std::string_view saved,
                       std::string& shown) {
  const bool floatColumn =
      column < sheet.columns.size() && sheet.columns[column].kind == ColumnKind::Float;
  // Most cells hold a whole number as the unpacker wrote it, which reading would give back.
  if (!floatColumn && IsPlainWholeNumber(saved)) return std::string(saved);
  DecimalNumber number;
  const bool readable =
      ReadNumberText(saved.starts_with('+') ? saved.substr(1) : saved, '.', number);
  if (column < sheet.columns.size()) {
    const TableColumn& kind = sheet.columns[column];
    const char separator = NumberSeparator(kind.rule, sheet.decimalSeparator);
    if (!readable) return WithSeparator(saved, separator);
    if (kind.kind == ColumnKind::Float) {
      return FloatColumnText(kind, saved, number, sheet.decimalSeparator, shown);
    }
    std::int32_t whole = 0;
    if (WholeValue(number, whole)) return std::to_string(whole);
    return WithSeparator(saved, separator);
  }
  std::int32_t whole = 0;
  if (readable && WholeValue(number, whole)) return std::to_string(whole);
  return WithSeparator(saved, sheet.tableSeparator);
}

bool IsTextColumn(const SheetConversion& sheet, std::size_t column) {
  return column < sheet.columns.size() && sheet.columns[column].kind == ColumnKind::Text;
}

std::string KindWords(ReadCellKind kind) {
  switch (kind) {
    case ReadCellKind::Date:
      return "a date or time";
    case ReadCellKind::Boolean:
      return "a truth value (TRUE or FALSE)";
    case ReadCellKind::Error:
      return "an error value";
    default:
      return "a value";
  }
}

// The cell's text in the table, or false with the problem said; `shown` as FloatColumnText
// gives it.
bool CellText(const SheetConversion& sheet, std::uint32_t row, const ReadCell& cell,
              std::string& text, std::string& shown, Problems& problems) {
  text.clear();
  shown.clear();
  if (cell.formula && !cell.formulaValue) {
    problems.Add(CellPlace(sheet, row, cell.column) +
                 ": a formula without a saved value: open the workbook in a spreadsheet and "
                 "save it again, or type the value");
    return false;
  }
  switch (cell.kind) {
    case ReadCellKind::Text: {
      CodePageMiss miss;
      if (AppendBytesOfUtf8(*sheet.page, cell.value, text, miss)) return true;
      problems.Add(CellPlace(sheet, row, cell.column) + ": " +
                   (miss.invalidUtf8
                        ? std::string("is not valid UTF-8")
                        : "the character " + CharacterName(miss.character) +
                              " is not in code page " + std::to_string(sheet.page->number)));
      return false;
    }
    case ReadCellKind::Number:
      if (IsTextColumn(sheet, cell.column)) {
        problems.Add(CellPlace(sheet, row, cell.column) + ": holds the number " +
                     QuotedUtf8Text(cell.value) +
                     " in a column of texts: format the cell as Text and type it again");
        return false;
      }
      text = NumberText(sheet, cell.column, cell.value, shown);
      return true;
    default:
      problems.Add(CellPlace(sheet, row, cell.column) + ": holds " + KindWords(cell.kind) + " (" +
                   QuotedUtf8Text(cell.value) + "), which no table holds: type it as " +
                   (IsTextColumn(sheet, cell.column) ? "text" : "a number"));
      return false;
  }
}

// Appends the row's line: its cells joined by tabs, as many columns as the header's unless its
// end is marked. Returns the line as the table shows its floats where that differs from the
// line (FloatColumnText), else an empty string.
std::string AppendLine(const SheetConversion& sheet, std::uint32_t row,
                       std::span<const ReadCell> cells, std::string& out, WorkbookTables& tables,
                       Problems& problems) {
  const std::size_t lineStart = out.size();
  std::string shownLine;  // the line up to the last shown float, then the rest added at the end
  std::size_t shownUpTo = lineStart;
  std::size_t columns = sheet.headerColumns;
  std::size_t usedCells = cells.size();
  for (std::size_t index = 0; index < cells.size(); ++index) {
    if (cells[index].kind == ReadCellKind::Text && cells[index].value == kLineEndMark) {
      columns = cells[index].column;
      usedCells = index;
      break;
    }
    columns = std::max(columns, cells[index].column + 1);
  }
  std::string text;
  std::string shown;
  std::size_t next = 0;
  for (std::size_t column = 0; column < columns; ++column) {
    if (column > 0) out += '\t';
    if (next >= usedCells || cells[next].column != column) continue;
    const ReadCell& cell = cells[next++];
    if (cell.formula && cell.formulaValue && tables.formulaCells++ == 0) {
      tables.firstFormula = CellPlace(sheet, row, cell.column);
    }
    if (!CellText(sheet, row, cell, text, shown, problems)) continue;
    if (!shown.empty()) {
      shownLine.append(out, shownUpTo, out.size() - shownUpTo);
      shownLine += shown;
      shownUpTo = out.size() + text.size();
    }
    out += text;
  }
  if (!shownLine.empty()) shownLine.append(out, shownUpTo, out.size() - shownUpTo);
  out += kLineEnd;
  return shownLine;
}

// Room for a sheet's text, which takes a fraction of its part (a cell's markup is longer than its
// text): growing by doubling would copy the text and touch its pages twice, while room never
// written costs address space only. Without room to spare, the text grows as it comes.
void ReserveSheetText(std::string& text, std::uint64_t partBytes) {
  const std::uint64_t room = std::min(partBytes / 4, kMostReservedTextBytes);
  try {
    text.reserve(static_cast<std::size_t>(room));
    AdviseLargePages(text.data(), text.capacity());
  } catch (const std::bad_alloc&) {
  }
}

// The table's text from its sheet: its rows from the header row on, each a line. Empty cells
// take a tab each: a sheet whose text would be far larger than its part (cells placed far apart,
// as only a damaged or hostile file places them) is refused rather than held.
std::string SheetText(const WorkbookFile& workbook, const WorkbookSheetEntry& entry,
                      const SheetConversion& sheet, WorkbookTables& tables, Problems& problems,
                      std::vector<ShownLine>& shownLines) {
  const ZipEntry* part = FindZipEntry(workbook.archive, entry.part);
  const std::uint64_t partBytes = part == nullptr ? 0 : part->size;
  const std::uint64_t mostBytes = partBytes * 8 + (std::uint64_t{1} << 20);
  std::string text;
  ReserveSheetText(text, partBytes);
  std::uint32_t lastRow = 0;
  std::size_t lines = 0;  // the lines appended, the header row's first
  ReadSheetRows(workbook, entry, [&](std::uint32_t row, std::span<const ReadCell> cells) {
    if (text.size() > mostBytes) {
      throw PackFailure{{sheet.where + " row " + std::to_string(row) +
                         ": the sheet's cells lie far apart, with more empty cells between them "
                         "than a table holds; it is not taken"}};
    }
    if (row > lastRow + 1) {
      problems.Add(sheet.where + " row " + std::to_string(lastRow + 1) +
                   (lastRow == 0 ? " (the header row) is empty"
                                 : " is empty: delete the row itself to remove a record"));
    }
    const std::size_t lineStart = text.size();
    const std::string shown = AppendLine(sheet, row, cells, text, tables, problems);
    const std::string_view line =
        std::string_view(text).substr(lineStart, text.size() - lineStart - kLineEnd.size());
    // A line holding a line break may be read as several: it pairs by its own text alone.
    if (!shown.empty() && lines > 0 && line.find_first_of("\r\n") == std::string_view::npos) {
      shownLines.push_back({lines - 1, LineHash(line), LineHash(shown)});
    }
    ++lines;
    lastRow = row;
  });
  return text;
}

// The About sheet's record of the database the workbook was made from.
RecordedOrigin ReadOrigin(const WorkbookFile& workbook) {
  RecordedOrigin origin;
  const WorkbookSheetEntry* about = FindSheet(workbook, kAboutSheetName);
  if (about == nullptr) return origin;
  ReadSheetRows(workbook, *about, [&](std::uint32_t, std::span<const ReadCell> cells) {
    if (cells.size() < 2 || cells[0].column != 0 || cells[1].column != 1) return;
    const std::string& key = cells[0].value;
    const std::string& value = cells[1].value;
    if (key == kOriginKeys[0]) {
      origin.databaseName = value;
      origin.known = true;
    } else if (key == kOriginKeys[1]) {
      std::from_chars(value.data(), value.data() + value.size(), origin.databaseSize);
    } else if (key == kOriginKeys[2]) {
      std::from_chars(value.data(), value.data() + value.size(), origin.databaseCrc, 16);
    } else if (key == kOriginKeys[3]) {
      std::from_chars(value.data(), value.data() + value.size(), origin.codePage);
    }
  });
  return origin;
}

bool IsTableSheet(const PackRules& rules, std::string_view name) {
  if (name == kAboutSheetName) return true;
  for (const TableSpec& table : rules.tables) {
    if (SheetNameOf(table) == name) return true;
  }
  return false;
}

const CodePage& ChosenCodePage(int chosen, const RecordedOrigin& origin) {
  if (chosen != 0 && FindCodePage(chosen) != nullptr) return *FindCodePage(chosen);
  if (origin.codePage != 0 && FindCodePage(origin.codePage) != nullptr) {
    return *FindCodePage(origin.codePage);
  }
  return *FindCodePage(kDefaultCodePage);
}

char FloatSeparatorOf(const std::vector<TableColumn>& columns, char decimalSeparator) {
  for (const TableColumn& column : columns) {
    if (column.kind == ColumnKind::Float) return NumberSeparator(column.rule, decimalSeparator);
  }
  return decimalSeparator;
}

}  // namespace

bool IsWorkbookFile(PlatformFile file) {
  return LooksLikeZip(file) || IsCompoundFile(file);
}

RecordedOrigin ReadRecordedOrigin(PlatformFile file) {
  if (!LooksLikeZip(file)) return {};
  try {
    WorkbookFile workbook;
    OpenWorkbookFile(file, workbook);
    return ReadOrigin(workbook);
  } catch (const WorkbookFailure&) {
    return {};
  }
}

bool IsRecordedDatabase(const RecordedOrigin& origin, PlatformFile database, std::int64_t size) {
  return origin.known && origin.databaseSize == size &&
         FileCrc32(database, size) == origin.databaseCrc;
}

void ReadWorkbookTables(const std::string& path, PlatformFile file, const PackRules& rules,
                        char decimalSeparator, int codePage, WorkbookTables& tables) {
  const std::string name = QuotedPath(path);
  WorkbookFile workbook;
  Problems problems;
  try {
    OpenWorkbookFile(file, workbook);
    tables.origin = ReadOrigin(workbook);
    const CodePage& page = ChosenCodePage(codePage, tables.origin);
    tables.codePage = page.number;
    for (const WorkbookSheetEntry& sheet : workbook.sheets) {
      if (!IsTableSheet(rules, sheet.name)) tables.ignoredSheets.push_back(sheet.name);
    }
    for (std::size_t route = 0; route < rules.tables.size(); ++route) {
      const TableSpec& table = rules.tables[route];
      const WorkbookSheetEntry* entry = FindSheet(workbook, SheetNameOf(table));
      if (entry == nullptr) {
        throw PackFailure{{"the workbook " + name + " has no sheet '" +
                           std::string(SheetNameOf(table)) + "' (the table " +
                           std::string(table.fileName) + "): a workbook source holds every table"}};
      }
      SheetConversion sheet;
      sheet.table = &table;
      sheet.columns = ColumnsOfTable(*rules.walk, static_cast<int>(route));
      sheet.headerColumns = static_cast<std::size_t>(
                                std::count(table.headerRow.begin(), table.headerRow.end(), '\t')) +
                            1;
      sheet.tableSeparator = FloatSeparatorOf(sheet.columns, decimalSeparator);
      sheet.page = &page;
      sheet.decimalSeparator = decimalSeparator;
      sheet.where = name + " " + std::string(SheetNameOf(table));
      std::vector<ShownLine>& shownLines = tables.shownLines.emplace_back();
      tables.texts.push_back(SheetText(workbook, *entry, sheet, tables, problems, shownLines));
    }
  } catch (const WorkbookFailure& failure) {
    throw PackFailure{{"the source " + name + " " + failure.message}};
  }
  if (problems.count > 0) {
    if (problems.count > problems.listed.size()) {
      problems.listed.push_back("... and " +
                                std::to_string(problems.count - problems.listed.size()) +
                                " more cells of " + name);
    }
    throw PackFailure{std::move(problems.listed)};
  }
}

std::vector<std::uint64_t> PairingHashes(std::span<const ShownLine> shown,
                                         std::span<const std::uint64_t> hashes) {
  std::vector<std::uint64_t> pairing(hashes.begin(), hashes.end());
  for (const ShownLine& line : shown) {
    // Not the line it was read as (joined or split otherwise): it pairs by its own hash.
    if (line.line < pairing.size() && pairing[line.line] == line.ownHash) {
      pairing[line.line] = line.shownHash;
    }
  }
  return pairing;
}

bool ShowsFloatsExactly(const WorkbookTables& tables, std::size_t table, std::size_t line) {
  if (table >= tables.shownLines.size()) return false;
  const std::vector<ShownLine>& shown = tables.shownLines[table];
  const auto found = std::ranges::lower_bound(shown, line, {}, &ShownLine::line);
  return found != shown.end() && found->line == line;
}

std::vector<std::string> WorkbookNotes(const std::string& path, const WorkbookTables& tables,
                                       PlatformFile original, std::int64_t originalSize) {
  std::vector<std::string> notes;
  const std::string name = QuotedPath(path);
  for (const std::string& sheet : tables.ignoredSheets) {
    notes.push_back(name + ": the sheet " + QuotedUtf8Text(sheet) +
                    " is not a table and was ignored");
  }
  if (tables.formulaCells > 0) {
    notes.push_back(name + ": " + Plural(tables.formulaCells, "formula cell") +
                    " packed as the values saved with them (the first at " + tables.firstFormula +
                    ")");
  }
  const RecordedOrigin& origin = tables.origin;
  if (origin.known) {
    if (!IsRecordedDatabase(origin, original, originalSize)) {
      notes.push_back(
          name + " was made from " + QuotedUtf8Text(origin.databaseName) + " (" +
          Plural(static_cast<std::size_t>(std::max<std::int64_t>(origin.databaseSize, 0)), "byte") +
          "), not from this ORIGINAL: its changes are carried onto this one");
    }
  }
  return notes;
}
