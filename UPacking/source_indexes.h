// The start of a pack: while the unpacker's walk reads the original's layout, a second thread
// checks the original's stored lengths and finds the lines of the sources' tables.
#pragma once

#include <string>
#include <vector>

#include "node_reader.h"
#include "original_layout.h"
#include "pack_sources.h"
#include "table_text.h"

// What the start of a pack found: the original's layout, and per source and table where its
// lines are; a table whose start is wrong is a problem named with its source.
struct PackStart {
  Layout layout;
  std::vector<std::vector<TableIndex>> indexes;  // per source, per table
  std::vector<std::string> problems;
};

// Reads the original's layout (ReadLayout) and, on a second thread through a reader of its own,
// checks it is sound by its stored lengths and indexes the sources' tables (a database source's
// lines are found already). Raises PackFailure when the original is damaged or its walk fails,
// or a table cannot be read; other file failures raise IoFailure.
PackStart StartPack(NodeReader& original, const PackRules& rules, char decimalSeparator,
                    const std::vector<PackSource>& sources);
