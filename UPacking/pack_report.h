// What a pack says: its plan, one item a line in a stable form other tools can read, and its
// summary for a person.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "pack_plan.h"

// "1 byte", "2 bytes".
std::string Plural(std::size_t count, std::string_view noun);

// A cell as a plan item shows it: a backslash, tab, CR and LF written as \\, \t, \r and \n,
// every other byte as it is.
std::string EscapedCell(std::string_view cell);

// The plan, one item a line, fields separated by tabs:
//   moved    TABLE SOURCE LINE ORIGINAL_LINE
//   changed  TABLE SOURCE LINE ORIGINAL_LINE COLUMN OLD NEW   (one line per changed cell)
//   added    TABLE SOURCE LINE TEMPLATE_LINE
//   removed  TABLE SOURCE -    ORIGINAL_LINE
// SOURCE is the number of the source (1 for the first), LINE the line of its table file,
// ORIGINAL_LINE the record's line in the table the unpacker writes from the original (header
// rows being line 1), TEMPLATE_LINE that of the record an added line is built on; COLUMN is the
// header's name; COLUMN, OLD and NEW are escaped (EscapedCell).
std::string PlanText(const PackRules& rules, const PackPlan& plan);

// What the pack did (or, `dryRun`, would do) to each table, and the values rounded to be stored.
std::string Summary(std::string_view program, const PackRules& rules, const PackPlan& plan,
                    std::string_view target, bool dryRun);
