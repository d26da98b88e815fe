#!/usr/bin/env bash
# Installs what the build needs, then configures and builds Tessera into build/ (or $BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DTESSERA_SANITIZE=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
# A compiler cache, when there is one, spares recompiling what has not changed (.ci/run lets
# fresh clones share it).
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" "$@" >/dev/null
ninja -C "$build"
