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

// The most row room a field takes beyond its payload's bytes. A text list appends its lead and
// no more than the bytes its elements take, which reach at most 1 + 127 bytes past its payload
// (kHeldRecordMargin); that is more than the room of a lead and a number text, or of a
// quintuple's five numbers.
constexpr std::size_t kMostFieldTextBeyondPayload = 1 + kHeldRecordMargin;
static_assert(kMostFieldTextBeyondPayload >= 4 * 4 + 1 + kNumberTextCapacity);

// Room for `count` more bytes of a field's text: made here for a field read with checks;
// reserved once for the whole record when it is held (RowRoomOfRecord).
char* FieldSpace(const NodeReader&, RowBuilder& row, std::size_t count) {
  return RowSpace(row, count);
}
char* FieldSpace(const HeldRecord&, RowBuilder& row, std::size_t) {
  return row.bytes.get() + row.size;
}

template <typename Reader>
void AppendFieldText(const Reader& reader, RowBuilder& row, std::string_view text) {
  std::memcpy(FieldSpace(reader, row, text.size()), text.data(), text.size());
  row.size += text.size();
}

// Writes the lead at `out` (a byte that is not counted for None); returns the bytes written.
std::size_t PutLead(char* out, Lead lead) {
  *out = static_cast<char>(lead);
  return lead == Lead::None ? 0 : 1;
}

template <typename Reader>
void AppendLead(const Reader& reader, RowBuilder& row, Lead lead) {
  row.size += PutLead(FieldSpace(reader, row, 1), lead);
}

std::string_view JoinerText(Joiner joiner) {
  return joiner == Joiner::Comma ? "," : ", ";
}

// Appends the next `count` payload bytes as they are. A text's terminating NUL is left out at
// once; the finished row loses every other NUL.
template <typename Reader>
void AppendPayloadBytes(Reader& reader, std::int64_t count, RowBuilder& row) {
  if (count <= 0) return;
  const auto size = static_cast<std::size_t>(count);
  RequireAvailable(reader, count);
  char* out = FieldSpace(reader, row, size);
  ReadBytes(reader, size, reinterpret_cast<std::uint8_t*>(out));
  row.size += out[size - 1] == '\0' ? size - 1 : size;
}

template <typename Reader>
void AppendTextList(Reader& reader, const NodeHeader& field, RowBuilder& row, Joiner joiner) {
  const std::int64_t payloadEnd = NodeEnd(field);
  const std::string_view joinerText = JoinerText(joiner);
  bool first = true;
  std::uint8_t scratch[127];
  while (Position(reader) < payloadEnd) {
    // The element byte (unused) and the length byte, always in the short form.
    const std::size_t count = ReadView(reader, 2, scratch)[1] >> 1;
    const std::uint8_t* element = ReadView(reader, count, scratch);
    if (!first) AppendFieldText(reader, row, joinerText);
    first = false;
    // The element's last byte is its terminating NUL, dropped whatever its value.
    if (count > 1) {
      AppendFieldText(reader, row, {reinterpret_cast<const char*>(element), count - 1});
    }
  }
}

// The 32-bit value of a number field of a length other than 4, consuming exactly that length.
template <typename Reader>
std::uint32_t ReadNumberValueOfOtherLength(Reader& reader, const NodeHeader& field) {
  const std::int64_t length = PayloadLength(field);
  std::uint8_t bytes[4] = {};
  ReadBytes(reader, static_cast<std::size_t>(length < 4 ? length : 4), bytes);
  DiscardBytes(reader, length - 4);
  return LittleEndian32(bytes);
}

// The 32-bit value of a number field, consuming exactly its payload length.
template <typename Reader>
inline std::uint32_t ReadNumberValue(Reader& reader, const NodeHeader& field) {
  std::uint8_t scratch[4];
  if (field.length == 4) return LittleEndian32(ReadView(reader, 4, scratch));
  return ReadNumberValueOfOtherLength(reader, field);
}

template <typename Reader>
float ReadFloatValue(Reader& reader, const NodeHeader& field) {
  return std::bit_cast<float>(ReadNumberValue(reader, field));
}

// The lead, then the number text that `write(out)` puts at `out` and whose length it returns.
template <typename Reader, typename WriteNumber>
void AppendNumber(const Reader& reader, RowBuilder& row, Lead lead, WriteNumber write) {
  char* out = FieldSpace(reader, row, 1 + kNumberTextCapacity);
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

// The decoders, each for either reader (DecodeField); Decoder in row_text.h says what each
// consumes and appends.

template <typename Reader>
void AppendTextValue(Reader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  AppendLead(reader, row, lead);
  AppendPayloadBytes(reader, PayloadLength(field), row);
}

template <typename Reader>
void AppendTextOrList(Reader& reader, const NodeHeader& field, RowBuilder& row, Lead lead,
                      Joiner joiner) {
  AppendLead(reader, row, lead);
  const std::int64_t length = PayloadLength(field);
  if (length == 0) return;
  // The list test looks at the first payload byte and moves back to the payload start.
  std::uint8_t scratch[1];
  const std::uint8_t firstByte = ReadView(reader, 1, scratch)[0];
  SeekTo(reader, field.payloadStart);
  if (firstByte == 1) {
    AppendTextList(reader, field, row, joiner);
  } else {
    AppendPayloadBytes(reader, length, row);
  }
}

template <typename Reader>
void AppendInt32(Reader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const auto value = static_cast<std::int32_t>(ReadNumberValue(reader, field));
  AppendNumber(reader, row, lead, [&](char* out) { return IntegerText(value, out); });
}

template <typename Reader>
void AppendSchoolName(Reader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const std::uint32_t value = ReadNumberValue(reader, field);
  AppendLead(reader, row, lead);
  if (value < std::size(kSchoolNames)) AppendFieldText(reader, row, kSchoolNames[value]);
}

template <typename Reader>
void AppendFloatPlain(Reader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendNumber(reader, row, lead,
               [&](char* out) { return PlainNumberText(value, row.decimalSeparator, out); });
}

template <typename Reader>
void AppendFloatGeneral(Reader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendNumber(reader, row, lead,
               [&](char* out) { return GeneralNumberText(value, row.decimalSeparator, out); });
}

template <typename Reader>
void AppendColourChannel(Reader& reader, const NodeHeader& field, RowBuilder& row, Lead lead) {
  const std::int32_t value = ColourChannelValue(ReadFloatValue(reader, field));
  AppendNumber(reader, row, lead, [&](char* out) { return IntegerText(value, out); });
}

template <typename Reader>
void AppendShopFlags(Reader& reader, RowBuilder& row, Lead lead) {
  std::uint8_t scratch[4];  // the flag byte, then three bytes that carry nothing
  const std::uint8_t flags = ReadView(reader, 4, scratch)[0];
  char* const start = FieldSpace(reader, row, 10);
  char* out = start + PutLead(start, lead);
  for (int bit = 0; bit < 5; ++bit) {
    if (bit > 0) *out++ = '\t';
    if ((flags >> bit) & 1) *out++ = '1';
  }
  row.size += static_cast<std::size_t>(out - start);
}

template <typename Reader>
void AppendByteQuintuple(Reader& reader, RowBuilder& row) {
  std::uint8_t scratch[5];
  const std::uint8_t* bytes = ReadView(reader, 5, scratch);
  for (int index = 0; index < 5; ++index) {
    AppendNumber(reader, row, Lead::Tab, [&](char* out) { return IntegerText(bytes[index], out); });
  }
}

template <typename Reader>
void SkipField(Reader& reader, const NodeHeader& field) {
  SeekTo(reader, NodeEnd(field));
}

template <typename Reader>
void DiscardField(Reader& reader, const NodeHeader& field) {
  DiscardBytes(reader, PayloadLength(field));
}

}  // namespace

void GrowRow(RowBuilder& row, std::size_t count) {
  const std::size_t growth = std::max(std::min(row.capacity, kMostRowDoubling), row.capacity / 8);
  const std::size_t capacity =
      std::max({row.capacity + growth, row.size + count, kSmallestRowCapacity});
  // An empty row keeps nothing, so its old bytes are let go rather than copied (a record's
  // room is reserved before its first field).
  if (row.size == 0) row.bytes.reset();
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

std::size_t RowRoomOfRecord(std::int64_t recordLength) {
  if (recordLength <= 0) return 0;
  const auto length = static_cast<std::size_t>(recordLength);
  // Headers lie at least two bytes apart, the first at the record's start.
  const std::size_t mostFields = (length + 1) / 2;
  return length + mostFields * kMostFieldTextBeyondPayload;
}

template <typename Reader>
void DecodeField(const FieldRule& rule, Reader& reader, const NodeHeader& field, RowBuilder& row) {
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

template void DecodeField(const FieldRule&, NodeReader&, const NodeHeader&, RowBuilder&);
template void DecodeField(const FieldRule&, HeldRecord&, const NodeHeader&, RowBuilder&);
