// MacMemory.h - the Memory Manager: nonrelocatable blocks (Ptr) and relocatable blocks
// (Handle), each carrying its own size.
//
// Owns: every block and handle made here; the per-thread result of the last memory call.
// Promises:
// - A block remembers its logical size, so GetPtrSize / GetHandleSize answer for any block
//   made here. Blocks are aligned for any scalar type.
// - A failed allocation returns nil and sets MemError() to memFullErr (or to the code a test
//   chose through ToolboxTesting.h); nothing is half-made.
// - Disposing of nil is harmless and leaves MemError() = noErr.
// - A locked handle's data never moves: SetHandleSize may shrink it in place but refuses to
//   grow it past what it already holds (memFullErr), rather than invalidating the pointers
//   its holder relies on. An unlocked handle may move when it grows.
// - Negative sizes are refused with paramErr.
// - MemError() reports the last call of this header made on the calling thread.
// The host allocates the plug-in's blocks through these same calls, so one size header
// serves both sides.
#pragma once

#include "MacTypes.h"

// Handle state bits as HGetState reports them. Only the lock bit changes behaviour here;
// the others are kept as given so that HGetState / HSetState round-trip.
enum : SInt8 {
    kHandleIsResourceMask = 0x20,
    kHandlePurgeableMask = 0x40,
    kHandleLockedMask = SInt8(0x80),
};

Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount); // the bytes are zero
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p); // 0 for nil (MemError() = nilHandleErr)

Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h); // 0 for nil (MemError() = nilHandleErr)
// Grown bytes are not initialised. MemError() tells whether the size changed.
void SetHandleSize(Handle h, Size newSize);
void HLock(Handle h);
void HUnlock(Handle h);
SInt8 HGetState(Handle h);
void HSetState(Handle h, SInt8 flags);

OSErr MemError();

// Copies byteCount bytes; the two ranges may overlap. Nothing is done for a count <= 0.
void BlockMove(const void* srcPtr, void* destPtr, Size byteCount);
void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount);
