// A record rebuilt from an edited line: the columns each stored field produced, the line's cells
// mapped back onto those fields, and the record's bytes with the changed fields encoded anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "field_codec.h"

// A field of a stored record as the walk read it.
struct StoredField {
  std::size_t offset = 0;      // its header, from the record's first byte
  std::size_t headerSize = 0;  // 2 for the short length form, 5 for the long one
  std::size_t payloadSize = 0;
  std::uint8_t code = 0;
  FieldRule rule;
  std::string text;  // what its decoder appended, lead included, NUL bytes removed
};

// A stored record: its node's bytes (header included) and its fields in order.
struct StoredRecord {
  std::string bytes;
  std::size_t headerSize = 0;
  std::vector<StoredField> fields;
};

// The record's line: its fields' texts one after another.
std::string StoredLine(const StoredRecord& record);

// The columns of the record's line that each of its fields' text stands in (none for a field
// without a column).
std::vector<std::vector<std::size_t>> ColumnsOfFields(const StoredRecord& record);

// Whether two records are stored with the same fields, by code, in the same order.
bool SameFields(const StoredRecord& a, const StoredRecord& b);

// `record` with the fields `taken` (their indexes) of `other`, a record with the same fields
// (SameFields), and with `other`'s node header when `takeHeader`: bytes, forms and texts.
StoredRecord WithPartsOf(const StoredRecord& record, const StoredRecord& other,
                         const std::vector<std::size_t>& taken, bool takeHeader);

// A cell that could not be stored, with the column (from 0) it stands in.
struct CellProblem {
  std::size_t column = 0;
  std::string cell;  // quoted as messages quote it: a long cell is held by its start alone
  std::string why;
  bool wholeLine = false;  // about the line, not one cell: `column` and `cell` mean nothing
};

// A value stored otherwise than its cell says: it reads back as its own text.
struct RoundedCell {
  std::size_t column = 0;
  std::string cell;
  std::string stored;    // the stored value, as the general number style writes it
  std::string readBack;  // the cell as the unpacker now writes it
};

// A list stored with an element that is empty or begins or ends with a space: as written, but
// perhaps not as meant ("burn, area_up" in a table whose joiner is ",").
struct SpacedListCell {
  std::size_t column = 0;
  std::string cell;
  // Instead, in a table whose joiner is ", ": an element holds a comma without a space after it
  // ("Mage Guild,Tower of Winds", one element).
  bool commaInElement = false;
};

// A record made from an edited line.
struct RebuiltRecord {
  std::string bytes;  // the record node
  std::string line;   // how the unpacker reads it
  bool changed = false;
  std::vector<std::size_t> changedColumns;  // the columns of the fields stored anew, in order
  std::vector<RoundedCell> rounded;
  std::vector<SpacedListCell> spacedLists;
};

// Per column of `line` (an edited line of the record), whether its cell still shows the value
// the record stores there: the record's own text of the cell (the cheap reading), or a text
// from which every field whose text stands in the column reads its stored value again
// (ShowsStoredValue: "12.50" for 12.5, "3.0" for 3). Empty when the line has other columns than
// the record. The one rule by which an edited cell is told from an unchanged one; RebuildRecord
// keeps a field's bytes by it.
std::vector<bool> StoredValuesShown(const StoredRecord& record, std::string_view line,
                                    char decimalSeparator);

// Rebuilds `record` with the cells of `line`: each field owns the columns it produced (a text
// holding a tab owns two; colour channels share one column, split at its commas), fields whose
// columns still show their stored values (StoredValuesShown) keep their bytes, the others are
// encoded anew; fields without a
// column keep their bytes. `neighbour`: the record is the neighbour of a new line that
// resembles no record, and shop flags stored anew lose its hidden bits. Nodes whose length
// changes keep their length form where it fits. False, with the problems, when the line cannot
// be stored.
bool RebuildRecord(const StoredRecord& record, std::string_view line, bool neighbour,
                   char decimalSeparator, RebuiltRecord& rebuilt,
                   std::vector<CellProblem>& problems);

// The record that RebuildRecord makes of `line` (not as a neighbour), read as a stored record:
// the record against which the cells of another line are then read. False when the line cannot
// be stored.
bool RebuildStoredRecord(const StoredRecord& record, std::string_view line, char decimalSeparator,
                         StoredRecord& rebuilt);
