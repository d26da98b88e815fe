// motion_x11_configure_test.cpp - Tessera Motion's dialog in a real window under an X server
// (one that tests/run-under-xvfb.sh starts): tessera-config saves a start and an end region,
// fxhost configure opens the dialog on a generated clip, xdotool clicks End, drags the end
// region with the real pointer and clicks OK; tessera-config must then show the start region
// as it was and the end region moved.
#include "X11Support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using x11_test::Output;

TEST(MotionRealWindow, EndClickedAndDraggedWithTheRealMouseIsSavedOnOKAndStartIsKept) {
    if (std::getenv("DISPLAY") == nullptr) {
        GTEST_SKIP() << "needs an X server (run through tests/run-under-xvfb.sh)";
    }
    char dirTemplate[] = "/tmp/tessera-motion-x11-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string config =
        std::string(TESSERA_CONFIG_PATH) + " --plugin motion --prefs-dir " + dir;
    const std::string clip = dir + "/clip.mkv";
    ASSERT_TRUE(x11_test::MakeTestClip(clip, 12));
    // Start: left 0.1, top 0.1, 0.3 x 0.3; end: left 0.5, top 0.5, 0.4 x 0.4. In the NTSC
    // preview (720 x 480 at (16, 16)) the end region is (376, 256)-(664, 448).
    ASSERT_EQ(std::system((config + " set --region 0.1,0.1,0.3,0.3 --end-region 0.5,0.5,0.4,0.4 "
                                    "--format ntsc >/dev/null")
                              .c_str()),
              0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsetenv("QT_QPA_PLATFORM");
        execl(FXHOST_PATH, FXHOST_PATH, "configure", clip.c_str(), "--plugin",
              TESSERA_MOTION_BUNDLE_PATH, "--prefs-dir", dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string win =
        Output("xdotool search --sync --onlyvisible --name 'Tessera Motion' | head -1");
    ASSERT_FALSE(win.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // The bottom row of the NTSC window (y 548 to 578): the End button's circle near
    // (576, 563), OK at (962, 548)-(1052, 578). The drag takes the end region by its inside,
    // 50 pixels left and 40 up.
    const std::string w = " --window " + win + " ";
    const std::string moves = "xdotool mousemove" + w + "576 563 sleep 0.2 click 1 sleep 0.4 " +
                              "mousemove" + w + "500 350 sleep 0.2 mousedown 1 sleep 0.2 " +
                              "mousemove" + w + "480 330 sleep 0.2 mousemove" + w +
                              "450 310 sleep 0.3 mouseup 1 sleep 0.3 " + "mousemove" + w +
                              "1007 563 sleep 0.2 click 1";
    EXPECT_EQ(std::system(moves.c_str()), 0);
    const int status = x11_test::WaitOrKill(child);
    ASSERT_NE(status, -1) << "the dialog did not close on OK";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    const std::string text = Output(config + " show --json");
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << text;
    const nlohmann::json& start = json.at("region");
    const nlohmann::json& end = json.at("endRegion");
    EXPECT_NEAR(start.at("left").get<double>(), 0.1, 1e-9) << text;
    EXPECT_NEAR(start.at("top").get<double>(), 0.1, 1e-9) << text;
    EXPECT_NEAR(start.at("width").get<double>(), 0.3, 1e-9) << text;
    EXPECT_NEAR(start.at("height").get<double>(), 0.3, 1e-9) << text;
    EXPECT_NEAR(end.at("left").get<double>() * 720, 360 - 50, 2) << text;
    EXPECT_NEAR(end.at("top").get<double>() * 480, 240 - 40, 2) << text;
    EXPECT_NEAR(end.at("width").get<double>(), 0.4, 1e-9) << text;
    EXPECT_NEAR(end.at("height").get<double>(), 0.4, 1e-9) << text;
    std::system(("rm -rf " + dir).c_str());
}

} // namespace
