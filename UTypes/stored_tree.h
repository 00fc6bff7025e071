// The node tree as its stored lengths give it, and the damage in it: the walk that nodedump
// shows and that the packers check before they change a database.
#pragma once

#include <algorithm>
#include <cstdint>
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

// Walks the node at the position and its children; false once a cut header ended the walk.
template <typename Visitor>
bool WalkStoredNode(NodeReader& reader, Visitor& visitor, int level, std::int64_t parentEnd) {
  const std::int64_t offset = Position(reader);
  NodeHeader header;
  try {
    header = ReadNodeHeader(reader);
  } catch (const RunFailure& failure) {
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
    visitor.HeaderCut(level, offset);
    return false;
  }
  const bool descend = visitor.Node(level, offset, header, parentEnd);
  const std::int64_t end =
      level == kDatabaseLevel ? NodeEnd(header) : std::min(NodeEnd(header), parentEnd);
  if (descend && level < kFieldLevel) {
    SeekTo(reader, header.payloadStart);
    while (Position(reader) < end && !AtEnd(reader)) {
      if (!WalkStoredNode(reader, visitor, level + 1, end)) return false;
    }
  }
  SeekTo(reader, end);
  return true;
}

}  // namespace stored_tree_detail

template <typename Visitor>
void WalkStoredTree(NodeReader& reader, Visitor& visitor) {
  while (!AtEnd(reader)) {
    if (!stored_tree_detail::WalkStoredNode(reader, visitor, kDatabaseLevel, Size(reader))) return;
  }
}

// The first damage of the database by its stored lengths, as "the <level> @<offset>: <damage>"
// or the cut header's damage; an empty text when there is none.
std::string FirstStoredDamage(NodeReader& reader);
