#!/usr/bin/env bash
# Installs every Debian package vesk needs to build, test, benchmark and run.
# Idempotent; runs as root on a fresh machine (uses sudo when not root).
set -euo pipefail

packages=(
  build-essential cmake pkg-config g++ make git
  libgtest-dev libgmock-dev libbenchmark-dev hyperfine
  libcli11-dev nlohmann-json3-dev
  chromium ccache
  # libFuzzer targets (fuzz/): Debian's default clang 14 cannot compile libstdc++ 12's
  # <expected>, clang 19 can; its runtime package carries libFuzzer and the sanitizers.
  clang-19 libclang-rt-19-dev
  # Video recording in veskbrowser: the FFmpeg libraries it links.
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  # The Windows build (make windows): the MinGW-w64 cross compiler and Wine to run its tests.
  g++-mingw-w64-x86-64-posix wine64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
