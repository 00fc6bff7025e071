// The packers' run: its command line, its files and its one way to end on a failure.
#include "run_packer.h"

#include <charconv>
#include <exception>
#include <memory>
#include <vector>

#include "change_workbook.h"
#include "code_page.h"
#include "database_kinds.h"
#include "message_text.h"
#include "pack_report.h"
#include "pack_sources.h"
#include "packed_file.h"
#include "platform.h"
#include "run_failure.h"
#include "workbook_tables.h"

namespace {

struct PackArguments {
  bool help = false;
  bool version = false;
  bool dryRun = false;
  bool noNew = false;  // a dry run of the sources alone: every path after ORIGINAL is one
  bool verbose = false;
  bool strict = false;
  int codePage = 0;  // of workbook sources; 0: the one each records
  bool hasChanges = false;
  std::string changes;  // the change workbook's path
  std::string original;
  std::vector<std::string> sources;
  bool hasTarget = false;  // none: a dry run without NEW
  std::string target;
  std::string error;
};

// ORIGINAL SOURCE... NEW, read alike with --dry-run, so that a dry run plans what the command
// does; a dry run of two paths, and one with --no-new, has no NEW.
void SplitPaths(std::vector<std::string> paths, PackArguments& parsed) {
  const bool lastIsNew = paths.size() >= 3 && !parsed.noNew;
  if (paths.size() < (parsed.dryRun ? 2u : 3u)) {
    parsed.error = parsed.dryRun ? "expects ORIGINAL and at least one SOURCE"
                                 : "expects ORIGINAL, at least one SOURCE and NEW, not " +
                                       std::to_string(paths.size()) + " paths";
    return;
  }
  parsed.original = paths.front();
  if (lastIsNew) {
    parsed.hasTarget = true;
    parsed.target = paths.back();
    paths.pop_back();
  }
  parsed.sources.assign(paths.begin() + 1, paths.end());
}

PackArguments ParsePackArguments(std::span<const char* const> arguments) {
  PackArguments parsed;
  std::vector<std::string> paths;
  bool options = true;
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    const std::string_view argument = arguments[index];
    if (options && argument == "--") {
      options = false;
    } else if (options && (argument == "--help" || argument == "-h")) {
      parsed.help = true;
    } else if (options && argument == "--version") {
      parsed.version = true;
    } else if (options && argument == "--dry-run") {
      parsed.dryRun = true;
    } else if (options && argument == "--no-new") {
      parsed.dryRun = true;
      parsed.noNew = true;
    } else if (options && argument == "--verbose") {
      parsed.verbose = true;
    } else if (options && argument == "--strict") {
      parsed.strict = true;
    } else if (options && argument == "--changes") {
      if (index + 1 >= arguments.size()) {
        parsed.error = "--changes expects the workbook to write";
        return parsed;
      }
      parsed.hasChanges = true;
      parsed.changes = arguments[++index];
    } else if (options && argument == "--code-page") {
      const std::string_view number = index + 1 < arguments.size() ? arguments[++index] : "";
      const auto [end, error] =
          std::from_chars(number.data(), number.data() + number.size(), parsed.codePage);
      if (number.empty() || error != std::errc{} || end != number.data() + number.size() ||
          FindCodePage(parsed.codePage) == nullptr) {
        parsed.error = "unknown code page '" + std::string(number) + "' (the code pages are " +
                       KnownCodePagesText() + ")";
        return parsed;
      }
    } else if (options && argument.size() > 1 && argument.front() == '-') {
      parsed.error = "unknown option '" + std::string(argument) + "'";
      return parsed;
    } else {
      paths.emplace_back(argument);
    }
  }
  if (arguments.size() <= 1) parsed.help = true;
  if (!parsed.help && !parsed.version) SplitPaths(std::move(paths), parsed);
  return parsed;
}

std::string HelpText(const PackerSpec& packer) {
  const std::string program(packer.program);
  const std::string unpacker(packer.unpacker);
  std::string tables;
  for (const TableSpec& table : packer.rules.tables) {
    tables += tables.empty() ? "" : ", ";
    tables += table.fileName;
  }
  const std::string extension(packer.extension);
  return "Usage: " + program +
         " [--strict] [--dry-run] [--verbose] [--changes FILE] [--code-page N]\n" + "       " +
         std::string(program.size(), ' ') + " ORIGINAL." + extension + " SOURCE... NEW." +
         extension + "\n" + "       " + program +
         " [--strict] [--changes FILE] [--code-page N] --no-new ORIGINAL." + extension +
         " SOURCE...\n" + "       " + program + " --help | --version\n\n" +
         "Packs changes onto ORIGINAL into a database written to NEW, which may name ORIGINAL\n"
         "itself. A SOURCE is a folder of the tables " +
         unpacker + " unpacked (" + tables + "),\nas they were edited; a workbook (.xlsx) " +
         unpacker +
         " wrote, as a spreadsheet saved it; or a\n"
         "database of the same kind (a mod's, as it ships). Each source is compared with\n"
         "ORIGINAL on its own: each line stands for the record it "
         "holds, wherever it moved.\nSeveral sources are merged cell by cell in load order:\n"
         "where two change one thing differently, the later one wins and it is a conflict.\n"
         "Everything no source changes is kept byte for byte. NEW is replaced only once the\n"
         "new database is complete and reads back as it should; ORIGINAL is never written.\n\n"
         "  --strict   a conflict of sources is an error: nothing is written\n"
         "  --dry-run  print the plan (every line moved, changed, added or removed, and the\n"
         "             conflicts) and the summary, and write nothing, having checked that NEW\n"
         "             could be written; of two paths, the second is a SOURCE and there is no NEW\n"
         "  --no-new   a dry run of the sources alone: every path after ORIGINAL is a SOURCE\n"
         "  --verbose  print the plan before the summary\n"
         "  --changes FILE\n"
         "             also write a workbook (.xlsx) of the changes: a sheet per changed table,\n"
         "             one row per changed, added or removed record, changed cells beside the\n"
         "             original's; the conflicts; each source's counts\n"
         "  --code-page N\n"
         "             the code page of the game's texts in workbook sources (874, 1250 to\n"
         "             1258); without it, the one each workbook records\n\n"
         "Exit status: 0 written (a summary on standard output), 1 an error "
         "(nothing written,\nthe reasons on standard error), 2 wrong usage.\n";
}

// The sources of a pack, open while it runs.
struct OpenSources {
  std::vector<PackSource> sources;
  ~OpenSources() {
    for (PackSource& source : sources)
      CloseSource(source);
  }
};

// A database of the other packer's kind, or an empty one, named in one line for what it is;
// empty when it is neither, or when its outline is of the kind of `taken`'s (the original,
// which this packer takes: a database of its outline is not of the other kind).
std::string WrongDatabaseProblem(NodeReader& database, const std::string& name,
                                 const PackerSpec& packer, NodeReader* taken = nullptr) {
  const DatabaseOutline outline = OutlineOf(database);
  if (outline.size == 0) {
    return name + " is empty: it holds no record to build the tables' lines on";
  }
  const UnpackerFormat* known = FormatOfOutline(outline, packer.knownFormats);
  if (known == nullptr || known->packer == packer.program) return {};
  if (taken != nullptr && FormatOfOutline(OutlineOf(*taken), packer.knownFormats) == known) {
    return {};
  }
  return name + " holds " + std::string(known->description) + ": " + std::string(known->packer) +
         " packs it, not " + std::string(packer.program);
}

// Whether a source file is a workbook: by its content (a zip container or a compound file), or by
// a workbook's name, so that a file named so but holding something else is refused as a
// workbook rather than as a damaged database.
bool IsWorkbookSource(const std::string& path) {
  if (IsWorkbookName(path) || path.ends_with(".xls") || path.ends_with(".XLS")) return true;
  PlatformFile file;
  if (!OpenFileForReading(path.c_str(), file)) return false;
  bool workbook = false;
  try {
    workbook = IsWorkbookFile(file);
  } catch (const IoFailure&) {
    // Unreadable: the database source says so.
  }
  static_cast<void>(CloseFile(file));
  return workbook;
}

// A table file given as a source, named for what it is: it begins with a table's header row.
// Empty when it does not.
std::string TableGivenAsSource(NodeReader& file, const std::string& name,
                               const PackerSpec& packer) {
  for (const TableSpec& table : packer.rules.tables) {
    const std::string_view header = table.headerRow;
    if (Size(file) < static_cast<std::int64_t>(header.size() + 1)) continue;
    std::string start(header.size() + 1, '\0');
    ReadBytesAt(file, 0, start.size(), reinterpret_cast<std::uint8_t*>(start.data()));
    if (start.starts_with(header) && (start.back() == '\r' || start.back() == '\n')) {
      return name + " is the table " + std::string(table.fileName) +
             ", not a database: a source of tables is the folder that holds them";
    }
  }
  return {};
}

// Opens a database source, refused as the original is: named for the other kind where its
// outline says so (unless it is the original's outline), else for why it cannot be read.
void OpenSourceDatabase(const PackerSpec& packer, const std::string& path, char decimalSeparator,
                        NodeReader& original, PackSource& source) {
  const std::string name = "the source " + QuotedPath(path);
  try {
    OpenDatabaseSource(path, packer.rules, decimalSeparator, source);
  } catch (const PackFailure&) {
    NodeReader again;
    if (OpenNodeReader(path.c_str(), again)) {
      std::string wrong = TableGivenAsSource(again, name, packer);
      if (wrong.empty()) wrong = WrongDatabaseProblem(again, name, packer, &original);
      CloseNodeReader(again);
      if (!wrong.empty()) throw PackFailure{{wrong}};
    } else if (KindOfPath(path.c_str()) == PathKind::Other) {
      throw PackFailure{{name + " is not an ordinary file (a fifo, a device, or a link that leads "
                                "nowhere): a source is a folder of tables or a database"}};
    }
    throw;
  }
  const std::string wrong = WrongDatabaseProblem(source.reader, name, packer, &original);
  if (!wrong.empty()) throw PackFailure{{wrong}};
}

// What the source at `path` is: a folder (or a link to one) of tables, a workbook, or else a
// database. Raises PackFailure when it is missing.
SourceKind KindOfSource(const std::string& path) {
  PathKind kind = KindOfPath(path.c_str());
  // A link to a folder is a folder.
  if (kind == PathKind::Other && KindOfPath((path + "/.").c_str()) == PathKind::Folder) {
    kind = PathKind::Folder;
  }
  switch (kind) {
    case PathKind::Folder:
      return SourceKind::Tables;
    case PathKind::Missing:
      throw PackFailure{{"the source '" + path +
                         "' is missing: a source is a folder of "
                         "tables or a database"}};
    default:
      return IsWorkbookSource(path) ? SourceKind::Workbook : SourceKind::Database;
  }
}

// Opens the source at `path` as what it is (KindOfSource): each kind gives the planner its
// tables the same way.
void OpenSource(const PackerSpec& packer, const PackArguments& arguments,
                const std::vector<std::string>& tableNames, const std::string& path,
                char decimalSeparator, NodeReader& original, PackSource& source) {
  switch (KindOfSource(path)) {
    case SourceKind::Tables:
      OpenFolderSource(path, tableNames, packer.unpacker, source);
      return;
    case SourceKind::Workbook:
      InStep("cannot read " + QuotedPath(path), [&] {
        OpenWorkbookSource(path, packer.rules, decimalSeparator, arguments.codePage, source);
      });
      return;
    case SourceKind::Database:
      InStep("cannot read " + QuotedPath(path),
             [&] { OpenSourceDatabase(packer, path, decimalSeparator, original, source); });
      return;
  }
}

// Opens each source: a folder of tables, a workbook, or a database of the packer's kind.
void OpenEachSource(const PackerSpec& packer, const PackArguments& arguments, char decimalSeparator,
                    NodeReader& original, OpenSources& open) {
  std::vector<std::string> tableNames;
  for (const TableSpec& table : packer.rules.tables)
    tableNames.emplace_back(table.fileName);
  open.sources.reserve(arguments.sources.size());  // a database source's tables point into it
  for (const std::string& path : arguments.sources) {
    open.sources.emplace_back();
    OpenSource(packer, arguments, tableNames, path, decimalSeparator, original,
               open.sources.back());
  }
}

// Without --code-page, the console shows the game's texts in the code page of the first workbook
// source, which its texts were turned into; tables and databases say none.
void ShowGameTextsOfSources(const PackArguments& arguments, const OpenSources& open) {
  if (arguments.codePage != 0) return;
  for (const PackSource& source : open.sources) {
    if (source.kind == SourceKind::Workbook) {
      PrepareConsoleText(*FindCodePage(source.sheets.codePage));
      return;
    }
  }
}

// NEW may not be one of the tables read, nor a database source unless NEW is the original.
void CheckTargetAgainstSources(const PackArguments& arguments, const PackerSpec& packer,
                               const OpenSources& open, const NodeReader& original) {
  std::vector<std::string> tables;
  for (const PackSource& source : open.sources) {
    if (source.kind == SourceKind::Workbook &&
        IsSameFile(source.workbookFile, arguments.target.c_str())) {
      throw PackFailure{
          {"the source " + QuotedPath(source.path) + " is NEW itself: NEW is a database"}};
    }
    if (source.kind != SourceKind::Tables) continue;
    for (const TableSpec& table : packer.rules.tables)
      tables.push_back(PathInFolder(source.path, table.fileName));
  }
  CheckTarget(arguments.target, tables);
  const bool newIsOriginal = IsSameFile(original.file, arguments.target.c_str());
  for (const PackSource& source : open.sources) {
    if (source.kind == SourceKind::Database && !newIsOriginal &&
        IsSameFile(source.reader.file, arguments.target.c_str())) {
      throw PackFailure{{"the source '" + source.path +
                         "' is NEW itself: a source may be NEW "
                         "only when NEW is the original"}};
    }
  }
}

// Whether `path` names the file at `other` (by the same path, or the same file through another).
bool NamesSameFile(const std::string& path, const std::string& other) {
  if (path == other) return true;
  PlatformFile existing;
  if (!OpenFileForReading(other.c_str(), existing)) return false;
  const bool same = IsSameFile(existing, path.c_str());
  static_cast<void>(CloseFile(existing));
  return same;
}

// The change workbook may be none of the files the pack reads or writes.
void CheckChangesPath(const PackArguments& arguments, const PackerSpec& packer,
                      const OpenSources& open, const NodeReader& original) {
  const std::string& path = arguments.changes;
  const std::string named = "the change workbook " + QuotedPath(path);
  if (path.empty()) throw PackFailure{{"--changes is an empty path: name the workbook to write"}};
  if (path == arguments.original || IsSameFile(original.file, path.c_str())) {
    throw PackFailure{{named + " is ORIGINAL: name another file"}};
  }
  if (arguments.hasTarget && NamesSameFile(path, arguments.target)) {
    throw PackFailure{{named + " is NEW: name another file"}};
  }
  std::vector<std::string> tables;
  for (const PackSource& source : open.sources) {
    const bool same =
        path == source.path ||
        (source.kind == SourceKind::Database && IsSameFile(source.reader.file, path.c_str())) ||
        (source.kind == SourceKind::Workbook && IsSameFile(source.workbookFile, path.c_str()));
    if (same) throw PackFailure{{named + " is the source " + QuotedPath(source.path)}};
    if (source.kind != SourceKind::Tables) continue;
    for (const TableSpec& table : packer.rules.tables)
      tables.push_back(PathInFolder(source.path, table.fileName));
  }
  CheckTarget(path, tables);
}

// With --strict, a conflict of sources is an error.
void RefuseConflicts(const PackRules& rules, const PackPlan& plan) {
  if (plan.conflicts.empty()) return;
  std::vector<std::string> problems;
  for (const TableConflict& conflict : plan.conflicts)
    problems.push_back(ConflictText(rules, conflict, false));
  problems.push_back(Plural(plan.conflicts.size(), "conflict") +
                     " of sources, and --strict packs none");
  throw PackFailure{std::move(problems)};
}

// Writes the change workbook; returns why it could not be written, or nothing.
std::string WriteChanges(const PackArguments& arguments, const PackerSpec& packer,
                         const PackPlan& plan, char decimalSeparator) {
  const CodePage* codePage =
      FindCodePage(arguments.codePage != 0 ? arguments.codePage : kDefaultCodePage);
  const ChangeWorkbookInput input{&packer.rules, arguments.sources, codePage, decimalSeparator};
  try {
    WriteChangeWorkbook(arguments.changes, arguments.original, input, plan);
  } catch (const IoFailure& failure) {
    return "the change workbook '" + arguments.changes +
           "' cannot be written: " + FailureMessage(failure.errorNumber);
  } catch (const ZipFailure& failure) {
    return "the change workbook " + QuotedPath(arguments.changes) +
           " cannot be written: " + failure.message;
  }
  return {};
}

// The sources as the summary names them: each path with its kind, "folder (tables)".
std::vector<std::string> SourceNames(const OpenSources& open) {
  std::vector<std::string> names;
  for (const PackSource& source : open.sources) {
    std::string name = source.path;
    name += " (";
    name += SourceKindName(source.kind);
    name += ")";
    names.push_back(std::move(name));
  }
  return names;
}

// Packs as the arguments say. Returns what failed once NEW was written (its summary could not
// be printed), or nothing; raises PackFailure when nothing was written.
std::string Pack(const PackerSpec& packer, const PackArguments& arguments, char decimalSeparator,
                 const Console& console) {
  NodeReader original;
  bool opened = false;
  InStep("cannot read " + QuotedPath(arguments.original),
         [&] { opened = OpenNodeReader(arguments.original.c_str(), original); });
  if (!opened) {
    throw PackFailure{{"cannot open the original database '" + arguments.original +
                       "' (missing, unreadable or not a file)"}};
  }
  try {
    OpenSources open;
    OpenEachSource(packer, arguments, decimalSeparator, original, open);
    ShowGameTextsOfSources(arguments, open);
    if (arguments.hasTarget) CheckTargetAgainstSources(arguments, packer, open, original);
    if (arguments.hasChanges) CheckChangesPath(arguments, packer, open, original);
    PackPlan plan;
    InStep("cannot read " + QuotedPath(arguments.original), [&] {
      try {
        plan = PlanPack(original, packer.rules, decimalSeparator, open.sources,
                        arguments.dryRun || arguments.verbose || arguments.hasChanges);
      } catch (const PackFailure&) {
        const std::string wrong = WrongDatabaseProblem(
            original, "the original " + QuotedPath(arguments.original), packer);
        if (!wrong.empty()) throw PackFailure{{wrong}};
        throw;
      }
    });
    if (arguments.strict) RefuseConflicts(packer.rules, plan);
    const std::vector<std::string> sourceNames = SourceNames(open);
    if (arguments.dryRun || arguments.verbose) {
      const int error = WriteOutputTextFlushed(console, PlanText(packer.rules, plan));
      if (error != 0) {
        throw PackFailure{{"cannot print the plan: " + FailureMessage(error)}};
      }
    }
    // Made before NEW is replaced: nothing may fail after that.
    std::string summary = Summary(packer.program, packer.rules, plan, sourceNames, arguments.target,
                                  arguments.dryRun);
    for (const PackSource& source : open.sources) {
      if (source.kind != SourceKind::Workbook) continue;
      InStep("cannot read " + QuotedPath(arguments.original), [&] {
        for (const std::string& note :
             WorkbookNotes(source.path, source.sheets, original.file, Size(original)))
          summary += note + "\n";
      });
    }
    if (!arguments.dryRun) {
      WriteAndReplace(original, arguments.original, packer.rules, plan, arguments.target,
                      decimalSeparator);
    } else {
      CloseNodeReader(original);
      if (arguments.hasTarget) CheckNewCanBeWritten(arguments.target, arguments.original);
    }
    // After NEW: a workbook that cannot be written leaves NEW written, and says so.
    if (arguments.hasChanges) {
      const std::string failed = WriteChanges(arguments, packer, plan, decimalSeparator);
      if (!failed.empty() && arguments.dryRun) throw PackFailure{{failed}};
      if (!failed.empty()) return QuotedPath(arguments.target) + " is written, but " + failed;
    }
    const int error = WriteOutputTextFlushed(console, summary);
    if (error == 0) return {};
    if (arguments.dryRun) {
      throw PackFailure{{"cannot print the summary: " + FailureMessage(error)}};
    }
    return QuotedPath(arguments.target) +
           " is written, but its summary cannot be printed: " + FailureMessage(error);
  } catch (...) {
    static_cast<void>(CloseFile(original.file));
    throw;
  }
}

}  // namespace

int RunPacker(std::span<const char* const> arguments, const PackerSpec& packer, Console console) {
  const std::string program(packer.program);
  const PackArguments parsed = ParsePackArguments(arguments);
  if (!parsed.error.empty()) {
    WriteErrorText(console, program + ": " + parsed.error + "\nTry '" + program + " --help'.\n");
    return kExitUsage;
  }
  if (parsed.help) {
    WriteOutputText(console, HelpText(packer));
    return kExitSuccess;
  }
  if (parsed.version) {
    WriteOutputText(console, program + " " UNPACKER_VERSION "\n");
    return kExitSuccess;
  }
  PrepareConsoleText(*FindCodePage(parsed.codePage != 0 ? parsed.codePage : kDefaultCodePage));
  const char decimalSeparator = ReadDecimalSeparator();
  try {
    const std::string afterWriting = Pack(packer, parsed, decimalSeparator, console);
    if (afterWriting.empty()) return kExitSuccess;
    WriteErrorText(console, program + ": " + afterWriting + "\n");
    return kExitFailure;
  } catch (const PackFailure& failure) {
    for (const std::string& problem : failure.problems)
      WriteErrorText(console, program + ": " + problem + "\n");
  } catch (...) {
    // A failed allocation outside the steps that name what they read.
    if (!IsMemoryFailure(std::current_exception())) throw;
    WriteErrorText(console, program + ": out of memory\n");
  }
  WriteErrorText(console, program + ": nothing was written\n");
  return kExitFailure;
}
