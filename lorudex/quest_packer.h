// The quest database's packer as lorupack runs it, for its main and the tests.
#pragma once

#include "known_formats.h"
#include "quest_walker.h"
#include "run_packer.h"

inline const PackerSpec kQuestPacker{kQuestFormat.packer,
                                     kQuestFormat.unpacker,
                                     kQuestFormat.extension,
                                     {kQuestFormat.tables, &kQuestFormat.walk},
                                     kKnownFormats};
