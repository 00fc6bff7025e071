// One unpacker's database format: its banner, its tables and its walk, filled in by each program.
#pragma once

#include <span>
#include <string_view>

#include "node_reader.h"
#include "table_set.h"
#include "tree_walk.h"

struct UnpackerFormat {
  // The unpacker's and its packer's program names: "grimdex", "grimpack".
  std::string_view unpacker;
  std::string_view packer;
  // The lines the unpacker prints when it is given no argument.
  std::span<const std::string_view> banner;
  // The tables it writes, in the order of the walk's routes.
  std::span<const TableSpec> tables;
  // Which nodes its walk reads, how fields are read, where lines go.
  WalkRules walk;
};

// The walk of the unpacker of `format` over its open database: WalkDatabase with the format's
// rules, writing every routed line to `tables`. A failed file operation raises IoFailure.
template <const UnpackerFormat& format>
void WalkFormat(NodeReader& reader, TableSet& tables, char decimalSeparator) {
  WalkDatabase(reader, tables, decimalSeparator, format.walk);
}
