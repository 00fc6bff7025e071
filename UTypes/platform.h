// The platform layer: files, folders, console, locale and error numbers. A port touches only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console_owner.h"

// An open file of the platform; `handle` is -1 when nothing is open.
struct PlatformFile {
  std::intptr_t handle = -1;
};

// The folder separator appended to and tested at the end of the output prefix.
extern const char kFolderSeparator;

// Error numbers of the failure report: 2 a missing file, 3 a missing path, 4 too many open
// files, 5 denied access (Windows' own numbers, for which the report's messages were made); any
// other number reads "I/O error %d". A read that finds fewer bytes than asked for is 100 on every
// platform.
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorReadBeyondEnd = 100;

// The report's error number for an error number of the platform (errno on POSIX, where errors
// of the four meanings above take their numbers and any other errno a number that no message
// of the report carries; Windows' own numbers are the report's).
int ReportErrorNumber(int platformErrorNumber);
// Its inverse for a number without a message of its own: the N of "I/O error N".
int PlatformErrorNumber(int reportErrorNumber);

// Opens an existing ordinary file read-only without blocking (a fifo, a folder or a device is
// refused). Returns false when it cannot be opened; `file` is then left closed.
bool OpenFileForReading(const char* path, PlatformFile& file);

// Creates or truncates a file for writing without waiting for anything: a fifo that no one
// reads fails at once; devices are taken as they are. Returns 0 or the error number of the report.
int CreateFileForWriting(const char* path, PlatformFile& file);

// Whether `path` names the open `file` itself, through any link: the same device and file number
// on POSIX, the same volume and file index on Windows. False when `path` names nothing.
bool IsSameFile(PlatformFile file, const char* path);

// Reads up to `count` bytes at absolute `offset`; `got` is 0 only at the end of the file.
// Returns 0 or the error number of the report.
int ReadFileAt(PlatformFile file, std::int64_t offset, void* destination, std::size_t count,
               std::size_t& got);

// Writes all `count` bytes, continuing after short writes. Returns 0 or the error number.
int WriteFileFully(PlatformFile file, const void* source, std::size_t count);

// Writes all `count` bytes at absolute `offset`, leaving the position of WriteFileFully where it
// was, so that sequential writes go on after a patch of earlier bytes. Returns 0 or the error
// number.
int WriteFileAt(PlatformFile file, std::int64_t offset, const void* source, std::size_t count);

// The size of the open file in bytes. Returns 0 or the error number.
int FileSize(PlatformFile file, std::int64_t& size);

// Closes the file (a closed file is left alone). Returns 0 or the error number.
int CloseFile(PlatformFile& file);

// The error number of a seek to an offset below 0.
int NegativeSeekError();

// A second handle on an open file, for reading it beside the first. Returns 0 or the error
// number.
int DuplicateFile(PlatformFile file, PlatformFile& copy);

// ---- A file that replaces another: written unseen, named once complete, moved over its place.

// Creates a new file for reading and writing, failing when the name is taken (IsNameTaken); on
// POSIX with the `permissions` bits less the umask. Others may not delete it while it is open,
// except on Windows, where an interruption removes it so (RemoveOnInterruption). Returns 0 or the
// error number.
int CreateNewFile(const char* path, int permissions, PlatformFile& file);

// Writes the file's data through to the disk. Returns 0 or the error number.
int SyncFile(PlatformFile file);

// Starts writing the file's data written so far to the disk without waiting for it, so that a
// later SyncFile has less to wait for; where the platform has no such call, nothing. A failure
// shows at SyncFile.
void StartWritingBack(PlatformFile file);

// Moves the file `from` over `to` in one step (both in one folder), replacing what `to` named;
// on Windows written through to the disk before it returns. Returns 0 or the error number.
int MoveFileOver(const char* from, const char* to);

// Deletes a file. Returns 0 or the error number.
int RemoveFile(const char* path);

// What a path names, without following a final link.
enum class PathKind : std::uint8_t { Missing, OrdinaryFile, Folder, Other };
PathKind KindOfPath(const char* path);

// Gives the open file the permission bits of the file at `model`, where the platform has them
// and the file does not have them already. Returns 0 or the error number.
int CopyPermissions(const char* model, PlatformFile file);

// The folder part of `path`, its last separator included (empty for a bare name): what the name
// of a file beside it begins with.
std::string FolderPart(std::string_view path);

// The file name of `path`, without its folder part: what a message beside the file calls it.
inline std::string_view FileNamePart(std::string_view path) {
  return path.substr(FolderPart(path).size());
}

// Creates a file for reading and writing in `folder` (a FolderPart) that has no name yet, where the
// platform and the folder's file system allow it (O_TMPFILE on Linux, with /proc to name it by): it
// vanishes with the run, however the run ends, until NameUnnamedFile names it. `permissions` as
// for CreateNewFile. False, with nothing open, where it cannot be made.
bool CreateUnnamedFile(const std::string& folder, int permissions, PlatformFile& file);

// Gives a file made by CreateUnnamedFile the name `path` in its folder, failing when the name is
// taken (IsNameTaken). Returns 0 or the error number.
int NameUnnamedFile(PlatformFile file, const char* path);

// Whether the error number says that a new file's name is taken.
bool IsNameTaken(int errorNumber);

// The read, write and execute bits of the file at `path` (0777 of its mode on POSIX; 0666 on
// Windows, where a new file takes its folder's permissions). False when `path` names nothing.
bool FilePermissions(const char* path, int& permissions);

// Whether the user may write the file at `path` and replace it by a rename: on POSIX write
// access to it (root has it to any file) and, in a folder with the sticky bit (a shared one such
// as /tmp), the file or the folder is the user's; on Windows it is not read-only.
bool MayReplaceFile(const char* path);

// Writes the entries of `folder` (a FolderPart) through to the disk on POSIX, so that a rename
// in it survives a power cut; nothing on Windows, whose MoveFileOver writes through. Returns 0
// or the error number.
int SyncFolder(const std::string& folder);

// Removes the file at `path` when SIGINT, SIGTERM or SIGHUP ends the run (on Windows Ctrl-C,
// Ctrl-Break or a closed console), then ends the run as the signal does; null: nothing is
// removed. One path at a time, copied. A signal that the run ignores stays ignored. The first
// call installs the handlers.
void RemoveOnInterruption(const char* path);

// Holds SIGINT, SIGTERM and SIGHUP back until AllowInterruptions (nothing on Windows), so that a
// file is created or named and handed to RemoveOnInterruption in one step: an interruption then
// finds the file removed or not yet there, never a name that is not the run's own.
void DelayInterruptions();
void AllowInterruptions();

// ---- Folders, the console and the locale.

bool FolderExists(const char* path);
// Creates one folder level; false when it cannot (missing parent, name taken by a file...).
bool CreateFolder(const char* path);

// The executable's file name without its folder: on POSIX from the program's first argument
// (`programPath`), on Windows from the platform's own record of it ("grimdex.exe", whatever was
// typed), falling back to `programPath`. The text stays valid for the whole run.
std::string_view ModuleNameOf(const char* programPath);

// A run's arguments, the program path first, as UTF-8 on Windows; `pointers` point into `texts`
// (move it, never copy it).
struct ProgramArguments {
  std::vector<std::string> texts;
  std::vector<const char*> pointers;
};

// The run's arguments: on POSIX `argv` as it is; on Windows the platform's wide command line in
// UTF-8, whatever the ANSI code page (`argv` only when the wide one cannot be read). Allocates.
ProgramArguments ReadProgramArguments(int argc, char** argv);

// Writes bytes to standard output unchanged (no line end translation); failures are ignored,
// since the console is where failures would be reported.
void WriteStandardOutput(std::string_view bytes);

// The standard streams that a run's messages go to.
enum class StandardStream : std::uint8_t { Output, Errors };

// Whether the stream is a console that takes Unicode text: on Windows a console (its mode can be
// read), not a file, a pipe or a device; never on POSIX, whose terminals take the bytes as they
// are.
bool IsUnicodeConsole(StandardStream stream);

// Writes UTF-16 text to such a console through its Unicode output, whatever its code page.
// Returns 0 or the error number (on POSIX, where there is none, the error of a wrong handle).
int WriteConsoleText(StandardStream stream, std::u16string_view text);

// What the platform says of the run's console: on Windows the processes attached to it and
// whether standard output is it; on POSIX, which has no such count, ConsoleFacts{} (no console
// of its own).
ConsoleFacts ReadConsoleFacts();

// Waits for a key pressed in the run's console (a key pressed during the run counts); returns at
// once where the run has no console input to read (POSIX).
void WaitForKey();

// The user's decimal separator when it is one character, '.' otherwise. Call once at start-up.
char ReadDecimalSeparator();

// Tells the system that the memory from `start`, `size` bytes, is about to be filled whole, so
// that it may back it by large pages: one page fault then maps 2 MiB instead of 4 KiB. Only the
// whole large pages inside it are advised; nothing where the system takes no such advice.
void AdviseLargePages(void* start, std::size_t size);
