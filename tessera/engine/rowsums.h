// rowsums.h - the block pass's column sums, one implementation per instruction set.
//
// Owns: SumRows kernels and the choice among them. Promises: every kernel gives exactly
// what SumRowsPortable gives (integer sums are exact whatever their order); ChooseSumRows
// gives the kernel of the process's vector level (the toolbox's CpuLevel.h: the widest this
// processor runs, no wider than TESSERA_VECTOR allows). The x86 kernels exist only in x86
// builds; each is compiled for its own instruction set alone, so nothing wider runs on a
// processor that lacks it.
#pragma once

#include "MacTypes.h"

#include <cstddef>

// sums[i] := the sum over `rows` rows (at most 256) of byte i of each row, for n bytes from
// `first` on, rows `rowBytes` apart; with `add`, that sum is added to what sums[i] holds. Each
// byte of a row (a, r, g, b of every pixel) goes into its own 16-bit lane. The vector versions
// go down a column of 64 to 256 bytes through the rows with the sums in registers, so the sums
// are loaded and stored once per call.
using SumRowsFn = void (*)(UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows, size_t n,
                           bool add);

SumRowsFn ChooseSumRows();

void SumRowsPortable(UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows, size_t n,
                     bool add);
#if defined(__x86_64__) || defined(__i386__)
void SumRowsSSE2(UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows, size_t n,
                 bool add);
void SumRowsAVX2(UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows, size_t n,
                 bool add);
void SumRowsAVX512(UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows, size_t n,
                   bool add);
#endif
