#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer +
# libFuzzer) into build-fuzz/ (or $FUZZ_BUILD_DIR) and runs each one for SECONDS seconds
# (default 60) on a scratch copy of its seed corpus, one after the other.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]
# Exits non-zero if any target finds a crash, a sanitizer report, a leak or a broken promise;
# the reproducer is kept in build-fuzz/findings/<target>/ and the log next to it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
ui=${TESSERA_FUZZ_UI:-ON}

source "$root/scripts/common.sh"
if [ ! -f "$build/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja "${tessera_launcher[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_FUZZ=ON -DTESSERA_SANITIZE=ON \
    -DTESSERA_BUILD_TESTS=OFF -DTESSERA_BUILD_BENCH=OFF -DTESSERA_BUILD_UI="$ui" >/dev/null
fi
ninja -C "$build" -j2 fuzzers >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/fuzz/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi

# Rendering must never need a display; the nib target runs on Qt's offscreen platform.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}

status=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  findings="$build/findings/$t"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  [ -d "$root/fuzz/corpus/$t" ] && cp -r "$root/fuzz/corpus/$t/." "$work/"
  log="$findings/log.txt"
  if "$build/fuzz/$t" -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" >"$log" 2>&1; then
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    echo "$t: ok, $execs executions in ${seconds}s"
  else
    echo "$t: FAILED, see $log"
    grep -m3 -E 'ERROR|broken promise|runtime error' "$log" || true
    status=1
  fi
done
exit $status
