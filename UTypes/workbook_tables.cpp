// The unpackers' tables made into workbook sheets.
#include "workbook_tables.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "number_text.h"
#include "run_failure.h"
#include "zip_crc.h"

namespace {

// Widths, in characters, that show a column's usual values whole.
constexpr double kTextColumnWidth = 20;
constexpr double kNumberColumnWidth = 10;

bool IsTextDecoder(Decoder decoder) {
  return decoder == Decoder::TextValue || decoder == Decoder::TextOrList ||
         decoder == Decoder::NamedNumber;
}

bool IsFloatDecoder(Decoder decoder) {
  return decoder == Decoder::FloatPlain || decoder == Decoder::FloatGeneral;
}

bool ShowsNoColumn(Decoder decoder) {
  return decoder == Decoder::Skip || decoder == Decoder::Discard;
}

// How many columns a field's text starts after its first: those between a multi-column
// decoder's values.
std::size_t ColumnsInside(const FieldRule& rule) {
  if (rule.decoder == Decoder::ShopFlags || rule.decoder == Decoder::ByteQuintuple) return 4;
  return 0;
}

ColumnKind KindOfField(const FieldRule& rule) {
  if (IsTextDecoder(rule.decoder)) return ColumnKind::Text;
  if (IsFloatDecoder(rule.decoder)) return ColumnKind::Float;
  return ColumnKind::Integer;
}

// The catalogue of the table kinds that `route` leads to: the first such kind's.
const FieldCatalogue* CatalogueOfRoute(const WalkRules& walk, int route) {
  for (int tableKind = 0; tableKind < 256; ++tableKind) {
    for (int databaseKind = 0; databaseKind < 256; ++databaseKind) {
      const auto table = static_cast<std::uint8_t>(tableKind);
      if (walk.routeLine(static_cast<std::uint8_t>(databaseKind), table) == route) {
        return walk.tableRules(table).catalogue;
      }
    }
  }
  return &kSkipEveryField;
}

// A column's width: the header's name whole, and room for its usual values.
double ColumnWidth(std::string_view name, ColumnKind kind) {
  const double usual = kind == ColumnKind::Text ? kTextColumnWidth : kNumberColumnWidth;
  const double named = static_cast<double>(name.size()) + 3;
  return named > usual ? named : usual;
}

std::vector<SheetColumn> SheetColumnsOf(const WalkRules& walk, int route, const TableSpec& table) {
  const std::vector<TableColumn> columns = ColumnsOfTable(walk, route);
  std::vector<SheetColumn> sheetColumns;
  std::size_t start = 0;
  for (const TableColumn& column : columns) {
    const std::size_t end = table.headerRow.find('\t', start);
    const std::string_view name = table.headerRow.substr(start, end - start);
    start = end == std::string_view::npos ? table.headerRow.size() : end + 1;
    const bool text = column.kind == ColumnKind::Text;
    sheetColumns.push_back(
        {ColumnWidth(name, column.kind), text ? CellStyle::Text : CellStyle::General});
  }
  return sheetColumns;
}

void AppendHeaderRow(WorkbookWriter& workbook, std::size_t sheet, std::string_view headerRow) {
  std::vector<SheetCell> cells;
  std::size_t start = 0;
  while (start <= headerRow.size()) {
    const std::size_t end = std::min(headerRow.find('\t', start), headerRow.size());
    cells.push_back({SheetCellKind::Text, headerRow.substr(start, end - start), CellStyle::Header});
    start = end + 1;
  }
  AppendSheetRow(workbook, sheet, cells);
}

// How many UTF-16 units the UTF-8 text takes: a cell's length as spreadsheets count it.
std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units;
}

// The name of a column for a message: the header's, or its number past the header's columns.
std::string ColumnName(std::string_view headerRow, std::size_t column) {
  std::size_t start = 0;
  for (std::size_t index = 0; index < column; ++index) {
    start = headerRow.find('\t', start);
    if (start == std::string_view::npos) return "column " + std::to_string(column + 1);
    ++start;
  }
  const std::size_t end = headerRow.find('\t', start);
  return "column \"" + std::string(headerRow.substr(start, end - start)) + "\"";
}

[[noreturn]] void RefuseWorkbook(const TableSpec& table, std::uint32_t line,
                                 const std::string& why) {
  throw WorkbookRefusal{std::string(table.fileName) + " line " + std::to_string(line) + ": " + why +
                        "; unpack into a folder to get the text tables instead"};
}

// The bytes' length in the finished line, which leaves out every NUL. Counted eight bytes at a
// time without a call: most texts are short, and a search's call would cost more than them.
std::size_t LengthWithoutNul(std::string_view bytes) {
  constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7Fu;
  std::size_t nuls = 0;
  std::size_t at = 0;
  for (; bytes.size() - at >= 8; at += 8) {
    std::uint64_t eight = 0;
    std::memcpy(&eight, bytes.data() + at, 8);
    // The high bit of each byte that is 0, and of no other: no sum carries out of its byte.
    const std::uint64_t zeros = ~(((eight & kLowBits) + kLowBits) | eight | kLowBits);
    // Counted only where there are some: without the instruction a count is a call.
    if (zeros != 0) nuls += static_cast<std::size_t>(std::popcount(zeros));
  }
  for (; at < bytes.size(); ++at)
    if (bytes[at] == '\0') ++nuls;
  return bytes.size() - nuls;
}

std::string NameInUtf8(std::string_view name, const CodePage& page) {
  std::string bytes;
  CodePageMiss miss;
  if (AppendBytesOfUtf8(page, name, bytes, miss) || !miss.invalidUtf8) return std::string(name);
  std::string utf8;
  AppendUtf8OfBytes(page, name, utf8);
  return utf8;
}

// Whether a single number field's value is shown as a number in `column` of a table of
// `columns`: where its column is a number column of the field's own kind, as the packer reads
// the cell by its column, or past the catalogue's columns. A field in another kind of column (a
// record that lacks a field before it shifts it) shows its table text as a text.
bool ShowsAsNumber(const std::vector<TableColumn>& columns, std::size_t column,
                   const FieldRule& rule) {
  if (column >= columns.size()) return true;
  return columns[column].kind == KindOfField(rule);
}

// The shortest text of most floats a table holds, written at `out` without a search: a whole
// number below 2^24 that does not end in 0, or a multiple of 1/16 below 2^14 that is not whole.
// Its exact decimal is then its shortest, and shorter than in scientific notation. A whole
// number's neighbours lie a unit away at most, while any text of fewer digits is a unit away at
// least; a sixteenth's exact decimal has at most four places, its last a 5, so that any text of
// fewer digits lies 0.0005 away at least, while below 2^14 the reals that round to the float lie
// within 2^-11 of it. Returns the text's length, or 0 for any other float.
std::size_t ExactShortestText(float value, char* out) {
  const float magnitude = std::fabs(value);
  if (!(magnitude < 16777216.0f) || value == 0.0f) return 0;
  const auto whole = static_cast<std::int32_t>(value);
  if (static_cast<float>(whole) == value) {
    return whole % 10 == 0 ? 0 : IntegerText(whole, out);
  }
  const float sixteenths = value * 16.0f;  // exact: a power of two
  if (!(magnitude < 16384.0f) || sixteenths != std::trunc(sixteenths)) return 0;
  std::size_t length = 0;
  if (value < 0.0f) out[length++] = '-';
  length += IntegerText(static_cast<std::int32_t>(magnitude), out + length);
  // A sixteenth is 0.0625: the fraction's four places, their trailing zeros dropped.
  auto places =
      static_cast<std::uint32_t>(static_cast<std::int32_t>(magnitude * 16.0f) % 16) * 625u;
  out[length++] = '.';
  for (std::uint32_t unit = 1000; places != 0; unit /= 10) {
    out[length++] = static_cast<char>('0' + places / unit);
    places %= unit;
  }
  return length;
}

// The first tab of a decoded number's few bytes: a loop costs less there than a call to search.
std::size_t FirstTab(std::string_view text) {
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '\t') return index;
  }
  return std::string_view::npos;
}

std::string HexOf(std::uint32_t value) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", value);
  return digits;
}

}  // namespace

bool IsWorkbookName(std::string_view path) {
  constexpr std::string_view kExtension = ".xlsx";
  if (path.size() < kExtension.size()) return false;
  const std::string_view end = path.substr(path.size() - kExtension.size());
  for (std::size_t index = 0; index < kExtension.size(); ++index) {
    const char c = end[index];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kExtension[index]) return false;
  }
  return true;
}

std::string WorkbookFloatText(float value) {
  char digits[32];
  std::size_t length = ExactShortestText(value, digits);
  if (length == 0) {
    length =
        static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
  }
  return std::string(digits, length);
}

std::vector<TableColumn> ColumnsOfTable(const WalkRules& walk, int route) {
  const FieldCatalogue& catalogue = *CatalogueOfRoute(walk, route);
  std::vector<TableColumn> columns;
  for (const FieldRule& rule : catalogue) {
    if (ShowsNoColumn(rule.decoder)) continue;
    const bool startsColumn =
        columns.empty() || rule.lead == Lead::Tab || rule.decoder == Decoder::ByteQuintuple;
    if (startsColumn) {
      columns.push_back({KindOfField(rule), rule});
    } else {
      // A column of several fields ("R,G,B") is a text.
      columns.back() = {ColumnKind::Text, rule};
    }
    for (std::size_t index = 0; index < ColumnsInside(rule); ++index)
      columns.push_back({KindOfField(rule), rule});
  }
  return columns;
}

std::string_view SheetNameOf(const TableSpec& table) {
  std::string_view name = table.fileName;
  if (name.ends_with(".txt")) name.remove_suffix(4);
  return name;
}

std::uint32_t FileCrc32(PlatformFile file, std::int64_t size) {
  std::vector<unsigned char> buffer(kReadBufferSize);
  std::uint32_t crc = 0;
  std::int64_t offset = 0;
  while (offset < size) {
    std::size_t got = 0;
    const int error = ReadFileAt(file, offset, buffer.data(), buffer.size(), got);
    if (error != 0) RaiseIoFailure(error);
    if (got == 0) RaiseIoFailure(kErrorReadBeyondEnd);
    crc = UpdateCrc(crc, buffer.data(), got);
    offset += static_cast<std::int64_t>(got);
  }
  return crc;
}

std::vector<std::int64_t> TableBytesOfRoutes(const NodeReader& database, const WalkRules& walk,
                                             std::size_t routes) {
  std::vector<std::int64_t> bytes(routes, 0);
  NodeReader reader;
  try {
    reader = SecondNodeReader(database);
    while (!AtEnd(reader)) {
      const NodeHeader node = ReadNodeHeader(reader);
      const std::int64_t nodeEnd = NodeEnd(node);
      while (Position(reader) < nodeEnd && !AtEnd(reader)) {
        const NodeHeader table = ReadNodeHeader(reader);
        const int route = walk.routeLine(node.kind, table.kind);
        if (route >= 0 && static_cast<std::size_t>(route) < routes) {
          bytes[static_cast<std::size_t>(route)] += PayloadLength(table);
        }
        SeekTo(reader, NodeEnd(table));
      }
      if (walk.firstDatabaseNodeOnly) break;
      SeekTo(reader, nodeEnd);
    }
  } catch (...) {
    // Damage ends the reading: the lengths so far are the guess.
  }
  try {
    CloseNodeReader(reader);
  } catch (...) {
  }
  return bytes;
}

void StartWorkbookTables(WorkbookLineWriter& writer, WorkbookWriter& workbook, NodeReader& reader,
                         const WalkRules& walk, std::span<const TableSpec> tables,
                         const CodePage& codePage) {
  writer.reader = &reader;
  writer.walk = &walk;
  writer.tables = tables;
  writer.codePage = &codePage;
  writer.workbook = &workbook;
  const std::size_t firstSheet = workbook.sheets.size();
  for (std::size_t route = 0; route < tables.size(); ++route) {
    const TableSpec& table = tables[route];
    const std::size_t sheet = AddSheet(workbook, std::string(SheetNameOf(table)),
                                       SheetColumnsOf(walk, static_cast<int>(route), table), true);
    AppendHeaderRow(workbook, sheet, table.headerRow);
    writer.headerColumns.push_back(
        static_cast<std::size_t>(std::count(table.headerRow.begin(), table.headerRow.end(), '\t')) +
        1);
    writer.columns.push_back(ColumnsOfTable(walk, static_cast<int>(route)));
  }
  // A large table's sheet streams from its first rows: its bytes are never held.
  const std::vector<std::int64_t> bytes = TableBytesOfRoutes(reader, walk, tables.size());
  const auto most = std::max_element(bytes.begin(), bytes.end());
  if (most != bytes.end() && *most >= kStreamedTableBytes) {
    workbook.largestSheet = firstSheet + static_cast<std::size_t>(most - bytes.begin());
  }
  writer.cells.resize(1);
  writer.cellCount = 1;
}

void WorkbookLineWriter::Table(std::int64_t, const NodeHeader& header, int) {
  catalogue = walk->tableRules(header.kind).catalogue;
}

void WorkbookLineWriter::Field(std::int64_t, const NodeHeader& field, std::string_view text,
                               std::int64_t) {
  const FieldRule& rule = (*catalogue)[field.kind];
  if (ShowsNoColumn(rule.decoder)) return;
  std::uint32_t floatBits = 0;
  if (IsFloatDecoder(rule.decoder)) {
    std::uint8_t payload[4] = {};
    const auto length = static_cast<std::size_t>(std::min<std::int64_t>(PayloadLength(field), 4));
    ReadBytesAt(*reader, field.payloadStart, length, payload);
    floatBits = StoredNumberValue({reinterpret_cast<const char*>(payload), length});
  }
  // A cell is made by the fields that write into it: a tab that starts a column gives the next
  // cell to this field, and the first byte it writes into the current cell gives it that one.
  bool touchedCurrent = false;
  auto touch = [&](PendingCell& cell) {
    ++cell.fields;
    cell.rule = &rule;
    cell.floatBits = floatBits;
    touchedCurrent = true;
  };
  auto startCell = [&] {
    ++lineLength;  // the tab
    if (cellCount == cells.size()) cells.emplace_back();
    PendingCell& next = cells[cellCount++];
    next.start = lineLength;
    next.fields = 0;
    touch(next);
  };
  auto appendToCell = [&](std::string_view bytes, std::size_t lengthInLine) {
    if (bytes.empty()) return;
    if (!touchedCurrent) touch(cells[cellCount - 1]);
    lineLength += lengthInLine;
  };
  if (IsTextDecoder(rule.decoder)) {
    // Only the lead starts a column: a tab inside a stored text stays in its cell. Only a stored
    // text holds NUL bytes.
    if (rule.lead == Lead::Tab && text.starts_with('\t')) {
      startCell();
      text.remove_prefix(1);
    }
    return appendToCell(text, LengthWithoutNul(text));
  }
  for (std::size_t tab = FirstTab(text); tab != std::string_view::npos; tab = FirstTab(text)) {
    appendToCell(text.substr(0, tab), tab);
    startCell();
    text.remove_prefix(tab + 1);
  }
  appendToCell(text, text.size());
}

void WorkbookLineWriter::Line(int route, std::string_view line) {
  const std::size_t count = cellCount;
  const std::size_t length = lineLength;
  cellCount = 1;
  lineLength = 0;
  cells[0].fields = 0;
  if (route == kDropLine) return;
  if (length != line.size()) throw std::logic_error("a line's cells do not make up its text");
  const auto table = static_cast<std::size_t>(route);
  const TableSpec& shown = tables[table];
  const std::uint32_t lineNumber = workbook->sheets[table].rows + 1;
  if (workbook->sheets[table].rows >= kMostSheetRows) {
    RefuseWorkbook(shown, lineNumber, "a sheet holds at most 1048576 rows");
  }
  const bool marked = count != headerColumns[table];
  if (count + (marked ? 1 : 0) > kMostSheetColumns) {
    RefuseWorkbook(
        shown, lineNumber,
        "the line has " + std::to_string(count) + " columns; a sheet holds at most 16384");
  }
  if (values.size() < count) values.resize(count);
  row.assign(count, SheetCell{});
  if (marked) row.push_back({SheetCellKind::Text, kLineEndMark, CellStyle::Text});
  for (std::size_t column = 0; column < count; ++column) {
    const PendingCell& cell = cells[column];
    const std::size_t end = column + 1 < count ? cells[column + 1].start - 1 : line.size();
    const std::string_view bytes = line.substr(cell.start, end - cell.start);
    SheetCell& out = row[column];
    const bool oneNumber = cell.fields == 1 && !IsTextDecoder(cell.rule->decoder) &&
                           ShowsAsNumber(columns[table], column, *cell.rule);
    if (bytes.empty()) {
      out.kind = SheetCellKind::Empty;
    } else if (oneNumber && IsFloatDecoder(cell.rule->decoder) &&
               std::isfinite(std::bit_cast<float>(cell.floatBits))) {
      values[column] = WorkbookFloatText(std::bit_cast<float>(cell.floatBits));
      out = {SheetCellKind::Number, values[column], CellStyle::General};
    } else if (oneNumber && !IsFloatDecoder(cell.rule->decoder)) {
      out = {SheetCellKind::Number, bytes, CellStyle::General};
    } else {
      out = {SheetCellKind::Text, TextInUtf8(bytes, values[column]), CellStyle::Text};
      // A text takes no more UTF-16 units than UTF-8 bytes: only a long one is counted.
      const std::size_t units = out.value.size() > kMostCellCharacters ? Utf16Length(out.value) : 0;
      if (units > kMostCellCharacters) {
        RefuseWorkbook(shown, lineNumber,
                       ColumnName(shown.headerRow, column) + " holds a text of " +
                           std::to_string(units) +
                           " characters; a workbook cell holds at most 32767");
      }
    }
  }
  AppendSheetRow(*workbook, table, row);
}

std::string_view WorkbookLineWriter::TextInUtf8(std::string_view bytes, std::string& held) const {
  // ASCII is its own UTF-8 in every code page.
  if (IsAscii(bytes)) return bytes;
  held.clear();
  AppendUtf8OfBytes(*codePage, bytes, held);
  return held;
}

void AddOriginSheet(WorkbookWriter& workbook, const WorkbookOrigin& origin) {
  const CodePage& page = *FindCodePage(origin.codePage);
  const std::string name = NameInUtf8(origin.databaseName, page);
  const std::string size = std::to_string(origin.databaseSize);
  const std::string crc = HexOf(origin.databaseCrc);
  const std::string codePage = std::to_string(origin.codePage);
  const std::string howToPack = origin.packer + " \"" + name + "\" this-workbook.xlsx new-database";
  const std::size_t sheet = AddSheet(workbook, std::string(kAboutSheetName),
                                     {{18, CellStyle::Text}, {48, CellStyle::General}}, false);
  const SheetCell rows[][2] = {
      {{SheetCellKind::Text, kOriginKeys[0], CellStyle::Header},
       {SheetCellKind::Text, name, CellStyle::Text}},
      {{SheetCellKind::Text, kOriginKeys[1], CellStyle::Header}, {SheetCellKind::Number, size}},
      {{SheetCellKind::Text, kOriginKeys[2], CellStyle::Header},
       {SheetCellKind::Text, crc, CellStyle::Text}},
      {{SheetCellKind::Text, kOriginKeys[3], CellStyle::Header}, {SheetCellKind::Number, codePage}},
      {{SheetCellKind::Text, kOriginKeys[4], CellStyle::Header},
       {SheetCellKind::Text, origin.writtenBy, CellStyle::Text}},
      {{SheetCellKind::Text, "Packing back", CellStyle::Header},
       {SheetCellKind::Text, howToPack, CellStyle::Text}},
  };
  for (const auto& cells : rows)
    AppendSheetRow(workbook, sheet, cells);
}
