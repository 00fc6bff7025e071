// The run both programs share: arguments, banner, output folder, database, tables, failures.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "node_reader.h"
#include "table_set.h"

// Where the run's console text goes: standard output, or a string when a test captures it.
struct Console {
  std::string* capture = nullptr;
};

void WriteConsole(Console& console, std::string_view bytes);

// A program's walk over its open database; it writes rows to the tables and returns at the end
// of the walk. File failures end the run inside it (FailRun).
using Walker = void (*)(NodeReader& reader, TableSet& tables, char decimalSeparator);

// The whole run of one program; `arguments` are the command line, program path first. Returns
// the exit status: 0 after a normal run or the banner; 1 after "Error creating folder", "Error
// opening file", a failed file operation or a failed allocation (whose report it prints after
// saving every line already handed to a table).
int RunUnpacker(std::span<const char* const> arguments, std::span<const std::string_view> banner,
                std::span<const TableSpec> tables, Walker walker, Console console = {});

// The output prefix from the second argument: empty without one; otherwise the folder (created
// one level deep when missing) ending in the folder separator. False when the argument names
// neither an existing folder nor one that can be created.
bool ResolveOutputFolder(std::span<const std::string_view> arguments, std::string& outputPrefix);

// Opens the database named by `path`; false when it cannot be opened.
bool OpenDatabase(const char* path, NodeReader& reader);

// Closes the database, then every table in order; a failure ends the run.
void CloseAll(NodeReader& reader, TableSet& tableSet);
