// Several sources of changes to one table combined three-way: each source was compared with the
// original on its own; a change made by one source is taken, changes to the same value are
// taken once, and where sources change a thing differently the later source wins and it is a
// conflict.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A thing of a record that a source may change: a cell of its line, the bytes of one of its
// fields (a database source), the record node's own header (a database source), or the record
// as a whole (a database source that stores it with other fields, or a line that has other
// columns than the record).
enum class UnitKind : std::uint8_t { Cell, Field, RecordHeader, WholeRecord };

struct ChangeUnit {
  UnitKind kind = UnitKind::Cell;
  std::size_t index = 0;  // the column of a cell, the field of a field

  friend bool operator==(const ChangeUnit&, const ChangeUnit&) = default;
  friend auto operator<=>(const ChangeUnit&, const ChangeUnit&) = default;
};

// A source's value for a unit: a cell's text, or the bytes of a field, header or record.
struct UnitChange {
  ChangeUnit unit;
  std::string value;
};

// What one source does to one record of the original: removes it, or changes some of its units
// (none: the record stays as it is).
struct RecordChange {
  std::size_t source = 0;
  std::uint32_t record = 0;
  bool removed = false;
  std::size_t sourceLine = 0;     // the source's table file line that stands for it (not removed)
  std::vector<UnitChange> units;  // in the order of their units
};

// A line a source adds.
struct AddedLine {
  std::size_t source = 0;
  std::size_t line = 0;  // in the source's table, from 0
  std::uint64_t hash = 0;
  // The original record the line follows in its source (the record of the nearest line above
  // it that stands for one), kNoPrecedingRecord at the table's top.
  std::uint32_t after = 0;
  // A database source's record: the hash of its bytes, which lines added alike must agree on;
  // 0 for a line of tables, which brings no bytes of its own.
  std::uint64_t bytesHash = 0;
};

inline constexpr std::uint32_t kNoPrecedingRecord = UINT32_MAX;

// Two or more sources that changed one unit of a record differently, or removed a record
// another changed.
struct Conflict {
  std::uint32_t record = 0;  // of the original; of an added line, its index in MergedTable::added
  ChangeUnit unit;           // WholeRecord for a removal against a change
  std::vector<std::size_t> sources;  // in load order
  std::vector<std::string> values;   // each source's value ("" for a removal)
  std::vector<bool> removals;        // whether the source's verdict is a removal
  std::size_t winner = 0;            // the source whose verdict or value was taken
  bool added = false;  // about lines that several sources added alike, with other bytes
};

// What the sources make of a record that one of them changed or removed: removed (by
// `removedBy`), or kept with the winning change of each unit (none: unchanged).
struct MergedRecord {
  std::uint32_t record = 0;
  bool removed = false;
  std::size_t removedBy = 0;
  std::vector<UnitChange> units;         // the winning values, in the order of their units
  std::vector<std::size_t> unitSources;  // the source whose value each is
  // Per unit: every source that gave it that value, in load order (the winner last).
  std::vector<std::vector<std::size_t>> alikeSources;
  // The line of each source that changed the record: source, line.
  std::vector<std::pair<std::size_t, std::size_t>> sourceLines;
};

inline constexpr std::uint32_t kNoVerdict = UINT32_MAX;

// A line of the merged table, in order: an original record, or an added line (added[index]).
struct MergedLine {
  std::uint32_t index = 0;
  bool added = false;
};

struct MergedTable {
  std::vector<MergedRecord> verdicts;    // of the records sources changed or removed, in order
  std::vector<std::uint32_t> verdictOf;  // per record: its verdict's index, or kNoVerdict
  std::vector<AddedLine> added;          // after removing lines several sources added alike
  std::vector<MergedLine> lines;         // the new table, in order (when asked for)
  std::vector<Conflict> conflicts;
};

// The sources' verdict on a record, null when no source changed or removed it.
inline const MergedRecord* VerdictOf(const MergedTable& table, std::uint32_t record) {
  const std::uint32_t verdict = table.verdictOf[record];
  return verdict == kNoVerdict ? nullptr : &table.verdicts[verdict];
}

// The line of the source that changed the record.
std::size_t SourceLineOf(const MergedRecord& record, std::size_t source);

// Combines the changes of several sources to a table of `recordCount` records: `changes` hold
// every source's change of every record it changed or removed, in any order; `added` every
// source's added lines, in the order of sources and lines. Per record and unit: a change made
// by one source is taken; several sources' changes to the same value are taken once; different
// values: the later source wins, a conflict. A record removed by one source and changed by
// another takes the later verdict, a conflict; changes of others to a record that stays are
// kept. Added lines: each added once (a line equal to one another source added goes where the
// later one put it), after the record it follows in its source, or the nearest one before it
// that stays; lines added alike whose database records differ in bytes are a conflict (on the
// record as a whole), the later source's taken. The original's records that stay keep their order.
// `sameValue(record, unit, value, winner)` tells whether a source's value of a unit stands for
// the winning one: the same text or bytes, or the same value written otherwise (a cell's "44.0"
// for "44" in a number column).
using SameUnitValue = std::function<bool(std::uint32_t record, const ChangeUnit& unit,
                                         const std::string& value, const std::string& winner)>;
// `orderLines`: also the merged table's order of lines (the original's).
MergedTable MergeTable(std::size_t recordCount, std::vector<RecordChange> changes,
                       std::vector<AddedLine> added, const SameUnitValue& sameValue,
                       bool orderLines);
