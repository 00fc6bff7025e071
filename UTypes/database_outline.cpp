// The outline of a database, read by its stored lengths.
#include "database_outline.h"

#include <algorithm>

#include "stored_tree.h"

namespace {

// Notes the database nodes and the field codes of each table kind.
struct OutlineWatcher {
  DatabaseOutline& outline;
  std::uint8_t tableKind = 0;

  bool Node(int level, std::int64_t /*offset*/, const NodeHeader& header, std::int64_t /*end*/) {
    if (level == kDatabaseLevel) ++outline.databaseNodes;
    if (level == kDatabaseLevel + 1) tableKind = header.kind;
    if (level == kFieldLevel) {
      int& highest = outline.highestFieldCode[tableKind];
      highest = std::max(highest, int{header.kind});
    }
    return true;
  }
  void HeaderCut(int /*level*/, std::int64_t /*offset*/) {}
};

}  // namespace

DatabaseOutline OutlineOf(NodeReader& database) {
  DatabaseOutline outline;
  outline.size = Size(database);
  outline.highestFieldCode.fill(-1);
  OutlineWatcher watcher{outline};
  SeekTo(database, 0);
  WalkStoredTree(database, watcher);
  return outline;
}
