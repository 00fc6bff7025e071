// An unpacker started by a drop or a double-click: workbooks beside the databases, and a pause.
#include "drop_unpacker.h"

#include <string>
#include <string_view>
#include <vector>

#include "drop_window.h"
#include "next_free_name.h"
#include "platform.h"
#include "run_unpacker.h"
#include "split_text.h"

namespace {

constexpr std::string_view kWorkbookExtension = ".xlsx";

// What a double-click shows: how to drop a database, then the command line's usage.
int PrintWhatToDo(std::string_view program, const UnpackerFormat& format, const Console& console) {
  const std::string module(ModuleNameOf(program.data()));
  PrintWindowLine(console,
                  "To unpack a database, drop it on " + module + " in its folder's window:");
  PrintWindowLine(console, "its tables are written into a workbook beside it, named after it.");
  PrintWindowLine(console, "Or run " + std::string(format.unpacker) + " from a console:");
  PrintWindowLine(console, "");
  const char* const bannerArguments[] = {program.data()};
  return RunUnpacker(bannerArguments, format, console);
}

// Unpacks one dropped database into the next free workbook name beside it.
int UnpackBeside(std::string_view program, const std::string& database,
                 const UnpackerFormat& format, const Console& console) {
  const std::string workbook = NextFreeName(database, "", kWorkbookExtension, IsPathTaken);
  if (workbook.empty()) {
    PrintWindowLine(console, "Not unpacked: no free workbook name beside " + database + ".");
    return kExitFailure;
  }
  const char* const runArguments[] = {program.data(), database.c_str(), workbook.c_str()};
  const int status = RunUnpacker(runArguments, format, console);
  const std::string plainName =
      NextFreeName(database, "", kWorkbookExtension, [](const std::string&) { return false; });
  if (status != kExitSuccess) {
    PrintWindowLine(console, "Not unpacked: " + std::string(FileNamePart(database)) +
                                 " (see the lines above).");
    return status;
  }
  std::string line = "Unpacked ";
  line += FileNamePart(database);
  line += " into ";
  line += FileNamePart(workbook);
  if (workbook != plainName) {
    line += " (";
    line += FileNamePart(plainName);
    line += " is there and was kept)";
  }
  line += ", beside it.";
  PrintWindowLine(console, line);
  return kExitSuccess;
}

}  // namespace

int RunUnpackerDrop(std::span<const char* const> arguments, const UnpackerFormat& format,
                    Console console) {
  const std::string_view program = arguments.empty() ? format.unpacker : arguments[0];
  if (arguments.size() < 2) return PrintWhatToDo(program, format, console);
  int status = kExitSuccess;
  for (const char* dropped : arguments.subspan(1)) {
    if (UnpackBeside(program, dropped, format, console) != kExitSuccess) status = kExitFailure;
  }
  return status;
}

int RunUnpackerProgram(std::span<const char* const> arguments, const UnpackerFormat& format) {
  if (!OwnsConsole(ReadConsoleFacts())) return RunUnpacker(arguments, format);
  const int status = RunUnpackerDrop(arguments, format);
  KeepWindowOpen();
  return status;
}
