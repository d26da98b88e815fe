// x11_configure_test.cpp - the dialog in a real window under an X server (run through
// xvfb-run): fxhost configure opens it on a generated clip, xdotool drags the region's
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
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

TEST(RealWindow, DraggingTheCornerWithTheRealMouseSavesTheRegionOnOK) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "needs an X server (run through xvfb-run)";
    }
    tessera_test::TempConfigHome home;
    const std::string fxhost = FXHOST_PATH;
    const std::string clip = (home.dir() / "clip.mkv").string();
    ASSERT_EQ(std::system((fxhost + " render --size 320x240 --frames 0:12 --lossless --quiet -o " +
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
}

} // namespace
