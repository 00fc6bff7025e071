// The node tree of any node stream, one node a line, with marks where the stream is damaged.
#pragma once

#include <cstdint>
#include <string>

#include "known_formats.h"
#include "node_reader.h"
#include "stored_tree.h"
#include "unpacker_reading.h"

// The exit statuses of nodedump, one meaning each.
inline constexpr int kDumpWellFormed = 0;
inline constexpr int kDumpDamaged = 1;
inline constexpr int kDumpCannotRun = 2;  // bad usage, or a file that cannot be opened or read

// The dump grows past this many bytes before it is handed to the drain.
inline constexpr std::size_t kDumpDrainSize = std::size_t{64} * 1024;

struct DumpOptions {
  int depth = kFieldLevel;         // deepest level shown; nodes below it are passed over unread
  std::int64_t previewBytes = 16;  // payload bytes of a field shown in hex and as text (0 and
                                   // below: none)
  // The unpackers whose walks are followed for what they read beyond the stored lengths.
  Unpackers unpackers = kKnownFormats;
  // Takes the dump so far and empties it whenever it grows past kDumpDrainSize, so a large
  // file's dump need not be held whole; null keeps the whole dump in the string.
  void (*drain)(std::string& text) = nullptr;
};

// Appends the node tree from the reader's position to the end of the file to `out`, one line a
// node, indented two spaces a level: level name, "@offset", kind byte, length form, stored
// payload length, "payload @start", and for a field a preview of its payload (hex, printable
// bytes, and the int32 and float32 readings when the length is 4). After a node's line come its
// marks: "damage:" for a negative length, a node that runs past its parent's end or a file that
// ends inside a node; "note:" for every database node after the first. Lengths are taken as
// stored (a negative one as 0), so the walk goes on at each node's stated end, or at its
// parent's end when it runs past it (nothing past a parent's end is dumped inside the parent).
// A read that finds the end of the file, also one that the file's stated size promised (a file
// cut while it is read), ends the walk there with a "damage:" mark. A closing "summary:" line
// counts the nodes and gives the verdict.
// Never reads past the end of the file, and ends on any input (every node moves the position
// on by at least 1 byte). A preview is read in pieces, so memory does not grow with it when the
// dump is drained. Returns kDumpWellFormed or kDumpDamaged; any other failed read ends the dump
// through IoFailure, every line so far whole in `out` (or drained).
int DumpNodeTree(NodeReader& reader, const DumpOptions& options, std::string& out);
