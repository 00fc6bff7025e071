// Writing the new database's bytes.
#include "packed_bytes.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "run_failure.h"

namespace {

// The new database is put together in memory this much at a time where records move (a
// window of it holds many records, whose places in the original lie close enough to be read
// together), otherwise through a buffer of the reader's size.
constexpr std::size_t kMovingWindow = std::size_t{32} << 20;

// Moved records that lie closer than this in the original are read as one piece, up to
// kLargestPiece bytes.
constexpr std::int64_t kLargestGap = 16 * 1024;
constexpr std::int64_t kLargestPiece = 1 << 20;

// A moved record to be read into the window: where it lies in the original, and in the window.
struct MovedRecord {
  std::int64_t source;
  std::uint32_t size;
  std::size_t at;
};

// The new database's next bytes, gathered before they are written.
struct OutputWindow {
  PlatformFile file;
  std::vector<std::uint8_t> bytes;
  std::size_t size = 0;
  std::vector<MovedRecord> moved;  // still to be read into their places
};

// Reads the moved records into their places in the window, in the order they lie in the
// original, neighbours together.
void ReadMovedRecords(NodeReader& original, OutputWindow& window) {
  std::ranges::sort(window.moved, {}, &MovedRecord::source);
  std::vector<std::uint8_t> piece;
  for (std::size_t first = 0; first < window.moved.size();) {
    const std::int64_t start = window.moved[first].source;
    std::int64_t end = start + window.moved[first].size;
    std::size_t last = first + 1;
    while (last < window.moved.size() && window.moved[last].source - end <= kLargestGap &&
           window.moved[last].source + window.moved[last].size - start <= kLargestPiece) {
      end = std::max(end, window.moved[last].source + window.moved[last].size);
      ++last;
    }
    piece.resize(static_cast<std::size_t>(end - start));
    ReadBytesAt(original, start, piece.size(), piece.data());
    for (std::size_t at = first; at < last; ++at) {
      const MovedRecord& record = window.moved[at];
      std::memcpy(window.bytes.data() + record.at, piece.data() + (record.source - start),
                  record.size);
    }
    first = last;
  }
  window.moved.clear();
}

void Flush(NodeReader& original, OutputWindow& window) {
  ReadMovedRecords(original, window);
  // Written in pieces of the size the reads use: one write of the whole window is several times
  // slower on some kernels, which copy a large write's pages into the page cache slowly.
  for (std::size_t at = 0; at < window.size; at += kReadBufferSize) {
    const std::size_t count = std::min(kReadBufferSize, window.size - at);
    const int error = WriteFileFully(window.file, window.bytes.data() + at, count);
    if (error != 0) RaiseIoFailure(error);
  }
  window.size = 0;
}

// Room for `count` more bytes: the window is written first when they do not fit.
void MakeRoom(NodeReader& original, OutputWindow& window, std::size_t count) {
  if (window.size + count > window.bytes.size()) Flush(original, window);
}

// The original's [start, end), which stays: read on, through the reader.
void AppendOriginal(NodeReader& original, std::int64_t start, std::int64_t end,
                    OutputWindow& window) {
  SeekTo(original, start);
  while (start < end) {
    if (window.size == window.bytes.size()) Flush(original, window);
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(
        end - start, static_cast<std::int64_t>(window.bytes.size() - window.size)));
    ReadBytes(original, count, window.bytes.data() + window.size);
    window.size += count;
    start += static_cast<std::int64_t>(count);
  }
}

void AppendInserted(NodeReader& original, std::string_view bytes, OutputWindow& window) {
  while (!bytes.empty()) {
    if (window.size == window.bytes.size()) Flush(original, window);
    const std::size_t count = std::min(bytes.size(), window.bytes.size() - window.size);
    std::memcpy(window.bytes.data() + window.size, bytes.data(), count);
    window.size += count;
    bytes.remove_prefix(count);
  }
}

// A moved record's place in the window, filled when the window is written.
void AppendMoved(NodeReader& original, const CopiedPiece& copy, OutputWindow& window) {
  if (copy.size > window.bytes.size()) {  // larger than the window: on its own
    Flush(original, window);
    AppendOriginal(original, copy.offset, copy.offset + copy.size, window);
    return;
  }
  MakeRoom(original, window, copy.size);
  window.moved.push_back({copy.offset, copy.size, window.size});
  window.size += copy.size;
}

}  // namespace

void WritePacked(NodeReader& original, const PackPlan& plan, PlatformFile output) {
  OutputWindow window{output, {}, 0, {}};
  const std::size_t capacity = plan.copies.empty() ? kReadBufferSize : kMovingWindow;
  window.bytes.resize(static_cast<std::size_t>(std::min<std::int64_t>(
      std::max<std::int64_t>(plan.newSize, 1), static_cast<std::int64_t>(capacity))));
  std::int64_t copied = 0;
  for (const ByteEdit& edit : plan.edits) {
    AppendOriginal(original, copied, edit.at, window);
    AppendInserted(original, InsertedBytes(plan, edit), window);
    for (std::uint32_t piece = edit.firstCopy; piece < edit.firstCopy + edit.copies; ++piece)
      AppendMoved(original, plan.copies[piece], window);
    copied = std::max(copied, edit.at + edit.removed);
  }
  AppendOriginal(original, copied, Size(original), window);
  Flush(original, window);
}
