// The next free name beside a file: "spells (2).xlsx", "spells (packed).sdb".
#include "next_free_name.h"

#include "platform.h"

namespace {

// The file name of `path` without its folder and its last extension.
std::string_view StemOf(std::string_view path) {
  std::string_view name = path.substr(FolderPart(path).size());
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// The words in brackets after the stem of the `number`th name tried, counted from 1.
std::string Bracketed(std::string_view tag, int number) {
  std::string words(tag);
  if (number > 1) {
    if (!words.empty()) words += ' ';
    words += std::to_string(number);
  }
  return words.empty() ? std::string() : " (" + words + ")";
}

}  // namespace

std::string NextFreeName(std::string_view path, std::string_view tag, std::string_view extension,
                         const std::function<bool(const std::string&)>& isTaken) {
  const std::string start = FolderPart(path) + std::string(StemOf(path));
  for (int number = 1; number <= kMostFreeNameTries; ++number) {
    std::string candidate = start + Bracketed(tag, number) + std::string(extension);
    if (!isTaken(candidate)) return candidate;
  }
  return {};
}

bool IsPathTaken(const std::string& path) {
  return KindOfPath(path.c_str()) != PathKind::Missing;
}
