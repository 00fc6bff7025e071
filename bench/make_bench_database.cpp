// Writes large synthetic databases for the throughput benchmark: a float-heavy spell database
// or a text-heavy quest database of about the asked size, the same bytes for the same seed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "node_writer.h"
#include "random_draws.h"

namespace {

// The narrow draws the node payloads take.
std::uint32_t Below(Random& random, std::uint32_t bound) {
  return static_cast<std::uint32_t>(RandomBelow(random, bound));
}

constexpr std::string_view kSyllables[] = {"fire", "frost", "bolt", "ward", "shade", "ra",  "mor",
                                           "ven",  "tal",   "ith",  "gar",  "lum",   "esh", "dor"};

std::string Name(Random& random, std::size_t syllables) {
  std::string name;
  for (std::size_t index = 0; index < syllables; ++index) {
    name += kSyllables[Below(random, std::size(kSyllables))];
  }
  name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name;
}

std::string Sentence(Random& random, std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) {
    if (!text.empty()) text += ' ';
    text += kSentenceWords[Below(random, std::size(kSentenceWords))];
  }
  return text;
}

std::vector<std::string> NameList(Random& random, std::size_t count) {
  std::vector<std::string> names;
  for (std::size_t index = 0; index < count; ++index)
    names.push_back(Name(random, 2));
  return names;
}

// A float such as the tables hold: whole numbers, halves and quarters, and arbitrary fractions.
float TableFloat(Random& random) {
  switch (Below(random, 4)) {
    case 0:
      return static_cast<float>(Below(random, 5000));
    case 1:
      return static_cast<float>(Below(random, 400)) / 4.0f;
    case 2:
      return static_cast<float>(Below(random, 1000000)) / 997.0f;
    default:
      return static_cast<float>(Below(random, 100)) / 3.0f;
  }
}

void Field(NodeWriter& writer, std::uint8_t code, const std::string& payload) {
  AppendNode(writer, code, payload);
}

void Prototype(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 0, TextPayload(Name(random, 3)));
  Field(writer, 1, TextPayload(Name(random, 2)));
  Field(writer, 2, TextPayload(Name(random, 1)));
  Field(writer, 3, Float32Payload(TableFloat(random)));
  Field(writer, 4, Int32Payload(static_cast<std::int32_t>(Below(random, 3))));
  Field(writer, 5, Float32Payload(TableFloat(random)));
  Field(writer, 6, Int32Payload(static_cast<std::int32_t>(Below(random, 5))));
  for (std::uint8_t code = 7; code <= 10; ++code) {
    Field(writer, code, Float32Payload(TableFloat(random)));
  }
  Field(writer, 11, TextPayload("enemy"));
  for (std::uint8_t code = 12; code <= 15; ++code) {
    Field(writer, code, Int32Payload(static_cast<std::int32_t>(Below(random, 100))));
  }
  Field(writer, 16, TextListPayload(NameList(random, 1 + Below(random, 3))));
  Field(writer, 17, TextListPayload(NameList(random, Below(random, 2) + 1)));
  Field(writer, 18, Int32Payload(static_cast<std::int32_t>(Below(random, 20))));
  Field(writer, 19, Int32Payload(static_cast<std::int32_t>(Below(random, 1000))));
  Field(writer, 20,
        ByteQuintuplePayload({static_cast<std::uint8_t>(Below(random, 256)), 1, 2,
                              static_cast<std::uint8_t>(Below(random, 256)), 0}));
  Field(writer, 21, Int32Payload(static_cast<std::int32_t>(Below(random, 10))));
  Field(writer, 22, ShopFlagsPayload(static_cast<std::uint8_t>(Below(random, 32))));
  for (std::uint8_t code = 23; code <= 25; ++code) {
    Field(writer, code, Float32Payload(static_cast<float>(Below(random, 101)) / 100.0f));
  }
  Field(writer, 26, Float32Payload(TableFloat(random)));
  Field(writer, 27, Float32Payload(TableFloat(random)));
  EndNode(writer);
}

void Modifier(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 0, TextPayload(Name(random, 2)));
  Field(writer, 1, TextPayload(Name(random, 1)));
  Field(writer, 2, Float32Payload(TableFloat(random)));
  Field(writer, 3, Int32Payload(static_cast<std::int32_t>(Below(random, 4))));
  Field(writer, 4, Float32Payload(TableFloat(random)));
  Field(writer, 5, Float32Payload(TableFloat(random)));
  Field(writer, 6, Int32Payload(static_cast<std::int32_t>(Below(random, 10))));
  Field(writer, 7, TextListPayload(NameList(random, 2)));
  Field(writer, 8, ShopFlagsPayload(static_cast<std::uint8_t>(Below(random, 32))));
  EndNode(writer);
}

void Composed(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 1, TextPayload(Name(random, 3)));
  Field(writer, 2, TextListPayload(NameList(random, 1 + Below(random, 3))));
  Field(writer, 3, TextListPayload(NameList(random, Below(random, 3) + 1)));
  Field(writer, 4, TextPayload(std::to_string(Below(random, 10))));
  Field(writer, 5, ShopFlagsPayload(static_cast<std::uint8_t>(Below(random, 32))));
  EndNode(writer);
}

void Briefing(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 0, TextPayload(Name(random, 3)));
  Field(writer, 1, Float32Payload(TableFloat(random)));
  Field(writer, 2, Float32Payload(TableFloat(random)));
  Field(writer, 3, Int32Payload(static_cast<std::int32_t>(Below(random, 40))));
  Field(writer, 4, TextPayload(Sentence(random, 200 + Below(random, 1800))));
  Field(writer, 5, Float32Payload(TableFloat(random)));
  Field(writer, 6, Int32Payload(0));
  Field(writer, 7, TextPayload(Sentence(random, 20)));
  EndNode(writer);
}

void Quest(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 0, TextPayload(Name(random, 3)));
  Field(writer, 1, Int32Payload(static_cast<std::int32_t>(Below(random, 5000))));
  Field(writer, 2, Float32Payload(TableFloat(random)));
  Field(writer, 3, TextListPayload(NameList(random, 1 + Below(random, 6))));
  Field(writer, 4, TextPayload(Sentence(random, 300 + Below(random, 2700))));
  for (std::uint8_t code = 5; code <= 9; ++code) {
    Field(writer, code, TextListPayload(NameList(random, Below(random, 4) + 1)));
  }
  Field(writer, 10, Int32Payload(static_cast<std::int32_t>(Below(random, 2))));
  EndNode(writer);
}

// Records like the samples': short names and texts, mostly numbers, about 100 to 200 bytes.
void SmallPrototype(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 0, TextPayload(Name(random, 2)));
  Field(writer, 1, TextPayload(Name(random, 1)));
  Field(writer, 3, Float32Payload(TableFloat(random)));
  Field(writer, 4, Int32Payload(static_cast<std::int32_t>(Below(random, 3))));
  Field(writer, 5, Float32Payload(TableFloat(random)));
  Field(writer, 6, Int32Payload(static_cast<std::int32_t>(Below(random, 5))));
  for (std::uint8_t code = 7; code <= 10; ++code) {
    Field(writer, code, Float32Payload(TableFloat(random)));
  }
  for (std::uint8_t code = 12; code <= 15; ++code) {
    Field(writer, code, Int32Payload(static_cast<std::int32_t>(Below(random, 100))));
  }
  Field(writer, 16, TextListPayload(NameList(random, 1)));
  Field(writer, 20,
        ByteQuintuplePayload({static_cast<std::uint8_t>(Below(random, 256)), 1, 2,
                              static_cast<std::uint8_t>(Below(random, 256)), 0}));
  Field(writer, 21, Int32Payload(static_cast<std::int32_t>(Below(random, 10))));
  Field(writer, 22, ShopFlagsPayload(static_cast<std::uint8_t>(Below(random, 32))));
  for (std::uint8_t code = 23; code <= 25; ++code) {
    Field(writer, code, Float32Payload(static_cast<float>(Below(random, 101)) / 100.0f));
  }
  Field(writer, 26, Float32Payload(TableFloat(random)));
  EndNode(writer);
}

void SmallBriefing(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 0, TextPayload(Name(random, 2)));
  Field(writer, 1, Float32Payload(TableFloat(random)));
  Field(writer, 2, Float32Payload(TableFloat(random)));
  Field(writer, 3, Int32Payload(static_cast<std::int32_t>(Below(random, 40))));
  Field(writer, 4, TextPayload(Sentence(random, 20 + Below(random, 40))));
  Field(writer, 5, Float32Payload(TableFloat(random)));
  Field(writer, 6, Int32Payload(0));
  EndNode(writer);
}

void SmallQuest(NodeWriter& writer, Random& random) {
  BeginNode(writer, 0);
  Field(writer, 0, TextPayload(Name(random, 2)));
  Field(writer, 1, Int32Payload(static_cast<std::int32_t>(Below(random, 5000))));
  Field(writer, 2, Float32Payload(TableFloat(random)));
  Field(writer, 3, TextListPayload(NameList(random, 1 + Below(random, 2))));
  Field(writer, 4, TextPayload(Sentence(random, 10 + Below(random, 30))));
  for (std::uint8_t code = 5; code <= 9; ++code) {
    Field(writer, code, TextPayload(Below(random, 3) == 0 ? Name(random, 1) : ""));
  }
  Field(writer, 10, Int32Payload(static_cast<std::int32_t>(Below(random, 2))));
  EndNode(writer);
}

using RecordWriter = void (*)(NodeWriter&, Random&);

struct TableShare {
  std::uint8_t kind;
  RecordWriter record;
  std::size_t percent;  // of the database's bytes
};

constexpr TableShare kSpellTables[] = {
    {1, Prototype, 88}, {2, Modifier, 6}, {3, Composed, 2}, {4, Composed, 2}, {5, Composed, 2}};
constexpr TableShare kQuestTables[] = {{1, Briefing, 15}, {2, Quest, 85}};
constexpr TableShare kSmallSpellTables[] = {{1, SmallPrototype, 88},
                                            {2, Modifier, 6},
                                            {3, Composed, 2},
                                            {4, Composed, 2},
                                            {5, Composed, 2}};
constexpr TableShare kSmallQuestTables[] = {{1, SmallBriefing, 30}, {2, SmallQuest, 70}};

// The kinds of database the generator writes, by name.
struct DatabaseKind {
  std::string_view name;
  const TableShare* tables;
  std::size_t count;
};

constexpr DatabaseKind kKinds[] = {
    {"spell", kSpellTables, std::size(kSpellTables)},
    {"quest", kQuestTables, std::size(kQuestTables)},
    {"spell-small", kSmallSpellTables, std::size(kSmallSpellTables)},
    {"quest-small", kSmallQuestTables, std::size(kSmallQuestTables)},
};

std::string Database(const TableShare* tables, std::size_t count, std::size_t bytes,
                     std::uint64_t seed) {
  Random random{seed};
  NodeWriter writer;
  writer.bytes.reserve(bytes + bytes / 16);
  BeginNode(writer, 1, LengthForm::Long);
  for (std::size_t index = 0; index < count; ++index) {
    const std::size_t tableEnd = writer.bytes.size() + bytes * tables[index].percent / 100;
    BeginNode(writer, tables[index].kind, LengthForm::Long);
    while (writer.bytes.size() < tableEnd)
      tables[index].record(writer, random);
    EndNode(writer);
  }
  EndNode(writer);
  return std::move(writer.bytes);
}

}  // namespace

int main(int argc, char** argv) {
  const DatabaseKind* kind = nullptr;
  for (const DatabaseKind& candidate : kKinds) {
    if (argc == 5 && candidate.name == argv[1]) kind = &candidate;
  }
  if (kind == nullptr) {
    std::fputs(
        "usage: make_bench_database spell|quest|spell-small|quest-small MEBIBYTES SEED FILE\n",
        stderr);
    return 2;
  }
  // A node holds at most 2^30 - 1 bytes, so "1024" gives a database just under 1 GiB.
  const std::size_t bytes =
      std::min<std::size_t>(std::strtoull(argv[2], nullptr, 10) << 20, (1u << 30) - (1u << 16));
  const std::uint64_t seed = std::strtoull(argv[3], nullptr, 10);
  const std::string database = Database(kind->tables, kind->count, bytes, seed);
  std::FILE* file = std::fopen(argv[4], "wb");
  if (file == nullptr ||
      std::fwrite(database.data(), 1, database.size(), file) != database.size() ||
      std::fclose(file) != 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[4]);
    return 1;
  }
  return 0;
}
