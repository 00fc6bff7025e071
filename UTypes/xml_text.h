// Text written into workbook XML: entities, the cell escape _xHHHH_ and its inverse.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The most bytes WriteCellText writes for one byte of text: a control byte's escape _xHHHH_.
inline constexpr std::size_t kMostCellTextGrowth = 7;

// Writes `utf8` (valid UTF-8) as XML element content at `out`, which has room for
// kMostCellTextGrowth bytes a byte of `utf8`; returns the end of what it wrote. & < > become
// entities. CR, and every other character XML 1.0 cannot hold (U+0000 to U+0008, U+000B,
// U+000C, U+000E to U+001F, U+FFFE, U+FFFF), becomes the cell escape _xHHHH_ (upper-case hex).
// An underscore that would otherwise start something read back as an escape (a literal _xHHHH_
// in any case of hex digits, or _xHHHH followed by a character written as an escape) is written
// as _x005F_. Tab and LF stay as they are. Allocates nothing.
char* WriteCellText(std::string_view utf8, char* out);

// Appends `utf8` to `out` as WriteCellText writes it. Allocates only as `out` grows.
void AppendCellText(std::string& out, std::string_view utf8);

// The inverse of AppendCellText on decoded element text: every _xHHHH_ (lower-case 'x', hex digits
// in either case) becomes the UTF-16 unit HHHH in UTF-8; a surrogate pair written as two escapes
// joins into one character, a lone surrogate stays as its literal text. Everything else is copied.
// Appends to `out`.
void AppendUnescapedCellText(std::string& out, std::string_view text);

// Appends `utf8` as an attribute value to be put inside double quotes: & < > " as entities, tab,
// LF and CR as &#9; &#10; &#13;; every other byte as it is.
void AppendXmlAttributeText(std::string& out, std::string_view utf8);
