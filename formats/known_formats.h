// The one table of the database formats the programs know, for what looks at a database of any
// of them: nodedump, the packers' check of a database's kind, the tests.
#pragma once

#include <algorithm>
#include <span>

#include "quest_walker.h"
#include "spell_walker.h"
#include "unpacker_format.h"

// Every known format, once.
inline constexpr const UnpackerFormat* kKnownFormats[] = {&kSpellFormat, &kQuestFormat};

// The known format `format` alone, as a set of one within kKnownFormats (empty if it is not one).
constexpr std::span<const UnpackerFormat* const> FormatAlone(const UnpackerFormat& format) {
  const std::span<const UnpackerFormat* const> known = kKnownFormats;
  const auto found = std::ranges::find(known, &format);
  if (found == known.end()) return {};
  return known.subspan(static_cast<std::size_t>(found - known.begin()), 1);
}
