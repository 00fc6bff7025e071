// What a pack says: its plan, one item a line in a stable form other tools can read, and its
// summary for a person.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "pack_plan.h"

// The plan, one item a line, fields separated by tabs:
//   moved    TABLE SOURCE LINE ORIGINAL_LINE NAME
//   changed  TABLE SOURCE LINE ORIGINAL_LINE COLUMN OLD NEW NAME   (one line per changed cell)
//   added    TABLE SOURCE LINE TEMPLATE_LINE NAME
//   removed  TABLE SOURCE -    ORIGINAL_LINE NAME
//   conflict TABLE WINNER -    ORIGINAL_LINE COLUMN SOURCE VALUE SOURCE VALUE ...
// SOURCE is the number of the source (1 for the first), LINE the line of its table file,
// ORIGINAL_LINE the record's line in the table the unpacker writes from the original (header
// rows being line 1), TEMPLATE_LINE that of the record an added line is built on; COLUMN is the
// header's name, or what else changed in parentheses: "(field code 5)", "(the record's header)",
// "(the record)", whose OLD and NEW are bytes in hexadecimal; NAME is the record's name
// (RecordName) as the original has it, an added line's as its source has it; COLUMN, OLD, NEW
// and NAME are escaped (EscapedText). An added line that no record of the original stands under
// (a database source's record, added as it is) has "-" for TEMPLATE_LINE. A conflict gives the
// source whose value won, then each source's number and value, "(removed)" or "(changed)" for a
// record one source removed and another changed.
std::string PlanText(const PackRules& rules, const PackPlan& plan);

// A changed cell of a plan item as the plan shows it: the column's header name bare (a cell),
// or what else changed in parentheses ("(field code 5)", "(the record's header)",
// "(the record)"); its old and new texts, bytes in hexadecimal ("0A 1F"), a header by its kind
// and length form ("kind 2, short form"), a line as it is.
struct ShownChange {
  std::string column;
  std::string oldText;
  std::string newText;
};
ShownChange ShownChangeOf(const PackRules& rules, std::size_t table, const ChangedCell& cell);

// What a conflict is about, as messages name it: a column's header name in quotes (or its
// number), "field code 5", "the record's header", "the record".
std::string ConflictWhat(const PackRules& rules, const TableConflict& conflict);

// A source's value (conflict.values[at]) as the plan shows it: a cell's text as it is, a field's
// bytes and a header as a changed cell shows them (ShownChangeOf).
std::string ConflictValueText(const TableConflict& conflict, std::size_t at);

// A conflict of sources for a person: "<table> line N (Fireball), column "Mana": source 1 "15",
// source 2 "20"; source 2 won", the record's name cut as messages cut cells (ShownText); "would
// win" where nothing is `packed` (--strict refuses it).
std::string ConflictText(const PackRules& rules, const TableConflict& conflict, bool packed = true);

// What the pack did (or, `dryRun`, would do) to each table, and the values rounded to be
// stored; with several sources, what each one changed and every conflict.
std::string Summary(std::string_view program, const PackRules& rules, const PackPlan& plan,
                    const std::vector<std::string>& sources, std::string_view target, bool dryRun);
