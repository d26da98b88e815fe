// ToolboxTesting.h - seams of the toolbox core for hosts and tests (not classic calls).
//
// Owns: the allocation-failure schedule and the live-object counters.
// Promises:
// - Allocation failure injection: after `skip` more successful allocations, the next
//   `count` allocations fail with `err`. "Allocation" means each call of NewPtr,
//   NewPtrClear, NewHandle, NewHandleClear, SetHandleSize that has to grow, NewGWorld,
//   NewGWorldFromPtr, UpdateGWorld that has to reallocate, CGImageCreate, CGImageCreateCopy,
//   CGBitmapContextCreate and CGBitmapContextCreateImage (so QDBeginCGContext fails too). A failed
//   call behaves exactly like real exhaustion: nil result, the error in MemError() / the QDErr
//   result. Hosts use it to drive a plug-in's out-of-memory paths; tests use it to check them.
// - Live counters of everything the core hands out, so a test can check that a call
//   disposed of what it made.
// - The Core Graphics fast path for identity-size drawing can be switched off, so that a
//   test can prove it gives the same bytes as the general path.
// Process-wide and thread-safe.
#pragma once

#include "MacTypes.h"

namespace toolbox::testing {

void FailAllocations(int skip, int count, OSErr err = memFullErr);
void FailNextAllocations(int count, OSErr err = memFullErr); // FailAllocations(0, count, err)
void ClearAllocationFailures();
int PendingAllocationFailures(); // failures still scheduled

struct LiveCounts {
    long ptrs;        // blocks from NewPtr / NewPtrClear not yet disposed
    long handles;     // handles not yet disposed
    long gworlds;     // GWorlds not yet disposed
    long images;      // CGImages with references left
    long contexts;    // CGContexts with references left
    long colorSpaces; // CGColorSpaces with references left
    long providers;   // CGDataProviders with references left
};
LiveCounts GetLiveCounts();

// On by default. Off makes every CGContextDrawImage take the general (sampling) path.
void SetCGFastPathEnabled(bool enabled);
bool CGFastPathEnabled();

// Called by the core on each allocation; true means this one must fail, with *err set.
// (Exposed for the core's own modules; others have no reason to call it.)
bool TakeAllocationFailure(OSErr* err);

} // namespace toolbox::testing
