// A packer started by a drop or a double-click: a dropped workbook packed onto the database it
// was made from, into a new file beside it, in plain words.
#pragma once

#include <span>

#include "console.h"
#include "run_packer.h"

// The whole run of a packer program: RunPacker as on the command line, unless the run owns its
// console (OwnsConsole of ReadConsoleFacts); then RunPackerDrop and a wait for a key, after
// success and after failure alike. Returns the exit status.
int RunPackerProgram(std::span<const char* const> arguments, const PackerSpec& packer);

// The run of files dropped on the packer (`arguments` after the program path; none: a
// double-click). The first dropped workbook that records its database (its About sheet) names
// ORIGINAL: that file name in the workbook's folder, which must be the very database the
// workbook was made from (its recorded size and CRC-32). The dropped files, workbooks and
// databases alike, are the sources in their order, and NEW is written beside ORIGINAL under the
// next free name "spells (packed).sdb" (NextFreeName), never over a file; the last line names
// NEW and says to copy it into the game under ORIGINAL's name. A refusal (no such workbook, its
// database missing or changed, a recorded name that is not a plain file name) says what to do.
// Without a file it prints what to do, then the packer's help. Returns kExitSuccess after a pack
// or the help, kExitFailure otherwise; the window's own lines end in CR LF.
int RunPackerDrop(std::span<const char* const> arguments, const PackerSpec& packer,
                  Console console = {});
