// The host glue's own state, seen from inside: the position of the most recent clip that
// the button click will use, and the current port, across frame calls that do and do not
// get as far as fetching a frame. The callbacks here only record; rendering itself is
// tested through the real bundle (bundle_test.cpp).
#include "Globals.h"
#include "HYPlugin.h"
#include "MacMemory.h"
#include "TestSupport.h"
#include "iMovieGlue.h"

#include <gtest/gtest.h>

namespace {

int gFrameRequests = 0;
int gReleases = 0;
HYFrameCookie gReleasedCookie = reinterpret_cast<HYFrameCookie>(1);

HYPluginResult GetFrame(void*, SInt32, GWorldPtr* out, SInt16, SInt16, HYRefDVQuality, SInt16*,
                        HYFrameCookie*) {
    ++gFrameRequests;
    *out = nullptr;
    return kPluginCantGetNeededFrame;
}
HYPluginResult ReleaseFrame(void*, HYFrameCookie cookie) {
    ++gReleases;
    gReleasedCookie = cookie;
    return kPluginOK;
}
HYPluginResult Blit(PixMapHandle, PixMapHandle, const Rect*, const Rect*, SInt16) {
    return kPluginOK;
}
HYPluginResult MixAudio(void*, HYFrameCookie, SInt16) {
    return kPluginOK;
}
HYPluginResult GetFilterInfo(void*, HYPluginFilterInfo** out) {
    *out = nullptr;
    return kPluginOK;
}
HYPluginResult ReleaseFilterInfo(void*, HYPluginFilterInfo*) {
    return kPluginOK;
}
Ptr HostNewPtrClear(SInt32 size) {
    return NewPtrClear(size);
}
void HostDisposePtr(Ptr p) {
    DisposePtr(p);
}

class Glue : public ::testing::Test {
  protected:
    void SetUp() override {
        procs_.NewPtrClear = HostNewPtrClear;
        procs_.DisposePtr = HostDisposePtr;
        procs_.GetFrame = GetFrame;
        procs_.ReleaseFrame = ReleaseFrame;
        procs_.Blit = Blit;
        procs_.MixAudio = MixAudio;
        procs_.GetFilterInfo = GetFilterInfo;
        procs_.ReleaseFilterInfo = ReleaseFilterInfo;
        params_.interfaceVersion = kHYInterfaceVersion;
        params_.procs = &procs_;
        params_.frame = frame_.get();
        params_.frameRect = Rect{0, 0, 48, 64};
        gFrameRequests = gReleases = 0;
    }
    void TearDown() override {
        if (params_.clientData != nullptr) {
            EffectEnds(0, &params_);
        }
    }

    tessera_test::TempConfigHome home_;
    tessera_test::Frame frame_{64, 48};
    HYProcs procs_{};
    _PluginParams params_{};
};

TEST_F(Glue, AFrameWithoutAClipLeavesTheRecentClipAndThePortAlone) {
    gMostRecentStartFrame = 77;
    gMostRecentFrameCount = 88;
    tessera_test::Frame other(4, 4);
    SetGWorld(other.get(), nullptr);
    params_.startFrame = 5;
    params_.frameCount = 6;
    EXPECT_EQ(EffectDrives(0, &params_), kPluginBadParams);
    EXPECT_EQ(gMostRecentStartFrame, 77);
    EXPECT_EQ(gMostRecentFrameCount, 88);
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, other.get());
    EXPECT_EQ(gFrameRequests, 0);
    SetGWorld(nullptr, nullptr);
}

TEST_F(Glue, ANegativeFrameStillRecordsTheClipAndReleasesAnEmptyCookie) {
    params_.startFrame = 10;
    params_.frameCount = 40;
    ASSERT_EQ(EffectBegins(0, &params_), kPluginOK);
    params_.renderFrame = -11;
    EXPECT_EQ(EffectDrives(0, &params_), kPluginOK);
    EXPECT_EQ(gMostRecentStartFrame, 10);
    EXPECT_EQ(gMostRecentFrameCount, 40);
    EXPECT_EQ(gFrameRequests, 0);
    EXPECT_EQ(gReleases, 1);
    EXPECT_EQ(gReleasedCookie, nullptr);
}

TEST_F(Glue, AFailedFetchIsPassedThroughAndStillRecordsTheClip) {
    params_.startFrame = 3;
    params_.frameCount = 9;
    ASSERT_EQ(EffectBegins(0, &params_), kPluginOK);
    EXPECT_EQ(EffectDrives(0, &params_), kPluginCantGetNeededFrame);
    EXPECT_EQ(gMostRecentStartFrame, 3);
    EXPECT_EQ(gMostRecentFrameCount, 9);
    EXPECT_EQ(gReleases, 1);
}

TEST_F(Glue, AbsoluteIndicesBeyondThirtyTwoBitsAreNotRequested) {
    params_.startFrame = 0x7FFFFFF0;
    params_.frameCount = 100;
    ASSERT_EQ(EffectBegins(0, &params_), kPluginOK);
    params_.renderFrame = 0x20;
    EXPECT_EQ(EffectDrives(0, &params_), kPluginBadParams);
    EXPECT_EQ(gFrameRequests, 0);
    EXPECT_EQ(gReleases, 1);
}

TEST_F(Glue, TheDispatcherIgnoresWhichAndReturnsTheHandlersResult) {
    params_.selector = kPlugDoFrame; // no clip: the handler's 3
    EXPECT_EQ(TesseraMain(0x12345, &params_), kPluginBadParams);
    params_.selector = kPlugTerminate;
    EXPECT_EQ(TesseraMain(-1, &params_), kPluginOK);
}

} // namespace
