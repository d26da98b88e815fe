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
