#!/usr/bin/env bash
# Throughput benchmark of both unpackers against cp and dd (bs=256K) of the same database, on a
# 1 MiB and a 1 GiB database of each kind, with peak memory, system calls and instruction counts;
# both packers against their unpackers on 256 MiB databases of four kinds (the float-heavy spell
# and text-heavy quest databases, and one of each made of small records like the samples'): their
# unedited tables, the largest table sorted by a column with 1 % of its lines changed in one cell,
# and two sources merged beside each packed alone; and the number text benchmark. cp may copy
# inside the kernel without reading into user space; dd reads every block into user space and
# writes it out, as an unpacker must at least. Writes the figures to BENCHMARKS.md (or to the
# file named by $1) and fails when a packer's peak memory is above what the README says.
#   bash bench/run.sh                 # everything (about twenty minutes)
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

# The packers on four kinds of database, beside their unpackers in one hyperfine run each: the
# unedited tables (the new database must be the original, byte for byte); the largest table
# sorted by one column and one line in a hundred changed in one cell; two sources, each with
# one line in a hundred changed (other lines), packed alone and merged. A packed database is
# removed before each run, as the unpacker's tables are truncated before each of its runs.
# kind, extension, unpacker, packer, largest table, column sorted by, column changed
packings=(
  "spell sdb grimdex grimpack SpellPrototypes.txt Mana Price"
  "spell-small sdb grimdex grimpack SpellPrototypes.txt Mana Mana"
  "quest qdb lorudex lorupack Quests.txt Money Exp"
  "quest-small qdb lorudex lorupack Quests.txt Money Exp"
)
for entry in "${packings[@]}"; do
  read -r kind extension unpacker packer table sortedBy changed <<<"$entry"
  database="$data/$kind-$pack_size.$extension"
  [ -f "$database" ] || "$bin/bench/make_bench_database" "$kind" "$pack_size" 1 "$database"
  base="$data/$kind-$pack_size"
  rm -rf "$base-tables" "$base-sorted" "$base-source-a" "$base-source-b"
  "$bin/$unpacker/$unpacker" "$database" "$base-tables" >/dev/null
  cp -r "$base-tables" "$base-sorted"
  python3 bench/sort_and_change.py "$base-sorted/$table" "$sortedBy" "$changed"
  cp -r "$base-tables" "$base-source-a"
  cp -r "$base-tables" "$base-source-b"
  python3 bench/change_cells.py "$base-source-a/$table" "$changed" 1
  python3 bench/change_cells.py "$base-source-b/$table" "$changed" 51
  packed="$data/packed.$extension"
  pack="$bin/$unpacker/$packer $database"
  echo "== $packer on $database"
  hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$base.json" \
    --prepare "rm -f $packed" \
    -n unpacker "$bin/$unpacker/$unpacker $database $data/out-$unpacker-$pack_size" \
    -n unedited "$pack $base-tables $packed" \
    -n sorted "$pack $base-sorted $packed" \
    -n source-a "$pack $base-source-a $packed" \
    -n source-b "$pack $base-source-b $packed" \
    -n merged "$pack $base-source-a $base-source-b $packed"
  rm -f "$packed"
  "$bin/$unpacker/$packer" "$database" "$base-tables" "$packed" >/dev/null
  cmp "$database" "$packed"
  for run in unedited sorted merged; do
    case $run in
      unedited) sources="$base-tables" ;;
      sorted) sources="$base-sorted" ;;
      merged) sources="$base-source-a $base-source-b" ;;
    esac
    rm -f "$packed"
    # shellcheck disable=SC2086
    /usr/bin/time -f %M -o "$base-$run.rss" "$bin/$unpacker/$packer" "$database" $sources \
      "$packed" >/dev/null
  done
  awk 'FNR > 1' "$base-tables"/*.txt | wc -l >"$base.lines"  # records: lines after header rows
  wc -l <"$base-tables/$table" >"$base.largest"
  rm -f "$packed"
done

# Workbooks: each unpacker writing its tables and a workbook of the same database, and each packer
# packing the unedited tables and the unedited workbook, in one hyperfine run each. The databases
# are those of the packers' runs at a size whose largest table fits a sheet (1,048,575 lines).
workbook_size=${BENCH_WORKBOOK_SIZE:-128}
for entry in "${packings[@]}"; do
  read -r kind extension unpacker packer table _ _ <<<"$entry"
  database="$data/$kind-$workbook_size.$extension"
  [ -f "$database" ] || "$bin/bench/make_bench_database" "$kind" "$workbook_size" 1 "$database"
  base="$data/$kind-$workbook_size-workbook"
  rm -rf "$base-tables" "$base.xlsx"
  "$bin/$unpacker/$unpacker" "$database" "$base-tables" >/dev/null
  if ! "$bin/$unpacker/$unpacker" "$database" "$base.xlsx"; then
    echo "$kind-$workbook_size: no workbook (a table larger than a sheet)"
    continue
  fi
  packed="$data/packed.$extension"
  echo "== $unpacker and $packer with a workbook of $database"
  hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$base.json" \
    --prepare "rm -f $packed" \
    -n tables "$bin/$unpacker/$unpacker $database $data/out-$unpacker-workbook" \
    -n workbook "$bin/$unpacker/$unpacker $database $data/out-$unpacker.xlsx" \
    -n "packed from tables" "$bin/$unpacker/$packer $database $base-tables $packed" \
    -n "packed from the workbook" "$bin/$unpacker/$packer $database $base.xlsx $packed"
  /usr/bin/time -f %M -o "$base-write.rss" "$bin/$unpacker/$unpacker" "$database" \
    "$data/out-$unpacker.xlsx"
  rm -f "$packed"
  /usr/bin/time -f %M -o "$base-pack.rss" "$bin/$unpacker/$packer" "$database" "$base.xlsx" \
    "$packed" >/dev/null
  cmp "$database" "$packed"
  stat -c %s "$base.xlsx" >"$base.size"
  rm -f "$packed" "$data/out-$unpacker.xlsx"
done

"$bin/bench/number_text_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$data/number_text.json"

python3 bench/report.py "$data" "$report" "$sizes" "$pack_size" "$workbook_size"
