// Failed file operations and the failure reports the front ends make of them.
#pragma once

#include <exception>
#include <string>
#include <string_view>

// A failed file operation, thrown with its error number from where it happened. The front ends
// turn it into the failure report; the few readers that catch it and carry on say why there.
struct IoFailure {
  int errorNumber = 0;
};

// Throws IoFailure for a failed file operation: never returns. An unpacker's run catches it,
// keeps every line already handed to a table and prints the report.
[[noreturn]] void RaiseIoFailure(int errorNumber);

// The message of an error number: "File not found", "Read beyond end of file", "I/O error 28"...
std::string FailureMessage(int errorNumber);

// The two-line report: "Exception EInOutError in module <module> at <address>." ending in a
// line feed only, then the message with a full stop added, ending in CR LF.
std::string FailureReport(std::string_view moduleName, int errorNumber);

// Whether `failure` is a failed allocation: std::bad_alloc, or std::length_error from a container
// asked to hold more than it can (a 32-bit build's limit). Every program ends such a run as it
// ends one on a failed read.
bool IsMemoryFailure(const std::exception_ptr& failure);

// The report of a run that ran out of memory, in the form of FailureReport: "Exception
// EOutOfMemory in module <module> at <address>.", then "Out of memory reading <what>.".
std::string OutOfMemoryReport(std::string_view moduleName, std::string_view whatWasRead);
