// The change workbook: what a pack's plan does, record by record, as sheets for a person to look
// at (changed cells beside the original's, added and removed records marked, the conflicts as a
// grid of who set what, each source's counts).
#pragma once

#include <string>
#include <vector>

#include "code_page.h"
#include "pack_plan.h"
#include "workbook_writer.h"

// What a change workbook shows besides the plan.
struct ChangeWorkbookInput {
  const PackRules* rules = nullptr;
  std::vector<std::string> sources;    // as the summary names them, in load order
  const CodePage* codePage = nullptr;  // of the game's texts
  char decimalSeparator = '.';         // of the tables' numbers
};

// The header of a table sheet's first columns, before the table's own.
inline constexpr std::string_view kChangeColumns[] = {"Change", "Line", "Name", "Source"};
// What a column beside a changed column is called after it: "Mana (original)".
inline constexpr std::string_view kOriginalSuffix = " (original)";
// The column after the table's of what else changed: a field, a record's header, a whole record.
inline constexpr std::string_view kOtherChangesColumn = "Other changes";
inline constexpr std::string_view kConflictsSheet = "Conflicts";
inline constexpr std::string_view kSourcesSheet = "Sources";

// Adds the change workbook's sheets for `plan` (made with its items): a sheet per table that has
// changed, added or removed records, one row per record in the original's order (Change, Line,
// Name, Source with several sources, then the table's columns, a column "<name> (original)" beside
// each that a record changed, and "Other changes" where bytes no column shows changed); then
// "Conflicts" and "Sources". Texts are turned from the code page into UTF-8, cells of number
// columns that read as numbers are numbers. Rows and cells beyond a sheet's limits are left out,
// said in a last row. Allocates; raises nothing else.
void AddChangeSheets(WorkbookWriter& workbook, const ChangeWorkbookInput& input,
                     const PackPlan& plan);

// Writes the change workbook to `path` as every file that matters is written: a temporary file
// beside it with `model`'s permissions (PermissionsForReplacement), synced and moved over it. A
// failure raises IoFailure (or ZipFailure) and leaves `path` as it was.
void WriteChangeWorkbook(const std::string& path, const std::string& model,
                         const ChangeWorkbookInput& input, const PackPlan& plan);
