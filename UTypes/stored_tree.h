// The node tree as its stored lengths give it, and the damage in it: the walk that nodedump
// shows and that the packers check before they change a database.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "node_reader.h"
#include "run_failure.h"

// Levels of the tree: database nodes hold tables, tables hold records, records hold fields.
inline constexpr int kDatabaseLevel = 1;
inline constexpr int kFieldLevel = 4;

// The name of a level's nodes: "database", "table", "record", "field".
std::string_view LevelName(int level);

// Whether the stored lengths say anything is wrong with the node (NodeDamage is not empty).
inline bool HasNodeDamage(int level, const NodeHeader& header, std::int64_t parentEnd,
                          std::int64_t fileSize) {
  const std::int64_t end = NodeEnd(header);
  return header.length < 0 || (level > kDatabaseLevel && end > parentEnd) || end > fileSize;
}

// What the stored lengths say is wrong with a node whose header was read: a negative length,
// an end past its parent's end, an end past the file's end; one text each ("runs past its
// table's end @120 by 8 bytes"). A database node's parent is the file.
std::vector<std::string> NodeDamage(int level, const NodeHeader& header, std::int64_t parentEnd,
                                    std::int64_t fileSize);

// The damage of a header at `offset` that the file's end cuts off: the read found the end at
// `end`, which may come before the `fileSize` the file states (a file cut while it is read).
std::string HeaderCutDamage(int level, std::int64_t offset, std::int64_t end,
                            std::int64_t fileSize);

// Walks the nodes from the position to the end of the file by their stored lengths: database
// nodes, and in each node the children read while the position is before its end. Nothing past
// a parent's end is read as part of it: the walk goes on at each node's stated end, or at its
// parent's end when it runs past it. The visitor has
//   bool Node(int level, std::int64_t offset, const NodeHeader& header, std::int64_t parentEnd)
// called once a node's header is read (the position is at its payload; it may read from there),
// returning whether to walk its children, and
//   void HeaderCut(int level, std::int64_t offset)
// for a header that the file's end cuts off, which ends the walk (the reader's position is where
// the read found the end). Ends on any input: every node
// moves the position on by at least one byte.
template <typename Visitor>
void WalkStoredTree(NodeReader& reader, Visitor& visitor);

namespace stored_tree_detail {

// Reads a header that the held bytes may not hold; false, after telling the visitor, when the
// file's end cuts it off.
template <typename Visitor>
[[gnu::noinline]] bool ReadStoredHeaderSlowly(NodeReader& reader, Visitor& visitor, int level,
                                              std::int64_t offset, NodeHeader& header) {
  try {
    header = ReadNodeHeader(reader);
    return true;
  } catch (const IoFailure& failure) {
    // A header cut off by the file's end is the visitor's to mark, not a failed walk.
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
  }
  visitor.HeaderCut(level, offset);
  return false;
}

// Reads the header at the position; false when the file's end cuts it off.
template <typename Visitor>
inline bool ReadStoredHeader(NodeReader& reader, Visitor& visitor, int level, std::int64_t offset,
                             NodeHeader& header) {
  if (HeldBytes(reader) < 5) return ReadStoredHeaderSlowly(reader, visitor, level, offset, header);
  header = ReadNodeHeader(reader);
  return true;
}

// Walks the nodes of one level read while the position is before `parentEnd`, and each one's
// children; false once a cut header ended the walk.
template <typename Visitor>
bool WalkStoredLevel(NodeReader& reader, Visitor& visitor, int level, std::int64_t parentEnd) {
  while (Position(reader) < parentEnd && !AtEnd(reader)) {
    const std::int64_t offset = Position(reader);
    NodeHeader header;
    if (!ReadStoredHeader(reader, visitor, level, offset, header)) return false;
    const bool descend = visitor.Node(level, offset, header, parentEnd);
    // A database node's "parent" is the file, whose end the loop checks on its own.
    const std::int64_t end =
        level == kDatabaseLevel ? NodeEnd(header) : std::min(NodeEnd(header), parentEnd);
    if (descend && level < kFieldLevel) {
      SeekTo(reader, header.payloadStart);
      if (!WalkStoredLevel(reader, visitor, level + 1, end)) return false;
    }
    SeekTo(reader, end);
  }
  return true;
}

}  // namespace stored_tree_detail

template <typename Visitor>
void WalkStoredTree(NodeReader& reader, Visitor& visitor) {
  stored_tree_detail::WalkStoredLevel(reader, visitor, kDatabaseLevel, Size(reader));
}

// A stretch of a file's bytes, [start, end).
struct ByteRange {
  std::int64_t start;
  std::int64_t end;
};

// The first damage of the database by its stored lengths, as "the <level> @<offset>: <damage>"
// or the cut header's damage; an empty text when there is none.
std::string FirstStoredDamage(NodeReader& reader);

// The same for a database that is a sound one with the bytes of `changed` (sorted) written
// anew: only the nodes that hold changed bytes are looked into, down to the fields, and every
// node beside them at each level on the way; the rest are sound as they were.
std::string FirstStoredDamage(NodeReader& reader, std::span<const ByteRange> changed);
