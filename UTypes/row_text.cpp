// Row text and the value decoders.
#include "row_text.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "number_text.h"

namespace {

constexpr std::string_view kSchoolNames[] = {"elemental", "senses", "astral"};

// The row's room doubles up to this growth at a time; beyond it, it grows by an eighth.
constexpr std::size_t kMostRowDoubling = std::size_t{1} << 20;
constexpr std::size_t kSmallestRowCapacity = 4096;

// Writes the lead at `out`; returns the bytes written.
std::size_t PutLead(char* out, Lead lead) {
  if (lead == Lead::None) return 0;
  *out = lead == Lead::Tab ? '\t' : ',';
  return 1;
}

void AppendLead(RowBuilder& row, Lead lead) {
  row.size += PutLead(RowSpace(row, 1), lead);
}

std::string_view JoinerText(Joiner joiner) {
  return joiner == Joiner::Comma ? "," : ", ";
}

// Appends the next `count` payload bytes as they are. A text's terminating NUL is left out at
// once; the finished row loses every other NUL.
void AppendPayloadBytes(NodeReader& reader, std::int64_t count, RowBuilder& row) {
  if (count <= 0) return;
  const auto size = static_cast<std::size_t>(count);
  if (size > HeldBytes(reader)) RequireAvailable(reader, count);
  char* out = RowSpace(row, size);
  ReadBytes(reader, size, reinterpret_cast<std::uint8_t*>(out));
  row.size += out[size - 1] == '\0' ? size - 1 : size;
}

void AppendTextList(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Joiner joiner) {
  const std::int64_t payloadEnd = NodeEnd(field);
  const std::string_view joinerText = JoinerText(joiner);
  bool first = true;
  std::uint8_t scratch[127];
  while (Position(reader) < payloadEnd) {
    // The element byte (unused) and the length byte, always in the short form.
    const std::size_t count = ReadView(reader, 2, scratch)[1] >> 1;
    const std::uint8_t* element = ReadView(reader, count, scratch);
    if (!first) AppendRowText(row, joinerText);
    first = false;
    // The element's last byte is its terminating NUL, dropped whatever its value.
    if (count > 1) AppendRowText(row, {reinterpret_cast<const char*>(element), count - 1});
  }
}

std::uint32_t ReadNumberValueSlowly(NodeReader& reader, const NodeHeader& field) {
  const std::int64_t length = PayloadLength(field);
  std::uint8_t bytes[4] = {};
  ReadBytes(reader, static_cast<std::size_t>(length < 4 ? length : 4), bytes);
  DiscardBytes(reader, length - 4);
  return LittleEndian32(bytes);
}

// The 32-bit value of a number field, consuming exactly its payload length.
inline std::uint32_t ReadNumberValue(NodeReader& reader, const NodeHeader& field) {
  if (field.length != 4 || HeldBytes(reader) < 4) return ReadNumberValueSlowly(reader, field);
  const std::uint32_t value = LittleEndian32(HeldData(reader));
  Advance(reader, 4);
  return value;
}

float ReadFloatValue(NodeReader& reader, const NodeHeader& field) {
  return std::bit_cast<float>(ReadNumberValue(reader, field));
}

// The lead, then the number text that `write(out)` puts at `out` and whose length it returns.
template <typename WriteNumber>
void AppendNumber(RowBuilder& row, Lead lead, WriteNumber write) {
  char* out = RowSpace(row, 1 + kNumberTextCapacity);
  const std::size_t leadSize = PutLead(out, lead);
  row.size += leadSize + write(out + leadSize);
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

// Removes every NUL byte of the row in place.
void RemoveNulBytes(RowBuilder& row) {
  char* const begin = row.bytes.get();
  char* const end = begin + row.size;
  char* nul = row.size == 0 ? nullptr : static_cast<char*>(std::memchr(begin, 0, row.size));
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
  row.size = static_cast<std::size_t>(out - begin);
}

}  // namespace

void GrowRow(RowBuilder& row, std::size_t count) {
  const std::size_t growth = std::max(std::min(row.capacity, kMostRowDoubling), row.capacity / 8);
  const std::size_t capacity =
      std::max({row.capacity + growth, row.size + count, kSmallestRowCapacity});
  // realloc moves a large row's pages instead of copying them, so a long text is never held twice.
  char* const bytes = static_cast<char*>(std::realloc(row.bytes.get(), capacity));
  if (bytes == nullptr) throw std::bad_alloc();
  static_cast<void>(row.bytes.release());  // realloc has taken them over
  row.bytes.reset(bytes);
  row.capacity = capacity;
}

std::string_view FinishRow(RowBuilder& row) {
  RemoveNulBytes(row);
  const std::string_view line = RowText(row);
  row.size = 0;
  return line;
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
  // The list test looks at the first payload byte and moves back to the payload start.
  const std::uint8_t firstByte = HeldBytes(reader) > 0 ? *HeldData(reader) : ReadByte(reader);
  SeekTo(reader, field.payloadStart);
  if (firstByte == 1) {
    AppendTextList(reader, field, row, joiner);
  } else {
    AppendPayloadBytes(reader, length, row);
  }
}

void AppendInt32(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const auto value = static_cast<std::int32_t>(ReadNumberValue(reader, field));
  AppendNumber(row, lead, [&](char* out) { return IntegerText(value, out); });
}

void AppendSchoolName(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const std::uint32_t value = ReadNumberValue(reader, field);
  AppendLead(row, lead);
  if (value < std::size(kSchoolNames)) AppendRowText(row, kSchoolNames[value]);
}

void AppendFloatPlain(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendNumber(row, lead,
               [&](char* out) { return PlainNumberText(value, row.decimalSeparator, out); });
}

void AppendFloatGeneral(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendNumber(row, lead,
               [&](char* out) { return GeneralNumberText(value, row.decimalSeparator, out); });
}

void AppendColourChannel(NodeReader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const std::int32_t value = ColourChannelValue(ReadFloatValue(reader, field));
  AppendNumber(row, lead, [&](char* out) { return IntegerText(value, out); });
}

void AppendShopFlags(NodeReader& reader, RowBuilder& row, Lead lead) {
  std::uint8_t scratch[4];  // the flag byte, then three bytes that carry nothing
  const std::uint8_t flags = ReadView(reader, 4, scratch)[0];
  char* const start = RowSpace(row, 10);
  char* out = start + PutLead(start, lead);
  for (int bit = 0; bit < 5; ++bit) {
    if (bit > 0) *out++ = '\t';
    if ((flags >> bit) & 1) *out++ = '1';
  }
  row.size += static_cast<std::size_t>(out - start);
}

void AppendByteQuintuple(NodeReader& reader, RowBuilder& row) {
  std::uint8_t scratch[5];
  const std::uint8_t* bytes = ReadView(reader, 5, scratch);
  for (int index = 0; index < 5; ++index) {
    AppendNumber(row, Lead::Tab, [&](char* out) { return IntegerText(bytes[index], out); });
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
