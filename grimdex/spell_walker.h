// The spell database unpacker: its banner, its five tables, its field catalogue and its walk.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "node_reader.h"
#include "field_codec.h"
#include "table_set.h"
#include "tree_walk.h"

extern const std::array<std::string_view, 6> kSpellBanner;

// Prototypes, modifiers, composed spells, armour spells, weapon spells: table kinds 1 to 5.
extern const std::array<TableSpec, 5> kSpellTables;

// The walk: which nodes are read, how fields are read, where lines go.
extern const WalkRules kSpellWalkRules;

// Walks the first database node only; lines are written from a database node of kind 1, for
// table kinds 1 to 5. Moves to every field's end in table kinds 3 to 5, and to every record's
// and table's end.
void RunSpellWalk(NodeReader& reader, TableSet& tables, char decimalSeparator);
