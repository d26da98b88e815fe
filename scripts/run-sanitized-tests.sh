#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer + UndefinedBehaviorSanitizer (and
# LeakSanitizer, which comes with ASan on Linux) into build-asan/ (or $ASAN_BUILD_DIR).
# Any sanitizer report fails the test that caused it: UB stops the process, and a leak makes
# the process exit non-zero at its end. Extra arguments go to ctest, e.g. -R robustness.
# The exhaustive arithmetic sweeps are the plain build's (scripts/common.sh).
# Suppressions are in scripts/lsan.supp (third-party one-time caches only, documented there).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
"$root/scripts/install-deps.sh"
source "$root/scripts/common.sh"
# -O1 with line tables: the usual level for sanitizer builds (reports keep their file and line)
# and half the compile time of -O2 -g.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_SANITIZE=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DTESSERA_BUILD_BENCH=OFF "${tessera_launcher[@]}" >/dev/null
ninja -C "$build" -j2

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
# Each test that needs windows sets Qt's offscreen platform itself; the no-display tests
# need the environment as it is.
cd "$build"
ctest --output-on-failure -j2 --timeout 900 -E "$tessera_sweeps" "$@"
