// An unpacker started by a drop or a double-click: a workbook beside each database, in plain words.
#pragma once

#include <span>

#include "console.h"
#include "unpacker_format.h"

// The whole run of a format's unpacker program: RunUnpacker as on the command line, unless the
// run owns its console (OwnsConsole of ReadConsoleFacts); then RunUnpackerDrop, a line that asks
// for a key, and a wait for it, after success and after failure alike. Returns the exit status.
int RunUnpackerProgram(std::span<const char* const> arguments, const UnpackerFormat& format);

// The run of databases dropped on the unpacker (`arguments` after the program path; none: a
// double-click): each database is unpacked into a workbook beside it named after it ("spells.sdb"
// gives "spells.xlsx"), never over a file already there (NextFreeName: "spells (2).xlsx", said in
// the last line), and the run's last line says what became of it. Without a database it prints
// what to do, then the banner with the command line's usage. Returns kExitSuccess when every
// database was unpacked, kExitFailure otherwise, the console's lines ending in CR LF.
int RunUnpackerDrop(std::span<const char* const> arguments, const UnpackerFormat& format,
                    Console console = {});
