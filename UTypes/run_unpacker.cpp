// The run front end shared by both programs.
#include "run_unpacker.h"

#include <charconv>
#include <exception>
#include <functional>
#include <future>
#include <vector>

#include "code_page.h"
#include "message_text.h"
#include "platform.h"
#include "replacing_file.h"
#include "run_failure.h"
#include "split_text.h"
#include "workbook_tables.h"

namespace {

constexpr std::string_view kCodePageOption = "--code-page";

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

void PrintBanner(const Console& console, std::span<const std::string_view> banner) {
  for (std::string_view line : banner)
    PrintLine(console, line);
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

std::string WhatWasRead(const std::string& databasePath, const NodeReader& reader) {
  return QuotedPath(databasePath) + " at offset " + std::to_string(Position(reader));
}

// The report of a failed allocation, or nothing for any other failure, which goes on.
std::string MemoryReport(const char* programPath, const std::string& databasePath,
                         const NodeReader& reader) {
  if (!IsMemoryFailure(std::current_exception())) throw;
  return OutOfMemoryReport(ModuleNameOf(programPath), WhatWasRead(databasePath, reader));
}

using TableWalk = std::function<void(NodeReader&, TableSet&, char)>;

// The tables of the database into the output folder (or the current one).
int UnpackTables(std::span<const std::string_view> counted, std::span<const TableSpec> tables,
                 const TableWalk& walk, const char* programPath, const Console& console) {
  const char decimalSeparator = ReadDecimalSeparator();
  std::string outputPrefix;
  if (!ResolveOutputFolder(counted, outputPrefix)) {
    PrintLine(console, "Error creating folder");
    return kExitFailure;
  }
  const std::string databasePath(counted[0]);
  NodeReader reader;
  TableSet tableSet;
  try {
    if (!OpenNodeReader(databasePath.c_str(), reader)) {
      PrintLine(console, "Error opening file");
      return kExitFailure;
    }
    CreateTables(tableSet, tables, outputPrefix, reader.file);
    walk(reader, tableSet, decimalSeparator);
    CloseAll(reader, tableSet);
  } catch (const IoFailure& failure) {
    return EndAfterFailure(reader, tableSet, console,
                           FailureReport(ModuleNameOf(programPath), failure.errorNumber));
  } catch (...) {
    // A record's text larger than the memory left ends the run as a failed read does.
    return EndAfterFailure(reader, tableSet, console,
                           MemoryReport(programPath, databasePath, reader));
  }
  return kExitSuccess;
}

// Reads the leading options into `codePage`, removing them from `counted`. False, with the line
// that says why, for a code page that is missing or unknown.
bool ReadOptions(std::vector<std::string_view>& counted, int& codePage, std::string& problem) {
  while (!counted.empty() && counted[0] == kCodePageOption) {
    const std::string_view number = counted.size() > 1 ? counted[1] : std::string_view{};
    int value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc{} || end != number.data() + number.size() ||
        FindCodePage(value) == nullptr) {
      problem = "Unknown code page '" + std::string(number) + "': the code pages are " +
                KnownCodePagesText();
      return false;
    }
    codePage = value;
    counted.erase(counted.begin(), counted.begin() + 2);
  }
  return true;
}

// The walk's rows into the workbook's sheets; a failed read keeps the rows before it and hands
// back its report.
std::string WalkIntoWorkbook(NodeReader& reader, const UnpackerFormat& format,
                             WorkbookWriter& workbook, const CodePage& page,
                             const char* programPath, const std::string& databasePath) {
  WorkbookLineWriter writer;
  StartWorkbookTables(writer, workbook, reader, format.walk, format.tables, page);
  try {
    WalkDatabase(reader, ReadDecimalSeparator(), format.walk, writer);
  } catch (const IoFailure& failure) {
    return FailureReport(ModuleNameOf(programPath), failure.errorNumber);
  } catch (const WorkbookRefusal&) {
    throw;
  } catch (...) {
    return MemoryReport(programPath, databasePath, reader);
  }
  return {};
}

// The database's tables as the sheets of a workbook at `target`.
int UnpackWorkbook(const std::string& databasePath, const std::string& target,
                   const UnpackerFormat& format, int codePage, const char* programPath,
                   const Console& console) {
  NodeReader reader;
  WorkbookWriter workbook;
  std::string walkReport;
  bool refused = false;
  try {
    if (!OpenNodeReader(databasePath.c_str(), reader)) {
      PrintLine(console, "Error opening file");
      return kExitFailure;
    }
    if (IsSameFile(reader.file, target.c_str())) RaiseIoFailure(kErrorAccessDenied);
    BeginWorkbookFile(workbook, target, databasePath);
    const CodePage& page = *FindCodePage(codePage);
    // The database's checksum is read on a thread of its own while the walk reads the database;
    // where no thread starts, it is read when it is asked for.
    std::future<std::uint32_t> databaseCrc = std::async(std::launch::async | std::launch::deferred,
                                                        FileCrc32, reader.file, Size(reader));
    walkReport = WalkIntoWorkbook(reader, format, workbook, page, programPath, databasePath);
    const WorkbookOrigin origin{std::string(FileNamePart(databasePath)),
                                Size(reader),
                                databaseCrc.get(),
                                codePage,
                                std::string(format.unpacker) + " " + UNPACKER_VERSION,
                                std::string(format.packer)};
    AddOriginSheet(workbook, origin);
    CloseNodeReader(reader);
    WriteWorkbookFile(workbook, target, databasePath);
  } catch (const WorkbookRefusal& refusal) {
    PrintLine(console, refusal.message);
    refused = true;
  } catch (const ZipFailure& failure) {
    PrintLine(console, QuotedPath(target) + " " + failure.message);
    refused = true;
  } catch (const IoFailure& failure) {
    walkReport = FailureReport(ModuleNameOf(programPath), failure.errorNumber);
  } catch (...) {
    walkReport = MemoryReport(programPath, databasePath, reader);
  }
  static_cast<void>(CloseFile(reader.file));
  CloseWorkbookWriter(workbook);
  if (refused) return kExitFailure;
  WriteOutputBytes(console, walkReport);
  return walkReport.empty() && !refused ? kExitSuccess : kExitFailure;
}

}  // namespace

int RunUnpacker(std::span<const char* const> arguments, std::span<const std::string_view> banner,
                std::span<const TableSpec> tables, Walker walker, Console console) {
  const std::vector<std::string_view> counted = CountedArguments(arguments);
  if (counted.empty()) {
    PrintBanner(console, banner);
    return kExitSuccess;
  }
  const char* programPath = arguments.empty() ? nullptr : arguments[0];
  return UnpackTables(counted, tables, walker, programPath, console);
}

int RunUnpacker(std::span<const char* const> arguments, const UnpackerFormat& format,
                Console console) {
  std::vector<std::string_view> counted = CountedArguments(arguments);
  int codePage = kDefaultCodePage;
  std::string problem;
  if (!ReadOptions(counted, codePage, problem)) {
    PrintLine(console, problem);
    return kExitFailure;
  }
  PrepareConsoleText(*FindCodePage(codePage));
  if (counted.empty()) {
    PrintBanner(console, format.banner);
    return kExitSuccess;
  }
  const char* programPath = arguments.empty() ? nullptr : arguments[0];
  if (counted.size() >= 2 && IsWorkbookName(counted[1]) &&
      !FolderExists(std::string(counted[1]).c_str())) {
    return UnpackWorkbook(std::string(counted[0]), std::string(counted[1]), format, codePage,
                          programPath, console);
  }
  const TableWalk walk = [&format](NodeReader& reader, TableSet& tables, char separator) {
    WalkDatabase(reader, tables, separator, format.walk);
  };
  return UnpackTables(counted, format.tables, walk, programPath, console);
}
