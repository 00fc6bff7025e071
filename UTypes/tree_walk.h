// The walk over a database's levels, shared by both programs: what differs is in WalkRules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "node_reader.h"
#include "row_text.h"
#include "table_set.h"

// Where a record's line goes: the index of a table, or kDropLine.
inline constexpr int kDropLine = -1;

// The rule of every field code of one table kind, so that a code is looked up without a test.
using FieldCatalogue = std::array<FieldRule, 256>;

// The catalogue of the rules given by field code; codes beyond them are skipped by their length.
constexpr FieldCatalogue CatalogueOf(std::span<const FieldRule> rules) {
  FieldCatalogue catalogue{};
  for (std::size_t code = 0; code < rules.size(); ++code)
    catalogue[code] = rules[code];
  return catalogue;
}

// Every field skipped by its length.
inline constexpr FieldCatalogue kSkipEveryField{};

// How the fields of one table kind are read.
struct TableRules {
  const FieldCatalogue* catalogue = &kSkipEveryField;
  // Moves to every field's end after decoding it, whatever the decoder consumed.
  bool moveToFieldEnds = false;
};

struct WalkRules {
  // Reads the first database node only, then moves to the end of the file.
  bool firstDatabaseNodeOnly = false;
  // Moves to every record's and table's end after reading it, re-aligning the reader with the
  // stored lengths, and reads nothing of a node past its parent's end (a field's payload stops
  // at its record's end); otherwise the next header is read where the last one's handling
  // stopped.
  bool moveToNodeEnds = false;
  TableRules (*tableRules)(std::uint8_t tableKind) = nullptr;
  // The table a record's line goes to, or kDropLine.
  int (*routeLine)(std::uint8_t databaseKind, std::uint8_t tableKind) = nullptr;
};

// Walks database nodes, table nodes, record nodes and field nodes until the end of the file,
// writing one line per routed record, also an empty one. Each level reads children while the
// position is before its node's end. File failures end the run.
void WalkDatabase(NodeReader& reader, TableSet& tables, char decimalSeparator,
                  const WalkRules& rules);
