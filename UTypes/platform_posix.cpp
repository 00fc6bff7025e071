// The platform layer on POSIX systems.
#include "platform.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

const char kFolderSeparator = '/';

namespace {

// Marks an errno that has no message of the report's own: set, the number never equals one of
// the message table (EIO is 5, the number of denied access; ENETDOWN is 100).
constexpr int kUnnamedErrnoBit = 1 << 24;

int Descriptor(PlatformFile file) {
  return static_cast<int>(file.handle);
}

}  // namespace

int ReportErrorNumber(int platformErrorNumber) {
  switch (platformErrorNumber) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    default:
      return kUnnamedErrnoBit | platformErrorNumber;
  }
}

int PlatformErrorNumber(int reportErrorNumber) {
  return reportErrorNumber & ~kUnnamedErrnoBit;
}

bool OpenFileForReading(const char* path, PlatformFile& file) {
  // Non-blocking, so that a fifo with no writer does not stall the run before it is refused.
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return false;
  }
  file.handle = descriptor;
  return true;
}

int CreateFileForWriting(const char* path, PlatformFile& file) {
  // Non-blocking, so that a fifo with no reader fails (ENXIO) instead of waiting for one; the
  // writes then block as usual.
  const int descriptor = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (descriptor < 0) return ReportErrorNumber(errno);
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(descriptor);
    return ReportErrorNumber(error);
  }
  file.handle = descriptor;
  return 0;
}

bool IsSameFile(PlatformFile file, const char* path) {
  struct stat opened {};
  struct stat named {};
  if (fstat(Descriptor(file), &opened) != 0 || stat(path, &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

int ReadFileAt(PlatformFile file, std::int64_t offset, void* destination, std::size_t count,
               std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t result = pread(Descriptor(file), destination, count, static_cast<off_t>(offset));
    if (result >= 0) {
      got = static_cast<std::size_t>(result);
      return 0;
    }
    if (errno != EINTR) return ReportErrorNumber(errno);
  }
}

int WriteFileFully(PlatformFile file, const void* source, std::size_t count) {
  const char* bytes = static_cast<const char*>(source);
  while (count > 0) {
    const ssize_t result = write(Descriptor(file), bytes, count);
    if (result < 0) {
      if (errno == EINTR) continue;
      return ReportErrorNumber(errno);
    }
    bytes += result;
    count -= static_cast<std::size_t>(result);
  }
  return 0;
}

int FileSize(PlatformFile file, std::int64_t& size) {
  struct stat status {};
  if (fstat(Descriptor(file), &status) != 0) return ReportErrorNumber(errno);
  size = static_cast<std::int64_t>(status.st_size);
  return 0;
}

int CloseFile(PlatformFile& file) {
  if (file.handle < 0) return 0;
  const int result = close(Descriptor(file));
  file.handle = -1;
  return result == 0 ? 0 : ReportErrorNumber(errno);
}

int NegativeSeekError() {
  return ReportErrorNumber(EINVAL);
}

int DuplicateFile(PlatformFile file, PlatformFile& copy) {
  const int descriptor = fcntl(Descriptor(file), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return ReportErrorNumber(errno);
  copy.handle = descriptor;
  return 0;
}

int CreateNewFile(const char* path, PlatformFile& file) {
  const int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) return ReportErrorNumber(errno);
  file.handle = descriptor;
  return 0;
}

int SyncFile(PlatformFile file) {
  return fsync(Descriptor(file)) == 0 ? 0 : ReportErrorNumber(errno);
}

int MoveFileOver(const char* from, const char* to) {
  return std::rename(from, to) == 0 ? 0 : ReportErrorNumber(errno);
}

int RemoveFile(const char* path) {
  return unlink(path) == 0 ? 0 : ReportErrorNumber(errno);
}

PathKind KindOfPath(const char* path) {
  struct stat status {};
  if (lstat(path, &status) != 0) return PathKind::Missing;
  if (S_ISREG(status.st_mode)) return PathKind::OrdinaryFile;
  if (S_ISDIR(status.st_mode)) return PathKind::Folder;
  return PathKind::Other;
}

int CopyPermissions(const char* model, PlatformFile file) {
  struct stat status {};
  if (stat(model, &status) != 0) return ReportErrorNumber(errno);
  return fchmod(Descriptor(file), status.st_mode & 07777) == 0 ? 0 : ReportErrorNumber(errno);
}

bool FolderExists(const char* path) {
  struct stat status {};
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool CreateFolder(const char* path) {
  return mkdir(path, 0777) == 0;
}

std::string_view ModuleNameOf(const char* programPath) {
  if (programPath == nullptr) return {};
  const std::string_view path(programPath);
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void WriteStandardOutput(std::string_view bytes) {
  PlatformFile standardOutput{STDOUT_FILENO};
  static_cast<void>(WriteFileFully(standardOutput, bytes.data(), bytes.size()));
}

char ReadDecimalSeparator() {
  std::setlocale(LC_ALL, "");
  const std::lconv* conventions = std::localeconv();
  if (conventions == nullptr || conventions->decimal_point == nullptr) return '.';
  const char* point = conventions->decimal_point;
  return std::strlen(point) == 1 ? point[0] : '.';
}
