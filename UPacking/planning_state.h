// What the steps of planning a pack share: the original as its layout reads it, the sources,
// the problems found so far and the plan being built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "node_reader.h"
#include "original_layout.h"
#include "pack_plan.h"
#include "pack_sources.h"
#include "row_buffer.h"

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);
inline constexpr std::uint32_t kNoNewLine = UINT32_MAX;
inline constexpr std::uint16_t kNoSource = UINT16_MAX;

// The problems a plan has found, the first kMostProblems of them in the order found.
struct PlanProblems {
  std::vector<std::string> texts;
  std::size_t leftOut = 0;  // beyond the first ones, counted
};

// Notes a problem, or counts it once enough are noted.
void AddProblem(PlanProblems& problems, std::string text);

// Raises PackFailure with the problems noted and a line for those left out, if there are any.
void ThrowProblems(PlanProblems& problems);

// The original database with the layout its unpacker's walk reads, and what reading its
// records needs.
struct OriginalTables {
  NodeReader& reader;
  const PackRules& rules;
  char decimalSeparator;
  Layout layout;
  RowBuilder row;               // the buffer RecordLine writes a line in
  std::vector<int> utf8Tables;  // per table: -1 not yet known, else whether a line is in UTF-8
};

// Where the original stores a record of a table.
inline const RecordSpot& SpotOf(const OriginalTables& original, std::size_t table,
                                std::size_t record) {
  return original.layout.tables[table].spots[record];
}

// A record of the original as its unpacker reads it.
StoredRecord ReadOriginalRecord(OriginalTables& original, std::size_t table, std::size_t record);

// The line of a record of the original, as the unpacker writes it; it lives until the next
// line is read.
std::string_view OriginalRecordLine(OriginalTables& original, std::size_t table,
                                    std::size_t record);

// Whether a line of the table, as the original's unpacker writes it, is in UTF-8 (asked once a
// table).
bool TableHasUtf8(OriginalTables& original, std::size_t table);

// What every step of a pack's plan reads and adds to.
struct PackPlanning {
  OriginalTables original;
  std::vector<PackSource>& sources;
  // Several sources: messages name the source of a line, and the new table keeps the original's
  // order of records with the sources' added lines among them; one source gives its own order.
  bool severalSources = false;
  bool withItems = true;  // whether the plan lists its items (PlanPack)
  PlanProblems problems;
  PackPlan plan;
};

// What names a source in a message about one of its lines: its path and ": " when there are
// several sources, else nothing.
std::string SourcePrefix(const PackPlanning& planning, std::size_t source);
