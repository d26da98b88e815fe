#!/usr/bin/env bash
# fxhost against the ffmpeg command line, in one run.
#
# Renders the same 1920x1080 clip (300 frames, 30 fps, with sound) twice: with
# `fxhost render` through Tessera (default configuration: the whole frame in blocks of
# 10/1000 of its width and height, i.e. 19x10 pixels) and with `ffmpeg -vf pixelize` at the
# same block size; both encode with libx264 at its defaults into yuv420p and AAC. Prints
# each one's wall time and peak memory and the ratio fxhost/ffmpeg, then fxhost's peak
# memory for 300 and for 3000 frames of the same picture.
#
# Usage: bench/fxhost_vs_ffmpeg.sh [BUILD_DIR]   (default: build; LONG_FRAMES=3000, ROUNDS=2)
# Targets: fxhost within 1.25x of ffmpeg's wall time; peak memory within 10% between the
# short and the long clip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build}}
fxhost=$build/out/bin/fxhost
bundle=$build/out/bin/Tessera.bundle
long=${LONG_FRAMES:-3000}
for f in "$fxhost" "$bundle/Contents/Info.plist"; do
  [ -e "$f" ] || { echo "missing $f: build the fxhost and tessera_bundle targets first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/fxhost-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config # Tessera's defaults, not someone's saved settings
mkdir -p "$XDG_CONFIG_HOME"

clip() { # clip FRAMES FILE
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=1920x1080:r=30:d=$(( $1 / 30 ))" \
    -f lavfi -i "sine=f=440:r=48000:d=$(( $1 / 30 ))" -c:v libx264 -preset veryfast -crf 18 \
    -pix_fmt yuv420p -c:a aac "$2"
}

# measure LABEL CMD...: wall seconds, peak resident set (kB) and CPU seconds (user + system)
# into $wall, $peak and $cpu. CPU time is steadier than wall time on a shared machine.
measure() {
  local label=$1; shift
  /usr/bin/time -f '%e %M %U %S' -o "$work/time.txt" "$@" >/dev/null 2>"$work/$label.err" || {
    echo "$label failed:" >&2; cat "$work/$label.err" >&2; exit 1; }
  read -r wall peak user sys < "$work/time.txt"
  cpu=$(echo "$user + $sys" | bc -l)
}

echo "generating the clips (1920x1080, 300 and $long frames)..."
clip 300 "$work/in300.mp4"
clip "$long" "$work/inlong.mp4"

# The two 300-frame renders alternate, ROUNDS times (default 2), and each keeps its best
# round, so that a burst of load from elsewhere does not decide the ratio.
rounds=${ROUNDS:-2}
fx_wall=999999 ff_wall=999999
for _ in $(seq "$rounds"); do
  measure fxhost "$fxhost" render "$work/in300.mp4" -o "$work/fx.mp4" -y --quiet --plugin "$bundle"
  if (( $(echo "$wall < $fx_wall" | bc -l) )); then fx_wall=$wall fx_peak=$peak fx_cpu=$cpu; fi
  measure ffmpeg ffmpeg -nostdin -v error -y -i "$work/in300.mp4" -vf pixelize=w=19:h=10 \
    -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/ff.mp4"
  if (( $(echo "$wall < $ff_wall" | bc -l) )); then ff_wall=$wall ff_peak=$peak ff_cpu=$cpu; fi
done
measure fxhost-long "$fxhost" render "$work/inlong.mp4" -o "$work/fxlong.mp4" -y --quiet --plugin "$bundle"
long_wall=$wall long_peak=$peak long_cpu=$cpu

printf '%-28s %10s %10s %14s\n' "" "wall (s)" "CPU (s)" "peak RSS (MB)"
printf '%-28s %10.2f %10.2f %14.1f\n' "fxhost render, 300 frames" "$fx_wall" "$fx_cpu" "$(echo "$fx_peak/1024" | bc -l)"
printf '%-28s %10.2f %10.2f %14.1f\n' "ffmpeg pixelize, 300 frames" "$ff_wall" "$ff_cpu" "$(echo "$ff_peak/1024" | bc -l)"
printf '%-28s %10.2f %10.2f %14.1f\n' "fxhost render, $long frames" "$long_wall" "$long_cpu" "$(echo "$long_peak/1024" | bc -l)"
ratio=$(echo "$fx_wall / $ff_wall" | bc -l)
growth=$(echo "($long_peak - $fx_peak) * 100 / $fx_peak" | bc -l)
printf 'wall-time ratio fxhost/ffmpeg: %.2f (target <= 1.25); CPU-time ratio %.2f\n' \
  "$ratio" "$(echo "$fx_cpu / $ff_cpu" | bc -l)"
printf 'fxhost peak memory, %s vs 300 frames: %+.1f%% (target within 10%%)\n' "$long" "$growth"
