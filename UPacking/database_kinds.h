// Telling the formats of databases apart by their outlines, so that a database given to the wrong
// packer is named for what it is.
#pragma once

#include <span>

#include "database_outline.h"
#include "unpacker_format.h"

// The one format of `formats` whose outline test the outline passes, or null when it passes none
// or several.
const UnpackerFormat* FormatOfOutline(const DatabaseOutline& outline,
                                      std::span<const UnpackerFormat* const> formats);
