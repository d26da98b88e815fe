#!/usr/bin/env bash
# The test command: installs what is needed, builds everything, runs the whole test suite.
# Extra arguments go to ctest, e.g. -R toolbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure -j2 --timeout 600 "$@"
