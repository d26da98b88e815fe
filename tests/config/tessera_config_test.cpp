// Tests of tessera-config and fxhost --prefs-dir, through the programs: what set writes the
// plug-in's storage code reads back, refused values leave the file as it was, a damaged
// file is reported and kept, and a render with --prefs-dir takes the settings from there.
#include "PluginDefines.h"
#include "TestSupport.h"
#include "prefsloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    std::string JobFile() const { return (dir_ / cPrefsFileName).string(); }

    // The record in DIR, read by the plug-in's own code.
    bool ReadJob(pluginDataRec& config) {
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        const bool ok = ReadConfig(&config);
        setenv("XDG_CONFIG_HOME", home_.dir().c_str(), 1);
        return ok;
    }
};

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

    // One change keeps the others; --prefs-dir may follow the command.
    r = Tool("set --opacity 5 --prefs-dir '" + dir_.string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(ReadJob(c));
    EXPECT_EQ(c.sliders[2], 5);
    EXPECT_EQ(c.sliders[0], 20);
    EXPECT_EQ(c.startRel.left, 0.125);

    r = Tool("--prefs-dir '" + dir_.string() + "' show --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"effect\": \"Tessera\", \"region\": {\"left\": 0.125, \"top\": 0.25, \"width\": 0.5, \"height\": "
                     "0.375}, \"block\": {\"width\": 20, \"height\": 40}, \"opacity\": 5, "
                     "\"format\": \"PAL\", \"keepProportions\": false, \"file\": \"" +
                         JobFile() + "\"}\n");

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
    EXPECT_NE(r.out.find("\"block\": {\"width\": 10, \"height\": 10}"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(JobFile()));
}

// fxhost render --prefs-dir: the plug-in reads its settings there. With a region on the right
// half, the left half of every frame comes out as it went in and the right half does not.
TEST_F(ConfigTool, FxhostRenderTakesTheSettingsFromPrefsDir) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    ASSERT_EQ(
        Tool("--prefs-dir '" + dir_.string() + "' set --region 0.5,0,0.5,1 --block 50,50").status,
        0);
    const fs::path in = home_.dir() / "in.mkv", out = home_.dir() / "out.mkv";
    const fs::path inRaw = home_.dir() / "in.rgb", outRaw = home_.dir() / "out.rgb";
    const std::string q = "'";
    ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -y -f lavfi -i "
                           "\"nullsrc=size=64x32:rate=25,geq=r='random(1)*255':g='X*4':b='Y*8'\" "
                           "-frames:v 3 -pix_fmt bgr0 -c:v ffv1 " +
                           q + in.string() + q)
                              .c_str()),
              0);
    ASSERT_EQ(std::system((q + kFxhost.string() + "' render '" + in.string() + "' -o '" +
                           out.string() + "' --lossless --quiet --prefs-dir '" + dir_.string() + q)
                              .c_str()),
              0);
    for (const auto& [clip, raw] : {std::pair{in, inRaw}, std::pair{out, outRaw}}) {
        ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -y -i '" + clip.string() +
                               "' -f rawvideo -pix_fmt rgb24 '" + raw.string() + q)
                                  .c_str()),
                  0);
    }
    const std::string a = Slurp(inRaw), b = Slurp(outRaw);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.size(), size_t(64 * 32 * 3 * 3));
    size_t changedLeft = 0, changedRight = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const size_t x = (i / 3) % 64;
        (x < 32 ? changedLeft : changedRight) += a[i] != b[i];
    }
    EXPECT_EQ(changedLeft, 0u);
    EXPECT_GT(changedRight, a.size() / 4);
    EXPECT_FALSE(fs::exists(home_.prefsFile())) << "the user's preferences were touched";
}

} // namespace
