// Shared by the fuzz targets: checked invariants, and a program's walk run in-process on bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "run_unpacker.h"
#include "table_set.h"
#include "unpacker_reading.h"

// Stops the process with `what` on standard error when `holds` is false; the fuzzer records the
// input as a crash, and the replay test fails.
void RequireInvariant(bool holds, const char* what);

// Most table bytes a walk may write per database byte, plus kMostTableBytesPerRun: a walk that
// wrote more would be reading the same bytes over and over.
inline constexpr std::size_t kMostTableBytesPerByte = 64;
inline constexpr std::size_t kMostTableBytesPerRun = 4096;

// Tables of the given names on anonymous scratch files, emptied after every walk. Open them once
// per process and reuse them for every input.
TableSet OpenScratchTables(std::span<const TableSpec> specs);

// Runs `walker` over `bytes` as a database held in memory, writing to `tables`. The walk must
// end either by returning at the end of the bytes or by a "Read beyond end of file" failure,
// and must write no more than the bound above; anything else breaks an invariant. The tables
// are then emptied, so that every input starts from empty tables. Returns whether the walk
// returned (rather than failing).
bool WalkFuzzInput(std::span<const std::uint8_t> bytes, TableSet& tables, Walker walker,
                   char decimalSeparator);

// Whether nodedump, following the given unpacker's reading, calls the bytes well formed. Then
// that unpacker must read them without a failure report.
bool DumpCallsWellFormed(std::span<const std::uint8_t> bytes, Unpackers unpacker);
