// What a database holds by its stored lengths alone, enough to tell a database of one format from
// one of another.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "node_reader.h"

// A database's size, its database nodes and, per table kind, the highest field code of its
// records.
struct DatabaseOutline {
  std::int64_t size = 0;
  std::size_t databaseNodes = 0;
  std::array<int, 256> highestFieldCode{};  // -1: no field in a table of that kind
};

// The outline of the database, read by its stored lengths from its start (damage ends the reading
// quietly). A failed read raises IoFailure.
DatabaseOutline OutlineOf(NodeReader& database);
