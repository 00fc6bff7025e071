// Shared by the fuzz targets: checked invariants, and a program's walk run in-process on bytes.
#pragma once

#include <cstdint>
#include <span>

#include "run_unpacker.h"
#include "table_set.h"

// Stops the process with `what` on standard error when `holds` is false; the fuzzer records the
// input as a crash, and the replay test fails.
void RequireInvariant(bool holds, const char* what);

// Tables of the given names whose files are all the null device, for walks whose lines matter
// only for the code they run. Open them once per process and reuse them for every input.
TableSet OpenNullTables(std::span<const TableSpec> specs);

// Runs `walker` over `bytes` as a database held in memory, writing to `tables`. The walk must
// end either by returning at the end of the bytes or by a "Read beyond end of file" failure;
// anything else breaks an invariant. Pending lines are then dropped, so that every input starts
// from empty tables.
void WalkFuzzInput(std::span<const std::uint8_t> bytes, TableSet& tables, Walker walker,
                   char decimalSeparator);
