// Databases written for the whole-program tests, with the tables and console text they must give.
#pragma once

#include <cstdint>
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
