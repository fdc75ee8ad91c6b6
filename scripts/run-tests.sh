#!/usr/bin/env bash
# Sets up, builds and runs every test. Extra arguments go to ctest
# (for example -L concurrency). Environment as for setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${BUILD_DIR:-build}
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" "$@"
