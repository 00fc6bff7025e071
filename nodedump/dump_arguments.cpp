// The command line of nodedump.
#include "dump_arguments.h"

#include <charconv>
#include <cstdint>
#include <vector>

const std::string_view kDumpHelp =
    "Usage: nodedump [options] FILE\n"
    "Prints the node tree of a node stream file (a spell or quest database), one node a line:\n"
    "level, @offset, kind byte, length form, payload length and payload @start; for a field a\n"
    "preview of its payload. Marks damage the unpackers pass over silently, and follows the\n"
    "unpackers' own reading of every value: where a value is read past or short of its field's\n"
    "end (a note) and where an unpacker stops at the end of the file (damage). Offsets and\n"
    "lengths are decimal byte counts.\n"
    "\n"
    "Options:\n"
    "  --depth N      show levels 1 to N only: 1 database, 2 table, 3 record, 4 field (default 4)\n"
    "  --max-bytes N  show at most N payload bytes of each field (default 16)\n"
    "  --unpacker U   follow the reading of grimdex, lorudex, both or none (default: grimdex\n"
    "                 for a .sdb file, lorudex for a .qdb file, both for any other)\n"
    "  --help         show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Exit status: 0 well formed, 1 damaged, 2 bad usage or a file that cannot be opened or read.\n";

namespace {

// The largest --max-bytes: no payload can be longer.
constexpr std::int64_t kMostPreviewBytes = std::int64_t{1} << 30;

// A decimal count from `lowest` to `highest`, digits only; false otherwise.
bool ParseCount(std::string_view text, std::int64_t lowest, std::int64_t highest,
                std::int64_t& value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size() && value >= lowest &&
         value <= highest;
}

// Takes the value of a numeric option, from "--name=N" or the next argument.
void TakeCountOption(DumpArguments& parsed, std::string_view name, std::string_view inlineValue,
                     bool hasInlineValue, const std::vector<std::string_view>& words,
                     std::size_t& index, std::int64_t lowest, std::int64_t highest,
                     std::int64_t& value) {
  std::string_view text = inlineValue;
  if (!hasInlineValue) {
    if (index + 1 >= words.size()) {
      parsed.error = std::string(name) + " needs a number";
      return;
    }
    text = words[++index];
  }
  if (!ParseCount(text, lowest, highest, value)) {
    parsed.error = std::string(name) + " takes a number from " + std::to_string(lowest) + " to " +
                   std::to_string(highest) + ", not '" + std::string(text) + "'";
  }
}

// The unpackers a file's name suggests: the format of its extension, in any letter case; every
// format for another extension.
Unpackers UnpackersOfFileName(std::string_view path) {
  const std::size_t dot = path.find_last_of("./\\");
  if (dot == std::string_view::npos || path[dot] != '.') return kKnownFormats;
  std::string extension(path.substr(dot + 1));
  for (char& c : extension)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const UnpackerFormat* format : kKnownFormats) {
    if (format->extension == extension) return FormatAlone(*format);
  }
  return kKnownFormats;
}

// `start` and the values --unpacker takes, for its messages: "grimdex, lorudex, both or none".
std::string WithUnpackerChoices(std::string_view start) {
  std::string choices(start);
  for (const UnpackerFormat* format : kKnownFormats) {
    choices += format->unpacker;
    choices += ", ";
  }
  choices += "both or none";
  return choices;
}

// The unpackers an --unpacker value names: one format's, "both" (every format) or "none"; false
// for any other value.
bool UnpackersNamed(std::string_view name, Unpackers& unpackers) {
  for (const UnpackerFormat* format : kKnownFormats) {
    if (format->unpacker == name) {
      unpackers = FormatAlone(*format);
      return true;
    }
  }
  if (name == "both") unpackers = kKnownFormats;
  if (name == "none") unpackers = {};
  return name == "both" || name == "none";
}

void TakeUnpackerOption(DumpArguments& parsed, std::string_view inlineValue, bool hasInlineValue,
                        const std::vector<std::string_view>& words, std::size_t& index) {
  std::string_view text = inlineValue;
  if (!hasInlineValue) {
    if (index + 1 >= words.size()) {
      parsed.error = WithUnpackerChoices("--unpacker needs ");
      return;
    }
    text = words[++index];
  }
  if (!UnpackersNamed(text, parsed.options.unpackers)) {
    parsed.error = WithUnpackerChoices("--unpacker takes ");
    parsed.error += ", not '";
    parsed.error += text;
    parsed.error += '\'';
    return;
  }
  parsed.unpackersChosen = true;
}

// One option word; sets `error` for an unknown one.
void TakeOption(DumpArguments& parsed, const std::vector<std::string_view>& words,
                std::size_t& index) {
  const std::string_view word = words[index];
  const std::size_t equals = word.find('=');
  const std::string_view name = word.substr(0, equals);
  const bool hasValue = equals != std::string_view::npos;
  const std::string_view value = hasValue ? word.substr(equals + 1) : std::string_view{};
  if (name == "--depth") {
    std::int64_t depth = 0;
    TakeCountOption(parsed, name, value, hasValue, words, index, kDatabaseLevel, kFieldLevel,
                    depth);
    parsed.options.depth = static_cast<int>(depth);
  } else if (name == "--max-bytes") {
    TakeCountOption(parsed, name, value, hasValue, words, index, 0, kMostPreviewBytes,
                    parsed.options.previewBytes);
  } else if (name == "--unpacker") {
    TakeUnpackerOption(parsed, value, hasValue, words, index);
  } else if (word == "--help") {
    parsed.wantsHelp = true;
  } else if (word == "--version") {
    parsed.wantsVersion = true;
  } else {
    parsed.error = "unknown option '" + std::string(word) + "'";
  }
}

void TakeFile(DumpArguments& parsed, std::string_view word) {
  if (!parsed.path.empty()) {
    parsed.error = "one file at a time, not also '" + std::string(word) + "'";
    return;
  }
  parsed.path = word;
  if (word.empty()) parsed.error = "the file name is empty";
}

}  // namespace

DumpArguments ParseDumpArguments(std::span<const char* const> arguments) {
  DumpArguments parsed;
  std::vector<std::string_view> words;
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    if (arguments[index] != nullptr) words.emplace_back(arguments[index]);
  }
  bool optionsEnded = false;
  for (std::size_t index = 0; index < words.size() && parsed.error.empty(); ++index) {
    const std::string_view word = words[index];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && word.size() > 1 && word.front() == '-') {
      TakeOption(parsed, words, index);
    } else {
      TakeFile(parsed, word);
    }
  }
  const bool needsFile = !parsed.wantsHelp && !parsed.wantsVersion;
  if (parsed.error.empty() && needsFile && parsed.path.empty()) parsed.error = "no file given";
  if (!parsed.unpackersChosen) parsed.options.unpackers = UnpackersOfFileName(parsed.path);
  return parsed;
}
