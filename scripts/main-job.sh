#!/usr/bin/env bash
# Sets up, builds and runs a whole RFID session from the host's side: the
# driver library loaded like the platform loads it, against the emulated
# reader on a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${BUILD_DIR:-build}
"$build_dir/tools/host/tarvel60x-host" "$build_dir/libtarvel60x.so"
echo
"$build_dir/tools/demo/tarvel60x-demo" "$build_dir/libtarvel60x.so"
