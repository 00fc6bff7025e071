// A packer started by a drop or a double-click: the database a workbook records, a new file
// beside it, and a pause.
#include "drop_packer.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console_owner.h"
#include "drop_window.h"
#include "next_free_name.h"
#include "platform.h"
#include "run_failure.h"
#include "workbook_source.h"

namespace {

std::string NameOf(std::string_view path) {
  return std::string(FileNamePart(path));
}

// What a double-click shows: how to drop a workbook, then the command line's help.
int PrintWhatToDo(std::string_view program, const PackerSpec& packer, const Console& console) {
  const std::string module(ModuleNameOf(program.data()));
  std::string line = "To pack a workbook that ";
  line += packer.unpacker;
  line += " wrote, drop it on " + module + " in its folder's window:";
  PrintWindowLine(console, line);
  PrintWindowLine(console, "the database it was made from must be beside it, and the packed");
  PrintWindowLine(console, "database is written beside that one under a new name.");
  PrintWindowLine(console, "Or run " + std::string(packer.program) + " from a console:");
  PrintWindowLine(console, "");
  const char* const helpArguments[] = {program.data()};
  return RunPacker(helpArguments, packer, console);
}

// Whether a recorded database name is a file name of its own, to be looked for beside the
// workbook: not empty, no folder, no drive, not "." or "..", no control character.
bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char letter : name) {
    const auto byte = static_cast<unsigned char>(letter);
    if (byte < 0x20 || letter == '/' || letter == '\\' || letter == ':') return false;
  }
  return true;
}

struct RecordingWorkbook {
  std::string path;
  RecordedOrigin origin;
};

// The first dropped file that is a workbook recording its database.
std::optional<RecordingWorkbook> FirstRecordingWorkbook(std::span<const char* const> dropped) {
  for (const char* path : dropped) {
    PlatformFile file;
    if (!OpenFileForReading(path, file)) continue;
    RecordedOrigin origin;
    try {
      origin = ReadRecordedOrigin(file);
    } catch (const IoFailure&) {
      origin = {};
    }
    static_cast<void>(CloseFile(file));
    if (origin.known) return RecordingWorkbook{path, origin};
  }
  return std::nullopt;
}

// Whether the file at `path` is the database `origin` records; false when it cannot be read.
bool HoldsRecordedDatabase(const std::string& path, const RecordedOrigin& origin) {
  PlatformFile file;
  if (!OpenFileForReading(path.c_str(), file)) return false;
  bool same = false;
  std::int64_t size = 0;
  try {
    same = FileSize(file, size) == 0 && IsRecordedDatabase(origin, file, size);
  } catch (const IoFailure&) {
    same = false;
  }
  static_cast<void>(CloseFile(file));
  return same;
}

// The database the workbook was made from, beside it, or the refusal that says what to do.
std::optional<std::string> FindRecordedDatabase(const RecordingWorkbook& workbook,
                                                const PackerSpec& packer, const Console& console) {
  const std::string& name = workbook.origin.databaseName;
  const std::string workbookName = NameOf(workbook.path);
  if (!IsPlainFileName(name)) {
    PrintWindowLine(console, "Not packed: " + workbookName +
                                 " does not name its database as a "
                                 "file beside it.");
    PrintWindowLine(console, "Pack it from a console: " + std::string(packer.program) +
                                 " ORIGINAL " + workbookName + " NEW");
    return std::nullopt;
  }
  const std::string database = FolderPart(workbook.path) + name;
  if (KindOfPath(database.c_str()) != PathKind::OrdinaryFile) {
    PrintWindowLine(console, "Not packed: " + name + ", the database " + workbookName +
                                 " was made from, is not beside it.");
    PrintWindowLine(console, "Put " + name +
                                 " in the workbook's folder, then drop the "
                                 "workbook again.");
    return std::nullopt;
  }
  if (!HoldsRecordedDatabase(database, workbook.origin)) {
    PrintWindowLine(console, "Not packed: " + name + " beside " + workbookName +
                                 " is not the database the workbook was made from: it has "
                                 "changed since.");
    PrintWindowLine(console,
                    "Put that database beside the workbook, or pack onto this one from "
                    "a console: " +
                        std::string(packer.program) + " " + name + " " + workbookName + " NEW");
    return std::nullopt;
  }
  return database;
}

// The last line of a pack into `packed` beside `database`.
std::string PackedLine(const std::string& database, const std::string& packed) {
  std::string line = "Packed into ";
  line += NameOf(packed);
  line += ", beside ";
  line += NameOf(database);
  line += ", which is kept as it was. To play with the changes, copy ";
  line += NameOf(packed);
  line += " into the game's folder as ";
  line += NameOf(database);
  line += ".";
  return line;
}

}  // namespace

int RunPackerDrop(std::span<const char* const> arguments, const PackerSpec& packer,
                  Console console) {
  const std::string_view program = arguments.empty() ? packer.program : arguments[0];
  if (arguments.size() < 2) return PrintWhatToDo(program, packer, console);
  const std::span<const char* const> dropped = arguments.subspan(1);
  const std::optional<RecordingWorkbook> workbook = FirstRecordingWorkbook(dropped);
  if (!workbook) {
    PrintWindowLine(console, "Not packed: no workbook that " + std::string(packer.unpacker) +
                                 " wrote was dropped (its About sheet names its database).");
    PrintWindowLine(console, "Drop such a workbook, or run " + std::string(packer.program) +
                                 " from a console.");
    return kExitFailure;
  }
  const std::optional<std::string> database = FindRecordedDatabase(*workbook, packer, console);
  if (!database) return kExitFailure;
  std::string extension = ".";
  extension += packer.extension;
  const std::string packed = NextFreeName(*database, "packed", extension, IsPathTaken);
  if (packed.empty()) {
    PrintWindowLine(console, "Not packed: no free name beside " + NameOf(*database) + ".");
    return kExitFailure;
  }
  std::vector<const char*> runArguments = {program.data(), database->c_str()};
  runArguments.insert(runArguments.end(), dropped.begin(), dropped.end());
  runArguments.push_back(packed.c_str());
  if (RunPacker(runArguments, packer, console) != kExitSuccess) {
    PrintWindowLine(
        console, "Not packed (see the lines above); " + NameOf(*database) + " is kept as it was.");
    return kExitFailure;
  }
  PrintWindowLine(console, "");
  PrintWindowLine(console, PackedLine(*database, packed));
  return kExitSuccess;
}

int RunPackerProgram(std::span<const char* const> arguments, const PackerSpec& packer) {
  if (!OwnsConsole(ReadConsoleFacts())) return RunPacker(arguments, packer);
  const int status = RunPackerDrop(arguments, packer);
  KeepWindowOpen();
  return status;
}
