// Text list payloads of the sample content, whose lists are written as ';'-separated strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The elements of "a;b;c"; an empty string has none.
std::vector<std::string> SplitSampleList(std::string_view list);

// A text list payload of the elements (Cyrillic letters in Windows-1251); no elements give an
// empty payload, which the unpackers show as an empty column.
std::string ListOrEmptyPayload(std::string_view list);

// As ListOrEmptyPayload, except that a single element is stored as a plain text value, as the
// game's own databases mix both for fields that may hold either.
std::string TextOrListPayload(std::string_view list);
