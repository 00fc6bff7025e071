// The spell database unpacker's format: its banner, its five tables, its field catalogue and its
// walk.
#pragma once

#include "unpacker_format.h"

// Tables: prototypes, modifiers, composed spells, armour spells, weapon spells (table kinds 1 to
// 5). The walk reads the first database node only; lines are written from a database node of
// kind 1, for table kinds 1 to 5. It moves to every field's end in table kinds 3 to 5, and to
// every record's and table's end.
extern const UnpackerFormat kSpellFormat;
