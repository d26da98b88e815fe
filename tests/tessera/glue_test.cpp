// The host glue's own state, seen from inside: the position of the most recent clip that
// the button click will use, and the current port, across frame calls that do and do not
// get as far as fetching a frame. The host here has no frames to give; rendering itself is
// tested through the real bundle (bundle_test.cpp).
#include "Globals.h"
#include "HYPlugin.h"
#include "TestSupport.h"
#include "iMovieGlue.h"

#include <gtest/gtest.h>

namespace {

class Glue : public ::testing::Test {
  protected:
    void SetUp() override {
        params_.frame = frame_.get();
        params_.frameRect = Rect{0, 0, 48, 64};
    }
    void TearDown() override {
        if (params_.clientData != nullptr) {
            EffectEnds(0, &params_);
        }
    }

    tessera_test::TempConfigHome home_;
    tessera_test::Frame frame_{64, 48};
    tessera_test::FakeHost host_{0}; // a clip without frames: every fetch fails
    _PluginParams& params_ = host_.params();
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
    EXPECT_TRUE(host_.requested.empty());
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
    EXPECT_TRUE(host_.requested.empty());
    EXPECT_EQ(host_.releases, 1);
    EXPECT_EQ(host_.lastReleased, nullptr);
}

TEST_F(Glue, AFailedFetchIsPassedThroughAndStillRecordsTheClip) {
    params_.startFrame = 3;
    params_.frameCount = 9;
    ASSERT_EQ(EffectBegins(0, &params_), kPluginOK);
    EXPECT_EQ(EffectDrives(0, &params_), kPluginCantGetNeededFrame);
    EXPECT_EQ(gMostRecentStartFrame, 3);
    EXPECT_EQ(gMostRecentFrameCount, 9);
    EXPECT_EQ(host_.releases, 1);
}

TEST_F(Glue, AbsoluteIndicesBeyondThirtyTwoBitsAreNotRequested) {
    params_.startFrame = 0x7FFFFFF0;
    params_.frameCount = 100;
    ASSERT_EQ(EffectBegins(0, &params_), kPluginOK);
    params_.renderFrame = 0x20;
    EXPECT_EQ(EffectDrives(0, &params_), kPluginBadParams);
    EXPECT_TRUE(host_.requested.empty());
    EXPECT_EQ(host_.releases, 1);
}

TEST_F(Glue, TheDispatcherIgnoresWhichAndReturnsTheHandlersResult) {
    params_.selector = kPlugDoFrame; // no clip: the handler's 3
    EXPECT_EQ(TesseraMain(0x12345, &params_), kPluginBadParams);
    params_.selector = kPlugTerminate;
    EXPECT_EQ(TesseraMain(-1, &params_), kPluginOK);
}

} // namespace
