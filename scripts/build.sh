#!/usr/bin/env bash
# Installs what the build needs, then configures and builds Tessera into build/ (or $BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DTESSERA_SANITIZE=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
source "$root/scripts/common.sh"
cmake -S "$root" -B "$build" -G Ninja "${tessera_launcher[@]}" "$@" >/dev/null
ninja -C "$build"
