// The run both programs share: arguments, banner, output folder, database, tables, failures.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "console.h"
#include "node_reader.h"
#include "table_set.h"
#include "unpacker_format.h"

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

// The whole run of a format's unpacker, as above, and two more ways: leading options
// "--code-page N" choose the code page of a workbook's texts (kDefaultCodePage without; an
// unknown N ends the run with a line that lists the known ones, kExitFailure), and an output
// argument that ends in ".xlsx" (any case) and names no folder is a workbook: the format's
// tables as its sheets, with the sheet that records the database it was made from. The
// workbook is written to a file beside its place and moved there once complete; a table
// that a sheet cannot hold ends the run with one line (kExitFailure) and leaves nothing. A
// failed read of a damaged database still writes the rows read before it, then reports.
int RunUnpacker(std::span<const char* const> arguments, const UnpackerFormat& format,
                Console console = {});
