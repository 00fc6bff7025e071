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
};

// Opens the file read-only over a buffer of kReadBufferSize; false when it cannot be opened
// (missing, unreadable, not an ordinary file). A failure to learn its size ends the run.
bool OpenNodeReader(const char* path, NodeReader& reader);

// A reader over bytes in memory that outlive it; reading past them fails as past a file's end.
NodeReader MemoryNodeReader(std::span<const std::uint8_t> bytes);

// Closes the file; a failure ends the run.
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

// Ends the run with "Read beyond end of file" when fewer than `count` bytes are left before the
// end of the database, as reading them would; checked before a large payload is made room for.
void RequireAvailable(const NodeReader& reader, std::int64_t count);

// Consumes `count` bytes as a read would, without copying them.
void DiscardBytes(NodeReader& reader, std::int64_t count);

NodeHeader ReadNodeHeaderSlowly(NodeReader& reader);

// Reads the kind byte and the length in its short (1 byte) or long (4 bytes, lowest bit set)
// form; the payload starts at the position after it.
inline NodeHeader ReadNodeHeader(NodeReader& reader) {
  if (HeldBytes(reader) < 5) return ReadNodeHeaderSlowly(reader);
  const std::uint8_t* bytes = HeldData(reader);
  NodeHeader header;
  header.kind = bytes[0];
  if ((bytes[1] & 1) == 0) {
    header.length = bytes[1] >> 1;
    Advance(reader, 2);
  } else {
    // Arithmetic shift of the odd signed value: (v - 1) / 2, keeping its sign.
    header.length = static_cast<std::int32_t>(LittleEndian32(bytes + 1)) >> 1;
    Advance(reader, 5);
  }
  header.payloadStart = Position(reader);
  return header;
}

inline std::int64_t Size(const NodeReader& reader) {
  return reader.size;
}
inline bool AtEnd(const NodeReader& reader) {
  return Position(reader) >= reader.size;
}

// Moves to an absolute offset. To or past the end is allowed (the next read fails); below 0
// ends the run at once. Costs no system call.
[[noreturn]] void FailNegativeSeek();

inline void SeekTo(NodeReader& reader, std::int64_t offset) {
  if (offset < 0) FailNegativeSeek();
  reader.offset = static_cast<std::uint64_t>(offset - reader.windowStart);
}
