// Records rebuilt from edited lines.
#include "record_patch.h"

#include <algorithm>
#include <cstring>

#include "message_text.h"
#include "node_reader.h"
#include "node_writer.h"
#include "number_text.h"
#include "split_text.h"
#include "table_text.h"

namespace {

// A piece of a column: the part of one field's text that stands in it.
struct ColumnPart {
  std::size_t field;
  std::string_view text;
  bool afterComma;  // joined to the part before it by the field's comma lead
};

using ColumnParts = std::vector<std::vector<ColumnPart>>;

bool HasText(const FieldRule& rule) {
  return rule.decoder != Decoder::Skip && rule.decoder != Decoder::Discard;
}

// Which field's text stands in which column of the record's line.
ColumnParts PartsOfColumns(const StoredRecord& record) {
  ColumnParts columns(1);
  for (std::size_t index = 0; index < record.fields.size(); ++index) {
    const StoredField& field = record.fields[index];
    if (!HasText(field.rule)) continue;
    const std::string_view lead = LeadText(field.rule);
    if (lead == "\t") columns.emplace_back();
    const std::vector<std::string_view> pieces =
        SplitColumns(std::string_view(field.text).substr(lead.size()));
    columns.back().push_back({index, pieces.front(), lead == ","});
    for (std::size_t piece = 1; piece < pieces.size(); ++piece) {
      columns.push_back({{index, pieces[piece], false}});
    }
  }
  return columns;
}

bool IsNumberText(std::string_view text) {
  return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

// Splits a changed column shared by several fields at its commas: possible only when every part
// after the first came with a comma lead and no part holds a comma of its own.
bool SplitSharedColumn(const std::vector<ColumnPart>& parts, std::string_view cell,
                       std::vector<std::string_view>& pieces, std::string& why) {
  const bool separable = std::ranges::all_of(parts, [&](const ColumnPart& part) {
    return (&part == &parts.front() || part.afterComma) &&
           part.text.find(',') == std::string_view::npos;
  });
  if (!separable) {
    why = "stands where the texts of " + std::to_string(parts.size()) +
          " fields meet, which cannot be told apart once changed";
    return false;
  }
  pieces = SplitAt(cell, ",");
  if (pieces.size() == parts.size()) return true;
  why = "does not hold " + std::to_string(parts.size()) + " values separated by commas";
  if (pieces.size() == 1 && IsNumberText(cell)) {
    why += ": a spreadsheet read the column as one number; import it as text";
  }
  return false;
}

std::string_view PayloadOf(const StoredRecord& record, const StoredField& field) {
  return std::string_view(record.bytes).substr(field.offset + field.headerSize, field.payloadSize);
}

// How a cell of an edited line reads against its record: the text each part of its column
// (PartsOfColumns) takes from it, and whether that text still shows its field's stored value.
struct CellReading {
  std::vector<std::string_view> pieces;  // per part
  std::vector<bool> stored;              // per part
  std::string why;                       // why the cell cannot be read, when it cannot
};

// The text of the part's field with the part's piece of its column replaced by `piece`.
std::string FieldTextWith(const StoredField& field, const ColumnPart& part,
                          std::string_view piece) {
  const auto at = static_cast<std::size_t>(part.text.data() - field.text.data());
  std::string text = field.text.substr(0, at);
  text += piece;
  text.append(field.text, at + part.text.size());
  return text;
}

// Reads `cell` against the column `parts` of `record`, whose own text of the cell is
// `storedCell`: the record's own text stands for the texts it was made of, however its fields
// share it, and shows every stored value (the cheap reading); another text is split among the
// parts, each of which shows its stored value when its field's text with it does
// (ShowsStoredValue). False, with `why`, when the cell cannot be split among its parts.
bool ReadCell(const StoredRecord& record, const std::vector<ColumnPart>& parts,
              std::string_view storedCell, std::string_view cell, char decimalSeparator,
              CellReading& reading) {
  reading.pieces.clear();
  reading.why.clear();
  if (cell == storedCell) {
    for (const ColumnPart& part : parts)
      reading.pieces.push_back(part.text);
    reading.stored.assign(parts.size(), true);
    return true;
  }
  if (IsQuoted(cell) && !IsQuoted(storedCell)) {
    reading.why =
        "is wrapped in quotes that the table did not have: save the table without quoting";
  } else if (parts.empty()) {
    reading.why = "stands where the record has no field";
  } else if (parts.size() == 1) {
    reading.pieces.push_back(cell);
  } else {
    SplitSharedColumn(parts, cell, reading.pieces, reading.why);
  }
  if (!reading.why.empty()) return false;
  reading.stored.assign(parts.size(), false);
  for (std::size_t at = 0; at < parts.size(); ++at) {
    const StoredField& field = record.fields[parts[at].field];
    reading.stored[at] =
        ShowsStoredValue(field.rule, field.text, PayloadOf(record, field),
                         FieldTextWith(field, parts[at], reading.pieces[at]), decimalSeparator);
  }
  return true;
}

// Each field's text as the line gives it, from the columns of the line, and whether it still
// shows the field's stored value (every part of it does; a field without a text does).
bool FieldTextsOfLine(const StoredRecord& record, std::string_view line, char decimalSeparator,
                      std::vector<std::string>& texts, std::vector<bool>& stored,
                      std::vector<CellProblem>& problems) {
  const ColumnParts columns = PartsOfColumns(record);
  const std::vector<std::string_view> cells = SplitColumns(line);
  if (cells.size() != columns.size()) {
    problems.push_back({0,
                        {},
                        "has " + Plural(cells.size(), "column") +
                            "; the record it stands for has " + Plural(columns.size(), "column"),
                        true});
    return false;
  }
  std::vector<std::vector<std::string_view>> pieces(record.fields.size());
  stored.assign(record.fields.size(), true);
  const std::string original = StoredLine(record);
  const std::vector<std::string_view> originalCells = SplitColumns(original);
  CellReading reading;
  bool ok = true;
  for (std::size_t column = 0; column < columns.size(); ++column) {
    const std::vector<ColumnPart>& parts = columns[column];
    if (!ReadCell(record, parts, originalCells[column], cells[column], decimalSeparator, reading)) {
      problems.push_back({column, QuotedText(cells[column]), reading.why});
      ok = false;
      continue;
    }
    for (std::size_t part = 0; part < parts.size(); ++part) {
      pieces[parts[part].field].push_back(reading.pieces[part]);
      if (!reading.stored[part]) stored[parts[part].field] = false;
    }
  }
  texts.assign(record.fields.size(), {});
  for (std::size_t index = 0; index < record.fields.size(); ++index) {
    const FieldRule& rule = record.fields[index].rule;
    if (!HasText(rule)) continue;
    texts[index] = LeadText(rule);
    for (std::size_t piece = 0; piece < pieces[index].size(); ++piece) {
      if (piece > 0) texts[index] += '\t';
      texts[index] += pieces[index][piece];
    }
  }
  return ok;
}

// The first column of every field with a text.
std::vector<std::size_t> FirstColumns(const StoredRecord& record) {
  std::vector<std::size_t> first(record.fields.size(), 0);
  std::size_t column = 0;
  for (std::size_t index = 0; index < record.fields.size(); ++index) {
    const StoredField& field = record.fields[index];
    if (!HasText(field.rule)) continue;
    if (LeadText(field.rule) == "\t") ++column;
    first[index] = column;
    column += static_cast<std::size_t>(std::ranges::count(field.text, '\t')) -
              (LeadText(field.rule) == "\t" ? 1 : 0);
  }
  return first;
}

// The stored value of a number payload as the general number style writes it.
std::string StoredValueText(const FieldRule& rule, std::string_view payload) {
  char text[kNumberTextCapacity];
  std::uint8_t bytes[4] = {};  // a shorter payload's missing bytes read as 0
  if (!payload.empty()) {
    std::memcpy(bytes, payload.data(), std::min<std::size_t>(payload.size(), 4));
  }
  const std::uint32_t bits = LittleEndian32(bytes);
  switch (rule.decoder) {
    case Decoder::FloatPlain:
    case Decoder::FloatGeneral:
    case Decoder::ColourChannel:
      return {text, GeneralNumberText(std::bit_cast<float>(bits), '.', text)};
    case Decoder::ShopFlags:
      return "flags " + std::to_string(bits & 0x1F);
    default:
      return {text, IntegerText(static_cast<std::int32_t>(bits), text)};
  }
}

// Whether a list stored with the joiner "," has an element that is empty or begins or ends with
// a space (a list stored with ", " cannot: its elements are split at the space).
bool HasSpacedElement(const FieldRule& rule, std::string_view payload, std::string_view text) {
  if (rule.decoder != Decoder::TextOrList || rule.joiner != Joiner::Comma) return false;
  if (payload.empty() || payload.front() != '\x01') return false;
  const std::string_view value = text.substr(LeadText(rule).size());
  return std::ranges::any_of(SplitAt(value, ","), [](std::string_view element) {
    return element.empty() || element.front() == ' ' || element.back() == ' ';
  });
}

// The mirror case: whether a value stored with the joiner ", " holds a comma without a space
// after it, which stays inside an element ("Mage Guild,Tower of Winds" is one).
bool HasCommaInElement(const FieldRule& rule, std::string_view text) {
  if (rule.decoder != Decoder::TextOrList || rule.joiner != Joiner::CommaSpace) return false;
  const std::string_view value = text.substr(LeadText(rule).size());
  return std::ranges::any_of(SplitAt(value, ", "), [](std::string_view element) {
    return element.find(',') != std::string_view::npos;
  });
}

}  // namespace

std::string StoredLine(const StoredRecord& record) {
  std::string line;
  for (const StoredField& field : record.fields)
    line += field.text;
  return line;
}

std::vector<std::vector<std::size_t>> ColumnsOfFields(const StoredRecord& record) {
  const ColumnParts columns = PartsOfColumns(record);
  std::vector<std::vector<std::size_t>> fieldColumns(record.fields.size());
  for (std::size_t column = 0; column < columns.size(); ++column) {
    for (const ColumnPart& part : columns[column])
      fieldColumns[part.field].push_back(column);
  }
  return fieldColumns;
}

bool SameFields(const StoredRecord& a, const StoredRecord& b) {
  return std::ranges::equal(a.fields, b.fields, [](const StoredField& x, const StoredField& y) {
    return x.code == y.code;
  });
}

StoredRecord WithPartsOf(const StoredRecord& record, const StoredRecord& other,
                         const std::vector<std::size_t>& taken, bool takeHeader) {
  const StoredRecord& headerFrom = takeHeader ? other : record;
  StoredRecord result;
  result.headerSize = headerFrom.headerSize;
  result.bytes = headerFrom.bytes.substr(0, headerFrom.headerSize);
  for (std::size_t index = 0; index < record.fields.size(); ++index) {
    const bool fromOther = std::ranges::find(taken, index) != taken.end();
    const StoredRecord& owner = fromOther ? other : record;
    StoredField field = owner.fields[index];
    const std::string_view node =
        std::string_view(owner.bytes).substr(field.offset, field.headerSize + field.payloadSize);
    field.offset = result.bytes.size();
    result.bytes += node;
    result.fields.push_back(std::move(field));
  }
  // The header frames the payload it now has, in its own form where that fits.
  const std::size_t payload = result.bytes.size() - result.headerSize;
  const std::string header = NodeHeaderBytes(static_cast<std::uint8_t>(result.bytes.front()),
                                             payload, OwnLengthForm(result.headerSize));
  result.bytes.replace(0, result.headerSize, header);
  const auto shift =
      static_cast<std::ptrdiff_t>(header.size()) - static_cast<std::ptrdiff_t>(result.headerSize);
  result.headerSize = header.size();
  for (StoredField& field : result.fields)
    field.offset = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(field.offset) + shift);
  return result;
}

namespace {

// One field of the record being rebuilt, with the text its columns give it.
struct FieldToRebuild {
  const StoredRecord& record;
  const StoredField& field;
  std::string_view text;
  bool stored;  // the text still shows the stored value (ReadCell)
  std::size_t firstColumn;
  const std::vector<std::size_t>& columns;
};

std::string_view StoredNode(const FieldToRebuild& to) {
  return std::string_view(to.record.bytes)
      .substr(to.field.offset, to.field.headerSize + to.field.payloadSize);
}

// The field's node as stored, and its text as the record reads it.
void AppendStoredField(const FieldToRebuild& to, RebuiltRecord& rebuilt) {
  rebuilt.bytes += StoredNode(to);
  rebuilt.line += to.field.text;
}

// The field's node framed anew around its encoded payload, in its own length form where that
// fits; its columns count as changed when the node differs from the stored one.
void AppendEncodedField(const FieldToRebuild& to, const EncodedField& encoded,
                        RebuiltRecord& rebuilt) {
  const std::size_t nodeStart = rebuilt.bytes.size();
  rebuilt.bytes +=
      NodeHeaderBytes(to.field.code, encoded.payload.size(), OwnLengthForm(to.field.headerSize));
  rebuilt.bytes += encoded.payload;
  if (std::string_view(rebuilt.bytes).substr(nodeStart) != StoredNode(to)) {
    rebuilt.changed = true;
    rebuilt.changedColumns.insert(rebuilt.changedColumns.end(), to.columns.begin(),
                                  to.columns.end());
  }
  rebuilt.line += encoded.readBack;
}

// The notes a value stored anew earns: a list with an element that is empty or has spaces at
// its edges, a number rounded on its way to float32.
void NoteStoredValue(const FieldToRebuild& to, const EncodedField& encoded,
                     RebuiltRecord& rebuilt) {
  const FieldRule& rule = to.field.rule;
  const std::size_t lead = LeadText(rule).size();
  if (HasSpacedElement(rule, encoded.payload, to.text)) {
    rebuilt.spacedLists.push_back({to.firstColumn, std::string(to.text.substr(lead)), false});
  } else if (HasCommaInElement(rule, to.text)) {
    rebuilt.spacedLists.push_back({to.firstColumn, std::string(to.text.substr(lead)), true});
  }
  if (encoded.rounded) {
    rebuilt.rounded.push_back({to.firstColumn, std::string(to.text.substr(lead)),
                               StoredValueText(rule, encoded.payload),
                               encoded.readBack.substr(lead)});
  }
}

// Appends the field to the record being rebuilt: its stored node while its text still shows the
// stored value, otherwise its text encoded anew; false, with the problem, when the text cannot
// be stored. `fields`, when given, gets the field as the rebuilt record stores it.
bool RebuildField(const FieldToRebuild& to, bool neighbour, char decimalSeparator,
                  RebuiltRecord& rebuilt, std::vector<CellProblem>& problems,
                  std::vector<StoredField>* fields) {
  const FieldRule& rule = to.field.rule;
  const std::string_view payload = PayloadOf(to.record, to.field);
  const std::size_t nodeStart = rebuilt.bytes.size();
  const std::size_t textStart = rebuilt.line.size();
  std::size_t payloadSize = to.field.payloadSize;
  if (!HasText(rule) || to.stored) {
    AppendStoredField(to, rebuilt);
  } else {
    EncodedField encoded;
    FieldProblem problem;
    if (!EncodeField(rule, payload, neighbour, to.text, decimalSeparator, encoded, problem)) {
      problems.push_back({to.firstColumn + problem.column, QuotedText(problem.cell), problem.why});
      return false;
    }
    if (encoded.payload.size() > kLongestPayload) {
      problems.push_back({to.firstColumn, QuotedText(to.text), "is too long to be stored"});
      return false;
    }
    AppendEncodedField(to, encoded, rebuilt);
    NoteStoredValue(to, encoded, rebuilt);
    payloadSize = encoded.payload.size();
  }
  if (fields != nullptr) {
    StoredField& field = fields->emplace_back(to.field);
    field.offset = nodeStart;
    field.payloadSize = payloadSize;
    field.headerSize = rebuilt.bytes.size() - nodeStart - payloadSize;
    field.text = rebuilt.line.substr(textStart);
  }
  return true;
}

// Frames the rebuilt fields with the record's header, in its own length form where that fits;
// an unchanged record keeps its bytes. False when the payload is too long for any header.
bool FrameRebuiltRecord(const StoredRecord& record, RebuiltRecord& rebuilt,
                        std::vector<CellProblem>& problems) {
  std::vector<std::size_t>& columns = rebuilt.changedColumns;
  std::sort(columns.begin(), columns.end());
  columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
  const std::size_t payloadSize = rebuilt.bytes.size() - record.headerSize;
  if (payloadSize > kLongestPayload) {
    problems.push_back({0, {}, "makes a record too long to be stored", true});
    return false;
  }
  if (!rebuilt.changed) {
    rebuilt.bytes = record.bytes;
    return true;
  }
  const auto kind = static_cast<std::uint8_t>(record.bytes.front());
  rebuilt.bytes.replace(0, record.headerSize,
                        NodeHeaderBytes(kind, payloadSize, OwnLengthForm(record.headerSize)));
  return true;
}

}  // namespace

namespace {

// RebuildRecord, with the rebuilt record's fields (before its header is framed anew) when
// `fields` is given.
bool RebuildFields(const StoredRecord& record, std::string_view line, bool neighbour,
                   char decimalSeparator, RebuiltRecord& rebuilt,
                   std::vector<CellProblem>& problems, std::vector<StoredField>* fields) {
  rebuilt = RebuiltRecord{};
  std::vector<std::string> texts;
  std::vector<bool> stored;
  if (!FieldTextsOfLine(record, line, decimalSeparator, texts, stored, problems)) return false;
  const std::vector<std::size_t> firstColumns = FirstColumns(record);
  const std::vector<std::vector<std::size_t>> fieldColumns = ColumnsOfFields(record);
  // The record is built in place behind its old header, which is framed anew at the end: a long
  // text is then held once by the record rather than again by each step that frames it.
  rebuilt.bytes.reserve(record.bytes.size() + line.size() + 16);
  rebuilt.bytes.assign(record.bytes, 0, record.headerSize);
  rebuilt.line.reserve(line.size());
  bool ok = true;
  for (std::size_t index = 0; index < record.fields.size(); ++index) {
    const FieldToRebuild field{record,        record.fields[index], texts[index],
                               stored[index], firstColumns[index],  fieldColumns[index]};
    ok = RebuildField(field, neighbour, decimalSeparator, rebuilt, problems, fields) && ok;
  }
  return ok && FrameRebuiltRecord(record, rebuilt, problems);
}

}  // namespace

bool RebuildRecord(const StoredRecord& record, std::string_view line, bool neighbour,
                   char decimalSeparator, RebuiltRecord& rebuilt,
                   std::vector<CellProblem>& problems) {
  return RebuildFields(record, line, neighbour, decimalSeparator, rebuilt, problems, nullptr);
}

bool RebuildStoredRecord(const StoredRecord& record, std::string_view line, char decimalSeparator,
                         StoredRecord& rebuiltRecord) {
  RebuiltRecord rebuilt;
  std::vector<CellProblem> ignored;
  std::vector<StoredField> fields;
  if (!RebuildFields(record, line, false, decimalSeparator, rebuilt, ignored, &fields)) {
    return false;
  }
  // The header framed anew moves the fields by the change of its size.
  const std::size_t builtSize =
      fields.empty() ? record.headerSize
                     : fields.back().offset + fields.back().headerSize + fields.back().payloadSize;
  const std::size_t headerSize = record.headerSize + rebuilt.bytes.size() - builtSize;
  for (StoredField& field : fields)
    field.offset = field.offset - record.headerSize + headerSize;
  rebuiltRecord.bytes = std::move(rebuilt.bytes);
  rebuiltRecord.headerSize = headerSize;
  rebuiltRecord.fields = std::move(fields);
  return true;
}

std::vector<bool> StoredValuesShown(const StoredRecord& record, std::string_view line,
                                    char decimalSeparator) {
  const ColumnParts columns = PartsOfColumns(record);
  const std::vector<std::string_view> cells = SplitColumns(line);
  if (cells.size() != columns.size()) return {};
  const std::string original = StoredLine(record);
  const std::vector<std::string_view> originalCells = SplitColumns(original);
  std::vector<bool> shown(cells.size());
  CellReading reading;
  for (std::size_t column = 0; column < cells.size(); ++column) {
    // The record's own text shows it (as ReadCell says), and most cells of a line are that.
    shown[column] = cells[column] == originalCells[column] ||
                    (ReadCell(record, columns[column], originalCells[column], cells[column],
                              decimalSeparator, reading) &&
                     std::ranges::all_of(reading.stored, [](bool stored) { return stored; }));
  }
  return shown;
}
