#!/usr/bin/env bash
# vesk.exe under Wine: start a background server through `vesk status`, show it, stop it,
# and check that the server process is gone. Every command is printed before it runs.
#
# Usage: bash scripts/windows-demo.sh [BUILD_DIR]      (BUILD_DIR holds vesk.exe)
set -euo pipefail

build_dir=$(cd "${1:-build-windows}" && pwd)
vesk_exe="$build_dir/vesk.exe"
wine=/usr/lib/wine/wine64
if [[ ! -f $vesk_exe ]]; then
  echo "windows-demo: $vesk_exe is missing; build first (make windows)" >&2
  exit 1
fi

# A private Wine prefix: its LOCALAPPDATA is the demo's own data directory.
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/vesk-wine.XXXXXX)
export WINEDEBUG=-all
cleanup() {
  "$wine" "$vesk_exe" server stop > /dev/null 2>&1 || true
  /usr/lib/wine/wineserver -k 2> /dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

run() {
  echo "+ vesk.exe $*"
  "$wine" "$vesk_exe" "$@"
}

echo "windows-demo: setting up a Wine prefix (about 10 s the first time)"
"$wine" wineboot --init > /dev/null 2>&1 || true
run status
run server stop
echo "windows-demo: done"
