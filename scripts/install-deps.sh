#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running Tessera need.
# Safe to run again: apt-get skips what is already there. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libplist-dev nlohmann-json3-dev libopencv-dev libopencv-contrib-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  ffmpeg
  frei0r-plugins-dev frei0r-plugins gstreamer1.0-plugins-bad gstreamer1.0-tools melt
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libqt6uitools6 libqt6svg6 qt6-image-formats-plugins
  libqt6opengl6-dev fonts-dejavu-core
  xvfb xauth xdotool poppler-utils
  # -m32 (the 32-bit layout checks) needs the compiler's multilib half and the i386 kernel
  # headers; the gcc-multilib metapackage would take the PowerPC cross compiler away.
  g++-12-multilib linux-libc-dev:i386
  clang-14 libclang-rt-14-dev libfuzzer-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
