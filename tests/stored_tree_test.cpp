// Tests of the walk by stored lengths: it finds the nodes the writer framed, reports damage and
// cut headers without reading past the file, and the walk over changed bytes finds what the
// whole walk finds.
#include "stored_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "node_writer.h"
#include "session_databases.h"

namespace {

NodeReader ReaderOf(const std::string& bytes) {
  return MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

struct VisitedNode {
  int level;
  std::int64_t offset;
  std::int64_t end;
  bool operator==(const VisitedNode&) const = default;
};

void PrintTo(const VisitedNode& node, std::ostream* out) {
  *out << LevelName(node.level) << " @" << node.offset << " to @" << node.end;
}

// Notes every node and cut header the walk meets, and descends everywhere.
struct NodeRecorder {
  std::vector<VisitedNode> nodes;
  int cutLevel = 0;
  std::int64_t cutOffset = -1;

  bool Node(int level, std::int64_t offset, const NodeHeader& header, std::int64_t) {
    nodes.push_back({level, offset, NodeEnd(header)});
    return true;
  }
  void HeaderCut(int level, std::int64_t offset) {
    cutLevel = level;
    cutOffset = offset;
  }
};

NodeRecorder Walk(const std::string& bytes) {
  NodeReader reader = ReaderOf(bytes);
  NodeRecorder recorder;
  WalkStoredTree(reader, recorder);
  return recorder;
}

// Writes random nodes below `level` into the writer, in random length forms, noting each
// node where the writer framed it.
void WriteRandomNodes(NodeWriter& writer, Random& random, int level,
                      std::vector<VisitedNode>& framed) {
  const LengthForm forms[] = {LengthForm::Short, LengthForm::Long, LengthForm::Auto};
  const std::size_t count = RandomBelow(random, level == kDatabaseLevel ? 3 : 4);
  for (std::size_t node = 0; node < count; ++node) {
    const auto kind = static_cast<std::uint8_t>(RandomBelow(random, 256));
    const std::size_t at = framed.size();
    framed.push_back({level, static_cast<std::int64_t>(writer.bytes.size()), 0});
    if (level == kFieldLevel) {
      const std::size_t payload = RandomChance(random, 10) ? 200 : RandomBelow(random, 100);
      const LengthForm form = payload > 127 ? LengthForm::Long : forms[RandomBelow(random, 3)];
      AppendNode(writer, kind, std::string(payload, 'v'), form);
    } else {
      // The long form: a node whose length is known only at its end takes its room at once.
      BeginNode(writer, kind, LengthForm::Long);
      WriteRandomNodes(writer, random, level + 1, framed);
      EndNode(writer);
    }
    framed[at].end = static_cast<std::int64_t>(writer.bytes.size());
  }
}

std::vector<std::string> GeneratedDatabases() {
  std::vector<std::string> databases;
  for (DatabaseKind kind : {DatabaseKind::Spells, DatabaseKind::Quests}) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed)
      databases.push_back(GenerateDatabase(kind, seed, 3));
  }
  return databases;
}

TEST(StoredTreeTest, LevelsAreNamed) {
  EXPECT_EQ(LevelName(kDatabaseLevel), "database");
  EXPECT_EQ(LevelName(2), "table");
  EXPECT_EQ(LevelName(3), "record");
  EXPECT_EQ(LevelName(kFieldLevel), "field");
}

struct DamageCase {
  int level;
  std::int32_t length;
  std::int64_t parentEnd;
  std::vector<std::string> damage;
};

TEST(StoredTreeTest, DamageSaysWhatTheLengthsGetWrong) {
  // Every node's payload starts @10; the file holds 50 bytes.
  const DamageCase cases[] = {
      {3, 20, 40, {}},
      {3, 30, 40, {}},  // ends where its parent does
      {3, 31, 40, {"runs past its table's end @40 by 1 bytes"}},
      {kDatabaseLevel, 40, 20, {}},  // a database node's parent is the file
      {kDatabaseLevel, 41, 20, {"the file ends @50, 1 bytes before this node's end @51"}},
      {kFieldLevel,
       45,
       40,
       {"runs past its record's end @40 by 15 bytes",
        "the file ends @50, 5 bytes before this node's end @55"}},
      {2, -3, 40, {"negative length -3, read as an empty payload"}},
  };
  for (const DamageCase& test : cases) {
    const NodeHeader header{1, test.length, 10};
    EXPECT_EQ(NodeDamage(test.level, header, test.parentEnd, 50), test.damage) << test.length;
    EXPECT_EQ(HasNodeDamage(test.level, header, test.parentEnd, 50), !test.damage.empty());
  }
  EXPECT_EQ(HeaderCutDamage(3, 12, 14, 14), "the file ends @14 inside the header of a record @12");
  EXPECT_EQ(HeaderCutDamage(2, 12, 14, 20),
            "the file ends @14 inside the header of a table @12, though it states 20 bytes");
}

TEST(StoredTreeTest, TheWalkFindsTheNodesTheWriterFramed) {
  Random random{7};
  for (int tree = 0; tree < 200; ++tree) {
    NodeWriter writer;
    std::vector<VisitedNode> framed;
    WriteRandomNodes(writer, random, kDatabaseLevel, framed);
    EXPECT_EQ(Walk(writer.bytes).nodes, framed) << tree;
    NodeReader reader = ReaderOf(writer.bytes);
    EXPECT_EQ(FirstStoredDamage(reader), "");
  }
  for (const std::string& bytes : GeneratedDatabases()) {
    NodeReader reader = ReaderOf(bytes);
    EXPECT_EQ(FirstStoredDamage(reader), "");
  }
}

// Every cut of a database is damaged, unless it falls between two database nodes; the walk of a
// cut never reports a node that starts past the cut.
TEST(StoredTreeTest, ACutIsReportedAndNotReadPast) {
  for (const std::string& bytes : GeneratedDatabases()) {
    std::vector<std::int64_t> soundCuts = {0};
    for (const VisitedNode& node : Walk(bytes).nodes) {
      if (node.level == kDatabaseLevel) soundCuts.push_back(node.end);
    }
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      const std::string cut = bytes.substr(0, size);
      NodeReader reader = ReaderOf(cut);
      const bool sound =
          std::ranges::find(soundCuts, static_cast<std::int64_t>(size)) != soundCuts.end();
      EXPECT_EQ(FirstStoredDamage(reader).empty(), sound) << size;
      const NodeRecorder recorder = Walk(cut);
      for (const VisitedNode& node : recorder.nodes)
        EXPECT_LT(node.offset, static_cast<std::int64_t>(size));
      EXPECT_LT(recorder.cutOffset, static_cast<std::int64_t>(size));
    }
  }
}

// Any length stored in a field's header: the walk still moves on with every node, and the walk
// that looks only where bytes changed finds the damage the whole walk finds.
TEST(StoredTreeTest, AFieldsChangedLengthIsFoundByTheWalkOverChangedBytes) {
  const std::uint8_t storedLengths[] = {0x00, 0x02, 0x40, 0xFE, 0x01};  // 0x01: a long form cut
  for (const std::string& bytes : GeneratedDatabases()) {
    std::size_t fieldsSeen = 0;
    for (const VisitedNode& field : Walk(bytes).nodes) {
      if (field.level != kFieldLevel || ++fieldsSeen % 5 != 0) continue;
      const auto at = static_cast<std::size_t>(field.offset) + 1;
      if ((static_cast<std::uint8_t>(bytes[at]) & 1) != 0) continue;  // short forms only
      for (std::uint8_t length : storedLengths) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(length);
        const std::vector<VisitedNode> nodes = Walk(damaged).nodes;
        for (std::size_t index = 1; index < nodes.size(); ++index)
          EXPECT_GT(nodes[index].offset, nodes[index - 1].offset);
        NodeReader reader = ReaderOf(damaged);
        const ByteRange changed[] = {
            {static_cast<std::int64_t>(at), static_cast<std::int64_t>(at) + 1}};
        EXPECT_EQ(FirstStoredDamage(reader, changed), FirstStoredDamage(reader))
            << field.offset << " " << int{length};
      }
    }
  }
}

}  // namespace
