#!/usr/bin/env bash
# Throughput benchmark of both unpackers against cp and dd (bs=256K) of the same database, on a
# 1 MiB and a 1 GiB database of each kind, with peak memory, system calls and instruction counts;
# both packers against their unpackers on a 256 MiB database of each kind, packing its unedited
# tables; and the number text benchmark. cp may copy inside the kernel without reading into user space;
# dd reads every block into user space and writes it out, as an unpacker must at least. Writes
# the figures to BENCHMARKS.md (or to the file named by $1).
#   bash bench/run.sh                 # everything (about ten minutes)
#   BENCH_SIZES="1 64" BENCH_PACK_SIZE=16 bash bench/run.sh /tmp/quick.md   # smaller, in MiB
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
EnsurePackages "${kBuildPackages[@]}" libbenchmark-dev hyperfine strace valgrind time python3

report=${1:-BENCHMARKS.md}
sizes=${BENCH_SIZES:-1 1024}
pack_size=${BENCH_PACK_SIZE:-256}
runs=${BENCH_RUNS:-5}
data=build/bench-data
bin=build/bench
mkdir -p "$data"

cmake --preset bench >/dev/null
cmake --build --preset bench

# tool, database kind, database extension
programs=("grimdex spell sdb" "lorudex quest qdb")

for size in $sizes; do
  for entry in "${programs[@]}"; do
    read -r tool kind extension <<<"$entry"
    database="$data/$kind-$size.$extension"
    [ -f "$database" ] || "$bin/bench/make_bench_database" "$kind" "$size" 1 "$database"
    out="$data/out-$tool-$size"
    mkdir -p "$out"
    echo "== $tool on $database ($(stat -c %s "$database") bytes)"
    hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$data/$tool-$size.json" \
      -n cp "cp $database $data/copy.$extension" \
      -n dd "dd if=$database of=$data/copy.$extension bs=256K status=none" \
      -n "$tool" "$bin/$tool/$tool $database $out"
    /usr/bin/time -f %M -o "$data/$tool-$size.rss" "$bin/$tool/$tool" "$database" "$out"
    strace -f -c -o "$data/$tool-$size.strace" \
      -e trace=read,write,pread64,pwrite64,readv,writev "$bin/$tool/$tool" "$database" "$out"
    if [ "$size" -le 8 ]; then
      valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin/$tool/$tool" "$database" \
        "$out" 2>"$data/$tool-$size.callgrind"
    fi
    rm -f "$data/copy.$extension"
  done
done

# The packers on the unedited tables of their unpackers, in one hyperfine run beside them; the
# new database must be the original, byte for byte.
# packer, unpacker, database kind, extension, folder of both programs
packers=("grimpack grimdex spell sdb" "lorupack lorudex quest qdb")
for entry in "${packers[@]}"; do
  read -r packer unpacker kind extension <<<"$entry"
  database="$data/$kind-$pack_size.$extension"
  [ -f "$database" ] || "$bin/bench/make_bench_database" "$kind" "$pack_size" 1 "$database"
  tables="$data/tables-$unpacker-$pack_size"
  rm -rf "$tables"
  "$bin/$unpacker/$unpacker" "$database" "$tables" >/dev/null
  echo "== $packer on $database and its tables"
  hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$data/$packer-$pack_size.json" \
    -n "$unpacker" "$bin/$unpacker/$unpacker $database $data/out-$unpacker-$pack_size" \
    -n "$packer" "$bin/$unpacker/$packer $database $tables $data/packed.$extension"
  cmp "$database" "$data/packed.$extension"
  /usr/bin/time -f %M -o "$data/$packer-$pack_size.rss" \
    "$bin/$unpacker/$packer" "$database" "$tables" "$data/packed.$extension" >/dev/null
  rm -f "$data/packed.$extension"
done

"$bin/bench/number_text_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$data/number_text.json"

python3 - "$data" "$report" "$sizes" "$pack_size" <<'PY'
import json, os, re, subprocess, sys

data, report, sizes, pack_size = sys.argv[1], sys.argv[2], sys.argv[3].split(), sys.argv[4]
pack_rows = []
for packer, unpacker, kind, ext in (("grimpack", "grimdex", "spell", "sdb"),
                                    ("lorupack", "lorudex", "quest", "qdb")):
    base = f"{data}/{packer}-{pack_size}"
    mib = os.path.getsize(f"{data}/{kind}-{pack_size}.{ext}") / 2**20
    results = {r["command"]: r for r in json.load(open(base + ".json"))["results"]}
    unpack, pack = results[unpacker]["median"], results[packer]["median"]
    rss = int(open(base + ".rss").read().split()[-1]) / 1024
    pack_rows.append((packer, f"{mib:.0f} MiB", f"{unpack * 1000:.1f}", f"{pack * 1000:.1f}",
                      f"{pack / unpack:.2f}", f"{rss:.1f}"))
rows = []
for size in sizes:
    for tool, kind, ext in (("grimdex", "spell", "sdb"), ("lorudex", "quest", "qdb")):
        base = f"{data}/{tool}-{size}"
        db_bytes = os.path.getsize(f"{data}/{kind}-{size}.{ext}")
        mib = db_bytes / 2**20
        results = {r["command"]: r for r in json.load(open(base + ".json"))["results"]}
        cp, dd, run = results["cp"]["median"], results["dd"]["median"], results[tool]["median"]
        rss = int(open(base + ".rss").read().split()[-1]) / 1024
        calls = 0
        for line in open(base + ".strace"):
            fields = line.split()
            if len(fields) >= 5 and fields[-1] in ("read", "write", "pread64", "pwrite64", "readv", "writev"):
                calls += int(fields[3])
        instructions = ""
        if os.path.exists(base + ".callgrind"):
            match = re.search(r"refs:\s+([\d,]+)", open(base + ".callgrind").read())
            if match:
                instructions = f"{int(match.group(1).replace(',', '')) / db_bytes:.1f}"
        rows.append((tool, f"{mib:.0f} MiB", f"{cp * 1000:.1f}", f"{dd * 1000:.1f}", f"{run * 1000:.1f}",
                     f"{run / cp:.2f}", f"{run / dd:.2f}", f"{mib / run:.0f}", f"{rss:.1f}",
                     f"{calls / mib:.1f}", instructions))

numbers = {b["run_name"]: b["real_time"] for b in json.load(open(f"{data}/number_text.json"))["benchmarks"]
           if b.get("aggregate_name") == "median"}
def ratio(style, values):
    return numbers[f"BM_{style}_{values}"] / numbers[f"BM_ToCharsBaseline_{values}"]

cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                     capture_output=True, text=True).stdout.strip()
with open(report, "w") as out:
    out.write("# Benchmarks\n\n")
    out.write("Made by `bash bench/run.sh` (release build with whole-program optimisation; databases from "
              "`make_bench_database`, seed 1; medians of hyperfine runs; cp, and dd with bs=256K, of the "
              "same database to a file in the same folder; peak resident memory from `/usr/bin/time -f %M`; "
              "read and write system calls from `strace -f -c`; instructions from `valgrind --tool=callgrind`).\n\n")
    out.write(f"Machine: {os.cpu_count()} cores, {cpu}.\n\n")
    out.write("| Tool | Database | cp ms | dd ms | tool ms | tool / cp | tool / dd | MiB/s | peak RSS MiB | read+write calls per MiB | instructions per byte |\n")
    out.write("|---|---|---|---|---|---|---|---|---|---|---|\n")
    for row in rows:
        out.write("| " + " | ".join(row) + " |\n")
    out.write("\nPacking the unedited tables back (`grimpack`, `lorupack`) beside unpacking the same "
              "database, in one hyperfine run; the packed database is the original, byte for byte:\n\n")
    out.write("| Packer | Database | unpacker ms | packer ms | packer / unpacker | peak RSS MiB |\n")
    out.write("|---|---|---|---|---|---|\n")
    for row in pack_rows:
        out.write("| " + " | ".join(row) + " |\n")
    out.write("\nNumber text, median ns per value (`number_text_bench`), and the ratio to the "
              "`std::to_chars(double, scientific, 17)` baseline of the same values:\n\n")
    out.write("| Values | baseline ns | plain ns | plain / baseline | general ns | general / baseline |\n")
    out.write("|---|---|---|---|---|---|\n")
    for values in ("RandomFinite", "Typical"):
        out.write(f"| {values} | {numbers['BM_ToCharsBaseline_' + values]:.1f} | "
                  f"{numbers['BM_Plain_' + values]:.1f} | {ratio('Plain', values):.2f} | "
                  f"{numbers['BM_General_' + values]:.1f} | {ratio('General', values):.2f} |\n")
print(open(report).read())
PY
