#!/usr/bin/env bash
# Soak: does anything get lost, mixed up or grow under sustained use?
#   1. load: 64 concurrent clients x 200 requests each through one server and the fake
#      browser; every answer must be the echo of its own request (a unique marker);
#   2. soak: 10,000 commands through one instance with real Chromium (title, snap -i,
#      click, eval with a check of its value, a navigation every 100 commands).
# Prints throughput and errors of the load, and the resident memory and open descriptors
# of the server and veskbrowser at the start and the end of each phase. Takes several
# minutes; not part of CI or of bench/run.sh.
#
# Usage: bench/soak.sh [build-dir]   (vesk, veskbrowser and tests/fake_browser built)
# Sizes: SOAK_CLIENTS (64), SOAK_REQUESTS (200 per client), SOAK_COMMANDS (10000).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
vesk="$build/vesk"
for program in "$vesk" "$build/veskbrowser" "$build/tests/fake_browser"; do
  [[ -x $program ]] || { echo "missing $program: build vesk, veskbrowser and fake_browser" >&2; exit 1; }
done
command -v jq > /dev/null || { echo "jq is not installed" >&2; exit 1; }
clients=${SOAK_CLIENTS:-64}
requests=${SOAK_REQUESTS:-200}
commands=${SOAK_COMMANDS:-10000}

source "$repo/bench/private_home.sh" vesk-soak
work="$HOME/work"
mkdir -p "$work"

# "RSS 12.3 MiB, 9 fds" of a pid.
usage() {
  local rss fds
  rss=$(awk '/^VmRSS:/ { printf "%.1f MiB", $2 / 1024 }' "/proc/$1/status")
  fds=$(find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l)
  echo "RSS $rss, $fds fds"
}

report() {  # report <when> <browser pid>
  local server
  server=$(jq -r '.server.pid' "$HOME/.veskapp/state.json")
  echo "  $1: server $(usage "$server"); browser $(usage "$2")"
}

instance_pid() { "$vesk" instance list 2> /dev/null | jq -r '.[0].pid'; }

wait_until_answering() {
  for _ in $(seq 150); do
    "$vesk" tab list > /dev/null 2>&1 && return 0
    sleep 0.2
  done
  echo "the browser never answered" >&2
  exit 1
}

# ---- 1. load through the fake browser -------------------------------------------------
echo "== load: $clients clients x $requests requests through the fake browser"
export FAKE_BROWSER_RECORD_DIR=""
"$vesk" instance start --browser-binary "$build/tests/fake_browser" > /dev/null 2>&1
wait_until_answering
fake=$(instance_pid)
report "start" "$fake"

client() {  # client <n>: sends its requests one after another, counts what came back wrong
  local n=$1 i marker out bad=0
  for i in $(seq "$requests"); do
    marker="c${n}r${i}"
    if ! out=$("$vesk" eval "$marker" 2> /dev/null); then
      bad=$((bad + 1))
    elif [[ $(jq -r '.params.args[0] // empty' <<< "$out") != "$marker" ]]; then
      bad=$((bad + 1))
    fi
  done
  echo "$bad" > "$work/client-$n"
}

started=$(date +%s.%N)
for n in $(seq "$clients"); do client "$n" & done
wait
ended=$(date +%s.%N)
errors=$(cat "$work"/client-* | paste -sd+ | bc)
total=$((clients * requests))
echo "  $total requests in $(printf '%.1f' "$(bc -l <<< "$ended - $started")") s:" \
     "$(printf '%.0f' "$(bc -l <<< "$total / ($ended - $started)")") requests/s, $errors lost or mismatched"
report "end" "$fake"
stop_instances

# ---- 2. soak with real Chromium -------------------------------------------------------
echo "== soak: $commands commands through one instance with real Chromium"
unset FAKE_BROWSER_RECORD_DIR
"$vesk" instance start --headless > /dev/null 2>&1
wait_until_answering
browser=$(instance_pid)
page="file://$repo/tests/fixtures/demo.html"
"$vesk" nav "$page" > /dev/null 2>&1
# Refs are never reused on a tab: each navigation gives the button a new one.
greet_button() { "$vesk" snap -i 2> /dev/null | grep -m1 -F ':button "Greet"' | cut -d: -f1; }
button=$(greet_button)
[[ -n $button ]] || { echo "no Greet button in the demo page's snapshot" >&2; exit 1; }
report "start" "$browser"

failed=0
started=$(date +%s.%N)
for i in $(seq "$commands"); do
  case $((i % 100)) in
    0) if "$vesk" nav "$page" > /dev/null 2>&1; then button=$(greet_button); else failed=$((failed + 1)); fi ;;
    *)
      case $((i % 4)) in
        0) "$vesk" title > /dev/null 2>&1 || failed=$((failed + 1)) ;;
        1) "$vesk" snap -i > /dev/null 2>&1 || failed=$((failed + 1)) ;;
        2) "$vesk" click "$button" > /dev/null 2>&1 || failed=$((failed + 1)) ;;
        3) [[ $("$vesk" eval "$i * 2" 2> /dev/null | jq -r '.value // .result // .') == "$((i * 2))" ]] ||
             failed=$((failed + 1)) ;;
      esac
      ;;
  esac
  if ((i % 1000 == 0)); then
    echo "  after $i commands: $failed failed; $(report now "$browser" | sed 's/^  now: //')"
  fi
done
ended=$(date +%s.%N)
echo "  $commands commands in $(printf '%.1f' "$(bc -l <<< "$ended - $started")") s, $failed failed"
report "end" "$browser"
