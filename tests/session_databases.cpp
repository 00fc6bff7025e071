// Random spell and quest databases: recipes of their tables, records drawn from them with hidden
// bytes, node trees read and written, and mods.
#include "session_databases.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <set>
#include <span>
#include <utility>

#include "field_codec.h"
#include "node_writer.h"

namespace {

// ---- Recipes: what each field of a shown table holds.

enum class ValueKind : std::uint8_t {
  Name,           // a name, unique in its table but for a few repeated ones
  Code,           // a code made of the record's name, unique in its table
  Prototype,      // the code of one of the database's spell prototypes
  Word,           // one of a few words
  WordList,       // none to three of a few words, as a list
  Sentence,       // a description
  Integer,        // one of a few integers
  Float,          // one of a few floats
  School,         // 0, 1 or 2
  ShopFlags,      // five flags, mostly none
  ByteQuintuple,  // five small bytes
  ColourFirst,    // the first colour channel, which opens the Light Color column
  ColourNext,     // a further colour channel in the same column
};

struct FieldRecipe {
  std::uint8_t code;
  ValueKind value;
  std::span<const std::string_view> words;  // Word, WordList
  std::span<const double> numbers;          // Integer, Float
};

struct TableRecipe {
  std::uint8_t kind;                    // of the table node
  std::span<const FieldRecipe> fields;  // in code order
  std::string_view joiner;              // between the elements of a list in its lines
  bool textLists;                       // a text may be stored as a list
  bool plainNumbers;                    // six decimals: float bits beyond them are not shown
  std::span<const std::uint8_t> codesWithoutColumn;
};

constexpr std::string_view kSubtypes[] = {"Fire",  "Water", "Air",     "Earth",
                                          "Sight", "Mind",  "Hearing", ""};
constexpr std::string_view kTargets[] = {"enemy", "self", "ally", "area"};
constexpr std::string_view kModifierCodes[] = {"burn",     "chill",       "shock",     "ward",
                                               "venom",    "pierce",      "stun",      "area_up",
                                               "range_up", "duration_up", "effect_up", "speed_up"};
constexpr std::string_view kShops[] = {"Mage Guild", "Temple", "Tower of Winds", "Harbour Market"};
constexpr std::string_view kPowers[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
constexpr std::string_view kItems[] = {"Basket of Eels", "Ferry Token", "Fire Salt", "Old Key",
                                       "Silver Ring",    "Marsh Herb",  "Wolf Pelt"};
constexpr std::string_view kZones[] = {"Greyhollow", "Ashen Ford", "Marrow Coast", "Old Mill",
                                       "Stone Bridge"};
constexpr std::string_view kQuestNames[] = {"The Flooded Road", "Ferryman's Debt",
                                            "Eels for the Elder", "Ashes and Embers"};

constexpr double kPrices[] = {45, 60, 80, 95, 120, 150, 220, 275, 420, 900, 1500, 2750};
constexpr double kManaCosts[] = {0, 2.5, 4, 5.5, 12.5, 14.25, 20, 35, 48};
constexpr double kFactors[] = {0.1, 0.25, 0.5, 0.75, 1, 1.25, 1.5, 2.2};
constexpr double kDistances[] = {0, 5, 10, 12, 15, 20, 25, 30};
constexpr double kEffects[] = {0, 5, 12.75, 18.5, 27.5, 45, 60};
constexpr double kCounts[] = {0, 1, 2, 3, 4};
constexpr double kTraces[] = {0, 1};
constexpr double kDurations[] = {0, 10, 20, 30, 60, 120, 300};
constexpr double kTextureIndexes[] = {1, 2, 3, 5, 6, 8, 11, 12};
constexpr double kModifierTypes[] = {1, 2, 3};
constexpr double kExperience[] = {0, 50, 100, 150, 200, 250, 300, 450};
constexpr double kMoney[] = {0, 0.1, 12.75, 25, 50, 75, 120};
constexpr double kZoneNumbers[] = {1, 2, 3, 4, 5};
constexpr double kSpecials[] = {0, 1, 2};

using enum ValueKind;

constexpr FieldRecipe kPrototypeFields[] = {
    {0, Name, {}, {}},
    {1, Code, {}, {}},
    {2, Word, kSubtypes, {}},
    {3, Float, {}, kPrices},
    {4, School, {}, {}},
    {5, Float, {}, kManaCosts},
    {6, Integer, {}, kCounts},
    {7, Float, {}, kFactors},
    {8, Float, {}, kDistances},
    {9, Float, {}, kDistances},
    {10, Float, {}, kEffects},
    {11, Word, kTargets, {}},
    {12, Integer, {}, kCounts},
    {13, Integer, {}, kDurations},
    {14, Integer, {}, kCounts},
    {15, Integer, {}, kTraces},
    {16, WordList, kModifierCodes, {}},
    {17, WordList, kModifierCodes, {}},
    {18, Integer, {}, kTextureIndexes},
    {19, Integer, {}, kCounts},
    {20, ByteQuintuple, {}, {}},
    {21, Integer, {}, kCounts},
    {22, ShopFlags, {}, {}},
    {23, ColourFirst, {}, {}},
    {24, ColourNext, {}, {}},
    {25, ColourNext, {}, {}},
    {26, Float, {}, kDistances},
    {27, Float, {}, kFactors},
};

constexpr FieldRecipe kModifierFields[] = {
    {0, Name, {}, {}},          {1, Code, {}, {}},
    {2, Float, {}, kPrices},    {3, Integer, {}, kModifierTypes},
    {4, Float, {}, kManaCosts}, {5, Float, {}, kFactors},
    {6, Integer, {}, kCounts},  {7, WordList, kShops, {}},
    {8, ShopFlags, {}, {}},
};

constexpr FieldRecipe kComposedFields[] = {
    {1, Prototype, {}, {}},
    {2, WordList, kModifierCodes, {}},
    {3, WordList, kModifierCodes, {}},
    {4, Word, kPowers, {}},
    {5, ShopFlags, {}, {}},
};

constexpr FieldRecipe kBriefingFields[] = {
    {0, Name, {}, {}},           {1, Float, {}, kExperience},
    {2, Float, {}, kExperience}, {3, Integer, {}, kZoneNumbers},
    {4, Sentence, {}, {}},       {5, Float, {}, kMoney},
};

constexpr FieldRecipe kQuestFields[] = {
    {0, Name, {}, {}},
    {1, Integer, {}, kExperience},
    {2, Float, {}, kMoney},
    {3, WordList, kItems, {}},
    {4, Sentence, {}, {}},
    {5, WordList, kItems, {}},
    {6, WordList, kQuestNames, {}},
    {7, WordList, kQuestNames, {}},
    {8, WordList, kZones, {}},
    {9, WordList, kZones, {}},
    {10, Integer, {}, kSpecials},
};

// Codes the unpackers skip by their length: beyond the catalogue of the first two spell tables,
// without a column in the composed ones; a briefing's codes 6 and 7 are read and discarded.
constexpr std::uint8_t kPrototypeCodesWithoutColumn[] = {28, 31, 40};
constexpr std::uint8_t kModifierCodesWithoutColumn[] = {9, 12, 30};
constexpr std::uint8_t kComposedCodesWithoutColumn[] = {0, 6, 9};
constexpr std::uint8_t kBriefingCodesWithoutColumn[] = {6, 7};

constexpr TableRecipe kSpellTableRecipes[] = {
    {1, kPrototypeFields, ", ", true, true, kPrototypeCodesWithoutColumn},
    {2, kModifierFields, ", ", true, true, kModifierCodesWithoutColumn},
    {3, kComposedFields, ",", true, true, kComposedCodesWithoutColumn},
    {4, kComposedFields, ",", true, true, kComposedCodesWithoutColumn},
    {5, kComposedFields, ",", true, true, kComposedCodesWithoutColumn},
};

// Briefing texts are read without the list test, so they are never stored as lists.
constexpr TableRecipe kQuestTableRecipes[] = {
    {1, kBriefingFields, ",", false, false, kBriefingCodesWithoutColumn},
    {2, kQuestFields, ",", true, false, {}},
};

std::span<const TableRecipe> TablesOf(DatabaseKind kind) {
  return kind == DatabaseKind::Spells ? std::span<const TableRecipe>(kSpellTableRecipes)
                                      : std::span<const TableRecipe>(kQuestTableRecipes);
}

const FieldRecipe* FieldRecipeOf(const TableRecipe& table, std::uint8_t code) {
  for (const FieldRecipe& field : table.fields) {
    if (field.code == code) return &field;
  }
  return nullptr;
}

// ---- Values in their stored forms, with the hidden bytes a table does not show.

// An element of a list with the given element byte; the tables' texts fit in an element.
void AppendElement(std::string& payload, char elementByte, std::string_view text) {
  const std::size_t start = payload.size();
  if (!AppendListElement(payload, text)) std::abort();
  payload[start] = elementByte;
}

// A text as a field stores it: empty as no byte, a NUL alone or a list of one empty element;
// otherwise with its NUL or, where lists may stand, now and then as a list of one element.
std::string TextPayloadOf(Random& random, std::string_view text, bool textLists) {
  std::string payload;
  if (text.empty()) {
    switch (RandomBelow(random, textLists ? 3 : 2)) {
      case 0:
        return payload;
      case 1:
        return std::string(1, '\0');
      default:
        AppendElement(payload, '\x01', "");
        return payload;
    }
  }
  if (textLists && RandomChance(random, 25)) {
    AppendElement(payload, '\x01', text);
    return payload;
  }
  return TextPayload(text);
}

// A list of two or more elements; those after the first may carry an element byte other than
// 1, which no table shows.
std::string ListPayloadOf(Random& random, const std::vector<std::string>& elements,
                          bool textLists) {
  if (elements.size() < 2) {
    return TextPayloadOf(random, elements.empty() ? "" : elements.front(), textLists);
  }
  std::string payload;
  const bool otherElementBytes = RandomChance(random, 30);
  for (std::size_t index = 0; index < elements.size(); ++index) {
    const std::size_t elementByte =
        index > 0 && otherElementBytes ? 2 + RandomBelow(random, 254) : 1;
    AppendElement(payload, static_cast<char>(elementByte), elements[index]);
  }
  return payload;
}

// A float of the tables. Where six decimals are shown, a value below 2 may be one bit off the
// float nearest to it, which its line does not show.
std::string FloatPayloadOf(Random& random, double value, bool plainNumbers) {
  std::uint32_t bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
  if (plainNumbers && value < 2 && RandomChance(random, 30)) ++bits;
  return Float32BitsPayload(bits);
}

// Shop flags, mostly clear; bits 5 to 7 and the three filler bytes now and then set.
std::string ShopFlagsPayloadOf(Random& random, std::uint8_t& shown) {
  shown = 0;
  if (RandomChance(random, 35)) shown = static_cast<std::uint8_t>(1u << RandomBelow(random, 5));
  if (shown != 0 && RandomChance(random, 20)) {
    shown = static_cast<std::uint8_t>(shown | (1u << RandomBelow(random, 5)));
  }
  std::uint8_t first = shown;
  if (RandomChance(random, 20))
    first = static_cast<std::uint8_t>(first | (1 + RandomBelow(random, 7)) << 5);
  std::string payload = ShopFlagsPayload(first);
  if (RandomChance(random, 15)) {
    for (std::size_t index = 1; index < 4; ++index)
      payload[index] = static_cast<char>(RandomBelow(random, 256));
  }
  return payload;
}

// A colour channel: the float k / 255 of a channel k from 0 to 255, or a little above it, which
// the table shows as the same k.
std::string ColourChannelPayloadOf(Random& random, std::size_t& shown) {
  constexpr std::size_t kChannels[] = {0, 26, 51, 64, 77, 102, 128, 153, 191, 204, 229, 255};
  shown = Pick<std::size_t>(random, kChannels);
  const double hundredths =
      RandomChance(random, 30) ? static_cast<double>(RandomBelow(random, 30)) : 0;
  return Float32Payload(static_cast<float>((static_cast<double>(shown) + hundredths / 100) / 255));
}

// ---- Node trees.

constexpr int kDatabaseLevel = 1;
constexpr int kFieldLevel = 4;

std::string NodeBytesOf(const TreeNode& node, int level) {
  std::string payload = level == kFieldLevel ? node.value : std::string();
  for (const TreeNode& child : node.children)
    payload += NodeBytesOf(child, level + 1);
  return NodeBytes(node.kind, payload, node.longForm ? LengthForm::Long : LengthForm::Auto);
}

// ---- Records drawn for one table.

constexpr std::string_view kNameWords[] = {"Greater", "Lesser",  "Swift", "Silent", "Burning",
                                           "Frozen",  "Holy",    "Dark",  "Wide",   "Twin",
                                           "Ashen",   "Drowned", "Lost",  "Hidden"};
constexpr std::string_view kNameNouns[] = {"Bolt",  "Arrow", "Shield", "Lance", "Ward",
                                           "Storm", "Mist",  "Touch",  "Sight", "Step",
                                           "Road",  "Ferry", "Tower",  "Mill",  "Bridge"};

// What the records drawn so far for one table hold, so that names, codes and lines stay unique.
struct TableDraw {
  const TableRecipe& recipe;
  const std::vector<std::string>& prototypeCodes;  // of the database, for composed spells
  std::set<std::string> names;
  std::vector<std::string> nameList;
  std::set<std::string> codes;
  std::set<std::string> lines;  // the values each record shows
  std::string recordName;       // of the record being drawn
};

// A new name, or now and then one the table already has.
std::string NameOf(TableDraw& draw, Random& random) {
  if (!draw.nameList.empty() && RandomChance(random, 3)) {
    return Pick<std::string>(random, draw.nameList);
  }
  const std::string base = std::string(Pick<std::string_view>(random, kNameWords)) + " " +
                           std::string(Pick<std::string_view>(random, kNameNouns));
  std::string name = base;
  for (std::size_t number = 2; draw.names.contains(name); ++number)
    name = base + " " + std::to_string(number);
  draw.names.insert(name);
  draw.nameList.push_back(name);
  return name;
}

// The code of a name: its words in lower case joined by '_', numbered when taken.
std::string CodeOf(TableDraw& draw, std::string_view name) {
  std::string base;
  for (char c : name)
    base += c == ' ' ? '_' : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string code = base;
  for (std::size_t number = 2; draw.codes.contains(code); ++number)
    code = base + "_" + std::to_string(number);
  draw.codes.insert(code);
  return code;
}

std::vector<std::string> WordsOf(Random& random, std::span<const std::string_view> words,
                                 std::size_t count) {
  std::vector<std::string> picked;
  while (picked.size() < count) {
    const std::string word(Pick(random, words));
    if (std::ranges::find(picked, word) == picked.end()) picked.push_back(word);
  }
  return picked;
}

std::string SentenceOf(Random& random) {
  std::string sentence = "The";
  const std::size_t words = 4 + RandomBelow(random, 9);
  for (std::size_t index = 0; index < words; ++index)
    sentence += " " + std::string(Pick<std::string_view>(random, kSentenceWords));
  return sentence + ".";
}

std::string Joined(const std::vector<std::string>& elements, std::string_view joiner) {
  std::string text;
  for (std::size_t index = 0; index < elements.size(); ++index) {
    if (index > 0) text += joiner;
    text += elements[index];
  }
  return text;
}

// A value of the field's recipe in one of its stored forms; `shown` gets what its columns show
// (in a form of the generator's own).
std::string DrawValue(const FieldRecipe& field, TableDraw& draw, Random& random,
                      std::string& shown) {
  const TableRecipe& table = draw.recipe;
  switch (field.value) {
    case Name:
      draw.recordName = NameOf(draw, random);
      shown = draw.recordName;
      return TextPayloadOf(random, shown, table.textLists);
    case Code:
      shown = CodeOf(draw, draw.recordName.empty() ? NameOf(draw, random) : draw.recordName);
      return TextPayloadOf(random, shown, table.textLists);
    case Prototype:
      shown =
          draw.prototypeCodes.empty() ? "fireball" : Pick<std::string>(random, draw.prototypeCodes);
      return TextPayloadOf(random, shown, table.textLists);
    case Word:
      shown = Pick(random, field.words);
      return TextPayloadOf(random, shown, table.textLists);
    case WordList: {
      const std::vector<std::string> elements =
          WordsOf(random, field.words, RandomBelow(random, 4));
      shown = Joined(elements, table.joiner);
      return ListPayloadOf(random, elements, table.textLists);
    }
    case Sentence:
      shown = SentenceOf(random);
      return TextPayloadOf(random, shown, table.textLists);
    case Integer: {
      const double value = Pick(random, field.numbers);
      shown = std::to_string(static_cast<std::int32_t>(value));
      return Int32Payload(static_cast<std::int32_t>(value));
    }
    case Float: {
      const double value = Pick(random, field.numbers);
      shown = std::to_string(value);
      return FloatPayloadOf(random, value, table.plainNumbers);
    }
    case School: {
      const std::size_t school = RandomChance(random, 50) ? 0 : RandomBelow(random, 3);
      shown = std::to_string(school);
      return Int32Payload(static_cast<std::int32_t>(school));
    }
    case ShopFlags: {
      std::uint8_t flags = 0;
      std::string payload = ShopFlagsPayloadOf(random, flags);
      shown = std::to_string(flags);
      return payload;
    }
    case ByteQuintuple: {
      constexpr std::uint8_t kBytes[] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 15, 255};
      std::array<std::uint8_t, 5> values{};
      for (std::uint8_t& value : values) {
        value = Pick<std::uint8_t>(random, kBytes);
        shown += std::to_string(value) + " ";
      }
      return ByteQuintuplePayload(values);
    }
    case ColourFirst:
    case ColourNext: {
      std::size_t channel = 0;
      std::string payload = ColourChannelPayloadOf(random, channel);
      shown = std::to_string(channel);
      return payload;
    }
  }
  std::abort();
}

// A field that no column shows: four bytes or a short text, which the unpackers skip or discard.
TreeNode FieldWithoutColumn(const TableRecipe& table, Random& random) {
  TreeNode field;
  field.kind = Pick(random, table.codesWithoutColumn);
  field.longForm = RandomChance(random, 20);
  field.value = RandomChance(random, 50)
                    ? Int32Payload(static_cast<std::int32_t>(NextRandom(random)))
                    : TextPayload("note " + std::to_string(RandomBelow(random, 100)));
  return field;
}

// A record of every field of the table in code order, with hidden bytes: now and then a kind
// byte other than 0, long length forms and fields without a column. False when no line distinct
// from the table's others is found.
bool DrawRecord(TableDraw& draw, Random& random, TreeNode& record) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    draw.recordName.clear();
    std::string line;
    std::vector<TreeNode> fields;
    for (const FieldRecipe& recipe : draw.recipe.fields) {
      TreeNode field;
      field.kind = recipe.code;
      field.longForm = RandomChance(random, 10);
      std::string shown;
      field.value = DrawValue(recipe, draw, random, shown);
      line += shown + "\t";
      fields.push_back(std::move(field));
    }
    if (!draw.lines.insert(line).second) continue;
    if (!draw.recipe.codesWithoutColumn.empty()) {
      for (std::size_t count = RandomChance(random, 25) ? 1 + RandomBelow(random, 2) : 0; count > 0;
           --count) {
        const auto at = static_cast<std::ptrdiff_t>(RandomBelow(random, fields.size() + 1));
        fields.insert(fields.begin() + at, FieldWithoutColumn(draw.recipe, random));
      }
    }
    record = TreeNode{};
    record.kind =
        RandomChance(random, 15) ? static_cast<std::uint8_t>(1 + RandomBelow(random, 255)) : 0;
    record.longForm = RandomChance(random, 15);
    record.children = std::move(fields);
    return true;
  }
  return false;
}

std::vector<TreeNode> DrawRecords(TableDraw& draw, Random& random, std::size_t count) {
  std::vector<TreeNode> records;
  TreeNode record;
  for (std::size_t index = 0; index < count; ++index) {
    if (DrawRecord(draw, random, record)) records.push_back(std::move(record));
  }
  return records;
}

// How many records a table gets: from size / 4 (at least two) to size.
std::size_t RecordCount(Random& random, std::size_t size) {
  const std::size_t fewest = std::max<std::size_t>(2, size / 4);
  return size <= fewest ? fewest : fewest + RandomBelow(random, size - fewest + 1);
}

TreeNode ParentNode(std::uint8_t kind, Random& random, std::vector<TreeNode> children) {
  TreeNode node;
  node.kind = kind;
  node.longForm = RandomChance(random, 50);
  node.children = std::move(children);
  return node;
}

// A table of a kind no shown table has, whose records hold fields of any code.
TreeNode HiddenTable(std::uint8_t kind, Random& random) {
  std::vector<TreeNode> records;
  for (std::size_t count = 1 + RandomBelow(random, 3); count > 0; --count) {
    TreeNode record;
    for (std::size_t fields = 1 + RandomBelow(random, 4); fields > 0; --fields) {
      TreeNode field;
      field.kind = static_cast<std::uint8_t>(RandomBelow(random, 256));
      field.value = Int32Payload(static_cast<std::int32_t>(NextRandom(random)));
      record.children.push_back(std::move(field));
    }
    records.push_back(std::move(record));
  }
  return ParentNode(kind, random, std::move(records));
}

void InsertAnywhere(std::vector<TreeNode>& nodes, TreeNode node, Random& random) {
  const auto at = static_cast<std::ptrdiff_t>(RandomBelow(random, nodes.size() + 1));
  nodes.insert(nodes.begin() + at, std::move(node));
}

DatabaseTree SpellDatabase(Random& random, std::size_t size) {
  std::vector<std::string> prototypeCodes;
  std::vector<TreeNode> tables;
  for (const TableRecipe& recipe : kSpellTableRecipes) {
    TableDraw draw{recipe, prototypeCodes, {}, {}, {}, {}, {}};
    tables.push_back(
        ParentNode(recipe.kind, random, DrawRecords(draw, random, RecordCount(random, size))));
    if (recipe.kind == 1) prototypeCodes.assign(draw.codes.begin(), draw.codes.end());
  }
  if (RandomChance(random, 25)) {
    InsertAnywhere(
        tables, HiddenTable(static_cast<std::uint8_t>(6 + RandomBelow(random, 4)), random), random);
  }
  DatabaseTree tree;
  tree.databases.push_back(ParentNode(1, random, std::move(tables)));
  if (RandomChance(random, 20)) {
    std::vector<TreeNode> further;
    further.push_back(HiddenTable(static_cast<std::uint8_t>(1 + RandomBelow(random, 5)), random));
    tree.trailing = NodeBytesOf(ParentNode(1, random, std::move(further)), kDatabaseLevel);
  }
  return tree;
}

// Takes the records from a random place of `records` to their end out of it and returns them.
std::vector<TreeNode> SplitOff(std::vector<TreeNode>& records, Random& random) {
  const auto at = static_cast<std::ptrdiff_t>(RandomBelow(random, records.size() + 1));
  std::vector<TreeNode> rest(std::make_move_iterator(records.begin() + at),
                             std::make_move_iterator(records.end()));
  records.erase(records.begin() + at, records.end());
  return rest;
}

// One or two database nodes of kind 1 with the shown tables, now and then a table of a kind no
// shown table has, and a database node of kind 2 whose quest lines are dropped.
DatabaseTree QuestDatabase(Random& random, std::size_t size) {
  const std::vector<std::string> noPrototypes;
  TableDraw briefingDraw{kQuestTableRecipes[0], noPrototypes, {}, {}, {}, {}, {}};
  TableDraw questDraw{kQuestTableRecipes[1], noPrototypes, {}, {}, {}, {}, {}};
  std::vector<TreeNode> briefings = DrawRecords(briefingDraw, random, RecordCount(random, size));
  std::vector<TreeNode> quests = DrawRecords(questDraw, random, RecordCount(random, size));
  const bool twoNodes = RandomChance(random, 30);
  std::vector<TreeNode> laterBriefings =
      twoNodes ? SplitOff(briefings, random) : std::vector<TreeNode>{};
  std::vector<TreeNode> laterQuests = twoNodes ? SplitOff(quests, random) : std::vector<TreeNode>{};
  std::vector<TreeNode> tables;
  tables.push_back(ParentNode(1, random, std::move(briefings)));
  tables.push_back(ParentNode(2, random, std::move(quests)));
  if (RandomChance(random, 25)) InsertAnywhere(tables, HiddenTable(3, random), random);
  DatabaseTree tree;
  tree.databases.push_back(ParentNode(1, random, std::move(tables)));
  if (RandomChance(random, 20)) {
    std::vector<TreeNode> dropped;
    dropped.push_back(
        ParentNode(2, random, DrawRecords(questDraw, random, 1 + RandomBelow(random, 3))));
    tree.databases.push_back(ParentNode(2, random, std::move(dropped)));
  }
  if (twoNodes) {
    std::vector<TreeNode> later;
    later.push_back(ParentNode(1, random, std::move(laterBriefings)));
    later.push_back(ParentNode(2, random, std::move(laterQuests)));
    tree.databases.push_back(ParentNode(1, random, std::move(later)));
  }
  return tree;
}

// ---- Reading node trees.

bool ReadNodes(std::string_view bytes, std::size_t start, std::size_t end, int level,
               std::vector<TreeNode>& nodes);

// Reads the node at `start`, which must end by `end`.
bool ReadNode(std::string_view bytes, std::size_t start, std::size_t end, int level,
              TreeNode& node) {
  if (end - start < 2) return false;
  node.kind = static_cast<std::uint8_t>(bytes[start]);
  node.offset = start;
  const auto first = static_cast<std::uint8_t>(bytes[start + 1]);
  node.longForm = (first & 1) != 0;
  std::size_t headerSize = 2;
  std::size_t length = first >> 1;
  if (node.longForm) {
    if (end - start < 5) return false;
    std::uint32_t stored = 0;
    for (std::size_t index = 0; index < 4; ++index)
      stored |= std::uint32_t{static_cast<std::uint8_t>(bytes[start + 1 + index])} << (8 * index);
    if (static_cast<std::int32_t>(stored) < 0) return false;
    headerSize = 5;
    length = stored >> 1;
  }
  if (length > end - start - headerSize) return false;
  node.size = headerSize + length;
  const std::size_t payloadStart = start + headerSize;
  if (level == kFieldLevel) {
    node.value = std::string(bytes.substr(payloadStart, length));
    return true;
  }
  return ReadNodes(bytes, payloadStart, payloadStart + length, level + 1, node.children);
}

bool ReadNodes(std::string_view bytes, std::size_t start, std::size_t end, int level,
               std::vector<TreeNode>& nodes) {
  while (start < end) {
    TreeNode node;
    if (!ReadNode(bytes, start, end, level, node)) return false;
    start += node.size;
    nodes.push_back(std::move(node));
  }
  return true;
}

// ---- Mods.

// The text a text or list payload shows, its elements joined by `joiner`.
std::string ShownText(std::string_view payload, std::string_view joiner) {
  std::string text;
  if (payload.empty() || payload.front() != '\x01') {
    for (char c : payload) {
      if (c != '\0') text += c;
    }
    return text;
  }
  for (std::size_t at = 0; at + 1 < payload.size();) {
    const std::size_t count = static_cast<std::uint8_t>(payload[at + 1]) / 2;
    if (at > 0) text += joiner;
    text += ShownText(payload.substr(at + 2, count), joiner);
    at += 2 + count;
  }
  return text;
}

// The draw of a table that already holds `records`: their names and codes are taken.
void TakeNamesAndCodes(TableDraw& draw, const std::vector<const TreeNode*>& records) {
  for (const TreeNode* record : records) {
    for (const TreeNode& field : record->children) {
      const FieldRecipe* recipe = FieldRecipeOf(draw.recipe, field.kind);
      if (recipe == nullptr) continue;
      const std::string text = ShownText(field.value, draw.recipe.joiner);
      if (recipe->value == Name && draw.names.insert(text).second) draw.nameList.push_back(text);
      if (recipe->value == Code) draw.codes.insert(text);
    }
  }
}

// One or two fields of the record get other values of their kinds, in forms of their own; now
// and then the record gets a kind byte of a few that tools write.
void ChangeFields(TreeNode& record, TableDraw& draw, Random& random) {
  if (record.children.empty()) return;
  for (std::size_t count = 1 + RandomBelow(random, 2); count > 0; --count) {
    TreeNode& field = record.children[RandomBelow(random, record.children.size())];
    const FieldRecipe* recipe = FieldRecipeOf(draw.recipe, field.kind);
    if (recipe == nullptr) continue;
    draw.recordName.clear();
    std::string shown;
    field.value = DrawValue(*recipe, draw, random, shown);
    if (RandomChance(random, 20)) field.longForm = !field.longForm;
  }
  if (RandomChance(random, 10)) record.kind = static_cast<std::uint8_t>(RandomBelow(random, 3));
}

// A copy of the record whose first field gets a new name.
TreeNode RenamedCopy(const TreeNode& record, TableDraw& draw, Random& random) {
  TreeNode copy = record;
  if (RandomChance(random, 30)) copy.kind = static_cast<std::uint8_t>(RandomBelow(random, 256));
  for (TreeNode& field : copy.children) {
    const FieldRecipe* recipe = FieldRecipeOf(draw.recipe, field.kind);
    if (recipe == nullptr || (recipe->value != Name && recipe->value != Prototype)) continue;
    const std::string name = NameOf(draw, random);
    field.value = TextPayloadOf(random, recipe->value == Name ? name : CodeOf(draw, name),
                                draw.recipe.textLists);
    break;
  }
  return copy;
}

// The records of a table node modded; `firstRecord` is the index of its first record among the
// lines of its shown table, and the origin of each modded record is appended to `origins`.
std::vector<TreeNode> ModRecords(const std::vector<TreeNode>& records, TableDraw& draw,
                                 Random& random, std::size_t firstRecord,
                                 std::vector<ModRecordOrigin>& origins) {
  std::vector<TreeNode> modded;
  for (std::size_t index = 0; index < records.size(); ++index) {
    const TreeNode& record = records[index];
    if (RandomChance(random, 5)) continue;
    modded.push_back(record);
    origins.push_back({firstRecord + index, false});
    if (RandomChance(random, 15)) ChangeFields(modded.back(), draw, random);
    if (RandomChance(random, 5)) {
      modded.push_back(RenamedCopy(record, draw, random));
      origins.push_back({firstRecord + index, true});
    }
  }
  return modded;
}

std::vector<ColumnRecipe> ColumnsOf(const TableRecipe& table) {
  std::vector<ColumnRecipe> columns;
  for (const FieldRecipe& field : table.fields) {
    const std::vector<std::uint8_t> code = {field.code};
    switch (field.value) {
      case Name:
      case Code:
        columns.push_back({CellKind::UniqueText, code});
        break;
      case Prototype:
      case Word:
      case WordList:
      case Sentence:
        columns.push_back({CellKind::Text, code});
        break;
      case Integer:
      case Float:
        columns.push_back({CellKind::Number, code});
        break;
      case School:
        columns.push_back({CellKind::School, code});
        break;
      case ShopFlags:
        columns.insert(columns.end(), 5, {CellKind::ShopFlag, code});
        break;
      case ByteQuintuple:
        columns.insert(columns.end(), 5, {CellKind::Number, code});
        break;
      case ColourFirst:
        columns.push_back({CellKind::Colour, code});
        break;
      case ColourNext:
        columns.back().codes.push_back(field.code);
        break;
    }
  }
  return columns;
}

}  // namespace

std::string GenerateDatabase(DatabaseKind kind, std::uint64_t seed, std::size_t size) {
  Random random{seed};
  return WriteDatabaseTree(kind == DatabaseKind::Spells ? SpellDatabase(random, size)
                                                        : QuestDatabase(random, size));
}

std::string MakeModDatabase(DatabaseKind kind, std::string_view database, std::uint64_t seed,
                            std::vector<std::vector<ModRecordOrigin>>* origins) {
  DatabaseTree tree;
  if (!ReadDatabaseTree(kind, database, tree)) std::abort();
  Random random{seed};
  const std::vector<std::vector<const TreeNode*>> shown = RecordsOfTables(kind, tree);
  std::vector<std::string> prototypeCodes;
  if (kind == DatabaseKind::Spells) {
    for (const TreeNode* record : shown[0]) {
      for (const TreeNode& field : record->children) {
        if (field.kind == 1) prototypeCodes.push_back(ShownText(field.value, ", "));
      }
    }
  }
  std::vector<TableDraw> draws;
  for (const TableRecipe& recipe : TablesOf(kind))
    draws.push_back({recipe, prototypeCodes, {}, {}, {}, {}, {}});
  for (std::size_t table = 0; table < draws.size(); ++table)
    TakeNamesAndCodes(draws[table], shown[table]);
  std::vector<std::pair<TreeNode*, std::size_t>> shownTables;  // table nodes and their tables
  for (TreeNode& databaseNode : tree.databases) {
    for (TreeNode& tableNode : databaseNode.children) {
      const int table = ShownTableOf(kind, databaseNode.kind, tableNode.kind);
      if (table >= 0) shownTables.emplace_back(&tableNode, static_cast<std::size_t>(table));
    }
  }
  std::vector<std::vector<ModRecordOrigin>> modOrigins(draws.size());
  std::vector<std::size_t> recordsBefore(draws.size(), 0);
  for (auto [tableNode, table] : shownTables) {
    const std::size_t records = tableNode->children.size();
    tableNode->children = ModRecords(tableNode->children, draws[table], random,
                                     recordsBefore[table], modOrigins[table]);
    recordsBefore[table] += records;
  }
  if (origins != nullptr) *origins = std::move(modOrigins);
  // In a small database the chances above may change nothing; a mod changes something.
  std::string mod = WriteDatabaseTree(tree);
  for (int attempt = 0; mod == database && !shownTables.empty() && attempt < 100; ++attempt) {
    auto [tableNode, table] = shownTables[RandomBelow(random, shownTables.size())];
    if (tableNode->children.empty()) continue;
    ChangeFields(tableNode->children.front(), draws[table], random);
    mod = WriteDatabaseTree(tree);
  }
  return mod;
}

std::string WriteDatabaseTree(const DatabaseTree& tree) {
  std::string bytes;
  for (const TreeNode& database : tree.databases)
    bytes += NodeBytesOf(database, kDatabaseLevel);
  return bytes + tree.trailing;
}

bool ReadDatabaseTree(DatabaseKind kind, std::string_view bytes, DatabaseTree& tree) {
  tree = DatabaseTree{};
  if (kind == DatabaseKind::Quests) {
    return ReadNodes(bytes, 0, bytes.size(), kDatabaseLevel, tree.databases);
  }
  if (bytes.empty()) return true;
  TreeNode database;
  if (!ReadNode(bytes, 0, bytes.size(), kDatabaseLevel, database)) return false;
  tree.trailing = std::string(bytes.substr(database.size));
  tree.databases.push_back(std::move(database));
  return true;
}

int ShownTableOf(DatabaseKind kind, std::uint8_t databaseKind, std::uint8_t tableKind) {
  if (kind == DatabaseKind::Spells) {
    return databaseKind == 1 && tableKind >= 1 && tableKind <= 5 ? tableKind - 1 : -1;
  }
  if (tableKind == 1) return 0;
  return tableKind == 2 && databaseKind == 1 ? 1 : -1;
}

std::vector<std::vector<std::size_t>> TableNodesOfRecords(DatabaseKind kind,
                                                          const DatabaseTree& tree) {
  std::vector<std::vector<std::size_t>> tables(TablesOf(kind).size());
  std::size_t tableNode = 0;
  for (const TreeNode& database : tree.databases) {
    for (const TreeNode& table : database.children) {
      const int shown = ShownTableOf(kind, database.kind, table.kind);
      if (shown >= 0) {
        std::vector<std::size_t>& nodes = tables[static_cast<std::size_t>(shown)];
        nodes.insert(nodes.end(), table.children.size(), tableNode);
      }
      ++tableNode;
    }
  }
  return tables;
}

std::vector<std::vector<const TreeNode*>> RecordsOfTables(DatabaseKind kind,
                                                          const DatabaseTree& tree) {
  std::vector<std::vector<const TreeNode*>> tables(TablesOf(kind).size());
  for (const TreeNode& database : tree.databases) {
    for (const TreeNode& table : database.children) {
      const int shown = ShownTableOf(kind, database.kind, table.kind);
      if (shown < 0) continue;
      for (const TreeNode& record : table.children)
        tables[static_cast<std::size_t>(shown)].push_back(&record);
    }
  }
  return tables;
}

const std::vector<ColumnRecipe>& TableColumns(DatabaseKind kind, std::size_t table) {
  static const std::vector<std::vector<ColumnRecipe>> spellColumns = {
      ColumnsOf(kSpellTableRecipes[0]), ColumnsOf(kSpellTableRecipes[1]),
      ColumnsOf(kSpellTableRecipes[2]), ColumnsOf(kSpellTableRecipes[3]),
      ColumnsOf(kSpellTableRecipes[4])};
  static const std::vector<std::vector<ColumnRecipe>> questColumns = {
      ColumnsOf(kQuestTableRecipes[0]), ColumnsOf(kQuestTableRecipes[1])};
  return (kind == DatabaseKind::Spells ? spellColumns : questColumns)[table];
}

std::string_view BytesOf(std::string_view bytes, const TreeNode& node) {
  return bytes.substr(node.offset, node.size);
}

std::string Hex(std::string_view bytes) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t index = 0; index < bytes.size() && index < 24; ++index) {
    const auto byte = static_cast<std::uint8_t>(bytes[index]);
    text += std::string(index > 0 ? " " : "") + kDigits[byte >> 4] + kDigits[byte & 15];
  }
  return bytes.size() > 24 ? text + " ..." : text;
}

bool KeepsLengthForm(const TreeNode& original, const TreeNode& packed) {
  const std::size_t payloadSize = packed.size - (packed.longForm ? 5 : 2);
  return packed.longForm == original.longForm || (!original.longForm && payloadSize > 127);
}

std::vector<std::string> HiddenPartDifferences(DatabaseKind kind, const DatabaseTree& original,
                                               std::string_view originalBytes,
                                               const DatabaseTree& packed,
                                               std::string_view packedBytes) {
  std::vector<std::string> differences;
  if (packed.trailing != original.trailing) {
    differences.push_back("the bytes after the database node are not the original's");
  }
  if (packed.databases.size() != original.databases.size()) {
    differences.push_back("NEW has " + std::to_string(packed.databases.size()) +
                          " database nodes, the original " +
                          std::to_string(original.databases.size()));
    return differences;
  }
  for (std::size_t database = 0; database < original.databases.size(); ++database) {
    const TreeNode& was = original.databases[database];
    const TreeNode& now = packed.databases[database];
    const std::string place = "database node " + std::to_string(database + 1);
    if (now.kind != was.kind || !KeepsLengthForm(was, now) ||
        now.children.size() != was.children.size()) {
      differences.push_back(place + " is not the original's kind, length form or table count");
      continue;
    }
    for (std::size_t table = 0; table < was.children.size(); ++table) {
      const TreeNode& wasTable = was.children[table];
      const TreeNode& nowTable = now.children[table];
      const bool shown = ShownTableOf(kind, was.kind, wasTable.kind) >= 0;
      if (nowTable.kind != wasTable.kind || !KeepsLengthForm(wasTable, nowTable) ||
          (!shown && BytesOf(packedBytes, nowTable) != BytesOf(originalBytes, wasTable))) {
        differences.push_back(place + ", table node " + std::to_string(table + 1) +
                              " is not the original's");
      }
    }
  }
  return differences;
}
