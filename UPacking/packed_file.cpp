// The new database written, read back, checked and moved over NEW.
#include "packed_file.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>
#include <thread>

#include "message_text.h"
#include "packed_bytes.h"
#include "replacing_file.h"
#include "table_text.h"

namespace {

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
      difference = TableName(rules, table) + " line " + std::to_string(TableFileLine(index));
    }
  }
};

// The file for the new database, with `permissions` from the start (CreateReplacingFile).
ReplacingFile CreateTemporaryBeside(const std::string& target, int permissions) {
  ReplacingFile temporary;
  const int error = CreateReplacingFile(target, ".pack-", permissions, temporary);
  if (error != 0) {
    throw PackFailure{
        {"cannot create a file beside " + QuotedPath(target) + ": " + FailureMessage(error)}};
  }
  return temporary;
}

// Gives an unnamed temporary file a name, once it is complete and checked.
void NameTemporary(ReplacingFile& temporary, const std::string& target) {
  const int error = NameReplacingFile(temporary);
  if (error != 0) {
    throw PackFailure{{"cannot name the new database beside " + QuotedPath(target) + ": " +
                       FailureMessage(error)}};
  }
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
  if (kind == PathKind::Folder) throw PackFailure{{QuotedPath(target) + " is a folder"}};
  if (kind == PathKind::Other) {
    throw PackFailure{{QuotedPath(target) + " is not an ordinary file (a link or a device): name "
                                            "the file itself"}};
  }
  if (kind == PathKind::OrdinaryFile && !MayReplaceFile(target.c_str())) {
    throw PackFailure{{QuotedPath(target) +
                       " may not be written by you (it is read-only, or someone else's in a "
                       "shared folder): it is not replaced"}};
  }
  PlatformFile existing;
  if (kind != PathKind::OrdinaryFile || !OpenFileForReading(target.c_str(), existing)) return;
  for (const std::string& table : tables) {
    if (IsSameFile(existing, table.c_str())) {
      static_cast<void>(CloseFile(existing));
      throw PackFailure{{QuotedPath(target) + " is the table " + QuotedPath(table)}};
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
                           std::to_string(TableFileLine(checker.linesRead[table])) +
                           " (a line is missing)";
    }
  }
  if (!checker.difference.empty()) {
    throw PackFailure{{"the packed database does not read back as the edited tables, first at " +
                       checker.difference}};
  }
}

void WriteAndReplace(NodeReader& original, const std::string& originalPath, const PackRules& rules,
                     const PackPlan& plan, const std::string& target, char decimalSeparator) {
  const std::string beside = "the new database beside " + QuotedPath(target);
  ReplacingFile temporary =
      CreateTemporaryBeside(target, PermissionsForReplacement(target, originalPath));
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
    InStep("cannot write " + QuotedPath(temporary.path), [&] {
      const int error = CloseFile(temporary.file);
      if (error != 0) RaiseIoFailure(error);
    });
    InStep("cannot replace " + QuotedPath(target), [&] {
      const int error = MoveFileOver(temporary.path.c_str(), target.c_str());
      if (error != 0) RaiseIoFailure(error);
    });
  } catch (...) {
    DiscardReplacingFile(temporary);
    throw;
  }
  RemoveOnInterruption(nullptr);
  // NEW is replaced and cannot be put back: a folder that cannot be synced leaves the rename to
  // the system's own time, as every other program's.
  static_cast<void>(SyncFolder(FolderPart(target)));
}

void CheckNewCanBeWritten(const std::string& target, const std::string& originalPath) {
  ReplacingFile temporary =
      CreateTemporaryBeside(target, PermissionsForReplacement(target, originalPath));
  try {
    NameTemporary(temporary, target);
  } catch (...) {
    DiscardReplacingFile(temporary);
    throw;
  }
  DiscardReplacingFile(temporary);
}
