// x11_configure_test.cpp - the dialog in a real window under an X server (one that
// tests/run-under-xvfb.sh starts): fxhost configure opens it on a generated clip, xdotool drags the region's
// bottom-right handle with the real pointer and presses Return, and the preferences file
// must then hold the dragged region.
#include "DataHandling.h"
#include "TestSupport.h"
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

std::string Output(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p) != nullptr) {
            out += buf;
        }
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

// The first frame of a clip as RGBA bytes, decoded by the ffmpeg program.
std::vector<unsigned char> FirstFrameRGBA(const std::string& clip) {
    std::vector<unsigned char> bytes;
    const std::string cmd =
        "ffmpeg -v error -i " + clip + " -frames:v 1 -f rawvideo -pix_fmt rgba - 2>/dev/null";
    if (FILE* p = popen(cmd.c_str(), "r")) {
        unsigned char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
            bytes.insert(bytes.end(), buf, buf + n);
        }
        pclose(p);
    }
    return bytes;
}

TEST(RealWindow, DraggingTheCornerWithTheRealMouseSavesTheRegionOnOK) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "needs an X server (run through tests/run-under-xvfb.sh)";
    }
    tessera_test::TempConfigHome home;
    const std::string fxhost = FXHOST_PATH;
    const std::string clip = (home.dir() / "clip.mkv").string();
    // The clip comes from ffmpeg's test source, not from fxhost: a clip that already went
    // through the default mosaic would not change under it again.
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=30 -frames:v 12 "
                           "-c:v ffv1 -pix_fmt bgra -y " +
                           clip + " >/dev/null 2>&1")
                              .c_str()),
              0);

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

    int status = -1;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(child, &status, WNOHANG) == child) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (i == 99) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the dialog did not close on Return";
        }
    }
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
