#!/usr/bin/env bash
# Whole-command latency: `vesk status` (state file and one probe) and `vesk title` (one
# request through the broker to a browser and back), with a background server and the
# fake browser peer running. Process start-up is the floor of both.
#
# Usage: bench/commands.sh [build-dir]   (needs hyperfine and a build with fake_browser)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
vesk="$build/vesk"
fake_browser="$build/tests/fake_browser"
for program in "$vesk" "$fake_browser"; do
  [[ -x $program ]] || { echo "missing $program: build the vesk and fake_browser targets" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }

HOME=$(mktemp -d)
export HOME
results="$HOME/results.json"
stop_everything() {
  # The instance and the server were started for this run only; stop them by their ids.
  local id
  for id in $("$vesk" instance list 2>/dev/null | sed -n 's/.*"id": "\(inst_[a-z0-9]*\)".*/\1/p'); do
    "$vesk" instance stop "$id" >/dev/null 2>&1 || true
  done
  "$vesk" server stop >/dev/null 2>&1 || true
  rm -rf "$HOME"
}
trap stop_everything EXIT

# Starts the background server, then the fake browser, which connects back to it.
"$vesk" instance start --browser-binary "$fake_browser" >/dev/null 2>&1
for _ in $(seq 100); do
  "$vesk" title >/dev/null 2>&1 && break
  sleep 0.1
done
"$vesk" title >/dev/null 2>&1 || { echo "the fake browser never answered" >&2; exit 1; }

# /bin/true is the floor of starting any process on this machine at this moment.
hyperfine --shell=none --warmup 20 --min-runs 200 --export-json "$results" \
  /bin/true "$vesk status" "$vesk title"

python3 - "$results" <<'PY'
import json, sys
for result in json.load(open(sys.argv[1]))["results"]:
    # CPU time (user + system) moves less than wall time on a busy machine.
    cpu = (result["user"] + result["system"]) * 1000
    print(f"median {result['median'] * 1000:6.2f} ms  cpu {cpu:5.2f} ms  {result['command'].rsplit('/', 1)[-1]}")
PY
