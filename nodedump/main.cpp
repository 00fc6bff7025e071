// nodedump: prints the node tree of a spell or quest database and marks where it is damaged.
#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "console.h"
#include "dump_arguments.h"
#include "node_dump.h"
#include "node_reader.h"
#include "platform.h"
#include "run_failure.h"

namespace {

// Through the run's console: a console that shows Unicode gets the text as its letters.
void WriteOut(std::string_view text) {
  WriteOutputText({}, text);
}

void WriteError(const std::string& text) {
  WriteErrorText({}, "nodedump: " + text + "\n");
}

void DrainToStandardOutput(std::string& text) {
  WriteOut(text);
  text.clear();
}

int ReportUsageError(const std::string& error) {
  WriteError(error + "\nTry 'nodedump --help'.");
  return kDumpCannotRun;
}

// Ends a dump cut short: the lines dumped so far on standard output, then why on standard error.
void ReportFailedRead(const std::string& text, const std::string& path, const std::string& why) {
  WriteOut(text);
  std::fflush(stdout);
  WriteError("cannot read '" + path + "': " + why);
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
      WriteError("cannot open '" + parsed.path + "'");
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
    WriteError("cannot write the dump to standard output");
    return kDumpCannotRun;
  }
  return status;
}
