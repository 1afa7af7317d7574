#!/usr/bin/env bash
# The main job. Until the browser commands exist it shows the command language.
set -euo pipefail
build_dir=${1:-build}
"$build_dir/vesk" --help
