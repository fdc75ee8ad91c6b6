#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root) and builds the project.
# Environment: BUILD_DIR (default build), T60_SANITIZE (empty, address, thread).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ binutils libgtest-dev libgmock-dev libbluetooth-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DT60_SANITIZE="${T60_SANITIZE:-}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
