// The zip container of workbooks: deflated entries written one after another, and read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "platform.h"
#include "quick_deflate.h"
#include "row_buffer.h"

// What is wrong with an archive, as words that complete "<file> ...": "is not a zip archive",
// "holds an encrypted entry 'xl/workbook.xml'", "is damaged: entry 'a.xml' does not match its
// checksum". Writing throws it for an archive past the format's limits.
struct ZipFailure {
  std::string message;
};

// The bytes a writer or a reader holds in its buffer: memory stays bounded by it.
inline constexpr std::size_t kZipBufferSize = 256 * 1024;

// The most entries a directory that is read may hold, and the longest entry name read or written.
inline constexpr std::size_t kZipMostEntries = 100000;
inline constexpr std::size_t kZipLongestName = 4096;

// ---- Writing: entries deflated one after another into a new file, without a zip64 record.

// An entry of the archive being written, as its central directory records it.
struct ZipWrittenEntry {
  std::string name;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t size = 0;
  std::uint32_t localHeaderOffset = 0;
};

struct ZipWriter {
  PlatformFile file;
  std::uint64_t offset = 0;  // where the first byte of `output` lands in the file
  std::vector<ZipWrittenEntry> entries;
  int deflateLevel = Z_DEFAULT_COMPRESSION;
  int streamLevel = 0;  // the level `stream` was made for, while streamReady
  z_stream stream{};
  bool streamReady = false;
  bool entryOpen = false;
  std::uint64_t entrySize = 0;  // the open entry's bytes so far, before and after deflating
  std::uint64_t entryCompressedSize = 0;
  std::uint32_t entryCrc = 0;
  std::vector<unsigned char> output;  // bytes not yet written, at most kZipBufferSize
  std::size_t outputUsed = 0;
  std::uint64_t writtenSinceWriteBack = 0;  // bytes written since the disk was last asked to
};

// Starts an archive in `file`, open for writing, empty, at offset 0 (the caller keeps and closes
// it). Entries are deflated at `deflateLevel`, as zlib's levels (1 fastest, 9 smallest).
void StartZip(ZipWriter& zip, PlatformFile file, int deflateLevel);

// Starts an entry named `name` (UTF-8, marked so), deflated at the archive's level or at
// `deflateLevel` when that is not negative, dated 1980-01-01 00:00 so that equal input gives equal
// archives. Ends an entry still open. ZipFailure ("is too large for a workbook") past 65,534
// entries (65,535 would mark a zip64 record), for a name longer than kZipLongestName or an offset
// past 4 GiB; IoFailure when a write fails.
void BeginZipEntry(ZipWriter& zip, std::string_view name, int deflateLevel = -1);

// Deflates `bytes` into the open entry, writing out each buffer that fills. ZipFailure once the
// entry reaches 4 GiB before or after deflating; IoFailure when a write fails.
void AppendZipEntry(ZipWriter& zip, std::string_view bytes);

// Ends the open entry (nothing when none is open): the rest of the deflated data, then the
// checksum and sizes patched into its local header. ZipFailure and IoFailure as above.
void EndZipEntry(ZipWriter& zip);

// Ends the open entry, then writes the central directory and its end record. ZipFailure when the
// directory would pass 4 GiB; IoFailure when a write fails.
void FinishZip(ZipWriter& zip);

// Releases zlib's state and the buffer; safe after a failure at any step and after FinishZip.
void CloseZipWriter(ZipWriter& zip);

// An entry deflated apart from the archive, into memory: for an archive whose entries are made
// side by side (sheets whose rows come in turns), each written into the archive whole once
// complete. Its bytes are many and alike, so it is deflated by the quick encoder, which is
// several times faster than zlib's fastest level for a somewhat larger entry. It holds its
// deflated bytes in chunks of a few MiB, written in place by the encoder.
struct ZipEntryInMemory {
  QuickDeflater deflater;
  bool open = false;  // started and not yet finished
  std::vector<RowBuilder> pieces;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  std::uint64_t compressedSize = 0;
  // Once MoveEntryIntoFile: the file the deflated bytes go into as they are made, and the name
  // of the local header written there; `pieces` then holds one chunk, emptied after each write.
  // A write that failed spoils the entry: `fileError` is raised again by every later call.
  PlatformFile file;
  std::string name;
  int fileError = 0;
  std::uint64_t writtenSinceWriteBack = 0;  // as ZipWriter's
};

// Starts deflating an entry into memory.
void StartEntryInMemory(ZipEntryInMemory& entry);

// Deflates `bytes` into the entry. ZipFailure once it reaches 4 GiB before or after deflating;
// std::bad_alloc when memory runs out.
void AppendEntryInMemory(ZipEntryInMemory& entry, std::string_view bytes);

// An entry's next bytes deflated apart from it, on a thread other than the one that deflates the
// entry: their deflated bytes, their CRC and how many they were.
struct DeflatedPiece {
  RowBuilder bytes;
  std::uint32_t crc = 0;
  std::size_t size = 0;
};

// Deflates `bytes` into `piece` (its buffer reused) with `deflater`'s table, made on first use:
// the same deflated bytes AppendEntryInMemory would add for them. std::bad_alloc when memory
// runs out.
void DeflatePieceApart(QuickDeflater& deflater, std::string_view bytes, DeflatedPiece& piece);

// Adds a piece deflated apart to the entry, as AppendEntryInMemory would have added its bytes;
// throws as AppendEntryInMemory.
void AppendDeflatedPiece(ZipEntryInMemory& entry, const DeflatedPiece& piece);

// Ends the entry's deflated data: its pieces are then the whole deflated stream.
void FinishEntryInMemory(ZipEntryInMemory& entry);

// Sends the rest of the entry straight into `file`, open for writing and empty, so that its
// deflated bytes are not held: writes there a local header named `name`, whose checksum and sizes
// are patched once it ends, and the bytes deflated so far; from then on each piece goes into the
// file as it is deflated. Nothing else is written into the file until the entry is written as the
// archive's first. ZipFailure as BeginZipEntry; IoFailure when a write fails, here or at a later
// call, and at every call after it.
void MoveEntryIntoFile(ZipEntryInMemory& entry, PlatformFile file, std::string_view name);

// Ends the entry's deflated data if it is not yet ended and writes it as the archive's next
// entry, named `name`, then releases its memory. An entry moved into the archive's file is
// already there: it is written first, before any other entry, and only its header is patched.
// ZipFailure and IoFailure as BeginZipEntry and EndZipEntry.
void WriteEntryInMemory(ZipWriter& zip, std::string_view name, ZipEntryInMemory& entry);

// Releases the encoder's state and the deflated bytes; safe at any time, and again.
void CloseEntryInMemory(ZipEntryInMemory& entry);

// ---- Reading: the central directory, then one entry at a time as a stream.

struct ZipEntry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localHeaderOffset = 0;
};

struct ZipArchive {
  PlatformFile file;
  std::int64_t fileSize = 0;
  std::uint64_t directoryOffset = 0;  // where the entries' data ends
  std::vector<ZipEntry> entries;
};

// Reads the central directory of `file` (open for reading; the caller keeps and closes it) into
// `archive`, with zip64 records and fields where the archive has them, and a comment after it.
// Offsets are taken as stored. ZipFailure when the file is not a zip archive, spans several
// files, or its directory is damaged: past the file, past kZipMostEntries entries, a name past
// kZipLongestName bytes, an entry whose data would lie outside the file. IoFailure when a read
// fails. Allocates the entries and their names only.
void ReadZipDirectory(PlatformFile file, ZipArchive& archive);

// The entry named `name`, compared case-insensitively in ASCII (workbook part names are); a
// leading "/" in `name` is ignored. Null when there is none.
const ZipEntry* FindZipEntry(const ZipArchive& archive, std::string_view name);

// The stream of one entry's content.
struct ZipEntryReader {
  PlatformFile file;
  std::string name;  // for the messages of its failures
  std::uint16_t method = 0;
  std::uint32_t expectedCrc = 0;
  std::uint64_t size = 0;
  std::int64_t nextInput = 0;  // the file offset of the stored or deflated bytes not yet read
  std::uint64_t inputLeft = 0;
  std::uint64_t produced = 0;
  std::uint32_t crc = 0;
  bool finished = false;  // every byte produced and checked
  z_stream stream{};
  bool streamReady = false;
  bool streamEnded = false;
  std::vector<unsigned char> input;  // deflated bytes, at most kZipBufferSize
};

// Opens `entry` of `archive` for ReadZipEntry, after its local header is read and checked.
// ZipFailure naming the entry when it is encrypted, stored as patch data, compressed other than
// stored (0) or deflated (8), or its local header is damaged or does not fit in the file;
// IoFailure when a read fails.
void OpenZipEntry(const ZipArchive& archive, const ZipEntry& entry, ZipEntryReader& reader);

// Reads up to `capacity` bytes of the entry's content into `destination`. Returns 0 only at its
// end (or for a `capacity` of 0), reached after exactly entry.size bytes; the call that reaches it
// checks the checksum. ZipFailure ("is damaged: entry '...' ...") when the data holds more or less
// than the entry's size, does not match its checksum or does not inflate; IoFailure when a read
// fails. Past the entry's size nothing is inflated but a byte to see that the data ends there.
std::size_t ReadZipEntry(ZipEntryReader& reader, char* destination, std::size_t capacity);

// Releases zlib's state and the buffer; safe at any time, and again.
void CloseZipEntry(ZipEntryReader& reader);

// The whole content of an entry whose size is at most `mostBytes`: ZipFailure ("has a part 'x'
// of N bytes, more than this reader takes") past it, and as ReadZipEntry.
std::string ReadWholeZipEntry(const ZipArchive& archive, const ZipEntry& entry,
                              std::size_t mostBytes);

// Whether the file begins as a zip archive: a local header, or the end record of an archive
// without entries. IoFailure when a read fails.
bool LooksLikeZip(PlatformFile file);

// Whether the file is a compound file of the older office formats (a binary workbook, or an
// encrypted one, which is a compound file too): its first 8 bytes. IoFailure when a read fails.
bool IsCompoundFile(PlatformFile file);
