// Tests of fxhost_core: loading bundles and driving a plug-in through the host session.
// The plug-in is InvertTest (built beside these tests); its frames come from the
// generated clip, whose pixels the tests compute from the public pattern function.
#include "blend.h"
#include "framesource.h"
#include "hosterror.h"
#include "hostsession.h"
#include "pluginbundle.h"
#include "recordingsession.h"

#include "QuickDraw.h"
#include "TestFiles.h"
#include "ToolboxTesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <vector>

using namespace fxhost;
namespace fs = std::filesystem;

namespace {

const fs::path kBundles = FXHOST_TEST_BUNDLE_DIR;

PluginBundle& Invert() {
    static PluginBundle bundle(kBundles / "InvertTest.bundle");
    return bundle;
}

std::string LoadError(const fs::path& p) {
    try {
        PluginBundle b(p);
    } catch (const HostError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Plugin);
        return e.what();
    }
    return "";
}

// The pixel the test plug-in should leave at (x, y) of frame `index`: the generated
// pattern inverted, with the untouched frame blended back at `opacity` during fades.
std::array<std::uint8_t, 4> Expected(int x, int y, int index, int w, int h, int opacity) {
    const GeneratedPixel p = GeneratedPattern(x, y, index, w, h);
    const std::uint8_t src[4] = {p.a, p.r, p.g, p.b};
    std::array<std::uint8_t, 4> out{};
    for (int c = 0; c < 4; ++c) {
        const int inverted = c == 0 ? src[0] : 255 - src[c];
        out[c] = opacity < 0
                     ? std::uint8_t(inverted)
                     : std::uint8_t((src[c] * opacity + inverted * (255 - opacity) + 127) / 255);
    }
    return out;
}

int CountMismatches(const HostSession& s, int index, int opacity) {
    std::vector<std::uint8_t> px(std::size_t(s.frameWidth()) * s.frameHeight() * 4);
    s.copyDestination(px.data(), s.frameWidth() * 4);
    int bad = 0;
    for (int y = 0; y < s.frameHeight(); ++y) {
        for (int x = 0; x < s.frameWidth(); ++x) {
            const auto want = Expected(x, y, index, s.frameWidth(), s.frameHeight(), opacity);
            const std::uint8_t* got = &px[(std::size_t(y) * s.frameWidth() + x) * 4];
            bad += !std::equal(want.begin(), want.end(), got);
        }
    }
    return bad;
}

} // namespace

// --- bundles -----------------------------------------------------------------------------

TEST(PluginBundle, LoadsBundleAndFindsMain) {
    PluginBundle& b = Invert();
    EXPECT_NE(b.entry(), nullptr);
    EXPECT_EQ(b.identifier(), "org.tessera.fxhost.tests.InvertTest");
    EXPECT_EQ(b.executable().filename(), "InvertTest");
}

TEST(PluginBundle, ClearErrorsForBrokenBundles) {
    EXPECT_NE(LoadError("/nonexistent/Nothing.bundle").find("does not exist"), std::string::npos);

    testfs::TempFolder tmp;
    fs::copy(kBundles / "InvertTest.bundle", tmp.dir() / "Bare.bundle",
             fs::copy_options::recursive);
    fs::remove(tmp.dir() / "Bare.bundle/Contents/Info.plist");
    EXPECT_NE(LoadError(tmp.dir() / "Bare.bundle").find("no Contents/Info.plist"),
              std::string::npos);

    EXPECT_NE(LoadError(kBundles / "NoMain.bundle").find("exports no 'main'"), std::string::npos);

    fs::copy(kBundles / "InvertTest.bundle", tmp.dir() / "NoExe.bundle",
             fs::copy_options::recursive);
    fs::remove(tmp.dir() / "NoExe.bundle/Contents/Linux/InvertTest");
    EXPECT_NE(LoadError(tmp.dir() / "NoExe.bundle").find("no executable"), std::string::npos);
}

// A bundle refused for want of its entry is unloaded again, not left mapped.
TEST(PluginBundle, RefusedExecutableIsUnloaded) {
    const fs::path exe = kBundles / "NoMain.bundle" / "Contents" / "Linux" / "NoMain";
    ASSERT_TRUE(fs::exists(exe));
    EXPECT_NE(LoadError(kBundles / "NoMain.bundle").find("exports no 'main'"), std::string::npos);
    void* still = dlopen(exe.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr) << "the refused plug-in stays loaded";
    if (still) {
        dlclose(still);
    }
}

TEST(PluginBundle, LocateOrder) {
    unsetenv("FXHOST_PLUGIN_PATH");
    EXPECT_EQ(PluginBundle::Locate(std::nullopt, "/opt/bin"), fs::path("/opt/bin/Tessera.bundle"));
    setenv("FXHOST_PLUGIN_PATH", "/env/P.bundle", 1);
    EXPECT_EQ(PluginBundle::Locate(std::nullopt, "/opt/bin"), fs::path("/env/P.bundle"));
    EXPECT_EQ(PluginBundle::Locate(fs::path("/arg/Q.bundle"), "/opt/bin"),
              fs::path("/arg/Q.bundle"));
    unsetenv("FXHOST_PLUGIN_PATH");

    // A bare name is a bundle beside the program, unless the working folder has one by
    // that name (the tests run beside InvertTest.bundle) or the name holds a slash.
    testfs::TempFolder self;
    fs::create_directory(self.dir() / "Beside.bundle");
    fs::create_directory(self.dir() / "InvertTest.bundle");
    EXPECT_EQ(PluginBundle::Locate(fs::path("Beside"), self.dir()), self.dir() / "Beside.bundle");
    EXPECT_EQ(PluginBundle::Locate(fs::path("Beside.bundle"), self.dir()),
              self.dir() / "Beside.bundle");
    EXPECT_EQ(PluginBundle::Locate(fs::path("Elsewhere"), self.dir()), fs::path("Elsewhere"));
    EXPECT_EQ(PluginBundle::Locate(fs::path("./Beside"), self.dir()), fs::path("./Beside"));
    if (fs::exists("InvertTest.bundle")) {
        EXPECT_EQ(PluginBundle::Locate(fs::path("InvertTest.bundle"), self.dir()),
                  fs::path("InvertTest.bundle"));
    }

    // The installed tree: bin/fxhost with its bundles in lib/tessera. Beside the program
    // still comes first, for the default bundle as for a bare name.
    testfs::TempFolder prefix;
    const fs::path bin = prefix.dir() / "bin", lib = prefix.dir() / "lib" / "tessera";
    fs::create_directories(bin);
    fs::create_directories(lib / "Tessera.bundle");
    fs::create_directories(lib / "Motion.bundle");
    fs::create_directories(lib / "Both.bundle");
    EXPECT_EQ(PluginBundle::Locate(std::nullopt, bin), lib / "Tessera.bundle");
    EXPECT_EQ(PluginBundle::Locate(fs::path("Motion"), bin), lib / "Motion.bundle");
    EXPECT_EQ(PluginBundle::Locate(fs::path("Motion.bundle"), bin), lib / "Motion.bundle");
    EXPECT_EQ(PluginBundle::Locate(fs::path("Absent"), bin), fs::path("Absent"));
    fs::create_directories(bin / "Tessera.bundle");
    fs::create_directories(bin / "Both.bundle");
    EXPECT_EQ(PluginBundle::Locate(std::nullopt, bin), bin / "Tessera.bundle");
    EXPECT_EQ(PluginBundle::Locate(fs::path("Both"), bin), bin / "Both.bundle");
    setenv("FXHOST_PLUGIN_PATH", "/env/P.bundle", 1);
    EXPECT_EQ(PluginBundle::Locate(std::nullopt, bin), fs::path("/env/P.bundle"));
    unsetenv("FXHOST_PLUGIN_PATH");
}

// --- generated frames --------------------------------------------------------------------

TEST(GeneratedFrameSource, FillsRequestedSizeWithPatternAndRefusesOutsideClip) {
    GeneratedFrameSource src(64, 48, 5);
    std::vector<std::uint8_t> buf(40 * 30 * 4 + 30 * 16);
    const PixelTarget t{buf.data(), 40 * 4 + 16, 40, 30};
    ASSERT_TRUE(src.fetch(3, t, ScaleQuality::High));
    const GeneratedPixel p = GeneratedPattern(17, 11, 3, 40, 30);
    const std::uint8_t* got = buf.data() + 11 * t.rowBytes + 17 * 4;
    EXPECT_EQ(got[0], 255);
    EXPECT_EQ(got[1], p.r);
    EXPECT_EQ(got[2], p.g);
    EXPECT_EQ(got[3], p.b);
    EXPECT_FALSE(src.fetch(5, t, ScaleQuality::High));
    EXPECT_FALSE(src.fetch(-1, t, ScaleQuality::High));
    EXPECT_NE(src.lastError().find("outside"), std::string::npos);
}

TEST(GeneratedFrameSource, PatternMovesBetweenFrames) {
    int differing = 0;
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 128; ++x) {
            const auto a = GeneratedPattern(x, y, 10, 128, 72),
                       b = GeneratedPattern(x, y, 11, 128, 72);
            differing += a.r != b.r || a.g != b.g || a.b != b.b;
        }
    }
    EXPECT_GT(differing, 100);
}

// --- the session -------------------------------------------------------------------------

TEST(HostSession, DescriptionIsReadBack) {
    GeneratedFrameSource src(64, 48, 20);
    RecordingSession s(Invert(), src);
    s.params().getInfo.pluginFlags = 1;
    ASSERT_EQ(s.getInfo(120), 0);
    const _PluginParams& p = s.params();
    EXPECT_EQ(p.getInfo.pluginType, kPluginFilterType);
    EXPECT_EQ(p.getInfo.pluginFlags, 0x1381u);
    EXPECT_EQ(p.getInfo.framesToBeRendered, 120);
    EXPECT_STREQ(p.getInfo2.filterSliders[0].label, "Strength");
    EXPECT_STREQ(p.getInfo3.buttonTitle, "Invert settings");
}

TEST(HostSession, RendersClipAndRecordsWhatCallbacksSaw) {
    GeneratedFrameSource src(61, 37, 6); // odd sizes: row padding and stride show
    RecordingSession s(Invert(), src);
    s.settings().sliders[0] = 0.1f;
    s.settings().sliders[1] = 0.2f;
    s.settings().sliders[2] = 0.3f;
    ASSERT_EQ(s.begin(2, 4), 0);
    EXPECT_NE(s.params().clientData, nullptr);
    EXPECT_EQ(s.log().filterInfoRequests, 1);
    EXPECT_EQ(s.log().filterInfoReleases, 1);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(s.frame(i), 0);
        EXPECT_EQ(CountMismatches(s, 2 + i, -1), 0) << "frame " << i;
    }
    ASSERT_EQ(s.end(), 0);
    EXPECT_EQ(s.params().clientData, nullptr);

    const CallbackLog& log = s.log();
    ASSERT_EQ(log.frameRequests.size(), 4u);
    EXPECT_EQ(log.frameRequests[3].index, 5);
    EXPECT_EQ(log.frameRequests[3].width, 61);
    EXPECT_EQ(log.frameRequests[3].height, 37);
    EXPECT_EQ(log.frameRequests[3].quality, kDVHighQuality);
    EXPECT_EQ(log.releasedFrames, (std::vector<SInt32>{2, 3, 4, 5}));
    ASSERT_EQ(log.mixes.size(), 4u);
    EXPECT_EQ(log.mixes[1].frameIndex, 3);
    EXPECT_EQ(log.mixes[1].level, 256);
    EXPECT_EQ(log.allocations, log.disposals) << "the per-clip record came back";
    EXPECT_EQ(log.framesFreedByHost, 4);
    EXPECT_EQ(s.framesOutstanding(), 0);
}

TEST(HostSession, TellsTheHostWhatTheLastCallMixedAndFetched) {
    // The plain session, as fxhost renders with it: no log, only what the host needs.
    GeneratedFrameSource src(32, 24, 6);
    HostSession s(Invert(), src);
    ASSERT_EQ(s.begin(1, 4), 0);
    ASSERT_EQ(s.frame(1), 0);
    EXPECT_EQ(s.mixedLevel(2), 256);
    EXPECT_EQ(s.mixedLevel(1), std::nullopt) << "another frame's sound was not mixed";
    EXPECT_EQ(s.lastGetFrameResult(), kPluginOK);
    s.settings().proxyOnly = true;
    ASSERT_EQ(s.frame(2), 0);
    EXPECT_EQ(s.mixedLevel(3), std::nullopt) << "proxies mix no sound; each call starts afresh";
    s.settings().proxyOnly = false;
    EXPECT_NE(s.frame(9), 0) << "frame 10 is outside the clip";
    EXPECT_EQ(s.lastGetFrameResult(), kPluginCantGetNeededFrame);
    EXPECT_NE(s.lastFrameError().find("outside"), std::string::npos) << s.lastFrameError();
    ASSERT_EQ(s.frame(0), 0);
    EXPECT_EQ(s.lastFrameError(), "");
    s.end();
}

TEST(HostSession, FadesBlendTheUntouchedFrameBack) {
    GeneratedFrameSource src(40, 30, 100);
    RecordingSession s(Invert(), src);
    s.settings().fadeInFrames = 10;
    s.settings().fadeOutFrames = 4;
    ASSERT_EQ(s.begin(0, 100), 0);
    const std::vector<int> fadeIn{255, 229, 204, 178, 153, 127, 102, 76, 50, 25};
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(s.frame(i), 0);
        int op = -1;
        if (i < 10) {
            op = fadeIn[i];
        } else if (i >= 97) {
            op = std::vector<int>{63, 127, 191}[i - 97];
        }
        if (i < 12 || i > 95) {
            EXPECT_EQ(CountMismatches(s, i, op), 0) << "frame " << i;
        }
    }
    s.end();
    ASSERT_EQ(s.log().blits.size(), 13u);
    EXPECT_EQ(s.log().blits[8].opacity, 50);
    EXPECT_EQ(s.log().blits[12].opacity, 191);
}

TEST(HostSession, ProxyRenderingsAskLowQualityAndMixNoAudio) {
    GeneratedFrameSource src(80, 259, 3);
    RecordingSession s(Invert(), src);
    s.settings().proxyOnly = true;
    s.begin(0, 3);
    s.frame(0);
    s.setFrameSize(80, 260);
    s.frame(1);
    s.end();
    ASSERT_EQ(s.log().frameRequests.size(), 2u);
    EXPECT_EQ(s.log().frameRequests[0].quality, kDVLowQuality);
    EXPECT_EQ(s.log().frameRequests[1].quality, kDVHighQuality);
    EXPECT_TRUE(s.log().mixes.empty());
}

TEST(HostSession, ForcedCallbackFailuresReachTheHostAndFramesAreStillReleased) {
    GeneratedFrameSource src(32, 24, 10);
    RecordingSession s(Invert(), src);
    s.failures().getFilterInfo = kPluginTryAgainLater;
    EXPECT_EQ(s.begin(0, 10), kPluginTryAgainLater);
    s.failures().getFilterInfo = kPluginOK;

    s.failures().getFrame = kPluginCantGetNeededFrame;
    EXPECT_EQ(s.frame(0), kPluginCantGetNeededFrame);
    EXPECT_EQ(s.log().releasedFrames.back(), -1) << "release with the empty cookie";
    s.failures().getFrame = kPluginOK;

    s.failures().mixAudio = kPluginOutOfDiskSpace;
    EXPECT_EQ(s.frame(1), kPluginOutOfDiskSpace);
    EXPECT_EQ(s.log().releasedFrames.back(), 1);
    s.failures().mixAudio = kPluginOK;

    s.failures().releaseFrame = kPluginFinished;
    EXPECT_EQ(s.frame(2), kPluginFinished);
    s.failures().releaseFrame = kPluginOK;

    s.failures().getFrameFailIndex = {4};
    EXPECT_EQ(s.frame(3), 0);
    EXPECT_EQ(s.frame(4), kPluginCantGetNeededFrame);
    s.failures().getFrameFailIndex.clear();

    s.failures().newPtrFailSizes = {20}; // the test plug-in's per-clip record
    s.end();
    EXPECT_EQ(s.begin(0, 10), kPluginOutOfMemory);
    EXPECT_EQ(s.params().clientData, nullptr);
    EXPECT_EQ(s.framesOutstanding(), 0);
}

TEST(HostSession, FadeBlitFailurePassesThrough) {
    GeneratedFrameSource src(32, 24, 10);
    RecordingSession s(Invert(), src);
    s.settings().fadeInFrames = 5;
    s.failures().blit = kPluginFailed;
    s.begin(0, 10);
    EXPECT_EQ(s.frame(0), kPluginFailed);
    EXPECT_EQ(s.frame(6), 0) << "no fade, no blit";
    s.end();
}

TEST(HostSession, FramesDisposedByThePluginAreNeverFreedTwice) {
    GeneratedFrameSource src(64, 48, 10);
    const long before = toolbox::testing::GetLiveCounts().gworlds;
    {
        RecordingSession s(Invert(), src);
        EXPECT_EQ(s.customButton(3), 0);
        ASSERT_EQ(s.log().frameRequests.size(), 2u);
        EXPECT_EQ(s.log().frameRequests[0].width, 720);
        EXPECT_EQ(s.log().framesDisposedByPlugin, 1);
        EXPECT_EQ(s.log().framesFreedByHost, 1);
        EXPECT_EQ(s.framesOutstanding(), 0);
        EXPECT_EQ(toolbox::testing::GetLiveCounts().gworlds, before + 1) << "only the destination";
    }
    EXPECT_EQ(toolbox::testing::GetLiveCounts().gworlds, before);
}

TEST(HostSession, PlaceholderLeavesAnOpenClipAlone) {
    GeneratedFrameSource src(50, 40, 30);
    RecordingSession s(Invert(), src);
    s.params().getInfo.bestThumbOffset = 7;
    ASSERT_EQ(s.begin(0, 30), 0);
    void* clip = s.params().clientData;
    EXPECT_EQ(s.placeholder(0, 30), 0);
    EXPECT_EQ(s.params().clientData, clip);
    EXPECT_EQ(CountMismatches(s, 7, -1), 0);
    EXPECT_EQ(s.frame(0), 0) << "the clip's record is still valid";
    s.end();
}

TEST(HostSession, FrameSizeBeyondSixteenBitsIsRefused) {
    GeneratedFrameSource src(64, 48, 1);
    RecordingSession s(Invert(), src);
    try {
        s.setFrameSize(40000, 100);
        FAIL() << "accepted a 40000-pixel frame";
    } catch (const HostError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Input);
        EXPECT_NE(std::string(e.what()).find("16-bit"), std::string::npos);
    }
    EXPECT_EQ(s.frameWidth(), 64);
}

TEST(HostSession, DispatcherSeesVersionAndNullBlock) {
    GeneratedFrameSource src(16, 16, 1);
    RecordingSession s(Invert(), src);
    EXPECT_EQ(s.callWithNullBlock(kPlugGetInfo), kPluginBadParams);
    s.params().interfaceVersion = 3;
    EXPECT_EQ(s.call(kPlugGetInfo), kPluginAppIsTooOld);
}

TEST(HostSession, RendersIntoAttachedMemory) {
    GeneratedFrameSource src(33, 20, 4);
    RecordingSession s(Invert(), src);
    std::vector<std::uint8_t> mine(33 * 4 * 20, 0);
    ASSERT_EQ(s.begin(0, 4), 0);
    s.attachDestination(mine.data(), 33 * 4);
    ASSERT_EQ(s.frame(2), 0);
    s.end();
    const GeneratedPixel p = GeneratedPattern(5, 7, 2, 33, 20);
    const std::uint8_t* got = &mine[(7 * 33 + 5) * 4];
    EXPECT_EQ(got[0], 255);
    EXPECT_EQ(got[1], 255 - p.r);
    EXPECT_EQ(got[3], 255 - p.b);
    s.setFrameSize(33, 20);
    EXPECT_NE(s.destinationPixels(), mine.data()) << "setFrameSize ends the attachment";
}

// A session destroyed with its clip open (an interrupted render) ends the clip on a frame
// of its own: the caller's memory may already be gone by then.
TEST(HostSession, ClipEndedByTheDestructorNeverSeesTheCallersMemory) {
    GeneratedFrameSource src(16, 8, 2);
    std::vector<std::uint8_t> mine(16 * 4 * 8, 7);
    setenv("INVERT_TEST_CLEAR_AT_END", "1", 1);
    {
        RecordingSession s(Invert(), src);
        ASSERT_EQ(s.begin(0, 2), 0);
        s.attachDestination(mine.data(), 16 * 4);
        ASSERT_EQ(s.frame(0), 0);
    }
    unsetenv("INVERT_TEST_CLEAR_AT_END");
    EXPECT_EQ(std::count(mine.begin(), mine.end(), 0), 0) << "the clip's end wrote into it";
}

TEST(GeneratedFrameSource, EveryPixelIsThePatternAtAnySize) {
    for (auto [w, h] :
         {std::pair{1280, 720}, std::pair{97, 61}, std::pair{7, 3}, std::pair{1, 1}}) {
        GeneratedFrameSource src(w, h, 200);
        const std::ptrdiff_t rb = w * 4 + 20;
        std::vector<std::uint8_t> buf(std::size_t(rb) * h);
        for (std::int64_t f : {0, 1, 44, 45, 46, 89, 137, 199}) {
            ASSERT_TRUE(src.fetch(f, {buf.data(), rb, w, h}, ScaleQuality::High));
            int bad = 0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const GeneratedPixel p = GeneratedPattern(x, y, f, w, h);
                    const std::uint8_t* got = &buf[std::size_t(y * rb + 4 * x)];
                    bad += got[0] != p.a || got[1] != p.r || got[2] != p.g || got[3] != p.b;
                }
            }
            EXPECT_EQ(bad, 0) << w << "x" << h << " frame " << f;
        }
    }
}
