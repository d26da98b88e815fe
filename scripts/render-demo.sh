#!/usr/bin/env bash
# The main job: builds Tessera and fxhost, then renders fxhost's built-in clip (10 s,
# 1280x720, 30 fps, moving shapes and a tone) through the plug-in into demo.mp4 (or the
# file given as the first argument).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$root/demo.mp4}
"$root/scripts/build.sh"
"$build/out/bin/fxhost" render -o "$out" -y
echo "Rendered $out"
