// The run both programs share: arguments, banner, output folder, database, tables, failures.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "console.h"
#include "node_reader.h"
#include "table_set.h"

// A program's walk over its open database; it writes rows to the tables and returns at the end
// of the walk. A failed file operation raises IoFailure, which the run reports.
using Walker = void (*)(NodeReader& reader, TableSet& tables, char decimalSeparator);

// The whole run of one program; `arguments` are the command line, program path first. Returns
// the exit status: kExitSuccess after a normal run or the banner; kExitFailure after "Error
// creating folder", "Error opening file", a failed file operation or a failed allocation (whose
// report it prints after saving every line already handed to a table). Everything it prints goes
// to the console's output, as bytes.
int RunUnpacker(std::span<const char* const> arguments, std::span<const std::string_view> banner,
                std::span<const TableSpec> tables, Walker walker, Console console = {});
