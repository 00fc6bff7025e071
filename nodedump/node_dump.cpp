// The node tree dump: a walk over the stored lengths that marks what the unpackers pass over.
#include "node_dump.h"

#include <algorithm>
#include <bit>
#include <string_view>
#include <vector>

#include "number_text.h"
#include "run_failure.h"

namespace {

// Level names, indexed by level; a node's line begins with its own, a mark names its parent's.
constexpr std::string_view kLevelNames[] = {"", "database", "table", "record", "field"};
constexpr std::string_view kLevelPlurals[] = {"", "database nodes", "tables", "records", "fields"};

constexpr char kHexDigits[] = "0123456789ABCDEF";

struct DumpState {
  NodeReader& reader;
  const DumpOptions& options;
  std::string& out;
  std::int64_t nodeCounts[kFieldLevel + 1] = {};
  std::int64_t damageCount = 0;
  std::int64_t noteCount = 0;
};

void AppendNumber(std::string& out, std::int64_t value) {
  out += std::to_string(value);
}

void AppendIndent(std::string& out, int level) {
  out.append(static_cast<std::size_t>(2 * (level - 1)), ' ');
}

// A mark line under a node: "damage: ..." or "note: ...", indented like the node.
void AppendMark(DumpState& state, int level, bool isDamage, const std::string& text) {
  AppendIndent(state.out, level);
  state.out += isDamage ? "damage: " : "note: ";
  state.out += text;
  state.out += '\n';
  ++(isDamage ? state.damageCount : state.noteCount);
}

void AppendNodeLine(std::string& out, int level, std::int64_t offset, const NodeHeader& header) {
  AppendIndent(out, level);
  out += kLevelNames[level];
  out += " @";
  AppendNumber(out, offset);
  out += " kind ";
  AppendNumber(out, header.kind);
  const bool isShortForm = header.payloadStart - offset == 2;
  out += isShortForm ? " short length " : " long length ";
  AppendNumber(out, header.length);
  out += " payload @";
  AppendNumber(out, header.payloadStart);
}

void AppendHexBytes(std::string& out, const std::vector<std::uint8_t>& bytes, std::size_t count) {
  for (std::size_t index = 0; index < count; ++index) {
    out += ' ';
    out += kHexDigits[bytes[index] >> 4];
    out += kHexDigits[bytes[index] & 0xF];
  }
}

// Printable ASCII as it is, every other byte (code page letters too) as '.'.
void AppendPrintableBytes(std::string& out, const std::vector<std::uint8_t>& bytes,
                          std::size_t count) {
  for (std::size_t index = 0; index < count; ++index) {
    const std::uint8_t byte = bytes[index];
    out += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
  }
}

void AppendFourByteReadings(std::string& out, const std::vector<std::uint8_t>& bytes) {
  const std::uint32_t bits = bytes[0] | (std::uint32_t{bytes[1]} << 8) |
                             (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
  out += " | int32 ";
  AppendNumber(out, static_cast<std::int32_t>(bits));
  out += " | float32 ";
  char text[kNumberTextCapacity];
  out.append(text, GeneralNumberText(std::bit_cast<float>(bits), '.', text));
}

// The preview of a field's payload; reads only bytes that the file holds.
void AppendFieldPreview(DumpState& state, const NodeHeader& header) {
  const std::int64_t length = PayloadLength(header);
  const std::int64_t available =
      std::clamp<std::int64_t>(Size(state.reader) - header.payloadStart, 0, length);
  const auto shown =
      static_cast<std::size_t>(std::clamp<std::int64_t>(state.options.previewBytes, 0, available));
  const bool hasReadings = header.length == 4 && available == 4;
  std::vector<std::uint8_t> bytes(std::max<std::size_t>(shown, hasReadings ? 4 : 0));
  ReadBytes(state.reader, bytes.size(), bytes.data());
  if (shown > 0) {
    state.out += " |";
    AppendHexBytes(state.out, bytes, shown);
    if (static_cast<std::int64_t>(shown) < length) {
      state.out += " (+";
      AppendNumber(state.out, length - static_cast<std::int64_t>(shown));
      state.out += " bytes)";
    }
    state.out += " | ";
    AppendPrintableBytes(state.out, bytes, shown);
  }
  if (hasReadings) AppendFourByteReadings(state.out, bytes);
}

// Marks what the stored lengths say that the unpackers do not check.
void MarkDamage(DumpState& state, int level, const NodeHeader& header, std::int64_t parentEnd) {
  if (header.length < 0) {
    AppendMark(state, level, true,
               "negative length " + std::to_string(header.length) + ", read as an empty payload");
  }
  const std::int64_t end = NodeEnd(header);
  if (level > kDatabaseLevel && end > parentEnd) {
    AppendMark(state, level, true,
               "runs past its " + std::string(kLevelNames[level - 1]) + "'s end @" +
                   std::to_string(parentEnd) + " by " + std::to_string(end - parentEnd) + " bytes");
  }
  if (end > Size(state.reader)) {
    AppendMark(state, level, true,
               "the file ends @" + std::to_string(Size(state.reader)) + ", " +
                   std::to_string(end - Size(state.reader)) + " bytes before this node's end @" +
                   std::to_string(end));
  }
}

// Reads the header at the position; false, after a mark, when the file ends inside it.
bool ReadHeaderOrMark(DumpState& state, int level, NodeHeader& header) {
  const std::int64_t offset = Position(state.reader);
  try {
    header = ReadNodeHeader(state.reader);
    return true;
  } catch (const RunFailure& failure) {
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
  }
  AppendMark(state, level, true,
             "the file ends @" + std::to_string(Size(state.reader)) + " inside the header of a " +
                 std::string(kLevelNames[level]) + " @" + std::to_string(offset));
  return false;
}

void DumpChildren(DumpState& state, int level, std::int64_t parentEnd);

// Dumps the node at the position and everything in it, and moves to its stated end, or to its
// parent's end when it runs past it: the bytes after the parent's end are dumped as the nodes
// that follow the parent, never also inside it, which would let a small damaged file fill the
// dump with the same nodes over and over.
void DumpNode(DumpState& state, int level, std::int64_t parentEnd) {
  const std::int64_t offset = Position(state.reader);
  NodeHeader header;
  if (!ReadHeaderOrMark(state, level, header)) return;
  ++state.nodeCounts[level];
  AppendNodeLine(state.out, level, offset, header);
  if (level == kFieldLevel) AppendFieldPreview(state, header);
  state.out += '\n';
  MarkDamage(state, level, header, parentEnd);
  if (level == kDatabaseLevel && state.nodeCounts[level] > 1) {
    AppendMark(state, level, false,
               "a further database node (read by lorudex, ignored by grimdex)");
  }
  // A database node's "parent" is the file, whose end the walk checks on its own.
  const std::int64_t end =
      level == kDatabaseLevel ? NodeEnd(header) : std::min(NodeEnd(header), parentEnd);
  if (level < kFieldLevel && level < state.options.depth) {
    DumpChildren(state, level + 1, end);
  }
  SeekTo(state.reader, end);
  if (state.options.drain != nullptr && state.out.size() >= kDumpDrainSize) {
    state.options.drain(state.out);
  }
}

// The children of a node: nodes read while the position is before its end and in the file.
void DumpChildren(DumpState& state, int level, std::int64_t parentEnd) {
  while (Position(state.reader) < parentEnd && !AtEnd(state.reader)) {
    DumpNode(state, level, parentEnd);
  }
}

std::string CountText(std::int64_t count, std::string_view plural) {
  std::string text = std::to_string(count) + " ";
  // Every plural here is its singular with an 's' added.
  text += count == 1 ? plural.substr(0, plural.size() - 1) : plural;
  return text;
}

void AppendSummary(DumpState& state) {
  std::string& out = state.out;
  out += "summary: ";
  for (int level = kDatabaseLevel; level <= kFieldLevel; ++level) {
    if (level > kDatabaseLevel) out += ", ";
    out += CountText(state.nodeCounts[level], kLevelPlurals[level]);
  }
  out += " in " + CountText(Size(state.reader), "bytes");
  if (state.options.depth < kFieldLevel) {
    out += "; levels below " + std::to_string(state.options.depth) + " not read";
  }
  if (state.noteCount > 0) out += "; " + CountText(state.noteCount, "notes");
  out += state.damageCount == 0 ? "; well formed\n"
                                : "; damaged: " + CountText(state.damageCount, "marks") + "\n";
}

}  // namespace

int DumpNodeTree(NodeReader& reader, const DumpOptions& options, std::string& out) {
  DumpState state{reader, options, out};
  try {
    while (!AtEnd(reader)) {
      DumpNode(state, kDatabaseLevel, Size(reader));
    }
  } catch (const RunFailure& failure) {
    out += "cannot read: " + FailureMessage(failure.errorNumber) + "\n";
    return kDumpCannotRun;
  }
  AppendSummary(state);
  return state.damageCount == 0 ? kDumpWellFormed : kDumpDamaged;
}
