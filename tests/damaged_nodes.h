// Node headers that only damaged streams have, written by tests alone.
#pragma once

#include <cstdint>

#include "node_writer.h"

// A long-form header storing any length, negative or larger than what follows.
void AppendLongHeader(NodeWriter& writer, std::uint8_t kind, std::int32_t storedLength);
