// The parts of a workbook file and the XML of its sheets.
#include "workbook_writer.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "replacing_file.h"
#include "run_failure.h"
#include "xml_text.h"

namespace {

// Sheets are deflated in memory by the quick encoder; the small parts take zlib's default level.
constexpr int kSmallPartDeflateLevel = 6;
// XML gathered before it is handed to the sheet's deflater.
constexpr std::size_t kPendingSheetXml = std::size_t{256} * 1024;

constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kMainNamespace =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelationshipsNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kPackageRelationshipsNamespace =
    "http://schemas.openxmlformats.org/package/2006/relationships";

// The style sheet: fonts 0 (regular) and 1 (bold); fills 2 (yellow), 3 (green) and 4 (red) after
// the two every style sheet begins with; cell formats in CellStyle's order, the Text ones with the
// built-in number format 49 ("@"), the marked ones with their fill.
constexpr std::string_view kStyleSheet =
    "<fonts count=\"2\">"
    "<font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
    "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
    "<fills count=\"5\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill>"
    "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFFEB84\"/></patternFill></fill>"
    "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFC6EFCE\"/></patternFill></fill>"
    "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFFC7CE\"/></patternFill></fill>"
    "</fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
    "</cellStyleXfs>"
    "<cellXfs count=\"6\">"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
    "applyNumberFormat=\"1\"/>"
    "<xf numFmtId=\"49\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
    "applyNumberFormat=\"1\" applyFont=\"1\"/>"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"2\" borderId=\"0\" xfId=\"0\" applyFill=\"1\"/>"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"3\" borderId=\"0\" xfId=\"0\" applyFill=\"1\"/>"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"4\" borderId=\"0\" xfId=\"0\" applyFill=\"1\"/>"
    "</cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>";

void AppendNumber(std::string& out, std::size_t number) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out.append(digits, end);
}

void AppendWidth(std::string& out, double width) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, width).ptr;
  out.append(digits, end);
}

// The style's index in the style sheet's cell formats.
std::size_t StyleIndex(CellStyle style) {
  return static_cast<std::size_t>(style);
}

// The sheet's opening: the frozen header row, the columns' widths and styles.
std::string SheetHead(const WorkbookSheet& sheet) {
  std::string head(kXmlDeclaration);
  head += "<worksheet xmlns=\"";
  head += kMainNamespace;
  head += "\" xmlns:r=\"";
  head += kRelationshipsNamespace;
  head += "\">";
  if (sheet.frozenHeader) {
    head +=
        "<sheetViews><sheetView workbookViewId=\"0\"><pane ySplit=\"1\" topLeftCell=\"A2\" "
        "activePane=\"bottomLeft\" state=\"frozen\"/><selection pane=\"bottomLeft\" "
        "activeCell=\"A2\" sqref=\"A2\"/></sheetView></sheetViews>";
  }
  if (!sheet.columns.empty()) {
    head += "<cols>";
    for (std::size_t column = 0; column < sheet.columns.size(); ++column) {
      head += "<col min=\"";
      AppendNumber(head, column + 1);
      head += "\" max=\"";
      AppendNumber(head, column + 1);
      head += "\" width=\"";
      AppendWidth(head, sheet.columns[column].width);
      head += "\" customWidth=\"1\"";
      if (sheet.columns[column].style != CellStyle::General) {
        head += " style=\"";
        AppendNumber(head, StyleIndex(sheet.columns[column].style));
        head += '"';
      }
      head += "/>";
    }
    head += "</cols>";
  }
  head += "<sheetData>";
  return head;
}

// The reference of the sheet's cells from A1 to the last of its widest row: what its filter
// covers.
std::string SheetRange(const WorkbookSheet& sheet, bool absolute) {
  const std::size_t lastColumn = sheet.widestRow == 0 ? 0 : sheet.widestRow - 1;
  const std::string dollar = absolute ? "$" : "";
  std::string range = dollar + "A" + dollar + "1:" + dollar;
  range += ColumnLetters(lastColumn);
  range += dollar;
  AppendNumber(range, sheet.rows == 0 ? 1 : sheet.rows);
  return range;
}

std::string SheetTail(const WorkbookSheet& sheet) {
  std::string tail = "</sheetData>";
  if (sheet.frozenHeader && sheet.rows > 0) {
    tail += "<autoFilter ref=\"" + SheetRange(sheet, false) + "\"/>";
  }
  tail += "</worksheet>";
  return tail;
}

std::string SheetPartName(std::size_t index) {
  return "xl/worksheets/sheet" + std::to_string(index + 1) + ".xml";
}

// Whether the sheet is the one deflated straight into the workbook's file from now: the largest
// sheet where one is expected, otherwise the first whose XML with its pending XML reaches the
// size from which a sheet streams.
bool StartsStreaming(const WorkbookWriter& workbook, std::size_t index) {
  if (!workbook.fileBegun || workbook.streamedSheet != kNoStreamedSheet) return false;
  if (workbook.largestSheet != kNoStreamedSheet) return index == workbook.largestSheet;
  const WorkbookSheet& sheet = workbook.sheets[index];
  return sheet.xmlQueued + sheet.pending.size >= workbook.streamedSheetXml;
}

// Sends the rest of the sheet's deflated XML straight into the workbook's file.
void StreamSheet(WorkbookWriter& workbook, std::size_t index) {
  // The worker is done with the sheet's part before the part's bytes go into the file. A sheet
  // is moved once: after a failed write the part fails every later write.
  WaitForDeflates(*workbook.deflater);
  workbook.streamedSheet = index;
  MoveEntryIntoFile(workbook.sheets[index].part, workbook.file.file, SheetPartName(index));
}

// Hands the sheet's pending XML to its deflater.
void FlushSheetXml(WorkbookWriter& workbook, std::size_t index) {
  WorkbookSheet& sheet = workbook.sheets[index];
  if (StartsStreaming(workbook, index)) StreamSheet(workbook, index);
  sheet.xmlQueued += sheet.pending.size;
  QueueDeflate(*workbook.deflater, sheet.part, sheet.pending);
}

// Whether a text needs xml:space="preserve": spaces or line breaks at its edges would be
// dropped by readers that trim.
bool NeedsPreservedSpace(std::string_view text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  return !text.empty() && (isSpace(text.front()) || isSpace(text.back()));
}

char* Put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// A number's few bytes copied without a call: two copies of one size that overlap in the middle
// read and write only the text's own bytes.
char* PutNumber(char* out, std::string_view text) {
  const char* const in = text.data();
  const std::size_t size = text.size();
  if (size >= 8 && size <= 16) {
    std::memcpy(out, in, 8);
    std::memcpy(out + size - 8, in + size - 8, 8);
  } else if (size >= 4 && size < 8) {
    std::memcpy(out, in, 4);
    std::memcpy(out + size - 4, in + size - 4, 4);
  } else if (size < 4) {
    for (std::size_t index = 0; index < size; ++index)
      out[index] = in[index];
  } else {
    std::memcpy(out, in, size);
  }
  return out + size;
}

// Copies the whole buffer, of which the first `size` bytes count; `out` has room for all of it.
template <std::size_t kSize>
char* PutFixed(char* out, const std::array<char, kSize>& bytes, std::size_t size) {
  std::memcpy(out, bytes.data(), kSize);
  return out + size;
}

constexpr std::string_view kCellStart = "<c r=\"";
constexpr std::string_view kStyleStart = "\" s=\"";
constexpr std::string_view kNumberStart = "\"><v>";
constexpr std::string_view kNumberEnd = "</v></c>";
constexpr std::string_view kTextStart = "\" t=\"inlineStr\"><is><t>";
constexpr std::string_view kPreservedTextStart =
    "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">";
constexpr std::string_view kTextEnd = "</t></is></c>";
// A style's index is one digit.
static_assert(static_cast<std::size_t>(CellStyle::Removed) < 10);

// A row's number as its cells' references end.
using RowDigits = std::array<char, 16>;

// The most bytes WriteCell writes for the cell, its opening and row number copied whole.
std::size_t MostCellXml(const SheetCell& cell) {
  const std::size_t markup = std::tuple_size_v<decltype(CellOpening::bytes)> +
                             std::tuple_size_v<RowDigits> + kStyleStart.size() + 1 +
                             kPreservedTextStart.size() + kTextEnd.size();
  const std::size_t growth = cell.kind == SheetCellKind::Number ? 1 : kMostCellTextGrowth;
  return markup + growth * cell.value.size();
}

// Writes the cell's XML at `out`, which has room for MostCellXml; returns its end. Every cell
// names its place: the format lets a cell without a reference follow the one before, but
// Gnumeric reads such a cell as lying before column A and drops it.
char* WriteCell(char* out, const SheetCell& cell, const CellOpening& opening, const RowDigits& row,
                std::size_t rowSize) {
  out = PutFixed(out, opening.bytes, opening.size);
  out = PutFixed(out, row, rowSize);
  if (cell.style != CellStyle::General) {
    out = Put(out, kStyleStart);
    *out++ = static_cast<char>('0' + StyleIndex(cell.style));
  }
  if (cell.kind == SheetCellKind::Number) {
    out = Put(out, kNumberStart);
    out = PutNumber(out, cell.value);
    return Put(out, kNumberEnd);
  }
  // Two copies of known sizes: one of either size would be a slow copy of any size.
  if (NeedsPreservedSpace(cell.value)) {
    out = Put(out, kPreservedTextStart);
  } else {
    out = Put(out, kTextStart);
  }
  out = WriteCellText(cell.value, out);
  return Put(out, kTextEnd);
}

void AddPart(ZipWriter& zip, std::string_view name, std::string_view content) {
  BeginZipEntry(zip, name, kSmallPartDeflateLevel);
  AppendZipEntry(zip, content);
  EndZipEntry(zip);
}

std::string ContentTypes(const WorkbookWriter& workbook) {
  std::string types(kXmlDeclaration);
  types +=
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
  for (std::size_t sheet = 1; sheet <= workbook.sheets.size(); ++sheet) {
    types += "<Override PartName=\"/xl/worksheets/sheet";
    AppendNumber(types, sheet);
    types +=
        ".xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/"
        ">";
  }
  return types + "</Types>";
}

std::string PackageRelationships() {
  std::string relationships(kXmlDeclaration);
  relationships += "<Relationships xmlns=\"";
  relationships += kPackageRelationshipsNamespace;
  relationships +=
      "\"><Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  return relationships;
}

std::string WorkbookRelationships(const WorkbookWriter& workbook) {
  std::string relationships(kXmlDeclaration);
  relationships += "<Relationships xmlns=\"";
  relationships += kPackageRelationshipsNamespace;
  relationships += "\">";
  const std::size_t count = workbook.sheets.size();
  for (std::size_t sheet = 1; sheet <= count; ++sheet) {
    relationships += "<Relationship Id=\"rId";
    AppendNumber(relationships, sheet);
    relationships +=
        "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "worksheet\" Target=\"worksheets/sheet";
    AppendNumber(relationships, sheet);
    relationships += ".xml\"/>";
  }
  relationships += "<Relationship Id=\"rId";
  AppendNumber(relationships, count + 1);
  relationships +=
      "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
      "Target=\"styles.xml\"/></Relationships>";
  return relationships;
}

// A sheet's name as a formula refers to it: quoted, its quotes doubled.
std::string QuotedSheetName(std::string_view name) {
  std::string quoted = "'";
  for (char c : name) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

std::string WorkbookPart(const WorkbookWriter& workbook) {
  std::string part(kXmlDeclaration);
  part += "<workbook xmlns=\"";
  part += kMainNamespace;
  part += "\" xmlns:r=\"";
  part += kRelationshipsNamespace;
  part += "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>";
  for (std::size_t sheet = 0; sheet < workbook.sheets.size(); ++sheet) {
    part += "<sheet name=\"";
    AppendXmlAttributeText(part, workbook.sheets[sheet].name);
    part += "\" sheetId=\"";
    AppendNumber(part, sheet + 1);
    part += "\" r:id=\"rId";
    AppendNumber(part, sheet + 1);
    part += "\"/>";
  }
  part += "</sheets>";
  // The filters' ranges, as spreadsheets record them beside the sheets' own.
  std::string names;
  for (std::size_t sheet = 0; sheet < workbook.sheets.size(); ++sheet) {
    const WorkbookSheet& each = workbook.sheets[sheet];
    if (!each.frozenHeader || each.rows == 0) continue;
    names += "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"";
    AppendNumber(names, sheet);
    names += "\" hidden=\"1\">";
    AppendCellText(names, QuotedSheetName(each.name) + "!" + SheetRange(each, true));
    names += "</definedName>";
  }
  if (!names.empty()) part += "<definedNames>" + names + "</definedNames>";
  return part + "</workbook>";
}

std::string StylesPart() {
  std::string part(kXmlDeclaration);
  part += "<styleSheet xmlns=\"";
  part += kMainNamespace;
  part += "\">";
  part += kStyleSheet;
  return part + "</styleSheet>";
}

// A column's cell opening: at most 6 bytes and the 3 letters of the last column.
CellOpening CellOpeningOf(std::size_t column) {
  const std::string letters = ColumnLetters(column);
  CellOpening opening;
  char* const end = Put(Put(opening.bytes.data(), kCellStart), letters);
  opening.size = static_cast<std::size_t>(end - opening.bytes.data());
  return opening;
}

// The worker is done with the sheets' parts, and with the file, before they are released.
void ReleaseSheets(WorkbookWriter& workbook) {
  if (workbook.deflater != nullptr) StopDeflateThread(*workbook.deflater);
  for (WorkbookSheet& sheet : workbook.sheets)
    CloseEntryInMemory(sheet.part);
  workbook.sheets.clear();
  workbook.streamedSheet = kNoStreamedSheet;
}

}  // namespace

std::string ColumnLetters(std::size_t column) {
  std::string letters;
  std::size_t rest = column + 1;
  while (rest > 0) {
    const std::size_t digit = (rest - 1) % 26;
    letters.insert(letters.begin(), static_cast<char>('A' + digit));
    rest = (rest - 1) / 26;
  }
  return letters;
}

std::size_t AddSheet(WorkbookWriter& workbook, std::string name, std::vector<SheetColumn> columns,
                     bool headerRow) {
  if (workbook.deflater == nullptr) {
    workbook.deflater = std::make_unique<DeflateThread>();
    if (workbook.deflateApart) StartDeflateThread(*workbook.deflater);
  }
  // The sheets may move as one is added: the deflater must be done with their parts.
  WaitForDeflates(*workbook.deflater);
  WorkbookSheet& sheet = workbook.sheets.emplace_back();
  sheet.name = std::move(name);
  sheet.columns = std::move(columns);
  sheet.frozenHeader = headerRow;
  StartEntryInMemory(sheet.part);
  AppendRowText(sheet.pending, SheetHead(sheet));
  return workbook.sheets.size() - 1;
}

void AppendSheetRow(WorkbookWriter& workbook, std::size_t index, std::span<const SheetCell> cells) {
  WorkbookSheet& sheet = workbook.sheets[index];
  while (workbook.cellOpenings.size() < cells.size())
    workbook.cellOpenings.push_back(CellOpeningOf(workbook.cellOpenings.size()));
  ++sheet.rows;
  constexpr std::string_view kRowStart = "<row r=\"";
  constexpr std::string_view kRowEnd = "</row>";
  RowDigits row{};
  const auto rowSize = static_cast<std::size_t>(
      std::to_chars(row.data(), row.data() + row.size(), sheet.rows).ptr - row.data());
  RowBuilder& pending = sheet.pending;
  // Each piece is written in place into room made for its most bytes.
  char* out = RowSpace(pending, kRowStart.size() + row.size() + 2);
  out = Put(out, kRowStart);
  out = PutFixed(out, row, rowSize);
  out = Put(out, "\">");
  pending.size = static_cast<std::size_t>(out - pending.bytes.get());
  std::size_t widest = 0;
  for (std::size_t column = 0; column < cells.size(); ++column) {
    const SheetCell& cell = cells[column];
    if (cell.kind == SheetCellKind::Empty) continue;
    out = RowSpace(pending, MostCellXml(cell));
    out = WriteCell(out, cell, workbook.cellOpenings[column], row, rowSize);
    pending.size = static_cast<std::size_t>(out - pending.bytes.get());
    widest = column + 1;
  }
  AppendRowText(pending, kRowEnd);
  if (widest > sheet.widestRow) sheet.widestRow = widest;
  if (pending.size >= kPendingSheetXml) FlushSheetXml(workbook, index);
}

void WriteWorkbook(WorkbookWriter& workbook, PlatformFile file) {
  ZipWriter zip;
  try {
    for (std::size_t index = 0; index < workbook.sheets.size(); ++index) {
      AppendRowText(workbook.sheets[index].pending, SheetTail(workbook.sheets[index]));
      FlushSheetXml(workbook, index);
    }
    // A streamed sheet's last bytes go into the file before anything else does.
    if (workbook.deflater != nullptr) WaitForDeflates(*workbook.deflater);
    StartZip(zip, file, kSmallPartDeflateLevel);
    const std::size_t streamed = workbook.streamedSheet;
    if (streamed != kNoStreamedSheet) {
      WriteEntryInMemory(zip, SheetPartName(streamed), workbook.sheets[streamed].part);
    }
    AddPart(zip, "[Content_Types].xml", ContentTypes(workbook));
    AddPart(zip, "_rels/.rels", PackageRelationships());
    AddPart(zip, "xl/workbook.xml", WorkbookPart(workbook));
    AddPart(zip, "xl/_rels/workbook.xml.rels", WorkbookRelationships(workbook));
    AddPart(zip, "xl/styles.xml", StylesPart());
    for (std::size_t index = 0; index < workbook.sheets.size(); ++index) {
      if (index != streamed) {
        WriteEntryInMemory(zip, SheetPartName(index), workbook.sheets[index].part);
      }
    }
    FinishZip(zip);
  } catch (...) {
    CloseZipWriter(zip);
    throw;
  }
  CloseZipWriter(zip);
  ReleaseSheets(workbook);
}

void CloseWorkbookWriter(WorkbookWriter& workbook) {
  ReleaseSheets(workbook);
  if (workbook.fileBegun) DiscardReplacingFile(workbook.file);
  workbook.fileBegun = false;
}

void BeginWorkbookFile(WorkbookWriter& workbook, const std::string& target,
                       const std::string& model) {
  const int error = CreateReplacingFile(target, ".book-", PermissionsForReplacement(target, model),
                                        workbook.file);
  if (error != 0) RaiseIoFailure(error);
  workbook.fileBegun = true;
}

void WriteWorkbookFile(WorkbookWriter& workbook, const std::string& target,
                       const std::string& model) {
  if (!workbook.fileBegun) BeginWorkbookFile(workbook, target, model);
  try {
    WriteWorkbook(workbook, workbook.file.file);
    int error = SyncFile(workbook.file.file);
    if (error == 0) error = MoveReplacingFileOver(workbook.file);
    if (error != 0) RaiseIoFailure(error);
    workbook.fileBegun = false;
  } catch (...) {
    CloseWorkbookWriter(workbook);
    throw;
  }
}
