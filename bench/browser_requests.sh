#!/usr/bin/env bash
# Whole-command timings of browser requests: `vesk title` and `vesk upload` of a 50 MiB
# file, each against a running server with the fake browser connected.
# Goals: title under 5 ms; the 50 MiB upload reaching the browser (and answered) under 1 s,
# with at most three times the upload's size in memory in any one process.
# Usage: bash bench/browser_requests.sh [build-dir]
set -euo pipefail
build_dir=$(realpath "${1:-$(dirname "$0")/../build}")
vesk="$build_dir/vesk"
fake="$build_dir/tests/fake_browser"
for program in "$vesk" "$fake"; do
  [[ -x $program ]] || { echo "missing $program: build the vesk and fake_browser targets" >&2; exit 1; }
done

work=$(mktemp -d /tmp/vesk-bench-XXXXXX)
server_pid=""
browser_pid=""
cleanup() {
  [[ -n $browser_pid ]] && kill "$browser_pid" 2>/dev/null || true
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home"
export VESK_SESSION=""  # no shared-tab hint in the timings
mkdir -p "$HOME"

"$vesk" server --port 0 >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 1 300); do
  grep -q "ready on" "$work/server.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^vesk server ready on .*:\([0-9]*\)$/\1/p' "$work/server.out")
[[ -n $port ]] || { echo "the server did not start:" >&2; cat "$work/server.err" >&2; exit 1; }

# A small constant answer, so the timings measure our side rather than an echo of 50 MiB.
FAKE_BROWSER_SCRIPT='{"*": {"result": {"ok": true}}}' FAKE_BROWSER_LINGER=1 \
  "$fake" --vesk-host=127.0.0.1 --vesk-port="$port" --vesk-token=bench \
  --vesk-instance-id=inst_bench0001 --vesk-profile-id=default >"$work/browser.out" 2>&1 &
browser_pid=$!
for _ in $(seq 1 300); do
  "$vesk" title >/dev/null 2>&1 && break
  sleep 0.1
done

head -c $((50 * 1024 * 1024)) /dev/urandom >"$work/upload.bin"

median_ms() {  # hyperfine JSON export -> median in milliseconds
  python3 -c 'import json,sys; print("%.2f" % (json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' "$1"
}

hyperfine -N --warmup 5 --runs 100 --export-json "$work/title.json" "$vesk title"
echo "median vesk title: $(median_ms "$work/title.json") ms (goal < 5 ms)"
hyperfine -N --warmup 1 --runs 10 --export-json "$work/upload.json" "$vesk upload $work/upload.bin"
echo "median vesk upload 50 MiB: $(median_ms "$work/upload.json") ms (goal < 1000 ms)"

# Peak memory of each process for the upload (goal: at most 3x the upload's 50 MiB).
client_kib=$(python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$vesk" upload "$work/upload.bin")
peak_mib() { echo $(( $1 / 1024 )); }
echo "peak memory: vesk $(peak_mib "$client_kib") MiB," \
  "server $(peak_mib "$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")") MiB," \
  "fake browser $(peak_mib "$(awk '/VmHWM/ {print $2}' "/proc/$browser_pid/status")") MiB (goal <= 150 MiB each)"
