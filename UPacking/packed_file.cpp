// The new database written, read back, checked and moved over NEW.
#include "packed_file.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "table_text.h"

namespace {

// Temporary names tried beside NEW before giving up.
constexpr int kTemporaryNames = 100;

// Bytes on their way to the output file, written in large pieces.
struct OutputBuffer {
  PlatformFile file;
  std::unique_ptr<std::uint8_t[]> bytes =
      std::make_unique_for_overwrite<std::uint8_t[]>(kReadBufferSize);
  std::size_t size = 0;

  void Flush() {
    const int error = WriteFileFully(file, bytes.get(), size);
    size = 0;
    if (error != 0) FailRun(error);
  }
  void Append(std::string_view text) {
    if (text.empty()) return;
    if (size + text.size() > kReadBufferSize) Flush();
    if (text.size() > kReadBufferSize) {
      const int error = WriteFileFully(file, text.data(), text.size());
      if (error != 0) FailRun(error);
      return;
    }
    std::memcpy(bytes.get() + size, text.data(), text.size());
    size += text.size();
  }
};

// Copies the original's [start, end), read straight into the output's buffer.
void CopyOriginal(NodeReader& original, std::int64_t start, std::int64_t end,
                  OutputBuffer& output) {
  SeekTo(original, start);
  while (start < end) {
    if (output.size == kReadBufferSize) output.Flush();
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(
        end - start, static_cast<std::int64_t>(kReadBufferSize - output.size)));
    ReadBytes(original, count, output.bytes.get() + output.size);
    output.size += count;
    start += static_cast<std::int64_t>(count);
  }
}

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


// A file made for the new database beside NEW, under a name nothing else has.
std::string CreateTemporaryBeside(const std::string& target, PlatformFile& file) {
  int error = 0;
  for (int attempt = 1; attempt <= kTemporaryNames; ++attempt) {
    const std::string path = target + ".pack" + std::to_string(attempt) + ".tmp";
    error = CreateNewFile(path.c_str(), file);
    if (error == 0) return path;
    if (KindOfPath(path.c_str()) == PathKind::Missing) break;  // not a taken name: a real failure
  }
  throw PackFailure{{"cannot create a file beside '" + target + "': " + FailureMessage(error)}};
}

}  // namespace

void CheckTarget(const std::string& target, const std::vector<std::string>& tables) {
  const PathKind kind = KindOfPath(target.c_str());
  if (kind == PathKind::Folder) throw PackFailure{{"'" + target + "' is a folder"}};
  if (kind == PathKind::Other) {
    throw PackFailure{{"'" + target +
                       "' is not an ordinary file (a link or a device): name "
                       "the file itself"}};
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


void WritePacked(NodeReader& original, const PackPlan& plan, PlatformFile output) {
  OutputBuffer buffer{output};
  std::int64_t copied = 0;
  for (const ByteEdit& edit : plan.edits) {
    CopyOriginal(original, copied, edit.at, buffer);
    buffer.Append(edit.bytes);
    CopyOriginal(original, edit.copyFrom, edit.copyFrom + edit.copySize, buffer);
    copied = std::max(copied, edit.at + edit.removed);
  }
  CopyOriginal(original, copied, Size(original), buffer);
  buffer.Flush();
}

void CheckPacked(NodeReader& packed, const PackRules& rules, char decimalSeparator,
                 const PackPlan& plan) {
  if (Size(packed) != plan.newSize) {
    throw PackFailure{{"the packed database has " + std::to_string(Size(packed)) + " bytes where " +
                       std::to_string(plan.newSize) + " were written"}};
  }
  const std::string damage = FirstStoredDamage(packed, plan.changed);
  if (!damage.empty()) throw PackFailure{{"the packed database is damaged, " + damage}};
  LineChecker checker{{}, plan, rules, std::vector<std::size_t>(rules.tables.size(), 0), {}};
  SeekTo(packed, 0);
  WalkDatabase(packed, decimalSeparator, *rules.walk, checker);
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

// Writes the new database to a temporary file beside NEW, reads it back, checks it and moves
// it over NEW; on a failure the temporary file is removed and the failure raised again.
void WriteAndReplace(NodeReader& original, const PackRules& rules, const PackPlan& plan,
                     const std::string& target, char decimalSeparator) {
  PlatformFile output;
  const std::string temporary = CreateTemporaryBeside(target, output);
  try {
    InStep("cannot write '" + temporary + "'", [&] {
      WritePacked(original, plan, output);
      int error = SyncFile(output);
      if (error == 0 && KindOfPath(target.c_str()) == PathKind::OrdinaryFile) {
        error = CopyPermissions(target.c_str(), output);
      }
      const int closeError = CloseFile(output);
      if (error != 0 || closeError != 0) FailRun(error != 0 ? error : closeError);
    });
    NodeReader packed;
    InStep("cannot read back '" + temporary + "'", [&] {
      if (!OpenNodeReader(temporary.c_str(), packed)) FailRun(kErrorReadBeyondEnd);
      try {
        CheckPacked(packed, rules, decimalSeparator, plan);
      } catch (...) {
        static_cast<void>(CloseFile(packed.file));
        throw;
      }
      CloseNodeReader(packed);
    });
    // A database open for reading cannot be replaced on every platform.
    InStep("cannot close the original database", [&] { CloseNodeReader(original); });
    InStep("cannot replace '" + target + "'", [&] {
      const int error = MoveFileOver(temporary.c_str(), target.c_str());
      if (error != 0) FailRun(error);
    });
  } catch (...) {
    static_cast<void>(CloseFile(output));
    static_cast<void>(RemoveFile(temporary.c_str()));
    throw;
  }
}

