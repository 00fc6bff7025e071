// Failed file operations and the failure reports the front ends make of them.
#include "run_failure.h"

#include <new>
#include <stdexcept>

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

// "Exception <class> in module <module> at <address>." ending in a line feed, then the message
// with a full stop added, ending in CR LF.
std::string Report(std::string_view className, std::string_view moduleName, std::string message) {
  std::string report = "Exception ";
  report += className;
  report += " in module ";
  report += moduleName;
  report += " at ";
  report += kReportAddress;
  report += ".\n";
  if (message.empty() || message.back() != '.') message += '.';
  report += message;
  report += "\r\n";
  return report;
}

}  // namespace

void RaiseIoFailure(int errorNumber) {
  throw IoFailure{errorNumber};
}

std::string FailureMessage(int errorNumber) {
  for (const KnownMessage& known : kKnownMessages) {
    if (known.errorNumber == errorNumber) return std::string(known.message);
  }
  return "I/O error " + std::to_string(PlatformErrorNumber(errorNumber));
}

std::string FailureReport(std::string_view moduleName, int errorNumber) {
  return Report("EInOutError", moduleName, FailureMessage(errorNumber));
}

bool IsMemoryFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    return true;
  } catch (const std::length_error&) {
    return true;
  } catch (...) {
    return false;
  }
}

std::string OutOfMemoryReport(std::string_view moduleName, std::string_view whatWasRead) {
  return Report("EOutOfMemory", moduleName, "Out of memory reading " + std::string(whatWasRead));
}
