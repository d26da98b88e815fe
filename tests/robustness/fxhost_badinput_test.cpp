// fxhost on bad media, with the Tessera bundle: every case ends in one clear line and the
// exit status of its kind, or in a complete output, and never leaves a half-written file
// (under the final name or as a temporary) behind. Clips are made with the ffmpeg command.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kProgram = FXHOST_PROGRAM;
const fs::path kTessera = TESSERA_BUNDLE;

struct Result {
    int status = -1;
    std::string err;
};

using testfs::Quote;
using testfs::Shell;
using testfs::Slurp;

class BadMedia : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(dir / "config"); // the plug-in's preferences stay private
        fs::create_directory(dir / "out");
    }

    // ffmpeg making a clip from lavfi sources; the test fails if ffmpeg cannot.
    fs::path Make(const std::string& name, const std::string& args) {
        const fs::path p = dir / name;
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -y " + args + " " + Quote(p)), 0) << name;
        return p;
    }

    Result Render(const fs::path& input, const fs::path& output, const std::string& extra = "") {
        const fs::path errFile = dir / "stderr.txt";
        Result r;
        r.status =
            Shell("XDG_CONFIG_HOME=" + Quote(dir / "config") + " " + Quote(kProgram) + " render " +
                  (input.empty() ? "" : Quote(input)) + " -o " + Quote(output) +
                  " --quiet --plugin " + Quote(kTessera) + " " + extra + " 2>" + Quote(errFile));
        r.err = Slurp(errFile);
        return r;
    }

    // Temporaries a render may have left in the output folder.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir / "out")) {
            if (e.path().filename().string().find(".part") != std::string::npos) {
                names.push_back(e.path().filename().string());
            }
        }
        return names;
    }

    // Width, height and frame count of a video file, by ffprobe.
    std::string Probe(const fs::path& p) {
        const fs::path o = dir / "probe.txt";
        Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
              "stream=width,height,nb_read_frames -of csv=p=0 " +
              Quote(p) + " >" + Quote(o));
        std::string s = Slurp(o);
        s.erase(std::remove(s.begin(), s.end(), '\n'), s.end());
        return s;
    }

    testfs::TempFolder folder{"tessera-badmedia"};
    const fs::path dir = folder.dir();
};

int Lines(const std::string& s) {
    return int(std::count(s.begin(), s.end(), '\n'));
}

TEST_F(BadMedia, UnreadableInputsAreRefusedInOneLineWithExitThree) {
    const fs::path empty = dir / "empty.mp4";
    std::ofstream(empty).flush();
    const fs::path garbage = dir / "garbage.mkv";
    {
        std::mt19937 rng(11);
        std::ofstream f(garbage, std::ios::binary);
        for (int i = 0; i < 100000; ++i) {
            f.put(char(rng()));
        }
    }
    const fs::path whole = Make("whole.mp4", "-f lavfi -i testsrc=s=96x64:d=2 -c:v libx264");
    const fs::path truncated = dir / "truncated.mp4";
    {
        const std::string bytes = Slurp(whole);
        std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    const fs::path audioOnly = Make("audio.m4a", "-f lavfi -i sine=d=1 -c:a aac");
    const fs::path srt = dir / "s.srt";
    std::ofstream(srt) << "1\n00:00:00,000 --> 00:00:01,000\nhello\n";
    const fs::path noVideo = Make("subtitles.mkv", "-i " + Quote(srt) + " -c:s srt");
    const fs::path wide =
        Make("wide.mkv", "-f lavfi -i color=s=40000x2:d=0.04 -frames:v 1 -c:v ffv1");
    const fs::path tall =
        Make("tall.mkv", "-f lavfi -i color=s=2x40000:d=0.04 -frames:v 1 -c:v ffv1");

    const struct {
        fs::path input;
        const char* what;
    } cases[] = {{empty, "empty file"},         {garbage, "garbage bytes"},
                 {truncated, "truncated file"}, {audioOnly, "audio only"},
                 {noVideo, "no video stream"},  {wide, "40000 pixels wide"},
                 {tall, "40000 pixels tall"},   {dir / "missing.mkv", "missing file"}};
    for (const auto& c : cases) {
        const fs::path out = dir / "out" / "never.mkv";
        const Result r = Render(c.input, out);
        EXPECT_EQ(r.status, 3) << c.what << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << c.what << ": " << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.what;
        EXPECT_TRUE(Leftovers().empty()) << c.what;
    }
    // The frames above the coordinate limit say so.
    EXPECT_NE(Render(wide, dir / "out" / "w.mkv").err.find("16-bit"), std::string::npos);
    EXPECT_NE(Render(tall, dir / "out" / "t.mkv").err.find("16-bit"), std::string::npos);
}

TEST_F(BadMedia, OddWidthAndHeightRenderAtTheirOwnSize) {
    const fs::path in = Make("odd.mkv", "-f lavfi -i testsrc=s=97x61:r=10:d=1 -c:v ffv1");
    const fs::path out = dir / "out" / "odd.mkv";
    const Result r = Render(in, out, "--lossless");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out), "97,61,10");
}

TEST_F(BadMedia, VariableFrameRateRendersEveryFrame) {
    // Frames at irregular times (a doubled gap every third frame).
    const fs::path in = Make("vfr.mkv", "-f lavfi -i testsrc=s=64x48:r=10:d=2 "
                                        "-vf setpts='N/10/TB+if(eq(mod(N\\,3)\\,2)\\,0.07/TB\\,0)' "
                                        "-fps_mode vfr -c:v ffv1");
    const fs::path out = dir / "out" / "vfr.mkv";
    const Result r = Render(in, out, "--lossless");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string probe = Probe(out);
    ASSERT_FALSE(probe.empty());
    const int frames = std::atoi(probe.substr(probe.rfind(',') + 1).c_str());
    EXPECT_GE(frames, 19) << probe; // 20 frames in; at most one lost to time rounding
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BadMedia, CorruptFrameInTheMiddleGoesOnOrStopsCleanly) {
    // MJPEG frames are independent: damaging one in the middle hurts only that frame.
    const fs::path clean = Make("mj.avi", "-f lavfi -i testsrc=s=160x120:r=10:d=3 -c:v mjpeg");
    std::string bytes = Slurp(clean);
    // Overwrite the entropy-coded data of a frame near the middle (after its headers).
    std::size_t at = bytes.size() / 2;
    at = bytes.find("\xFF\xDA", at); // start of scan
    ASSERT_NE(at, std::string::npos);
    std::mt19937 rng(5);
    for (std::size_t i = at + 20; i < at + 400 && i < bytes.size(); ++i) {
        bytes[i] = char(rng());
    }
    // The undamaged clip renders without a word.
    const Result fine = Render(clean, dir / "out" / "clean.mkv", "--lossless");
    ASSERT_EQ(fine.status, 0) << fine.err;
    EXPECT_EQ(fine.err, "");
    const fs::path corrupt = dir / "corrupt.avi";
    std::ofstream(corrupt, std::ios::binary) << bytes;
    const fs::path out = dir / "out" / "corrupt.mkv";
    const Result r = Render(corrupt, out, "--lossless");
    EXPECT_TRUE(r.status == 0 || r.status == 3) << r.status << ": " << r.err;
    if (r.status == 0) {
        EXPECT_TRUE(fs::exists(out));
        const std::string probe = Probe(out);
        EXPECT_FALSE(probe.empty());
        // It went on through the damage, and says so in one line.
        EXPECT_NE(r.err.find("warning: the decoder reported"), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    } else {
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BadMedia, OutputThatCannotBeWrittenExitsSixAndLeavesNothing) {
    const fs::path in = Make("ok.mkv", "-f lavfi -i testsrc=s=64x48:r=10:d=1 -c:v ffv1");
    const struct {
        fs::path out;
        const char* what;
    } cases[] = {{dir / "no-such-folder" / "x.mkv", "missing output folder"},
                 {"/proc/tessera-cannot-write.mkv", "folder that takes no files"},
                 {dir / "out" / "x.no-such-format", "unknown container"}};
    for (const auto& c : cases) {
        const Result r = Render(in, c.out);
        EXPECT_EQ(r.status, 6) << c.what << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << c.what << ": " << r.err;
        EXPECT_FALSE(fs::exists(c.out)) << c.what;
    }
    // A folder at the output's name is not replaced.
    fs::create_directory(dir / "out" / "taken.mkv");
    const Result r = Render(in, dir / "out" / "taken.mkv", "-y");
    EXPECT_NE(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_directory(dir / "out" / "taken.mkv"));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BadMedia, InterruptDuringARenderExits130WithNoPartialFile) {
    const fs::path out = dir / "out" / "long.mp4";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::freopen("/dev/null", "w", stderr);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        execl(kProgram.c_str(), "fxhost", "render", "-o", out.c_str(), "--quiet", "--plugin",
              kTessera.c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 500 && Leftovers().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(Leftovers().empty()) << "the render never started writing";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 130);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(Leftovers().empty());
}

} // namespace
