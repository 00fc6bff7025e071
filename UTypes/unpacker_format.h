// One database format as its programs know it: their names, what the database holds and how its
// outline is told, the unpacker's banner, tables and walk; filled in by each format's folder.
#pragma once

#include <span>
#include <string_view>

#include "database_outline.h"
#include "node_reader.h"
#include "table_set.h"
#include "tree_walk.h"

struct UnpackerFormat {
  // The unpacker's and its packer's program names: "grimdex", "grimpack".
  std::string_view unpacker;
  std::string_view packer;
  // The database file's extension, without the dot: "sdb".
  std::string_view extension;
  // What the database holds, for messages: "a spell database (spell prototypes, ...)".
  std::string_view description;
  // Whether the outline has a sign of a database of this format. True for every database of the
  // format the programs are meant for; a database with signs of several formats is of none.
  bool (*fitsOutline)(const DatabaseOutline& outline);
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
