// Packing edited tables back into a database: the original is the base and the tables are the
// changes; everything the tables do not show, or show unchanged, is kept byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "node_reader.h"
#include "platform.h"
#include "record_patch.h"
#include "stored_tree.h"
#include "table_set.h"
#include "tree_walk.h"

// What a packer packs: its unpacker's tables and the walk that reads them.
struct PackRules {
  std::span<const TableSpec> tables;
  const WalkRules* walk = nullptr;
};

// Ends a pack: every problem found, each a line that says where and why.
struct PackFailure {
  std::vector<std::string> problems;
};

// What became of one table's records.
struct TableChanges {
  std::size_t kept = 0;  // bytes unchanged, moved ones included
  std::size_t moved = 0;
  std::size_t changed = 0;
  std::size_t added = 0;
  std::size_t removed = 0;
};

// A value stored otherwise than its cell says.
struct RoundedValue {
  std::size_t table = 0;
  std::size_t line = 0;  // in the table file, its header row being line 1
  RoundedCell cell;
};

// A change to the original's bytes: the `removed` bytes at `at` give way to `bytes`, then to
// the original's [copyFrom, copyFrom + copySize) (a moved record).
struct ByteEdit {
  std::int64_t at = 0;
  std::int64_t removed = 0;
  std::string bytes;
  std::int64_t copyFrom = 0;
  std::int64_t copySize = 0;
};

// The new database as edits of the original, and what its tables must read as.
struct PackPlan {
  std::vector<ByteEdit> edits;  // in the order of their offsets
  std::int64_t newSize = 0;
  // Where the new database's bytes differ from the original's, a byte wider on each side (a
  // removal is a place between bytes): the nodes to look into when checking it.
  std::vector<ByteRange> changed;
  std::vector<std::vector<std::uint64_t>> lineHashes;  // per table, every line's LineHash
  std::vector<TableChanges> changes;                   // per table
  std::vector<RoundedValue> rounded;
};

// The file name of the table with the given index.
std::string TableName(const PackRules& rules, std::size_t table);

// A column of the table as problems and summaries name it: its header name in quotes, or its
// number (from 1) beyond the header.
std::string ColumnName(const TableSpec& table, std::size_t column);

// Gives the bytes of the edited table with the given index, valid until it is asked for the
// next one (one table is held at a time).
using TableReader = std::function<std::string_view(std::size_t table)>;

// Plans the new database: the original must be sound by its stored lengths and readable by the
// unpacker's walk; each table's lines are aligned with what its records read as, and kept,
// changed, moved, added and removed records become edits of the original's bytes. Raises
// PackFailure with every problem found (damage, a changed header row, cells that cannot be
// stored, changes to records read off their stored lengths...). File failures end the run.
PackPlan PlanPack(NodeReader& original, const PackRules& rules, char decimalSeparator,
                  const TableReader& readTable);
