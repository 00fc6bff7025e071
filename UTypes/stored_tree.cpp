// The damage the stored lengths show.
#include "stored_tree.h"

namespace {

constexpr std::string_view kLevelNames[] = {"", "database", "table", "record", "field"};

// Remembers the first damage the walk meets and then stops descending.
struct FirstDamageFinder {
  NodeReader& reader;
  std::string damage;

  bool Node(int level, std::int64_t offset, const NodeHeader& header, std::int64_t parentEnd) {
    if (!damage.empty()) return false;
    const std::vector<std::string> found = NodeDamage(level, header, parentEnd, Size(reader));
    if (!found.empty()) {
      damage = "the " + std::string(LevelName(level)) + " @" + std::to_string(offset) + ": " +
               found.front();
    }
    return damage.empty();
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
