#!/usr/bin/env python3
"""Writes BENCHMARKS.md from the figures bench/run.sh gathered, and checks each packer's peak
memory against the README's bound.

Usage: report.py DATA_FOLDER REPORT "SIZES" PACK_SIZE WORKBOOK_SIZE
"""
import json
import os
import re
import subprocess
import sys

MIB = 2**20

# The README's bound of a packer's peak memory: a fixed part, then bytes per record of the
# original (a line of any of its tables), per line of its largest table, and per further source
# per line of its largest table.
FIXED = 48 * MIB
PER_RECORD = 48
PER_LARGEST_LINE = 64
PER_SOURCE_LINE = 16

# The speed goals of the packers, as multiples of the unpacker's time.
GOALS = {"unedited": 3.0, "sorted": 4.0}

PACKINGS = (("grimpack", "grimdex", "spell", "sdb"), ("grimpack", "grimdex", "spell-small", "sdb"),
            ("lorupack", "lorudex", "quest", "qdb"), ("lorupack", "lorudex", "quest-small", "qdb"))


def medians(path):
    return {r["command"]: r["median"] for r in json.load(open(path))["results"]}


def rss_bytes(path):
    return int(open(path).read().split()[-1]) * 1024


def memory_bound(records, largest, sources):
    return FIXED + PER_RECORD * records + PER_LARGEST_LINE * largest + \
        PER_SOURCE_LINE * largest * (sources - 1)


def unpacker_rows(data, sizes):
    rows = []
    for size in sizes:
        for tool, kind, ext in (("grimdex", "spell", "sdb"), ("lorudex", "quest", "qdb")):
            base = f"{data}/{tool}-{size}"
            db_bytes = os.path.getsize(f"{data}/{kind}-{size}.{ext}")
            mib = db_bytes / MIB
            times = medians(base + ".json")
            cp, dd, run = times["cp"], times["dd"], times[tool]
            calls = 0
            for line in open(base + ".strace"):
                fields = line.split()
                if len(fields) >= 5 and fields[-1] in ("read", "write", "pread64", "pwrite64",
                                                       "readv", "writev"):
                    calls += int(fields[3])
            instructions = ""
            if os.path.exists(base + ".callgrind"):
                match = re.search(r"refs:\s+([\d,]+)", open(base + ".callgrind").read())
                if match:
                    instructions = f"{int(match.group(1).replace(',', '')) / db_bytes:.1f}"
            rows.append((tool, f"{mib:.0f} MiB", f"{cp * 1000:.1f}", f"{dd * 1000:.1f}",
                         f"{run * 1000:.1f}", f"{run / cp:.2f}", f"{run / dd:.2f}",
                         f"{mib / run:.0f}", f"{rss_bytes(base + '.rss') / MIB:.1f}",
                         f"{calls / mib:.1f}", instructions))
    return rows


def packer_rows(data, pack_size):
    """The packers' rows, and the checks that failed."""
    rows, failures = [], []
    for packer, unpacker, kind, ext in PACKINGS:
        base = f"{data}/{kind}-{pack_size}"
        db_bytes = os.path.getsize(f"{base}.{ext}")
        records = int(open(base + ".lines").read())
        largest = int(open(base + ".largest").read()) - 1
        times = medians(base + ".json")
        unpack = times["unpacker"]
        for run, sources in (("unedited", 1), ("sorted", 1), ("merged", 2)):
            rss = rss_bytes(f"{base}-{run}.rss")
            bound = memory_bound(records, largest, sources)
            ratio = times[run] / unpack
            goal = GOALS.get(run)
            if run == "merged":
                alone = times["source-a"] + times["source-b"]
                verdict = "yes" if times[run] <= alone else "NO"
                goal_text = f"at most {alone * 1000:.0f} ms (A and B alone): {verdict}"
            else:
                goal_text = f"at most {goal:.0f} x: {'yes' if ratio <= goal else 'NO'}"
            rows.append((packer, kind, run, f"{db_bytes / MIB:.0f} MiB", f"{records}",
                         f"{unpack * 1000:.0f}", f"{times[run] * 1000:.0f}", f"{ratio:.2f}",
                         goal_text, f"{rss / MIB:.1f}", f"{rss / db_bytes:.2f}",
                         f"{bound / MIB:.1f}"))
            if rss > bound:
                failures.append(f"{packer} {kind} {run}: peak {rss / MIB:.1f} MiB is above the "
                                f"README's bound of {bound / MIB:.1f} MiB")
    return rows, failures


# The speed goals of workbooks: writing one against writing the tables, packing from an
# unedited one against packing from the unedited tables.
WORKBOOK_GOALS = {"workbook": ("tables", 4.0), "packed from the workbook": ("packed from tables", 2.0)}


def workbook_rows(data, workbook_size):
    rows = []
    for packer, unpacker, kind, ext in PACKINGS:
        base = f"{data}/{kind}-{workbook_size}-workbook"
        if not os.path.exists(base + ".json"):
            rows.append((unpacker, kind, f"{workbook_size} MiB", "no workbook: a table is larger "
                         "than a sheet", "", "", "", "", ""))
            continue
        times = medians(base + ".json")
        for run, (against, goal) in WORKBOOK_GOALS.items():
            ratio = times[run] / times[against]
            program = unpacker if run == "workbook" else packer
            rss = rss_bytes(base + ("-write.rss" if run == "workbook" else "-pack.rss")) / MIB
            rows.append((program, kind, f"{workbook_size} MiB", run, f"{times[against] * 1000:.0f}",
                         f"{times[run] * 1000:.0f}", f"{ratio:.2f}",
                         f"at most {goal:g} x: {'yes' if ratio <= goal else 'NO'}",
                         f"{rss:.1f}"))
    return rows


def number_rows(data):
    numbers = {b["run_name"]: b["real_time"]
               for b in json.load(open(f"{data}/number_text.json"))["benchmarks"]
               if b.get("aggregate_name") == "median"}
    rows = []
    for values in ("RandomFinite", "Typical"):
        base = numbers[f"BM_ToCharsBaseline_{values}"]
        plain, general = numbers[f"BM_Plain_{values}"], numbers[f"BM_General_{values}"]
        rows.append((values, f"{base:.1f}", f"{plain:.1f}", f"{plain / base:.2f}",
                     f"{general:.1f}", f"{general / base:.2f}"))
    return rows


def table(header, rows):
    text = "| " + " | ".join(header) + " |\n|" + "---|" * len(header) + "\n"
    return text + "".join("| " + " | ".join(row) + " |\n" for row in rows)


def main(data, report, sizes, pack_size, workbook_size):
    cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                         capture_output=True, text=True).stdout.strip()
    packed, failures = packer_rows(data, pack_size)
    with open(report, "w") as out:
        out.write("# Benchmarks\n\n")
        out.write("Made by `bash bench/run.sh` (release build with whole-program optimisation; "
                  "databases from `make_bench_database`, seed 1; medians of hyperfine runs; cp, "
                  "and dd with bs=256K, of the same database to a file in the same folder; peak "
                  "resident memory from `/usr/bin/time -f %M`; read and write system calls from "
                  "`strace -f -c`; instructions from `valgrind --tool=callgrind`).\n\n")
        out.write(f"Machine: {os.cpu_count()} cores, {cpu}.\n\n")
        out.write(table(("Tool", "Database", "cp ms", "dd ms", "tool ms", "tool / cp",
                         "tool / dd", "MiB/s", "peak RSS MiB", "read+write calls per MiB",
                         "instructions per byte"), unpacker_rows(data, sizes.split())))
        out.write("\nThe packers beside their unpackers on the same database, in one hyperfine run "
                  "each (the packed database removed before each run): the unedited tables (the "
                  "packed database is the original, byte for byte); the largest table sorted by a "
                  "column with one line in a hundred changed in one cell; two sources, each with "
                  "one line in a hundred changed, merged (against the two packed alone). Databases "
                  "of small records are like the samples' (about 100 to 200 bytes a record, mostly "
                  "numbers). The memory bound is the README's: 48 MiB, 48 bytes a record, 64 bytes "
                  "a line of the largest table and 16 more for each further source.\n\n")
        out.write(table(("Packer", "Database", "Tables", "Size", "Records", "unpacker ms",
                         "packer ms", "packer / unpacker", "goal", "peak RSS MiB",
                         "bytes per database byte", "memory bound MiB"), packed))
        out.write("\nWorkbooks: the unpacker writing a workbook against writing the tables of the "
                  "same database, and the packer packing the unedited workbook against the "
                  "unedited tables, in one hyperfine run each (sheets deflated by the quick encoder "
                  "on a second thread while the rows are made, and on the first while the second is "
                  "behind: the sheet of the largest table straight "
                  "into the workbook's file from its first rows, the others held deflated in memory "
                  "until the workbook is written; a sheet of 1 MiB or more packed from three threads, "
                  "which inflate it, read its XML and make its cells into the table's text).\n\n")
        out.write(table(("Program", "Database", "Size", "Run", "against ms", "run ms",
                         "run / against", "goal", "peak RSS MiB"),
                        workbook_rows(data, workbook_size)))
        out.write("\nNumber text, median ns per value (`number_text_bench`), and the ratio to the "
                  "`std::to_chars(double, scientific, 17)` baseline of the same values:\n\n")
        out.write(table(("Values", "baseline ns", "plain ns", "plain / baseline", "general ns",
                         "general / baseline"), number_rows(data)))
    print(open(report).read())
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
