// The unpackers' walks followed for nodedump.
#include "unpacker_reading.h"

#include <algorithm>
#include <string_view>

#include "run_failure.h"
#include "tree_walk.h"

namespace {

// Watches one walk: the field it decodes and those it reads off their lengths.
struct ReadingWatcher : WatchLinesOnly {
  std::string_view unpacker;
  std::vector<ReadingMark>& marks;
  std::int64_t lastOffset = 0;  // the last header the walk read
  std::string_view lastNode;    // what it was: "database node", "table", "record", "field"
  bool decoding = false;        // a field's value is being read
  std::size_t notes = 0;

  void Database(std::int64_t offset, const NodeHeader&) { Reached(offset, "database node"); }
  void Table(std::int64_t offset, const NodeHeader&, int) { Reached(offset, "table"); }
  void Record(std::int64_t offset, const NodeHeader&) { Reached(offset, "record"); }
  void FieldHeader(std::int64_t offset, const NodeHeader&) {
    Reached(offset, "field");
    decoding = true;
  }
  void Field(std::int64_t offset, const NodeHeader& field, std::string_view,
             std::int64_t positionAfter) {
    decoding = false;
    if (!ReadOffItsLength(field, positionAfter)) return;
    if (++notes > kMostReadingNotes) return;
    marks.push_back({offset, false,
                     std::string(unpacker) + " reads the value of the field @" +
                         std::to_string(offset) + " to @" + std::to_string(positionAfter) +
                         ", where its length ends it @" + std::to_string(NodeEnd(field))});
  }
  void Line(int, std::string_view) {}

  void Reached(std::int64_t offset, std::string_view node) {
    lastOffset = offset;
    lastNode = node;
    decoding = false;
  }

  // The mark of the walk's end at a read past the file's end.
  void Stopped() {
    const std::string place = " @" + std::to_string(lastOffset);
    const std::string what = decoding ? "the value of the field" + place
                             : !lastNode.empty()
                                 ? "the header after the " + std::string(lastNode) + place
                                 : "the first header";
    marks.push_back({lastOffset, true,
                     std::string(unpacker) + " stops with \"Read beyond end of file\": " + what +
                         " runs past the file's end"});
  }
  void Finish() {
    if (notes <= kMostReadingNotes) return;
    marks.push_back({lastOffset, false,
                     std::to_string(notes - kMostReadingNotes) + " more values " +
                         std::string(unpacker) + " reads otherwise than their lengths say"});
  }
};

void FollowWalk(NodeReader& reader, std::string_view unpacker, const WalkRules& rules,
                std::vector<ReadingMark>& marks) {
  ReadingWatcher watcher{{}, unpacker, marks, 0, {}, false, 0};
  SeekTo(reader, 0);
  try {
    WalkDatabase<RowWithoutText>(reader, '.', rules, watcher);
  } catch (const IoFailure& failure) {
    // Where the unpacker would stop on a read beyond the end is a mark to show, not a failure.
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
    watcher.Stopped();
  }
  watcher.Finish();
}

}  // namespace

std::vector<ReadingMark> UnpackerReadingMarks(NodeReader& reader, Unpackers unpackers) {
  std::vector<ReadingMark> marks;
  for (const UnpackerFormat* format : unpackers)
    FollowWalk(reader, format->unpacker, format->walk, marks);
  std::ranges::stable_sort(marks, {}, &ReadingMark::offset);
  SeekTo(reader, 0);
  return marks;
}
