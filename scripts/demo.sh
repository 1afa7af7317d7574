#!/usr/bin/env bash
# The main job: drive a real headless Chromium through vesk and veskbrowser on a page shipped
# in the repository. Start an instance, navigate, list the page's interactive elements,
# fill and click by ref, read the result, save a screenshot and a PDF, then stop the
# instance and the server, leaving no process behind.
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
repo_dir=$(cd "$(dirname "$0")/.." && pwd)
vesk="$build_dir/vesk"
page="file://$repo_dir/tests/fixtures/form.html"

# A private data directory, so the demo never touches the user's instances.
demo_home=$(mktemp -d)
export HOME="$demo_home"
unset LOCALAPPDATA USERPROFILE
out_dir="$demo_home/out"
mkdir -p "$out_dir"
cd "$demo_home"

cleanup() {
  for id in $("$vesk" instance list 2>/dev/null | sed -n 's/.*"id": "\(inst_[a-z0-9]*\)".*/\1/p'); do
    "$vesk" instance stop "$id" >/dev/null 2>&1 || true
  done
  "$vesk" server stop >/dev/null 2>&1 || true
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }

step "vesk instance start"
"$vesk" instance start 2>/dev/null
step "vesk nav $page"
"$vesk" nav "$page" 2>/dev/null
step "vesk snap -i"
listing=$("$vesk" snap -i 2>/dev/null)
printf '%s\n' "$listing"
ref_of() { printf '%s\n' "$listing" | sed -n "s/^\(e[0-9]*\):$1 \"$2\"$/\1/p" | head -n1; }
name_ref=$(ref_of textbox Name)
save_ref=$(ref_of button Save)
step "vesk fill $name_ref Ada"
"$vesk" fill "$name_ref" Ada 2>/dev/null
step "vesk click $save_ref"
"$vesk" click "$save_ref" 2>/dev/null
step "vesk text '#result'"
"$vesk" text '#result' 2>/dev/null
step "vesk ss -o $out_dir/form.png"
"$vesk" ss -o "$out_dir/form.png" 2>/dev/null
step "vesk pdf -o $out_dir/form.pdf"
"$vesk" pdf -o "$out_dir/form.pdf" 2>/dev/null
step "vesk instance stop"
cleanup
trap - EXIT
if pgrep -f -- "--user-data-dir=$demo_home/" >/dev/null; then
  echo "demo: a browser process outlived its instance" >&2
  exit 1
fi
echo
echo "demo: done; screenshot and PDF are in $out_dir"
