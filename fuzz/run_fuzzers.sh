#!/usr/bin/env bash
# Usage: fuzz/run_fuzzers.sh [SECONDS]   (default 60)
#
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ (configuring it the first
# time; later runs only rebuild what changed), then runs each target for SECONDS on a copy of
# its seed corpus fuzz/corpus/<target>/, so the repository is never rewritten, as many
# targets at once as there are cores. Prints per target the runs executed and the outcome;
# an input that breaks a property or trips a sanitizer is kept in build-fuzz/findings/ and
# the script exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[[ $seconds =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS]" >&2; exit 2; }

build=build-fuzz
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DVELVANE_FUZZ=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$build/findings
mkdir -p "$findings"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# One target per core at a time, each for SECONDS; the results are printed in order at the end.
run_target() {
  local target=$1 corpus=$work/$1 log=$work/$1.log
  mkdir -p "$corpus"
  cp fuzz/corpus/"$target"/* "$corpus"/
  # The formatter and the hex converter also take inputs of a 大数据 read's size.
  local extra=()
  case $target in fuzz_received_line | fuzz_hex_codec) extra=(-max_len=65536) ;; esac
  if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "${extra[@]}" \
      -artifact_prefix="$findings/$target-" "$corpus" >"$log" 2>&1; then
    echo ok >"$work/$target.outcome"
  else
    echo "FAILED (exit $?)" >"$work/$target.outcome"
  fi
}
targets=()
for source in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
for target in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= $(nproc))); do
    wait -n || true
  done
  run_target "$target" &
done
wait

failed=0
for target in "${targets[@]}"; do
  log=$work/$target.log
  outcome=$(cat "$work/$target.outcome")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-20s %10s runs in %ss  %s\n' "$target" "${runs:-?}" "$seconds" "$outcome"
  if [[ $outcome != ok ]]; then
    failed=1
    grep -E 'property violated|ERROR:|SUMMARY:|Test unit written' "$log" | sed 's/^/    /' || true
    tail -n 40 "$log" >"$findings/$target.log.tail"
  fi
done
exit $failed
