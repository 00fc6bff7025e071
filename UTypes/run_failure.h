// The single failure path of a run: a failed file operation ends the run with one report.
#pragma once

#include <exception>
#include <string>
#include <string_view>

// Carries a failed file operation's error number from where it happened up to the run.
struct RunFailure {
  int errorNumber = 0;
};

// Ends the run for a failed file operation: never returns. The run catches the failure,
// keeps every line already handed to a table and prints the report.
[[noreturn]] void FailRun(int errorNumber);

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
