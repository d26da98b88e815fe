// Tests of the Memory Manager: block and handle sizes, failures (real and injected), handle
// locking and the disposal of nil or foreign pointers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "MacMemory.h"
#include "ToolboxTesting.h"

namespace {

using toolbox::testing::GetLiveCounts;

class MemoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        toolbox::testing::ClearAllocationFailures();
        before_ = GetLiveCounts();
    }
    void TearDown() override {
        toolbox::testing::ClearAllocationFailures();
        const auto after = GetLiveCounts();
        EXPECT_EQ(after.ptrs, before_.ptrs) << "a block leaked";
        EXPECT_EQ(after.handles, before_.handles) << "a handle leaked";
    }
    toolbox::testing::LiveCounts before_{};
};

TEST_F(MemoryTest, BlocksRememberTheirSizeAndAreAligned) {
    for (Size size : {Size(0), Size(1), Size(144), Size(4097)}) {
        Ptr p = NewPtr(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(MemError(), noErr);
        EXPECT_EQ(GetPtrSize(p), size);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
        std::memset(p, 0x7E, size_t(size)); // the whole block is writable
        DisposePtr(p);
        EXPECT_EQ(MemError(), noErr);
    }
}

TEST_F(MemoryTest, NewPtrClearGivesZeroBytes) {
    // Dirty the heap first so that a clear block cannot be zero by luck.
    Ptr dirty = NewPtr(4096);
    std::memset(dirty, 0xCC, 4096);
    DisposePtr(dirty);
    Ptr p = NewPtrClear(4096);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i;
    DisposePtr(p);
}

TEST_F(MemoryTest, ExhaustionGivesNilAndMemFullErr) {
    // The largest size there is: beyond any address space, in a 32-bit build too.
    const Size huge = std::numeric_limits<Size>::max();
    EXPECT_EQ(NewPtr(huge), nullptr);
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(NewHandleClear(huge), nullptr);
    EXPECT_EQ(MemError(), memFullErr);
}

TEST_F(MemoryTest, NegativeSizesAreRefused) {
    EXPECT_EQ(NewPtr(-1), nullptr);
    EXPECT_EQ(MemError(), paramErr);
    EXPECT_EQ(NewHandle(-5), nullptr);
    EXPECT_EQ(MemError(), paramErr);
    Handle h = NewHandle(8);
    SetHandleSize(h, -1);
    EXPECT_EQ(MemError(), paramErr);
    EXPECT_EQ(GetHandleSize(h), 8);
    DisposeHandle(h);
}

TEST_F(MemoryTest, NilIsHarmless) {
    DisposePtr(nullptr);
    EXPECT_EQ(MemError(), noErr);
    DisposeHandle(nullptr);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetPtrSize(nullptr), 0);
    EXPECT_EQ(MemError(), nilHandleErr);
    EXPECT_EQ(GetHandleSize(nullptr), 0);
    EXPECT_EQ(MemError(), nilHandleErr);
}

TEST_F(MemoryTest, ForeignPointersAreRefusedNotFreed) {
    Ptr outer = NewPtrClear(256);
    // A pointer into the middle of a zeroed block has no valid header in front of it.
    DisposePtr(outer + 64);
    EXPECT_EQ(MemError(), memWZErr);
    EXPECT_EQ(GetPtrSize(outer + 64), 0);
    EXPECT_EQ(GetPtrSize(outer), 256); // the real block is intact
    DisposePtr(outer);
}

// Disposed blocks and handles, and byte-for-byte copies of live ones, are refused: what
// decides is where the memory came from, never what it holds (a freed block is not read,
// which the sanitizer build checks).
TEST_F(MemoryTest, DisposedAndCopiedBlocksAreRefused) {
    Ptr p = NewPtrClear(48);
    Handle h = NewHandle(8);
    ASSERT_TRUE(p && h);
    // A copy of the block's area, header bytes in front included.
    std::vector<char> copy(64 + 48);
    std::memcpy(copy.data() + 64, p, 48);
    std::memcpy(copy.data() + 64 - 16, p - 16, 16);
    DisposePtr(copy.data() + 64);
    EXPECT_EQ(MemError(), memWZErr);
    EXPECT_EQ(GetPtrSize(copy.data() + 64), 0);
    DisposePtr(p);
    EXPECT_EQ(MemError(), noErr);
    DisposePtr(p);
    EXPECT_EQ(MemError(), memWZErr);
    EXPECT_EQ(GetPtrSize(p), 0);
    EXPECT_EQ(MemError(), memWZErr);
    DisposeHandle(h);
    DisposeHandle(h);
    EXPECT_EQ(MemError(), memWZErr);
    EXPECT_EQ(GetHandleSize(h), 0);
    HLock(h);
    EXPECT_EQ(MemError(), memWZErr);
}

TEST_F(MemoryTest, InjectedFailuresHitTheChosenAllocations) {
    toolbox::testing::FailAllocations(2, 1);
    Ptr a = NewPtr(10);
    Handle b = NewHandle(10);
    Ptr c = NewPtrClear(10);
    EXPECT_EQ(MemError(), memFullErr);
    Ptr d = NewPtr(10);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_NE(d, nullptr) << "only one failure was asked for";
    EXPECT_EQ(toolbox::testing::PendingAllocationFailures(), 0);
    DisposePtr(a);
    DisposeHandle(b);
    DisposePtr(d);
}

TEST_F(MemoryTest, InjectedFailureCarriesTheChosenCode) {
    toolbox::testing::FailNextAllocations(2, memWZErr);
    EXPECT_EQ(NewHandleClear(4), nullptr);
    EXPECT_EQ(MemError(), memWZErr);
    Handle h = NewHandle(0);
    EXPECT_EQ(h, nullptr);
    toolbox::testing::ClearAllocationFailures();
    h = NewHandle(0);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(*h, nullptr) << "an empty handle still has a master pointer";
    EXPECT_EQ(GetHandleSize(h), 0);
    DisposeHandle(h);
}

TEST_F(MemoryTest, LiveCountsFollowAllocationAndDisposal) {
    Ptr p = NewPtr(1);
    Handle h = NewHandle(1);
    EXPECT_EQ(GetLiveCounts().ptrs, before_.ptrs + 1);
    EXPECT_EQ(GetLiveCounts().handles, before_.handles + 1);
    DisposePtr(p);
    DisposeHandle(h);
}

TEST_F(MemoryTest, HandlesGrowKeepingTheirContents) {
    Handle h = NewHandle(4);
    std::memcpy(*h, "abcd", 4);
    SetHandleSize(h, 100000);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetHandleSize(h), 100000);
    EXPECT_EQ(std::memcmp(*h, "abcd", 4), 0);
    (*h)[99999] = 'z';
    SetHandleSize(h, 2);
    EXPECT_EQ(GetHandleSize(h), 2);
    EXPECT_EQ(std::memcmp(*h, "ab", 2), 0);
    DisposeHandle(h);
}

TEST_F(MemoryTest, LockedHandlesNeverMove) {
    Handle h = NewHandleClear(16);
    HLock(h);
    EXPECT_TRUE(HGetState(h) & kHandleLockedMask);
    char* where = *h;
    SetHandleSize(h, 8); // shrinking in place is fine
    EXPECT_EQ(MemError(), noErr);
    SetHandleSize(h, 16); // back within what it holds
    EXPECT_EQ(MemError(), noErr);
    SetHandleSize(h, 1 << 20); // growing would move it
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(GetHandleSize(h), 16);
    EXPECT_EQ(*h, where);
    HUnlock(h);
    EXPECT_FALSE(HGetState(h) & kHandleLockedMask);
    SetHandleSize(h, 1 << 20);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetHandleSize(h), 1 << 20);
    DisposeHandle(h);
}

TEST_F(MemoryTest, HandleStateRoundTrips) {
    Handle h = NewHandle(1);
    const SInt8 saved = HGetState(h);
    HLock(h);
    HSetState(h, SInt8(kHandleLockedMask | kHandlePurgeableMask));
    EXPECT_EQ(HGetState(h), SInt8(kHandleLockedMask | kHandlePurgeableMask));
    HSetState(h, saved);
    EXPECT_EQ(HGetState(h), saved);
    DisposeHandle(h);
}

TEST_F(MemoryTest, GrowingFailsCleanlyUnderInjection) {
    Handle h = NewHandle(4);
    std::memcpy(*h, "wxyz", 4);
    toolbox::testing::FailNextAllocations(1);
    SetHandleSize(h, 4096);
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(GetHandleSize(h), 4);
    EXPECT_EQ(std::memcmp(*h, "wxyz", 4), 0);
    DisposeHandle(h);
}

TEST_F(MemoryTest, BlockMoveHandlesOverlap) {
    char buf[] = "0123456789";
    BlockMove(buf, buf + 2, 6);
    EXPECT_STREQ(buf, "0101234589");
    BlockMoveData(buf + 2, buf, 6);
    EXPECT_STREQ(buf, "0123454589");
    BlockMove(buf, buf + 1, 0);
    BlockMove(buf, buf + 1, -4);
    EXPECT_STREQ(buf, "0123454589");
}

} // namespace
