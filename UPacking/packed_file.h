// The new database as a file: written from the original and the plan's edits, read back and
// checked against the tables, and only then moved over NEW.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "node_reader.h"
#include "pack_plan.h"
#include "platform.h"
#include "run_failure.h"

// Reads the packed database back as the unpacker does and compares every line of every table
// with the plan's. Raises PackFailure at the first difference.
void CheckPacked(NodeReader& packed, const PackRules& rules, char decimalSeparator,
                 const PackPlan& plan);

// Where the new database may go: a path, naming nothing yet or an ordinary file that the user
// may write and replace (MayReplaceFile: root may replace any), and none of the tables. Raises
// PackFailure otherwise.
void CheckTarget(const std::string& target, const std::vector<std::string>& tables);

// Writes the new database to a temporary file beside `target`, reads it back through its open
// handle, checks it and moves it over `target`, having closed `original` first; then syncs the
// folder, so that the move survives a power cut. The temporary file has no name until it is
// checked where the platform allows it, otherwise a short random one, which SIGINT, SIGTERM and
// SIGHUP remove; it has from the start the permissions of `target`, or for a new `target` those
// of the original at `originalPath` without execute bits (less the umask). On a failure the
// temporary file is removed and a PackFailure raised.
void WriteAndReplace(NodeReader& original, const std::string& originalPath, const PackRules& rules,
                     const PackPlan& plan, const std::string& target, char decimalSeparator);

// Checks that a new database could be written beside `target` and moved over it as
// WriteAndReplace does: its temporary file is made there with the permissions it would get and
// named, then removed. Raises PackFailure with WriteAndReplace's words when it could not.
void CheckNewCanBeWritten(const std::string& target, const std::string& originalPath);

// Runs one step of the pack; a failed file operation or a failed allocation in it becomes a
// failure naming the step.
template <typename Step>
void InStep(const std::string& step, Step run) {
  try {
    run();
  } catch (const IoFailure& failure) {
    throw PackFailure{{step + ": " + FailureMessage(failure.errorNumber)}};
  } catch (...) {
    if (!IsMemoryFailure(std::current_exception())) throw;
    throw PackFailure{{step + ": out of memory"}};
  }
}
