#!/usr/bin/env bash
# Whole-command timings against a real headless Chromium driven by veskbrowser: one process
# per action, the same running instance, the fixture form (and a page of 1,000 buttons for
# the snapshot). Goals: `vesk title` under 10 ms, `vesk click <ref>` under 50 ms,
# `vesk snap -i` on 1,000 interactive elements under 150 ms; `vesk ss` is reported.
# Usage: bash bench/real_browser.sh [build-dir]
set -euo pipefail
build_dir=$(realpath "${1:-$(dirname "$0")/../build}")
repo_dir=$(realpath "$(dirname "$0")/..")
vesk="$build_dir/vesk"
[[ -x $vesk && -x $build_dir/veskbrowser ]] || { echo "build the vesk and veskbrowser targets first" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/vesk-bench-XXXXXX)
export HOME="$work/home"
export VESK_SESSION=""
unset LOCALAPPDATA USERPROFILE
mkdir -p "$HOME"
cd "$work"
cleanup() {
  for id in $("$vesk" instance list 2>/dev/null | sed -n 's/.*"id": "\(inst_[a-z0-9]*\)".*/\1/p'); do
    "$vesk" instance stop "$id" >/dev/null 2>&1 || true
  done
  "$vesk" server stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

{
  echo '<!doctype html><title>1000 buttons</title>'
  for i in $(seq 1 1000); do echo "<button>Button $i</button>"; done
} >"$work/many.html"

"$vesk" instance start >/dev/null 2>&1
"$vesk" nav "file://$repo_dir/tests/fixtures/form.html" >/dev/null 2>&1
save_ref=$("$vesk" snap -i 2>/dev/null | sed -n 's/^\(e[0-9]*\):button "Save"$/\1/p')

hyperfine --warmup 3 --runs 30 --export-json "$work/form.json" \
  --command-name "vesk title" "$vesk title" \
  --command-name "vesk click $save_ref" "$vesk click $save_ref" \
  --command-name "vesk ss" "$vesk ss -o $work/shot.png"

"$vesk" nav "file://$work/many.html" >/dev/null 2>&1
hyperfine --warmup 3 --runs 20 --export-json "$work/snap.json" \
  --command-name "vesk snap -i (1,000 buttons)" "$vesk snap -i"

# Medians, the figure the goals are stated in.
python3 - "$work/form.json" "$work/snap.json" <<'PY'
import json, sys
for path in sys.argv[1:]:
    for result in json.load(open(path))["results"]:
        print(f'{result["command"]}: median {result["median"] * 1000:.1f} ms (min {result["min"] * 1000:.1f} ms)')
PY
