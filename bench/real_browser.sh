# Sourced by the real-browser benchmarks: checks the programs, gives the run a private HOME,
# starts one headless instance and waits until it answers, and stops everything it started
# when the script exits. Sets repo, build, vesk, runs, results and log.
#
# Usage (from a benchmark): source "$(dirname "$0")/real_browser.sh" "${1:-build}"

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
vesk="$build/vesk"
for program in "$vesk" "$build/veskbrowser"; do
  [[ -x $program ]] || { echo "missing $program: build the vesk and veskbrowser targets" >&2; exit 1; }
done
command -v hyperfine > /dev/null || { echo "hyperfine is not installed" >&2; exit 1; }
runs=${VESK_BENCH_RUNS:-40}

source "$repo/bench/private_home.sh" vesk-bench
results="$HOME/results"
mkdir -p "$results"

"$vesk" instance start --headless > /dev/null 2>&1
log="$HOME/.veskapp/browser-profiles/default/veskbrowser.log"
for _ in $(seq 300); do
  grep -qs "connected to the server" "$log" && break
  sleep 0.1
done
for _ in $(seq 100); do
  "$vesk" tab list > /dev/null 2>&1 && break
  sleep 0.2
done
"$vesk" tab list > /dev/null 2>&1 || { echo "the browser never answered; see $log" >&2; tail "$log" >&2; exit 1; }

