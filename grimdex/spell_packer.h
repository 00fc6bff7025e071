// The spell database's packer as grimpack runs it, for its main and the tests.
#pragma once

#include "known_formats.h"
#include "run_packer.h"
#include "spell_walker.h"

inline const PackerSpec kSpellPacker{kSpellFormat.packer,
                                     kSpellFormat.unpacker,
                                     kSpellFormat.extension,
                                     {kSpellFormat.tables, &kSpellFormat.walk},
                                     kKnownFormats};
