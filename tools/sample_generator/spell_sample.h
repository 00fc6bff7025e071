// The sample spell database: prototypes, modifiers and composed spells, armour and weapon spells.
#pragma once

#include <string>

// The bytes of samples/spells.sdb: one database node of kind 1 holding five tables, 44 spell
// prototypes (every field code 0 to 27), 20 modifiers (codes 0 to 8) and 20 records in each of
// the composed tables (codes 1 to 5). The same bytes on every run and platform.
std::string SpellSampleDatabase();
