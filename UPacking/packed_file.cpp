// The new database written, read back, checked and moved over NEW.
#include "packed_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <random>
#include <string_view>
#include <thread>

#include "packed_bytes.h"
#include "table_text.h"

namespace {

// Random names tried beside NEW before giving up: a clash is rare, so many of them in a row
// mean that something else is wrong.
constexpr int kTemporaryNameTries = 100;

// The letters of a temporary file's random part, and how many of them it has.
constexpr std::string_view kNameSymbols = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr int kRandomNameLength = 10;

struct LineChecker : WatchLinesOnly {
  const PackPlan& plan;
  const PackRules& rules;
  std::vector<std::size_t> linesRead;
  std::string difference;

  void Line(int route, std::string_view line) {
    if (route == kDropLine) return;
    const auto table = static_cast<std::size_t>(route);
    const std::size_t index = linesRead[table]++;
    const std::vector<std::uint64_t>& expected = plan.lineHashes[table];
    if (difference.empty() && (index >= expected.size() || expected[index] != LineHash(line))) {
      difference = TableName(rules, table) + " line " + std::to_string(index + 2);
    }
  }
};

// The new database on its way: a file open for reading and writing beside NEW, and its name
// (empty while it has none: an unnamed file vanishes with the run, however the run ends).
struct TemporaryFile {
  PlatformFile file;
  std::string path;
};

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

// A short random name beside NEW: ".pack-", ten letters or digits, ".tmp". Never NEW's name with
// something added, which a long name of NEW would make too long for its folder.
std::string TemporaryPathBeside(const std::string& target) {
  static std::mt19937_64 generator(SeedOfThisRun());
  std::uniform_int_distribution<std::size_t> symbol(0, kNameSymbols.size() - 1);
  std::string path = FolderPart(target) + ".pack-";
  for (int index = 0; index < kRandomNameLength; ++index)
    path += kNameSymbols[symbol(generator)];
  return path + ".tmp";
}

// Tries random names beside NEW until `giveName(path)`, which creates or names the file there,
// does not find its name taken; from then on an interruption removes the file. Returns the
// name, or raises PackFailure saying `what` failed.
template <typename GiveName>
std::string NameBeside(const std::string& target, const std::string& what, GiveName giveName) {
  int error = 0;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    const std::string path = TemporaryPathBeside(target);
    DelayInterruptions();
    error = giveName(path);
    if (error == 0) RemoveOnInterruption(path.c_str());
    AllowInterruptions();
    if (error == 0) return path;
    if (!IsNameTaken(error)) break;
  }
  throw PackFailure{{"cannot " + what + " beside '" + target + "': " + FailureMessage(error)}};
}

// The file for the new database, with `permissions` from the start: unnamed where the platform
// allows it, otherwise under a random name.
TemporaryFile CreateTemporaryBeside(const std::string& target, int permissions) {
  TemporaryFile temporary;
  if (CreateUnnamedFile(FolderPart(target), permissions, temporary.file)) return temporary;
  temporary.path = NameBeside(target, "create a file", [&](const std::string& path) {
    return CreateNewFile(path.c_str(), permissions, temporary.file);
  });
  return temporary;
}

// Gives an unnamed temporary file a name, once it is complete and checked.
void NameTemporary(TemporaryFile& temporary, const std::string& target) {
  if (!temporary.path.empty()) return;
  temporary.path = NameBeside(target, "name the new database", [&](const std::string& path) {
    return NameUnnamedFile(temporary.file, path.c_str());
  });
}

// The permissions the new database is made with: NEW's when it exists; otherwise ORIGINAL's
// without execute bits, less the umask, as a copy gets them. A copy of a private database is
// never readable by more users than the database, not even while it is written.
int NewDatabasePermissions(const std::string& target, const std::string& originalPath) {
  int permissions = 0;
  if (FilePermissions(target.c_str(), permissions)) return permissions;
  if (FilePermissions(originalPath.c_str(), permissions)) return permissions & 0666;
  return 0600;
}

// Reads the written file back through a second handle on it and checks it (CheckPacked).
void CheckWritten(PlatformFile file, const PackRules& rules, char decimalSeparator,
                  const PackPlan& plan) {
  PlatformFile copy;
  const int error = DuplicateFile(file, copy);
  if (error != 0) RaiseIoFailure(error);
  NodeReader packed;
  try {
    ReadOpenFile(copy, packed);
    CheckPacked(packed, rules, decimalSeparator, plan);
  } catch (...) {
    static_cast<void>(CloseFile(packed.file));  // the copy, taken over by the reader
    throw;
  }
  CloseNodeReader(packed);
}

}  // namespace

void CheckTarget(const std::string& target, const std::vector<std::string>& tables) {
  if (target.empty()) throw PackFailure{{"NEW is an empty path: name the file to write"}};
  const PathKind kind = KindOfPath(target.c_str());
  if (kind == PathKind::Folder) throw PackFailure{{"'" + target + "' is a folder"}};
  if (kind == PathKind::Other) {
    throw PackFailure{{"'" + target +
                       "' is not an ordinary file (a link or a device): name "
                       "the file itself"}};
  }
  if (kind == PathKind::OrdinaryFile && !MayReplaceFile(target.c_str())) {
    throw PackFailure{{"'" + target +
                       "' may not be written by you (it is read-only, or someone else's in a "
                       "shared folder): it is not replaced"}};
  }
  PlatformFile existing;
  if (kind != PathKind::OrdinaryFile || !OpenFileForReading(target.c_str(), existing)) return;
  for (const std::string& table : tables) {
    if (IsSameFile(existing, table.c_str())) {
      static_cast<void>(CloseFile(existing));
      throw PackFailure{{"'" + target + "' is the table '" + table + "'"}};
    }
  }
  static_cast<void>(CloseFile(existing));
}

void CheckPacked(NodeReader& packed, const PackRules& rules, char decimalSeparator,
                 const PackPlan& plan) {
  if (Size(packed) != plan.newSize) {
    throw PackFailure{{"the packed database has " + std::to_string(Size(packed)) + " bytes where " +
                       std::to_string(plan.newSize) + " were written"}};
  }
  // The stored lengths are checked on a second thread, through a reader of its own, while the
  // unpacker's walk reads the lines here; damage is the first thing said.
  NodeReader second = SecondNodeReader(packed);
  std::string damage;
  std::exception_ptr checkFailure;
  std::thread lengths([&] {
    try {
      damage = FirstStoredDamage(second, plan.changed);
    } catch (...) {
      checkFailure = std::current_exception();
    }
  });
  LineChecker checker{{}, plan, rules, std::vector<std::size_t>(rules.tables.size(), 0), {}};
  std::exception_ptr walkFailure;
  try {
    SeekTo(packed, 0);
    WalkDatabase(packed, decimalSeparator, *rules.walk, checker);
  } catch (...) {
    walkFailure = std::current_exception();
  }
  lengths.join();
  static_cast<void>(CloseFile(second.file));  // read only: nothing is lost if closing fails
  if (checkFailure) std::rethrow_exception(checkFailure);
  if (!damage.empty()) throw PackFailure{{"the packed database is damaged, " + damage}};
  if (walkFailure) std::rethrow_exception(walkFailure);
  for (std::size_t table = 0; table < rules.tables.size() && checker.difference.empty(); ++table) {
    if (checker.linesRead[table] != plan.lineHashes[table].size()) {
      checker.difference = TableName(rules, table) + " line " +
                           std::to_string(checker.linesRead[table] + 2) + " (a line is missing)";
    }
  }
  if (!checker.difference.empty()) {
    throw PackFailure{{"the packed database does not read back as the edited tables, first at " +
                       checker.difference}};
  }
}

void WriteAndReplace(NodeReader& original, const std::string& originalPath, const PackRules& rules,
                     const PackPlan& plan, const std::string& target, char decimalSeparator) {
  const std::string beside = "the new database beside '" + target + "'";
  TemporaryFile temporary =
      CreateTemporaryBeside(target, NewDatabasePermissions(target, originalPath));
  try {
    InStep("cannot write " + beside, [&] {
      WritePacked(original, plan, temporary.file);
      int error = SyncFile(temporary.file);
      if (error == 0 && KindOfPath(target.c_str()) == PathKind::OrdinaryFile) {
        error = CopyPermissions(target.c_str(), temporary.file);
      }
      if (error != 0) RaiseIoFailure(error);
    });
    InStep("cannot read back " + beside,
           [&] { CheckWritten(temporary.file, rules, decimalSeparator, plan); });
    // A database open for reading cannot be replaced on every platform.
    InStep("cannot close the original database", [&] { CloseNodeReader(original); });
    NameTemporary(temporary, target);
    InStep("cannot write '" + temporary.path + "'", [&] {
      const int error = CloseFile(temporary.file);
      if (error != 0) RaiseIoFailure(error);
    });
    InStep("cannot replace '" + target + "'", [&] {
      const int error = MoveFileOver(temporary.path.c_str(), target.c_str());
      if (error != 0) RaiseIoFailure(error);
    });
  } catch (...) {
    static_cast<void>(CloseFile(temporary.file));
    if (!temporary.path.empty()) static_cast<void>(RemoveFile(temporary.path.c_str()));
    RemoveOnInterruption(nullptr);
    throw;
  }
  RemoveOnInterruption(nullptr);
  // NEW is replaced and cannot be put back: a folder that cannot be synced leaves the rename to
  // the system's own time, as every other program's.
  static_cast<void>(SyncFolder(FolderPart(target)));
}

void CheckNewCanBeWritten(const std::string& target, const std::string& originalPath) {
  TemporaryFile temporary =
      CreateTemporaryBeside(target, NewDatabasePermissions(target, originalPath));
  try {
    NameTemporary(temporary, target);
  } catch (...) {
    static_cast<void>(CloseFile(temporary.file));
    RemoveOnInterruption(nullptr);
    throw;
  }
  static_cast<void>(CloseFile(temporary.file));
  static_cast<void>(RemoveFile(temporary.path.c_str()));
  RemoveOnInterruption(nullptr);
}
