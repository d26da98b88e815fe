// The built Tessera.bundle driven through the host library, as a host drives it: the
// dispatcher's checks, the description from the bundle's string lists, a clip's begin,
// frames and end with pixels checked against the mosaic computed here from the generated
// frames, the fades, the placeholder, and every failure the host can cause. The same for
// TesseraMotion.bundle where it differs: its region moving over the clip, its own strings
// and its own preferences file.
//
// Each test runs in its own process (a fresh plug-in with a fresh master configuration)
// and in its own Preferences folder; where a test needs a particular configuration it
// writes the preferences file first, byte by byte, as a previous run would have left it.
#include "Files.h"
#include "HYPlugin.h"
#include "MacMemory.h"
#include "QuickDraw.h"
#include "Resources.h"
#include "TestSupport.h"
#include "TextUtils.h"
#include "ToolboxTesting.h"
#include "blend.h"
#include "framesource.h"
#include "iMovieGlue.h"
#include "pluginbundle.h"
#include "recordingsession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using tessera_test::ARGB;
using tessera_test::TempConfigHome;

// ---- the configuration a previous run saved ---------------------------------------------

struct SavedConfig {
    double startRel[4] = {0, 1, 0, 1}; // left, right, top, bottom
    double endRel[4] = {0, 1, 0, 1};
    SInt16 sliders[6] = {10, 10, 0, 0, 0, 0};
};

// Writes the preferences file (Tessera's "vemto-Prefs" unless named) with resource 'Pref' 1
// "Config Settings" holding the 396-byte record.
void WritePrefs(const TempConfigHome& home, const SavedConfig& c,
                const char* fileName = "vemto-Prefs") {
    std::vector<std::uint8_t> rec(396, 0);
    auto put = [&](size_t at, const void* v, size_t n) { std::memcpy(rec.data() + at, v, n); };
    const UInt32 size = 396, version = 3;
    put(0, &size, 4);
    put(4, &version, 4);
    put(8, c.startRel, 32);
    put(40, c.endRel, 32);
    put(108, c.sliders, 12);
    const SInt16 mediaType = 1, blendMode = 1;
    put(132, &mediaType, 2);
    put(136, &blendMode, 2);

    FSSpec spec;
    const OSErr err = toolbox::files::specFromPath((home.dir() / fileName).string(), spec);
    ASSERT_TRUE(err == noErr || err == fnfErr);
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("klmr"), FOUR_CHAR_CODE("Pref"), smSystemScript);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_NE(ref, kResFileNotOpened);
    UseResFile(ref);
    Handle h = NewHandle(Size(rec.size()));
    std::memcpy(*h, rec.data(), rec.size());
    Str255 name;
    CopyCStringToPascal("Config Settings", name);
    AddResource(h, FOUR_CHAR_CODE("Pref"), 1, name);
    ASSERT_EQ(ResError(), noErr);
    CloseResFile(ref);
}

// ---- the picture the plug-in must produce ---------------------------------------------

ARGB Generated(int x, int y, std::int64_t frame, int w, int h) {
    const fxhost::GeneratedPixel p = fxhost::GeneratedPattern(x, y, frame, w, h);
    return ARGB{p.a, p.r, p.g, p.b};
}

int BlockSize(int extent, int slider) {
    return int(std::trunc((extent / 1000.0) * slider));
}
int Cut(double v) {
    return int(std::trunc(v));
}

// The generated frame with the mosaic over the region (relative region -> pixels cut
// toward zero, clipped; blocks anchored at the clipped corner; truncated averages; the
// alpha of the last pixel read). `relRegion` (left, right, top, bottom) is the saved start
// region unless given.
std::vector<ARGB> ExpectedFrame(std::int64_t frame, int W, int H, const SavedConfig& c,
                                const double* relRegion = nullptr) {
    const double* rel = relRegion != nullptr ? relRegion : c.startRel;
    std::vector<ARGB> out(size_t(W) * H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            out[size_t(y) * W + x] = Generated(x, y, frame, W, H);
        }
    }
    auto clip = [](int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); };
    const int left = clip(Cut(W * rel[0]), 0, W), right = clip(Cut(W * rel[1]), 0, W);
    const int top = clip(Cut(H * rel[2]), 0, H), bottom = clip(Cut(H * rel[3]), 0, H);
    const int bw = std::max(1, BlockSize(W, c.sliders[0]));
    const int bh = std::max(1, BlockSize(H, c.sliders[1]));
    const Rect region{SInt16(top), SInt16(left), SInt16(bottom), SInt16(right)};
    tessera_test::MosaicOracle(out, out, W, H, region, bw, bh);
    return out;
}

// ---- the fixture ------------------------------------------------------------------------

class TesseraBundle : public ::testing::Test {
  protected:
    static constexpr int W = 160, H = 120;

    TesseraBundle() : TesseraBundle(TESSERA_BUNDLE_PATH) {}
    explicit TesseraBundle(const char* bundlePath)
        : bundle_(std::make_unique<fxhost::PluginBundle>(bundlePath)) {}

    void SetUp() override {
        toolbox::testing::ClearAllocationFailures();
        ++testsInThisProcess_;
    }
    void TearDown() override { toolbox::testing::ClearAllocationFailures(); }

    // The plug-in starts once per process and then keeps its master configuration, as it
    // does in a real host. Tests of that first start need a process of their own, which is
    // how ctest runs every test; run from one test program with others, they are skipped.
    static bool FirstTestInProcess() { return testsInThisProcess_ == 1; }
    static inline int testsInThisProcess_ = 0;

    // Starts the host session; a test that wants a saved configuration writes it first.
    // Unless asked not to, the plug-in is started with a call that reaches no handler and
    // the log is cleared, so that what a test counts is its own.
    fxhost::RecordingSession& Host(int w = W, int h = H, bool started = true) {
        source_ = std::make_unique<fxhost::GeneratedFrameSource>(w, h, 300);
        session_ = std::make_unique<fxhost::RecordingSession>(*bundle_, *source_);
        if (started) {
            EXPECT_EQ(session_->call(kPlugDrawIcon), kPluginOK);
            session_->clearLog();
        }
        return *session_;
    }

    std::vector<ARGB> Destination() const {
        const int w = session_->frameWidth(), h = session_->frameHeight();
        std::vector<std::uint8_t> bytes(size_t(w) * h * 4);
        session_->copyDestination(bytes.data(), std::ptrdiff_t(w) * 4);
        std::vector<ARGB> out(size_t(w) * h);
        std::memcpy(out.data(), bytes.data(), bytes.size());
        return out;
    }

    void ExpectDestination(const std::vector<ARGB>& want) const {
        const std::vector<ARGB> got = Destination();
        ASSERT_EQ(got.size(), want.size());
        int shown = 0;
        for (size_t i = 0; i < got.size() && shown < 8; ++i) {
            if (!(got[i] == want[i])) {
                const int w = session_->frameWidth();
                ADD_FAILURE() << "pixel (" << i % w << ", " << i / w << "): " << got[i] << ", want "
                              << want[i];
                ++shown;
            }
        }
    }

    void ExpectNothingLeft() const {
        EXPECT_EQ(session_->params().clientData, nullptr);
        EXPECT_EQ(session_->framesOutstanding(), 0);
        // Every block made during the test was given back.
        EXPECT_EQ(session_->log().allocations - session_->log().failedAllocations,
                  session_->log().disposals);
    }

    TempConfigHome home_;
    std::unique_ptr<fxhost::PluginBundle> bundle_;
    std::unique_ptr<fxhost::GeneratedFrameSource> source_;
    std::unique_ptr<fxhost::RecordingSession> session_;
};

// ---- the dispatcher ------------------------------------------------------------------------

TEST_F(TesseraBundle, NullBlockIsBadParams) {
    auto& host = Host();
    EXPECT_EQ(host.callWithNullBlock(kPlugGetInfo), kPluginBadParams);
}

TEST_F(TesseraBundle, OldInterfacesAreTurnedAwayBeforeAnythingStarts) {
    if (!FirstTestInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    auto& host = Host(W, H, false);
    host.params().interfaceVersion = 3;
    EXPECT_EQ(host.call(kPlugGetInfo), kPluginAppIsTooOld);
    host.params().interfaceVersion = -5;
    EXPECT_EQ(host.call(kPlugInitialize), kPluginAppIsTooOld);
    EXPECT_EQ(host.log().allocations, 0);
    EXPECT_FALSE(std::filesystem::exists(home_.prefsFile()));

    host.params().interfaceVersion = 4; // now served: the engine starts
    EXPECT_EQ(host.call(kPlugDrawIcon), kPluginOK);
    EXPECT_EQ(host.log().allocations, 1);
    EXPECT_TRUE(std::filesystem::exists(home_.prefsFile()));
}

// The engine's record that cannot be made on the first call is out of memory for the host
// (the host lives on); the next call starts the engine.
TEST_F(TesseraBundle, EngineRecordThatCannotBeMadeIsOutOfMemoryAndRetried) {
    if (!FirstTestInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    auto& host = Host(W, H, false);
    host.failures().newPtrFailSizes = {SInt32(sizeof(pluginDataRec))};
    EXPECT_EQ(host.call(kPlugGetInfo), kPluginOutOfMemory);
    EXPECT_EQ(host.log().failedAllocations, 1);
    host.failures().newPtrFailSizes.clear();
    EXPECT_EQ(host.call(kPlugGetInfo), kPluginOK);
    EXPECT_TRUE(std::filesystem::exists(home_.prefsFile()));
}

TEST_F(TesseraBundle, UnhandledSelectorsStartTheEngineOnceAndReachNoHandler) {
    if (!FirstTestInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    auto& host = Host(W, H, false);
    for (int selector : {3, 0, 4, 7, 10, 255}) {
        EXPECT_EQ(host.call(HYPluginSelector(selector)), kPluginOK) << selector;
    }
    EXPECT_EQ(host.log().allocations, 1); // the master configuration, once
    EXPECT_EQ(host.log().frameRequests.size(), 0u);
    EXPECT_EQ(host.log().filterInfoRequests, 0);
    EXPECT_EQ(host.params().clientData, nullptr);
}

TEST_F(TesseraBundle, MissingCallbackTableIsBadParams) {
    auto& host = Host(W, H, false);
    HYProcs* procs = host.params().procs;
    host.params().procs = nullptr;
    EXPECT_EQ(host.call(kPlugGetInfo), kPluginBadParams);
    host.params().procs = procs;
    EXPECT_EQ(host.log().allocations, 0);
}

TEST_F(TesseraBundle, CustomButtonWithoutAFrameAnswersOK) {
    auto& host = Host();
    host.failures().getFrame = kPluginCantGetNeededFrame; // no frame: no dialog either
    EXPECT_EQ(host.customButton(0), kPluginOK);
    EXPECT_EQ(host.framesOutstanding(), 0);
}

// ---- the description ---------------------------------------------------------------------

std::string IndString(SInt16 list, SInt16 index) {
    Str255 s;
    GetIndString(s, list, index);
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

TEST_F(TesseraBundle, DescriptionComesFromTheStringLists) {
    auto& host = Host();
    host.params().getInfo.pluginFlags = 1;
    EXPECT_EQ(host.getInfo(120), kPluginOK);
    const _PluginParams& p = host.params();
    EXPECT_EQ(p.getInfo.pluginType, kPluginFilterType);
    EXPECT_EQ(p.getInfo.framesToBeRendered, 120);
    EXPECT_EQ(p.getInfo.takeFromClipAfter, 120);
    EXPECT_EQ(p.getInfo.takeFromClipBefore, 0);
    EXPECT_EQ(p.getInfo.minSpeedFrames, 0);
    EXPECT_FALSE(p.getInfo.mustTakeFromSingleClips);
    EXPECT_EQ(p.getInfo.pluginFlags, 0x1381u);
    EXPECT_EQ(p.getInfo2.baseMemoryNeeded, 50000);

    EXPECT_STREQ(p.getInfo2.filterSliders[0].label, "Block width");
    for (int i = 0; i < 3; ++i) {
        const HYPluginFilterSliderInfo& s = p.getInfo2.filterSliders[i];
        EXPECT_EQ(s.defaultValue, 0.5f);
        EXPECT_EQ(s.label, IndString(128, SInt16(i + 1)));
        EXPECT_EQ(s.minLabel, IndString(129, SInt16(2 * i + 1)));
        EXPECT_EQ(s.maxLabel, IndString(129, SInt16(2 * i + 2)));
        EXPECT_GT(std::strlen(s.label), 0u);
        EXPECT_GT(std::strlen(s.maxLabel), 0u);
    }
    EXPECT_EQ(p.getInfo3.buttonTitle, IndString(130, 1));
    EXPECT_GT(std::strlen(p.getInfo3.buttonTitle), 0u);
    EXPECT_EQ(p.getInfo2.group, IndString(17000, 1));
    EXPECT_STREQ(p.getInfo2.group, "Tessera");
}

// ---- a clip -------------------------------------------------------------------------------

TEST_F(TesseraBundle, AClipRendersTheMosaicOfEachFrame) {
    auto& host = Host();
    ASSERT_EQ(host.begin(40, 30), kPluginOK);
    EXPECT_NE(host.params().clientData, nullptr);
    EXPECT_EQ(host.log().filterInfoRequests, 1);
    EXPECT_EQ(host.log().filterInfoReleases, 1);
    for (SInt32 f : {0, 7, 29}) {
        ASSERT_EQ(host.frame(f), kPluginOK);
        ExpectDestination(ExpectedFrame(40 + f, W, H, SavedConfig{}));
    }
    ASSERT_EQ(host.log().frameRequests.size(), 3u);
    EXPECT_EQ(host.log().frameRequests[1].index, 47);
    EXPECT_EQ(host.log().frameRequests[1].width, W);
    EXPECT_EQ(host.log().frameRequests[1].height, H);
    EXPECT_EQ(host.log().frameRequests[1].quality, kDVHighQuality);
    ASSERT_EQ(host.log().mixes.size(), 3u);
    EXPECT_EQ(host.log().mixes[2].frameIndex, 69);
    EXPECT_EQ(host.log().mixes[2].level, 256);
    EXPECT_EQ(host.log().blits.size(), 0u);
    EXPECT_EQ(host.end(), kPluginOK);
    ExpectNothingLeft();
    EXPECT_EQ(toolbox::testing::GetLiveCounts().images, 0);
}

TEST_F(TesseraBundle, TheSavedRegionAndSlidersShapeTheMosaic) {
    if (!FirstTestInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    SavedConfig c;
    c.startRel[0] = 0.2;
    c.startRel[1] = 0.85;
    c.startRel[2] = -0.1;
    c.startRel[3] = 0.55;
    c.endRel[0] = 0.5; // saved, but Tessera's region never moves
    c.sliders[0] = 45;
    c.sliders[1] = 70;
    WritePrefs(home_, c);
    auto& host = Host(); // the first call reads the preferences
    ASSERT_EQ(host.begin(0, 10), kPluginOK);
    for (SInt32 f : {3, 9}) {
        ASSERT_EQ(host.frame(f), kPluginOK);
        ExpectDestination(ExpectedFrame(f, W, H, c));
    }
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, OpacityLaysTheSourceOverTheMosaic) {
    SavedConfig c;
    c.sliders[0] = 100;
    c.sliders[1] = 100;
    c.sliders[2] = 100;
    WritePrefs(home_, c);
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 10), kPluginOK);
    ASSERT_EQ(host.frame(2), kPluginOK);
    SavedConfig plain;
    plain.startRel[1] = 0; // an empty region: the untouched frame
    ExpectDestination(ExpectedFrame(2, W, H, plain));
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, BeginThenEndFreesEverything) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 10), kPluginOK);
    EXPECT_EQ(host.end(), kPluginOK);
    ExpectNothingLeft();
    EXPECT_EQ(host.end(), kPluginOK); // an end without a clip is harmless
}

TEST_F(TesseraBundle, ASecondBeginReleasesTheEarlierConfigurationCopy) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 10), kPluginOK);
    void* record = host.params().clientData;
    ASSERT_EQ(host.begin(0, 10), kPluginOK);
    EXPECT_EQ(host.params().clientData, record); // reused
    EXPECT_EQ(host.end(), kPluginOK);
    ExpectNothingLeft();
}

// ---- fades -------------------------------------------------------------------------------

std::vector<int> FadeOpacities(fxhost::RecordingSession& host, SInt32 frameCount,
                               std::vector<SInt32> frames, std::vector<bool>* faded = nullptr) {
    EXPECT_EQ(host.begin(0, frameCount), kPluginOK);
    std::vector<int> out;
    for (SInt32 f : frames) {
        const size_t before = host.log().blits.size();
        EXPECT_EQ(host.frame(f), kPluginOK);
        const bool blitted = host.log().blits.size() > before;
        out.push_back(blitted ? host.log().blits.back().opacity : -1);
        if (faded) {
            faded->push_back(blitted);
        }
    }
    EXPECT_EQ(host.end(), kPluginOK);
    return out;
}

TEST_F(TesseraBundle, FadeInStepsFromTheSourceToTheEffect) {
    auto& host = Host();
    host.settings().fadeInFrames = 10;
    const std::vector<int> got = FadeOpacities(host, 100, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 50});
    const std::vector<int> want = {255, 229, 204, 178, 153, 127, 102, 76, 50, 25, -1, -1};
    EXPECT_EQ(got, want);
}

TEST_F(TesseraBundle, FadeOutBringsTheSourceBack) {
    auto& host = Host();
    host.settings().fadeOutFrames = 4;
    EXPECT_EQ(FadeOpacities(host, 100, {95, 96, 97, 98, 99}),
              (std::vector<int>{-1, -1, 63, 127, 191}));
}

TEST_F(TesseraBundle, FadeLengthsAreLimitedByTheClip) {
    auto& host = Host();
    host.settings().fadeInFrames = 80;
    host.settings().fadeOutFrames = 80;
    // Both become 50: frame 49 is in the fade-in, 50 in neither, 51 in the fade-out.
    EXPECT_EQ(FadeOpacities(host, 100, {49, 50, 51}),
              (std::vector<int>{Cut(255 * (1 - 49.0 / 50)), -1, Cut(255 * (1 - 49.0 / 50))}));

    host.settings().fadeInFrames = 150;
    host.settings().fadeOutFrames = 0;
    EXPECT_EQ(FadeOpacities(host, 100, {99}),
              (std::vector<int>{Cut(255 * (1 - 99.0 / 100))})); // fade-in of 100, not 150

    host.settings().fadeInFrames = 0;
    host.settings().fadeOutFrames = 150;
    EXPECT_EQ(FadeOpacities(host, 100, {0, 1}),
              (std::vector<int>{-1, Cut(255 * (1 - 99.0 / 100))})); // fade-out of 100
}

TEST_F(TesseraBundle, FadedFramesBlendTheUntouchedSourceOverTheEffect) {
    auto& host = Host();
    host.settings().fadeInFrames = 4;
    ASSERT_EQ(host.begin(0, 20), kPluginOK);
    ASSERT_EQ(host.frame(0), kPluginOK); // opacity 255: the source itself
    SavedConfig none;
    none.startRel[1] = 0;
    ExpectDestination(ExpectedFrame(0, W, H, none));

    ASSERT_EQ(host.frame(1), kPluginOK); // opacity 191 over the mosaic
    ASSERT_EQ(host.log().blits.back().opacity, 191);
    const std::vector<ARGB> mosaic = ExpectedFrame(1, W, H, SavedConfig{});
    const std::vector<ARGB> source = ExpectedFrame(1, W, H, none);
    std::vector<ARGB> want(mosaic.size());
    for (size_t i = 0; i < want.size(); ++i) {
        using fxhost::BlendByte;
        want[i] = ARGB{
            BlendByte(source[i].a, mosaic[i].a, 191), BlendByte(source[i].r, mosaic[i].r, 191),
            BlendByte(source[i].g, mosaic[i].g, 191), BlendByte(source[i].b, mosaic[i].b, 191)};
    }
    ExpectDestination(want);
    const fxhost::BlitRecord& b = host.log().blits.back();
    EXPECT_EQ(b.srcRect.right, W);
    EXPECT_EQ(b.dstRect.bottom, H);
    EXPECT_EQ(host.end(), kPluginOK);
}

// ---- quality and audio ---------------------------------------------------------------

TEST_F(TesseraBundle, ProxyRenderingsAskForLowQualityUpTo259LinesAndMixNoAudio) {
    auto& host = Host(320, 259);
    host.settings().proxyOnly = true;
    ASSERT_EQ(host.begin(0, 10), kPluginOK);
    ASSERT_EQ(host.frame(0), kPluginOK);
    EXPECT_EQ(host.log().frameRequests.back().quality, kDVLowQuality);
    host.setFrameSize(320, 260);
    ASSERT_EQ(host.frame(1), kPluginOK);
    EXPECT_EQ(host.log().frameRequests.back().quality, kDVHighQuality);
    EXPECT_EQ(host.log().mixes.size(), 0u);

    host.settings().proxyOnly = false;
    host.setFrameSize(320, 259);
    ASSERT_EQ(host.frame(2), kPluginOK);
    EXPECT_EQ(host.log().frameRequests.back().quality, kDVHighQuality);
    EXPECT_EQ(host.log().mixes.size(), 1u);
    EXPECT_EQ(host.end(), kPluginOK);
}

// ---- failures ---------------------------------------------------------------------------

TEST_F(TesseraBundle, FrameWithoutAClipIsBadParamsAndTouchesNothing) {
    auto& host = Host();
    EXPECT_EQ(host.frame(0), kPluginBadParams);
    EXPECT_EQ(host.log().frameRequests.size(), 0u);
    EXPECT_EQ(host.log().releasedFrames.size(), 0u);
}

TEST_F(TesseraBundle, NegativeAbsoluteFrameFetchesNothing) {
    auto& host = Host();
    ASSERT_EQ(host.begin(10, 30), kPluginOK);
    const std::vector<ARGB> before = Destination();
    EXPECT_EQ(host.frame(-11), kPluginOK);
    EXPECT_EQ(host.log().frameRequests.size(), 0u);
    ASSERT_EQ(host.log().releasedFrames.size(), 1u);
    EXPECT_EQ(host.log().releasedFrames[0], -1); // released with the empty cookie
    EXPECT_EQ(host.log().mixes.size(), 0u);
    ExpectDestination(before);
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, GetFrameFailureIsPassedThroughAndTheFrameIsStillReleased) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    host.failures().getFrame = kPluginCantGetNeededFrame;
    EXPECT_EQ(host.frame(3), kPluginCantGetNeededFrame);
    EXPECT_EQ(host.log().releasedFrames.size(), 1u);
    EXPECT_EQ(host.log().mixes.size(), 0u);
    host.failures().releaseFrame = kPluginFailed; // only reported when nothing failed before
    EXPECT_EQ(host.frame(4), kPluginCantGetNeededFrame);
    host.failures().getFrame = kPluginOK;
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, ReleaseFrameFailureIsReportedWhenNothingElseFailed) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    host.failures().releaseFrame = kPluginTryAgainLater;
    EXPECT_EQ(host.frame(3), kPluginTryAgainLater);
    ExpectDestination(ExpectedFrame(3, W, H, SavedConfig{})); // the frame was rendered
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, MixAudioFailureIsPassedThrough) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    host.failures().mixAudio = kPluginOutOfDiskSpace;
    EXPECT_EQ(host.frame(3), kPluginOutOfDiskSpace);
    EXPECT_EQ(host.log().releasedFrames.size(), 1u);
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, BlitFailureEndsTheFrameBeforeTheAudio) {
    auto& host = Host();
    host.settings().fadeInFrames = 5;
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    host.failures().blit = kPluginUnimplemented;
    EXPECT_EQ(host.frame(1), kPluginUnimplemented);
    EXPECT_EQ(host.log().mixes.size(), 0u);
    EXPECT_EQ(host.log().releasedFrames.size(), 1u);
    EXPECT_EQ(host.frame(10), kPluginOK); // unfaded frames need no blit
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, GetFilterInfoFailureIsTheBeginsResult) {
    auto& host = Host();
    host.failures().getFilterInfo = kPluginFailed;
    EXPECT_EQ(host.begin(0, 30), kPluginFailed);
    EXPECT_NE(host.params().clientData, nullptr); // the record is there for the end
    host.failures().getFilterInfo = kPluginOK;
    EXPECT_EQ(host.end(), kPluginOK);
    ExpectNothingLeft();
}

TEST_F(TesseraBundle, FilterInfoWithoutARecordLeavesTheFadesOff) {
    auto& host = Host();
    host.settings().fadeInFrames = 10;
    host.failures().filterInfoNull = true;
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    ASSERT_EQ(host.frame(0), kPluginOK);
    EXPECT_EQ(host.log().blits.size(), 0u);
    EXPECT_EQ(host.log().filterInfoReleases, 0);
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, PerClipRecordThatCannotBeMadeIsOutOfMemory) {
    auto& host = Host();
    host.failures().newPtrFailSizes = {SInt32(sizeof(EffectData))};
    EXPECT_EQ(host.begin(0, 30), kPluginOutOfMemory);
    EXPECT_EQ(host.params().clientData, nullptr);
    EXPECT_EQ(host.log().failedAllocations, 1);
    EXPECT_EQ(host.log().allocations, 1); // nothing else was attempted
}

TEST_F(TesseraBundle, EffectImageOutOfMemoryIsReportedAndLeavesTheFrameUnrendered) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    const std::vector<ARGB> before = Destination();
    toolbox::testing::FailAllocations(1, 1, memFullErr); // the host's frame, then ours
    EXPECT_EQ(host.frame(3), kPluginOutOfMemory);
    ExpectDestination(before);
    EXPECT_EQ(host.log().releasedFrames.size(), 1u);
    EXPECT_EQ(host.log().mixes.size(), 0u);

    toolbox::testing::FailAllocations(1, 1, paramErr);
    EXPECT_EQ(host.frame(4), kPluginFailed);
    ExpectDestination(before);
    EXPECT_EQ(host.end(), kPluginOK);
    ExpectNothingLeft();
}

TEST_F(TesseraBundle, EffectImageFailureDuringAFadeIsNotReportedAsSuccess) {
    auto& host = Host();
    host.settings().fadeInFrames = 5;
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    toolbox::testing::FailAllocations(2, 1, memFullErr); // frame, fade copy, then ours
    EXPECT_EQ(host.frame(2), kPluginOutOfMemory);
    EXPECT_EQ(host.log().blits.size(), 1u); // the fade blit still ran
    EXPECT_EQ(host.log().mixes.size(), 0u);
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, FadeCopyThatCannotBeMadeFailsTheFrame) {
    auto& host = Host();
    host.settings().fadeInFrames = 5;
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    const std::vector<ARGB> before = Destination();
    toolbox::testing::FailAllocations(1, 1, memFullErr); // the fade copy
    EXPECT_EQ(host.frame(2), kPluginFailed);
    ExpectDestination(before);
    EXPECT_EQ(host.log().blits.size(), 0u);
    EXPECT_EQ(host.log().releasedFrames.size(), 1u);

    host.failures().releaseFrame = kPluginCancel; // a release failure comes first
    toolbox::testing::FailAllocations(1, 1, memFullErr);
    EXPECT_EQ(host.frame(3), kPluginCancel);
    host.failures().releaseFrame = kPluginOK;
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, EmptyOrInvertedFrameRectanglesFailWithoutDrawing) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    const std::vector<ARGB> before = Destination();
    for (Rect r : {Rect{0, 0, 0, 0}, Rect{50, 60, 10, 20}, Rect{0, 0, H, -5}}) {
        host.params().frameRect = r;
        host.params().selector = kPlugDoFrame;
        host.params().renderFrame = 1;
        EXPECT_NE(host.call(kPlugDoFrame), kPluginOK);
        ExpectDestination(before);
    }
    host.params().frameRect = Rect{0, 0, H, W};
    EXPECT_EQ(host.end(), kPluginOK);
}

TEST_F(TesseraBundle, NoDestinationFrameIsBadParams) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    host.params().frame = nullptr;
    host.params().renderFrame = 0;
    EXPECT_EQ(host.call(kPlugDoFrame), kPluginBadParams);
    EXPECT_EQ(host.log().frameRequests.size(), 0u);
    host.params().frame = host.destination();
    EXPECT_EQ(host.end(), kPluginOK);
}

// Without its configuration copy a clip cannot render: the begin says so, and the host is
// left holding nothing, whether the per-clip record was made by this begin or reused from a
// begin that had no end.
TEST_F(TesseraBundle, ConfigurationCopyThatCannotBeMadeIsOutOfMemoryAndLeavesNothing) {
    auto& host = Host();
    host.failures().newPtrFailSizes = {SInt32(sizeof(pluginDataRec))};
    EXPECT_EQ(host.begin(0, 30), kPluginOutOfMemory);
    EXPECT_EQ(host.log().failedAllocations, 1);
    ExpectNothingLeft();
    EXPECT_EQ(host.frame(0), kPluginBadParams); // refused, not a dead host
    host.failures().newPtrFailSizes.clear();

    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    ASSERT_NE(host.params().clientData, nullptr);
    host.failures().newPtrFailSizes = {SInt32(sizeof(pluginDataRec))};
    EXPECT_EQ(host.begin(0, 30), kPluginOutOfMemory);
    ExpectNothingLeft();
}

// ---- the placeholder -------------------------------------------------------------------

TEST_F(TesseraBundle, PlaceholderRendersTheBestThumbnailFrame) {
    auto& host = Host();
    host.params().getInfo.bestThumbOffset = 5;
    EXPECT_EQ(host.placeholder(20, 30), kPluginOK);
    ExpectDestination(ExpectedFrame(25, W, H, SavedConfig{}));
    ExpectNothingLeft();
}

TEST_F(TesseraBundle, PlaceholderReturnsTheBeginsResultEvenWhenItsFrameFails) {
    auto& host = Host();
    host.failures().getFrame = kPluginCantGetNeededFrame;
    EXPECT_EQ(host.placeholder(0, 30), kPluginOK);
    EXPECT_EQ(host.log().frameRequests.size(), 1u);
    ExpectNothingLeft();
}

TEST_F(TesseraBundle, PlaceholderWhoseBeginFailsLeavesNothingBehind) {
    auto& host = Host();
    host.failures().getFilterInfo = kPluginTryAgainLater;
    EXPECT_EQ(host.placeholder(0, 30), kPluginTryAgainLater);
    EXPECT_EQ(host.log().frameRequests.size(), 0u);
    ExpectNothingLeft();
}

TEST_F(TesseraBundle, PlaceholderNeverFreesTheHostsLiveClipRecord) {
    auto& host = Host();
    ASSERT_EQ(host.begin(0, 30), kPluginOK);
    void* live = host.params().clientData;
    host.params().selector = kPlugFilePlaceHolder;
    EXPECT_EQ(host.call(kPlugFilePlaceHolder), kPluginOK); // the raw block, record included
    EXPECT_EQ(host.params().clientData, live);
    ASSERT_EQ(host.frame(2), kPluginOK); // the clip goes on with its own record
    ExpectDestination(ExpectedFrame(2, W, H, SavedConfig{}));
    EXPECT_EQ(host.end(), kPluginOK);
    ExpectNothingLeft();
}

} // namespace

// ---- Tessera Motion ----------------------------------------------------------------------

namespace {

class TesseraMotionBundle : public TesseraBundle {
  protected:
    TesseraMotionBundle() : TesseraBundle(TESSERA_MOTION_BUNDLE_PATH) {}
};

// The region of frame k of a clip of n frames, worked out as the weighted mean
// (start x (n - 1 - k) + end x k) / (n - 1), in long double: the same point as "start moved
// toward end by k / (n - 1)" reached another way. For the dyadic fractions below both are
// exact, so the pixels must agree to the last one.
std::vector<double> ReferenceRegion(const SavedConfig& c, int k, int n) {
    std::vector<double> r(4);
    for (int i = 0; i < 4; ++i) {
        r[size_t(i)] = n <= 1 ? c.startRel[i]
                              : double((static_cast<long double>(c.startRel[i]) * (n - 1 - k) +
                                        static_cast<long double>(c.endRel[i]) * k) /
                                       (n - 1));
    }
    return r;
}

TEST_F(TesseraMotionBundle, TheRegionMovesFromStartToEndOverTheClip) {
    if (!FirstTestInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    SavedConfig c;
    const double start[4] = {0.0, 0.25, 0.0, 0.5}, end[4] = {0.5, 1.0, 0.25, 1.125};
    std::copy(start, start + 4, c.startRel);
    std::copy(end, end + 4, c.endRel);
    c.sliders[0] = 50;
    c.sliders[1] = 75;
    WritePrefs(home_, c, "vemto-Motion-Prefs");
    auto& host = Host();

    // Five frames: t = 0, 1/4, 1/2 and 1; frames past the clip keep the end region.
    ASSERT_EQ(host.begin(100, 5), kPluginOK);
    for (SInt32 f : {0, 1, 2, 4, 6}) {
        ASSERT_EQ(host.frame(f), kPluginOK);
        const std::vector<double> r = ReferenceRegion(c, std::min(f, 4), 5);
        ExpectDestination(ExpectedFrame(100 + f, W, H, c, r.data()));
    }
    // The first frame is the start region, the last the end region, and they differ.
    const std::vector<double> mid = ReferenceRegion(c, 2, 5);
    EXPECT_EQ(mid[0], 0.25);
    EXPECT_EQ(mid[3], 0.8125);
    EXPECT_EQ(host.end(), kPluginOK);

    // A clip of one frame shows the start region.
    ASSERT_EQ(host.begin(7, 1), kPluginOK);
    ASSERT_EQ(host.frame(0), kPluginOK);
    ExpectDestination(ExpectedFrame(7, W, H, c));
    EXPECT_EQ(host.end(), kPluginOK);
    ExpectNothingLeft();
}

TEST_F(TesseraMotionBundle, ItsSettingsAndTextsAreItsOwn) {
    if (!FirstTestInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    SavedConfig tessera;
    tessera.startRel[0] = 0.5;
    WritePrefs(home_, tessera);
    const auto readAll = [](const std::filesystem::path& p) {
        std::vector<char> bytes(std::filesystem::file_size(p));
        FILE* f = std::fopen(p.c_str(), "rb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
            std::fclose(f);
        }
        return bytes;
    };
    const std::vector<char> tesseraBefore = readAll(home_.prefsFile());

    // Tessera Motion starts on its own file (made now, with its defaults: the whole frame
    // from start to end) and leaves Tessera's alone.
    auto& host = Host();
    EXPECT_TRUE(std::filesystem::exists(home_.dir() / "vemto-Motion-Prefs"));
    EXPECT_EQ(readAll(home_.prefsFile()), tesseraBefore);
    ASSERT_EQ(host.begin(0, 3), kPluginOK);
    ASSERT_EQ(host.frame(1), kPluginOK);
    ExpectDestination(ExpectedFrame(1, W, H, SavedConfig{}));
    EXPECT_EQ(host.end(), kPluginOK);

    ASSERT_EQ(host.getInfo(30), kPluginOK);
    EXPECT_EQ(std::string(host.params().getInfo3.buttonTitle).rfind("Regions", 0), 0u);
    EXPECT_STREQ(host.params().getInfo2.filterSliders[0].label, "Block width");
}

} // namespace
