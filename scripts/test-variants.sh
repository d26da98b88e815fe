#!/usr/bin/env bash
# Builds and tests the two other builds the plug-in ships as, from the same sources:
#   build-i386/  32-bit x86 (g++ -m32, Debian's i386 multiarch libraries), run natively, or
#                under qemu-i386 on a kernel without 32-bit program support;
#   build-i386-emulated/  only the resource files, made by the i386 build's own resource
#                compiler under qemu-i386 (the other build-time-program path of a cross build);
#   build-ppc/   big-endian 32-bit PowerPC (clang with Debian's PowerPC cross libraries),
#                run under qemu-ppc.
#                Debian has no PowerPC libplist or Qt: this build reads no Info.plist and
#                has no dialog, so its tests drive the plug-in's `main` directly.
# Neither builds the dialog (Qt) or fxhost's FFmpeg half; only what the variant tests need.
# The x86-64 build (build/, or build-x86_64/ when there is none) runs the variant tests
# too. The builds hand their saved preferences file and a rendered clip on through one
# folder: x86-64, then i386 (compares with x86-64), then PowerPC (compares with both), then
# i386 once more (reads the PowerPC file).
# Installs what it needs (root or sudo). Extra arguments go to every ctest run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

source "$root/scripts/common.sh"
# Debian's GCC cross compiler conflicts with gcc-multilib (which install-deps.sh wants for
# -m32); clang and the cross libraries do not.
packages=(
  build-essential cmake ninja-build pkg-config ccache googletest
  g++-12-multilib linux-libc-dev:i386 libplist-dev:i386 libgtest-dev:i386 libgmock-dev:i386
  clang-14 libstdc++-12-dev-powerpc-cross libgcc-12-dev-powerpc-cross libc6-dev-powerpc-cross
  binutils-powerpc-linux-gnu qemu-user
)
tessera_apt_install with_i386 "${packages[@]}" >/dev/null
lean=(-G Ninja -DTESSERA_BUILD_UI=OFF -DTESSERA_BUILD_BENCH=OFF -DFXHOST_BUILD_MEDIA=OFF "${tessera_launcher[@]}")

exchange=$(mktemp -d "${TMPDIR:-/tmp}/tessera-variants-XXXXXX")
trap 'rm -rf "$exchange"' EXIT
export TESSERA_VARIANT_EXCHANGE=$exchange
run_ctest() { # build dir, ctest arguments...
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300 "$@"
}

echo "== x86-64"
native=${BUILD_DIR:-$root/build}
if [ ! -f "$native/CMakeCache.txt" ]; then
  native=$root/build-x86_64
  cmake -S . -B "$native" "${lean[@]}" >/dev/null
fi
ninja -C "$native" tessera_variant_tests rezc
TESSERA_VARIANT_EXPECT="" run_ctest "$native" -R '^variant\.' "$@"
# The cross builds run their build-time programs (the resource compiler) from this one.
host_tools=(-DTESSERA_HOST_TOOLS_DIR="$native/out/bin")

echo "== i386 (at ${SECONDS}s)"
cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux-gnu.cmake "${lean[@]}" \
  "${host_tools[@]}" >/dev/null
ninja -C build-i386 toolbox_core_tests tessera_unit_tests tessera_bundle tessera_bundle_tests \
  fxhost_core_tests tessera_variant_tests tessera_resources
TESSERA_VARIANT_EXPECT="x86_64" run_ctest build-i386 \
  -R '^(interface\.|toolbox\.core\.|tessera\.(unit|bundle)\.|tessera\.(exports|layout32)$|fxhost\.core\.|variant\.)' \
  -E "$tessera_sweeps" "$@"

# The other way a cross build gets its build-time programs, forced even where the kernel runs
# i386 programs: its own, under qemu-i386. Both ways must make the same resource files.
echo "== i386 build-time programs under qemu-i386 (at ${SECONDS}s)"
cmake -S . -B build-i386-emulated -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux-gnu.cmake \
  -DTESSERA_I386_EMULATOR=ON -DTESSERA_BUILD_TESTS=OFF "${lean[@]}" >/dev/null
ninja -C build-i386-emulated tessera_resources
for rsrc in Tessera.bundle/Contents/Resources/Tessera.rsrc \
  TesseraMotion.bundle/Contents/Resources/TesseraMotion.rsrc; do
  cmp "build-i386/out/bin/$rsrc" "build-i386-emulated/out/bin/$rsrc"
done

echo "== PowerPC (at ${SECONDS}s)"
cmake -S . -B build-ppc -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake "${lean[@]}" \
  "${host_tools[@]}" >/dev/null
ninja -C build-ppc toolbox_core_tests tessera_unit_tests fxhost_core_tests tessera_variant_tests \
  ppc_mffs_shim
# Without Info.plist there are no bundles: the bundle tests of the toolbox and fxhost's
# session tests (which load bundles) are left to the other builds. Debian's PowerPC libc has
# no iconv modules, so texts beyond ASCII (Mac Roman conversions, such file names) are too.
# qemu-ppc passes QEMU_SET_ENV on to the program: the stand-in for mffscrni (see the shim).
QEMU_SET_ENV=LD_PRELOAD=$root/build-ppc/out/lib/libppc_mffs_shim.so \
TESSERA_VARIANT_EXPECT="x86_64 i386" run_ctest build-ppc \
  -R '^(toolbox\.core\.|tessera\.unit\.|fxhost\.core\.(GeneratedFrameSource|Blend)|variant\.)' \
  -E "CFBundle|MacRoman|$tessera_sweeps" "$@"

echo "== i386 with the PowerPC files (at ${SECONDS}s)"
TESSERA_VARIANT_EXPECT="x86_64 ppc" run_ctest build-i386 -R '^variant\.VariantPrefs\.' "$@"
echo "== all variants passed in ${SECONDS}s"
