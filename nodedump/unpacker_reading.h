// What the unpackers' own walks find beyond the stored lengths: values read past or short of
// their field's end, and where a walk stops at the end of the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <span>

#include "node_reader.h"
#include "unpacker_format.h"

// Which unpackers' walks a dump follows, in this order: none (the stored lengths alone), one, or
// several formats' (all of kKnownFormats for both).
using Unpackers = std::span<const UnpackerFormat* const>;

// A mark for the dump: at the node (or the place) at `offset`.
struct ReadingMark {
  std::int64_t offset = 0;
  bool isDamage = false;
  std::string text;
};

// Notes at most per walk; the walk's further notes are counted in one more.
inline constexpr std::size_t kMostReadingNotes = 10000;

// Runs the chosen unpackers' walks over the whole file (their decoders, their moves) and marks
// every field whose value is read otherwise than its length says ("note:": the next header is
// read where the lengths put none, unless the walk moves to node ends), and the place where a walk
// ends with "Read beyond end of file" ("damage:"). Sorted by offset. Other read failures raise
// IoFailure.
std::vector<ReadingMark> UnpackerReadingMarks(NodeReader& reader, Unpackers unpackers);
