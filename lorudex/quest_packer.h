// The quest database's packer as lorupack runs it, for its main and the tests.
#pragma once

#include "quest_walker.h"
#include "run_packer.h"

inline const PackerSpec kQuestPacker{
    "lorupack", "lorudex", "qdb", {kQuestFormat.tables, &kQuestFormat.walk}};
