// CpuLevel.h - the widest instruction set that vector kernels may use in this process.
//
// Owns: the one detection of the processor's vector units for the toolbox, the plug-in's
// engine and the host. Promises: the level is found once per process and never changes after;
// it is what the processor runs, capped by TESSERA_VECTOR in the environment ("portable",
// "sse2", "avx2" or "avx512"; anything else caps nothing), so that every level can be tested
// on one machine. A build for a processor other than x86 is always at Portable.
#pragma once

namespace toolbox {

enum class CpuLevel { Portable, SSE2, AVX2, AVX512 };

CpuLevel CurrentCpuLevel();

} // namespace toolbox
