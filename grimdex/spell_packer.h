// The spell database's packer as grimpack runs it, for its main and the tests.
#pragma once

#include "run_packer.h"
#include "spell_walker.h"

inline const PackerSpec kSpellPacker{
    "grimpack", "grimdex", "sdb", {kSpellFormat.tables, &kSpellFormat.walk}};
