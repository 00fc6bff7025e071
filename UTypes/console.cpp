// The console of a program's run: its messages to the standard streams or to captured strings.
#include "console.h"

#include <cerrno>
#include <cstdio>

#include "platform.h"

namespace {

void WriteText(std::string* capture, std::FILE* stream, std::string_view text) {
  if (capture != nullptr) {
    capture->append(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stream);
  }
}

}  // namespace

void WriteOutputBytes(const Console& console, std::string_view bytes) {
  if (console.output != nullptr) {
    console.output->append(bytes);
  } else {
    WriteStandardOutput(bytes);
  }
}

void WriteOutputText(const Console& console, std::string_view text) {
  WriteText(console.output, stdout, text);
}

int WriteOutputTextFlushed(const Console& console, std::string_view text) {
  if (console.output != nullptr) {
    console.output->append(text);
    return 0;
  }
  errno = 0;
  const std::size_t written = std::fwrite(text.data(), 1, text.size(), stdout);
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && written == text.size() && std::ferror(stdout) == 0) return 0;
  const int error = errno != 0 ? errno : EIO;
  std::clearerr(stdout);
  return error;
}

void WriteErrorText(const Console& console, std::string_view text) {
  WriteText(console.errors, stderr, text);
}
