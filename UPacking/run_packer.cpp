// The packers' run: its command line, its files and its one way to end on a failure.
#include "run_packer.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "packed_file.h"
#include "platform.h"
#include "run_failure.h"

namespace {

// Rounded values listed one by one in the summary; the rest are counted.
constexpr std::size_t kRoundedListed = 10;

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
    } else if (options && argument.size() > 1 && argument.front() == '-') {
      parsed.error = "unknown option '" + std::string(argument) + "'";
      return parsed;
    } else {
      parsed.paths.emplace_back(argument);
    }
  }
  if (arguments.size() <= 1) parsed.help = true;
  if (!parsed.help && !parsed.version && parsed.paths.size() != 3) {
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
  return "Usage: " + program + " ORIGINAL." + extension + " TABLES_FOLDER NEW." + extension + "\n" +
         "       " + program + " --help | --version\n\n" + "Packs the tables that " + unpacker +
         " unpacked from ORIGINAL, as they were edited\nin TABLES_FOLDER (" + tables +
         "), back into a database\nwritten to NEW, which may name ORIGINAL itself. Everything "
         "the tables do not show,\nor show unchanged, is kept byte for byte. NEW is replaced only "
         "once the new\ndatabase is complete and reads back as the tables; ORIGINAL is never "
         "written.\n\nExit status: 0 written (a summary on standard output), 1 an error "
         "(nothing written,\nthe reasons on standard error), 2 wrong usage.\n";
}

// The bytes of the table files, one at a time, in one buffer that grows to the longest.
struct TableFileReader {
  std::unique_ptr<char[]> buffer;
  std::size_t capacity = 0;

  // A table file's whole bytes, valid until the next read, or a PackFailure.
  std::string_view Read(const std::string& path, const PackerSpec& packer) {
    PlatformFile file;
    if (!OpenFileForReading(path.c_str(), file)) {
      throw PackFailure{{"cannot read the table '" + path + "': the tables folder must hold the " +
                         std::to_string(packer.rules.tables.size()) + " tables " +
                         std::string(packer.unpacker) + " writes, under their names"}};
    }
    std::int64_t size = 0;
    std::size_t done = 0;
    int error = FileSize(file, size);
    if (error == 0 && static_cast<std::uint64_t>(size) > capacity) {
      capacity = static_cast<std::size_t>(size);
      buffer.reset();
      buffer = std::make_unique_for_overwrite<char[]>(capacity);
    }
    while (error == 0 && done < static_cast<std::size_t>(size)) {
      std::size_t got = 0;
      error = ReadFileAt(file, static_cast<std::int64_t>(done), buffer.get() + done,
                         static_cast<std::size_t>(size) - done, got);
      if (got == 0) break;
      done += got;
    }
    static_cast<void>(CloseFile(file));
    if (error != 0) {
      throw PackFailure{{"cannot read the table '" + path + "': " + FailureMessage(error)}};
    }
    return {buffer.get(), done};
  }
};

std::string Plural(std::size_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string Summary(const PackerSpec& packer, const PackPlan& plan, const std::string& target) {
  std::string text = std::string(packer.program) + ": wrote " + target + " (" +
                     Plural(static_cast<std::size_t>(plan.newSize), "byte") + ")\n";
  for (std::size_t table = 0; table < packer.rules.tables.size(); ++table) {
    const TableChanges& changes = plan.changes[table];
    text += "  " + std::string(packer.rules.tables[table].fileName) + ": " +
            std::to_string(changes.kept) + " kept";
    if (changes.moved > 0) text += " (" + std::to_string(changes.moved) + " moved)";
    text += ", " + std::to_string(changes.changed) + " changed, " + std::to_string(changes.added) +
            " added, " + std::to_string(changes.removed) + " removed\n";
  }
  if (plan.rounded.empty()) return text;
  text += Plural(plan.rounded.size(), "value") + " rounded to be stored:\n";
  for (std::size_t index = 0; index < plan.rounded.size() && index < kRoundedListed; ++index) {
    const RoundedValue& value = plan.rounded[index];
    const std::vector<std::string_view> names =
        SplitColumns(packer.rules.tables[value.table].headerRow);
    const std::string column = value.cell.column < names.size()
                                   ? std::string(names[value.cell.column])
                                   : std::to_string(value.cell.column + 1);
    text += "  " + std::string(packer.rules.tables[value.table].fileName) + " line " +
            std::to_string(value.line) + ", column \"" + column + "\": \"" + value.cell.cell +
            "\" is stored as " + value.cell.stored + " and reads back as \"" + value.cell.readBack +
            "\"\n";
  }
  if (plan.rounded.size() > kRoundedListed) {
    text += "  ... and " + std::to_string(plan.rounded.size() - kRoundedListed) + " more\n";
  }
  return text;
}

void Pack(const PackerSpec& packer, const std::vector<std::string>& paths, char decimalSeparator,
          Messages& messages) {
  const std::string& originalPath = paths[0];
  const std::string& target = paths[2];
  std::string folder = paths[1];
  if (!folder.empty() && folder.back() != kFolderSeparator && folder.back() != '/') {
    folder += kFolderSeparator;
  }
  std::vector<std::string> tables;
  for (const TableSpec& table : packer.rules.tables)
    tables.push_back(folder + std::string(table.fileName));
  CheckTarget(target, tables);
  NodeReader original;
  bool opened = false;
  InStep("cannot read '" + originalPath + "'",
         [&] { opened = OpenNodeReader(originalPath.c_str(), original); });
  if (!opened) {
    throw PackFailure{{"cannot open the original database '" + originalPath +
                       "' (missing, unreadable or not a file)"}};
  }
  try {
    PackPlan plan;
    TableFileReader tableFiles;
    InStep("cannot read '" + originalPath + "'", [&] {
      plan = PlanPack(original, packer.rules, decimalSeparator, [&](std::size_t table) {
        std::string_view text;
        InStep("cannot read the table '" + tables[table] + "'",
               [&] { text = tableFiles.Read(tables[table], packer); });
        return text;
      });
    });
    // Made before NEW is replaced: nothing may fail after that.
    const std::string summary = Summary(packer, plan, target);
    WriteAndReplace(original, originalPath, packer.rules, plan, target, decimalSeparator);
    messages.Out(summary);
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
    Pack(packer, parsed.paths, decimalSeparator, messages);
    return kPackWritten;
  } catch (const PackFailure& failure) {
    for (const std::string& problem : failure.problems)
      messages.Error(program + ": " + problem + "\n");
  } catch (...) {
    // A failed allocation outside the steps that name what they read.
    if (!IsMemoryFailure(std::current_exception())) throw;
    messages.Error(program + ": out of memory\n");
  }
  messages.Error(program + ": nothing was written\n");
  return kPackFailed;
}
