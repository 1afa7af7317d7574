#!/usr/bin/env bash
# Runs every benchmark: the in-process Google Benchmark binaries, then the whole-command
# timings (hyperfine scripts in this folder). Usage: bash bench/run.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$(realpath "${1:-build}")

for bin in "$build_dir"/bench/*_bench; do
  [[ -x $bin ]] || continue
  echo "== $(basename "$bin")"
  "$bin" --benchmark_min_time=0.2
done

for script in bench/*.sh; do
  # peers.sh and soak.sh are slow: each is run on its own.
  [[ $(basename "$script") == run.sh || $(basename "$script") == peers.sh || $(basename "$script") == soak.sh ]] && continue
  echo "== $script"
  bash "$script" "$build_dir"
done
