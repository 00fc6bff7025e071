// The run both packers share: arguments, the original database and the edited tables, the new
// database written to a temporary file beside its place, read back and checked before it
// replaces anything.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "console.h"
#include "pack_plan.h"
#include "unpacker_format.h"

// What makes one packer: its name, its unpacker's, the database it packs and its rules, and the
// formats it knows, so that a database of another one is named for what it is.
struct PackerSpec {
  std::string_view program;    // "grimpack"
  std::string_view unpacker;   // "grimdex"
  std::string_view extension;  // "sdb"
  PackRules rules;
  std::span<const UnpackerFormat* const> knownFormats;
};

// The whole run: `arguments` are the command line, program path first: [--strict] [--dry-run]
// [--verbose] [--changes FILE] [--code-page N] ORIGINAL SOURCE... NEW (a dry run of two paths
// has no NEW), [--strict] [--changes FILE] [--code-page N] --no-new ORIGINAL SOURCE..., or
// --help or --version (no argument: the help). A SOURCE is a folder of edited tables, a
// workbook or a database of the same kind. On success NEW holds the original with the sources'
// changes and the summary goes to standard output, after the plan with --verbose; --dry-run prints
// the plan and the summary and writes nothing. On any failure the reasons go to standard error and
// no file is created or changed. Returns the exit status: kExitSuccess after a pack, a dry run, the
// help or the version; kExitFailure when nothing was written (NEW and ORIGINAL are as they were);
// kExitUsage after a wrong command line. Messages go to the console as text.
int RunPacker(std::span<const char* const> arguments, const PackerSpec& packer,
              Console console = {});
