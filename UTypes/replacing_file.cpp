// Files written beside their place and moved over it.
#include "replacing_file.h"

#include <chrono>
#include <random>
#include <string_view>

namespace {

// Random names tried beside the target before giving up: a clash is rare, so many of them in a
// row mean that something else is wrong.
constexpr int kTemporaryNameTries = 100;

// The letters of a temporary file's random part, and how many of them it has.
constexpr std::string_view kNameSymbols = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr int kRandomNameLength = 10;

// Different in every run, also where std::random_device gives the same numbers each time (some
// MinGW runtimes) or none.
std::uint64_t SeedOfThisRun() {
  auto seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch() /
                                         std::chrono::nanoseconds(1));
  try {
    std::random_device device;
    seed ^= (std::uint64_t{device()} << 32) ^ device();
  } catch (...) {
    // No random device: the clock alone.
  }
  return seed;
}

// A short random name beside the target. Never the target's name with something added, which a
// long target name would make too long for its folder.
std::string TemporaryPathBeside(const ReplacingFile& replacing) {
  static std::mt19937_64 generator(SeedOfThisRun());
  std::uniform_int_distribution<std::size_t> symbol(0, kNameSymbols.size() - 1);
  std::string path = FolderPart(replacing.target) + replacing.namePrefix;
  for (int index = 0; index < kRandomNameLength; ++index)
    path += kNameSymbols[symbol(generator)];
  return path + ".tmp";
}

// Tries random names until `giveName(path)`, which creates or names the file there, does not
// find its name taken; from then on an interruption removes the file. Returns 0 or the error.
template <typename GiveName>
int NameBeside(ReplacingFile& replacing, GiveName giveName) {
  int error = 0;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    const std::string path = TemporaryPathBeside(replacing);
    DelayInterruptions();
    error = giveName(path);
    if (error == 0) RemoveOnInterruption(path.c_str());
    AllowInterruptions();
    if (error == 0) {
      replacing.path = path;
      return 0;
    }
    if (!IsNameTaken(error)) break;
  }
  return error;
}

}  // namespace

int PermissionsForReplacement(const std::string& target, const std::string& model) {
  int permissions = 0;
  if (FilePermissions(target.c_str(), permissions)) return permissions;
  if (FilePermissions(model.c_str(), permissions)) return permissions & 0666;
  return 0600;
}

int CreateReplacingFile(const std::string& target, const std::string& namePrefix, int permissions,
                        ReplacingFile& replacing) {
  replacing = ReplacingFile{{}, {}, target, namePrefix};
  if (CreateUnnamedFile(FolderPart(target), permissions, replacing.file)) return 0;
  return NameBeside(replacing, [&](const std::string& path) {
    return CreateNewFile(path.c_str(), permissions, replacing.file);
  });
}

int NameReplacingFile(ReplacingFile& replacing) {
  if (!replacing.path.empty()) return 0;
  return NameBeside(replacing, [&](const std::string& path) {
    return NameUnnamedFile(replacing.file, path.c_str());
  });
}

int MoveReplacingFileOver(ReplacingFile& replacing) {
  int error = NameReplacingFile(replacing);
  if (error == 0) error = CloseFile(replacing.file);
  if (error == 0) error = MoveFileOver(replacing.path.c_str(), replacing.target.c_str());
  if (error != 0) return error;
  RemoveOnInterruption(nullptr);
  // The target is replaced and cannot be put back: a folder that cannot be synced leaves the
  // rename to the system's own time, as every other program's.
  static_cast<void>(SyncFolder(FolderPart(replacing.target)));
  return 0;
}

void DiscardReplacingFile(ReplacingFile& replacing) {
  static_cast<void>(CloseFile(replacing.file));
  if (!replacing.path.empty()) static_cast<void>(RemoveFile(replacing.path.c_str()));
  RemoveOnInterruption(nullptr);
}
