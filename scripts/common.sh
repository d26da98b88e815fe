# Sourced by the build and test scripts: what they share.

# The compiler cache, when there is one, for every build (.ci/run lets fresh clones share it).
tessera_launcher=()
if command -v ccache >/dev/null; then
  tessera_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# The exhaustive sweeps (hundreds of millions of blends and block passes, and their reruns at
# each x86 vector level) check arithmetic, which neither a sanitizer nor another processor's
# build changes for the x86 code: the plain build runs them once, every other build leaves
# them out (under a sanitizer or an emulator they take minutes each). The block pass's
# exactness sweep over wide frames stays in every build.
tessera_sweeps='CGBlendExactness|BlendExactness\.(portable|sse2|avx2)$|BlockPassExactness\.(portable|sse2|avx2)$'

# Installs the Debian packages named that are not installed yet (root, or sudo). A mirror
# part-way through a sync serves index files that fail their checks, and apt-get update then
# fails although nothing is wrong here: it is tried again a little later, and in the end the
# install goes on with the indexes that did arrive (apt-get install says plainly if a package
# is not in them). Adds the i386 architecture first when `with_i386` is the first argument.
tessera_apt_install() {
  local sudo="" add_i386=0 try p
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if [ "${1:-}" = with_i386 ]; then add_i386=1; shift; fi
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  export DEBIAN_FRONTEND=noninteractive
  if [ $add_i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # Another apt (an unattended upgrade, a second build) may hold the lock: wait for it.
  local wait=(-o Acquire::Retries=3 -o DPkg::Lock::Timeout=300)
  for try in 1 2 3; do
    $sudo apt-get "${wait[@]}" update -qq && break
    echo "apt-get update failed (try $try of 3)" >&2
    [ "$try" -lt 3 ] && sleep $((try * 10))
  done
  local pinned=()
  mapfile -t pinned < <(tessera_i386_pins "${missing[@]}")
  $sudo apt-get "${wait[@]}" install -y -qq --no-install-recommends --allow-downgrades \
    "${missing[@]}" "${pinned[@]}"
}

# A package installed for both architectures must be the same version in both. When the
# i386 indexes lag (a security update whose i386 index did not arrive), the i386 half of an
# installed package may not exist at the installed version; apt's answer would be to remove
# the installed one. Instead the installed one is moved to the version that both have.
# Prints "NAME=VERSION" for each such package among the arguments.
tessera_i386_pins() {
  local p base have want
  for p in "$@"; do
    [ "${p%:i386}" != "$p" ] || continue
    base=${p%:i386}
    have=$(dpkg-query -W -f='${Version}' "$base:amd64" 2>/dev/null) || continue
    [ -n "$have" ] || continue
    apt-cache madison "$p" | awk -v v="$have" '$3 == v { found = 1 } END { exit !found }' && continue
    want=$(apt-cache policy "$p" | awk '/Candidate:/ { print $2 }')
    if [ -n "$want" ] && [ "$want" != "(none)" ]; then
      echo "note: $base goes from $have to $want, the version its i386 half has" >&2
      echo "$base:amd64=$want"
    fi
  done
}
