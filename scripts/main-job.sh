#!/usr/bin/env bash
# Sets up, builds and runs the driver from the host's side.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${BUILD_DIR:-build}
"$build_dir/tools/host/tarvel60x-host" "$build_dir/libtarvel60x.so"
