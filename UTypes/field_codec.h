// The field codec: how a field's payload becomes its columns in a record's line (the value
// decoders), and how an edited field's text becomes a payload again (their inverses).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "node_reader.h"
#include "row_buffer.h"

// What a decoder appends before its first column: the byte of its value, or nothing.
enum class Lead : char { None = '\0', Tab = '\t', Comma = ',' };

// What stands between the elements of a text list.
enum class Joiner : std::uint8_t { CommaSpace, Comma };

// The row room a held record's fields may take, reserved once for the whole record: each field
// takes at least its two header bytes of the record and appends at most its payload's bytes and
// a small number more (a lead, a number text's room, a text list's last element read past its
// payload).
std::size_t RowRoomOfRecord(std::int64_t recordLength);

// The value decoders, chosen per field code by a catalogue. Each takes the reader at the field's
// payload start and the field's header, consumes the bytes given and appends its text. A read
// past the end of the database raises IoFailure. L is the field's payload length (a negative stored
// length counts as 0).
enum class Decoder : std::uint8_t {
  // Consumes L bytes; appends the lead, then all L bytes as they are.
  TextValue,
  // A first payload byte of 1 marks a text list: whole elements are read while the position is
  // before the payload end (the last one may run past it) and their texts, each less its last
  // byte, are joined. Otherwise as TextValue. Appends the lead first, also for L = 0.
  TextOrList,
  // The number decoders consume exactly L bytes: the first 4 are the little-endian value; fewer
  // than 4 are its low bytes, the missing high bytes zero. They append the lead, then:
  // the signed decimal of the int32;
  Int32,
  // the name that the rule's number names give the int32 (the first for 0), nothing for any
  // other int32;
  NamedNumber,
  // the float32 in the plain number style;
  FloatPlain,
  // the float32 in the general number style;
  FloatGeneral,
  // the float32 times 255, rounded to the nearest integer with ties to even. A product that is
  // NaN gives 0; one beyond the signed 32-bit range gives the nearest bound.
  ColourChannel,
  // Consumes 4 bytes whatever L is; appends the lead, then five tab-separated columns, "1" or
  // empty, for bits 0 to 4 of the first byte.
  ShopFlags,
  // Consumes 5 bytes whatever L is; appends five times a tab and one byte's unsigned decimal.
  ByteQuintuple,
  // Moves to the field's end without reading; appends nothing.
  Skip,
  // Reads through the field's L bytes (past the end of the database it fails); appends nothing.
  Discard,
};

// The names of a NamedNumber field's values from 0 on ("elemental", "senses", "astral"), and what
// a name is, for messages ("a school"). Given by a format's catalogue.
struct NumberNames {
  std::string_view what;
  std::span<const std::string_view> names;
};

// The number style of the table a field is shown in. The decoders take no notice of it; it
// gives the decimal separator in which a whole-number column may be written with decimals
// ("12.0"): the plain style's point (PlainPoint) or the user's separator.
enum class TableStyle : std::uint8_t { General, Plain };

// A catalogue row: which decoder a field code selects, with its lead and joiner, the style of its
// table, and the names of a NamedNumber's values (none without).
struct FieldRule {
  Decoder decoder = Decoder::Skip;
  Lead lead = Lead::None;
  Joiner joiner = Joiner::CommaSpace;
  TableStyle tableStyle = TableStyle::General;
  const NumberNames* numberNames = nullptr;
};

// Runs the rule's decoder on the field, through a NodeReader, which checks every read and
// append, or a HeldRecord whose row room is reserved (RowRoomOfRecord), which checks none; its
// text goes to a RowBuilder, or nowhere through a RowWithoutText.
template <typename Reader, typename Row>
void DecodeField(const FieldRule& rule, Reader& reader, const NodeHeader& field, Row& row);

// ---- Field text back into a payload, for tables edited by hand: each decoder has its inverse
// beside it in field_codec.cpp. A field's text is what its decoder appended (its lead, then its
// columns, NUL bytes removed); a whole number may be written with decimals that are all zero,
// in the table's separator (NumberSeparator): "3.00" is 3.

// Why a field's text cannot be stored: `why` completes "<the cell> ..." (e.g. "is not a whole
// number"), `column` counts the offending column from the field's first.
struct FieldProblem {
  std::size_t column = 0;
  std::string cell;
  std::string why;
};

// The decimal separator of the field's numbers: the float decoders' own, else the table's.
char NumberSeparator(const FieldRule& rule, char decimalSeparator);

// What the rule's decoder appends before its first column ("\t", "," or nothing); the
// quintuple's first tab stands for its lead.
std::string_view LeadText(const FieldRule& rule);

// Whether `text` (a field's whole text, lead included) still shows the value stored as `stored`,
// whose decoder wrote `storedText`: the same text, the same number written otherwise ("12.50"
// for "12.5", "3.0" for "3"), flags or bytes that stand for the same bits, or for a float a
// number that rounds to exactly the stored float ("7103.16992" for 7103.169922). The one rule
// by which an edited field keeps its stored bytes.
bool ShowsStoredValue(const FieldRule& rule, std::string_view storedText, std::string_view stored,
                      std::string_view text, char decimalSeparator);

// The 32-bit value that the number decoders read from a stored payload of any length: its
// first 4 bytes little-endian, fewer than 4 with the missing high bytes zero.
std::uint32_t StoredNumberValue(std::string_view payload);

// The rule's decoder's text of a payload (lead included) under the decimal separator; false
// when the decoder would read past the payload (a text that starts like a list). Allocates.
bool DecodedText(const FieldRule& rule, std::string_view payload, char decimalSeparator,
                 std::string& text);

// A field's text encoded back and read again.
struct EncodedField {
  std::string payload;
  std::string readBack;  // the decoder's text of the payload, lead included
  bool rounded = false;  // the value stored is not the text's: readBack is its own text
};

// Reads `text` (a field's whole text, lead included) back into a payload for the rule's
// decoder, with the forms of `original` (the stored payload the field had, or the one of the
// field a new record is built on): a text keeps its NUL and its list form, shop flags their
// hidden bits (zero `withoutHiddenBits`). The payload is then decoded again: a number may read
// back as another text of its value ("3" for "3.0"), or as the text of another value
// (rounded); any other text must read back as itself. False, with the problem, when the text
// cannot be stored.
bool EncodeField(const FieldRule& rule, std::string_view original, bool withoutHiddenBits,
                 std::string_view text, char decimalSeparator, EncodedField& encoded,
                 FieldProblem& problem);
