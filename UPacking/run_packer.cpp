// The packers' run: its command line, its files and its one way to end on a failure.
#include "run_packer.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "pack_report.h"
#include "packed_file.h"
#include "platform.h"
#include "run_failure.h"

namespace {

struct Messages {
  PackConsole console;

  void Out(std::string_view text) {
    if (console.output != nullptr) {
      console.output->append(text);
    } else {
      std::fwrite(text.data(), 1, text.size(), stdout);
    }
  }
  void Error(std::string_view text) {
    if (console.errors != nullptr) {
      console.errors->append(text);
    } else {
      std::fwrite(text.data(), 1, text.size(), stderr);
    }
  }
};

struct PackArguments {
  bool help = false;
  bool version = false;
  bool dryRun = false;
  bool verbose = false;
  std::vector<std::string> paths;
  std::string error;
};

PackArguments ParsePackArguments(std::span<const char* const> arguments) {
  PackArguments parsed;
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
    } else if (options && argument == "--verbose") {
      parsed.verbose = true;
    } else if (options && argument.size() > 1 && argument.front() == '-') {
      parsed.error = "unknown option '" + std::string(argument) + "'";
      return parsed;
    } else {
      parsed.paths.emplace_back(argument);
    }
  }
  if (arguments.size() <= 1) parsed.help = true;
  const bool withoutNew = parsed.dryRun && parsed.paths.size() == 2;
  if (!parsed.help && !parsed.version && parsed.paths.size() != 3 && !withoutNew) {
    parsed.error = "expects three paths (ORIGINAL TABLES_FOLDER NEW), not " +
                   std::to_string(parsed.paths.size());
  }
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
  return "Usage: " + program + " [--dry-run] [--verbose] ORIGINAL." + extension +
         " TABLES_FOLDER NEW." + extension + "\n" + "       " + program +
         " --help | --version\n\n" + "Packs the tables that " + unpacker +
         " unpacked from ORIGINAL, as they were edited\nin TABLES_FOLDER (" + tables +
         "), back into a database\nwritten to NEW, which may name ORIGINAL itself. Each line "
         "stands for the record it\nholds, wherever it moved; everything the tables do not show, "
         "or show unchanged,\nis kept byte for byte. NEW is replaced only once the new database is "
         "complete\nand reads back as the tables; ORIGINAL is never written.\n\n"
         "  --dry-run  print the plan (every line moved, changed, added or removed) and the\n"
         "             summary, and write nothing; NEW may be left out\n"
         "  --verbose  print the plan before the summary\n\n"
         "Exit status: 0 written (a summary on standard output), 1 an error "
         "(nothing written,\nthe reasons on standard error), 2 wrong usage.\n";
}

// The edited tables' files, open for reading, closed when it ends.
struct TableFiles {
  std::vector<TableSource> sources;
  ~TableFiles() {
    for (TableSource& source : sources)
      static_cast<void>(CloseFile(source.file));  // read only: nothing is lost
  }
};

// What a path that cannot be read as a table names, for the problem that says so.
std::string WhyNotATable(const std::string& path, const PackerSpec& packer) {
  switch (KindOfPath(path.c_str())) {
    case PathKind::Missing:
      return "is missing: the tables folder must hold the " +
             std::to_string(packer.rules.tables.size()) + " tables " +
             std::string(packer.unpacker) + " writes, under their names";
    case PathKind::Folder:
      return "is a folder, not a table";
    case PathKind::Other:
      return "is not an ordinary file (a fifo, a device, or a link that leads nowhere)";
    case PathKind::OrdinaryFile:
      break;
  }
  return "cannot be opened for reading";
}

void OpenTables(const std::vector<std::string>& paths, const PackerSpec& packer,
                TableFiles& files) {
  for (const std::string& path : paths) {
    TableSource source;
    if (!OpenFileForReading(path.c_str(), source.file)) {
      throw PackFailure{{"the table '" + path + "' " + WhyNotATable(path, packer)}};
    }
    files.sources.push_back(source);
    const int error = FileSize(source.file, files.sources.back().size);
    if (error != 0) {
      throw PackFailure{{"cannot read the table '" + path + "': " + FailureMessage(error)}};
    }
  }
}

void Pack(const PackerSpec& packer, const PackArguments& arguments, char decimalSeparator,
          Messages& messages) {
  const std::string& originalPath = arguments.paths[0];
  const std::string target = arguments.paths.size() > 2 ? arguments.paths[2] : std::string();
  std::string folder = arguments.paths[1];
  if (!folder.empty() && folder.back() != kFolderSeparator && folder.back() != '/') {
    folder += kFolderSeparator;
  }
  std::vector<std::string> tables;
  for (const TableSpec& table : packer.rules.tables)
    tables.push_back(folder + std::string(table.fileName));
  if (!target.empty()) CheckTarget(target, tables);
  NodeReader original;
  bool opened = false;
  InStep("cannot read '" + originalPath + "'",
         [&] { opened = OpenNodeReader(originalPath.c_str(), original); });
  if (!opened) {
    throw PackFailure{{"cannot open the original database '" + originalPath +
                       "' (missing, unreadable or not a file)"}};
  }
  try {
    TableFiles tableFiles;
    OpenTables(tables, packer, tableFiles);
    PackPlan plan;
    InStep("cannot read '" + originalPath + "'", [&] {
      plan = PlanPack(original, packer.rules, decimalSeparator, tableFiles.sources);
    });
    if (arguments.dryRun || arguments.verbose) messages.Out(PlanText(packer.rules, plan));
    if (!arguments.dryRun) {
      WriteAndReplace(original, packer.rules, plan, target, decimalSeparator);
    } else {
      CloseNodeReader(original);
    }
    messages.Out(Summary(packer.program, packer.rules, plan, target, arguments.dryRun));
  } catch (...) {
    static_cast<void>(CloseFile(original.file));
    throw;
  }
}

}  // namespace

int RunPacker(std::span<const char* const> arguments, const PackerSpec& packer,
              PackConsole console) {
  Messages messages{console};
  const std::string program(packer.program);
  const PackArguments parsed = ParsePackArguments(arguments);
  if (!parsed.error.empty()) {
    messages.Error(program + ": " + parsed.error + "\nTry '" + program + " --help'.\n");
    return kPackUsage;
  }
  if (parsed.help) {
    messages.Out(HelpText(packer));
    return kPackWritten;
  }
  if (parsed.version) {
    messages.Out(program + " " UNPACKER_VERSION "\n");
    return kPackWritten;
  }
  const char decimalSeparator = ReadDecimalSeparator();
  try {
    Pack(packer, parsed, decimalSeparator, messages);
    return kPackWritten;
  } catch (const PackFailure& failure) {
    for (const std::string& problem : failure.problems)
      messages.Error(program + ": " + problem + "\n");
  }
  messages.Error(program + ": nothing was written\n");
  return kPackFailed;
}
