// The spell database format: banner, tables, field catalogues and walk rules.
#include "spell_walker.h"

namespace {

constexpr std::string_view kBanner[] = {
    "/------------------------------------\\",
    "MARROWFJORDS SPELLS DATABASE UNPACKER",
    "VERSION: " UNPACKER_VERSION,
    "\\------------------------------------/",
    "",
    " USAGE: grimdex.exe spells.sdb [path to save to]",
};

constexpr TableSpec kTables[] = {
    {"SpellPrototypes.txt",
     "Name\tCode\tSubtype\tPrice\tType\tMana\tSlots\tSpeed\tRange\tArea\tEffect\tTarget\t"
     "Num Targets\tDuration\tActions\tRequire Trace\tBuilt-in Mods\tSpecial Mods\t"
     "Texture Type Index\tSubtypeID\tRange Mod\tTargets Mod\tArea Mod\tEffect Mod\t"
     "Duration Mod\tComplex\tShop 1\tShop 2\tShop 3\tShop 4\tShop 5\tLight Color\t"
     "Light Radius\tFadeout time"},
    {"SpellModifiers.txt",
     "Name\tCode\tPrice\tType\tMana\tValue\tComplex\tShop\tShop 1\tShop 2\tShop 3\tShop 4\t"
     "Shop 5"},
    {"S_Spells.txt",
     "Prototype\tRequired\tOptional\tPower\tShop 1\tShop 2\tShop 3\tShop 4\tShop 5"},
    {"S_Armors.txt",
     "Prototype\tRequired\tOptional\tPower\tShop 1\tShop 2\tShop 3\tShop 4\tShop 5"},
    {"S_Weapons.txt",
     "Prototype\tRequired\tOptional\tPower\tShop 1\tShop 2\tShop 3\tShop 4\tShop 5"},
};

using enum Decoder;
constexpr Lead kNone = Lead::None;
constexpr Lead kTab = Lead::Tab;
constexpr Lead kComma = Lead::Comma;
constexpr Joiner kCommaSpace = Joiner::CommaSpace;

// The schools of a spell prototype's Type, by value.
constexpr std::string_view kSchoolNames[] = {"elemental", "senses", "astral"};
constexpr NumberNames kSchools = {"a school", kSchoolNames};
constexpr FieldRule kSchool = {.decoder = NamedNumber, .lead = kTab, .numberNames = &kSchools};

// Table kind 1, spell prototypes, by field code.
constexpr FieldRule kPrototypeFields[] = {
    {TextOrList, kNone, kCommaSpace},  // 0 Name
    {TextOrList, kTab, kCommaSpace},   // 1 Code
    {TextOrList, kTab, kCommaSpace},   // 2 Subtype
    {FloatPlain, kTab},                // 3 Price
    kSchool,                           // 4 Type
    {FloatPlain, kTab},                // 5 Mana
    {Int32, kTab},                     // 6 Slots
    {FloatPlain, kTab},                // 7 Speed
    {FloatPlain, kTab},                // 8 Range
    {FloatPlain, kTab},                // 9 Area
    {FloatPlain, kTab},                // 10 Effect
    {TextOrList, kTab, kCommaSpace},   // 11 Target
    {Int32, kTab},                     // 12 Num Targets
    {Int32, kTab},                     // 13 Duration
    {Int32, kTab},                     // 14 Actions
    {Int32, kTab},                     // 15 Require Trace
    {TextOrList, kTab, kCommaSpace},   // 16 Built-in Mods
    {TextOrList, kTab, kCommaSpace},   // 17 Special Mods
    {Int32, kTab},                     // 18 Texture Type Index
    {Int32, kTab},                     // 19 SubtypeID
    {ByteQuintuple, kTab},             // 20 Range, Targets, Area, Effect, Duration Mod
    {Int32, kTab},                     // 21 Complex
    {ShopFlags, kTab},                 // 22 Shop 1 to Shop 5
    {ColourChannel, kTab},             // 23 Light Color, first channel
    {ColourChannel, kComma},           // 24 Light Color, second channel
    {ColourChannel, kComma},           // 25 Light Color, third channel
    {FloatPlain, kTab},                // 26 Light Radius
    {FloatPlain, kTab},                // 27 Fadeout time
};

// Table kind 2, spell modifiers, by field code.
constexpr FieldRule kModifierFields[] = {
    {TextOrList, kNone, kCommaSpace},  // 0 Name
    {TextOrList, kTab, kCommaSpace},   // 1 Code
    {FloatPlain, kTab},                // 2 Price
    {Int32, kTab},                     // 3 Type
    {FloatPlain, kTab},                // 4 Mana
    {FloatPlain, kTab},                // 5 Value
    {Int32, kTab},                     // 6 Complex
    {TextOrList, kTab, kCommaSpace},   // 7 Shop
    {ShopFlags, kTab},                 // 8 Shop 1 to Shop 5
};

// Table kinds 3 to 5, composed spells, armour spells and weapon spells, by field code.
constexpr FieldRule kComposedFields[] = {
    {Skip},                              // 0 has no column
    {TextOrList, kNone, Joiner::Comma},  // 1 Prototype
    {TextOrList, kTab, Joiner::Comma},   // 2 Required
    {TextOrList, kTab, Joiner::Comma},   // 3 Optional
    {TextOrList, kTab, Joiner::Comma},   // 4 Power
    {ShopFlags, kTab},                   // 5 Shop 1 to Shop 5
};

constexpr FieldCatalogue kPrototypeCatalogue = CatalogueOf(kPrototypeFields, TableStyle::Plain);
constexpr FieldCatalogue kModifierCatalogue = CatalogueOf(kModifierFields, TableStyle::Plain);
constexpr FieldCatalogue kComposedCatalogue = CatalogueOf(kComposedFields, TableStyle::Plain);

// Codes beyond a catalogue, codes without a column in table kinds 3 to 5 and every field of other
// table kinds are skipped by their length.
TableRules SpellTableRules(std::uint8_t tableKind) {
  switch (tableKind) {
    case 1:
      return {&kPrototypeCatalogue, false};
    case 2:
      return {&kModifierCatalogue, false};
    case 3:
    case 4:
    case 5:
      return {&kComposedCatalogue, true};
    default:
      return {};
  }
}

int RouteSpellLine(std::uint8_t databaseKind, std::uint8_t tableKind) {
  if (databaseKind != 1 || tableKind < 1 || tableKind > 5) return kDropLine;
  return tableKind - 1;
}

// A spell database: composed spells (table kinds 3 to 5), or prototypes with field codes above
// those of any quest record (their last fields are colours, radius and fadeout).
bool FitsSpells(const DatabaseOutline& outline) {
  const auto& codes = outline.highestFieldCode;
  return codes[3] >= 0 || codes[4] >= 0 || codes[5] >= 0 || codes[1] > 10;
}

}  // namespace

constexpr UnpackerFormat kSpellFormat = {
    .unpacker = "grimdex",
    .packer = "grimpack",
    .extension = "sdb",
    .description = "a spell database (spell prototypes, modifiers and composed spells)",
    .fitsOutline = FitsSpells,
    .banner = kBanner,
    .tables = kTables,
    .walk = {.firstDatabaseNodeOnly = true,
             .moveToNodeEnds = true,
             .tableRules = SpellTableRules,
             .routeLine = RouteSpellLine},
};
