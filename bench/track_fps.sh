#!/usr/bin/env bash
# Tracking speed of `fxhost track`: frames per second at 720p and 1080p, CSRT and KCF, on
# frames downscaled to 640 wide (the default) and at the clip's own size, decoding included.
# Each clip is 90 frames of a patch gliding over a moving test pattern; the figures are
# frames over wall time (the machine's other load counts against them) and over CPU time.
#   bench/track_fps.sh [BUILD_DIR]
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
fxhost=$build/out/bin/fxhost
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '%-6s %-5s %-9s %10s %10s %8s\n' size tracker analysis "fps(wall)" "fps(cpu)" review
for size in 1280x720 1920x1080; do
  clip=$tmp/$size.mkv
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=$size:r=30:d=3" \
    -f lavfi -i "mandelbrot=s=160x160:r=30" -filter_complex \
    "[0][1]overlay=x='100+6*n':y='200+2*n':shortest=1" -c:v libx264 -crf 18 "$clip"
  h=${size#*x}
  for tracker in csrt kcf; do
    for width in 640 0; do
      start=$(date +%s.%N)
      cpu0=$(awk '{print $14+$15+$16+$17}' /proc/$$/stat)
      set +e
      /usr/bin/time -f '%U %S' -o "$tmp/time" "$fxhost" track "$clip" --region 0.05,0.18,0.083,0.148 \
        --tracker $tracker --analysis-width $width --quiet -y -o "$tmp/t.json"
      status=$?
      set -e
      end=$(date +%s.%N)
      read -r user sys < <(tail -n 1 "$tmp/time") # after "Command exited with non-zero status" when there is one
      review=$(grep -c '"review": true' "$tmp/t.json" || true)
      awk -v s="${h}p" -v t=$tracker -v w=$width -v a="$start" -v b="$end" -v u="$user" \
          -v y="$sys" -v r="$review" -v st=$status 'BEGIN {
        printf "%-6s %-5s %-9s %10.1f %10.1f %8s\n", s, t, (w ? w " wide" : "full"),
               90 / (b - a), 90 / (u + y), r (st == 9 || st == 0 ? "" : " (exit " st ")") }'
    done
  done
done
