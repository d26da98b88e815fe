// tessera.so in the real hosts: ffmpeg, gst-launch-1.0 and melt render a lossless RGB clip
// through it, and their frames are compared byte for byte with `fxhost render --lossless` of
// the same settings (given to fxhost through tessera-config and --prefs-dir). The plug-in is
// found only through FREI0R_PATH, pointed at a folder that holds a copy of tessera.so alone,
// so each run also shows that the one file is all a host needs.
#include "TestFiles.h"
#include "TrackFile.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <array>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kPlugin = TESSERA_FREI0R_PLUGIN;
const fs::path kFxhost = FXHOST_PROGRAM;
const fs::path kConfigTool = TESSERA_CONFIG_PROGRAM;

// 16 pixels wide multiples: ffmpeg 5.1's frei0r filter hands the plug-in rows padded to its
// own alignment when the width is not one (a known fault of the host, stock plug-ins too).
constexpr int kW = 320, kH = 176, kFrames = 10;
constexpr size_t kFrameBytes = size_t(kW) * kH * 4;

using testfs::Quote;
using testfs::Shell;
using testfs::Slurp;

bool HaveProgram(const char* name) {
    return Shell(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

struct Settings {
    const char* name;
    double left, top, width, height;
    int blockW, blockH, opacity; // thousandths, thousandths, percent: the record's units
    // The same as frei0r doubles: fractions that truncate back to the record's units.
    std::string Fraction(int v, int scale) const {
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", (v + 0.5) / scale);
        return text;
    }
    std::vector<std::pair<std::string, std::string>> Params() const {
        auto num = [](double v) {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", v);
            return std::string(text);
        };
        return {{"left", num(left)},
                {"top", num(top)},
                {"width", num(width)},
                {"height", num(height)},
                {"blockw", Fraction(blockW, 1000)},
                {"blockh", Fraction(blockH, 1000)},
                {"opacity", Fraction(opacity, 100)}};
    }
};

const Settings kSettings[] = {
    {"quarter", 0.25, 0.25, 0.5, 0.5, 20, 40, 0},
    {"opacity", 0.125, 0.0, 0.75, 1.0, 33, 17, 30},
};

// One temporary folder per test: the input clip and its raw frames, the plug-in folder.
class HostsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveProgram("ffmpeg")) {
            GTEST_SKIP() << "ffmpeg is not installed";
        }
        std::string pattern = (fs::temp_directory_path() / "tessera-frei0r-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        pluginDir_ = dir_ / "frei0r";
        fs::create_directories(pluginDir_);
        fs::copy_file(kPlugin, pluginDir_ / "tessera.so");
        input_ = dir_ / "in.mkv";
        // A lossless RGB clip with alpha 255 (as fxhost hands frames to its plug-in).
        ASSERT_EQ(Shell("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=" +
                        std::to_string(kW) + "x" + std::to_string(kH) + ":rate=25 -frames:v " +
                        std::to_string(kFrames) + " -pix_fmt bgr0 -c:v ffv1 " + Quote(input_)),
                  0);
        inputRaw_ = Raw(input_, "in");
        ASSERT_EQ(inputRaw_.size(), kFrameBytes * kFrames);
        // The same frames with an alpha that varies, for the hosts that take raw RGBA: the
        // colours must come out as for the opaque frames, the alpha as it went in.
        alphaRaw_ = inputRaw_;
        for (size_t i = 3; i < alphaRaw_.size(); i += 4) {
            alphaRaw_[i] = char((i / 4 * 29 + i / kFrameBytes * 7) & 0xFF);
        }
        alphaInput_ = dir_ / "alpha.rgba";
        std::ofstream(alphaInput_, std::ios::binary) << alphaRaw_;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
        }
    }

    // The frames of a clip as R,G,B,A bytes.
    std::string Raw(const fs::path& clip, const std::string& name) {
        const fs::path raw = dir_ / (name + ".rgba");
        if (Shell("ffmpeg -v error -nostdin -y -i " + Quote(clip) + " -f rawvideo -pix_fmt rgba " +
                  Quote(raw)) != 0) {
            return {};
        }
        return Slurp(raw);
    }

    // fxhost's frames for the settings, saved for its run with tessera-config.
    std::string Reference(const Settings& s) {
        const fs::path prefs = dir_ / (std::string("prefs-") + s.name);
        char set[256];
        std::snprintf(set, sizeof set,
                      "--region %.17g,%.17g,%.17g,%.17g --block %d,%d --opacity %d", s.left, s.top,
                      s.width, s.height, s.blockW, s.blockH, s.opacity);
        EXPECT_EQ(Shell(Quote(kConfigTool) + " --prefs-dir " + Quote(prefs) + " set " + set), 0);
        const fs::path out = dir_ / (std::string("ref-") + s.name + ".mkv");
        EXPECT_EQ(Shell(Quote(kFxhost) + " render " + Quote(input_) + " -o " + Quote(out) +
                        " --lossless --quiet --prefs-dir " + Quote(prefs)),
                  0);
        return Raw(out, std::string("ref-") + s.name);
    }

    std::string Env() const { return "FREI0R_PATH=" + Quote(pluginDir_) + " "; }

    // Colours equal to the reference, alpha that of the input, in every frame.
    void ExpectSameFrames(const std::string& got, const std::string& want, const char* host,
                          const std::string* alphaOf = nullptr) {
        const std::string& alphas = alphaOf != nullptr ? *alphaOf : inputRaw_;
        ASSERT_EQ(got.size(), want.size()) << host << ": frame count or size differs";
        for (size_t i = 0; i < got.size(); ++i) {
            const bool alpha = i % 4 == 3;
            const char expected = alpha ? alphas[i] : want[i];
            if (got[i] != expected) {
                const size_t pixel = (i % kFrameBytes) / 4;
                ADD_FAILURE() << host << ": frame " << i / kFrameBytes << " pixel (" << pixel % kW
                              << ", " << pixel / kW << ") byte " << i % 4 << ": got "
                              << int(std::uint8_t(got[i])) << ", want "
                              << int(std::uint8_t(expected));
                return;
            }
        }
    }

    fs::path dir_, pluginDir_, input_, alphaInput_;
    std::string inputRaw_, alphaRaw_;
};

TEST_F(HostsTest, FfmpegFramesEqualFxhosts) {
    for (const Settings& s : kSettings) {
        const std::string want = Reference(s);
        std::string params;
        for (const auto& [name, value] : s.Params()) {
            params += (params.empty() ? "" : "|") + value; // ffmpeg: by position
        }
        const fs::path out = dir_ / "ffmpeg.rgba";
        ASSERT_EQ(Shell(Env() + "ffmpeg -v error -nostdin -y -i " + Quote(input_) +
                        " -vf 'frei0r=tessera:" + params + "' -f rawvideo -pix_fmt rgba " +
                        Quote(out)),
                  0);
        ExpectSameFrames(Slurp(out), want, s.name);
        // Raw RGBA with its own alpha goes to the plug-in unconverted.
        ASSERT_EQ(Shell(Env() + "ffmpeg -v error -nostdin -y -f rawvideo -pix_fmt rgba -s " +
                        std::to_string(kW) + "x" + std::to_string(kH) + " -r 25 -i " +
                        Quote(alphaInput_) + " -vf 'frei0r=tessera:" + params +
                        "' -f rawvideo -pix_fmt rgba " + Quote(out)),
                  0);
        ExpectSameFrames(Slurp(out), want, s.name, &alphaRaw_);
    }
}

TEST_F(HostsTest, GstreamerFramesEqualFxhosts) {
    if (!HaveProgram("gst-launch-1.0") || !HaveProgram("gst-inspect-1.0")) {
        GTEST_SKIP() << "gst-launch-1.0 is not installed (gstreamer1.0-tools)";
    }
    const std::string registry = "GST_REGISTRY=" + Quote(dir_ / "gst-registry.bin") + " ";
    if (Shell(registry + Env() + "gst-inspect-1.0 frei0r >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "GStreamer's frei0r plug-in is not installed (gstreamer1.0-plugins-bad)";
    }
    const fs::path in = alphaInput_;
    for (const Settings& s : kSettings) {
        const std::string want = Reference(s);
        std::string props;
        for (const auto& [name, value] : s.Params()) {
            props += " " + name + "=" + value;
        }
        const fs::path out = dir_ / "gst.rgba";
        ASSERT_EQ(Shell(registry + Env() + "gst-launch-1.0 -q filesrc location=" + Quote(in) +
                        " blocksize=" + std::to_string(kFrameBytes) +
                        " ! rawvideoparse format=rgba width=" + std::to_string(kW) + " height=" +
                        std::to_string(kH) + " framerate=25/1 ! frei0r-filter-tessera" + props +
                        " ! filesink location=" + Quote(out)),
                  0);
        ExpectSameFrames(Slurp(out), want, s.name, &alphaRaw_);
    }
}

std::string MeltCommand(const std::string& env, const fs::path& input, const std::string& props,
                        const fs::path& out) {
    return env + "melt -quiet " + Quote(input) + " -attach frei0r.tessera" + props +
           " -consumer avformat:" + Quote(out) + " f=rawvideo pix_fmt=rgba";
}

TEST_F(HostsTest, MeltFramesEqualFxhosts) {
    if (!HaveProgram("melt")) {
        GTEST_SKIP() << "melt is not installed";
    }
    for (const Settings& s : kSettings) {
        const std::string want = Reference(s);
        std::string props;
        for (const auto& [name, value] : s.Params()) {
            props += " " + name + "=" + value;
        }
        // Once on melt's own thread, once with four workers (an instance on each).
        for (const char* threads : {"", " real_time=-4"}) {
            const fs::path out = dir_ / "melt.rgba";
            ASSERT_EQ(Shell(MeltCommand(Env(), input_, props, out) + threads + " >/dev/null 2>&1"),
                      0);
            const std::string got = Slurp(out);
            // melt says nothing and ends with status 0 when it cannot load a filter: its
            // output is then the input.
            ASSERT_NE(got, inputRaw_) << "melt did not run frei0r.tessera";
            ExpectSameFrames(got, want, (std::string(s.name) + threads).c_str());
        }
    }
}

// Keyframes on `left` (MLT animates frei0r doubles): the mosaic's left edge moves right
// frame by frame, to the column the interpolated value gives. The clip is noise, so that
// every block of the mosaic changes its first column.
TEST_F(HostsTest, MeltKeyframesMoveTheRegion) {
    if (!HaveProgram("melt")) {
        GTEST_SKIP() << "melt is not installed";
    }
    const fs::path noise = dir_ / "noise.mkv";
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -y -f lavfi -i \"nullsrc=size=" + std::to_string(kW) +
                    "x" + std::to_string(kH) +
                    ":rate=25,geq=r='random(1)*255':g='random(2)*255':b='random(3)*255'\" "
                    "-frames:v " +
                    std::to_string(kFrames) + " -pix_fmt bgr0 -c:v ffv1 " + Quote(noise)),
              0);
    const std::string in = Raw(noise, "noise");
    const fs::path out = dir_ / "moving.rgba";
    const std::string props = " 'left=0=0;" + std::to_string(kFrames - 1) +
                              "=0.5' top=0.25 width=0.25 height=0.5 blockw=0.0201 blockh=0.0201";
    ASSERT_EQ(Shell(MeltCommand(Env(), noise, props, out) + " >/dev/null 2>&1"), 0);
    const std::string got = Slurp(out);
    ASSERT_EQ(got.size(), in.size());
    int previous = -1;
    for (int f = 0; f < kFrames; ++f) {
        int first = kW; // the leftmost column with a changed pixel
        for (int y = 0; y < kH && first > 0; ++y) {
            for (int x = 0; x < first; ++x) {
                const size_t at = size_t(f) * kFrameBytes + (size_t(y) * kW + size_t(x)) * 4;
                if (std::memcmp(&got[at], &in[at], 3) != 0) {
                    first = x;
                    break;
                }
            }
        }
        const double left = 0.5 * f / (kFrames - 1);
        EXPECT_NEAR(first, std::trunc(left * kW), 1) << "frame " << f;
        EXPECT_GT(first, previous) << "frame " << f << ": the region did not move right";
        previous = first;
    }
}

// A track over the clip: frames 0-2 one region, 3-5 two overlapping ones (written out of id
// order), 6 none, 7-9 one partly off the frame. Each frame must equal that frame of ffmpeg
// stacking one static filter per region, and every host must give the same frames.
struct TrackCase {
    std::vector<std::vector<std::array<double, 5>>> sets; // per span: id, l, t, w, h
    std::vector<int> spanOfFrame = {0, 0, 0, 1, 1, 1, 2, 3, 3, 3};
    std::string block = "0.0205|0.0405|0";
    TrackCase() {
        sets = {{{1, 0.1, 0.1, 0.3, 0.4}},
                {{2, 0.3, 0.3, 0.5, 0.5}, {1, 0.2, 0.1, 0.3, 0.4}},
                {},
                {{1, 0.8, 0.6, 0.4, 0.6}}};
    }
    std::string Json() const {
        std::string frames;
        for (int f = 0; f < kFrames; ++f) {
            std::string regions;
            for (const auto& r : sets[size_t(spanOfFrame[size_t(f)])]) {
                char text[200];
                std::snprintf(text, sizeof text, "%s{\"id\":%d,\"rect\":[%.17g,%.17g,%.17g,%.17g]}",
                              regions.empty() ? "" : ",", int(r[0]), r[1], r[2], r[3], r[4]);
                regions += text;
            }
            frames += (f == 0 ? "" : ",") + std::string("{\"index\":") + std::to_string(f) +
                      ",\"time\":" + std::to_string(f / 25.0) + ",\"regions\":[" + regions + "]}";
        }
        return "{\"format\":\"tessera-track\",\"version\":1,\"clip\":{\"frames\":" +
               std::to_string(kFrames) + ",\"width\":" + std::to_string(kW) +
               ",\"height\":" + std::to_string(kH) + ",\"rate\":[25,1]},\"frames\":[" + frames +
               "]}";
    }
    // ffmpeg's filter chain stacking one static filter per region of a span, in id order.
    std::string StaticChain(size_t span) const {
        auto regions = sets[span];
        std::sort(regions.begin(), regions.end());
        std::string chain;
        for (const auto& r : regions) {
            char text[200];
            std::snprintf(text, sizeof text, "%sfrei0r=tessera:%.17g|%.17g|%.17g|%.17g|",
                          chain.empty() ? "" : ",", r[1], r[2], r[3], r[4]);
            chain += text + block;
        }
        return chain.empty() ? "null" : chain;
    }
};

class TrackHostsTest : public HostsTest {
  protected:
    void SetUp() override {
        HostsTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        track_ = dir_ / "track.json";
        std::ofstream(track_) << case_.Json();
        for (int f = 0; f < kFrames; ++f) {
            want_ += StaticFrames(size_t(case_.spanOfFrame[size_t(f)]))
                         .substr(size_t(f) * kFrameBytes, kFrameBytes);
        }
    }
    std::string StaticFrames(size_t span) {
        const fs::path out = dir_ / ("static" + std::to_string(span) + ".rgba");
        EXPECT_EQ(Shell(Env() + "ffmpeg -v error -nostdin -y -i " + Quote(input_) + " -vf '" +
                        case_.StaticChain(span) + "' -f rawvideo -pix_fmt rgba " + Quote(out)),
                  0);
        return Slurp(out);
    }
    std::string Ffmpeg(const fs::path& track, const fs::path& out) {
        EXPECT_EQ(Shell(Env() + "ffmpeg -v error -nostdin -y -i " + Quote(input_) +
                        " -vf 'frei0r=tessera:0|0|0|0|" + case_.block + "|" + track.string() +
                        "' -f rawvideo -pix_fmt rgba " + Quote(out) + " 2>" +
                        Quote(dir_ / "err.txt")),
                  0);
        return Slurp(out);
    }
    TrackCase case_;
    fs::path track_;
    std::string want_;
};

TEST_F(TrackHostsTest, FfmpegGstreamerAndMeltFollowTheTrack) {
    ExpectSameFrames(Ffmpeg(track_, dir_ / "ffmpeg.rgba"), want_, "ffmpeg --track");

    const std::string registry = "GST_REGISTRY=" + Quote(dir_ / "gst-registry.bin") + " ";
    if (HaveProgram("gst-launch-1.0") &&
        Shell(registry + Env() + "gst-inspect-1.0 frei0r >/dev/null 2>&1") == 0) {
        const fs::path out = dir_ / "gst.rgba";
        ASSERT_EQ(Shell(registry + Env() + "gst-launch-1.0 -q filesrc location=" +
                        Quote(alphaInput_) + " blocksize=" + std::to_string(kFrameBytes) +
                        " ! rawvideoparse format=rgba width=" + std::to_string(kW) + " height=" +
                        std::to_string(kH) + " framerate=25/1 ! frei0r-filter-tessera width=0 " +
                        "height=0 blockw=0.0205 blockh=0.0405 track=" + Quote(track_) +
                        " ! filesink location=" + Quote(out)),
                  0);
        ExpectSameFrames(Slurp(out), want_, "gstreamer --track", &alphaRaw_);
    }
    if (HaveProgram("melt")) {
        const fs::path out = dir_ / "melt.rgba";
        ASSERT_EQ(
            Shell(MeltCommand(
                      Env(), input_,
                      " width=0 height=0 blockw=0.0205 blockh=0.0405 track=" + Quote(track_), out) +
                  " >/dev/null 2>&1"),
            0);
        ExpectSameFrames(Slurp(out), want_, "melt --track");
    }
}

// fxhost render --track hosts tessera.so: every frame equals the stacked static filters, and
// a frame of one region equals fxhost's own static render of that region through the bundle.
TEST_F(TrackHostsTest, FxhostRenderTrackEqualsStaticRenders) {
    const fs::path out = dir_ / "track.mkv";
    ASSERT_EQ(Shell(Env() + Quote(kFxhost) + " render " + Quote(input_) + " -o " + Quote(out) +
                    " --lossless --quiet --track " + Quote(track_) + " --block 20,40"),
              0);
    const std::string got = Raw(out, "track");
    ExpectSameFrames(got, want_, "fxhost --track");
    const Settings one{"span0", 0.1, 0.1, 0.3, 0.4, 20, 40, 0};
    const std::string bundle = Reference(one);
    ASSERT_EQ(bundle.size(), got.size());
    EXPECT_TRUE(bundle.compare(0, 3 * kFrameBytes, got, 0, 3 * kFrameBytes) == 0)
        << "frames 0-2 differ from the bundle's static render of their region";
    // A selection: the track of the whole clip applies its own frames 4..6.
    const fs::path part = dir_ / "part.mkv";
    ASSERT_EQ(Shell(Quote(kFxhost) + " render " + Quote(input_) + " -o " + Quote(part) +
                    " --lossless --quiet --frames 4:3 --track " + Quote(track_) + " --block 20,40"),
              0);
    EXPECT_TRUE(Raw(part, "part") == want_.substr(4 * kFrameBytes, 3 * kFrameBytes));
}

// From a 4:2:0 input to an encoder that keeps it exactly, every sample outside the rectangle
// around the track's regions comes out as it was decoded (no trip through ARGB and back), and inside them the
// mosaic is drawn. A frame with no region is the input itself.
TEST_F(TrackHostsTest, FxhostKeepsWhatTheRegionsLeaveAsDecoded) {
    const fs::path yuv = dir_ / "yuv.mkv", out = dir_ / "yuv-out.mkv";
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -y -i " + Quote(input_) +
                    " -pix_fmt yuv420p -c:v ffv1 " + Quote(yuv)),
              0);
    ASSERT_EQ(Shell(Env() + Quote(kFxhost) + " render " + Quote(yuv) + " -o " + Quote(out) +
                    " --codec ffv1 --quiet --track " + Quote(track_) + " --block 20,40"),
              0);
    auto planes = [&](const fs::path& clip) {
        const fs::path raw = dir_ / (clip.stem().string() + ".yuv");
        EXPECT_EQ(Shell("ffmpeg -v error -nostdin -y -i " + Quote(clip) +
                        " -f rawvideo -pix_fmt yuv420p " + Quote(raw)),
                  0);
        return Slurp(raw);
    };
    const std::string in = planes(yuv), got = planes(out);
    const size_t luma = size_t(kW) * kH, frame = luma * 3 / 2;
    ASSERT_EQ(got.size(), frame * kFrames);
    for (int f = 0; f < kFrames; ++f) {
        const auto& regions = case_.sets[size_t(case_.spanOfFrame[size_t(f)])];
        // Whether luma pixel (x, y) may be converted: in the rectangle around the regions,
        // give or take a chroma sample.
        double l = 1, t = 1, r = 0, b = 0;
        for (const auto& g : regions) {
            l = std::min(l, g[1]), t = std::min(t, g[2]);
            r = std::max(r, g[1] + g[3]), b = std::max(b, g[2] + g[4]);
        }
        auto inRegion = [&](int x, int y) {
            return x >= l * kW - 2 && x < r * kW + 2 && y >= t * kH - 2 && y < b * kH + 2;
        };
        int changed = 0, strayed = 0;
        for (size_t i = 0; i < frame; ++i) {
            const bool isLuma = i < luma;
            const size_t c = isLuma ? i : (i - luma) % (luma / 4);
            const int x = int(c % (isLuma ? kW : kW / 2)) * (isLuma ? 1 : 2);
            const int y = int(c / (isLuma ? kW : kW / 2)) * (isLuma ? 1 : 2);
            const bool same = got[size_t(f) * frame + i] == in[size_t(f) * frame + i];
            changed += !same;
            strayed += !same && !inRegion(x, y);
        }
        EXPECT_EQ(strayed, 0) << "frame " << f << ": samples outside the regions changed";
        EXPECT_EQ(changed > 0, !regions.empty()) << "frame " << f;
    }
}

// Bad tracks: a damaged or foreign file, one of another clip, a missing one: one line naming
// the file, exit status 3 (input), nothing written.
TEST_F(TrackHostsTest, FxhostRefusesBadTracksAndWritesNothing) {
    const fs::path foreign = dir_ / "foreign.json", other = dir_ / "other.json",
                   damaged = dir_ / "damaged.json";
    std::ofstream(foreign) << R"({"format":"something-else","version":1})";
    std::string json = case_.Json();
    std::ofstream(damaged) << json.substr(0, json.size() / 2);
    const std::string tenFrames = "\"frames\":" + std::to_string(kFrames) + ",";
    json.replace(json.find(tenFrames), tenFrames.size(), "\"frames\":9,");
    json.erase(json.rfind(",{\"index\":9"), json.rfind("]}") - json.rfind(",{\"index\":9"));
    std::ofstream(other) << json;
    for (const fs::path& bad : {foreign, damaged, other, dir_ / "missing.json"}) {
        const fs::path out = dir_ / "never.mkv", err = dir_ / "err.txt";
        EXPECT_EQ(Shell(Quote(kFxhost) + " render " + Quote(input_) + " -o " + Quote(out) +
                        " --quiet --track " + Quote(bad) + " 2>" + Quote(err)),
                  3)
            << bad;
        const std::string line = Slurp(err);
        EXPECT_EQ(line.rfind("fxhost: " + bad.string() + ": ", 0), 0u) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_FALSE(fs::exists(out)) << bad;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir_, ec)) {
            EXPECT_EQ(entry.path().filename().string().find("never"), std::string::npos);
        }
    }
    EXPECT_NE(Slurp(dir_ / "err.txt").find("missing.json"), std::string::npos);
}

// The MLT document of the track: melt renders the same frames from its keyframes alone.
TEST_F(TrackHostsTest, MeltKeyframesOfTheTrackGiveTheSameFrames) {
    if (!HaveProgram("melt")) {
        GTEST_SKIP() << "melt is not installed";
    }
    const fs::path mlt = dir_ / "track.mlt", out = dir_ / "keyframes.rgba";
    const auto track = tessera::tracks::ReadTrackFile(track_);
    std::ofstream(mlt) << tessera::tracks::FormatMltKeyframes(track, input_.string(), 20, 40, 0);
    ASSERT_EQ(Shell(Env() + "melt -quiet " + Quote(mlt) + " -consumer avformat:" + Quote(out) +
                    " f=rawvideo pix_fmt=rgba >/dev/null 2>&1"),
              0);
    ExpectSameFrames(Slurp(out), want_, "melt keyframes");
}

// A track that cannot be read hides the whole frame: one line says so, and every frame is
// the static effect over the whole frame.
TEST_F(TrackHostsTest, AnUnreadableTrackHidesTheWholeFrame) {
    const fs::path broken = dir_ / "broken.json";
    std::ofstream(broken) << case_.Json().substr(0, 100);
    const std::string got = Ffmpeg(broken, dir_ / "broken.rgba");
    const std::string err = Slurp(dir_ / "err.txt");
    EXPECT_NE(err.find("broken.json"), std::string::npos) << err;
    EXPECT_NE(err.find("the whole frame is pixelated"), std::string::npos) << err;
    const fs::path whole = dir_ / "whole.rgba";
    ASSERT_EQ(Shell(Env() + "ffmpeg -v error -nostdin -y -i " + Quote(input_) +
                    " -vf 'frei0r=tessera:0|0|1|1|" + case_.block + "' -f rawvideo -pix_fmt rgba " +
                    Quote(whole)),
              0);
    ExpectSameFrames(got, Slurp(whole), "broken track");
}

// cmake --install under a prefix in the user's home puts tessera.so where ffmpeg and melt look
// without FREI0R_PATH (~/.frei0r-1/lib), and Kdenlive's description beside the user's
// effects; under another prefix, both go below the prefix.
TEST_F(HostsTest, InstalledWhereHostsLookWithoutSettings) {
    const fs::path home = dir_ / "home", system = dir_ / "system";
    fs::create_directories(home);
    const std::string install =
        "cmake --install " + Quote(TESSERA_BUILD_DIR) + " --component frei0r >/dev/null --prefix ";
    ASSERT_EQ(Shell("HOME=" + Quote(home) + " " + install + Quote(home / ".local")), 0);
    EXPECT_TRUE(fs::exists(home / ".frei0r-1/lib/tessera.so"));
    EXPECT_TRUE(fs::exists(home / ".local/share/kdenlive/effects/tessera.xml"));
    ASSERT_EQ(Shell("HOME=" + Quote(home) + " " + install + Quote(system)), 0);
    EXPECT_TRUE(fs::exists(system / "lib/frei0r-1/tessera.so"));
    EXPECT_TRUE(fs::exists(system / "share/kdenlive/effects/tessera.xml"));

    const fs::path out = dir_ / "installed.rgba";
    ASSERT_EQ(Shell("env -u FREI0R_PATH HOME=" + Quote(home) + " ffmpeg -v error -nostdin -y -i " +
                    Quote(input_) + " -vf 'frei0r=tessera:0|0|1|1|0.05|0.05|0' -f rawvideo " +
                    "-pix_fmt rgba " + Quote(out)),
              0);
    EXPECT_EQ(Slurp(out).size(), inputRaw_.size());
    EXPECT_NE(Slurp(out), inputRaw_);
}

// The file alone is the plug-in: no library of the build tree, no Qt, and a copy in a folder
// of its own loads and describes itself with the parameters in their documented order.
TEST(Frei0rPlugin, LoadsAloneAndDescribesItsParameters) {
    const std::string needed = [] {
        const fs::path listing = fs::temp_directory_path() / "tessera-needed.txt";
        Shell("readelf -d " + Quote(kPlugin) + " > " + Quote(listing) + " 2>&1");
        std::string text = Slurp(listing);
        fs::remove(listing);
        return text;
    }();
    for (const char* unwanted : {"Qt", "toolbox", "plist", "RPATH", "RUNPATH"}) {
        EXPECT_EQ(needed.find(unwanted), std::string::npos) << unwanted << " in\n" << needed;
    }

    void* so = dlopen(kPlugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << dlerror();
    struct ParamInfo {
        const char* name;
        int type;
        const char* explanation;
    };
    using GetParamInfo = void (*)(ParamInfo*, int);
    auto getParamInfo = reinterpret_cast<GetParamInfo>(dlsym(so, "f0r_get_param_info"));
    ASSERT_NE(getParamInfo, nullptr);
    const char* names[] = {"left",   "top",    "width",   "height",
                           "blockw", "blockh", "opacity", "track"};
    for (int i = 0; i < 8; ++i) {
        ParamInfo info{};
        getParamInfo(&info, i);
        ASSERT_NE(info.name, nullptr);
        EXPECT_STREQ(info.name, names[i]);
        EXPECT_EQ(info.type, i < 7 ? 1 : 4) << "F0R_PARAM_DOUBLE, then F0R_PARAM_STRING";
    }
    EXPECT_EQ(dlsym(so, "ThePixelEffect"), nullptr) << "the engine's symbols are not exported";
    dlclose(so);
}

} // namespace
