// Where the frame call draws: the mosaic reaches the host's frame at frameRect and nowhere
// else, whether the host's frame is larger than the rectangle, clipped, or is itself the
// source it handed over. Each case is compared with the same clip rendered into a frame of
// exactly the rectangle's size.
#include "Globals.h"
#include "HYPlugin.h"
#include "MacMemory.h"
#include "PluginDefines.h"
#include "TestSupport.h"
#include "ToolboxTesting.h"
#include "iMovieGlue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using tessera_test::ARGB;
using tessera_test::Frame;

constexpr int W = 96, H = 60;
constexpr ARGB kUntouched{1, 2, 3, 4};

class FrameTarget : public ::testing::Test {
  protected:
    void SetUp() override {
        pattern_.fill(tessera_test::Pattern);
        host_.deliver = pattern_.get(); // the host hands over the pattern, whatever is asked
        host_.filterInfo = &filterInfo_;
        params_.proxyOnly = true; // no audio to mix
        reference_ = RenderReference();
    }

    // The clip's copy of the configuration as the dialog leaves it: blocks of 8% of the
    // frame over the whole frame, with the source laid back over them at 30%.
    void Configure() {
        auto* clip = static_cast<EffectData*>(params_.clientData);
        ASSERT_NE(clip, nullptr);
        clip->engineData->sliders[0] = 80;
        clip->engineData->sliders[1] = 80;
        clip->engineData->sliders[2] = 30;
        clip->engineData->startRel = relRect{0, 1, 0, 1};
    }
    // One clip of one frame into `frame` at `rect`; the result code.
    SInt32 RenderInto(GWorldPtr frame, Rect rect) {
        params_.frame = frame;
        params_.frameRect = rect;
        params_.renderFrame = 4;
        params_.selector = kPlugInitialize;
        EXPECT_EQ(TesseraMain(0, &params_), kPluginOK);
        Configure();
        params_.selector = kPlugDoFrame;
        const SInt32 result = TesseraMain(0, &params_);
        params_.selector = kPlugTerminate;
        EXPECT_EQ(TesseraMain(0, &params_), kPluginOK);
        return result;
    }
    // The clip rendered into a frame of exactly the rectangle's size: the reference.
    std::vector<ARGB> RenderReference() {
        EXPECT_EQ(RenderInto(reference_frame_.get(), Rect{0, 0, H, W}), kPluginOK);
        std::vector<ARGB> pixels;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                pixels.push_back(reference_frame_.at(x, y));
            }
        }
        return pixels;
    }
    ARGB Expected(int x, int y) const { return reference_[size_t(y) * W + size_t(x)]; }

    tessera_test::TempConfigHome home_;
    Frame pattern_{W, H};
    Frame reference_frame_{W, H};
    HYPluginFilterInfo filterInfo_{{0.3f, 0.6f, 0.0f}, 0, 0};
    tessera_test::FakeHost host_{30};
    _PluginParams& params_ = host_.params();
    std::vector<ARGB> reference_;
};

TEST_F(FrameTarget, TheReferenceIsAMosaicNotTheSource) {
    int differing = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            differing += Expected(x, y) == tessera_test::Pattern(x, y) ? 0 : 1;
        }
    }
    EXPECT_GT(differing, W * H / 2);
}

TEST_F(FrameTarget, ARectangleInsideALargerFrameIsDrawnThereAndNowhereElse) {
    constexpr int left = 7, top = 5;
    Frame host(W + 21, H + 13);
    host.fill([](int, int) { return kUntouched; });
    ASSERT_EQ(RenderInto(host.get(), Rect{top, left, top + H, left + W}), kPluginOK);
    ExpectPixels(host, [this](int x, int y) {
        const bool inside = x >= left && x < left + W && y >= top && y < top + H;
        return inside ? Expected(x - left, y - top) : kUntouched;
    });
}

TEST_F(FrameTarget, TheHostFramesClipLimitsTheDrawing) {
    constexpr int left = 3, top = 2;
    Frame host(W + 10, H + 10);
    host.fill([](int, int) { return kUntouched; });
    const Rect clip{0, 0, SInt16(top + H / 2), SInt16(left + W - 9)};
    SetGWorld(host.get(), nullptr);
    ClipRect(&clip);
    SetGWorld(nullptr, nullptr);
    ASSERT_EQ(RenderInto(host.get(), Rect{top, left, top + H, left + W}), kPluginOK);
    ExpectPixels(host, [this, &clip](int x, int y) {
        const bool inside = x >= left && x < left + W && y >= top && y < top + H &&
                            x < clip.right && y < clip.bottom;
        return inside ? Expected(x - left, y - top) : kUntouched;
    });
}

TEST_F(FrameTarget, ASourceThatIsTheHostsFrameItselfIsReadBeforeItIsOverwritten) {
    Frame host(W, H);
    host.fill(tessera_test::Pattern);
    host_.deliver = host.get();
    ASSERT_EQ(RenderInto(host.get(), Rect{0, 0, H, W}), kPluginOK);
    ExpectPixels(host, [this](int x, int y) { return Expected(x, y); });
}

TEST_F(FrameTarget, AFrameWrapperThatCannotBeMadeLeavesTheFrameAsItWas) {
    Frame host(W + 4, H + 4);
    host.fill([](int, int) { return kUntouched; });
    params_.frame = host.get();
    params_.frameRect = Rect{2, 2, 2 + H, 2 + W};
    params_.renderFrame = 4;
    params_.selector = kPlugInitialize;
    ASSERT_EQ(TesseraMain(0, &params_), kPluginOK);
    Configure();
    toolbox::testing::FailNextAllocations(1, memFullErr);
    params_.selector = kPlugDoFrame;
    EXPECT_EQ(TesseraMain(0, &params_), kPluginOutOfMemory);
    params_.selector = kPlugTerminate;
    EXPECT_EQ(TesseraMain(0, &params_), kPluginOK);
    ExpectPixels(host, [](int, int) { return kUntouched; });
}

} // namespace
