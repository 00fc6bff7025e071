// The new database's bytes: the original's with the plan's edits, written in order.
#pragma once

#include "node_reader.h"
#include "pack_plan.h"
#include "platform.h"

// Writes the original with the plan's edits to `output`. Moved records are read in the order
// they lie in the original, a window of the new database at a time, so that a sorted table's
// records, which come from all over the original, are read in few large pieces. File failures
// raise IoFailure.
void WritePacked(NodeReader& original, const PackPlan& plan, PlatformFile output);
