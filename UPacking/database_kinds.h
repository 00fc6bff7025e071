// The kinds of database the packers pack, told apart by their outlines, so that a database given
// to the wrong packer is named for what it is.
#pragma once

#include <string_view>

#include "original_layout.h"

struct KnownDatabase {
  std::string_view description;  // "a quest database (briefings and quests)"
  std::string_view packer;       // "lorupack"
  bool (*fits)(const DatabaseOutline& outline);
};

// The one kind the outline fits, or null when it fits none or both.
const KnownDatabase* KnownDatabaseOf(const DatabaseOutline& outline);
