// The sample spell database, invented for the project: a fantasy game's spells and their parts.
#include "spell_sample.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "code_page_text.h"
#include "node_writer.h"
#include "sample_lists.h"

namespace {

struct PrototypeRow {
  std::string_view name;  // UTF-8; Cyrillic letters are stored in Windows-1251
  std::string_view code;
  std::string_view subtype;
  std::int32_t school;  // 0 elemental, 1 senses, 2 astral; anything else is left unnamed
  float price;
  float mana;
  std::string_view target;
  float range;
  float area;
  float effect;
  std::int32_t duration;
  std::array<float, 3> light;    // red, green, blue from 0 to 1
  std::string_view builtInMods;  // modifier codes separated by ';'
  std::string_view specialMods;
};

// clang-format off
constexpr PrototypeRow kPrototypes[] = {
    {"Fireball", "fireball", "Fire", 0, 150, 12.5f, "enemy", 20, 3, 45, 0, {1, 0.5f, 0}, "burn", ""},
    {"Flame Arrow", "flame_arrow", "Fire", 0, 60, 4, "enemy", 25, 0, 18.5f, 0, {1, 0.25f, 0}, "burn", "pierce"},
    {"Wall of Fire", "wall_fire", "Fire", 0, 1500, 40, "area", 15, 6, 30, 20, {1, 0.4f, 0.1f}, "burn;area_up", ""},
    {"Ember Shield", "ember_shield", "Fire", 0, 420, 18, "self", 0, 0, 12.75f, 60, {0.9f, 0.3f, 0}, "ward", "burn"},
    {"Frost Lance", "frost_lance", "Water", 0, 220, 14.25f, "enemy", 30, 0, 38, 0, {0.5f, 0.75f, 1}, "chill", ""},
    {"Ice Armour", "ice_armour", "Water", 0, 480, 20, "self", 0, 0, 15, 120, {0.6f, 0.8f, 1}, "ward;chill", ""},
    {"Healing Rain", "healing_rain", "Water", 0, 900, 35, "ally", 12, 5, 60, 10, {0.2f, 0.6f, 1}, "", "area_up;duration_up"},
    {"Freezing Mist", "freezing_mist", "Water", 0, 1200, 33.3f, "area", 18, 8, 22.5f, 15, {0.8f, 0.9f, 1}, "chill;area_up", ""},
    {"Lightning Bolt", "lightning_bolt", "Air", 0, 350, 16, "enemy", 35, 0, 55, 0, {0.7f, 0.7f, 1}, "shock", ""},
    {"Gust", "gust", "Air", 0, 45, 2.5f, "enemy", 10, 2, 5, 0, {0.9f, 0.9f, 0.9f}, "", ""},
    {"Chain Lightning", "chain_lightning", "Air", 0, 2750, 48, "enemy", 30, 0, 70, 0, {0.6f, 0.6f, 1}, "shock;targets_up", "stun"},
    {"Feather Fall", "feather_fall", "Air", 0, 80, 5, "self", 0, 0, 0, 30, {1, 1, 1}, "", ""},
    {"Stone Skin", "stone_skin", "Earth", 0, 600, 22, "self", 0, 0, 25, 180, {0.55f, 0.45f, 0.3f}, "ward", "duration_up"},
    {"Earthquake", "earthquake", "Earth", 0, 5000, 90, "area", 0, 12, 80, 5, {0.5f, 0.35f, 0.2f}, "area_up;stun", ""},
    {"Acid Spray", "acid_spray", "Earth", 0, 275, 11, "enemy", 8, 2.5f, 27.5f, 3, {0.5f, 1, 0.1f}, "venom", ""},
    {"Poison Cloud", "poison_cloud", "Earth", 0, 700, 26, "area", 20, 4, 9.75f, 12, {0.3f, 0.8f, 0.1f}, "venom;duration_up", ""},
    {"Night Sight", "night_sight", "Sight", 1, 120, 6, "self", 0, 0, 0, 300, {0.1f, 1, 0.3f}, "", ""},
    {"Blindness", "blindness", "Sight", 1, 310, 15, "enemy", 20, 0, 0, 20, {0.1f, 0.1f, 0.1f}, "blinding", ""},
    {"Invisibility", "invisibility", "Sight", 1, 1800, 45, "self", 0, 0, 0, 90, {0.75f, 0.75f, 0.75f}, "silent", "duration_up"},
    {"Detect Life", "detect_life", "Sight", 1, 95, 3.5f, "area", 0, 30, 0, 60, {1, 0.2f, 0.2f}, "", ""},
    {"Keen Eye", "keen_eye", "Sight", 1, 140, 7, "self", 0, 0, 10, 240, {1, 0.85f, 0.4f}, "", "range_up"},
    {"Silence", "silence", "Hearing", 1, 260, 13, "enemy", 22, 0, 0, 15, {0.4f, 0.4f, 0.6f}, "silent", ""},
    {"Echo Step", "echo_step", "Hearing", 1, 180, 8, "self", 0, 0, 0, 20, {0.7f, 0.5f, 1}, "", ""},
    {"Charm", "charm", "Mind", 1, 1100, 30, "enemy", 15, 0, 0, 45, {1, 0.4f, 0.7f}, "", "duration_up"},
    {"Fear", "fear", "Mind", 1, 540, 21, "area", 0, 10, 0, 12, {0.3f, 0, 0.3f}, "area_up", ""},
    {"Sleep", "sleep", "Mind", 1, 390, 17, "enemy", 18, 0, 0, 30, {0.5f, 0.5f, 0.9f}, "", ""},
    {"Confusion", "confusion", "Mind", 1, 820, 24.5f, "enemy", 18, 3, 0, 25, {0.9f, 0.6f, 1}, "area_up", "stun"},
    {"Teleport", "teleport", "Portal", 2, 3200, 60, "self", 100, 0, 0, 0, {0.3f, 0.2f, 1}, "", ""},
    {"Recall", "recall", "Portal", 2, 1450, 50, "self", 0, 0, 0, 0, {0.3f, 0.3f, 0.9f}, "", ""},
    {"Summon Wolf", "summon_wolf", "Summoning", 2, 950, 38, "area", 5, 0, 40, 120, {0.6f, 0.6f, 0.6f}, "duration_up", ""},
    {"Summon Golem", "summon_golem", "Summoning", 2, 4100, 75, "area", 5, 0, 150, 180, {0.5f, 0.4f, 0.3f}, "duration_up;ward", ""},
    {"Dispel Magic", "dispel", "Astral", 2, 1250, 32, "enemy", 25, 0, 0, 0, {0.8f, 0.8f, 1}, "", "area_up"},
    {"Mana Drain", "mana_drain", "Astral", 2, 680, 2.0f / 3.0f, "enemy", 20, 0, 15, 0, {0.2f, 0.3f, 1}, "vampiric", ""},
    {"Astral Ward", "astral_ward", "Astral", 2, 860, 28, "ally", 15, 0, 35, 90, {0.5f, 0.5f, 1}, "ward", "duration_up"},
    {"Banish Undead", "banish_undead", "Astral", 2, 2200, 44, "enemy", 20, 0, 120, 0, {1, 1, 0.8f}, "", ""},
    {"Time Slow", "time_slow", "Time", 2, 6500, 99.5f, "area", 0, 15, 0.1f, 10, {0.85f, 0.85f, 0.5f}, "area_up", ""},
    {"Haste", "haste", "Time", 2, 1650, 36, "ally", 12, 0, 0.25f, 30, {1, 1, 0.3f}, "speed_up", ""},
    {"Bless", "bless", "Light", 2, 330, 10, "ally", 12, 0, 5, 60, {1, 0.95f, 0.7f}, "", "targets_up"},
    {"Holy Light", "holy_light", "Light", 2, 720, 19, "enemy", 25, 2, 48, 0, {1, 1, 0.9f}, "blinding", ""},
    {"Огненный дождь", "fire_rain", "Fire", 0, 3900, 70, "area", 25, 9, 65, 8, {1, 0.35f, 0}, "burn;area_up", "duration_up"},
    {"Ледяная стрела", "ice_arrow", "Water", 0, 240, 9.5f, "enemy", 28, 0, 24, 0, {0.6f, 0.85f, 1}, "chill", "pierce"},
    {"Сглаз", "evil_eye", "Mind", 1, 450, 16, "enemy", 15, 0, 0, 40, {0.4f, 0.1f, 0.4f}, "", ""},
    {"Зов предков", "ancestors_call", "Summoning", 2, 2600, 55, "area", 5, 0, 90, 150, {0.7f, 0.6f, 0.4f}, "duration_up", "ward"},
    {"Forgotten Rune", "forgotten_rune", "Unknown", 7, 0.1f, 1, "self", 0, 0, 0, 0, {0, 0, 0}, "", ""},
};
// clang-format on

struct ModifierRow {
  std::string_view name;
  std::string_view code;
  float price;
  std::int32_t type;
  float mana;
  float value;
  std::int32_t complex;
  std::string_view shops;  // separated by ';'; one shop is stored as a text value
  std::uint8_t shopFlags;
};

// clang-format off
constexpr ModifierRow kModifiers[] = {
    {"Extended Range", "range_up", 50, 1, 2, 1.5f, 1, "Mage Guild", 0x01},
    {"Wide Area", "area_up", 120, 1, 4, 2, 2, "Mage Guild;Tower of Winds", 0x03},
    {"Empowered", "effect_up", 200, 1, 5.5f, 1.25f, 2, "Mage Guild", 0x01},
    {"Lingering", "duration_up", 90, 1, 3, 2, 1, "Temple", 0x04},
    {"Twin Cast", "targets_up", 350, 1, 8, 2, 3, "Tower of Winds", 0x02},
    {"Swift Cast", "speed_up", 140, 1, 2.5f, 0.75f, 2, "Mage Guild;Temple", 0x05},
    {"Mana Thrift", "mana_down", 400, 1, 0, 0.666667f, 3, "", 0x00},
    {"Piercing", "pierce", 75, 2, 1.5f, 1, 1, "Armourer", 0x08},
    {"Homing", "homing", 160, 2, 3, 1, 2, "Mage Guild", 0x01},
    {"Silent Cast", "silent", 220, 2, 2, 1, 2, "Black Market", 0x10},
    {"Chilling", "chill", 110, 3, 3, 12.75f, 1, "Mage Guild", 0x01},
    {"Burning", "burn", 110, 3, 3, 15, 1, "Mage Guild", 0x01},
    {"Shocking", "shock", 130, 3, 3.5f, 18, 1, "Tower of Winds", 0x02},
    {"Venomous", "venom", 95, 3, 2, 0.1f, 1, "Black Market;Herbalist", 0x18},
    {"Vampiric", "vampiric", 780, 4, 10, 0.25f, 4, "Black Market", 0x10},
    {"Warding", "ward", 260, 4, 4, 20, 2, "Temple;Armourer", 0x0C},
    {"Blinding", "blinding", 150, 4, 3, 4.5f, 2, "Temple", 0x04},
    {"Stunning", "stun", 320, 4, 6, 2.5f, 3, "Armourer", 0x08},
    {"Эхо", "echo", 180, 5, 4, 1, 2, "Black Market", 0x10},
    {"Кровавая жертва", "blood_sacrifice", 1500, 5, 0, 3, 5, "Black Market;Temple", 0x1F},
};
// clang-format on

// A composed spell, armour or weapon spell: a prototype code and modifier codes.
struct ComposedRow {
  std::string_view prototype;
  std::string_view required;  // modifier codes separated by ';'
  std::string_view optional;
  std::string_view power;
  std::uint8_t shopFlags;
};

// clang-format off
constexpr ComposedRow kComposedSpells[] = {
    {"fireball", "burn", "range_up;area_up", "3", 0x01},
    {"fireball", "burn;area_up", "effect_up", "5", 0x01},
    {"flame_arrow", "burn", "", "1", 0x01},
    {"wall_fire", "burn;area_up", "duration_up", "7", 0x03},
    {"frost_lance", "chill", "range_up", "3", 0x01},
    {"freezing_mist", "chill;area_up", "duration_up;effect_up", "6", 0x03},
    {"lightning_bolt", "shock", "speed_up", "4", 0x02},
    {"chain_lightning", "shock;targets_up", "effect_up;stun", "9", 0x02},
    {"acid_spray", "venom", "", "2", 0x18},
    {"poison_cloud", "venom;duration_up", "area_up", "5", 0x10},
    {"blindness", "blinding", "duration_up", "3", 0x04},
    {"silence", "silent", "range_up", "3", 0x10},
    {"charm", "", "duration_up;range_up", "6", 0x00},
    {"fear", "area_up", "", "4", 0x04},
    {"sleep", "", "targets_up", "4", 0x01},
    {"confusion", "area_up", "stun;duration_up", "6", 0x01},
    {"dispel", "", "area_up;range_up;speed_up", "5", 0x04},
    {"mana_drain", "vampiric", "", "7", 0x10},
    {"fire_rain", "burn;area_up", "duration_up", "10", 0x01},
    {"evil_eye", "", "echo", "5", 0x10},
};
// clang-format on

// clang-format off
constexpr ComposedRow kComposedArmours[] = {
    {"stone_skin", "ward", "duration_up", "4", 0x08},
    {"stone_skin", "ward;effect_up", "", "6", 0x08},
    {"ice_armour", "ward;chill", "duration_up", "5", 0x09},
    {"ember_shield", "ward;burn", "", "5", 0x09},
    {"astral_ward", "ward", "effect_up", "6", 0x04},
    {"astral_ward", "ward;duration_up", "echo", "8", 0x14},
    {"invisibility", "silent", "duration_up", "7", 0x10},
    {"night_sight", "", "duration_up", "1", 0x04},
    {"keen_eye", "", "range_up", "2", 0x04},
    {"feather_fall", "", "", "1", 0x02},
    {"haste", "speed_up", "duration_up", "6", 0x06},
    {"bless", "", "targets_up;duration_up", "3", 0x04},
    {"echo_step", "silent", "", "3", 0x10},
    {"ice_armour", "ward;chill;duration_up", "effect_up", "9", 0x01},
    {"ember_shield", "ward;burn;effect_up", "", "9", 0x01},
    {"stone_skin", "ward;stun", "duration_up", "8", 0x08},
    {"healing_rain", "", "area_up", "4", 0x04},
    {"astral_ward", "ward;vampiric", "", "10", 0x10},
    {"summon_golem", "duration_up;ward", "", "10", 0x00},
    {"ancestors_call", "duration_up", "ward", "8", 0x14},
};
// clang-format on

// clang-format off
constexpr ComposedRow kComposedWeapons[] = {
    {"flame_arrow", "burn", "effect_up", "2", 0x09},
    {"flame_arrow", "burn;pierce", "", "3", 0x08},
    {"frost_lance", "chill;pierce", "", "4", 0x09},
    {"ice_arrow", "chill", "homing", "3", 0x08},
    {"lightning_bolt", "shock", "pierce", "4", 0x0A},
    {"acid_spray", "venom", "effect_up", "3", 0x18},
    {"mana_drain", "vampiric", "", "6", 0x10},
    {"holy_light", "blinding", "effect_up", "5", 0x0C},
    {"banish_undead", "", "effect_up", "7", 0x04},
    {"fireball", "burn", "", "3", 0x09},
    {"gust", "", "speed_up", "1", 0x02},
    {"poison_cloud", "venom", "", "4", 0x18},
    {"sleep", "stun", "", "5", 0x08},
    {"chain_lightning", "shock;targets_up", "", "8", 0x0A},
    {"earthquake", "stun", "area_up", "9", 0x08},
    {"flame_arrow", "burn;homing", "pierce", "5", 0x08},
    {"frost_lance", "chill;stun", "", "6", 0x08},
    {"acid_spray", "venom;pierce", "", "5", 0x18},
    {"mana_drain", "vampiric;echo", "", "8", 0x10},
    {"time_slow", "stun;duration_up", "", "10", 0x00},
};
// clang-format on

constexpr std::string_view kSubtypes[] = {"Fire",    "Water", "Air",    "Earth",     "Sight",
                                          "Hearing", "Mind",  "Portal", "Summoning", "Astral",
                                          "Time",    "Light", "Unknown"};

constexpr float kSpeeds[] = {1, 1.5f, 0.75f, 2, 1.25f, 0.5f};
constexpr float kFadeoutTimes[] = {0.5f, 1, 1.25f, 2, 0.25f};

// A deterministic spread of the derived columns, so that no two records look alike.
std::uint32_t Spread(std::size_t index, std::uint32_t salt) {
  std::uint32_t value = static_cast<std::uint32_t>(index) * 0x9E3779B9u + salt * 0x85EBCA6Bu;
  value ^= value >> 15;
  value *= 0x2C1B3C6Du;
  value ^= value >> 12;
  return value;
}

std::int32_t SubtypeId(std::string_view subtype) {
  for (std::size_t index = 0; index < std::size(kSubtypes); ++index) {
    if (kSubtypes[index] == subtype) return static_cast<std::int32_t>(index) + 1;
  }
  return 0;
}

void AppendPrototype(NodeWriter& writer, const PrototypeRow& row, std::size_t index) {
  BeginNode(writer, 0);
  AppendNode(writer, 0, TextPayload(Cp1251FromUtf8(row.name)));
  AppendNode(writer, 1, TextPayload(row.code));
  AppendNode(writer, 2, TextPayload(row.subtype));
  AppendNode(writer, 3, Float32Payload(row.price));
  AppendNode(writer, 4, Int32Payload(row.school));
  AppendNode(writer, 5, Float32Payload(row.mana));
  AppendNode(writer, 6, Int32Payload(1 + static_cast<std::int32_t>(Spread(index, 1) % 5)));
  AppendNode(writer, 7, Float32Payload(kSpeeds[Spread(index, 2) % std::size(kSpeeds)]));
  AppendNode(writer, 8, Float32Payload(row.range));
  AppendNode(writer, 9, Float32Payload(row.area));
  AppendNode(writer, 10, Float32Payload(row.effect));
  AppendNode(writer, 11, TextPayload(row.target));
  AppendNode(writer, 12, Int32Payload(row.target == "enemy" ? 1 + (row.range > 25) : 1));
  AppendNode(writer, 13, Int32Payload(row.duration));
  AppendNode(writer, 14, Int32Payload(1 + static_cast<std::int32_t>(Spread(index, 3) % 3)));
  AppendNode(writer, 15, Int32Payload(static_cast<std::int32_t>(Spread(index, 4) % 2)));
  AppendNode(writer, 16, ListOrEmptyPayload(row.builtInMods));
  AppendNode(writer, 17, ListOrEmptyPayload(row.specialMods));
  AppendNode(writer, 18, Int32Payload(static_cast<std::int32_t>(Spread(index, 5) % 13)));
  AppendNode(writer, 19, Int32Payload(SubtypeId(row.subtype)));
  const std::uint32_t mods = Spread(index, 6);
  AppendNode(
      writer, 20,
      ByteQuintuplePayload(
          {static_cast<std::uint8_t>(mods % 11), static_cast<std::uint8_t>((mods >> 4) % 4),
           static_cast<std::uint8_t>((mods >> 8) % 9), static_cast<std::uint8_t>((mods >> 12) % 16),
           static_cast<std::uint8_t>(index % 7 == 3 ? 255 : (mods >> 16) % 6)}));
  AppendNode(writer, 21, Int32Payload(1 + static_cast<std::int32_t>(row.price / 1000)));
  AppendNode(writer, 22, ShopFlagsPayload(static_cast<std::uint8_t>(Spread(index, 7) % 32)));
  AppendNode(writer, 23, Float32Payload(row.light[0]));
  AppendNode(writer, 24, Float32Payload(row.light[1]));
  AppendNode(writer, 25, Float32Payload(row.light[2]));
  AppendNode(writer, 26, Float32Payload(2.5f + static_cast<float>(Spread(index, 8) % 16) / 2));
  AppendNode(writer, 27,
             Float32Payload(kFadeoutTimes[Spread(index, 9) % std::size(kFadeoutTimes)]));
  EndNode(writer);
}

void AppendModifier(NodeWriter& writer, const ModifierRow& row) {
  BeginNode(writer, 0);
  AppendNode(writer, 0, TextPayload(Cp1251FromUtf8(row.name)));
  AppendNode(writer, 1, TextPayload(row.code));
  AppendNode(writer, 2, Float32Payload(row.price));
  AppendNode(writer, 3, Int32Payload(row.type));
  AppendNode(writer, 4, Float32Payload(row.mana));
  AppendNode(writer, 5, Float32Payload(row.value));
  AppendNode(writer, 6, Int32Payload(row.complex));
  AppendNode(writer, 7, TextOrListPayload(row.shops));
  AppendNode(writer, 8, ShopFlagsPayload(row.shopFlags));
  EndNode(writer);
}

void AppendComposed(NodeWriter& writer, const ComposedRow& row) {
  BeginNode(writer, 0);
  AppendNode(writer, 1, TextPayload(row.prototype));
  AppendNode(writer, 2, ListOrEmptyPayload(row.required));
  AppendNode(writer, 3, ListOrEmptyPayload(row.optional));
  AppendNode(writer, 4, TextPayload(row.power));
  AppendNode(writer, 5, ShopFlagsPayload(row.shopFlags));
  EndNode(writer);
}

void AppendComposedTable(NodeWriter& writer, std::uint8_t tableKind,
                         std::span<const ComposedRow> rows) {
  BeginNode(writer, tableKind, LengthForm::Long);
  for (const ComposedRow& row : rows)
    AppendComposed(writer, row);
  EndNode(writer);
}

}  // namespace

std::string SpellSampleDatabase() {
  NodeWriter writer;
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 1, LengthForm::Long);
  for (std::size_t index = 0; index < std::size(kPrototypes); ++index)
    AppendPrototype(writer, kPrototypes[index], index);
  EndNode(writer);
  BeginNode(writer, 2, LengthForm::Long);
  for (const ModifierRow& row : kModifiers)
    AppendModifier(writer, row);
  EndNode(writer);
  AppendComposedTable(writer, 3, kComposedSpells);
  AppendComposedTable(writer, 4, kComposedArmours);
  AppendComposedTable(writer, 5, kComposedWeapons);
  EndNode(writer);
  return std::move(writer.bytes);
}
