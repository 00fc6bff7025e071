// nodedump: prints the node tree of a spell or quest database and marks where it is damaged.
#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "dump_arguments.h"
#include "node_dump.h"
#include "node_reader.h"
#include "platform.h"
#include "run_failure.h"

namespace {

void WriteOut(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void DrainToStandardOutput(std::string& text) {
  WriteOut(text);
  text.clear();
}

int ReportUsageError(const std::string& error) {
  std::fprintf(stderr, "nodedump: %s\nTry 'nodedump --help'.\n", error.c_str());
  return kDumpCannotRun;
}

// Ends a dump cut short: the lines dumped so far on standard output, then why on standard error.
void ReportFailedRead(const std::string& text, const std::string& path, const std::string& why) {
  WriteOut(text);
  std::fflush(stdout);
  std::fprintf(stderr, "nodedump: cannot read '%s': %s\n", path.c_str(), why.c_str());
}

// Opens and dumps the file; a file that cannot be opened or read, or whose reading runs out of
// memory, gives kDumpCannotRun, with the lines dumped before on standard output and the message
// on standard error.
int DumpFile(const DumpArguments& parsed) {
  NodeReader reader;
  std::string text;
  int status = kDumpCannotRun;
  try {
    if (!OpenNodeReader(parsed.path.c_str(), reader)) {
      std::fprintf(stderr, "nodedump: cannot open '%s'\n", parsed.path.c_str());
      return kDumpCannotRun;
    }
    DumpOptions options = parsed.options;
    options.drain = DrainToStandardOutput;
    status = DumpNodeTree(reader, options, text);
    WriteOut(text);
  } catch (const IoFailure& failure) {
    ReportFailedRead(text, parsed.path, FailureMessage(failure.errorNumber));
  } catch (...) {
    if (!IsMemoryFailure(std::current_exception())) throw;
    ReportFailedRead(text, parsed.path,
                     "out of memory at offset " + std::to_string(Position(reader)));
  }
  static_cast<void>(CloseFile(reader.file));  // read only: nothing is lost if closing fails
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  const DumpArguments parsed = ParseDumpArguments(arguments.pointers);
  int status = kDumpWellFormed;
  if (!parsed.error.empty()) return ReportUsageError(parsed.error);
  if (parsed.wantsHelp) {
    WriteOut(kDumpHelp);
  } else if (parsed.wantsVersion) {
    WriteOut("nodedump " UNPACKER_VERSION "\n");
  } else {
    status = DumpFile(parsed);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "nodedump: cannot write the dump to standard output\n");
    return kDumpCannotRun;
  }
  return status;
}
