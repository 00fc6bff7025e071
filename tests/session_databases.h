// Random spell and quest databases for property tests of the packers: realistic tables whose
// records carry bytes no table shows, their node trees read and written, and mods made of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "random_draws.h"

enum class DatabaseKind : std::uint8_t { Spells, Quests };

// A database of the kind, the same bytes for the same seed and size: each shown table holds
// from about size / 4 (at least two) to `size` records, every line distinct. Hidden in its bytes:
// record kind bytes other than 0, list element bytes other than 1 after the first element,
// shop flag bits 5 to 7 and filler bytes, long length forms on small nodes, fields without a
// column, float bits that six decimals do not show, empty texts in their three forms, tables
// of kinds no table shows and, in a spell database, bytes after its database node. Every
// database it makes is sound and unpacks without a failure report.
std::string GenerateDatabase(DatabaseKind kind, std::uint64_t seed, std::size_t size);

// Where a record of a mod comes from: the record of the database it was made of (its index
// among the lines of its shown table) that it is, changed or not, or that it is a copy of.
struct ModRecordOrigin {
  std::size_t record = 0;
  bool copy = false;
};

// A mod of `database` (one GenerateDatabase made, or a mod of one), as another tool would write
// it, the same bytes for the same seed: some records' fields get other values of their kinds
// (and may get other hidden bytes with them: list element bytes, length forms, shop flag bits,
// float bits, the record's kind byte), some records are removed, and some are added, each a copy of
// another with a new name placed after it. Records and fields it leaves alone keep their bytes.
// `origins`, when given, gets the origin of every record of each shown table of the mod, in the
// order of its lines.
std::string MakeModDatabase(DatabaseKind kind, std::string_view database, std::uint64_t seed,
                            std::vector<std::vector<ModRecordOrigin>>* origins = nullptr);

// ---- The node tree of a database.

// A node: its kind byte (a field's code), its length form and its payload, which is either the
// nodes of the level below or, for a field, its value.
struct TreeNode {
  std::uint8_t kind = 0;
  bool longForm = false;  // the 4-byte length form; otherwise the 1-byte one where it fits
  std::string value;      // a field's payload
  std::vector<TreeNode> children;
  std::size_t offset = 0;  // where a node read from bytes lies, header included
  std::size_t size = 0;
};

// Levels of the tree: database nodes hold tables, tables hold records, records hold fields.
struct DatabaseTree {
  std::vector<TreeNode> databases;
  std::string trailing;  // the bytes after a spell database's first database node
};

// The bytes of the tree. A node in the 1-byte length form whose payload has outgrown it takes
// the 4-byte form.
std::string WriteDatabaseTree(const DatabaseTree& tree);

// Reads a database whose nodes nest exactly by their stored lengths (every child within its
// parent, none with a negative length), all of it or, for a spell database, its first database
// node and the bytes after it. False when the bytes are not such a database.
bool ReadDatabaseTree(DatabaseKind kind, std::string_view bytes, DatabaseTree& tree);

// The shown table (0 for the first table the unpacker writes) that the records of a table node
// go to inside a database node of the given kind, or -1 when their lines are dropped.
int ShownTableOf(DatabaseKind kind, std::uint8_t databaseKind, std::uint8_t tableKind);

// The record nodes of every shown table, in the order of their lines.
std::vector<std::vector<const TreeNode*>> RecordsOfTables(DatabaseKind kind,
                                                          const DatabaseTree& tree);

// For every record of every shown table, in the order of their lines, the table node that holds
// it: its number among all the tree's table nodes, in file order.
std::vector<std::vector<std::size_t>> TableNodesOfRecords(DatabaseKind kind,
                                                          const DatabaseTree& tree);

// The bytes of a node read from `bytes`, header included.
std::string_view BytesOf(std::string_view bytes, const TreeNode& node);

// Bytes in hexadecimal for a report, the first 24 of them.
std::string Hex(std::string_view bytes);

// Whether a packed node keeps the original's length form: the same, or the 4-byte form for a
// 1-byte one that its new length no longer fits.
bool KeepsLengthForm(const TreeNode& original, const TreeNode& packed);

// What a packed database changed of what no table shows, in words (none: it kept it): the
// database and table nodes with their kinds and length forms, the tables of kinds no table shows
// byte for byte, and the bytes after a spell database's database node.
std::vector<std::string> HiddenPartDifferences(DatabaseKind kind, const DatabaseTree& original,
                                               std::string_view originalBytes,
                                               const DatabaseTree& packed,
                                               std::string_view packedBytes);

// ---- The columns of the shown tables.

// What a column's cells hold, so that a valid other value can be chosen.
enum class CellKind : std::uint8_t {
  UniqueText,  // a name or a code, different in almost every record
  Text,        // a text or a list from a small vocabulary
  Number,      // an integer, a float or a byte
  School,      // elemental, senses or astral
  ShopFlag,    // empty or 1
  Colour,      // three channels 0 to 255 separated by commas
};

// A column and the field codes behind it: one field, or several that share the column, each
// owning one comma-separated piece of it in their order. Records of the generated databases
// and of the samples hold every field of their table once, in code order, besides fields
// without a column.
struct ColumnRecipe {
  CellKind kind;
  std::vector<std::uint8_t> codes;
};

// The columns of a shown table, in the order of its header row.
const std::vector<ColumnRecipe>& TableColumns(DatabaseKind kind, std::size_t table);
