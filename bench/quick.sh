#!/usr/bin/env bash
# A batch against separate commands, on the same running headless instance and page
# (tests/fixtures/demo.html): `vesk quick` with five actions (fill, click, text, title, url)
# against the same five actions as five `vesk` processes run one after another. Prints both
# medians and their ratio (the batch should cost under a third of the separate commands).
#
# Usage: bench/quick.sh [build-dir]   (needs hyperfine, Chromium, and vesk + veskbrowser built)
set -euo pipefail

source "$(dirname "$0")/real_browser.sh" "${1:-build}"

"$vesk" nav "file://$repo/tests/fixtures/demo.html" > /dev/null 2>&1
actions=("fill #who Ada" "click #greet" "text #greeting" "title" "url")

# The separate commands as one script that runs the five in turn, each as its own process
# (the script's own shell costs about a millisecond of the figure).
separate="$HOME/separate.sh"
{
  echo '#!/bin/sh'
  echo 'set -e'
  for action in "${actions[@]}"; do
    read -ra words <<< "$action"
    # Quoted: "#who" would start a comment in the script.
    echo "$(printf '%q ' "$vesk" "${words[@]}")> /dev/null"
  done
} > "$separate"
chmod +x "$separate"
batch=("$vesk" quick "${actions[@]}")

"$separate"
"${batch[@]}" | grep -q '"ok": true' || { echo "the batch did not succeed:" >&2; "${batch[@]}" >&2; exit 1; }

echo "== demo page: five actions as one batch and as five commands ($runs runs each)"
hyperfine --warmup 3 --min-runs "$runs" --export-json "$results/quick.json" \
  --command-name "vesk quick (5 actions)" "$(printf '%q ' "${batch[@]}") > /dev/null" \
  --command-name "5 separate vesk commands" "$separate"

python3 - "$results/quick.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
batch, separate = (r["median"] * 1000 for r in results)
print(f"\nmedians: batch {batch:.2f} ms, separate {separate:.2f} ms, ratio {batch / separate:.2f} (goal < 0.33)")
PY
