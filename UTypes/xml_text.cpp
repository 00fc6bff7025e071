// Entities and the cell escape: a table of the few special bytes, and runs copied whole.
#include "xml_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The bytes WriteCellText looks at: controls other than tab and LF, & < >, the underscore that
// may start an escape, and 0xEF, the lead byte of U+FFFE and U+FFFF.
constexpr std::array<bool, 256> CellSpecialBytes() {
  std::array<bool, 256> special{};
  for (int byte = 0; byte < 0x20; ++byte)
    special[static_cast<std::size_t>(byte)] = true;
  special['\t'] = false;
  special['\n'] = false;
  special['&'] = true;
  special['<'] = true;
  special['>'] = true;
  special['_'] = true;
  special[0xEF] = true;
  return special;
}
constexpr std::array<bool, 256> kCellSpecial = CellSpecialBytes();

// Whether any of eight bytes may be special: one below 0x20 (tab and LF too, which the byte loop
// then lets through), & < > _ or 0xEF. All eight are tested at once, as a word.
bool MayHoldSpecialByte(std::uint64_t eight) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  // A byte below `bound` (at most 0x80) sets its high bit in (byte - bound) & ~byte; a borrow
  // can mark more bytes only after a byte that is truly below.
  auto anyBelow = [](std::uint64_t word, std::uint64_t bound) {
    return ((word - kOnes * bound) & ~word & kHighBits) != 0;
  };
  auto anyEqual = [&](unsigned char byte) { return anyBelow(eight ^ (kOnes * byte), 1); };
  return anyBelow(eight, 0x20) || anyEqual('&') || anyEqual('<') || anyEqual('>') ||
         anyEqual('_') || anyEqual(0xEF);
}

constexpr bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

constexpr unsigned HexValue(char c) {
  if (c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

std::uint8_t ByteAt(std::string_view text, std::size_t at) {
  return static_cast<std::uint8_t>(text[at]);
}

// True when the character at `at` is written as an escape: a control other than tab and LF, or
// U+FFFE or U+FFFF (EF BF BE, EF BF BF).
bool WritesAsEscape(std::string_view text, std::size_t at) {
  const std::uint8_t byte = ByteAt(text, at);
  if (byte < 0x20) return byte != '\t' && byte != '\n';
  return byte == 0xEF && text.size() - at >= 3 && ByteAt(text, at + 1) == 0xBF &&
         (ByteAt(text, at + 2) & 0xFE) == 0xBE;
}

// True when the underscore at `at` would be read back as the start of an escape: 'x' and four
// hex digits follow, then an underscore or a character that is itself written as an escape.
bool UnderscoreNeedsEscape(std::string_view text, std::size_t at) {
  if (text.size() - at < 7 || text[at + 1] != 'x') return false;
  for (std::size_t digit = at + 2; digit < at + 6; ++digit) {
    if (!IsHexDigit(text[digit])) return false;
  }
  return text[at + 6] == '_' || WritesAsEscape(text, at + 6);
}

char* WriteEscape(char* out, unsigned unit) {
  out[0] = '_';
  out[1] = 'x';
  out[2] = kHexDigits[(unit >> 12) & 15];
  out[3] = kHexDigits[(unit >> 8) & 15];
  out[4] = kHexDigits[(unit >> 4) & 15];
  out[5] = kHexDigits[unit & 15];
  out[6] = '_';
  return out + 7;
}

char* WriteEntity(char* out, std::string_view entity) {
  std::memcpy(out, entity.data(), entity.size());
  return out + entity.size();
}

// Writes the special byte at `at` at `out`, moving it past what it wrote; returns how many bytes
// of `text` it consumed.
std::size_t WriteSpecialCellByte(char*& out, std::string_view text, std::size_t at) {
  const std::uint8_t byte = ByteAt(text, at);
  switch (byte) {
    case '&':
      out = WriteEntity(out, "&amp;");
      return 1;
    case '<':
      out = WriteEntity(out, "&lt;");
      return 1;
    case '>':
      out = WriteEntity(out, "&gt;");
      return 1;
    case '_':
      if (UnderscoreNeedsEscape(text, at))
        out = WriteEscape(out, '_');
      else
        *out++ = '_';
      return 1;
    case 0xEF:
      if (!WritesAsEscape(text, at)) {
        *out++ = static_cast<char>(byte);
        return 1;
      }
      out = WriteEscape(out, 0xFFFEu | (ByteAt(text, at + 2) & 1u));
      return 3;
    default:
      out = WriteEscape(out, byte);
      return 1;
  }
}

// Parses _xHHHH_ at `at`; returns the unit, or -1 when no escape starts there.
long EscapeAt(std::string_view text, std::size_t at) {
  if (text.size() - at < 7 || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_') {
    return -1;
  }
  unsigned unit = 0;
  for (std::size_t digit = at + 2; digit < at + 6; ++digit) {
    if (!IsHexDigit(text[digit])) return -1;
    unit = unit * 16 + HexValue(text[digit]);
  }
  return static_cast<long>(unit);
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Writes the escape at `at` (`unit` its value); returns how many bytes of `text` it consumed.
std::size_t AppendUnescaped(std::string& out, std::string_view text, std::size_t at, long unit) {
  const auto first = static_cast<std::uint32_t>(unit);
  if (first >= 0xD800 && first < 0xDC00) {
    const long second = EscapeAt(text, at + 7);
    if (second >= 0xDC00 && second < 0xE000) {
      AppendUtf8(out,
                 0x10000 + ((first - 0xD800) << 10) + static_cast<std::uint32_t>(second - 0xDC00));
      return 14;
    }
  }
  if (first >= 0xD800 && first < 0xE000) {
    out.append(text.substr(at, 7));
  } else {
    AppendUtf8(out, first);
  }
  return 7;
}

}  // namespace

char* WriteCellText(std::string_view utf8, char* out) {
  const auto* const bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const std::size_t size = utf8.size();
  std::size_t at = 0;
  while (at < size) {
    // Eight bytes none of which is special are copied as one word.
    if (size - at >= 8) {
      std::uint64_t eight = 0;
      std::memcpy(&eight, bytes + at, 8);
      if (!MayHoldSpecialByte(eight)) {
        std::memcpy(out, &eight, 8);
        out += 8;
        at += 8;
        continue;
      }
    }
    // Else the eight bytes (or the few left) one at a time, up to a special one.
    const std::size_t stop = std::min(size, at + 8);
    while (at < stop && !kCellSpecial[bytes[at]])
      *out++ = static_cast<char>(bytes[at++]);
    if (at < stop) at += WriteSpecialCellByte(out, utf8, at);
  }
  return out;
}

void AppendCellText(std::string& out, std::string_view utf8) {
  const std::size_t start = out.size();
  out.resize(start + kMostCellTextGrowth * utf8.size());
  char* const end = WriteCellText(utf8, out.data() + start);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void AppendUnescapedCellText(std::string& out, std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t underscore = text.find('_', at);
    if (underscore == std::string_view::npos) break;
    out.append(text.substr(at, underscore - at));
    const long unit = EscapeAt(text, underscore);
    if (unit < 0) {
      out += '_';
      at = underscore + 1;
    } else {
      at = underscore + AppendUnescaped(out, text, underscore, unit);
    }
  }
  if (at < text.size()) out.append(text.substr(at));
}

void AppendXmlAttributeText(std::string& out, std::string_view utf8) {
  std::size_t at = 0;
  while (at < utf8.size()) {
    const std::size_t special = utf8.find_first_of("&<>\"\t\n\r", at);
    if (special == std::string_view::npos) break;
    out.append(utf8.substr(at, special - at));
    switch (utf8[special]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      default:
        out += "&#13;";
        break;
    }
    at = special + 1;
  }
  if (at < utf8.size()) out.append(utf8.substr(at));
}
