// Tests of tessera-config and fxhost --prefs-dir, through the programs: what set writes the
// plug-in's storage code reads back, refused values leave the file as it was, a damaged
// file is reported and kept, and a render with --prefs-dir takes the settings from there;
// for Tessera Motion (--plugin motion) the same with its own file and its end region.
#include "PluginDefines.h"
#include "TestSupport.h"
#include "prefsloader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

const fs::path kTool = TESSERA_CONFIG_PROGRAM;
const fs::path kFxhost = FXHOST_PROGRAM;

struct ToolRun {
    int status;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

class ConfigTool : public ::testing::Test {
  protected:
    // The user's own Preferences folder is the fixture's XDG_CONFIG_HOME; DIR is another.
    tessera_test::TempConfigHome home_;
    fs::path dir_ = home_.dir() / "job";

    ToolRun Tool(const std::string& args) {
        const fs::path out = home_.dir() / "out.txt", err = home_.dir() / "err.txt";
        const int st = std::system(("'" + kTool.string() + "' " + args + " >'" + out.string() +
                                    "' 2>'" + err.string() + "'")
                                       .c_str());
        return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, Slurp(out), Slurp(err)};
    }
    std::string JobFile(const char* name = cPrefsFileName) const { return (dir_ / name).string(); }

    // The record in DIR, read by the plug-in's own code.
    bool ReadJob(pluginDataRec& config, const char* name = cPrefsFileName) {
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        const bool ok = ReadConfig(&config, name);
        setenv("XDG_CONFIG_HOME", home_.dir().c_str(), 1);
        return ok;
    }

    // A lossless 64 x 32 clip of `frames` frames of noise, rendered by fxhost through
    // `bundle` with the settings in DIR; the frames before and after, as 24-bit RGB.
    void RenderThrough(const std::string& bundle, int frames, std::string& before,
                       std::string& after) {
        const fs::path in = home_.dir() / "in.mkv", out = home_.dir() / "out.mkv";
        const fs::path inRaw = home_.dir() / "in.rgb", outRaw = home_.dir() / "out.rgb";
        const std::string q = "'";
        ASSERT_EQ(
            std::system(("ffmpeg -v error -nostdin -y -f lavfi -i "
                         "\"nullsrc=size=64x32:rate=25,geq=r='random(1)*255':g='X*4':b='Y*8'\" "
                         "-frames:v " +
                         std::to_string(frames) + " -pix_fmt bgr0 -c:v ffv1 " + q + in.string() + q)
                            .c_str()),
            0);
        ASSERT_EQ(std::system((q + kFxhost.string() + "' render '" + in.string() + "' -o '" +
                               out.string() + "' --lossless --quiet --plugin '" + bundle +
                               "' --prefs-dir '" + dir_.string() + q)
                                  .c_str()),
                  0);
        for (const auto& [clip, raw] : {std::pair{in, inRaw}, std::pair{out, outRaw}}) {
            ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -y -i '" + clip.string() +
                                   "' -f rawvideo -pix_fmt rgb24 '" + raw.string() + q)
                                      .c_str()),
                      0);
        }
        before = Slurp(inRaw);
        after = Slurp(outRaw);
        ASSERT_EQ(before.size(), size_t(64 * 32 * 3 * frames));
        ASSERT_EQ(after.size(), before.size());
    }
};

bool HaveFfmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
}

// Bytes that differ in each column of 64 x 32 x RGB frame `frame`.
std::vector<int> ChangedPerColumn(const std::string& a, const std::string& b, int frame) {
    std::vector<int> changed(64);
    const size_t base = size_t(frame) * 64 * 32 * 3;
    for (size_t i = 0; i < size_t(64 * 32 * 3); ++i) {
        changed[(i / 3) % 64] += a[base + i] != b[base + i];
    }
    return changed;
}

TEST_F(ConfigTool, SetWritesTheRecordThePlugInReads) {
    ToolRun r = Tool("--prefs-dir '" + dir_.string() +
                     "' set --region 0.125,0.25,0.5,0.375 --block 20,40 --opacity 35 --format pal");
    ASSERT_EQ(r.status, 0) << r.err;
    pluginDataRec c{};
    ASSERT_TRUE(ReadJob(c));
    EXPECT_EQ(c.startRel.left, 0.125);
    EXPECT_EQ(c.startRel.right, 0.625);
    EXPECT_EQ(c.startRel.top, 0.25);
    EXPECT_EQ(c.startRel.bottom, 0.625);
    EXPECT_EQ(c.sliders[0], 20);
    EXPECT_EQ(c.sliders[1], 40);
    EXPECT_EQ(c.sliders[2], 35);
    EXPECT_EQ(c.mediaType, 2);

    // One change keeps the others; --prefs-dir may follow the command; a repeated option
    // takes its last value.
    r = Tool("set --opacity 9 --opacity 5 --prefs-dir '" + dir_.string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(ReadJob(c));
    EXPECT_EQ(c.sliders[2], 5);
    EXPECT_EQ(c.sliders[0], 20);
    EXPECT_EQ(c.startRel.left, 0.125);

    // One line, the keys in this order.
    r = Tool("--prefs-dir '" + dir_.string() + "' show --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    const nlohmann::ordered_json shown = {
        {"effect", "Tessera"},
        {"region", {{"left", 0.125}, {"top", 0.25}, {"width", 0.5}, {"height", 0.375}}},
        {"block", {{"width", 20}, {"height", 40}}},
        {"opacity", 5},
        {"format", "PAL"},
        {"keepProportions", false},
        {"file", JobFile()}};
    EXPECT_EQ(nlohmann::ordered_json::parse(r.out), shown) << r.out;

    r = Tool("--prefs-dir '" + dir_.string() + "' reset");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(ReadJob(c));
    EXPECT_EQ(c.startRel.left, 0.0);
    EXPECT_EQ(c.startRel.right, 1.0);
    EXPECT_EQ(c.sliders[0], 10);
    EXPECT_EQ(c.sliders[2], 0);
    EXPECT_EQ(c.mediaType, 1);

    EXPECT_FALSE(fs::exists(home_.prefsFile())) << "the user's preferences were touched";
}

TEST_F(ConfigTool, BadValuesAreRefusedInOneLineAndNothingIsWritten) {
    ASSERT_EQ(Tool("--prefs-dir '" + dir_.string() + "' set --block 20,40").status, 0);
    const std::string before = Slurp(JobFile());
    for (const char* bad :
         {"--region 0.1,0.1,0.5", "--region 0.1,0.1,0,0.5", "--region a,0.1,0.5,0.5",
          "--region 0.1,nan,0.5,0.5", "--block 20", "--block 251,10", "--block 10.5,10",
          "--opacity 101", "--opacity -1", "--format secam", "--colour red",
          "--opacity 50 --block 20,40,60", ""}) {
        const ToolRun r = Tool("--prefs-dir '" + dir_.string() + "' set " + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << ": " << r.err;
        EXPECT_EQ(Slurp(JobFile()), before) << bad;
    }
    EXPECT_EQ(Tool("--prefs-dir '" + dir_.string() + "' frobnicate").status, 2);
}

TEST_F(ConfigTool, ADamagedFileIsReportedAndKept) {
    fs::create_directories(dir_);
    const std::string damaged = "not a resource file at all, just text";
    std::ofstream(JobFile(), std::ios::binary) << damaged;
    for (const char* command : {"show", "show --json", "set --opacity 10", "reset"}) {
        const ToolRun r = Tool("--prefs-dir '" + dir_.string() + "' " + command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find(JobFile()), std::string::npos) << command << ": " << r.err;
        EXPECT_EQ(Slurp(JobFile()), damaged) << command;
    }
}

TEST_F(ConfigTool, ShowWithoutAFileGivesTheDefaultsAndWritesNothing) {
    fs::create_directories(dir_);
    const ToolRun r = Tool("--prefs-dir '" + dir_.string() + "' show --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json block = {{"width", 10}, {"height", 10}};
    EXPECT_EQ(nlohmann::json::parse(r.out).at("block"), block) << r.out;
    EXPECT_FALSE(fs::exists(JobFile()));
}

// fxhost render --prefs-dir: the plug-in reads its settings there. With a region on the right
// half, the left half of every frame comes out as it went in and the right half does not.
TEST_F(ConfigTool, FxhostRenderTakesTheSettingsFromPrefsDir) {
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    ASSERT_EQ(
        Tool("--prefs-dir '" + dir_.string() + "' set --region 0.5,0,0.5,1 --block 50,50").status,
        0);
    std::string a, b;
    RenderThrough(TESSERA_BUNDLE_PATH, 3, a, b);
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<int> changed = ChangedPerColumn(a, b, frame);
        for (int x = 0; x < 64; ++x) {
            if (x < 32) {
                EXPECT_EQ(changed[size_t(x)], 0) << "frame " << frame << ", column " << x;
            }
        }
        EXPECT_GT(std::accumulate(changed.begin() + 32, changed.end(), 0), 32 * 32 * 3 / 2);
    }
    EXPECT_FALSE(fs::exists(home_.prefsFile())) << "the user's preferences were touched";
}

// Tessera Motion: tessera-config writes its own file with both regions, and fxhost renders
// the region moving across: the left half on the first frame, the middle half (columns 16
// to 47) on the second, the right half on the last. Tessera's file is never made.
TEST_F(ConfigTool, MotionHasItsOwnFileAndItsRegionMovesInTheRender) {
    ToolRun r = Tool("--plugin motion --prefs-dir '" + dir_.string() +
                     "' set --region 0,0,0.5,1 --end-region 0.5,0,0.5,1 --block 50,50");
    ASSERT_EQ(r.status, 0) << r.err;
    pluginDataRec c{};
    ASSERT_TRUE(ReadJob(c, cTesseraMotionIdentity.prefsFileName));
    EXPECT_EQ(c.startRel.right, 0.5);
    EXPECT_EQ(c.endRel.left, 0.5);
    EXPECT_EQ(c.endRel.right, 1.0);
    EXPECT_EQ(c.sliders[0], 50);
    EXPECT_FALSE(fs::exists(JobFile())) << "Tessera's file was made";

    r = Tool("show --json --prefs-dir '" + dir_.string() + "' --plugin motion");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json shown = nlohmann::json::parse(r.out);
    EXPECT_EQ(shown.at("effect"), "Tessera Motion") << r.out;
    const nlohmann::json left = {{"left", 0}, {"top", 0}, {"width", 0.5}, {"height", 1}};
    const nlohmann::json right = {{"left", 0.5}, {"top", 0}, {"width", 0.5}, {"height", 1}};
    EXPECT_EQ(shown.at("region"), left) << r.out;
    EXPECT_EQ(shown.at("endRegion"), right) << r.out;
    // Tessera has no end region to set, and an unknown effect is refused; nothing is written.
    const std::string motionBefore = Slurp(JobFile(cTesseraMotionIdentity.prefsFileName));
    for (const char* bad : {"set --end-region 0,0,1,1", "--plugin motion set --end-region 0,0,0,1",
                            "--plugin zoom show", "--plugin"}) {
        r = Tool("--prefs-dir '" + dir_.string() + "' " + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << ": " << r.err;
    }
    EXPECT_EQ(Slurp(JobFile(cTesseraMotionIdentity.prefsFileName)), motionBefore);
    EXPECT_FALSE(fs::exists(JobFile()));

    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    std::string a, b;
    RenderThrough(TESSERA_MOTION_BUNDLE_PATH, 3, a, b);
    const int firstColumn[3] = {0, 16, 32};
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<int> changed = ChangedPerColumn(a, b, frame);
        int inside = 0;
        for (int x = 0; x < 64; ++x) {
            if (x < firstColumn[frame] || x >= firstColumn[frame] + 32) {
                EXPECT_EQ(changed[size_t(x)], 0) << "frame " << frame << ", column " << x;
            } else {
                inside += changed[size_t(x)];
            }
        }
        EXPECT_GT(inside, 32 * 32 * 3 / 2) << "frame " << frame;
    }
    EXPECT_FALSE(fs::exists(JobFile()));
    EXPECT_FALSE(fs::exists(home_.prefsFile())) << "the user's preferences were touched";
}

} // namespace
