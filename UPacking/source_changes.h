// The first step of a pack's plan: what each source changes in a table. Each source's lines are
// paired with the original's records and compared with them, per record the changes of its
// line, and the sources' changes merged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "line_pairing.h"
#include "planning_state.h"
#include "table_merge.h"
#include "table_text.h"

// One source's table while it is planned: its lines and the records they stand for.
struct SourceTable {
  std::size_t number;
  PackSource* source;
  TableIndex* index;
  TablePairing pairing;
  LineReader lines;
};

// What the sources change in one table, each compared with the original on its own.
struct TableSources {
  std::size_t table = 0;
  std::vector<SourceTable> sources;  // in load order
  MergedTable merged;                // their changes merged (MergeTable)
  TableIndex originalLines;          // where the original's table file holds each record
  // The record RecordOf read last: the merge and the bytes step ask for one record several
  // times in a row. One only, as keeping every changed record costs more memory than the
  // packers may take.
  std::uint32_t lastRecord = kNoRecord;
  StoredRecord lastRecordRead;
};

// The changes that the sources (whose lines `indexes[source][table]` finds) make to the table,
// and each source's count of them in the plan (PackPlan::sourceChanges). Problems of the sources'
// lines (blank lines at the end) are noted. A source's table that cannot be read again raises
// PackFailure.
TableSources ChangesOfSources(PackPlanning& planning, std::size_t table,
                              std::vector<std::vector<TableIndex>>& indexes);

// A record of the original as its unpacker reads it, read again unless it was the last one asked
// for; valid until the next call.
const StoredRecord& RecordOf(OriginalTables& original, TableSources& table, std::uint32_t record);

// A source's line; a failure to read the table again names it (PackFailure).
std::string_view ReadSourceLine(SourceTable& from, std::size_t line);
// The same through a reader of the source's lines other than its own.
std::string_view ReadSourceLine(const SourceTable& from, LineReader& lines, std::size_t line);

// The record a database source's line stands for, as that source stores it.
StoredRecord ReadSourceRecord(const PackPlanning& planning, const TableSources& table,
                              std::size_t source, std::size_t line);

// "<table> line N" of a source's line, the source named first when there are several.
std::string WhereInSource(const PackPlanning& planning, const TableSources& table,
                          std::size_t source, std::size_t line);
