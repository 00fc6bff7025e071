#!/usr/bin/env bash
# Builds the fuzz preset (clang) and runs each fuzz target for a while, failing on any crash,
# leak, sanitizer report, timeout or memory blow-up.
# Usage: scripts/fuzz-smoke.sh [seconds per target, default 60] [target...]
# Targets: spell_walk quest_walk number_text node_dump table_pack workbook_read (all by
# default). FUZZ_JOBS (default 2)
# targets run at once. Each target's grown corpus is kept in build/fuzz/work/<target>, so a
# later run goes on from it; an input that fails is saved in build/fuzz/artifacts/<target>/ and
# printed in hex, for fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
EnsurePackages "${kBuildPackages[@]}" clang libclang-rt-14-dev

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(spell_walk quest_walk number_text node_dump table_pack workbook_read)
jobs="${FUZZ_JOBS:-2}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/%/_fuzz}"

# Runs one target; its output goes to build/fuzz/logs/<target>.log. Exit status as libFuzzer's,
# or 1 when the log holds a sanitizer report all the same.
RunTarget() {
  local target="$1"
  local work="build/fuzz/work/$target"
  local artifacts="build/fuzz/artifacts/$target"
  local log="build/fuzz/logs/$target.log"
  mkdir -p "$work" "$artifacts" build/fuzz/logs
  local corpora=("$work" "fuzz/corpus/$target")
  [ -d "fuzz/regressions/$target" ] && corpora+=("fuzz/regressions/$target")
  local status=0
  # Inputs up to 16 KB: the samples fit; longer regression inputs are fuzzed in part and
  # replayed whole by the tests.
  "build/fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=16384 -print_final_stats=1 -artifact_prefix="$artifacts/" "${corpora[@]}" \
    >"$log" 2>&1 ||
    status=$?
  if [ "$status" -eq 0 ] && grep -qE '^(SUMMARY|==[0-9]+==ERROR): ' "$log"; then status=1; fi
  return "$status"
}

# One line per target: executions, speed, coverage, features and corpus at the end of its run.
Summarise() {
  local target="$1" log="build/fuzz/logs/$1.log"
  local done_line
  done_line="$(grep -E '^#[0-9]+.*(DONE|pulse)' "$log" | tail -n 1 || true)"
  echo "$target: ${done_line:-no progress line}"
}

ReportFailure() {
  local target="$1"
  echo "== $target FAILED; the end of its log:"
  tail -n 60 "build/fuzz/logs/$target.log"
  local artifact
  for artifact in "build/fuzz/artifacts/$target"/*; do
    [ -f "$artifact" ] || continue
    echo "== failing input $artifact:"
    od -A x -t x1z -v "$artifact" | head -n 64
  done
}

failed=()
pending=("${targets[@]}")
while [ ${#pending[@]} -gt 0 ]; do
  batch=("${pending[@]:0:$jobs}")
  pending=("${pending[@]:$jobs}")
  pids=()
  for target in "${batch[@]}"; do
    echo "== fuzzing $target for $seconds s"
    RunTarget "$target" &
    pids+=($!)
  done
  for index in "${!batch[@]}"; do
    if wait "${pids[$index]}"; then
      Summarise "${batch[$index]}"
    else
      ReportFailure "${batch[$index]}"
      failed+=("${batch[$index]}")
    fi
  done
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz smoke: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz smoke: ${#targets[@]} targets, no findings"
