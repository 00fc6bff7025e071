// The quest database unpacker: its banner, its two tables, its field catalogue and its walk.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "node_reader.h"
#include "field_codec.h"
#include "table_set.h"
#include "tree_walk.h"

extern const std::array<std::string_view, 6> kQuestBanner;

// Briefings (table kind 1) and quests (table kind 2).
extern const std::array<TableSpec, 2> kQuestTables;

// The walk: which nodes are read, how fields are read, where lines go.
extern const WalkRules kQuestWalkRules;

// Walks every database node to the end of the file without moving to any node's end.
// Briefing lines are written from database nodes of every kind, quest lines only from
// database nodes of kind 1.
void RunQuestWalk(NodeReader& reader, TableSet& tables, char decimalSeparator);
