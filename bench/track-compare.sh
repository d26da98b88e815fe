#!/usr/bin/env bash
# render --track against a static render, measured side by side in one run.
#
# A generated 1920x1080 clip (FRAMES frames, 30 fps, no sound); a track that holds, on every
# frame, the same quarter-frame region that the static render is given through
# tessera-config. Each command runs REPS times, interleaved; the median wall times and their
# ratio (track / static) are printed. Both encode with libx264 at its defaults.
#
# Usage: bench/track-compare.sh [BUILD_DIR]   (default: build; FRAMES=150, REPS=5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
fxhost=$build/out/bin/fxhost
config=$build/out/bin/tessera-config
frames=${FRAMES:-150}
reps=${REPS:-5}
for f in "$fxhost" "$config" "$build/out/lib/frei0r-1/tessera.so"; do
  [ -e "$f" ] || { echo "missing $f: build fxhost, tessera-config and tessera_frei0r" >&2; exit 1; }
done
work=$(mktemp -d /tmp/tessera-track-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

ffmpeg -v error -nostdin -y -f lavfi -i "testsrc2=size=1920x1080:rate=30" -frames:v "$frames" \
  -c:v ffv1 "$work/in.mkv"
"$config" --prefs-dir "$work/prefs" set --region 0.25,0.25,0.5,0.5 --block 20,20 --opacity 0 \
  >/dev/null
python3 - "$work/track.json" "$frames" <<'PY'
import json, sys
path, n = sys.argv[1], int(sys.argv[2])
frames = [{"index": i, "time": i / 30, "regions": [{"id": 1, "rect": [0.25, 0.25, 0.5, 0.5]}]}
          for i in range(n)]
json.dump({"format": "tessera-track", "version": 1,
           "clip": {"frames": n, "width": 1920, "height": 1080, "rate": [30, 1]},
           "frames": frames}, open(path, "w"))
PY

seconds() { # wall time of a command, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

static=() track=()
for ((i = 0; i < reps; i++)); do
  static+=("$(seconds "$fxhost" render "$work/in.mkv" -o "$work/static.mp4" -y -an --quiet \
                --prefs-dir "$work/prefs")")
  track+=("$(seconds "$fxhost" render "$work/in.mkv" -o "$work/track.mp4" -y -an --quiet \
               --track "$work/track.json" --block 20,20)")
done
s=$(printf '%s\n' "${static[@]}" | median)
t=$(printf '%s\n' "${track[@]}" | median)
printf 'render, 1920x1080, %d frames, median of %d: static %.2f s, --track %.2f s, ratio %.3f\n' \
  "$frames" "$reps" "$s" "$t" "$(echo "$t / $s" | bc -l)"
