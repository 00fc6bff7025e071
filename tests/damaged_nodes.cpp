// Node headers of damaged streams.
#include "damaged_nodes.h"

#include <bit>

void AppendLongHeader(NodeWriter& writer, std::uint8_t kind, std::int32_t storedLength) {
  writer.bytes += static_cast<char>(kind);
  // The long form stores 2 x length + 1, wrapping like the signed 32-bit value it is read as.
  const auto stored = static_cast<std::uint32_t>(std::int64_t{storedLength} * 2 + 1);
  writer.bytes += Int32Payload(std::bit_cast<std::int32_t>(stored));
}
