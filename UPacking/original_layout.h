// The original database as the packers see it: where its database, table and record nodes lie,
// what each record's line hashes to, which bytes the unpacker reads off their stored lengths,
// and a record read again field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "node_reader.h"
#include "record_patch.h"
#include "table_set.h"
#include "table_text.h"
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

struct DatabaseSpot {
  std::int64_t offset;
  NodeHeader header;
};

struct TableNodeSpot {
  std::int64_t offset;
  NodeHeader header;
  std::size_t database;
};

// A record whose line goes to a table.
struct RecordSpot {
  std::int64_t offset;
  std::uint32_t size;  // of the whole node, header included
  std::uint32_t tableNode;
};

inline std::int64_t RecordEnd(const RecordSpot& spot) {
  return spot.offset + spot.size;
}

// Bytes that the unpacker reads off their stored lengths: a field read past its payload's end or
// short of it. They must stay as they are, and where they are relative to each other.
struct ReadOffLengths {
  std::int64_t start;
  std::int64_t end;
  std::int64_t field;  // the field that is read otherwise than its length says
};

// One table's records in file order, with the hashes of their lines.
struct TableRecords {
  std::vector<RecordSpot> spots;
  std::vector<std::uint64_t> hashes;
  std::vector<std::uint32_t> multiLine;  // records whose line holds a line feed
};

struct Layout {
  std::int64_t size = 0;
  std::vector<DatabaseSpot> databases;
  std::vector<TableNodeSpot> tableNodes;
  std::vector<TableRecords> tables;
  std::vector<ReadOffLengths> readOff;
};

// A database's tables as its unpacker writes them, each line one record (a line that holds line
// breaks too), and where each line lies in its table's text.
struct RenderedTables {
  std::vector<std::string> texts;
  std::vector<TableIndex> indexes;
};

// Walks the database as the unpacker does and notes where everything lies; with `rendered`,
// also writes its tables, header rows first. A value that runs past the end of the file raises
// PackFailure; other file failures raise IoFailure.
Layout ReadLayout(NodeReader& database, const PackRules& rules, char decimalSeparator,
                  RenderedTables* rendered = nullptr);

// The record read again as the unpacker reads it: its bytes and its fields with their texts.
StoredRecord ReadStoredRecord(NodeReader& database, const PackRules& rules, const Layout& layout,
                              const RecordSpot& spot, char decimalSeparator);

// The record node's bytes, header included.
std::string ReadRecordBytes(NodeReader& database, const RecordSpot& spot);

// The record's line as the unpacker writes it, valid until the next call with `row`.
std::string_view RecordLine(NodeReader& database, const PackRules& rules, const Layout& layout,
                            const RecordSpot& spot, RowBuilder& row);

// Whether a record of the table reads as a line in UTF-8.
bool TableHasUtf8Lines(NodeReader& database, const PackRules& rules, char decimalSeparator,
                       std::size_t table);

// What a database holds outside its shown records and the headers of its database and table
// nodes (tables of kinds no table shows, other database nodes, bytes after them): how many bytes
// and their hash, which differ where those parts differ. File failures raise IoFailure.
struct HiddenParts {
  std::int64_t size = 0;
  std::uint64_t hash = 0;
  friend bool operator==(const HiddenParts&, const HiddenParts&) = default;
};
HiddenParts HiddenPartsOf(NodeReader& database, const Layout& layout);

// The bytes read off their stored lengths that hold part of [start, end), if any.
const ReadOffLengths* ReadOffWithin(const Layout& layout, std::int64_t start, std::int64_t end);
