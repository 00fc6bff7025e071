// The quest database unpacker's format: its banner, its two tables, its field catalogue and its
// walk.
#pragma once

#include "unpacker_format.h"

// Tables: briefings (table kind 1) and quests (table kind 2). The walk reads every database node
// to the end of the file without moving to any node's end. Briefing lines are written from
// database nodes of every kind, quest lines only from database nodes of kind 1.
extern const UnpackerFormat kQuestFormat;
