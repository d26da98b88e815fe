// The configuration dialog opened and closed 200 times, as the host's button does, through
// its real nib windows on Qt's offscreen platform, left alternately with OK and Cancel.
// After the first round (which starts Qt and fills its caches) nothing may accumulate:
// the toolbox holds the same frames, images, contexts, handles and blocks after every
// round, and the process's memory stays within a small margin of what it was. Built with
// the sanitizers, LeakSanitizer checks that every byte is freed.
#include "DialogFixture.h"

#include "PlugInCore.h"
#include "ToolboxTesting.h"
#include "configdlghandler.h"
#include "prefsloader.h"

#include <fstream>
#include <string>

namespace {

using namespace dialog_test;
namespace ui = toolbox::ui::testing;

long RssKB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

bool SameCounts(const toolbox::testing::LiveCounts& a, const toolbox::testing::LiveCounts& b) {
    return a.ptrs == b.ptrs && a.handles == b.handles && a.gworlds == b.gworlds &&
           a.images == b.images && a.contexts == b.contexts && a.colorSpaces == b.colorSpaces &&
           a.providers == b.providers;
}

class DialogCycles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ui::StartWindowing());
        ASSERT_NE(TesseraBundle(), nullptr);
        ResetConfig(&config, true);
        EnsurePrefsFile();
        ui::ClearScriptedAnswers();
    }
    void TearDown() override {
        CGImageRelease(config.theOriginalImage);
        CGImageRelease(config.theRendered);
    }

    // One press of the host's button, left with the command given.
    void Round(OSType leaveWith, SInt16 sliderValue) {
        RunScript({[leaveWith] {
            ui::PostCommand(gConfigWorkSpace.theWindow, leaveWith);
            ui::ProcessEvents();
        }});
        config.sliders[0] = sliderValue; // a change for OK to save and Cancel to undo
        GWorldPtr shown = nullptr;
        const Rect bounds{0, 0, 480, 720};
        NewGWorld(&shown, 32, &bounds, nullptr, nullptr, 0);
        FrameHost::Fill(shown, 0);
        gEngineData = &config;
        ConfigurePlugIn(&config, shown, &host.params(), 0, host.frameCount);
        gEngineData = nullptr;
        DisposeGWorld(shown);
        host.leases.clear();
        host.requested.clear();
    }

    tessera_test::TempConfigHome home;
    pluginDataRec config{};
    FrameHost host{30};
};

TEST_F(DialogCycles, TwoHundredOpenAndCloseCyclesAccumulateNothing) {
    constexpr OSType kOK = FOUR_CHAR_CODE("ok  ");
    constexpr OSType kCancel = FOUR_CHAR_CODE("not!");
    Round(kOK, 20);
    const auto after1 = toolbox::testing::GetLiveCounts();
    const long rss1 = RssKB();
    long rss10 = 0;
    for (int round = 2; round <= 200; ++round) {
        Round(round % 2 == 0 ? kCancel : kOK, SInt16(10 + round % 50));
        ASSERT_TRUE(SameCounts(toolbox::testing::GetLiveCounts(), after1)) << "round " << round;
        if (round == 10) {
            rss10 = RssKB();
        }
    }
    const long rss200 = RssKB();
    RecordProperty("rssAfterRound1KB", int(rss1));
    RecordProperty("rssAfterRound10KB", int(rss10));
    RecordProperty("rssAfterRound200KB", int(rss200));
    std::printf("resident memory after round 1: %ld kB, 10: %ld kB, 200: %ld kB\n", rss1, rss10,
                rss200);
    // Qt settles its caches in the first rounds; from then on the memory must not grow with
    // the number of rounds. Under AddressSanitizer freed memory is held in quarantine, so
    // resident memory says nothing there; LeakSanitizer checks every byte at exit instead.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(rss200, rss10 + rss10 / 10);
#endif
    // The last round was OK: its change is in the preferences file.
    pluginDataRec back{};
    ResetConfig(&back, true);
    ASSERT_TRUE(ReadConfig(&back));
    EXPECT_EQ(back.sliders[0], SInt16(10 + 199 % 50));
}

} // namespace
