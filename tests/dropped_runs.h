// The runs of files dropped on a program, as the tests capture them: the status and the window's
// text, whose last line says what became of the files.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "console.h"

struct DropResult {
  int status = 0;
  std::string output;  // the window's lines, messages and errors in the order written
};

// The run of `drop` on `program` and the dropped paths, captured.
inline DropResult RunDropped(
    const char* program, const std::vector<std::string>& dropped,
    const std::function<int(std::span<const char* const>, Console)>& drop) {
  std::vector<const char*> arguments = {program};
  for (const std::string& path : dropped)
    arguments.push_back(path.c_str());
  DropResult result;
  result.status = drop(arguments, Console{&result.output, &result.output});
  return result;
}

// The last line of a window's text, without its line end (CR LF or LF).
inline std::string LastLine(const std::string& output) {
  const std::size_t end = output.rfind("\r\n");
  const std::size_t start = output.rfind('\n', end == 0 ? 0 : end - 1);
  const std::size_t begin = start == std::string::npos ? 0 : start + 1;
  return output.substr(begin, end - begin);
}
