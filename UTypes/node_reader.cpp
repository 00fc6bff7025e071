// The node stream reader over a buffered file or bytes in memory.
#include "node_reader.h"

#include "run_failure.h"

namespace {

bool IsMemoryReader(const NodeReader& reader) {
  return reader.file.handle < 0;
}

// Reads the file at `offset` until `count` bytes are in, or raises IoFailure.
void ReadFileExactly(NodeReader& reader, std::int64_t offset, std::size_t count,
                     std::uint8_t* destination) {
  while (count > 0) {
    std::size_t got = 0;
    const int error = ReadFileAt(reader.file, offset, destination, count, got);
    if (error != 0) RaiseIoFailure(error);
    if (got == 0) RaiseIoFailure(kErrorReadBeyondEnd);
    offset += static_cast<std::int64_t>(got);
    destination += got;
    count -= got;
  }
}

// Fills the buffer with the file's bytes from the position on; at the end, raises IoFailure.
void RefillWindow(NodeReader& reader) {
  std::size_t got = 0;
  const int error =
      ReadFileAt(reader.file, Position(reader), reader.buffer.get(), kReadBufferSize, got);
  if (error != 0) RaiseIoFailure(error);
  if (got == 0) RaiseIoFailure(kErrorReadBeyondEnd);
  reader.window = reader.buffer.get();
  reader.windowStart = Position(reader);
  reader.windowSize = got;
  reader.offset = 0;
}

bool HoldsBytesAt(const NodeReader& reader, std::int64_t offset, std::size_t count) {
  const std::int64_t windowEnd = reader.windowStart + static_cast<std::int64_t>(reader.windowSize);
  return offset >= reader.windowStart && offset + static_cast<std::int64_t>(count) <= windowEnd;
}

// Whether a read at `offset` lies within a window after the last read of pieces, as reads going
// forward through the file do (a table's records read in order), and is small enough to be taken
// from a window.
bool ReadsOn(const NodeReader& reader, std::int64_t offset, std::size_t count) {
  constexpr auto kWindow = static_cast<std::int64_t>(kReadBufferSize);
  return !IsMemoryReader(reader) && count <= kReadBufferSize / 2 && offset >= reader.lastPieceEnd &&
         offset - reader.lastPieceEnd < kWindow;
}

// Holds the file's bytes from `offset` on in the window, keeping the position: a position the
// window then lies past is read again from the file when reached. A failed read keeps the
// window as it was.
void MoveWindowTo(NodeReader& reader, std::int64_t offset) {
  std::size_t got = 0;
  const int error = ReadFileAt(reader.file, offset, reader.buffer.get(), kReadBufferSize, got);
  if (error != 0 || got == 0) return;
  const std::int64_t position = Position(reader);
  reader.window = reader.buffer.get();
  reader.windowStart = offset;
  reader.windowSize = got;
  SeekTo(reader, position);
}

}  // namespace

bool OpenNodeReader(const char* path, NodeReader& reader) {
  reader = NodeReader{};
  PlatformFile file;
  if (!OpenFileForReading(path, file)) return false;
  ReadOpenFile(file, reader);
  return true;
}

void ReadOpenFile(PlatformFile file, NodeReader& reader) {
  reader = NodeReader{};
  reader.file = file;
  const int error = FileSize(reader.file, reader.size);
  if (error != 0) RaiseIoFailure(error);
  reader.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBufferSize);
}

NodeReader SecondNodeReader(const NodeReader& reader) {
  if (IsMemoryReader(reader)) {
    return MemoryNodeReader({reader.window, static_cast<std::size_t>(reader.windowSize)});
  }
  NodeReader second;
  const int error = DuplicateFile(reader.file, second.file);
  if (error != 0) RaiseIoFailure(error);
  second.size = reader.size;
  second.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBufferSize);
  return second;
}

NodeReader MemoryNodeReader(std::span<const std::uint8_t> bytes) {
  NodeReader reader;
  reader.size = static_cast<std::int64_t>(bytes.size());
  reader.window = bytes.data();
  reader.windowSize = bytes.size();
  return reader;
}

void CloseNodeReader(NodeReader& reader) {
  const int error = CloseFile(reader.file);
  if (error != 0) RaiseIoFailure(error);
}

void ReadBytesSlowly(NodeReader& reader, std::size_t count, std::uint8_t* destination) {
  while (count > 0) {
    const std::uint64_t held = HeldBytes(reader);
    if (held > 0) {
      const std::size_t taken = count < held ? count : static_cast<std::size_t>(held);
      std::memcpy(destination, HeldData(reader), taken);
      Advance(reader, taken);
      destination += taken;
      count -= taken;
    } else if (IsMemoryReader(reader)) {
      RaiseIoFailure(kErrorReadBeyondEnd);
    } else if (count >= kReadBufferSize) {
      // A large payload goes straight to its destination rather than through the buffer.
      const std::int64_t start = Position(reader);
      ReadFileExactly(reader, start, count, destination);
      SeekTo(reader, start + static_cast<std::int64_t>(count));
      return;
    } else {
      RefillWindow(reader);
    }
  }
}

void ReadBytesAt(NodeReader& reader, std::int64_t offset, std::size_t count,
                 std::uint8_t* destination) {
  if (!HoldsBytesAt(reader, offset, count) && ReadsOn(reader, offset, count)) {
    MoveWindowTo(reader, offset);
  }
  reader.lastPieceEnd = offset + static_cast<std::int64_t>(count);
  if (HoldsBytesAt(reader, offset, count)) {
    if (count > 0) std::memcpy(destination, reader.window + (offset - reader.windowStart), count);
  } else if (IsMemoryReader(reader)) {
    RaiseIoFailure(kErrorReadBeyondEnd);
  } else {
    ReadFileExactly(reader, offset, count, destination);
  }
}

void FailReadBeyondEnd() {
  RaiseIoFailure(kErrorReadBeyondEnd);
}

void DiscardBytes(NodeReader& reader, std::int64_t count) {
  if (count <= 0) return;
  RequireAvailable(reader, count);
  SeekTo(reader, Position(reader) + count);
}

void FailNegativeSeek() {
  RaiseIoFailure(NegativeSeekError());
}
