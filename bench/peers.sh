#!/usr/bin/env bash
# vesk against its peers in one run, on the same page and machine, one new process per
# action against a browser that is already running:
#   vesk                      vesk title / click '#btn' / snap -i / ss -o FILE
#   WebDriver                 Debian's chromedriver, driven by curl (click = find + click)
#   Puppeteer, Playwright     puppeteer-core and playwright-core from npm, one node process
#                             per action, attached over the DevTools port of the same
#                             Debian Chromium
#   floors                    /bin/true, curl (chromedriver's /status), node -e 0
# Prints the medians and the ratios vesk/peer, and checks that every click landed (each
# page counts its clicks). Slow; not part of CI.
#
# Usage: bash bench/peers.sh [build-dir]    (VESK_BENCH_RUNS, default 30, runs per action)
# It installs what it lacks: chromium-driver, nodejs, npm and hyperfine with apt-get, the
# two npm packages into ~/.cache/vesk-peers (VESK_PEERS_DIR).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
vesk="$build/vesk"
for program in "$vesk" "$build/veskbrowser"; do
  [[ -x $program ]] || { echo "missing $program: build the vesk and veskbrowser targets" >&2; exit 1; }
done
runs=${VESK_BENCH_RUNS:-30}
warmup=3
chromium=${VESK_CHROMIUM:-/usr/lib/chromium/chromium}
peers_dir=${VESK_PEERS_DIR:-$HOME/.cache/vesk-peers}

# ---- what the peers need ---------------------------------------------------------------
missing=()
command -v chromedriver > /dev/null || missing+=(chromium-driver)
command -v node > /dev/null || missing+=(nodejs)
command -v npm > /dev/null || missing+=(npm)
command -v hyperfine > /dev/null || missing+=(hyperfine)
command -v curl > /dev/null || missing+=(curl)
[[ -x $chromium ]] || missing+=(chromium)
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) == 0 ]] || sudo=sudo
  $sudo apt-get install -y -q "${missing[@]}"
fi
if [[ ! -d $peers_dir/node_modules/playwright-core || ! -d $peers_dir/node_modules/puppeteer-core ]]; then
  mkdir -p "$peers_dir"
  npm install --prefix "$peers_dir" --no-audit --no-fund --silent playwright-core puppeteer-core
fi

# ---- a private HOME, and everything started here stopped by pid ---------------------------
HOME=$(mktemp -d /tmp/vesk-peers.XXXXXX)
export HOME
work=$HOME
unset VESK_SESSION
chromium_pid=""
driver_pid=""
session=""
stop_everything() {
  local id
  [[ -z $session ]] || curl -s -X DELETE "$driver/session/$session" > /dev/null || true
  [[ -z $driver_pid ]] || kill "$driver_pid" 2> /dev/null || true
  # Chromium was started in its own session: its process group is its pid.
  [[ -z $chromium_pid ]] || kill -- "-$chromium_pid" 2> /dev/null || true
  for id in $("$vesk" instance list 2> /dev/null | sed -n 's/.*"id": "\(inst_[a-z0-9]*\)".*/\1/p'); do
    "$vesk" instance stop "$id" > /dev/null 2>&1 || true
  done
  "$vesk" server stop > /dev/null 2>&1 || true
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap stop_everything EXIT

wait_for() {  # wait_for WHAT COMMAND...: up to 30 s
  local what=$1
  shift
  for _ in $(seq 300); do
    "$@" > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "$what never came up" >&2
  exit 1
}

# The page: a title, a few controls, and a button that counts its clicks.
page="$work/page.html"
cat > "$page" << 'HTML'
<!doctype html><html><head><meta charset="utf-8"><title>Peers bench</title></head><body>
<h1>Peers bench</h1>
<p>Clicks: <span id="count">0</span></p>
<button id="btn" onclick="document.getElementById('count').textContent = ++window.clicks">Count</button>
<input id="name" aria-label="Name"> <a href="#more">More</a> <label><input type="checkbox"> Remember</label>
<script>window.clicks = 0;</script>
</body></html>
HTML
url="file://$page"

# vesk: the server and veskbrowser (its Chromium over a pipe).
"$vesk" instance start --headless > /dev/null 2>&1
wait_for "vesk's browser" "$vesk" tab list
"$vesk" nav "$url" > /dev/null

# Puppeteer and Playwright: the same Chromium binary with a DevTools port.
root_flag=()
[[ $(id -u) != 0 ]] || root_flag=(--no-sandbox)
setsid "$chromium" --headless=new --remote-debugging-port=0 --user-data-dir="$work/cdp-profile" \
  --no-first-run --no-default-browser-check --disable-gpu --window-size=1280,800 "${root_flag[@]}" "$url" > "$work/cdp.log" 2>&1 &
chromium_pid=$!
wait_for "Chromium's DevTools port" test -s "$work/cdp-profile/DevToolsActivePort"
cdp="http://127.0.0.1:$(head -1 "$work/cdp-profile/DevToolsActivePort")"

# WebDriver: chromedriver and one session on the page.
driver_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
driver="http://127.0.0.1:$driver_port"
chromedriver --port="$driver_port" > "$work/chromedriver.log" 2>&1 &
driver_pid=$!
wait_for chromedriver curl -sf "$driver/status"
# Every browser gets the window vesk's own starts with, so that screenshots have the same pixels.
args='"--headless=new","--disable-gpu","--window-size=1280,800"'
[[ $(id -u) != 0 ]] || args+=',"--no-sandbox"'
session=$(curl -sf -X POST "$driver/session" -H 'Content-Type: application/json' \
  -d "{\"capabilities\":{\"alwaysMatch\":{\"goog:chromeOptions\":{\"binary\":\"$chromium\",\"args\":[$args]}}}}" |
  python3 -c 'import json, sys; print(json.load(sys.stdin)["value"]["sessionId"])')
curl -sf -X POST "$driver/session/$session/url" -H 'Content-Type: application/json' -d "{\"url\":\"$url\"}" > /dev/null
button_id=$(curl -sf -X POST "$driver/session/$session/element" -H 'Content-Type: application/json' \
  -d '{"using":"css selector","value":"#btn"}' | python3 -c 'import json, sys; print(list(json.load(sys.stdin)["value"].values())[0])')
[[ -n $button_id ]] || { echo "chromedriver did not find the button" >&2; exit 1; }

# One node process per action for the two libraries.
cat > "$work/peer.js" << JS
const [library, action, out] = process.argv.slice(2);
const modules = "$peers_dir/node_modules/";
async function main() {
  let browser, page;
  if (library === "puppeteer") {
    browser = await require(modules + "puppeteer-core").connect({ browserURL: "$cdp", defaultViewport: null });
    page = (await browser.pages()).find((p) => p.url().startsWith("file:"));
  } else {
    browser = await require(modules + "playwright-core").chromium.connectOverCDP("$cdp");
    page = browser.contexts()[0].pages().find((p) => p.url().startsWith("file:"));
  }
  if (action === "title") console.log(await page.title());
  if (action === "click") await page.click("#btn");
  if (action === "snap") console.log(await page.locator("body").ariaSnapshot());
  if (action === "ss") await page.screenshot({ path: out });
  if (action === "count") console.log(await page.evaluate(() => window.clicks));
  if (library === "puppeteer") browser.disconnect(); else await browser.close();
}
main().catch((error) => { console.error(error); process.exit(1); });
JS
node "$work/peer.js" playwright title > /dev/null || { echo "Playwright could not attach to $cdp" >&2; exit 1; }
node "$work/peer.js" puppeteer title > /dev/null || { echo "Puppeteer could not attach to $cdp" >&2; exit 1; }

# ---- the timings ------------------------------------------------------------------------
cat > "$work/wd-click" << SH
#!/bin/sh
# WebDriver's click on a CSS selector: find the element, then click it.
id=\$(curl -sf -X POST "$driver/session/$session/element" -H 'Content-Type: application/json' \
  -d '{"using":"css selector","value":"#btn"}' | sed 's/.*":"\([^"]*\)".*/\1/')
curl -sf -X POST "$driver/session/$session/element/\$id/click" -H 'Content-Type: application/json' -d '{}' > /dev/null
SH
chmod +x "$work/wd-click"

node_js="node $work/peer.js"
hyperfine --shell=none --warmup "$warmup" --runs "$runs" --export-json "$work/results.json" \
  -n floor:true "/bin/true" \
  -n floor:curl "curl -sf -o /dev/null $driver/status" \
  -n "floor:node -e 0" "node -e 0" \
  -n vesk:title "$vesk title" \
  -n vesk:click "$vesk click '#btn'" \
  -n vesk:snap "$vesk snap -i" \
  -n vesk:ss "$vesk ss -o $work/vesk.png" \
  -n webdriver:title "curl -sf -o /dev/null $driver/session/$session/title" \
  -n webdriver:click "$work/wd-click" \
  -n webdriver:ss "curl -sf -o $work/webdriver.json $driver/session/$session/screenshot" \
  -n puppeteer:title "$node_js puppeteer title" \
  -n puppeteer:click "$node_js puppeteer click" \
  -n puppeteer:ss "$node_js puppeteer ss $work/puppeteer.png" \
  -n playwright:title "$node_js playwright title" \
  -n playwright:click "$node_js playwright click" \
  -n playwright:snap "$node_js playwright snap" \
  -n playwright:ss "$node_js playwright ss $work/playwright.png" > "$work/hyperfine.out"

# ---- every click landed -----------------------------------------------------------------
expected=$((runs + warmup))
vesk_clicks=$("$vesk" eval "window.clicks" | python3 -c 'import json, sys; print(json.load(sys.stdin)["value"])')
wd_clicks=$(curl -sf -X POST "$driver/session/$session/execute/sync" -H 'Content-Type: application/json' \
  -d '{"script":"return window.clicks","args":[]}' | python3 -c 'import json, sys; print(json.load(sys.stdin)["value"])')
cdp_clicks=$(node "$work/peer.js" playwright count)
landed=ok
[[ $vesk_clicks == "$expected" ]] || { echo "vesk: $vesk_clicks of $expected clicks landed" >&2; landed=failed; }
[[ $wd_clicks == "$expected" ]] || { echo "WebDriver: $wd_clicks of $expected clicks landed" >&2; landed=failed; }
[[ $cdp_clicks == $((2 * expected)) ]] ||
  { echo "Puppeteer and Playwright: $cdp_clicks of $((2 * expected)) clicks landed" >&2; landed=failed; }

python3 - "$work/results.json" "$landed" << 'PY'
import json, sys
medians = {r["command"]: r["median"] * 1000 for r in json.load(open(sys.argv[1]))["results"]}
actions = [("title", "title"), ("click", "click a CSS selector"), ("snap", "interactive snapshot"),
           ("ss", "screenshot to a file")]
peers = ["webdriver", "puppeteer", "playwright"]
cell = lambda name: f"{medians[name]:8.1f} ms" if name in medians else f"{'':>11}"
print(f"medians, one new process per action (every click landed: {sys.argv[2]})\n")
print(f"{'action':<22}{'vesk':>11}{'WebDriver':>11}{'Puppeteer':>11}{'Playwright':>11}   vesk/peer")
for key, label in actions:
    ratios = [f"{p} {medians['vesk:' + key] / medians[p + ':' + key]:.2f}x"
              for p in peers if p + ":" + key in medians and "vesk:" + key in medians]
    print(f"{label:<22}{cell('vesk:' + key)}" + "".join(cell(p + ":" + key) for p in peers) + "   " + ", ".join(ratios))
print("\nfloors: " + ", ".join(f"{name[6:]} {value:.1f} ms" for name, value in medians.items() if name.startswith("floor:")))
print(f"vesk title / true: {medians['vesk:title'] / medians['floor:true']:.2f}x")
PY
[[ $landed == ok ]]
