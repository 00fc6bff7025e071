// The failure report of a run and the one way to end a run on a failed file operation.
#include "run_failure.h"

#include "platform.h"

namespace {

struct KnownMessage {
  int errorNumber;
  std::string_view message;
};

constexpr KnownMessage kKnownMessages[] = {
    {2, "File not found"},
    {3, "Invalid filename"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {kErrorReadBeyondEnd, "Read beyond end of file"},
};

// The report's code address means nothing outside the program; a fixed one keeps reports
// comparable between runs.
constexpr std::string_view kReportAddress = "00401A2C";

}  // namespace

void FailRun(int errorNumber) {
  throw RunFailure{errorNumber};
}

std::string FailureMessage(int errorNumber) {
  for (const KnownMessage& known : kKnownMessages) {
    if (known.errorNumber == errorNumber) return std::string(known.message);
  }
  return "I/O error " + std::to_string(PlatformErrorNumber(errorNumber));
}

std::string FailureReport(std::string_view moduleName, int errorNumber) {
  std::string report = "Exception EInOutError in module ";
  report += moduleName;
  report += " at ";
  report += kReportAddress;
  report += ".\n";
  std::string message = FailureMessage(errorNumber);
  if (message.empty() || message.back() != '.') message += '.';
  report += message;
  report += "\r\n";
  return report;
}
