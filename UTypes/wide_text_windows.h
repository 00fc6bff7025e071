// Windows only: UTF-8 text inside, UTF-16 at the platform's wide calls, and long paths.
#pragma once

#include <string>
#include <string_view>

// The UTF-16 form of UTF-8 `text`; a byte that is not UTF-8 becomes U+FFFD. Allocates.
std::wstring WideText(std::string_view text);

// The UTF-8 form of UTF-16 `text`; a lone surrogate becomes U+FFFD. Allocates.
std::string Utf8Text(std::wstring_view text);

// The wide form of a UTF-8 path for the wide file calls: as it is while its full form is short
// enough for every call, else the full form behind the \\?\ prefix (\\?\UNC\ for a share), which
// lifts the 260-character limit where Windows allows long paths.
std::wstring WidePath(const char* path);
