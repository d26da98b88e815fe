#!/usr/bin/env bash
# The performance comparison, in one run, written into docs/performance.md.
#
# 1. tessera_bench: the block pass, the opacity step, the whole frame call through `main`
#    (without and in a fade) and FFmpeg's pixelize through libavfilter (planar RGB and
#    from packed ARGB), at 720x480, 1920x1080 and 3840x2160, blocks of 1%, 5% and 25%, a
#    full-frame and a quarter-frame region; medians of repetitions as ratios to memcpy of
#    the same frame measured in the same run.
# 2. End to end on a generated 1920x1080 clip (FRAMES frames, 30 fps, with sound), each
#    command REPS times, interleaved, median wall time:
#      - fxhost render (Tessera, whole frame, blocks of 1%) against
#        ffmpeg -vf pixelize=w=19:h=10, both libx264 at its defaults, yuv420p, AAC;
#      - fxhost render with a quarter-frame region against ffmpeg's region graph in RGB
#        (crop, pixelize and overlay on gbrp).
# The results replace the part of docs/performance.md between its results markers, with
# the machine, the date and the load.
#
# Usage: bench/compare.sh [BUILD_DIR]   (default: build-perf, a Release build; FRAMES=150,
#        REPS=3, BENCH_ARGS to pass more options to tessera_bench, NO_DOC=1 to only print,
#        E2E_ONLY=1 to run only part 2 (implies NO_DOC), BEFORE=OTHER_BUILD_DIR to time that
#        build's fxhost too, interleaved in the same runs, for a before/after comparison)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$root/build-perf}}
bench=$build/out/bin/tessera_bench
fxhost=$build/out/bin/fxhost
bundle=$build/out/bin/Tessera.bundle
frames=${FRAMES:-150}
reps=${REPS:-3}
doc=$root/docs/performance.md
for f in "$bench" "$fxhost" "$bundle/Contents/Info.plist"; do
  [ -e "$f" ] || { echo "missing $f: build tessera_bench, fxhost and tessera_bundle first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/tessera-compare-XXXXXX)
trap 'rm -rf "$work"' EXIT

machine() {
  local cpu cores caches
  cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
  cores=$(nproc)
  caches=$(lscpu | sed -n 's/^\(L[123][a-z]* cache\): *\(.*\)/\1 \2/p' | paste -sd ';' -)
  caches=${caches:-cache sizes not reported by lscpu}
  echo "- machine: $cpu, $cores cores ($caches), $(free -g | awk '/Mem:/{print $2}') GB;" \
       "$(uname -sr); vector level chosen at run time: $(vector_level)"
  echo "- ffmpeg: $(ffmpeg -hide_banner -version | head -1 | cut -d' ' -f1-3)," \
       "compiler: $(c++ --version | head -1)"
  echo "- run: $(date -u '+%Y-%m-%d %H:%M UTC'), load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
}
vector_level() {
  if grep -qw avx512bw /proc/cpuinfo; then echo AVX-512BW
  elif grep -qw avx2 /proc/cpuinfo; then echo AVX2
  else echo SSE2; fi
}

header=$(machine)
if [ -n "${E2E_ONLY:-}" ]; then
  NO_DOC=1
  echo "$header"
else
  echo "== tessera_bench (this takes a few minutes)"
  # shellcheck disable=SC2086
  TESSERA_BENCH_MARKDOWN=$work/table.md "$bench" --benchmark_repetitions=5 \
    --benchmark_min_time=0.1 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true ${BENCH_ARGS:-} \
    | tee "$work/bench.txt" | sed -n '/^Median CPU time/,$p'
fi
before=${BEFORE:-}
if [ -n "$before" ]; then
  for f in "$before/out/bin/fxhost" "$before/out/bin/Tessera.bundle/Contents/Info.plist"; do
    [ -e "$f" ] || { echo "missing $f (BEFORE)" >&2; exit 1; }
  done
fi

echo "== end to end, $frames frames of 1920x1080, $reps runs each"
secs=$(awk -v f="$frames" 'BEGIN { printf "%.3f", f / 30 }')
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=1920x1080:r=30:d=$secs" \
  -f lavfi -i "sine=f=440:r=48000:d=$secs" -c:v libx264 -preset veryfast -crf 18 \
  -pix_fmt yuv420p -c:a aac "$work/in.mp4"

# Tessera's saved configurations for the two regions, blocks of 1% (19 x 10 pixels here).
for region in full quarter; do
  mkdir -p "$work/config-$region"
  XDG_CONFIG_HOME=$work/config-$region "$bench" --save-config 10,$region
done

wall() { # wall LABEL CMD... -> appends the wall time in seconds to $work/LABEL.times
  local label=$1; shift
  /usr/bin/time -f '%e' -o "$work/time.txt" "$@" >/dev/null 2>"$work/$label.err" || {
    echo "$label failed:" >&2; cat "$work/$label.err" >&2; exit 1; }
  cat "$work/time.txt" >> "$work/$label.times"
}
median() { sort -n "$work/$1.times" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

crop="crop=960:540:480:270,pixelize=w=19:h=10"
for ((i = 1; i <= reps; i++)); do
  XDG_CONFIG_HOME=$work/config-full wall fx_full \
    "$fxhost" render "$work/in.mp4" -o "$work/fx.mp4" -y --quiet --plugin "$bundle"
  if [ -n "$before" ]; then
    XDG_CONFIG_HOME=$work/config-full wall before_full "$before/out/bin/fxhost" render \
      "$work/in.mp4" -o "$work/fxb.mp4" -y --quiet --plugin "$before/out/bin/Tessera.bundle"
  fi
  wall ff_full ffmpeg -nostdin -v error -y -i "$work/in.mp4" -vf pixelize=w=19:h=10 \
    -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/ff.mp4"
  XDG_CONFIG_HOME=$work/config-quarter wall fx_quarter \
    "$fxhost" render "$work/in.mp4" -o "$work/fxq.mp4" -y --quiet --plugin "$bundle"
  if [ -n "$before" ]; then
    XDG_CONFIG_HOME=$work/config-quarter wall before_quarter "$before/out/bin/fxhost" render \
      "$work/in.mp4" -o "$work/fxbq.mp4" -y --quiet --plugin "$before/out/bin/Tessera.bundle"
  fi
  wall ff_quarter ffmpeg -nostdin -v error -y -i "$work/in.mp4" -filter_complex \
    "[0:v]format=gbrp,split[a][b];[b]$crop[p];[a][p]overlay=480:270:format=gbrp,format=yuv420p[v]" \
    -map "[v]" -map 0:a -c:v libx264 -c:a aac "$work/ffq.mp4"
done
fxf=$(median fx_full) fff=$(median ff_full) fxq=$(median fx_quarter) ffq=$(median ff_quarter)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
e2e=$(cat <<EOF
| end to end, $frames frames 1920x1080, libx264 defaults | median wall (s) | ratio fxhost / ffmpeg |
|---|---|---|
| fxhost render, whole frame, blocks 19x10 | $fxf | $(ratio "$fxf" "$fff") |
| ffmpeg -vf pixelize=w=19:h=10 | $fff | |
| fxhost render, quarter-frame region | $fxq | $(ratio "$fxq" "$ffq") |
| ffmpeg crop + pixelize + overlay (gbrp) | $ffq | |
EOF
)
if [ -n "$before" ]; then
  bf=$(median before_full) bq=$(median before_quarter)
  e2e="$e2e
| fxhost before ($before), whole frame | $bf | $(ratio "$bf" "$fff") |
| fxhost before ($before), quarter-frame region | $bq | $(ratio "$bq" "$ffq") |"
fi
echo "$e2e"

[ -n "${NO_DOC:-}" ] && exit 0
{
  echo "<!-- results:begin (written by bench/compare.sh; do not edit by hand) -->"
  echo
  echo "$header"
  echo "- command: \`bench/compare.sh $build\` (FRAMES=$frames, REPS=$reps)"
  echo
  echo "Median CPU time of each contender as a ratio to one memcpy of the same frame in the"
  echo "same run (5 repetitions; opacity: the opacity step alone at 50%):"
  echo
  cat "$work/table.md"
  echo
  echo "$e2e"
  echo
  echo "<!-- results:end -->"
} > "$work/results.md"
if [ -f "$doc" ] && grep -q '<!-- results:begin' "$doc"; then
  awk -v file="$work/results.md" '
    /<!-- results:begin/ { while ((getline line < file) > 0) print line; skip = 1; next }
    /<!-- results:end/ { skip = 0; next }
    !skip { print }' "$doc" > "$work/doc.md"
  cp "$work/doc.md" "$doc"
else
  cat "$work/results.md" >> "$doc"
fi
echo "== written into $doc"
