// The name of a new file beside another that never replaces one already there.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// The most names NextFreeName tries before it gives up.
inline constexpr int kMostFreeNameTries = 9999;

// The first name, in the folder of `path`, made of its file name without its last extension
// (the stem), `tag` and `extension` (with its dot) that `isTaken` does not claim, in the order
// "stem.ext", "stem (2).ext", "stem (3).ext"... for an empty tag and "stem (tag).ext",
// "stem (tag 2).ext"... for another; a name whose only dot leads it is all stem. Empty when the
// first kMostFreeNameTries names are all taken. Allocates.
std::string NextFreeName(std::string_view path, std::string_view tag, std::string_view extension,
                         const std::function<bool(const std::string&)>& isTaken);

// The `isTaken` of names on disk: whether `path` names anything there (a file, a folder, a link
// that leads nowhere).
bool IsPathTaken(const std::string& path);
