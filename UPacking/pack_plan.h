// The plan of a pack: the original is the base and the edited tables are the changes. Each line
// is paired with the record it stands for, and kept, moved, changed, added and removed records
// become edits of the original's bytes; everything the tables do not show, or show unchanged,
// is kept byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "duplicate_names.h"
#include "node_reader.h"
#include "original_layout.h"
#include "pack_sources.h"
#include "record_patch.h"
#include "stored_tree.h"
#include "table_merge.h"
#include "table_text.h"

// What became of one table's records.
struct TableChanges {
  std::size_t kept = 0;  // bytes unchanged, moved ones included
  std::size_t moved = 0;
  std::size_t changed = 0;
  std::size_t changedMoved = 0;  // changed lines paired with a record away from their place
  std::size_t added = 0;
  std::size_t removed = 0;
};

// A value stored otherwise than its cell says.
struct RoundedValue {
  std::size_t table = 0;
  std::size_t line = 0;  // in the table file, its header row being line 1
  RoundedCell cell;
};

// A list stored with an element that is empty or begins or ends with a space.
struct SpacedListValue {
  std::size_t table = 0;
  std::size_t line = 0;
  SpacedListCell cell;
};

// What one source did to one table, each compared with the original on its own.
struct SourceChanges {
  std::size_t changed = 0;
  std::size_t added = 0;
  std::size_t removed = 0;
};

// A conflict of sources, with where it is. Its values are as the merge has them (a field's
// bytes, a header's kind and size); pack_report shows them.
struct TableConflict {
  std::size_t table = 0;
  std::size_t originalLine = 0;  // 0 for lines several sources added alike
  std::size_t line = 0;          // of those, the winner's line in its table file
  std::uint8_t fieldCode = 0;    // a conflict about a field's bytes: the field's code
  std::string name;              // the record's (RecordName): the original's, or the added line's
  Conflict conflict;
};

// One item of the plan: a line or a record that does not simply stay where it was.
enum class PlanAction : std::uint8_t { Moved, Changed, Added, Removed };

struct PlanItem {
  PlanAction action = PlanAction::Moved;
  std::uint16_t table = 0;
  std::uint16_t source = 0;        // the source (from 0) whose line or verdict it is
  std::uint32_t line = 0;          // in the source's table file (0 for a removed record)
  std::uint32_t originalLine = 0;  // of the record in the original's table; an added line's
                                   // template (0: none)
  std::uint32_t cell = 0;          // a changed cell: PackPlan::changedCells[cell]
  std::uint32_t record = 0;        // its name and line: PackPlan::records[record]
};

// The record of plan items: its name (RecordName) as the original has it, an added line's as
// its source has it; and its line in the new table (a changed or added record) or in the
// original's (a removed one); a moved record's line is not kept.
struct PlanRecord {
  std::string name;
  std::string line;
};

// A changed unit of a plan item, as the merge has it; pack_report shows it (ShownChangeOf).
struct ChangedCell {
  ChangeUnit unit;             // a cell (its column, from 0), a field, the header, the record
  std::uint8_t fieldCode = 0;  // a field's code
  bool storedRecord = false;   // the record as a whole as a database source stores it, not a line
  // In the original, then as the source gives it: a cell's text; a field's bytes, header
  // included; the record header's kind byte and size; the record's bytes, or its line.
  std::string oldValue;
  std::string newValue;
};

inline constexpr std::uint32_t kNoInsertion = UINT32_MAX;

// A piece of the original copied elsewhere: a moved record.
struct CopiedPiece {
  std::int64_t offset = 0;
  std::uint32_t size = 0;
};

// A change to the original's bytes: the `removed` bytes at `at` give way to the bytes of
// PackPlan::insertions[inserted] (if any), then to the original's pieces
// PackPlan::copies[firstCopy, firstCopy + copies) (moved records), `copiedSize` bytes in all.
struct ByteEdit {
  std::int64_t at = 0;
  std::int64_t removed = 0;
  std::int64_t copiedSize = 0;
  std::uint32_t inserted = kNoInsertion;
  std::uint32_t firstCopy = 0;
  std::uint32_t copies = 0;
};

// The new database as edits of the original, and what its tables must read as.
struct PackPlan {
  std::vector<ByteEdit> edits;  // in the order of their offsets
  std::vector<std::string> insertions;
  std::vector<CopiedPiece> copies;
  std::int64_t newSize = 0;
  // Where the new database's bytes differ from the original's, a byte wider on each side (a
  // removal is a place between bytes), in the new database's offsets: the nodes to look into
  // when checking it.
  std::vector<ByteRange> changed;
  std::vector<std::vector<std::uint64_t>> lineHashes;     // per table, every line's LineHash
  std::vector<TableChanges> changes;                      // per table
  std::vector<std::vector<SourceChanges>> sourceChanges;  // per table, per source
  std::vector<RoundedValue> rounded;
  std::vector<SpacedListValue> spacedLists;
  std::vector<PlanItem> items;  // per table, in the order of the new table's lines, then removals
  std::vector<ChangedCell> changedCells;
  std::vector<PlanRecord> records;
  std::vector<TableConflict> conflicts;
  std::vector<DuplicateName> duplicateNames;  // per table, per naming column
  // Database sources (from 0) whose parts no table shows are not the original's: not taken.
  std::vector<std::size_t> otherHiddenParts;
};

// The bytes an edit inserts before any it copies.
inline std::string_view InsertedBytes(const PackPlan& plan, const ByteEdit& edit) {
  return edit.inserted == kNoInsertion ? std::string_view() : plan.insertions[edit.inserted];
}

// All the bytes an edit writes in place of those it removes.
inline std::int64_t WrittenSize(const PackPlan& plan, const ByteEdit& edit) {
  return static_cast<std::int64_t>(InsertedBytes(plan, edit).size()) + edit.copiedSize;
}

// A record's name, by which people know it: its line's first cell (every table's first column
// names its records), empty for an empty first cell.
std::string_view RecordName(std::string_view line);

// The file name of the table with the given index.
std::string TableName(const PackRules& rules, std::size_t table);

// A column of the table as problems and summaries name it: its header name in quotes, or its
// number (from 1) beyond the header.
std::string ColumnName(const TableSpec& table, std::size_t column);

// A column of the table as the plan lists it: its header name bare, or its number (from 1)
// beyond the header.
std::string BareColumnName(const TableSpec& table, std::size_t column);

// Plans the new database: the original must be sound by its stored lengths and readable by the
// unpacker's walk; `sources` are compared with it one by one, and their changes combined
// (MergeTable). One source gives its tables' order; several keep the original's. The plan's
// items are kept only `withItems` (they are for a person to read, and a sorted table makes one
// for every line). Raises PackFailure with every problem found (damage, a changed header row,
// cells that cannot be stored, changes to records read off their stored lengths...). File
// failures raise IoFailure.
PackPlan PlanPack(NodeReader& original, const PackRules& rules, char decimalSeparator,
                  std::vector<PackSource>& sources, bool withItems);
