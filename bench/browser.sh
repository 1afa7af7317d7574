#!/usr/bin/env bash
# Whole-command latency against a real headless Chromium: one `vesk` process per action, all
# on the same running instance. On tests/fixtures/demo.html: `vesk title`, `vesk click <ref>`,
# `vesk snap -i`, `vesk ss`; then `vesk snap -i` on a generated page of 1,000 interactive
# elements, on one of 10,000 within a --max-tokens budget (as loaded, and after a change),
# and on a page of 10 iframes of 100 interactive elements each (with one such frame page
# alone beside it, for the share each frame adds); then `vesk network` on a page served
# over loopback HTTP that made 1,000 requests. Prints the medians next to their goals.
#
# Usage: bench/browser.sh [build-dir]   (needs hyperfine, Chromium, and vesk + veskbrowser built)
set -euo pipefail

source "$(dirname "$0")/real_browser.sh" "${1:-build}"

# Pages of 1,000 and 10,000 interactive elements: buttons, links, text fields and checkboxes.
interactive_page() {  # interactive_page FILE GROUPS-OF-FOUR
  {
    echo '<!doctype html><html><head><meta charset="utf-8"><title>Many elements</title></head><body>'
    for i in $(seq 0 $(($2 - 1))); do
      echo "<div><button id=\"b$i\">Button $i</button> <a href=\"#a$i\">Link $i</a>"
      echo " <input id=\"t$i\" aria-label=\"Field $i\"> <label><input type=\"checkbox\"> Box $i</label></div>"
    done
    echo '</body></html>'
  } > "$1"
}
many="$HOME/many.html"
interactive_page "$many" 250
many10k="$HOME/many10000.html"
interactive_page "$many10k" 2500

# One frame's page of 100 interactive elements, and a page of 10 iframes of it.
frame_page="$HOME/frame100.html"
{
  echo '<!doctype html><html><head><meta charset="utf-8"><title>Frame of 100</title></head><body>'
  for i in $(seq 0 24); do
    echo "<div><button>Button $i</button> <a href=\"#a$i\">Link $i</a>"
    echo " <input aria-label=\"Field $i\"> <label><input type=\"checkbox\"> Box $i</label></div>"
  done
  echo '</body></html>'
} > "$frame_page"
frames_page="$HOME/frames10.html"
{
  echo '<!doctype html><html><head><meta charset="utf-8"><title>Ten frames</title></head><body>'
  for i in $(seq 1 10); do echo "<iframe title=\"Frame $i\" src=\"frame100.html?$i\"></iframe>"; done
  echo '</body></html>'
} > "$frames_page"

"$vesk" nav "file://$repo/tests/fixtures/demo.html" > /dev/null 2>&1
"$vesk" fill '#who' Bench > /dev/null 2>&1
button=$("$vesk" snap -i 2> /dev/null | grep -m1 -F ':button "Greet"' | cut -d: -f1)
[[ -n $button ]] || { echo "no Greet button in the demo page's snapshot" >&2; exit 1; }

echo "== demo page: title, click $button, snap -i, ss ($runs runs each)"
# /bin/true is the floor: what starting any process costs on this machine right now.
hyperfine --shell=none --warmup 5 --min-runs "$runs" --export-json "$results/demo.json" \
  "/bin/true" "$vesk title" "$vesk click $button" "$vesk snap -i" "$vesk ss -o $HOME/bench.png"

"$vesk" nav "file://$many" > /dev/null 2>&1
served_before=$(grep -c "served page.snapshot in" "$log" || true)
listing=$("$vesk" snap -i 2> /dev/null)
nodes=${listing%%$'\n'*}
echo "== generated page: $nodes"
hyperfine --shell=none --warmup 3 --min-runs "$runs" --export-json "$results/many.json" "$vesk snap -i"

# veskbrowser's own time per snapshot of the big page, from its log: the rest is the process
# start of vesk and the trip through the server.
grep "served page.snapshot in" "$log" | tail -n +"$((served_before + 1))" |
  sed -n 's/.*served page.snapshot in \([0-9]*\) ms.*/\1/p' > "$results/served-ms"

"$vesk" nav "file://$many10k" > /dev/null 2>&1
listing=$("$vesk" snap -i --max-tokens 2000 2> /dev/null)
echo "== generated page of 10,000, within 2,000 tokens: ${listing%%$'\n'*}"
hyperfine --shell=none --warmup 2 --min-runs 10 --export-json "$results/many10k.json" "$vesk snap -i --max-tokens 2000"
# The same after the page changed, as it has after every action: Chromium drops what it
# worked out about the page (its lists of labels, for one) at each change.
hyperfine --shell=none --warmup 2 --min-runs 10 --export-json "$results/many10k-changed.json" \
  --prepare "$vesk eval 'document.body.append(document.createElement(\"p\"))'" "$vesk snap -i --max-tokens 2000"

"$vesk" nav "file://$frames_page" > /dev/null 2>&1
for _ in $(seq 100); do
  [[ $("$vesk" snap -i 2> /dev/null | grep -c ':button "Button') -ge 250 ]] && break
  sleep 0.1
done
listing=$("$vesk" snap -i 2> /dev/null)
echo "== 10 frames: ${listing%%$'\n'*} ($(grep -c '^f[0-9]*e' <<< "$listing") in frames)"
hyperfine --shell=none --warmup 3 --min-runs "$runs" --export-json "$results/frames.json" "$vesk snap -i"
"$vesk" nav "file://$frame_page" > /dev/null 2>&1
hyperfine --shell=none --warmup 3 --min-runs "$runs" --export-json "$results/frame.json" "$vesk snap -i"


# A page that fetches 1,000 times from a loopback HTTP server (file:// pages cannot fetch)
# and logs 1,000 console messages.
site="$HOME/site"
mkdir -p "$site"
echo '{"n": 1}' > "$site/data.json"
echo '<!doctype html><title>Many requests</title><script>for (let i = 0; i < 1000; i++) { console.log("message %d of", i, {i}); fetch("data.json?i=" + i); }</script>' \
  > "$site/requests.html"
python3 -u -m http.server --bind 127.0.0.1 --directory "$site" 0 > "$HOME/http.out" 2>&1 &
for _ in $(seq 100); do
  http_port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$HOME/http.out" | head -1)
  [[ -n $http_port ]] && break
  sleep 0.1
done
[[ -n $http_port ]] || { echo "the loopback HTTP server did not start" >&2; cat "$HOME/http.out" >&2; exit 1; }
"$vesk" nav "http://127.0.0.1:$http_port/requests.html" > /dev/null 2>&1
finished_requests() {
  "$vesk" network --filter data.json 2> /dev/null |
    python3 -c 'import json,sys; print(sum(r["state"] == "finished" for r in json.load(sys.stdin)["requests"]))'
}
for _ in $(seq 300); do
  [[ $(finished_requests) -ge 1000 ]] && break
  sleep 0.2
done
echo "== page that made 1,000 requests: $(finished_requests) finished"
hyperfine --shell=none --warmup 3 --min-runs "$runs" --export-json "$results/network.json" "$vesk network" "$vesk console"

# veskbrowser's memory after a page logs 100,000 messages: the console ring keeps the newest
# 1,000, so its resident size must stay near where it was before.
veskbrowser_kib() {
  local pid
  for pid in $(our_pids); do
    if [[ $(cat "/proc/$pid/comm" 2> /dev/null) == veskbrowser ]]; then
      sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status"
    fi
  done
}
echo '<!doctype html><title>Chatty</title><script>for (let i = 0; i < 100000; i++) console.log("chatty message " + i, {i});</script>' \
  > "$site/chatty.html"
rss_before=$(veskbrowser_kib)
"$vesk" nav "http://127.0.0.1:$http_port/chatty.html" > /dev/null 2>&1
# "kept dropped last-text" of the tab's console log.
console_state() {
  "$vesk" console --last 1 2> /dev/null |
    python3 -c 'import json,sys; r=json.load(sys.stdin); print(r["total"], r["dropped"], (r["messages"] or [{"text": ""}])[-1]["text"])'
}
for _ in $(seq 600); do
  [[ $(console_state) == *"chatty message 99999"* ]] && break
  sleep 0.2
done
rss_after=$(veskbrowser_kib)
echo "== 100,000 console messages (kept, dropped, last): $(console_state)"
echo "   veskbrowser resident: ${rss_before} KiB before the page, ${rss_after} KiB after"

python3 - "$results/demo.json" "$results/many.json" "$results/served-ms" "$results/frames.json" "$results/frame.json" \
  "$results/network.json" "$results/many10k.json" "$results/many10k-changed.json" <<'PY'
import json, sys
goals = {"title": 10, "click": 50}
print("\nmedians (one vesk process per run; the machine may be loaded by other work):")
for path, page in zip(sys.argv[1:3], ["demo page", "1,000 elements"]):
    for result in json.load(open(path))["results"]:
        words = result["command"].split()
        action = " ".join([words[0].rsplit("/", 1)[-1]] + [w if not w.startswith("/") else "<file>" for w in words[1:]])
        goal = (goals.get(words[1]) if len(words) > 1 else None) if page == "demo page" else 150
        note = f"  (goal < {goal} ms)" if goal else ""
        print(f"  {page:>15}: {action:<22} median {result['median'] * 1000:7.2f} ms{note}")
served = sorted(int(line) for line in open(sys.argv[3]) if line.strip())
if served:
    print(f"  {'1,000 elements':>15}: {'(inside veskbrowser)':<22} median {served[len(served) // 2]:7.2f} ms")
many10k = json.load(open(sys.argv[7]))["results"][0]["median"] * 1000
print(f"  {'10,000 elements':>15}: {'vesk snap -i (budget)':<22} median {many10k:7.2f} ms  (goal < 500 ms)")
changed = json.load(open(sys.argv[8]))["results"][0]["median"] * 1000
print(f"  {'... changed':>15}: {'vesk snap -i (budget)':<22} median {changed:7.2f} ms  (goal < 500 ms)")
frames = json.load(open(sys.argv[4]))["results"][0]["median"] * 1000
alone = json.load(open(sys.argv[5]))["results"][0]["median"] * 1000
print(f"  {'10 iframes':>15}: {'vesk snap -i':<22} median {frames:7.2f} ms  (goal < 300 ms)")
print(f"  {'one frame page':>15}: {'vesk snap -i':<22} median {alone:7.2f} ms")
print(f"  {'10 iframes':>15}: each frame adds about {(frames - alone) / 10:.2f} ms "
      f"({(frames - alone) / 10 / frames * 100:.1f}% of the total)")
network, console = json.load(open(sys.argv[6]))["results"]
print(f"  {'1,000 requests':>15}: {'vesk network':<22} median {network['median'] * 1000:7.2f} ms  (goal < 30 ms)")
print(f"  {'1,000 messages':>15}: {'vesk console':<22} median {console['median'] * 1000:7.2f} ms  (goal < 30 ms)")
PY
