// The bytes of the new table's changed and added records: the sources' cells stored on a record
// of the original, with the fields and headers database sources changed, or a database source's
// record as it stores it; a line that cannot be stored is a problem.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "new_table.h"
#include "planning_state.h"
#include "record_patch.h"
#include "source_changes.h"

// Rebuilds `base` with the cells of `text`, which stands for the source's line; false, with
// its problems, when it cannot be stored. The values it rounds or stores as spaced lists are
// noted in the plan.
bool Rebuild(PackPlanning& planning, const TableSources& table, const StoredRecord& base,
             std::string_view text, bool neighbour, std::size_t source, std::size_t line,
             RebuiltRecord& rebuilt);

// The bytes of a record (the original's `record`) as the sources' winning changes make it, and
// the line it must read as; false, with the problems, when they cannot be stored. A database
// source's record as a whole comes as it is; otherwise the fields and header that database
// sources changed come as they store them, and the cells as the sources give them are stored on
// those.
bool MergedBytes(PackPlanning& planning, TableSources& table, const NewLine& line,
                 const MergedRecord& merged, const StoredRecord& record, std::string& bytes,
                 std::string& expected);
