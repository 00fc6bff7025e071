// The quest database format: banner, tables, field catalogues and walk rules.
#include "quest_walker.h"

namespace {

constexpr std::string_view kBanner[] = {
    "/------------------------------------\\",
    "MARROWFJORDS QUESTS DATABASE UNPACKER",
    "VERSION: " UNPACKER_VERSION,
    "\\------------------------------------/",
    "",
    " USAGE: lorudex.exe quests.qdb",
};

constexpr TableSpec kTables[] = {
    {"Briefing.txt", "Name\tExp\tExpTotal\tZone\tDescription\tMoney"},
    {"Quests.txt",
     "Name\tExp\tMoney\tItems\tDescription\tRemoveItems\tGiveQuests\tCompleteQuests\t"
     "AvailableZones\tCompleteZones\tSpecial"},
};

using enum Decoder;
constexpr Lead kNone = Lead::None;
constexpr Lead kTab = Lead::Tab;
constexpr Joiner kComma = Joiner::Comma;

constexpr std::size_t kBriefingTable = 0;
constexpr std::size_t kQuestTable = 1;

// Table kind 1, briefings, by field code. Briefing texts get no list test.
constexpr FieldRule kBriefingFields[] = {
    {TextValue, kNone},    // 0 Name
    {FloatGeneral, kTab},  // 1 Exp
    {FloatGeneral, kTab},  // 2 ExpTotal
    {Int32, kTab},         // 3 Zone
    {TextValue, kTab},     // 4 Description
    {FloatGeneral, kTab},  // 5 Money
    {Discard},             // 6 read through, no trace
    {Discard},             // 7 read through, no trace
};

// Table kind 2, quests, by field code.
constexpr FieldRule kQuestFields[] = {
    {TextOrList, kNone, kComma},  // 0 Name
    {Int32, kTab},                // 1 Exp
    {FloatGeneral, kTab},         // 2 Money
    {TextOrList, kTab, kComma},   // 3 Items
    {TextOrList, kTab, kComma},   // 4 Description
    {TextOrList, kTab, kComma},   // 5 RemoveItems
    {TextOrList, kTab, kComma},   // 6 GiveQuests
    {TextOrList, kTab, kComma},   // 7 CompleteQuests
    {TextOrList, kTab, kComma},   // 8 AvailableZones
    {TextOrList, kTab, kComma},   // 9 CompleteZones
    {Int32, kTab},                // 10 Special
};

constexpr FieldCatalogue kBriefingCatalogue = CatalogueOf(kBriefingFields, TableStyle::General);
constexpr FieldCatalogue kQuestCatalogue = CatalogueOf(kQuestFields, TableStyle::General);

// Fields of other table kinds are skipped by their length; no field is followed by a move.
TableRules QuestTableRules(std::uint8_t tableKind) {
  if (tableKind == 1) return {&kBriefingCatalogue, false};
  if (tableKind == 2) return {&kQuestCatalogue, false};
  return {};
}

int RouteQuestLine(std::uint8_t databaseKind, std::uint8_t tableKind) {
  if (tableKind == 1) return kBriefingTable;
  if (tableKind == 2 && databaseKind == 1) return kQuestTable;
  return kDropLine;
}

// A quest database: several database nodes, quests with codes above a spell modifier's
// (zones, special), or briefings (codes up to 7) beside quests with no records of table kinds 3
// to 5, where a spell database keeps its composed spells.
bool FitsQuests(const DatabaseOutline& outline) {
  const auto& codes = outline.highestFieldCode;
  const bool noComposedKinds = codes[3] < 0 && codes[4] < 0 && codes[5] < 0;
  return outline.databaseNodes > 1 || codes[2] >= 9 ||
         (codes[1] >= 0 && codes[1] <= 7 && codes[2] >= 0 && noComposedKinds);
}

}  // namespace

constexpr UnpackerFormat kQuestFormat = {
    .unpacker = "lorudex",
    .packer = "lorupack",
    .extension = "qdb",
    .description = "a quest database (briefings and quests)",
    .fitsOutline = FitsQuests,
    .banner = kBanner,
    .tables = kTables,
    .walk = {.firstDatabaseNodeOnly = false,
             .moveToNodeEnds = false,
             .tableRules = QuestTableRules,
             .routeLine = RouteQuestLine},
};
