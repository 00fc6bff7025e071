// Row text and the value decoders.
#include "row_text.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "number_text.h"

namespace {

constexpr std::string_view kSchoolNames[] = {"elemental", "senses", "astral"};

void AppendLead(RowBuilder& row, Lead lead) {
  if (lead == Lead::Tab) row.text += '\t';
  if (lead == Lead::Comma) row.text += ',';
}

std::string_view JoinerText(Joiner joiner) {
  return joiner == Joiner::Comma ? "," : ", ";
}

// Appends the next `count` payload bytes as they are.
void AppendPayloadBytes(NodeReader& reader, std::int64_t count, RowBuilder& row) {
  RequireAvailable(reader, count);
  const std::size_t start = row.text.size();
  row.text.resize(start + static_cast<std::size_t>(count));
  ReadBytes(reader, static_cast<std::size_t>(count),
            reinterpret_cast<std::uint8_t*>(row.text.data() + start));
}

void AppendTextList(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Joiner joiner) {
  const std::int64_t payloadEnd = NodeEnd(field);
  bool first = true;
  std::uint8_t element[127];
  while (Position(reader) < payloadEnd) {
    std::uint8_t elementHeader[2];  // element byte (unused) and short-form length byte
    ReadBytes(reader, 2, elementHeader);
    const std::size_t count = elementHeader[1] >> 1;
    ReadBytes(reader, count, element);
    if (!first) row.text += JoinerText(joiner);
    first = false;
    // The element's last byte is its terminating NUL, dropped whatever its value.
    if (count > 1) row.text.append(reinterpret_cast<const char*>(element), count - 1);
  }
}

// The 32-bit value of a number field, consuming exactly its payload length.
std::uint32_t ReadNumberValue(NodeReader& reader, const NodeHeader& field) {
  const std::int64_t length = PayloadLength(field);
  std::uint8_t bytes[4] = {};
  ReadBytes(reader, static_cast<std::size_t>(length < 4 ? length : 4), bytes);
  DiscardBytes(reader, length - 4);
  return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}

float ReadFloatValue(NodeReader& reader, const NodeHeader& field) {
  return std::bit_cast<float>(ReadNumberValue(reader, field));
}

void AppendInteger(RowBuilder& row, std::int32_t value) {
  char text[kNumberTextCapacity];
  row.text.append(text, IntegerText(value, text));
}

// The channel times 255 (exact in double precision), rounded to nearest with ties to even.
std::int32_t ColourChannelValue(float channel) {
  const double product = static_cast<double>(channel) * 255.0;
  if (std::isnan(product)) return 0;
  if (std::isinf(product)) {
    return product > 0 ? std::numeric_limits<std::int32_t>::max()
                       : std::numeric_limits<std::int32_t>::min();
  }
  const double below = std::floor(product);
  const double fraction = product - below;
  double rounded = below;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) rounded = below + 1.0;
  if (rounded >= 2147483648.0) return std::numeric_limits<std::int32_t>::max();
  if (rounded < -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(rounded);
}

// Removes every NUL byte of `text` in place.
void RemoveNulBytes(std::string& text) {
  char* const begin = text.data();
  char* const end = begin + text.size();
  char* nul = static_cast<char*>(std::memchr(begin, 0, text.size()));
  if (nul == nullptr) return;
  char* out = nul;
  const char* in = nul + 1;
  while (in < end) {
    const char* next =
        static_cast<const char*>(std::memchr(in, 0, static_cast<std::size_t>(end - in)));
    if (next == nullptr) next = end;
    const auto piece = static_cast<std::size_t>(next - in);
    std::memmove(out, in, piece);
    out += piece;
    in = next + 1;
  }
  text.resize(static_cast<std::size_t>(out - begin));
}

}  // namespace

std::string_view FinishRow(RowBuilder& row) {
  RemoveNulBytes(row.text);
  row.line.swap(row.text);
  row.text.clear();
  return row.line;
}

void AppendTextValue(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  AppendLead(row, lead);
  AppendPayloadBytes(reader, PayloadLength(field), row);
}

void AppendTextOrList(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead,
                      Joiner joiner) {
  AppendLead(row, lead);
  const std::int64_t length = PayloadLength(field);
  if (length == 0) return;
  const std::uint8_t firstByte = ReadByte(reader);
  SeekTo(reader, field.payloadStart);
  if (firstByte == 1) {
    AppendTextList(reader, field, row, joiner);
  } else {
    AppendPayloadBytes(reader, length, row);
  }
}

void AppendInt32(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const auto value = static_cast<std::int32_t>(ReadNumberValue(reader, field));
  AppendLead(row, lead);
  AppendInteger(row, value);
}

void AppendSchoolName(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const std::uint32_t value = ReadNumberValue(reader, field);
  AppendLead(row, lead);
  if (value < std::size(kSchoolNames)) row.text += kSchoolNames[value];
}

void AppendFloatPlain(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendLead(row, lead);
  char text[kNumberTextCapacity];
  row.text.append(text, PlainNumberText(value, row.decimalSeparator, text));
}

void AppendFloatGeneral(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendLead(row, lead);
  char text[kNumberTextCapacity];
  row.text.append(text, GeneralNumberText(value, row.decimalSeparator, text));
}

void AppendColourChannel(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const float channel = ReadFloatValue(reader, field);
  AppendLead(row, lead);
  AppendInteger(row, ColourChannelValue(channel));
}

void AppendShopFlags(NodeReader& reader, RowBuilder& row, Lead lead) {
  std::uint8_t bytes[4];  // the flag byte, then three bytes that carry nothing
  ReadBytes(reader, 4, bytes);
  AppendLead(row, lead);
  for (int bit = 0; bit < 5; ++bit) {
    if (bit > 0) row.text += '\t';
    if ((bytes[0] >> bit) & 1) row.text += '1';
  }
}

void AppendByteQuintuple(NodeReader& reader, RowBuilder& row) {
  std::uint8_t bytes[5];
  ReadBytes(reader, 5, bytes);
  for (std::uint8_t byte : bytes) {
    row.text += '\t';
    AppendInteger(row, byte);
  }
}

void SkipField(NodeReader& reader, const NodeHeader& field) {
  SeekTo(reader, NodeEnd(field));
}

void DiscardField(NodeReader& reader, const NodeHeader& field) {
  DiscardBytes(reader, PayloadLength(field));
}

void DecodeField(const FieldRule& rule, NodeReader& reader, const NodeHeader& field,
                 RowBuilder& row) {
  switch (rule.decoder) {
    case Decoder::TextValue:
      return AppendTextValue(reader, field, row, rule.lead);
    case Decoder::TextOrList:
      return AppendTextOrList(reader, field, row, rule.lead, rule.joiner);
    case Decoder::Int32:
      return AppendInt32(reader, field, row, rule.lead);
    case Decoder::SchoolName:
      return AppendSchoolName(reader, field, row, rule.lead);
    case Decoder::FloatPlain:
      return AppendFloatPlain(reader, field, row, rule.lead);
    case Decoder::FloatGeneral:
      return AppendFloatGeneral(reader, field, row, rule.lead);
    case Decoder::ColourChannel:
      return AppendColourChannel(reader, field, row, rule.lead);
    case Decoder::ShopFlags:
      return AppendShopFlags(reader, row, rule.lead);
    case Decoder::ByteQuintuple:
      return AppendByteQuintuple(reader, row);
    case Decoder::Skip:
      return SkipField(reader, field);
    case Decoder::Discard:
      return DiscardField(reader, field);
  }
}
