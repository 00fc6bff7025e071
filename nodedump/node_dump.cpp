// The node tree dump: a walk over the stored lengths that marks what the unpackers pass over.
#include "node_dump.h"

#include <algorithm>
#include <bit>
#include <string_view>
#include <vector>

#include "message_text.h"
#include "number_text.h"
#include "run_failure.h"
#include "stored_tree.h"
#include "unpacker_reading.h"

namespace {

constexpr std::string_view kLevelNouns[] = {"", "database node", "table", "record", "field"};

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A preview is read and shown this many bytes at a time, so that its memory stays the same
// whatever --max-bytes asks for. Smaller than the reader's buffer, so a read that fails leaves
// the position where the file was found to end.
constexpr std::size_t kPreviewPieceSize = 4096;

// The node being read, for the mark when the file ends inside it.
struct ReadingPlace {
  int level = kDatabaseLevel;
  std::int64_t offset = 0;
  std::string_view part = "header";  // or "payload"
};

struct DumpState {
  NodeReader& reader;
  const DumpOptions& options;
  std::string& out;
  std::int64_t nodeCounts[kFieldLevel + 1] = {};
  std::int64_t damageCount = 0;
  std::int64_t noteCount = 0;
  ReadingPlace reading = {};
  bool lineOpen = false;                       // a node line begun and not yet ended
  std::vector<ReadingMark> readingMarks = {};  // what the unpackers' walks find, by offset
  std::size_t nextReadingMark = 0;
  int lastLevel = kDatabaseLevel;  // of the node dumped last
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

// Hands the dump so far to the drain once it has grown past kDumpDrainSize.
void DrainWhenFull(DumpState& state) {
  if (state.options.drain != nullptr && state.out.size() >= kDumpDrainSize) {
    state.options.drain(state.out);
  }
}

void EndLine(DumpState& state) {
  state.out += '\n';
  state.lineOpen = false;
}

// Begins a node's line; EndLine ends it after the preview.
void AppendNodeLine(DumpState& state, int level, std::int64_t offset, const NodeHeader& header) {
  std::string& out = state.out;
  state.lineOpen = true;
  AppendIndent(out, level);
  out += LevelName(level);
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

void AppendHexBytes(std::string& out, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t index = 0; index < count; ++index) {
    out += ' ';
    out += kHexDigits[bytes[index] >> 4];
    out += kHexDigits[bytes[index] & 0xF];
  }
}

// Printable ASCII as it is, every other byte (code page letters too) as '.'.
void AppendPrintableBytes(std::string& out, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t index = 0; index < count; ++index) {
    const std::uint8_t byte = bytes[index];
    out += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
  }
}

void AppendFourByteReadings(std::string& out, const std::uint8_t* bytes) {
  const std::uint32_t bits = LittleEndian32(bytes);
  out += " | int32 ";
  AppendNumber(out, static_cast<std::int32_t>(bits));
  out += " | float32 ";
  char text[kNumberTextCapacity];
  out.append(text, GeneralNumberText(std::bit_cast<float>(bits), '.', text));
}

// Reads the `count` bytes from `start` on a piece at a time and appends `append(out, bytes,
// size)` for each piece, draining the dump as it grows.
void AppendInPieces(DumpState& state, std::int64_t start, std::size_t count,
                    void (*append)(std::string&, const std::uint8_t*, std::size_t)) {
  SeekTo(state.reader, start);
  std::uint8_t scratch[kPreviewPieceSize];
  while (count > 0) {
    const std::size_t size = std::min(count, kPreviewPieceSize);
    append(state.out, ReadView(state.reader, size, scratch), size);
    DrainWhenFull(state);
    count -= size;
  }
}

// The preview of a field's payload; reads only bytes that the file says it holds, the shown
// ones twice (for the hex, then for the text), in pieces.
void AppendFieldPreview(DumpState& state, const NodeHeader& header) {
  const std::int64_t length = PayloadLength(header);
  const std::int64_t available =
      std::clamp<std::int64_t>(Size(state.reader) - header.payloadStart, 0, length);
  const auto shown =
      static_cast<std::size_t>(std::clamp<std::int64_t>(state.options.previewBytes, 0, available));
  state.reading.part = "payload";
  if (shown > 0) {
    state.out += " |";
    AppendInPieces(state, header.payloadStart, shown, AppendHexBytes);
    if (static_cast<std::int64_t>(shown) < length) {
      state.out += " (+";
      AppendNumber(state.out, length - static_cast<std::int64_t>(shown));
      state.out += " bytes)";
    }
    state.out += " | ";
    AppendInPieces(state, header.payloadStart, shown, AppendPrintableBytes);
  }
  if (header.length == 4 && available == 4) {
    SeekTo(state.reader, header.payloadStart);
    std::uint8_t bytes[4];
    ReadBytes(state.reader, 4, bytes);
    AppendFourByteReadings(state.out, bytes);
  }
}

// Marks what the stored lengths say that the unpackers do not check.
void MarkDamage(DumpState& state, int level, const NodeHeader& header, std::int64_t parentEnd) {
  for (const std::string& damage : NodeDamage(level, header, parentEnd, Size(state.reader)))
    AppendMark(state, level, true, damage);
}

// The unpackers' marks before `offset` (or, with `atOffset`, at it too), at the level given.
void AppendReadingMarks(DumpState& state, std::int64_t offset, bool atOffset, int level) {
  std::vector<ReadingMark>& marks = state.readingMarks;
  while (state.nextReadingMark < marks.size()) {
    const ReadingMark& mark = marks[state.nextReadingMark];
    if (mark.offset > offset || (mark.offset == offset && !atOffset)) break;
    AppendMark(state, level, mark.isDamage, mark.text);
    ++state.nextReadingMark;
  }
}

// The mark of a read that found the file's end inside a payload, which ends the walk: where the
// file ended, in the node being read. A file may hold fewer bytes than its size says (a file cut
// while it is read, or a special file), so the end is where the read found it.
void MarkFileEnd(DumpState& state) {
  const std::int64_t end = Position(state.reader);
  std::string text = "the file ends @" + std::to_string(end) + " inside the " +
                     std::string(state.reading.part) + " of a " +
                     std::string(LevelName(state.reading.level)) + " @" +
                     std::to_string(state.reading.offset);
  if (end < Size(state.reader)) {
    text += ", though it states " + Plural(Size(state.reader), "byte");
  }
  AppendMark(state, state.reading.level, true, text);
}

// Dumps each node the walk over the stored lengths reads: its line, its preview, its marks and
// the unpackers' marks on it; nodes below the depth asked for are passed over unread.
struct DumpVisitor {
  DumpState& state;

  bool Node(int level, std::int64_t offset, const NodeHeader& header, std::int64_t parentEnd) {
    AppendReadingMarks(state, offset, false, state.lastLevel);
    state.reading = {level, offset, "header"};
    ++state.nodeCounts[level];
    AppendNodeLine(state, level, offset, header);
    if (level == kFieldLevel) AppendFieldPreview(state, header);
    EndLine(state);
    MarkDamage(state, level, header, parentEnd);
    if (level == kDatabaseLevel && state.nodeCounts[level] > 1) {
      AppendMark(state, level, false,
                 "a further database node (read by lorudex, ignored by grimdex)");
    }
    AppendReadingMarks(state, offset, true, level);
    state.lastLevel = level;
    DrainWhenFull(state);
    return level < state.options.depth;
  }
  void HeaderCut(int level, std::int64_t offset) {
    AppendReadingMarks(state, offset, false, state.lastLevel);
    AppendMark(state, level, true,
               HeaderCutDamage(level, offset, Position(state.reader), Size(state.reader)));
  }
};

void AppendSummary(DumpState& state) {
  std::string& out = state.out;
  out += "summary: ";
  for (int level = kDatabaseLevel; level <= kFieldLevel; ++level) {
    if (level > kDatabaseLevel) out += ", ";
    out += Plural(state.nodeCounts[level], kLevelNouns[level]);
  }
  out += " in " + Plural(Size(state.reader), "byte");
  if (state.options.depth < kFieldLevel) {
    out += "; levels below " + std::to_string(state.options.depth) + " not read";
  }
  if (state.noteCount > 0) out += "; " + Plural(state.noteCount, "note");
  out += state.damageCount == 0 ? "; well formed\n"
                                : "; damaged: " + Plural(state.damageCount, "mark") + "\n";
}

}  // namespace

int DumpNodeTree(NodeReader& reader, const DumpOptions& options, std::string& out) {
  DumpState state{reader, options, out};
  const std::int64_t start = Position(reader);
  state.readingMarks = UnpackerReadingMarks(reader, options.unpackers);
  SeekTo(reader, start);
  DumpVisitor visitor{state};
  try {
    WalkStoredTree(reader, visitor);
  } catch (const IoFailure& failure) {
    // A tree cut off by the file's end is damage to mark; any other failure ends the dump.
    if (state.lineOpen) EndLine(state);
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
    MarkFileEnd(state);
  }
  AppendReadingMarks(state, Size(reader), true, state.lastLevel);
  AppendSummary(state);
  return state.damageCount == 0 ? kDumpWellFormed : kDumpDamaged;
}
