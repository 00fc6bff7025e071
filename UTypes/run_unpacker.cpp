// The run front end shared by both programs.
#include "run_unpacker.h"

#include <exception>
#include <vector>

#include "platform.h"
#include "run_failure.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The arguments after the program path, up to the first empty one.
std::vector<std::string_view> CountedArguments(std::span<const char* const> arguments) {
  std::vector<std::string_view> counted;
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    if (arguments[index] == nullptr || arguments[index][0] == '\0') break;
    counted.emplace_back(arguments[index]);
  }
  return counted;
}

void PrintLine(const Console& console, std::string_view line) {
  WriteOutputBytes(console, line);
  WriteOutputBytes(console, kLineEnd);
}

// Ends a run cut short by a failure: the database is closed, every line handed to a table is
// written, then the report. Returns the exit status.
int EndAfterFailure(NodeReader& reader, TableSet& tableSet, const Console& console,
                    const std::string& report) {
  static_cast<void>(CloseFile(reader.file));
  SaveTablesAfterFailure(tableSet);
  WriteOutputBytes(console, report);
  return kExitFailure;
}

// The output prefix from the second argument: empty without one; otherwise the folder (created
// one level deep when missing) ending in the folder separator. False when the argument names
// neither an existing folder nor one that can be created.
bool ResolveOutputFolder(std::span<const std::string_view> arguments, std::string& outputPrefix) {
  outputPrefix.clear();
  if (arguments.size() < 2) return true;
  const std::string folder(arguments[1]);
  if (!FolderExists(folder.c_str()) && !CreateFolder(folder.c_str())) return false;
  outputPrefix = folder;
  if (outputPrefix.back() != kFolderSeparator) outputPrefix += kFolderSeparator;
  return true;
}

// Closes the database, then every table in order; a failure raises IoFailure.
void CloseAll(NodeReader& reader, TableSet& tableSet) {
  CloseNodeReader(reader);
  for (Table& table : tableSet.tables)
    CloseTable(table);
}

}  // namespace

int RunUnpacker(std::span<const char* const> arguments, std::span<const std::string_view> banner,
                std::span<const TableSpec> tables, Walker walker, Console console) {
  const char decimalSeparator = ReadDecimalSeparator();
  const std::vector<std::string_view> counted = CountedArguments(arguments);
  if (counted.empty()) {
    for (std::string_view line : banner)
      PrintLine(console, line);
    return kExitSuccess;
  }
  std::string outputPrefix;
  if (!ResolveOutputFolder(counted, outputPrefix)) {
    PrintLine(console, "Error creating folder");
    return kExitFailure;
  }
  const std::string databasePath(counted[0]);
  const char* programPath = arguments.empty() ? nullptr : arguments[0];
  NodeReader reader;
  TableSet tableSet;
  try {
    if (!OpenNodeReader(databasePath.c_str(), reader)) {
      PrintLine(console, "Error opening file");
      return kExitFailure;
    }
    CreateTables(tableSet, tables, outputPrefix, reader.file);
    walker(reader, tableSet, decimalSeparator);
    CloseAll(reader, tableSet);
  } catch (const IoFailure& failure) {
    return EndAfterFailure(reader, tableSet, console,
                           FailureReport(ModuleNameOf(programPath), failure.errorNumber));
  } catch (...) {
    // A record's text larger than the memory left ends the run as a failed read does.
    if (!IsMemoryFailure(std::current_exception())) throw;
    const std::string whatWasRead =
        "'" + databasePath + "' at offset " + std::to_string(Position(reader));
    return EndAfterFailure(reader, tableSet, console,
                           OutOfMemoryReport(ModuleNameOf(programPath), whatWasRead));
  }
  return kExitSuccess;
}
