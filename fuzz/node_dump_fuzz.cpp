// Fuzz target: the node tree dump over any bytes, in-process, whole and drained in pieces.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "node_dump.h"
#include "node_reader.h"

namespace {

// A node takes at least a byte of the file and its line and marks a few hundred bytes of dump
// (a 64-byte preview included), so a dump larger than this shows nodes dumped over and over.
constexpr std::size_t kMostDumpBytesPerByte = 512;
constexpr std::size_t kMostDumpBytesPerRun = 4096;

// The dump texts, kept from one input to the next so that their room is reused: a sample's
// dump is a few hundred kilobytes, and fresh room for it each time would slow every run.
std::string whole;
std::string rest;
// What the drain has taken so far; the drain is a plain function, so it writes here.
std::string drained;

void DrainToString(std::string& text) {
  drained += text;
  text.clear();
}

// Whether any line, after its indent, begins with "damage: " (a preview shows no line breaks).
bool HasDamageMark(const std::string& dump) {
  std::size_t lineStart = 0;
  while (lineStart < dump.size()) {
    const std::size_t textStart = dump.find_first_not_of(' ', lineStart);
    if (textStart != std::string::npos && dump.compare(textStart, 8, "damage: ") == 0) return true;
    const std::size_t lineEnd = dump.find('\n', lineStart);
    if (lineEnd == std::string::npos) break;
    lineStart = lineEnd + 1;
  }
  return false;
}

bool EndsWithSummary(const std::string& dump) {
  const std::size_t lineStart = dump.rfind('\n', dump.size() < 2 ? 0 : dump.size() - 2);
  const std::size_t start = lineStart == std::string::npos ? 0 : lineStart + 1;
  return dump.ends_with('\n') && dump.compare(start, 9, "summary: ") == 0;
}

// Dumps the bytes once whole and once through the drain; both must give the same text.
void CheckDump(std::span<const std::uint8_t> bytes, DumpOptions options) {
  NodeReader wholeReader = MemoryNodeReader(bytes);
  whole.clear();
  const int status = DumpNodeTree(wholeReader, options, whole);
  RequireInvariant(status == kDumpWellFormed || status == kDumpDamaged,
                   "a dump of bytes in memory never fails to read");
  RequireInvariant(EndsWithSummary(whole), "a dump ends with its summary line");
  RequireInvariant(whole.size() <= kMostDumpBytesPerByte * bytes.size() + kMostDumpBytesPerRun,
                   "a dump grows in proportion to the file");
  RequireInvariant((status == kDumpWellFormed) == whole.ends_with("; well formed\n"),
                   "the verdict matches the exit status");
  RequireInvariant(HasDamageMark(whole) == (status == kDumpDamaged),
                   "a dump is damaged exactly when it marks damage");

  NodeReader drainedReader = MemoryNodeReader(bytes);
  options.drain = DrainToString;
  drained.clear();
  rest.clear();
  RequireInvariant(DumpNodeTree(drainedReader, options, rest) == status,
                   "draining does not change the verdict");
  RequireInvariant(whole.size() == drained.size() + rest.size() && whole.starts_with(drained) &&
                       whole.ends_with(rest),
                   "draining does not change the dump");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  CheckDump(bytes, DumpOptions{});
  // A shallower dump with a longer preview: the depth follows from the size, so that every
  // depth is reached without taking bytes away from the stream.
  CheckDump(bytes,
            DumpOptions{.depth = static_cast<int>(size % kFieldLevel) + 1, .previewBytes = 64});
  return 0;
}
