// A file that replaces another: written unseen beside its place, named once it is complete,
// then moved over its place in one step, so that a failure at any point leaves the old file.
#pragma once

#include <string>

#include "platform.h"

// The file on its way: open for reading and writing beside `target`; `path` is empty while it
// has no name (an unnamed file vanishes with the run, however the run ends).
struct ReplacingFile {
  PlatformFile file;
  std::string path;
  std::string target;
  std::string namePrefix;  // of its random name: ".pack-", ".book-"
};

// The permissions a new file at `target` is made with: those of `target` when it exists;
// otherwise those of `model` without execute bits (a copy of a private file is never readable
// by more users), less the umask; 0600 when neither names a file.
int PermissionsForReplacement(const std::string& target, const std::string& model);

// Creates the file beside `target` with `permissions` from the start: unnamed where the platform
// allows it, otherwise under a short random name (`namePrefix`, ten letters or digits, ".tmp"),
// retried on a clash, which SIGINT, SIGTERM and SIGHUP remove. Returns 0 or the error number;
// nothing is left open after a failure.
int CreateReplacingFile(const std::string& target, const std::string& namePrefix, int permissions,
                        ReplacingFile& replacing);

// Gives an unnamed file its random name beside `target` (nothing when it has one). Returns 0 or
// the error number.
int NameReplacingFile(ReplacingFile& replacing);

// Closes the file and moves it over `target`, then syncs the folder so that the move survives a
// power cut. Returns 0 or the error number of the step that failed (the file is then still
// there, for DiscardReplacingFile).
int MoveReplacingFileOver(ReplacingFile& replacing);

// After a failure: closes the file and removes its name, if it has one. Never fails.
void DiscardReplacingFile(ReplacingFile& replacing);
