// MacMemory.cpp - blocks and handles with a size header, and the test seams of the core.
//
// A block is one malloc'd area: a 16-byte header (the logical size) followed by the
// caller's bytes. A handle is a master-pointer record whose first field is the data
// pointer; the Handle is the address of that field. Every live block and handle is in a
// set, so a pointer that was never made here or is already disposed of is refused (memWZErr)
// without reading the memory it points at, instead of corrupting the heap.
#include "MacMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "CorePrivate.h"
#include "ToolboxTesting.h"

namespace {

struct alignas(16) BlockHeader {
    Size size;
};
static_assert(sizeof(BlockHeader) == 16);

struct MasterPointer {
    char* data; // must stay first: a Handle points here
    Size size;
    Size capacity;
    SInt8 state;
};

// No request beyond a 64-bit process's user address space (2^47 bytes) can be met; such
// sizes are refused before they reach the allocator, which may abort on them (sanitizers).
// In a 32-bit process Size is 32 bits: there the bound only keeps the header's bytes from
// overflowing the total.
constexpr Size kLargestRequest = Size(std::min<std::uint64_t>(
    std::uint64_t(1) << 47, std::uint64_t(std::numeric_limits<Size>::max()) - sizeof(BlockHeader)));

thread_local OSErr tMemErr = noErr;

std::atomic<long> gLivePtrs{0};
std::atomic<long> gLiveHandles{0};

// Never destroyed: a plug-in may dispose of its blocks while the process exits.
toolbox::detail::LiveSet& LiveBlocks() {
    static auto* set = new toolbox::detail::LiveSet;
    return *set;
}

toolbox::detail::LiveSet& LiveHandles() {
    static auto* set = new toolbox::detail::LiveSet;
    return *set;
}

// The header of a live block, or nil (MemError memWZErr) for any other pointer.
BlockHeader* HeaderOf(Ptr p) {
    if (!LiveBlocks().contains(p)) {
        tMemErr = memWZErr;
        return nullptr;
    }
    return reinterpret_cast<BlockHeader*>(p) - 1;
}

// The master pointer of a live handle, or nil (MemError memWZErr).
MasterPointer* MasterOf(Handle h) {
    if (!LiveHandles().contains(h)) {
        tMemErr = memWZErr;
        return nullptr;
    }
    return reinterpret_cast<MasterPointer*>(h);
}

bool InjectedFailure() {
    OSErr err = noErr;
    if (toolbox::testing::TakeAllocationFailure(&err)) {
        tMemErr = err;
        return true;
    }
    return false;
}

Ptr AllocateBlock(Size byteCount, bool clear) {
    if (byteCount < 0) {
        tMemErr = paramErr;
        return nullptr;
    }
    if (InjectedFailure())
        return nullptr;
    if (byteCount > kLargestRequest) {
        tMemErr = memFullErr;
        return nullptr;
    }
    const size_t total = sizeof(BlockHeader) + size_t(byteCount);
    void* raw = clear ? std::calloc(1, total) : std::malloc(total);
    if (!raw) {
        tMemErr = memFullErr;
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(raw);
    header->size = byteCount;
    if (!LiveBlocks().add(header + 1)) {
        std::free(raw);
        tMemErr = memFullErr;
        return nullptr;
    }
    gLivePtrs.fetch_add(1, std::memory_order_relaxed);
    tMemErr = noErr;
    return reinterpret_cast<Ptr>(header + 1);
}

Handle AllocateHandle(Size byteCount, bool clear) {
    if (byteCount < 0) {
        tMemErr = paramErr;
        return nullptr;
    }
    if (InjectedFailure())
        return nullptr;
    if (byteCount > kLargestRequest) {
        tMemErr = memFullErr;
        return nullptr;
    }
    auto* master = static_cast<MasterPointer*>(std::malloc(sizeof(MasterPointer)));
    // One byte at least, so that even an empty handle has a non-nil master pointer.
    const size_t bytes = byteCount > 0 ? size_t(byteCount) : 1;
    char* data = static_cast<char*>(clear ? std::calloc(1, bytes) : std::malloc(bytes));
    if (!master || !data) {
        std::free(master);
        std::free(data);
        tMemErr = memFullErr;
        return nullptr;
    }
    master->data = data;
    master->size = byteCount;
    master->capacity = Size(bytes);
    master->state = 0;
    if (!LiveHandles().add(&master->data)) {
        std::free(master);
        std::free(data);
        tMemErr = memFullErr;
        return nullptr;
    }
    gLiveHandles.fetch_add(1, std::memory_order_relaxed);
    tMemErr = noErr;
    return &master->data;
}

} // namespace

Ptr NewPtr(Size byteCount) {
    return AllocateBlock(byteCount, false);
}

Ptr NewPtrClear(Size byteCount) {
    return AllocateBlock(byteCount, true);
}

void DisposePtr(Ptr p) {
    if (!p) {
        tMemErr = noErr;
        return;
    }
    if (!LiveBlocks().remove(p)) {
        tMemErr = memWZErr;
        return;
    }
    std::free(reinterpret_cast<BlockHeader*>(p) - 1);
    gLivePtrs.fetch_sub(1, std::memory_order_relaxed);
    tMemErr = noErr;
}

Size GetPtrSize(Ptr p) {
    if (!p) {
        tMemErr = nilHandleErr;
        return 0;
    }
    const BlockHeader* header = HeaderOf(p);
    if (!header) {
        return 0;
    }
    tMemErr = noErr;
    return header->size;
}

Handle NewHandle(Size byteCount) {
    return AllocateHandle(byteCount, false);
}

Handle NewHandleClear(Size byteCount) {
    return AllocateHandle(byteCount, true);
}

void DisposeHandle(Handle h) {
    if (!h) {
        tMemErr = noErr;
        return;
    }
    if (!LiveHandles().remove(h)) {
        tMemErr = memWZErr;
        return;
    }
    MasterPointer* master = reinterpret_cast<MasterPointer*>(h);
    std::free(master->data);
    std::free(master);
    gLiveHandles.fetch_sub(1, std::memory_order_relaxed);
    tMemErr = noErr;
}

Size GetHandleSize(Handle h) {
    if (!h) {
        tMemErr = nilHandleErr;
        return 0;
    }
    const MasterPointer* master = MasterOf(h);
    if (!master) {
        return 0;
    }
    tMemErr = noErr;
    return master->size;
}

void SetHandleSize(Handle h, Size newSize) {
    if (!h) {
        tMemErr = nilHandleErr;
        return;
    }
    MasterPointer* master = MasterOf(h);
    if (!master) {
        return;
    }
    if (newSize < 0) {
        tMemErr = paramErr;
        return;
    }
    if (newSize <= master->capacity) {
        master->size = newSize;
        tMemErr = noErr;
        return;
    }
    // Growing needs new memory. A locked handle's holder relies on *h not moving.
    if (master->state & kHandleLockedMask) {
        tMemErr = memFullErr;
        return;
    }
    if (InjectedFailure())
        return;
    if (newSize > kLargestRequest) {
        tMemErr = memFullErr;
        return;
    }
    char* grown = static_cast<char*>(std::realloc(master->data, size_t(newSize)));
    if (!grown) {
        tMemErr = memFullErr;
        return;
    }
    master->data = grown;
    master->size = newSize;
    master->capacity = newSize;
    tMemErr = noErr;
}

void HLock(Handle h) {
    if (!h) {
        tMemErr = nilHandleErr;
        return;
    }
    MasterPointer* master = MasterOf(h);
    if (!master) {
        return;
    }
    master->state |= kHandleLockedMask;
    tMemErr = noErr;
}

void HUnlock(Handle h) {
    if (!h) {
        tMemErr = nilHandleErr;
        return;
    }
    MasterPointer* master = MasterOf(h);
    if (!master) {
        return;
    }
    master->state &= SInt8(~kHandleLockedMask);
    tMemErr = noErr;
}

SInt8 HGetState(Handle h) {
    if (!h) {
        tMemErr = nilHandleErr;
        return 0;
    }
    const MasterPointer* master = MasterOf(h);
    if (!master) {
        return 0;
    }
    tMemErr = noErr;
    return master->state;
}

void HSetState(Handle h, SInt8 flags) {
    if (!h) {
        tMemErr = nilHandleErr;
        return;
    }
    MasterPointer* master = MasterOf(h);
    if (!master) {
        return;
    }
    master->state = flags;
    tMemErr = noErr;
}

OSErr MemError() {
    return tMemErr;
}

void BlockMove(const void* srcPtr, void* destPtr, Size byteCount) {
    if (byteCount > 0 && srcPtr && destPtr)
        std::memmove(destPtr, srcPtr, size_t(byteCount));
    tMemErr = noErr;
}

void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount) {
    BlockMove(srcPtr, destPtr, byteCount);
}

// --- Test seams --------------------------------------------------------------------------

namespace toolbox::testing {

namespace {
std::mutex gFailureMutex;
int gSkip = 0;
int gFailCount = 0;
OSErr gFailErr = memFullErr;
std::atomic<bool> gFastPath{true};
} // namespace

void FailAllocations(int skip, int count, OSErr err) {
    std::lock_guard lock(gFailureMutex);
    gSkip = skip > 0 ? skip : 0;
    gFailCount = count > 0 ? count : 0;
    gFailErr = err;
}

void FailNextAllocations(int count, OSErr err) {
    FailAllocations(0, count, err);
}

void ClearAllocationFailures() {
    FailAllocations(0, 0, memFullErr);
}

int PendingAllocationFailures() {
    std::lock_guard lock(gFailureMutex);
    return gFailCount;
}

bool TakeAllocationFailure(OSErr* err) {
    std::lock_guard lock(gFailureMutex);
    if (gFailCount == 0)
        return false;
    if (gSkip > 0) {
        --gSkip;
        return false;
    }
    --gFailCount;
    *err = gFailErr;
    return true;
}

void SetCGFastPathEnabled(bool enabled) {
    gFastPath.store(enabled);
}

bool CGFastPathEnabled() {
    return gFastPath.load();
}

// Counters of the other modules, defined beside what they count.
long LiveGWorldCount();
long LiveImageCount();
long LiveContextCount();
long LiveColorSpaceCount();
long LiveProviderCount();

LiveCounts GetLiveCounts() {
    return LiveCounts{gLivePtrs.load(),   gLiveHandles.load(), LiveGWorldCount(),
                      LiveImageCount(),   LiveContextCount(),  LiveColorSpaceCount(),
                      LiveProviderCount()};
}

} // namespace toolbox::testing
