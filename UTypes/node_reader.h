// The node stream reader: node headers, payload bytes, positions and moves over a database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "platform.h"

// A node's header as read: kind byte, stored payload length and payload start.
struct NodeHeader {
  std::uint8_t kind = 0;
  std::int32_t length = 0;  // as stored; negative when the long form has its top bit set
  std::int64_t payloadStart = 0;
};

// The payload length every walk and decoder uses. A negative stored length counts as 0: a loop
// over such a node reads no children, a move to its end lands on its payload start, and a
// decoder consumes nothing, so every walk ends and no negative byte count is ever read.
inline std::int64_t PayloadLength(const NodeHeader& header) {
  return header.length < 0 ? 0 : header.length;
}

// Payload start plus payload length, in 64 bits so that it never overflows.
inline std::int64_t NodeEnd(const NodeHeader& header) {
  return header.payloadStart + PayloadLength(header);
}

// Bytes read from the file at a time.
inline constexpr std::size_t kReadBufferSize = std::size_t{256} * 1024;

// An open database with a byte position. The bytes [windowStart, windowStart + windowSize) of
// the file are held at `window`, so reads and moves inside them cost no system call; positions
// and failures are those of reading the file byte by byte. The position is kept as its offset
// from the window's start, which wraps around when the position lies before the window, so
// that one comparison tells whether a read can be served from memory.
struct NodeReader {
  PlatformFile file;  // not open for a reader over bytes in memory
  std::int64_t size = 0;
  const std::uint8_t* window = nullptr;
  std::int64_t windowStart = 0;
  std::uint64_t windowSize = 0;
  std::uint64_t offset = 0;
  std::unique_ptr<std::uint8_t[]> buffer;
  std::int64_t lastPieceEnd = -1;  // where the last ReadBytesAt ended: tells reads in order
};

// Opens the file read-only over a buffer of kReadBufferSize; false when it cannot be opened
// (missing, unreadable, not an ordinary file). A failure to learn its size raises IoFailure.
bool OpenNodeReader(const char* path, NodeReader& reader);

// Makes `reader` a reader over `file`, open for reading (a file just written, through a
// duplicate of the handle that wrote it), which it takes over: close it with CloseNodeReader,
// also after a failure here. A failure to learn its size raises IoFailure.
void ReadOpenFile(PlatformFile file, NodeReader& reader);

// A second reader over the same database, with a position of its own, for reading it beside
// the first (on another thread). A failure to open it raises IoFailure. Close it with
// CloseNodeReader.
NodeReader SecondNodeReader(const NodeReader& reader);

// A reader over bytes in memory that outlive it; reading past them fails as past a file's end.
NodeReader MemoryNodeReader(std::span<const std::uint8_t> bytes);

// Closes the file; a failure raises IoFailure.
void CloseNodeReader(NodeReader& reader);

inline std::int64_t Position(const NodeReader& reader) {
  return reader.windowStart + static_cast<std::int64_t>(reader.offset);
}

// How many bytes from the position on are held in memory.
inline std::uint64_t HeldBytes(const NodeReader& reader) {
  return reader.offset <= reader.windowSize ? reader.windowSize - reader.offset : 0;
}

// The held bytes at the position; valid only while HeldBytes is positive.
inline const std::uint8_t* HeldData(const NodeReader& reader) {
  return reader.window + reader.offset;
}

inline void Advance(NodeReader& reader, std::uint64_t count) {
  reader.offset += count;
}

inline std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
  return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}

// Reads exactly `count` bytes at the position and advances; fewer bytes available ends the
// run with "Read beyond end of file".
void ReadBytesSlowly(NodeReader& reader, std::size_t count, std::uint8_t* destination);

inline void ReadBytes(NodeReader& reader, std::size_t count, std::uint8_t* destination) {
  if (count <= HeldBytes(reader)) {
    if (count > 0) std::memcpy(destination, HeldData(reader), count);
    Advance(reader, count);
    return;
  }
  ReadBytesSlowly(reader, count, destination);
}

inline std::uint8_t ReadByte(NodeReader& reader) {
  std::uint8_t byte = 0;
  ReadBytes(reader, 1, &byte);
  return byte;
}

// Reads `count` bytes (at most the size of `scratch`) and returns where they are: in the
// reader's memory when it holds them, otherwise copied into `scratch`. Valid until the next read.
inline const std::uint8_t* ReadView(NodeReader& reader, std::size_t count, std::uint8_t* scratch) {
  if (count <= HeldBytes(reader)) {
    const std::uint8_t* view = HeldData(reader);
    Advance(reader, count);
    return view;
  }
  ReadBytesSlowly(reader, count, scratch);
  return scratch;
}

[[noreturn]] void FailReadBeyondEnd();

// Reads `count` bytes at `offset` without moving the position: from the held bytes where they
// are, otherwise straight from the file, so that small pieces read in any order cost one system
// call each rather than a window each. A small read within a window after the last one moves the
// window there first, so that pieces read in the file's order cost a system call a window. Fewer
// bytes available raises IoFailure.
void ReadBytesAt(NodeReader& reader, std::int64_t offset, std::size_t count,
                 std::uint8_t* destination);

// Raises IoFailure with "Read beyond end of file" when fewer than `count` bytes are left before the
// end of the database, as reading them would; checked before a large payload is made room for.
inline void RequireAvailable(const NodeReader& reader, std::int64_t count) {
  if (count > 0 && count > reader.size - Position(reader)) FailReadBeyondEnd();
}

// Consumes `count` bytes as a read would, without copying them.
void DiscardBytes(NodeReader& reader, std::int64_t count);

inline std::int64_t Size(const NodeReader& reader) {
  return reader.size;
}
inline bool AtEnd(const NodeReader& reader) {
  return Position(reader) >= reader.size;
}

// Moves to an absolute offset. To or past the end is allowed (the next read fails); below 0
// raises IoFailure at once. Costs no system call.
[[noreturn]] void FailNegativeSeek();

inline void SeekTo(NodeReader& reader, std::int64_t offset) {
  if (offset < 0) FailNegativeSeek();
  reader.offset = static_cast<std::uint64_t>(offset - reader.windowStart);
}

// ---- A record held in memory: read with one check for the whole record.

// Bytes a read of a held record's field may reach past the record's end: a text list's last
// element begun at the record's last byte reads its length byte and up to 127 bytes after it.
// A field header begun there, and the 4 flag bytes or 5 quintuple bytes of a field that ends
// within the record, reach less far.
inline constexpr std::int64_t kHeldRecordMargin = 1 + 127;

// Records longer than this are read with a check per read: the row room reserved for a held
// record grows with its length (RowRoomOfRecord).
inline constexpr std::int64_t kLongestHeldRecord = 16 * 1024;

// A record that lies, with kHeldRecordMargin bytes after it, in the reader's held window, so
// that its reads need no bounds check as long as each field ends within the record
// (CanReadField). It carries the position until ReleaseRecord hands it back to the reader.
struct HeldRecord {
  const std::uint8_t* window = nullptr;
  std::int64_t windowStart = 0;
  std::uint64_t offset = 0;  // of the position from the window's start
  std::int64_t end = 0;      // the record's end
};

// Whether the record from the position to `recordEnd` can be held: not longer than
// kLongestHeldRecord, and in memory with kHeldRecordMargin bytes after it.
inline bool CanHoldRecord(const NodeReader& reader, std::int64_t recordEnd) {
  const std::int64_t length = recordEnd - Position(reader);
  return length <= kLongestHeldRecord &&
         length + kHeldRecordMargin <= static_cast<std::int64_t>(HeldBytes(reader));
}

inline HeldRecord HoldRecord(const NodeReader& reader, std::int64_t recordEnd) {
  return {reader.window, reader.windowStart, reader.offset, recordEnd};
}

// Hands the position back to the reader.
inline void ReleaseRecord(NodeReader& reader, const HeldRecord& record) {
  reader.offset = record.offset;
}

// Whether a field may be read through this reader: a checked reader reads any field; a held
// record only one that ends within it, so that its reads stay within the held bytes.
inline bool CanReadField(const NodeReader&, const NodeHeader&) {
  return true;
}
inline bool CanReadField(const HeldRecord& record, const NodeHeader& field) {
  return NodeEnd(field) <= record.end;
}

inline std::int64_t Position(const HeldRecord& record) {
  return record.windowStart + static_cast<std::int64_t>(record.offset);
}

inline const std::uint8_t* ReadView(HeldRecord& record, std::size_t count, std::uint8_t*) {
  const std::uint8_t* view = record.window + record.offset;
  record.offset += count;
  return view;
}

inline void ReadBytes(HeldRecord& record, std::size_t count, std::uint8_t* destination) {
  if (count > 0) std::memcpy(destination, ReadView(record, count, destination), count);
}

inline void RequireAvailable(const HeldRecord&, std::int64_t) {}

inline void DiscardBytes(HeldRecord& record, std::int64_t count) {
  if (count > 0) record.offset += static_cast<std::uint64_t>(count);
}

// Moves within the record: the walk and the decoders move only to a payload start or a node
// end within it.
inline void SeekTo(HeldRecord& record, std::int64_t offset) {
  record.offset = static_cast<std::uint64_t>(offset - record.windowStart);
}

// ---- Node headers, through either reader.

// Reads the kind byte and the length in its short (1 byte) or long (4 bytes, lowest bit set)
// form; the payload starts at the position after it.
template <typename Reader>
NodeHeader ReadNodeHeader(Reader& reader) {
  std::uint8_t scratch[2];
  const std::uint8_t* bytes = ReadView(reader, 2, scratch);
  NodeHeader header;
  header.kind = bytes[0];
  if ((bytes[1] & 1) == 0) {
    header.length = bytes[1] >> 1;
  } else {
    // The long form's four bytes start with the byte just read. The arithmetic shift of the
    // odd signed value is (v - 1) / 2, keeping its sign.
    std::uint8_t length[4] = {bytes[1], 0, 0, 0};
    ReadBytes(reader, 3, length + 1);
    header.length = static_cast<std::int32_t>(LittleEndian32(length)) >> 1;
  }
  header.payloadStart = Position(reader);
  return header;
}
