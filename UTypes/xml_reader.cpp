// The pull reader: a refilled buffer scanned with byte-class tables, one event at a time.
#include "xml_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kMostDepth = 256;
constexpr std::size_t kMostAttributes = 1000;
constexpr std::size_t kMostNameBytes = std::size_t{64} * 1024;
constexpr std::size_t kMostValueBytes = std::size_t{64} * 1024;
constexpr std::size_t kMostDeclarationBytes = 1024;
constexpr std::size_t kMostReferenceBytes = 32;      // "&#x10FFFF;" with room for leading zeros
constexpr std::size_t kDuplicateScanAttributes = 8;  // above this, duplicates are found by sorting

// Byte classes: each bit marks the bytes that end a run of one kind.
constexpr std::uint8_t kEndsName = 1;       // anything but an ASCII name character
constexpr std::uint8_t kEndsText = 2;       // < & CR, controls XML forbids, non-ASCII
constexpr std::uint8_t kEndsValue = 4;      // as text, and both quotes, tab, LF
constexpr std::uint8_t kEndsCdata = 8;      // ] CR, controls XML forbids, non-ASCII
constexpr std::uint8_t kIsWhitespace = 16;  // space, tab, LF, CR
constexpr std::uint8_t kStartsName = 32;    // an ASCII character a name may start with

constexpr bool IsForbiddenControl(int byte) {
  return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

constexpr bool IsAsciiNameStart(int byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte == '_' || byte == ':';
}

constexpr std::array<std::uint8_t, 256> ByteClasses() {
  std::array<std::uint8_t, 256> classes{};
  for (int byte = 0; byte < 256; ++byte) {
    const bool nameStart = IsAsciiNameStart(byte);
    const bool nameCharacter =
        nameStart || (byte >= '0' && byte <= '9') || byte == '-' || byte == '.';
    const bool special = IsForbiddenControl(byte) || byte >= 0x80 || byte == '\r';
    std::uint8_t bits = 0;
    if (!nameCharacter) bits |= kEndsName;
    if (special || byte == '<' || byte == '&') bits |= kEndsText;
    if (special || byte == '<' || byte == '&' || byte == '"' || byte == '\'' || byte == '\t' ||
        byte == '\n') {
      bits |= kEndsValue;
    }
    if (special || byte == ']') bits |= kEndsCdata;
    if (byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r') bits |= kIsWhitespace;
    if (nameStart) bits |= kStartsName;
    classes[static_cast<std::size_t>(byte)] = bits;
  }
  return classes;
}
constexpr std::array<std::uint8_t, 256> kByteClasses = ByteClasses();

std::uint8_t ClassOf(char byte) {
  return kByteClasses[static_cast<unsigned char>(byte)];
}

// At most 64 bytes of a name are shown in a failure, cut between characters.
std::string_view Shown(std::string_view name) {
  std::size_t length = std::min<std::size_t>(name.size(), 64);
  while (length < name.size() && length > 0 &&
         (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
    --length;
  }
  return name.substr(0, length);
}

[[noreturn]] void Fail(const XmlReader& reader, std::string_view what) {
  const std::uint64_t at = reader.bufferStart + reader.position;
  throw XmlFailure{"is not well-formed XML at byte " + std::to_string(at) + ": " +
                   std::string(what)};
}

bool InBuffer(const XmlReader& reader, std::string_view view) {
  const auto begin = reinterpret_cast<std::uintptr_t>(reader.buffer.get());
  const auto at = reinterpret_cast<std::uintptr_t>(view.data());
  return !view.empty() && at >= begin && at < begin + kXmlBufferSize;
}

// Points a view of the buffer at a copy of its bytes in `held` instead.
void Hold(const XmlReader& reader, std::string_view& view, std::string& held) {
  if (!InBuffer(reader, view)) return;
  held.assign(view);
  view = held;
}

// Before the buffer's bytes move: the current tag's name and its attributes read so far, which
// may be views of the buffer, are held by the reader.
void HoldViewsOfBuffer(XmlReader& reader) {
  Hold(reader, reader.name, reader.nameHeld);
  for (std::size_t slot = 0; slot < reader.attributeCount; ++slot) {
    XmlAttribute& attribute = reader.attributes[slot];
    Hold(reader, attribute.name, reader.attributeNamesHeld[slot]);
    Hold(reader, attribute.value, reader.attributeValuesHeld[slot]);
  }
}

// Moves the unread bytes to the buffer's start and fills the rest; true when `count` bytes are
// unread afterwards. Kept out of line, so that Ensure's common case stays small.
[[gnu::noinline]] bool Refill(XmlReader& reader, std::size_t count) {
  HoldViewsOfBuffer(reader);
  const std::size_t unread = reader.filled - reader.position;
  std::memmove(reader.buffer.get(), reader.buffer.get() + reader.position, unread);
  reader.bufferStart += reader.position;
  reader.position = 0;
  reader.filled = unread;
  while (reader.filled < count && !reader.sourceEnded) {
    const std::size_t room = kXmlBufferSize - reader.filled;
    const std::size_t got = reader.source(reader.buffer.get() + reader.filled, room);
    if (got > room) throw XmlFailure{"the XML source returned more bytes than asked for"};
    if (got == 0) reader.sourceEnded = true;
    reader.filled += got;
  }
  return reader.filled >= count;
}

// True when `count` bytes are unread (count is at most kMostReferenceBytes); false only near
// the document's end.
inline bool Ensure(XmlReader& reader, std::size_t count) {
  return reader.filled - reader.position >= count || Refill(reader, count);
}

char ByteAt(const XmlReader& reader, std::size_t ahead) {
  return reader.buffer[reader.position + ahead];
}

bool StartsWith(XmlReader& reader, std::string_view text) {
  return Ensure(reader, text.size()) &&
         std::memcmp(reader.buffer.get() + reader.position, text.data(), text.size()) == 0;
}

// The unread bytes up to the first one of class `endsRun` (or the buffer's end), passed over.
std::string_view TakeRun(XmlReader& reader, std::uint8_t endsRun) {
  const char* const begin = reader.buffer.get() + reader.position;
  const char* const end = reader.buffer.get() + reader.filled;
  const char* byte = begin;
  while (byte != end && (ClassOf(*byte) & endsRun) == 0)
    ++byte;
  reader.position += static_cast<std::size_t>(byte - begin);
  return {begin, static_cast<std::size_t>(byte - begin)};
}

[[noreturn, gnu::noinline]] void FailTooLong(const XmlReader& reader, std::size_t most,
                                             std::string_view what) {
  Fail(reader, std::string(what) + " longer than " + std::to_string(most) + " bytes");
}

inline void AppendBounded(const XmlReader& reader, std::string& out, std::string_view piece,
                          std::size_t most, std::string_view what) {
  if (piece.size() > most - out.size()) FailTooLong(reader, most, what);
  if (!piece.empty()) out.append(piece);
}

// The length of the UTF-8 character at `bytes` when it is valid and one XML allows (not U+FFFE
// or U+FFFF), else 0; `available` bytes may be read.
std::size_t XmlCharacterLength(const unsigned char* bytes, std::size_t available) {
  const unsigned lead = bytes[0];
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (available < length || bytes[1] < low || bytes[1] > high) return 0;
  for (std::size_t next = 2; next < length; ++next) {
    if ((bytes[next] & 0xC0) != 0x80) return 0;
  }
  if (lead == 0xEF && bytes[1] == 0xBF && bytes[2] >= 0xBE) return 0;
  return length;
}

// Appends the non-ASCII character at the reader's position after checking it.
void TakeCharacter(XmlReader& reader, std::string& out, std::size_t most, std::string_view what) {
  Ensure(reader, 4);
  const auto* const bytes =
      reinterpret_cast<const unsigned char*>(reader.buffer.get() + reader.position);
  const std::size_t length = XmlCharacterLength(bytes, reader.filled - reader.position);
  if (length == 0) Fail(reader, "invalid UTF-8 or a character XML forbids");
  AppendBounded(reader, out, {reader.buffer.get() + reader.position, length}, most, what);
  reader.position += length;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  char bytes[4];
  std::size_t length = 0;
  if (code < 0x80) {
    bytes[length++] = static_cast<char>(code);
  } else if (code < 0x800) {
    bytes[length++] = static_cast<char>(0xC0 | (code >> 6));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    bytes[length++] = static_cast<char>(0xE0 | (code >> 12));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    bytes[length++] = static_cast<char>(0xF0 | (code >> 18));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  }
  out.append(bytes, length);
}

bool IsXmlCharacter(std::uint32_t code) {
  return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
         (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// The character a reference's body ("amp", "#38", "#x26") stands for; 0 when none.
std::uint32_t ReferencedCharacter(std::string_view body) {
  constexpr std::pair<std::string_view, std::uint32_t> kPredefined[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [entity, character] : kPredefined) {
    if (body == entity) return character;
  }
  if (body.size() < 2 || body[0] != '#') return 0;
  const bool hex = body[1] == 'x';
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  std::uint32_t code = 0;
  for (const char digit : digits) {
    std::uint32_t value = 0;
    if (digit >= '0' && digit <= '9')
      value = static_cast<std::uint32_t>(digit - '0');
    else if (hex && digit >= 'a' && digit <= 'f')
      value = static_cast<std::uint32_t>(digit - 'a' + 10);
    else if (hex && digit >= 'A' && digit <= 'F')
      value = static_cast<std::uint32_t>(digit - 'A' + 10);
    else
      return 0;
    code = code * (hex ? 16u : 10u) + value;
    if (code > 0x10FFFF) return 0;
  }
  return IsXmlCharacter(code) ? code : 0;
}

// Appends the character of the reference at the reader's position ('&').
void TakeReference(XmlReader& reader, std::string& out, std::size_t most, std::string_view what) {
  Ensure(reader, kMostReferenceBytes);
  const std::size_t available = std::min(reader.filled - reader.position, kMostReferenceBytes);
  const std::string_view window(reader.buffer.get() + reader.position, available);
  const std::size_t semicolon = window.find(';');
  if (semicolon == std::string_view::npos) Fail(reader, "'&' that starts no reference");
  const std::string_view body = window.substr(1, semicolon - 1);
  const std::uint32_t code = ReferencedCharacter(body);
  if (code == 0) {
    Fail(reader, body.empty() || body[0] != '#' ? "an undefined entity"
                                                : "a reference to a character XML forbids");
  }
  std::string character;
  if (out.size() + 4 > most) {
    AppendUtf8(character, code);
    AppendBounded(reader, out, character, most, what);
  } else {
    AppendUtf8(out, code);
  }
  reader.position += semicolon + 1;
}

// Passes over whitespace; true when there was some.
bool SkipWhitespace(XmlReader& reader) {
  bool skipped = false;
  while (Ensure(reader, 1) && (ClassOf(ByteAt(reader, 0)) & kIsWhitespace) != 0) {
    skipped = true;
    ++reader.position;
  }
  return skipped;
}

// A name: a view of the buffer where it stands there whole and in ASCII, else held in `held`.
std::string_view ReadName(XmlReader& reader, std::string& held) {
  if (!Ensure(reader, 1)) Fail(reader, "a name expected at the end of the document");
  const char first = ByteAt(reader, 0);
  if ((ClassOf(first) & kStartsName) == 0 && static_cast<unsigned char>(first) < 0x80) {
    Fail(reader, "a name expected");
  }
  const std::string_view run = TakeRun(reader, kEndsName);
  if (reader.position < reader.filled && static_cast<unsigned char>(ByteAt(reader, 0)) < 0x80) {
    return run;
  }
  held.assign(run);  // shorter than the buffer, so within a name's bound
  for (;;) {
    if (!Ensure(reader, 1)) return held;
    const char byte = ByteAt(reader, 0);
    // Else the run ended with the buffer, and the name goes on.
    if ((ClassOf(byte) & kEndsName) != 0) {
      if (static_cast<unsigned char>(byte) < 0x80) return held;
      TakeCharacter(reader, held, kMostNameBytes, "a name");
    }
    AppendBounded(reader, held, TakeRun(reader, kEndsName), kMostNameBytes, "a name");
  }
}

// Takes the byte at the reader's position that ends a run of an attribute value, not its quote.
void TakeSpecialValueByte(XmlReader& reader, std::string& out, char byte) {
  if (byte == '<') Fail(reader, "'<' in an attribute value");
  if (byte == '&') {
    TakeReference(reader, out, kMostValueBytes, "an attribute value");
  } else if (static_cast<unsigned char>(byte) >= 0x80) {
    TakeCharacter(reader, out, kMostValueBytes, "an attribute value");
  } else if (byte == '"' || byte == '\'' || byte == '\t' || byte == '\n' || byte == '\r') {
    const char kept = byte == '"' || byte == '\'' ? byte : ' ';
    AppendBounded(reader, out, {&kept, 1}, kMostValueBytes, "an attribute value");
    ++reader.position;
    if (byte == '\r' && Ensure(reader, 1) && ByteAt(reader, 0) == '\n') ++reader.position;
  } else {
    Fail(reader, "a control character XML forbids");
  }
}

// Reads an attribute value after its opening quote, up to and including the closing one,
// normalised: tab, LF, CR and CR LF in the literal value become one space each. The value is a
// view of the buffer where it stands there as it is meant, else held in `held`.
std::string_view ReadAttributeValue(XmlReader& reader, std::string& held, char quote) {
  const std::string_view run = TakeRun(reader, kEndsValue);
  if (reader.position < reader.filled && ByteAt(reader, 0) == quote) {
    ++reader.position;
    return run;
  }
  held.assign(run);  // shorter than the buffer, so within a value's bound
  for (;;) {
    if (!Ensure(reader, 1)) Fail(reader, "an attribute value not closed");
    const char byte = ByteAt(reader, 0);
    // Else the run ended with the buffer, and the value goes on.
    if ((ClassOf(byte) & kEndsValue) != 0) {
      if (byte == quote) {
        ++reader.position;
        return held;
      }
      TakeSpecialValueByte(reader, held, byte);
    }
    AppendBounded(reader, held, TakeRun(reader, kEndsValue), kMostValueBytes, "an attribute value");
  }
}

// Passes over a comment's rest after "<!--".
void SkipComment(XmlReader& reader) {
  for (;;) {
    const char* const begin = reader.buffer.get() + reader.position;
    const void* dash = std::memchr(begin, '-', reader.filled - reader.position);
    reader.position =
        dash == nullptr
            ? reader.filled
            : reader.position + static_cast<std::size_t>(static_cast<const char*>(dash) - begin);
    if (!Ensure(reader, 3)) Fail(reader, "a comment not closed");
    if (ByteAt(reader, 0) == '-' && ByteAt(reader, 1) == '-') {
      if (ByteAt(reader, 2) != '>') Fail(reader, "'--' inside a comment");
      reader.position += 3;
      return;
    }
    if (ByteAt(reader, 0) == '-') ++reader.position;
  }
}

// Passes over the rest of a processing instruction up to and including "?>".
void SkipToInstructionEnd(XmlReader& reader) {
  for (;;) {
    const char* const begin = reader.buffer.get() + reader.position;
    const void* mark = std::memchr(begin, '?', reader.filled - reader.position);
    reader.position =
        mark == nullptr
            ? reader.filled
            : reader.position + static_cast<std::size_t>(static_cast<const char*>(mark) - begin);
    if (!Ensure(reader, 2)) Fail(reader, "a processing instruction not closed");
    if (ByteAt(reader, 0) == '?' && ByteAt(reader, 1) == '>') {
      reader.position += 2;
      return;
    }
    if (ByteAt(reader, 0) == '?') ++reader.position;
  }
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lowerCase) {
  return std::equal(text.begin(), text.end(), lowerCase.begin(), lowerCase.end(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
}

// Passes over a processing instruction after "<?"; the XML declaration is refused here, since
// it may only open the document.
void SkipProcessingInstruction(XmlReader& reader) {
  if (EqualsIgnoringCase(ReadName(reader, reader.nameHeld), "xml")) {
    Fail(reader, "an XML declaration that does not open the document");
  }
  if (StartsWith(reader, "?>")) {
    reader.position += 2;
    return;
  }
  if (!SkipWhitespace(reader)) Fail(reader, "whitespace expected after a processing target");
  SkipToInstructionEnd(reader);
}

// The value of the pseudo-attribute `name` in an XML declaration's body; empty when absent.
std::string_view DeclarationValue(const XmlReader& reader, std::string_view body,
                                  std::string_view name) {
  const std::size_t found = body.find(name);
  if (found == std::string_view::npos) return {};
  std::size_t at = body.find_first_not_of(" \t\r\n", found + name.size());
  if (at == std::string_view::npos || body[at] != '=') Fail(reader, "a damaged XML declaration");
  at = body.find_first_not_of(" \t\r\n", at + 1);
  if (at == std::string_view::npos || (body[at] != '"' && body[at] != '\'')) {
    Fail(reader, "a damaged XML declaration");
  }
  const std::size_t close = body.find(body[at], at + 1);
  if (close == std::string_view::npos) Fail(reader, "a damaged XML declaration");
  return body.substr(at + 1, close - at - 1);
}

// Reads the XML declaration after "<?xml" and refuses any encoding but UTF-8.
void ReadXmlDeclaration(XmlReader& reader) {
  std::string& body = reader.textHeld;
  body.clear();
  while (!StartsWith(reader, "?>")) {
    if (!Ensure(reader, 1)) Fail(reader, "an XML declaration not closed");
    AppendBounded(reader, body, {reader.buffer.get() + reader.position, 1}, kMostDeclarationBytes,
                  "the XML declaration");
    ++reader.position;
  }
  reader.position += 2;
  const std::string_view encoding = DeclarationValue(reader, body, "encoding");
  if (encoding.empty() || EqualsIgnoringCase(encoding, "utf-8")) return;
  // An encoding name is letters, digits and ._- only; anything else would spoil the message.
  if (encoding.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                 "0123456789._-") != std::string_view::npos) {
    Fail(reader, "a damaged XML declaration");
  }
  Fail(reader, "the encoding " + std::string(Shown(encoding)) + " is not UTF-8");
}

// Refuses documents in UTF-16 or UTF-32, passes over a UTF-8 byte order mark and reads the
// XML declaration if there is one.
void StartDocument(XmlReader& reader) {
  Ensure(reader, 6);
  const std::size_t available = reader.filled - reader.position;
  if (available == 0) Fail(reader, "an empty document");
  const auto* const bytes = reinterpret_cast<const unsigned char*>(reader.buffer.get());
  const bool utf16Mark = available >= 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) ||
                                            (bytes[0] == 0xFF && bytes[1] == 0xFE));
  // Without a mark, UTF-16 and UTF-32 show a zero byte beside the first '<'.
  const bool zeroFirst = bytes[0] == 0 || (available >= 2 && bytes[1] == 0);
  if (utf16Mark || zeroFirst) {
    Fail(reader, "a document in UTF-16 or UTF-32, not UTF-8");
  }
  if (StartsWith(reader, "\xEF\xBB\xBF")) reader.position += 3;
  if (StartsWith(reader, "<?xml") && Ensure(reader, 6) &&
      (ClassOf(ByteAt(reader, 5)) & kIsWhitespace) != 0) {
    reader.position += 5;
    ReadXmlDeclaration(reader);
  }
}

// Reads a CDATA section's characters after "<![CDATA[" into the text, CR LF turned into LF.
void ReadCdata(XmlReader& reader) {
  for (;;) {
    AppendBounded(reader, reader.textHeld, TakeRun(reader, kEndsCdata), reader.mostTextBytes,
                  "text");
    if (!Ensure(reader, 1)) Fail(reader, "a CDATA section not closed");
    const char byte = ByteAt(reader, 0);
    if ((ClassOf(byte) & kEndsCdata) == 0) continue;  // the run ended with the buffer
    if (StartsWith(reader, "]]>")) {
      reader.position += 3;
      return;
    }
    if (static_cast<unsigned char>(byte) >= 0x80) {
      TakeCharacter(reader, reader.textHeld, reader.mostTextBytes, "text");
      continue;
    }
    if (IsForbiddenControl(byte)) Fail(reader, "a control character XML forbids");
    const char kept = byte == '\r' ? '\n' : byte;
    AppendBounded(reader, reader.textHeld, {&kept, 1}, reader.mostTextBytes, "text");
    ++reader.position;
    if (byte == '\r' && Ensure(reader, 1) && ByteAt(reader, 0) == '\n') ++reader.position;
  }
}

// At a '<' in content: passes over a comment or processing instruction, or reads a CDATA
// section; false when a tag starts there, which the reader is then left at.
bool TakeMarkupInText(XmlReader& reader) {
  if (!Ensure(reader, 2)) Fail(reader, "the document ends inside a tag");
  const char next = ByteAt(reader, 1);
  if (next == '?') {
    reader.position += 2;
    SkipProcessingInstruction(reader);
  } else if (next != '!') {
    return false;
  } else if (StartsWith(reader, "<!--")) {
    reader.position += 4;
    SkipComment(reader);
  } else if (StartsWith(reader, "<![CDATA[")) {
    reader.position += 9;
    ReadCdata(reader);
  } else {
    Fail(reader, "a declaration inside an element");
  }
  return true;
}

// Whether a tag starts at the reader's position, its first two bytes in the buffer: not a
// comment, a CDATA section or a processing instruction, which belong to the text.
bool TagFollows(const XmlReader& reader) {
  return reader.filled - reader.position >= 2 && ByteAt(reader, 0) == '<' &&
         ByteAt(reader, 1) != '?' && ByteAt(reader, 1) != '!';
}

// Reads the character data up to the next tag (or the document's end) into the text: a view of
// the buffer where it stands there as it is meant, else held by the reader.
void ReadCharacterData(XmlReader& reader) {
  reader.text = {};
  // Most often a tag follows at once, or after a plain run of text.
  if (TagFollows(reader)) return;
  const std::string_view run = TakeRun(reader, kEndsText);
  if (TagFollows(reader)) {
    if (run.size() > reader.mostTextBytes) FailTooLong(reader, reader.mostTextBytes, "text");
    reader.text = run;
    return;
  }
  std::string& text = reader.textHeld;
  text.clear();
  AppendBounded(reader, text, run, reader.mostTextBytes, "text");
  for (;;) {
    if (!Ensure(reader, 1)) break;
    const char byte = ByteAt(reader, 0);
    if ((ClassOf(byte) & kEndsText) == 0) {
      // The run ended with the buffer.
    } else if (byte == '<') {
      if (!TakeMarkupInText(reader)) break;
    } else if (byte == '&') {
      TakeReference(reader, text, reader.mostTextBytes, "text");
    } else if (byte == '\r') {
      AppendBounded(reader, text, "\n", reader.mostTextBytes, "text");
      ++reader.position;
      if (Ensure(reader, 1) && ByteAt(reader, 0) == '\n') ++reader.position;
    } else if (static_cast<unsigned char>(byte) >= 0x80) {
      TakeCharacter(reader, text, reader.mostTextBytes, "text");
    } else {
      Fail(reader, "a control character XML forbids");
    }
    AppendBounded(reader, text, TakeRun(reader, kEndsText), reader.mostTextBytes, "text");
  }
  reader.text = text;
}

void RefuseDuplicateAttributes(XmlReader& reader) {
  const std::size_t count = reader.attributeCount;
  if (count <= kDuplicateScanAttributes) {
    for (std::size_t later = 1; later < count; ++later) {
      const std::string_view name = reader.attributes[later].name;
      for (std::size_t earlier = 0; earlier < later; ++earlier) {
        // Names are never empty; their first bytes tell most apart without a call.
        const std::string_view other = reader.attributes[earlier].name;
        if (other.size() == name.size() && other[0] == name[0] && other == name) {
          Fail(reader, "a duplicate attribute " + std::string(Shown(name)));
        }
      }
    }
    return;
  }
  std::vector<std::uint16_t>& order = reader.attributeOrder;
  order.resize(count);
  for (std::size_t index = 0; index < count; ++index)
    order[index] = static_cast<std::uint16_t>(index);
  std::sort(order.begin(), order.end(), [&reader](std::uint16_t left, std::uint16_t right) {
    return reader.attributes[left].name < reader.attributes[right].name;
  });
  for (std::size_t index = 1; index < count; ++index) {
    const std::string_view name = reader.attributes[order[index]].name;
    if (name == reader.attributes[order[index - 1]].name) {
      Fail(reader, "a duplicate attribute " + std::string(Shown(name)));
    }
  }
}

// Reads one attribute (name = "value") into the next slot.
void ReadAttribute(XmlReader& reader) {
  const std::size_t slot = reader.attributeCount;
  if (slot == kMostAttributes) Fail(reader, "more than 1000 attributes");
  if (reader.attributes.size() == slot) {
    reader.attributes.emplace_back();
    reader.attributeNamesHeld.emplace_back();
    reader.attributeValuesHeld.emplace_back();
  }
  XmlAttribute& attribute = reader.attributes[slot];
  attribute.name = ReadName(reader, reader.attributeNamesHeld[slot]);
  attribute.value = {};
  ++reader.attributeCount;  // so that its name is held with the others when the buffer moves
  SkipWhitespace(reader);
  if (!Ensure(reader, 1) || ByteAt(reader, 0) != '=') Fail(reader, "'=' expected after a name");
  ++reader.position;
  SkipWhitespace(reader);
  const char quote = Ensure(reader, 1) ? ByteAt(reader, 0) : '\0';
  if (quote != '"' && quote != '\'') Fail(reader, "a quoted attribute value expected");
  ++reader.position;
  attribute.value = ReadAttributeValue(reader, reader.attributeValuesHeld[slot], quote);
}

// Reads a start tag after its '<' and opens its element.
XmlEvent ReadStartTag(XmlReader& reader) {
  reader.attributeCount = 0;
  reader.name = ReadName(reader, reader.nameHeld);
  for (;;) {
    const bool spaced = SkipWhitespace(reader);
    if (!Ensure(reader, 1)) Fail(reader, "the document ends inside a tag");
    const char byte = ByteAt(reader, 0);
    if (byte == '>' || byte == '/') {
      if (byte == '/' && (!Ensure(reader, 2) || ByteAt(reader, 1) != '>')) {
        Fail(reader, "'/' not followed by '>'");
      }
      reader.emptyElementOpen = byte == '/';
      reader.position += byte == '/' ? 2 : 1;
      break;
    }
    if (!spaced) Fail(reader, "whitespace expected before an attribute");
    ReadAttribute(reader);
  }
  RefuseDuplicateAttributes(reader);
  if (reader.depth == kMostDepth) Fail(reader, "elements nested deeper than 256");
  if (reader.openElements.size() == reader.depth) reader.openElements.emplace_back();
  std::string& open = reader.openElements[reader.depth];
  open.assign(reader.name);
  reader.name = open;
  ++reader.depth;
  reader.rootSeen = true;
  return XmlEvent::StartElement;
}

// Whether the end tag's name at the reader's position is `open` in full, its bytes in the buffer:
// then reading the name could only give `open`.
bool EndTagNames(XmlReader& reader, const std::string& open) {
  if (open.size() >= kMostReferenceBytes || !Ensure(reader, open.size() + 1)) return false;
  const char after = ByteAt(reader, open.size());
  return (ClassOf(after) & kEndsName) != 0 && static_cast<unsigned char>(after) < 0x80 &&
         std::memcmp(reader.buffer.get() + reader.position, open.data(), open.size()) == 0;
}

// Reads an end tag after its "</" and closes the element it matches.
XmlEvent ReadEndTag(XmlReader& reader) {
  std::string& open = reader.openElements[reader.depth - 1];
  const bool namesOpen = EndTagNames(reader, open);
  if (namesOpen) {
    reader.position += open.size();
  } else {
    reader.name = ReadName(reader, reader.nameHeld);
  }
  SkipWhitespace(reader);
  if (!Ensure(reader, 1) || ByteAt(reader, 0) != '>') Fail(reader, "'>' expected in an end tag");
  if (!namesOpen && reader.name != open) {
    Fail(reader, "the end tag </" + std::string(Shown(reader.name)) + "> does not close <" +
                     std::string(Shown(open)) + ">");
  }
  // The event's name is the open element's, which stays in place until the next event.
  reader.name = open;
  ++reader.position;
  --reader.depth;
  return XmlEvent::EndElement;
}

// Passes over whitespace, comments and processing instructions outside the root element; true
// when a '<' of an element follows, false at the document's end.
bool SkipOutsideRoot(XmlReader& reader) {
  for (;;) {
    SkipWhitespace(reader);
    if (!Ensure(reader, 1)) return false;
    if (ByteAt(reader, 0) != '<') {
      Fail(reader,
           reader.rootSeen ? "text after the root element" : "text before the root element");
    }
    if (StartsWith(reader, "<?")) {
      reader.position += 2;
      SkipProcessingInstruction(reader);
    } else if (StartsWith(reader, "<!--")) {
      reader.position += 4;
      SkipComment(reader);
    } else if (StartsWith(reader, "<!DOCTYPE")) {
      Fail(reader, "a document type declaration, which is refused");
    } else if (StartsWith(reader, "<!")) {
      Fail(reader, "a declaration outside the root element");
    } else {
      return true;
    }
  }
}

// The next event while no element is open: the root's start tag or the document's end.
XmlEvent NextOutsideRoot(XmlReader& reader) {
  if (reader.ended) return XmlEvent::End;
  if (!SkipOutsideRoot(reader)) {
    if (!reader.rootSeen) Fail(reader, "an empty document");
    reader.ended = true;
    return XmlEvent::End;
  }
  if (!Ensure(reader, 2) || ByteAt(reader, 1) == '/') Fail(reader, "an end tag outside the root");
  if (reader.rootSeen) Fail(reader, "an element after the root element");
  ++reader.position;
  return ReadStartTag(reader);
}

}  // namespace

void StartXml(XmlReader& reader, XmlSource source, std::size_t mostTextBytes) {
  reader.source = std::move(source);
  if (!reader.buffer) reader.buffer = std::make_unique<char[]>(kXmlBufferSize);
  reader.position = 0;
  reader.filled = 0;
  reader.bufferStart = 0;
  reader.sourceEnded = false;
  reader.mostTextBytes = mostTextBytes;
  reader.depth = 0;
  reader.rootSeen = false;
  reader.emptyElementOpen = false;
  reader.ended = false;
  reader.name = {};
  reader.attributeCount = 0;
  reader.text = {};
  reader.started = false;
}

XmlEvent NextXml(XmlReader& reader) {
  if (!reader.started) {
    reader.started = true;
    StartDocument(reader);
  }
  reader.attributeCount = 0;
  if (reader.emptyElementOpen) {
    reader.emptyElementOpen = false;
    --reader.depth;
    return XmlEvent::EndElement;  // named as its start
  }
  // The last event's name and attributes are done with: nothing is held for them.
  reader.name = {};
  if (reader.depth == 0) return NextOutsideRoot(reader);
  ReadCharacterData(reader);
  if (!reader.text.empty()) return XmlEvent::Text;
  if (!Ensure(reader, 2)) {
    Fail(reader, "the element <" + std::string(Shown(reader.openElements[reader.depth - 1])) +
                     "> is not closed");
  }
  if (ByteAt(reader, 1) == '/') {
    reader.position += 2;
    return ReadEndTag(reader);
  }
  ++reader.position;
  return ReadStartTag(reader);
}

std::string_view XmlName(const XmlReader& reader) {
  return reader.name;
}

std::string_view LocalName(std::string_view name) {
  // A loop rather than find: names are a few bytes, and this runs for every element.
  for (std::size_t index = 0; index < name.size(); ++index) {
    if (name[index] == ':') return name.substr(index + 1);
  }
  return name;
}

std::string_view AttributeKey(std::string_view name) {
  const bool declaration = name == "xmlns" || name.starts_with("xmlns:");
  return declaration ? name : LocalName(name);
}

const std::string_view* XmlAttributeValue(const XmlReader& reader, std::string_view localName) {
  for (const XmlAttribute& attribute : XmlAttributes(reader)) {
    const std::string_view name = attribute.name;
    // Whether by its full or its local name, a match ends in `localName`: most attributes are
    // passed over by that alone, and by its last byte before a call to compare the rest.
    if (!localName.empty() && (name.empty() || name.back() != localName.back())) continue;
    if (!name.ends_with(localName)) continue;
    if (AttributeKey(name) == localName) return &attribute.value;
  }
  return nullptr;
}

std::span<const XmlAttribute> XmlAttributes(const XmlReader& reader) {
  return {reader.attributes.data(), reader.attributeCount};
}

std::string_view XmlText(const XmlReader& reader) {
  return reader.text;
}

std::size_t XmlDepth(const XmlReader& reader) {
  return reader.depth;
}

void SkipXmlElement(XmlReader& reader) {
  if (reader.depth == 0) return;
  const std::size_t outside = reader.depth - 1;
  while (NextXml(reader) != XmlEvent::EndElement || reader.depth != outside) {
  }
}
