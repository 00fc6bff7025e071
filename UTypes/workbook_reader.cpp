// Reading a workbook's parts: relationships, sheets, shared strings, styles and cells.
#include "workbook_reader.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <utility>

#include "sheet_row_thread.h"
#include "xml_reader.h"
#include "xml_text.h"
#include "zip_read_ahead.h"

namespace {

// The most bytes one text of a part may take: a cell's 32,767 characters, each written as an
// escape at worst, with room to spare.
constexpr std::size_t kMostTextBytes = std::size_t{1} << 20;
constexpr std::uint32_t kMostRows = 1048576;
constexpr std::size_t kMostColumns = 16384;
// Sheets from this size on are inflated on a worker while their cells are read: below it, the
// thread would cost more than it saves.
constexpr std::uint64_t kLeastReadAheadBytes = std::uint64_t{1} << 20;

constexpr std::string_view kStrictNamespace = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kStrictRelationships = "http://purl.oclc.org/ooxml/officeDocument/";

[[noreturn]] void Fail(std::string message) {
  throw WorkbookFailure{std::move(message)};
}

// An entry's bytes streamed into an XML reader.
struct PartStream {
  ZipReadAhead entry;
  XmlReader xml;
};

const ZipEntry& RequireEntry(const WorkbookFile& workbook, std::string_view part) {
  const ZipEntry* entry = FindZipEntry(workbook.archive, part);
  if (entry == nullptr) Fail("is not a workbook: it has no part '" + std::string(part) + "'");
  return *entry;
}

void OpenPart(const WorkbookFile& workbook, const ZipEntry& entry, bool readAhead,
              PartStream& stream) {
  OpenReadAhead(workbook.archive, entry, readAhead, stream.entry);
  ZipReadAhead* reader = &stream.entry;
  StartXml(
      stream.xml,
      [reader](char* destination, std::size_t capacity) {
        return ReadAhead(*reader, destination, capacity);
      },
      kMostTextBytes);
}

// Runs `read` over a part, turning the container's and the XML's failures into the workbook's;
// a large part is inflated ahead on a worker when `readAhead` allows it.
template <typename Read>
void ReadPartAhead(const WorkbookFile& workbook, std::string_view part, bool readAhead, Read read) {
  PartStream stream;
  try {
    const ZipEntry& entry = RequireEntry(workbook, part);
    OpenPart(workbook, entry, readAhead && entry.size >= kLeastReadAheadBytes, stream);
    read(stream.xml);
  } catch (const ZipFailure& failure) {
    Fail(failure.message);
  } catch (const XmlFailure& failure) {
    Fail("is damaged: its part '" + std::string(part) + "' " + failure.message);
  }
}

// Runs `read` over a part on this thread alone, as ReadPartAhead.
template <typename Read>
void ReadPart(const WorkbookFile& workbook, std::string_view part, Read read) {
  ReadPartAhead(workbook, part, false, read);
}

// The folder of a part, "xl/" for "xl/workbook.xml".
std::string FolderOfPart(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// A relationship's target as a part name: absolute ("/xl/a.xml") or relative to `folder`,
// with "." and ".." resolved.
std::string ResolvePart(const std::string& folder, std::string_view target) {
  std::string joined =
      target.starts_with('/') ? std::string(target.substr(1)) : folder + std::string(target);
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= joined.size()) {
    const std::size_t end = std::min(joined.find('/', start), joined.size());
    const std::string piece = joined.substr(start, end - start);
    if (piece == "..") {
      if (!pieces.empty()) pieces.pop_back();
    } else if (!piece.empty() && piece != ".") {
      pieces.push_back(piece);
    }
    start = end + 1;
  }
  std::string resolved;
  for (const std::string& piece : pieces)
    resolved += (resolved.empty() ? "" : "/") + piece;
  return resolved;
}

struct Relationship {
  std::string type;
  std::string target;
};

// The relationships of `part`, by their ids; none when it has no relationships part.
std::map<std::string, Relationship> ReadRelationships(const WorkbookFile& workbook,
                                                      std::string_view part) {
  const std::string folder = FolderOfPart(part);
  const std::string name = folder + "_rels/" + std::string(part.substr(folder.size())) + ".rels";
  std::map<std::string, Relationship> relationships;
  if (FindZipEntry(workbook.archive, name) == nullptr) return relationships;
  ReadPart(workbook, name, [&](XmlReader& xml) {
    for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
      if (event != XmlEvent::StartElement || LocalName(XmlName(xml)) != "Relationship") continue;
      const std::string_view* id = XmlAttributeValue(xml, "Id");
      const std::string_view* type = XmlAttributeValue(xml, "Type");
      const std::string_view* target = XmlAttributeValue(xml, "Target");
      const std::string_view* mode = XmlAttributeValue(xml, "TargetMode");
      if (id == nullptr || type == nullptr || target == nullptr) continue;
      if (mode != nullptr && *mode == "External") continue;
      relationships[std::string(*id)] = {std::string(*type), ResolvePart(folder, *target)};
    }
  });
  return relationships;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The target of the first relationship whose type ends in `typeEnd` ("/styles"), or empty.
std::string TargetOfType(const std::map<std::string, Relationship>& relationships,
                         std::string_view typeEnd) {
  for (const auto& [id, relationship] : relationships) {
    if (EndsWith(relationship.type, typeEnd)) return relationship.target;
  }
  return {};
}

// The workbook part, from the package's relationships; strict conformance is refused.
std::string WorkbookPartName(const WorkbookFile& workbook) {
  const auto relationships = ReadRelationships(workbook, "");
  for (const auto& [id, relationship] : relationships) {
    if (relationship.type.starts_with(kStrictRelationships)) {
      Fail(
          "is a workbook in strict conformance, which this packer does not read: save it as "
          "an ordinary .xlsx workbook");
    }
  }
  const std::string part = TargetOfType(relationships, "/officeDocument");
  if (part.empty()) Fail("is not a workbook: it names no workbook part");
  return part;
}

// A text element's characters with the cell escapes undone, appended to `out`; the reader is
// after the element's StartElement and ends after its EndElement.
void AppendElementText(XmlReader& xml, std::string& out) {
  const std::size_t depth = XmlDepth(xml);
  for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
    if (event == XmlEvent::Text) AppendUnescapedCellText(out, XmlText(xml));
    if (event == XmlEvent::StartElement) SkipXmlElement(xml);
    if (event == XmlEvent::EndElement && XmlDepth(xml) < depth) return;
  }
}

// A string item (<si>, <is>): its own text or its rich-text runs joined; phonetic runs
// (<rPh>) and their properties are skipped. The reader is after the item's StartElement and
// ends after its EndElement.
void ReadStringItem(XmlReader& xml, std::string& out) {
  const std::size_t depth = XmlDepth(xml);
  for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
    if (event == XmlEvent::EndElement && XmlDepth(xml) < depth) return;
    if (event != XmlEvent::StartElement) continue;
    const std::string_view name = LocalName(XmlName(xml));
    if (name == "t") {
      AppendElementText(xml, out);
    } else if (name == "rPh" || name == "phoneticPr") {
      SkipXmlElement(xml);
    }
  }
}

void ReadSharedStrings(WorkbookFile& workbook, const std::string& part) {
  ReadPart(workbook, part, [&](XmlReader& xml) {
    for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
      if (event != XmlEvent::StartElement || LocalName(XmlName(xml)) != "si") continue;
      ReadStringItem(xml, workbook.sharedStrings.emplace_back());
    }
  });
}

// Whether a number format's code shows a date or a time: a d, m, y, h or s outside quoted text,
// escaped characters and bracketed colours or conditions ([h], [mm] and [ss] are times).
bool FormatShowsDate(std::string_view code) {
  bool quoted = false;
  for (std::size_t index = 0; index < code.size(); ++index) {
    const char c = code[index];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++index;
    } else if (c == '[') {
      const std::size_t end = code.find(']', index);
      if (end == std::string_view::npos) return false;
      const std::string_view inside = code.substr(index + 1, end - index - 1);
      const char first = inside.empty() ? '\0' : static_cast<char>(inside[0] | 0x20);
      if (first == 'h' || first == 'm' || first == 's') {
        if (inside.find_first_not_of("hHmMsS") == std::string_view::npos) return true;
      }
      index = end;
    } else {
      const char lower = static_cast<char>(c | 0x20);
      if (lower == 'd' || lower == 'm' || lower == 'y' || lower == 'h' || lower == 's') {
        return true;
      }
    }
  }
  return false;
}

// The built-in number formats that show dates or times.
bool BuiltInFormatShowsDate(long id) {
  return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
         (id >= 50 && id <= 58);
}

long NumberOf(const std::string_view* text) {
  if (text == nullptr) return -1;
  long value = -1;
  std::from_chars(text->data(), text->data() + text->size(), value);
  return value;
}

void ReadStyles(WorkbookFile& workbook, const std::string& part) {
  std::map<long, bool> customFormats;
  ReadPart(workbook, part, [&](XmlReader& xml) {
    bool inCellFormats = false;
    for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
      if (event == XmlEvent::EndElement && LocalName(XmlName(xml)) == "cellXfs") {
        inCellFormats = false;
      }
      if (event != XmlEvent::StartElement) continue;
      const std::string_view name = LocalName(XmlName(xml));
      if (name == "numFmt") {
        const std::string_view* code = XmlAttributeValue(xml, "formatCode");
        customFormats[NumberOf(XmlAttributeValue(xml, "numFmtId"))] =
            code != nullptr && FormatShowsDate(*code);
      } else if (name == "cellXfs") {
        inCellFormats = true;
      } else if (name == "xf" && inCellFormats) {
        const long id = NumberOf(XmlAttributeValue(xml, "numFmtId"));
        const auto custom = customFormats.find(id);
        workbook.dateStyles.push_back(custom != customFormats.end() ? custom->second
                                                                    : BuiltInFormatShowsDate(id));
      }
    }
  });
}

void ReadWorkbookPart(WorkbookFile& workbook, const std::string& part) {
  const auto relationships = ReadRelationships(workbook, part);
  ReadPart(workbook, part, [&](XmlReader& xml) {
    for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
      if (event != XmlEvent::StartElement) continue;
      const std::string_view name = LocalName(XmlName(xml));
      if (name == "workbook") {
        for (const XmlAttribute& attribute : XmlAttributes(xml)) {
          if (attribute.value == kStrictNamespace) {
            Fail(
                "is a workbook in strict conformance, which this packer does not read: save "
                "it as an ordinary .xlsx workbook");
          }
        }
      } else if (name == "sheet") {
        const std::string_view* sheetName = XmlAttributeValue(xml, "name");
        const std::string_view* id = XmlAttributeValue(xml, "id");
        if (sheetName == nullptr || id == nullptr) continue;
        const auto found = relationships.find(std::string(*id));
        if (found == relationships.end() || !EndsWith(found->second.type, "/worksheet")) continue;
        workbook.sheets.push_back({std::string(*sheetName), found->second.target});
      }
    }
  });
  const std::string strings = TargetOfType(relationships, "/sharedStrings");
  if (!strings.empty()) ReadSharedStrings(workbook, strings);
  const std::string styles = TargetOfType(relationships, "/styles");
  if (!styles.empty()) ReadStyles(workbook, styles);
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameSheetName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

// A cell's t attribute: its kinds of saved value.
enum class CellType : std::uint8_t {
  Number,
  SharedString,
  InlineString,
  FormulaString,
  Boolean,
  Error,
  Date
};

// The type a t attribute names: a number when it is absent or names no other.
CellType CellTypeOf(const std::string_view* type) {
  if (type == nullptr) return CellType::Number;
  constexpr std::pair<std::string_view, CellType> kTypes[] = {
      {"s", CellType::SharedString},    {"inlineStr", CellType::InlineString},
      {"str", CellType::FormulaString}, {"b", CellType::Boolean},
      {"e", CellType::Error},           {"d", CellType::Date}};
  for (const auto& [name, cellType] : kTypes) {
    if (std::string_view(*type) == name) return cellType;
  }
  return CellType::Number;
}

// The attributes of a <c> element that place the cell and say what it holds; null when absent.
struct CellAttributes {
  const std::string_view* reference = nullptr;  // r
  const std::string_view* type = nullptr;       // t
  const std::string_view* style = nullptr;      // s
};

// A cell's attributes, found as XmlAttributeValue finds them, in one pass over them all.
CellAttributes ReadCellAttributes(const XmlReader& xml) {
  CellAttributes found;
  for (const XmlAttribute& attribute : XmlAttributes(xml)) {
    const std::string_view key = AttributeKey(attribute.name);
    if (key.size() != 1) continue;
    const std::string_view** slot = key[0] == 'r'   ? &found.reference
                                    : key[0] == 't' ? &found.type
                                    : key[0] == 's' ? &found.style
                                                    : nullptr;
    if (slot != nullptr && *slot == nullptr) *slot = &attribute.value;
  }
  return found;
}

// What a <c> element says of the cell being read into its slot.
struct CellInProgress {
  CellType type = CellType::Number;
  std::string valueText;
  bool hasValue = false;
  bool dateStyle = false;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view TrimmedSpaces(std::string_view text) {
  // Most values have no spaces at their ends: two bytes tell.
  if (text.empty() || (!IsSpace(text.front()) && !IsSpace(text.back()))) return text;
  const std::size_t first = text.find_first_not_of(" \t\n\r");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\n\r");
  return text.substr(first, last - first + 1);
}

// Replaces `text` by itself without the spaces at its ends, in place.
void TrimSpaces(std::string& text) {
  const std::string_view trimmed = TrimmedSpaces(text);
  if (trimmed.size() == text.size()) return;
  const auto first = static_cast<std::size_t>(trimmed.data() - text.data());
  text.erase(0, first);
  text.resize(trimmed.size());
}

// The cell's kind and value from its type and saved value. The saved value's buffer is traded
// with the cell's, so that both keep their capacity from cell to cell.
void FinishCell(const WorkbookFile& workbook, CellInProgress& progress, ReadCell& cell) {
  const CellType type = progress.type;
  if (type == CellType::InlineString) {
    cell.kind = ReadCellKind::Text;  // its value is the <is> item's text
    return;
  }
  cell.value.swap(progress.valueText);
  if (cell.formula && !progress.hasValue) cell.formulaValue = false;
  if (type == CellType::SharedString) {
    const std::string_view digits = TrimmedSpaces(cell.value);
    std::size_t index = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (error != std::errc{} || end != digits.data() + digits.size() ||
        index >= workbook.sharedStrings.size()) {
      Fail("is damaged: a cell names shared string '" + std::string(digits) +
           "', which it does not hold");
    }
    cell.kind = ReadCellKind::Text;
    cell.value = workbook.sharedStrings[index];
  } else if (type == CellType::FormulaString) {
    cell.kind = ReadCellKind::Text;
  } else if (type == CellType::Boolean) {
    cell.kind = ReadCellKind::Boolean;
  } else if (type == CellType::Error) {
    cell.kind = ReadCellKind::Error;
  } else if (type == CellType::Date) {
    cell.kind = ReadCellKind::Date;
  } else {
    cell.kind = progress.dateStyle ? ReadCellKind::Date : ReadCellKind::Number;
    TrimSpaces(cell.value);
  }
}

// Reads one <c> element into `cell`, a slot whose strings keep their capacity; the reader is
// after its StartElement and ends after its EndElement.
void ReadCellElement(const WorkbookFile& workbook, XmlReader& xml, const CellAttributes& attributes,
                     std::size_t column, CellInProgress& progress, ReadCell& cell) {
  cell.column = column;
  cell.kind = ReadCellKind::Text;
  cell.value.clear();
  cell.formula = false;
  cell.formulaValue = true;
  progress.type = CellTypeOf(attributes.type);
  const long style = NumberOf(attributes.style);
  progress.dateStyle = style >= 0 && static_cast<std::size_t>(style) < workbook.dateStyles.size() &&
                       workbook.dateStyles[static_cast<std::size_t>(style)];
  progress.valueText.clear();
  progress.hasValue = false;
  const std::size_t depth = XmlDepth(xml);
  for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
    if (event == XmlEvent::EndElement && XmlDepth(xml) < depth) break;
    if (event != XmlEvent::StartElement) continue;
    const std::string_view name = LocalName(XmlName(xml));
    if (name == "v") {
      progress.hasValue = true;
      AppendElementText(xml, progress.valueText);
    } else if (name == "f") {
      cell.formula = true;
      SkipXmlElement(xml);
    } else if (name == "is") {
      progress.hasValue = true;
      ReadStringItem(xml, cell.value);
    } else {
      SkipXmlElement(xml);
    }
  }
  FinishCell(workbook, progress, cell);
}

std::string RowText(std::uint32_t row) {
  return "row " + std::to_string(row);
}

}  // namespace

bool ReadCellReference(std::string_view reference, std::size_t& column, std::uint32_t& row) {
  std::size_t letters = 0;
  column = 0;
  while (letters < reference.size() && letters < 3 && reference[letters] >= 'A' &&
         reference[letters] <= 'Z') {
    column = column * 26 + static_cast<std::size_t>(reference[letters] - 'A' + 1);
    ++letters;
  }
  if (letters == 0 || column > kMostColumns) return false;
  --column;
  const std::string_view digits = reference.substr(letters);
  if (digits.empty() || digits[0] == '0') return false;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), row);
  return error == std::errc{} && end == digits.data() + digits.size() && row <= kMostRows;
}

void OpenWorkbookFile(PlatformFile file, WorkbookFile& workbook) {
  if (IsCompoundFile(file)) {
    Fail(
        "is a binary or encrypted workbook, not an .xlsx workbook: save it as an .xlsx "
        "workbook without a password");
  }
  if (!LooksLikeZip(file)) Fail("is not a workbook (not a zip container)");
  try {
    ReadZipDirectory(file, workbook.archive);
  } catch (const ZipFailure& failure) {
    Fail(failure.message);
  }
  workbook.archive.file = file;
  ReadWorkbookPart(workbook, WorkbookPartName(workbook));
}

const WorkbookSheetEntry* FindSheet(const WorkbookFile& workbook, std::string_view name) {
  for (const WorkbookSheetEntry& sheet : workbook.sheets) {
    if (SameSheetName(sheet.name, name)) return &sheet;
  }
  return nullptr;
}

namespace {

// Gives `sink` each row of the sheet that holds a cell, as ReadSheetRows says.
void ReadRowsOfSheet(const WorkbookFile& workbook, const WorkbookSheetEntry& sheet,
                     const SheetRowHandler& sink) {
  std::vector<ReadCell> cells;
  CellInProgress progress;
  ReadPartAhead(workbook, sheet.part, true, [&](XmlReader& xml) {
    std::uint32_t rowNumber = 0;
    bool inSheetData = false;
    for (XmlEvent event = NextXml(xml); event != XmlEvent::End; event = NextXml(xml)) {
      if (event == XmlEvent::EndElement && LocalName(XmlName(xml)) == "sheetData") {
        inSheetData = false;
      }
      if (event != XmlEvent::StartElement) continue;
      const std::string_view name = LocalName(XmlName(xml));
      if (name == "sheetData") {
        inSheetData = true;
        continue;
      }
      if (!inSheetData || name != "row") continue;
      const std::string_view* reference = XmlAttributeValue(xml, "r");
      std::uint32_t number = rowNumber + 1;
      if (reference != nullptr) {
        const auto [end, error] =
            std::from_chars(reference->data(), reference->data() + reference->size(), number);
        if (error != std::errc{} || end != reference->data() + reference->size()) number = 0;
      }
      if (number <= rowNumber || number > kMostRows) {
        Fail("is damaged: its sheet '" + sheet.name + "' has a row out of order after " +
             RowText(rowNumber));
      }
      rowNumber = number;
      std::size_t used = 0;  // the cells of this row, in slots kept from row to row
      std::size_t nextColumn = 0;
      const std::size_t depth = XmlDepth(xml);
      for (XmlEvent inner = NextXml(xml); inner != XmlEvent::End; inner = NextXml(xml)) {
        if (inner == XmlEvent::EndElement && XmlDepth(xml) < depth) break;
        if (inner != XmlEvent::StartElement) continue;
        if (LocalName(XmlName(xml)) != "c") {
          SkipXmlElement(xml);
          continue;
        }
        const CellAttributes attributes = ReadCellAttributes(xml);
        const std::string_view* cellReference = attributes.reference;
        std::size_t column = nextColumn;
        std::uint32_t cellRow = rowNumber;
        if (cellReference != nullptr &&
            (!ReadCellReference(*cellReference, column, cellRow) || cellRow != rowNumber)) {
          Fail("is damaged: its sheet '" + sheet.name + "' has a cell '" +
               std::string(*cellReference) + "' in " + RowText(rowNumber));
        }
        if (column < nextColumn || column >= kMostColumns) {
          Fail("is damaged: its sheet '" + sheet.name + "' has cells out of order in " +
               RowText(rowNumber));
        }
        nextColumn = column + 1;
        if (used == cells.size()) cells.emplace_back();
        ReadCell& cell = cells[used];
        ReadCellElement(workbook, xml, attributes, column, progress, cell);
        // An empty text or a cell with a style alone shows nothing, as an empty cell.
        const bool empty = cell.value.empty() && cell.formulaValue;
        if (!empty) ++used;
      }
      if (used > 0) sink(rowNumber, std::span<const ReadCell>(cells.data(), used));
    }
  });
}

}  // namespace

void ReadSheetRows(const WorkbookFile& workbook, const WorkbookSheetEntry& sheet,
                   const SheetRowHandler& row) {
  const ZipEntry* entry = FindZipEntry(workbook.archive, sheet.part);
  if (entry == nullptr || entry->size < kLeastReadAheadBytes) {
    return ReadRowsOfSheet(workbook, sheet, row);
  }
  ReadRowsOnThread([&](const SheetRowHandler& sink) { ReadRowsOfSheet(workbook, sheet, sink); },
                   row);
}
