// x11_configure_test.cpp - the dialog in a real window under an X server (one that
// tests/run-under-xvfb.sh starts): fxhost configure opens it on a generated clip, xdotool drags the
// region's bottom-right handle with the real pointer and presses Return, and the preferences file
// must then hold the dragged region.
#include "DataHandling.h"
#include "TestSupport.h"
#include "X11Support.h"
#include "prefsloader.h"
#include "relrects.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using x11_test::FirstFrameRGBA;
using x11_test::Output;

TEST(RealWindow, DraggingTheCornerWithTheRealMouseSavesTheRegionOnOK) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "needs an X server (run through tests/run-under-xvfb.sh)";
    }
    tessera_test::TempConfigHome home;
    const std::string fxhost = FXHOST_PATH;
    const std::string clip = (home.dir() / "clip.mkv").string();
    ASSERT_TRUE(x11_test::MakeTestClip(clip, 12));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsetenv("QT_QPA_PLATFORM");
        execl(fxhost.c_str(), fxhost.c_str(), "configure", clip.c_str(), "--plugin",
              TESSERA_BUNDLE_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string win =
        Output("xdotool search --sync --onlyvisible --name 'Tessera' | head -1");
    ASSERT_FALSE(win.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // The NTSC window's preview is 720 x 480 at (16, 16); the default region is the whole
    // frame, so its bottom-right handle is at (736, 496).
    const std::string moves = "xdotool mousemove --window " + win + " 733 493 sleep 0.2 " +
                              "mousedown 1 sleep 0.2 mousemove --window " + win +
                              " 600 400 sleep 0.2 mousemove --window " + win +
                              " 556 376 sleep 0.3 mouseup 1 sleep 0.3 key --window " + win +
                              " Return";
    EXPECT_EQ(std::system(moves.c_str()), 0);

    const int status = x11_test::WaitOrKill(child);
    ASSERT_NE(status, -1) << "the dialog did not close on Return";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    pluginDataRec saved{};
    ResetConfig(&saved, true);
    ASSERT_TRUE(ReadConfig(&saved));
    const Rect r = Rel2Rect(saved.startRel, Rect{0, 0, 480, 720});
    // 736 - 556 = 180 pixels in from the right, 496 - 376 = 120 up from the bottom.
    EXPECT_NEAR(r.right, 720 - 180, 3);
    EXPECT_NEAR(r.bottom, 480 - 120, 3);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);

    // The next render uses the saved region: outside it (the clip's bottom-right corner) the
    // rendered frame is the source, inside it the mosaic changes pixels.
    const std::string rendered = (home.dir() / "rendered.mkv").string();
    ASSERT_EQ(std::system((fxhost + " render " + clip + " --lossless --quiet -o " + rendered +
                           " --plugin " + TESSERA_BUNDLE_PATH + " >/dev/null 2>&1")
                              .c_str()),
              0);
    const std::vector<unsigned char> src = FirstFrameRGBA(clip), out = FirstFrameRGBA(rendered);
    constexpr int W = 320, H = 240;
    ASSERT_EQ(src.size(), size_t(W) * H * 4);
    ASSERT_EQ(out.size(), src.size());
    const Rect region = Rel2Rect(saved.startRel, Rect{0, 0, H, W});
    size_t outsideDiffer = 0, insideDiffer = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const size_t i = (size_t(y) * W + x) * 4;
            const bool differs = std::memcmp(&src[i], &out[i], 4) != 0;
            const bool inside = x < region.right && y < region.bottom;
            (inside ? insideDiffer : outsideDiffer) += differs;
        }
    }
    EXPECT_EQ(outsideDiffer, 0u);
    EXPECT_GT(insideDiffer, 0u);
}

} // namespace
