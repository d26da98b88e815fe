#!/usr/bin/env bash
# tessera.so in ffmpeg against ffmpeg's own pixelize and the stock frei0r pixeliz0r, one run,
# side by side, on the same clip with the same blocks.
#
# The clip: FRAMES frames of 1920x1080 yuv420p (raw, so that decoding costs next to nothing),
# as footage comes. Each command runs REPS times, interleaved, with one filter thread and one
# codec thread, into the null muxer; the figure is the median CPU time (user + system) of the
# ffmpeg process, and the same minus the CPU time of `-vf null` (reading and the rest of
# ffmpeg's work). Blocks: 1% of the frame (19 x 10 pixels at 1920x1080: Tessera's 10
# thousandths truncated, pixelize=w=19:h=10, pixeliz0r's fractions giving 19 x 10).
#   whole:   the whole frame;
#   quarter: the centre quarter (480,270 to 1440,810). Neither pixelize nor pixeliz0r has a
#            region, so they run in split/crop/overlay graphs, the usual way in ffmpeg.
# Every frei0r filter makes ffmpeg convert each frame to RGBA and back; pixelize works on
# the planes as they come.
#
# Usage: bench/frei0r-compare.sh [BUILD_DIR]   (default build; FRAMES=100, REPS=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
plugin=$build/out/lib/frei0r-1/tessera.so
frames=${FRAMES:-100}
reps=${REPS:-3}
[ -e "$plugin" ] || { echo "missing $plugin: build tessera_frei0r first" >&2; exit 1; }
stock=$(for d in /usr/lib/frei0r-1 /usr/lib/*/frei0r-1 /usr/local/lib/frei0r-1; do
          [ -e "$d/pixeliz0r.so" ] && echo "$d/pixeliz0r.so" && break; done || true)
[ -n "$stock" ] || { echo "pixeliz0r.so not found: install frei0r-plugins" >&2; exit 1; }

work=$(mktemp -d /tmp/tessera-frei0r-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/plugins"
cp "$plugin" "$stock" "$work/plugins/"
export FREI0R_PATH=$work/plugins

clip=$work/clip.yuv
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=1920x1080:rate=30" -frames:v "$frames" \
  -pix_fmt yuv420p -f rawvideo "$clip"

# CPU seconds (user + system) of one ffmpeg run with the filter graph $1.
cpu() {
  local t
  t=$( { /usr/bin/time -f '%U %S' ffmpeg -v error -nostdin -threads 1 -filter_threads 1 \
           -filter_complex_threads 1 -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 30 \
           -i "$clip" -filter_complex "$1" -f null - 2>&1 >/dev/null; } | tail -1)
  awk -v t="$t" 'BEGIN { split(t, a, " "); printf "%.3f\n", a[1] + a[2] }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# ffmpeg 5.1 takes frei0r parameters by position: left|top|width|height|blockw|blockh|opacity.
declare -A graph=(
  [null]="null"
  [whole.tessera]="frei0r=tessera:0|0|1|1|0.0105|0.0105|0"
  [whole.pixelize]="pixelize=w=19:h=10"
  [whole.pixeliz0r]="frei0r=pixeliz0r:0.01|0.00944"
  [quarter.tessera]="frei0r=tessera:0.25|0.25|0.5|0.5|0.0105|0.0105|0"
  [quarter.pixelize]="split[a][b];[b]crop=960:540:480:270,pixelize=w=19:h=10[c];[a][c]overlay=480:270"
  [quarter.pixeliz0r]="split[a][b];[b]crop=960:540:480:270,frei0r=pixeliz0r:0.02|0.0189[c];[a][c]overlay=480:270"
)
order=(null whole.tessera whole.pixelize whole.pixeliz0r quarter.tessera quarter.pixelize quarter.pixeliz0r)

echo "machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores;" \
     "$(ffmpeg -hide_banner -version | head -1 | cut -d' ' -f1-3); load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "clip: 1920x1080 yuv420p, $frames frames; $reps runs each, interleaved; CPU seconds, medians"
for ((r = 0; r < reps; r++)); do
  for k in "${order[@]}"; do
    cpu "${graph[$k]}" >> "$work/$k.times"
  done
done
declare -A med
for k in "${order[@]}"; do med[$k]=$(median < "$work/$k.times"); done

printf '\n| region | filter | CPU s | minus -vf null | ms/frame (filter) | vs pixelize | vs pixeliz0r |\n'
printf '|---|---|---|---|---|---|---|\n'
for region in whole quarter; do
  base_px=$(awk -v a="${med[$region.pixelize]}" -v n="${med[null]}" 'BEGIN { print a - n }')
  base_p0=$(awk -v a="${med[$region.pixeliz0r]}" -v n="${med[null]}" 'BEGIN { print a - n }')
  for f in tessera pixelize pixeliz0r; do
    awk -v region="$region" -v f="$f" -v t="${med[$region.$f]}" -v n="${med[null]}" \
        -v px="$base_px" -v p0="$base_p0" -v frames="$frames" 'BEGIN {
      d = t - n; printf "| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n", region, f, t, d,
        1000 * d / frames, (px > 0 ? d / px : 0), (p0 > 0 ? d / p0 : 0) }'
  done
done
echo
echo "(-vf null alone: ${med[null]} s. Ratios are of the CPU time above that baseline.)"
