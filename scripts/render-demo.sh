#!/usr/bin/env bash
# The main job: builds Tessera and fxhost, then renders fxhost's built-in clip (10 s,
# 1280x720, 30 fps, moving shapes and a tone) through the plug-in into demo.mp4 (or the
# file given as the first argument). The mosaic covers the middle of the picture: the
# settings are written with tessera-config into a folder of this run's own, which fxhost
# hands to the plug-in with --prefs-dir (the user's saved settings are not touched).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$root/demo.mp4}
"$root/scripts/build.sh"
prefs=$(mktemp -d)
trap 'rm -rf "$prefs"' EXIT
"$build/out/bin/tessera-config" --prefs-dir "$prefs" set --region 0.3,0.2,0.4,0.6 --block 40,60 --opacity 0
"$build/out/bin/fxhost" render -o "$out" -y --prefs-dir "$prefs"
echo "Rendered $out"
