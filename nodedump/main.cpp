// nodedump: prints the node tree of a spell or quest database and marks where it is damaged.
#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "console.h"
#include "dump_arguments.h"
#include "message_text.h"
#include "node_dump.h"
#include "node_reader.h"
#include "platform.h"
#include "run_failure.h"

namespace {

// nodedump writes to the standard streams.
const Console kConsole{};

// Whether writing the dump to standard output failed before its end (which clears the failure).
bool dumpWriteFailed = false;

void WriteOut(std::string_view text) {
  WriteOutputText(kConsole, text);
}

void DrainToStandardOutput(std::string& text) {
  WriteOut(text);
  text.clear();
}

// The one way a failure of the run is told: "nodedump: <message>" on standard error.
void ReportFailure(std::string_view message) {
  std::string line = "nodedump: ";
  line += message;
  line += '\n';
  WriteErrorText(kConsole, line);
}

int ReportUsageError(const std::string& error) {
  ReportFailure(error + "\nTry 'nodedump --help'.");
  return kDumpCannotRun;
}

// Ends a dump cut short: the lines dumped so far on standard output, then why on standard error.
void ReportFailedRead(const std::string& text, const std::string& path, const std::string& why) {
  if (WriteOutputTextFlushed(kConsole, text) != 0) dumpWriteFailed = true;
  ReportFailure("cannot read " + QuotedPath(path) + ": " + why);
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
      ReportFailure("cannot open " + QuotedPath(parsed.path));
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
  // Flushes what is written ("", not an empty view, whose null data fwrite may not be given).
  if (WriteOutputTextFlushed(kConsole, "") != 0 || dumpWriteFailed) {
    ReportFailure("cannot write the dump to standard output");
    return kDumpCannotRun;
  }
  return status;
}
