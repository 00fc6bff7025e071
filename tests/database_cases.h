// Databases written for the whole-program tests, with the tables and console text they must give.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "node_writer.h"

// A table's expected content after its header row.
struct ExpectedTable {
  std::string fileName;
  std::string rows;
};

struct DatabaseCase {
  std::string name;                   // usable as a file name
  std::string database;               // the bytes of the database file
  std::vector<ExpectedTable> tables;  // tables with rows; every other one holds its header only
  int exitStatus = 0;
  std::string console;  // standard output
};

std::vector<DatabaseCase> SpellCases();
std::vector<DatabaseCase> QuestCases();

// The lines of the full briefing and full quest records of QuestCases with a given separator.
std::string FullBriefingLine(char separator);
std::string FullQuestLine(char separator);

// Short names for the value payloads the cases are written with.
inline std::string Text(std::string_view text) {
  return TextPayload(text);
}
inline std::string Int(std::int32_t value) {
  return Int32Payload(value);
}
inline std::string Float(float value) {
  return Float32Payload(value);
}

// Builders of the four levels; nodes take the short length form when it fits.
inline std::string Field(std::uint8_t code, std::string_view payload) {
  return NodeBytes(code, payload);
}

inline std::string Node(std::uint8_t kind, std::initializer_list<std::string> children) {
  std::string payload;
  for (const std::string& child : children)
    payload += child;
  return NodeBytes(kind, payload);
}

inline std::string Record(std::initializer_list<std::string> fields) {
  return Node(0, fields);
}

// Rows as lines, each ending in CR LF.
inline std::string Lines(std::initializer_list<std::string_view> rows) {
  std::string text;
  for (std::string_view row : rows) {
    text += row;
    text += "\r\n";
  }
  return text;
}

// The report of a run cut short by the end of the database.
inline std::string ReadBeyondEndReport(std::string_view module) {
  return "Exception EInOutError in module " + std::string(module) +
         " at 00401A2C.\nRead beyond end of file.\r\n";
}

// The largest payload a long length holds.
inline constexpr std::size_t kLargestPayload = (std::size_t{1} << 30) - 1;

// An address space limit for a run on that database, in KiB: half a GiB, far below its text of
// nearly a GiB, and far above what the tools need besides.
inline constexpr std::size_t kMemoryBelowHugeText = std::size_t{512} * 1024;

// Writes at `path` a database of one table of `tableKind` whose first record holds the text
// "Kept" in field `textCode` and whose second holds a text of nearly a GiB there (kLargestPayload
// less the room of the nodes around it), the file's largest. The file is sparse: the large text
// is a hole of zero bytes that takes no room on the disk. Returns the offset of the large text.
inline std::int64_t WriteDatabaseWithHugeText(const std::string& path, std::uint8_t tableKind,
                                              std::uint8_t textCode) {
  const std::string kept = Record({Field(textCode, Text("Kept"))});
  const std::size_t hugeText = kLargestPayload - 64 - kept.size();
  const std::size_t hugeRecord = 5 + hugeText;
  const std::size_t table = kept.size() + 5 + hugeRecord;
  const std::string headers = NodeHeaderBytes(1, 5 + table, LengthForm::Long) +
                              NodeHeaderBytes(tableKind, table, LengthForm::Long) + kept +
                              NodeHeaderBytes(0, hugeRecord, LengthForm::Long) +
                              NodeHeaderBytes(textCode, hugeText, LengthForm::Long);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(headers.data(), static_cast<std::streamsize>(headers.size()));
  out.close();
  std::filesystem::resize_file(path, headers.size() + hugeText);
  return static_cast<std::int64_t>(headers.size());
}
