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

# A private HOME: the benchmark neither sees nor disturbs the user's own data directory.
HOME=$(mktemp -d /tmp/vesk-bench.XXXXXX)
export HOME
bench_home=$HOME
unset VESK_SESSION
results="$HOME/results"
mkdir -p "$results"

our_pids() {
  local file pid
  # Chromium rewrites its environment block: it is known by its profile path on its command line.
  for file in $(grep -lzxF "HOME=$bench_home" /proc/[0-9]*/environ 2> /dev/null) \
              $(grep -lF "$bench_home/" /proc/[0-9]*/cmdline 2> /dev/null); do
    pid=${file#/proc/}
    pid=${pid%/*}
    # (the greps above and this shell match too; they are gone or are us)
    [[ $pid == "$$" || $pid == "$BASHPID" || ! -d /proc/$pid ]] || echo "$pid"
  done
}

stop_everything() {
  local id leftover
  for id in $("$vesk" instance list 2> /dev/null | sed -n 's/.*"id": "\(inst_[a-z0-9]*\)".*/\1/p'); do
    "$vesk" instance stop "$id" > /dev/null 2>&1 || true
  done
  "$vesk" server stop > /dev/null 2>&1 || true
  leftover=$(our_pids)
  # shellcheck disable=SC2086
  [[ -z $leftover ]] || kill -KILL $leftover 2> /dev/null || true
  rm -rf "$bench_home"
}
trap stop_everything EXIT

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

