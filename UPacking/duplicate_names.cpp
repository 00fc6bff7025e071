// Records of the new table that share a Name or a Code with another record.
#include "duplicate_names.h"

#include <algorithm>
#include <map>

#include "split_text.h"

std::vector<std::size_t> NamingColumns(const TableSpec& table) {
  std::vector<std::size_t> columns;
  const std::vector<std::string_view> names = SplitColumns(table.headerRow);
  for (std::size_t column = 0; column < names.size(); ++column) {
    if (names[column] == "Name" || names[column] == "Code") columns.push_back(column);
  }
  return columns;
}

namespace {

// A letter's small form: A to Z, the Cyrillic capitals (0xC0 to 0xDF) and Yo (0xA8).
char SmallLetter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDF)) {
    return static_cast<char>(byte + 0x20);
  }
  return byte == 0xA8 ? static_cast<char>(0xB8) : c;
}

}  // namespace

std::string NameKey(std::string_view value) {
  std::string key(value);
  std::ranges::transform(key, key.begin(), SmallLetter);
  return key;
}

std::vector<DuplicateName> FindDuplicateNames(std::size_t table, std::size_t column,
                                              std::vector<NamedValue> values) {
  struct Holders {
    std::size_t first = 0;
    std::vector<std::size_t> lines;
    bool brought = false;
  };
  std::map<std::string, Holders> byKey;
  for (std::size_t at = 0; at < values.size(); ++at) {
    if (values[at].value.empty()) continue;
    Holders& holders = byKey[NameKey(values[at].value)];
    if (holders.lines.empty()) holders.first = at;
    holders.lines.push_back(at);
    holders.brought = holders.brought || values[at].brought;
  }
  std::vector<const Holders*> found;
  for (const auto& [key, holders] : byKey) {
    if (holders.lines.size() >= 2 && holders.brought) found.push_back(&holders);
  }
  std::ranges::sort(found, {}, &Holders::first);
  std::vector<DuplicateName> duplicates;
  for (const Holders* holders : found) {
    DuplicateName duplicate{table, column, std::move(values[holders->first].value), {}};
    for (std::size_t at : holders->lines)
      duplicate.lines.push_back(values[at].at);
    duplicates.push_back(std::move(duplicate));
  }
  return duplicates;
}
