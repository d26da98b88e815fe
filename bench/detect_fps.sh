#!/usr/bin/env bash
# Speed of `fxhost detect --faces`: frames per second at 720p and 1080p, searching every
# frame or every 5th (the default), on frames downscaled to 640 wide (the default) or at the
# clip's own size, and with --small-faces; decoding and following included. Each clip is
# 90 frames of two faces from OpenCV's sample film (Debian's opencv-doc) moving over one of
# its photographs. The figures are frames over wall time (the machine's other load counts
# against them) and over CPU time.
#   bench/detect_fps.sh [BUILD_DIR]
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
fxhost=$build/out/bin/fxhost
data=/usr/share/doc/opencv-doc/examples/data
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '%-6s %-6s %-9s %-6s %10s %10s %6s\n' size every analysis tiles "fps(wall)" "fps(cpu)" faces
for size in 1280x720 1920x1080; do
  clip=$tmp/$size.mkv
  w=${size%x*} h=${size#*x}
  ffmpeg -nostdin -v error -y -i "$data/Megamind.avi" -loop 1 -i "$data/fruits.jpg" \
    -filter_complex "[0:v]select='eq(n,230)',crop=288:288:245:136,scale=$((h / 3)):-1,loop=loop=-1:size=1,setpts=N/30/TB,split[a][b];
      [1:v]scale=$size,fps=30[bg];[bg][a]overlay=x='40+8*n':y='$((h / 5))'[m];
      [m][b]overlay=x='$((w * 2 / 3))-4*n':y='$((h / 2))+2*n'" -an -frames:v 90 -c:v libx264 -crf 18 "$clip"
  for every in 1 5; do
    for width in 640 0; do
      for tiles in "" --small-faces; do
        [ -n "$tiles" ] && [ "$width" = 0 ] && [ "$h" = 1080 ] && continue
        start=$(date +%s.%N)
        set +e
        /usr/bin/time -f '%U %S' -o "$tmp/time" "$fxhost" detect "$clip" --faces --every $every \
          --analysis-width $width $tiles --quiet -y -o "$tmp/t.json"
        status=$?
        set -e
        end=$(date +%s.%N)
        read -r user sys < <(tail -n 1 "$tmp/time") # after "Command exited with non-zero status" when there is one
        faces=$(grep -o '"id": [0-9]*' "$tmp/t.json" | sort -u | wc -l)
        awk -v s="${h}p" -v e=$every -v w=$width -v t="${tiles:+yes}" -v a="$start" -v b="$end" \
            -v u="$user" -v y="$sys" -v f="$faces" -v st=$status 'BEGIN {
          printf "%-6s %-6s %-9s %-6s %10.1f %10.1f %6s\n", s, e, (w ? w " wide" : "full"),
                 (t ? t : "no"), 90 / (b - a), 90 / (u + y), f (st == 9 || st == 0 ? "" : " (exit " st ")") }'
      done
    done
  done
done
