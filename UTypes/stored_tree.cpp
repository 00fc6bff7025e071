// The damage the stored lengths show.
#include "stored_tree.h"

#include <algorithm>

namespace {

constexpr std::string_view kLevelNames[] = {"", "database", "table", "record", "field"};

// Remembers the first damage the walk meets and then stops descending.
struct FirstDamageFinder {
  NodeReader& reader;
  std::string damage;
  bool lookEverywhere = true;
  std::span<const ByteRange> changed = {};
  std::size_t nextChanged = 0;  // the first changed range that may end after the node visited

  bool Node(int level, std::int64_t offset, const NodeHeader& header, std::int64_t parentEnd) {
    if (!damage.empty()) return false;
    if (!HasNodeDamage(level, header, parentEnd, Size(reader))) {
      return lookEverywhere || HoldsChangedBytes(offset, NodeEnd(header));
    }
    Remember(level, offset, header, parentEnd);
    return false;
  }
  [[gnu::noinline]] void Remember(int level, std::int64_t offset, const NodeHeader& header,
                                  std::int64_t parentEnd) {
    damage = "the " + std::string(LevelName(level)) + " @" + std::to_string(offset) + ": " +
             NodeDamage(level, header, parentEnd, Size(reader)).front();
  }
  // Whether [start, end) meets a changed range. Nodes are visited in the order of their
  // offsets, so the ranges that end before a node's start are passed over once.
  bool HoldsChangedBytes(std::int64_t start, std::int64_t end) {
    while (nextChanged < changed.size() && changed[nextChanged].end <= start)
      ++nextChanged;
    return nextChanged < changed.size() && changed[nextChanged].start < end;
  }
  void HeaderCut(int level, std::int64_t offset) {
    if (damage.empty()) damage = HeaderCutDamage(level, offset, Position(reader), Size(reader));
  }
};

}  // namespace

std::string_view LevelName(int level) {
  return kLevelNames[level];
}

std::vector<std::string> NodeDamage(int level, const NodeHeader& header, std::int64_t parentEnd,
                                    std::int64_t fileSize) {
  std::vector<std::string> damage;
  if (header.length < 0) {
    damage.push_back("negative length " + std::to_string(header.length) +
                     ", read as an empty payload");
  }
  const std::int64_t end = NodeEnd(header);
  if (level > kDatabaseLevel && end > parentEnd) {
    damage.push_back("runs past its " + std::string(LevelName(level - 1)) + "'s end @" +
                     std::to_string(parentEnd) + " by " + std::to_string(end - parentEnd) +
                     " bytes");
  }
  if (end > fileSize) {
    damage.push_back("the file ends @" + std::to_string(fileSize) + ", " +
                     std::to_string(end - fileSize) + " bytes before this node's end @" +
                     std::to_string(end));
  }
  return damage;
}

std::string HeaderCutDamage(int level, std::int64_t offset, std::int64_t end,
                            std::int64_t fileSize) {
  std::string damage = "the file ends @" + std::to_string(end) + " inside the header of a " +
                       std::string(LevelName(level)) + " @" + std::to_string(offset);
  if (end < fileSize) damage += ", though it states " + std::to_string(fileSize) + " bytes";
  return damage;
}

std::string FirstStoredDamage(NodeReader& reader) {
  FirstDamageFinder finder{reader, {}};
  SeekTo(reader, 0);
  WalkStoredTree(reader, finder);
  return finder.damage;
}

std::string FirstStoredDamage(NodeReader& reader, std::span<const ByteRange> changed) {
  FirstDamageFinder finder{reader, {}, false, changed};
  SeekTo(reader, 0);
  WalkStoredTree(reader, finder);
  return finder.damage;
}
