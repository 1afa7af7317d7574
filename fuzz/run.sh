#!/usr/bin/env bash
# Builds the libFuzzer targets (a clang tree of their own) and either fuzzes each for a
# given time or replays each over its seed corpus.
#
#   fuzz/run.sh [SECONDS] [TARGET...]   fuzz each target for SECONDS (default 60), one
#                                       after another, at the lowest CPU priority
#   fuzz/run.sh --replay [TARGET...]    run every seed once per target; fails on a crash
#
# TARGET is a name like wire_json (default: every target). Inputs that find something
# new go to BUILD/corpus/TARGET (seeds stay as they are), crashing inputs to
# BUILD/artifacts/TARGET/, the fuzzer's output to BUILD/logs/TARGET.log. A crashing
# input, once fixed, belongs in fuzz/corpus/TARGET/ so the replay keeps checking it.
# Environment: VESK_FUZZ_BUILD (default build-fuzz), VESK_FUZZ_CXX (default clang++-19).
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_dir=$PWD/fuzz
build=${VESK_FUZZ_BUILD:-build-fuzz}
cxx=${VESK_FUZZ_CXX:-clang++-19}

replay=0
seconds=60
if [[ ${1:-} == --replay ]]; then replay=1; shift; fi
if [[ ${1:-} =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi

if ! command -v "$cxx" >/dev/null; then
  # The gcc trees never need clang; only this script does.
  echo "fuzz: $cxx not found, nothing fuzzed or replayed; scripts/setup.sh installs it" >&2
  ((replay)) && exit 0
  exit 1
fi
if [[ ! -f $build/CMakeCache.txt ]]; then
  CXX=$cxx cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON -DVESK_BENCH=OFF >/dev/null
fi
nice -n 19 cmake --build "$build" -j"${JOBS:-2}" --target vesk_fuzzers >/dev/null

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in "$fuzz_dir"/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    targets+=("$name")
  done
fi

if ((replay)); then
  for name in "${targets[@]}"; do
    "$build/fuzz/fuzz_$name" -runs=0 "$fuzz_dir/corpus/$name" >"$build/replay_$name.log" 2>&1 ||
      { cat "$build/replay_$name.log" >&2; echo "fuzz: replay of $name failed" >&2; exit 1; }
    echo "fuzz: replayed $(ls "$fuzz_dir/corpus/$name" | wc -l) inputs of $name"
  done
  exit 0
fi

# Options per target beyond the common ones.
extra_options() {
  case $1 in
    wire_json | message_decode | state_file | read_message) echo "-dict=$fuzz_dir/json.dict" ;;
    command_line) echo "-dict=$fuzz_dir/command_line.dict" ;;
  esac
}

status=0
for name in "${targets[@]}"; do
  work=$build/corpus/$name
  artifacts=$build/artifacts/$name
  log=$build/logs/$name.log
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  # shellcheck disable=SC2046
  nice -n 19 "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" $(extra_options "$name") "$work" "$fuzz_dir/corpus/$name" >"$log" 2>&1 || status=1
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  found=$(ls "$artifacts" | wc -l)
  echo "fuzz: $name ran ${seconds}s, ${runs:-?} executions, corpus $(ls "$work" | wc -l) inputs, $found findings ($log)"
done
exit $status
