// The command line of nodedump: options in the usual form and the one file to dump.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "node_dump.h"

// What the command line asks for. `error` is not empty for bad usage.
struct DumpArguments {
  bool wantsHelp = false;
  bool wantsVersion = false;
  std::string path;
  DumpOptions options;
  bool unpackersChosen = false;  // by --unpacker, not by the file's extension
  std::string error;
};

// The text of --help, ending in a line feed.
extern const std::string_view kDumpHelp;

// Reads `arguments` (program path first): --help, --version, --depth N (1 to 4), --max-bytes N
// (0 to 2^30), --unpacker with a known format's unpacker, "both" (every format's) or "none" (by
// default from the file's extension: .sdb grimdex, .qdb lorudex, else both), each value also as
// --option=V, "--" ending the options, and exactly one file.
// Anything else sets `error` to one line saying what is wrong. Allocates only the strings.
DumpArguments ParseDumpArguments(std::span<const char* const> arguments);
