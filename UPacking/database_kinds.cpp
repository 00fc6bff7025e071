// Telling the kinds of database apart.
#include "database_kinds.h"

#include <algorithm>
#include <iterator>

namespace {

// A spell database: composed spells (table kinds 3 to 5), or prototypes with field codes above
// those of any quest record (their last fields are colours, radius and fadeout).
bool FitsSpells(const DatabaseOutline& outline) {
  const auto& codes = outline.highestFieldCode;
  return codes[3] >= 0 || codes[4] >= 0 || codes[5] >= 0 || codes[1] > 10;
}

// A quest database: several database nodes, quests with codes above a spell modifier's
// (zones, special), or briefings beside quests and nothing of a spell database.
bool FitsQuests(const DatabaseOutline& outline) {
  const auto& codes = outline.highestFieldCode;
  return outline.databaseNodes > 1 || codes[2] >= 9 ||
         (codes[1] >= 0 && codes[1] <= 7 && codes[2] >= 0 && !FitsSpells(outline));
}

constexpr KnownDatabase kKinds[] = {
    {"a spell database (spell prototypes, modifiers and composed spells)", "grimpack", FitsSpells},
    {"a quest database (briefings and quests)", "lorupack", FitsQuests},
};

}  // namespace

const KnownDatabase* KnownDatabaseOf(const DatabaseOutline& outline) {
  const auto fitting =
      std::ranges::count_if(kKinds, [&](const KnownDatabase& kind) { return kind.fits(outline); });
  if (fitting != 1) return nullptr;
  return &*std::ranges::find_if(kKinds,
                                [&](const KnownDatabase& kind) { return kind.fits(outline); });
}
