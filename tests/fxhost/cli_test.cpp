// Tests of the fxhost program and its media layer, end to end on clips generated here
// with the ffmpeg command. Reference frames are computed in the test from the input's own
// formula and the effect's formulas (inversion for InvertTest, the mosaic for Tessera, the
// fade blend), never by calling the plug-in.
#include "audiosource.h"
#include "hosterror.h"
#include "pluginbundle.h"
#include "recordingsession.h"
#include "videosource.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using testfs::Quote;
using testfs::Shell;
using testfs::Slurp;

namespace {

const fs::path kProgram = FXHOST_PROGRAM;
const fs::path kBundles = FXHOST_TEST_BUNDLE_DIR;
const fs::path kInvert = kBundles / "InvertTest.bundle";
const fs::path kTessera = TESSERA_BUNDLE;

constexpr int kW = 97, kH = 61, kFrames = 40, kRate = 25, kSampleRate = 48000, kChannels = 2;
constexpr int kSamplesPerFrame = kSampleRate / kRate;

// The input clip's picture: bytes A, R, G, B of pixel (x, y) of frame i.
std::array<std::uint8_t, 4> InputPixel(int x, int y, int i) {
    return {255, std::uint8_t((x * 7 + i * 5) & 255), std::uint8_t((y * 11 + x * 3) & 255),
            std::uint8_t((x * y + i * 13) & 255)};
}
// The input clip's sound: sample n of channel c.
std::int16_t InputSample(std::int64_t n, int c) {
    return std::int16_t(8000.0 * std::sin(double(n) * (c ? 0.031 : 0.017)) + (n % 7) * 3);
}

struct Result {
    int status;
    std::string err;
};

struct Clips {
    Clips() = default;
    Clips(Clips&&) = default;
    ~Clips() {
        if (!dir.empty()) {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    }
    fs::path dir;
    fs::path rgb;      // kW x kH, kFrames frames, FFV1 BGRA + PCM, in .mkv
    fs::path yuv;      // odd-sized H.264 + AAC in .mp4
    fs::path silentAv; // audio only
};

const Clips& TheClips() {
    static Clips c = [] {
        Clips k;
        char tmpl[] = "/tmp/fxhost-cli-XXXXXX";
        k.dir = mkdtemp(tmpl);
        std::string video, audio;
        for (int i = 0; i < kFrames; ++i) {
            for (int y = 0; y < kH; ++y) {
                for (int x = 0; x < kW; ++x) {
                    const auto p = InputPixel(x, y, i);
                    video += char(p[3]); // bgra
                    video += char(p[2]);
                    video += char(p[1]);
                    video += char(p[0]);
                }
            }
        }
        for (std::int64_t n = 0; n < std::int64_t(kFrames) * kSamplesPerFrame; ++n) {
            for (int ch = 0; ch < kChannels; ++ch) {
                const std::int16_t s = InputSample(n, ch);
                audio += char(s & 0xFF);
                audio += char((s >> 8) & 0xFF);
            }
        }
        std::ofstream(k.dir / "v.raw", std::ios::binary) << video;
        std::ofstream(k.dir / "a.raw", std::ios::binary) << audio;
        k.rgb = k.dir / "rgb.mkv";
        k.yuv = k.dir / "odd.mp4";
        k.silentAv = k.dir / "audio.wav";
        const std::string ff = "ffmpeg -nostdin -v error -y ";
        EXPECT_EQ(Shell(ff + "-f rawvideo -pix_fmt bgra -s " + std::to_string(kW) + "x" +
                        std::to_string(kH) + " -r " + std::to_string(kRate) + " -i " +
                        Quote(k.dir / "v.raw") + " -f s16le -ar 48000 -ac 2 -i " +
                        Quote(k.dir / "a.raw") + " -c:v ffv1 -pix_fmt bgra -c:a pcm_s16le " +
                        Quote(k.rgb)),
                  0);
        EXPECT_EQ(Shell(ff +
                        "-f lavfi -i testsrc=s=101x75:r=30:d=3 -f lavfi -i "
                        "sine=f=300:r=44100:d=3 -c:v libx264 -pix_fmt yuv444p -c:a aac " +
                        Quote(k.yuv)),
                  0);
        EXPECT_EQ(Shell(ff + "-f lavfi -i sine=d=1 " + Quote(k.silentAv)), 0);
        return k;
    }();
    return c;
}

Result Fxhost(const std::string& args, const std::string& env = "",
              const fs::path& stdoutTo = "/dev/null") {
    const fs::path err = TheClips().dir / "stderr.txt";
    const std::string cmd =
        env + " " + Quote(kProgram) + " " + args + " >" + Quote(stdoutTo) + " 2>" + Quote(err);
    const int status = Shell(cmd);
    return {status, Slurp(err)};
}

// `fxhost render IN -o OUT OPTIONS --plugin PLUGIN`; an empty IN renders the built-in clip.
Result Render(const fs::path& in, const fs::path& o, const std::string& options = "",
              const fs::path& plugin = kInvert, const std::string& env = "") {
    return Fxhost("render " + (in.empty() ? std::string() : Quote(in)) + " -o " + Quote(o) + " " +
                      options + " --plugin " + Quote(plugin),
                  env);
}

// Messages are one line each: how many a stderr holds.
long Lines(const std::string& err) {
    return std::count(err.begin(), err.end(), '\n');
}

// ffmpeg, quiet and overwriting, with ARGS: its exit status.
int Ffmpeg(const std::string& args) {
    return Shell("ffmpeg -nostdin -v error -y " + args);
}

// Decoded output: frames as A, R, G, B bytes and the sound as interleaved s16.
std::vector<std::uint8_t> DecodeVideo(const fs::path& file, int w, int h) {
    const fs::path raw = file.string() + ".argb";
    EXPECT_EQ(Ffmpeg("-i " + Quote(file) + " -map 0:v -f rawvideo -pix_fmt argb " + Quote(raw)), 0);
    std::string s = Slurp(raw);
    EXPECT_EQ(s.size() % (std::size_t(w) * h * 4), 0u);
    return std::vector<std::uint8_t>(s.begin(), s.end());
}
std::vector<std::int16_t> DecodeAudio(const fs::path& file) {
    const fs::path raw = file.string() + ".pcm";
    EXPECT_EQ(Ffmpeg("-i " + Quote(file) + " -map 0:a -f s16le -ac 2 " + Quote(raw)), 0);
    const std::string s = Slurp(raw);
    std::vector<std::int16_t> out(s.size() / 2);
    std::memcpy(out.data(), s.data(), out.size() * 2);
    return out;
}

int Blend(int src, int dst, int op) {
    return (src * op + dst * (255 - op) + 127) / 255;
}

// Opacity of the untouched frame laid back over frame i (-1: no fade), for fades fi/fo
// already limited to the clip.
int FadeOpacity(int i, int n, int fi, int fo) {
    if (!((fi > 0 || fo != 0) && (i < fi || i > n - fo))) {
        return -1;
    }
    const double percent = i < fi ? double(i) / fi : double(n - i) / fo;
    return int(255.0 * (1.0 - percent));
}

// Counts pixels of output frame k (input frame `first + k`) that differ from `effect`
// faded with the clip's fades.
template <class Effect>
int Mismatches(const std::vector<std::uint8_t>& out, int k, int first, int n, int fi, int fo,
               Effect effect) {
    const int op = FadeOpacity(k, n, fi, fo);
    int bad = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const auto src = InputPixel(x, y, first + k);
            const auto fx = effect(x, y, first + k);
            const std::uint8_t* got = &out[((std::size_t(k) * kH + y) * kW + x) * 4];
            for (int c = 0; c < 4; ++c) {
                const int want = op < 0 ? fx[c] : Blend(src[c], fx[c], op);
                bad += got[c] != want;
            }
        }
    }
    return bad;
}

std::array<std::uint8_t, 4> Inverted(int x, int y, int i) {
    auto p = InputPixel(x, y, i);
    return {p[0], std::uint8_t(255 - p[1]), std::uint8_t(255 - p[2]), std::uint8_t(255 - p[3])};
}

std::vector<fs::path> Leftovers(const fs::path& dir) {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().filename().string().find(".part-") != std::string::npos) {
            found.push_back(e.path());
        }
    }
    return found;
}

// One ffprobe answer about the first stream of a kind ("v", "a"), as its csv line(s).
std::string Probe(const fs::path& file, const std::string& stream, const std::string& entries,
                  const std::string& extra = "") {
    const fs::path o = file.string() + ".probe";
    Shell("ffprobe -v error " + extra + " -select_streams " + stream + " -show_entries " + entries +
          " -of csv=p=0 " + Quote(file) + " >" + Quote(o));
    std::string s = Slurp(o);
    while (!s.empty() && (s.back() == '\n' || s.back() == ',')) {
        s.pop_back();
    }
    return s;
}

// The first frame of a file in its own pixel format, as ffmpeg decodes it.
std::string FirstFrameRaw(const fs::path& file, const std::string& format) {
    const fs::path o = file.string() + ".raw1";
    EXPECT_EQ(Ffmpeg("-i " + Quote(file) + " -frames:v 1 -f rawvideo -pix_fmt " + format + " " +
                     Quote(o)),
              0);
    return Slurp(o);
}

int MaxDifference(const std::string& a, const std::string& b) {
    EXPECT_EQ(a.size(), b.size());
    int worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        worst = std::max(worst, std::abs(int(std::uint8_t(a[i])) - int(std::uint8_t(b[i]))));
    }
    return worst;
}

class Cli : public ::testing::Test {
  protected:
    testfs::TempFolder folder{"fxhost-out"};
    const fs::path out = folder.dir();
};

} // namespace

// --- rendering ---------------------------------------------------------------------------

TEST_F(Cli, LosslessRenderGivesEveryFrameExactlyAndAudioSampleExact) {
    const fs::path o = out / "inv.mkv";
    const Result r = Render(TheClips().rgb, o, "--lossless");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << "nothing on a pipe without --progress: " << r.err;
    const auto v = DecodeVideo(o, kW, kH);
    ASSERT_EQ(v.size(), std::size_t(kFrames) * kW * kH * 4);
    for (int k = 0; k < kFrames; ++k) {
        EXPECT_EQ(Mismatches(v, k, 0, kFrames, 0, 0, Inverted), 0) << "frame " << k;
    }
    const auto a = DecodeAudio(o);
    ASSERT_EQ(a.size(), std::size_t(kFrames) * kSamplesPerFrame * kChannels);
    int wrong = 0;
    for (std::size_t n = 0; n < a.size(); ++n) {
        wrong += a[n] != InputSample(std::int64_t(n / 2), int(n % 2));
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(Leftovers(out).empty());
}

TEST_F(Cli, FadesShowAtBothEnds) {
    const fs::path o = out / "fade.mkv";
    const Result r = Render(TheClips().rgb, o, "--lossless --fade-in 6 --fade-out 5");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = DecodeVideo(o, kW, kH);
    ASSERT_EQ(v.size(), std::size_t(kFrames) * kW * kH * 4);
    for (int k = 0; k < kFrames; ++k) {
        EXPECT_EQ(Mismatches(v, k, 0, kFrames, 6, 5, Inverted), 0) << "frame " << k;
    }
    // Frame 0 is the untouched source.
    EXPECT_EQ(v[1], InputPixel(0, 0, 0)[1]);
}

TEST_F(Cli, ProxyRenderingIsSilent) {
    const fs::path o = out / "proxy.mkv";
    const Result r = Render(TheClips().rgb, o, "--lossless --proxy");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto a = DecodeAudio(o);
    ASSERT_EQ(a.size(), std::size_t(kFrames) * kSamplesPerFrame * kChannels);
    EXPECT_TRUE(std::all_of(a.begin(), a.end(), [](std::int16_t s) { return s == 0; }));
}

TEST_F(Cli, PartOfTheClipSeeksAndKeepsSoundInStep) {
    const fs::path o = out / "part.mkv";
    const Result r = Render(TheClips().rgb, o, "--lossless --frames 23:9");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = DecodeVideo(o, kW, kH);
    ASSERT_EQ(v.size(), std::size_t(9) * kW * kH * 4);
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(Mismatches(v, k, 23, 9, 0, 0, Inverted), 0) << "frame " << k;
    }
    const auto a = DecodeAudio(o);
    ASSERT_EQ(a.size(), std::size_t(9) * kSamplesPerFrame * kChannels);
    int wrong = 0;
    for (std::size_t n = 0; n < a.size(); ++n) {
        wrong += a[n] != InputSample(std::int64_t(n / 2) + 23 * kSamplesPerFrame, int(n % 2));
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Cli, OddSizedCompressedClipRendersToMp4AndSize) {
    const fs::path o = out / "odd.mp4";
    Result r = Render(TheClips().yuv, o);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Shell("ffprobe -v error -select_streams v -count_frames -show_entries "
                    "stream=width,height,nb_read_frames -of csv=p=0 " +
                    Quote(o) + " | grep -qx '101,75,90'"),
              0);
    EXPECT_EQ(
        Shell("ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 " +
              Quote(o) + " | grep -qx aac"),
        0);
    const fs::path small = out / "small.mkv";
    r = Render(TheClips().yuv, small, "--size 64x36 --proxy");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        Shell("ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 " +
              Quote(small) + " | grep -qx '64,36'"),
        0);
}

// Sound that runs on past the last picture (2 s of pictures, 3 s of sound) is kept whole,
// as ffmpeg's own filter path keeps it; a selection of frames still ends the sound with them.
TEST_F(Cli, SoundPastTheLastPictureIsKept) {
    const fs::path in = out / "long-sound.mp4";
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc=s=64x48:r=25:d=2 -f lavfi -i sine=f=440:r=48000:d=3 "
                     "-c:v libx264 -pix_fmt yuv420p -c:a aac " +
                     Quote(in)),
              0);
    const fs::path ours = out / "long-sound-out.mp4", theirs = out / "long-sound-ffmpeg.mp4";
    ASSERT_EQ(Render(in, ours).status, 0);
    ASSERT_EQ(Ffmpeg("-i " + Quote(in) + " -vf pixelize -c:v libx264 -c:a aac " + Quote(theirs)),
              0);
    const double ffmpegSound = std::stod(Probe(theirs, "a", "stream=duration"));
    const double sound = std::stod(Probe(ours, "a", "stream=duration"));
    EXPECT_GT(ffmpegSound, 2.9);
    EXPECT_NEAR(sound, ffmpegSound, 0.03);
    const fs::path part = out / "long-sound-part.mp4";
    ASSERT_EQ(Render(in, part, "--frames 0:25").status, 0);
    EXPECT_NEAR(std::stod(Probe(part, "a", "stream=duration")), 1.0, 0.05);
}

// The container's tags and chapters come through as ffmpeg brings them; --strip-metadata
// leaves every one of them out.
TEST_F(Cli, ContainerTagsAndChaptersAreKeptUnlessStripped) {
    const fs::path meta = out / "meta.txt", in = out / "tagged.mp4";
    std::ofstream(meta) << ";FFMETADATA1\ntitle=Holiday\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\n"
                           "END=1000\ntitle=First\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\n"
                           "END=2000\ntitle=Second\n";
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc=s=64x48:r=25:d=2 -i " + Quote(meta) +
                     " -map 0 -map_metadata 1 -map_chapters 1 -metadata "
                     "creation_time=2024-05-01T10:00:00Z -metadata location=+48.8584+002.2945/ "
                     "-c:v libx264 " +
                     Quote(in)),
              0);
    const fs::path kept = out / "kept.mp4", theirs = out / "kept-ffmpeg.mp4";
    ASSERT_EQ(Render(in, kept).status, 0);
    ASSERT_EQ(Ffmpeg("-i " + Quote(in) + " -vf pixelize -c:v libx264 " + Quote(theirs)), 0);
    auto tags = [](const fs::path& f,
                   const std::string& entries = "format_tags=title,location:chapter_tags=title") {
        const fs::path o = f.string() + ".tags";
        Shell("ffprobe -v error -show_entries " + entries + " -show_chapters -of compact " +
              Quote(f) + " >" + Quote(o));
        return Slurp(o);
    };
    const std::string ours = tags(kept);
    EXPECT_EQ(ours, tags(theirs));
    EXPECT_NE(ours.find("title=Second"), std::string::npos) << ours;
    EXPECT_NE(ours.find("location=+48.8584+002.2945/"), std::string::npos) << ours;
    EXPECT_NE(tags(kept, "format_tags=creation_time").find("2024-05-01T10:00:00"),
              std::string::npos);
    const fs::path stripped = out / "stripped.mp4";
    ASSERT_EQ(Render(in, stripped, "--strip-metadata").status, 0);
    const std::string none = tags(stripped, "format_tags:chapter_tags");
    for (const char* what : {"Holiday", "First", "48.8584", "2024"}) {
        EXPECT_EQ(none.find(what), std::string::npos) << what << " in " << none;
    }
}

TEST_F(Cli, BuiltInClipRendersWithoutInput) {
    const fs::path o = out / "demo.mp4";
    const Result r = Render({}, o, "--frames 0:15");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                    Quote(o) + " | tr '\\n' ' ' | grep -q 'h264,1280,720 aac'"),
              0);
}

TEST_F(Cli, ProgressOnlyWhenAskedOnAPipeAndNeverWhenQuiet) {
    Result r = Render(TheClips().rgb, out / "p.mkv", "--frames 0:5 --progress");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("frame 5/5"), std::string::npos) << r.err;
    r = Render(TheClips().rgb, out / "q.mkv", "--frames 0:5 --progress --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(Cli, ExistingOutputIsKeptUnlessReplaced) {
    const fs::path o = out / "keep.mkv";
    std::ofstream(o) << "precious";
    Result r = Render(TheClips().rgb, o);
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("exists"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(o), "precious");
    r = Render(TheClips().rgb, o, "-y --frames 0:3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Slurp(o), "precious");
}

TEST_F(Cli, ThumbnailIsThePlaceholderFrame) {
    const fs::path png = out / "thumb.png";
    const Result r = Fxhost("thumbnail " + Quote(TheClips().rgb) + " -o " + Quote(png) +
                            " --frame 7 --plugin " + Quote(kInvert));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = DecodeVideo(png, kW, kH);
    ASSERT_EQ(v.size(), std::size_t(kW) * kH * 4);
    EXPECT_EQ(Mismatches(v, 0, 7, 1, 0, 0, Inverted), 0);
}

TEST_F(Cli, InfoDescribesThePlugin) {
    Result r = Fxhost("info --json --plugin " + Quote(kInvert), "", out / "info.json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json info = nlohmann::json::parse(Slurp(out / "info.json"));
    EXPECT_EQ(info.at("sliders").at(0).at("label"), "Strength") << info;
    EXPECT_EQ(info.at("sliders").at(0).at("default"), 0.25) << info;
    EXPECT_EQ(info.at("buttonTitle"), "Invert settings");
    EXPECT_EQ(info.at("type"), 105);
    EXPECT_EQ(info.at("group"), "Host tests");
    r = Fxhost("info", "FXHOST_PLUGIN_PATH=" + Quote(kInvert));
    EXPECT_EQ(r.status, 0) << r.err;
    // A default the plug-in left NaN is null: the description stays valid JSON.
    r = Fxhost("info --json --plugin " + Quote(kInvert), "INVERT_TEST_NAN_DEFAULT=1",
               out / "nan.json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json nan = nlohmann::json::parse(Slurp(out / "nan.json"));
    EXPECT_TRUE(nan.at("sliders").at(0).at("default").is_null()) << nan;
}

TEST_F(Cli, HelpVersionAndConfigure) {
    for (const char* c : {"render", "info", "thumbnail", "configure", "track", "detect"}) {
        EXPECT_EQ(Fxhost(std::string(c) + " --help").status, 0) << c;
    }
    EXPECT_EQ(Fxhost("--help").status, 0);
    EXPECT_EQ(Fxhost("--version").status, 0);
    // Without a display (or without windows in the build) the dialog cannot open: one line
    // and status 7, and nothing is pressed.
    const Result r =
        Fxhost("configure " + Quote(TheClips().rgb) + " --frame 3 --plugin " + Quote(kInvert),
               "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM");
    EXPECT_EQ(r.status, 7) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    // Whatever Qt says when it gives up after the check (here: a platform it cannot load),
    // and however often the display is tried, the same: one line and status 7, no abort.
    const std::string clip = Quote(TheClips().rgb) + " --plugin " + Quote(kInvert);
    for (const char* env : {"env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=nosuchplatform",
                            "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97"}) {
        for (int i = 0; i < 10; ++i) {
            const Result again = Fxhost("configure " + clip, env);
            ASSERT_EQ(again.status, 7) << env << "\n" << again.err;
            ASSERT_EQ(Lines(again.err), 1) << again.err;
            ASSERT_EQ(again.err.rfind("fxhost: configure", 0), 0) << again.err;
        }
    }
    // A mistyped option or command is named, whatever else is missing.
    for (const auto& [args, line] :
         {std::pair{"render --bogus", "fxhost: unknown option '--bogus' (see --help)\n"},
          std::pair{"frobnicate", "fxhost: unknown command 'frobnicate' (see fxhost --help)\n"},
          std::pair{"render -o", "fxhost: --output needs a value\n"}}) {
        const Result r = Fxhost(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err, line) << args;
    }
    // An option where a value belongs is a forgotten value, not a name.
    const Result forgot = Fxhost("render --frames 0:1 -o --proxy");
    EXPECT_EQ(forgot.status, 2) << forgot.err;
    EXPECT_FALSE(fs::exists(fs::current_path() / "--proxy"));
    // A repeated option takes its last value.
    EXPECT_EQ(Fxhost("info --plugin /nonexistent --plugin " + Quote(kInvert)).status, 0);
}

// --- failures ----------------------------------------------------------------------------

TEST_F(Cli, InputFailuresAreOneLineAndExitThree) {
    const fs::path garbage = out / "garbage.mp4";
    {
        std::mt19937 rng(7);
        std::ofstream f(garbage, std::ios::binary);
        for (int i = 0; i < 200000; ++i) {
            f.put(char(rng()));
        }
    }
    const fs::path truncated = out / "trunc.mp4";
    // H.264 with its index at the end: cut in half, the file has no index.
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc=s=96x64:d=2 -c:v libx264 " + Quote(out / "whole.mp4")),
              0);
    {
        const std::string whole = Slurp(out / "whole.mp4");
        std::ofstream(truncated, std::ios::binary) << whole.substr(0, whole.size() / 2);
    }
    const fs::path weird = out / "weird.mkv";
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc=s=64x48:d=1 -c:v mpeg4 " + Quote(out / "m4.mkv")), 0);
    {
        std::string bytes = Slurp(out / "m4.mkv");
        const auto at = bytes.find("V_MPEG4/ISO/ASP");
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at, 15, "V_QQQQQ/ISO/ASP");
        std::ofstream(weird, std::ios::binary) << bytes;
    }
    const fs::path big = out / "big.mkv";
    ASSERT_EQ(Ffmpeg("-f lavfi -i color=s=40000x2:d=0.04 -frames:v 1 "
                     "-c:v ffv1 " +
                     Quote(big)),
              0);
    const struct {
        fs::path input;
        const char* says;
    } cases[] = {{out / "missing.mkv", "does not exist"},
                 {out, "is a directory"},
                 {garbage, "not a readable media file"},
                 {truncated, "not a readable media file"},
                 {TheClips().silentAv, "no video stream"},
                 {weird, "no decoder for codec"},
                 {big, "16-bit"}};
    for (const auto& c : cases) {
        const fs::path o = out / "never.mkv";
        const Result r = Render(c.input, o);
        EXPECT_EQ(r.status, 3) << c.input << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_FALSE(fs::exists(o));
    }
    EXPECT_TRUE(Leftovers(out).empty());
}

TEST_F(Cli, CutFilesRenderWhatIsThereSayHowMuchAndExitEight) {
    const std::string whole = Slurp(TheClips().rgb);
    const fs::path cut = out / "cut.mkv";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() * 6 / 10);
    const fs::path o = out / "cut-out.mkv";
    Result r = Render(cut, o, "--lossless");
    EXPECT_EQ(r.status, 8) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    const auto v = DecodeVideo(o, kW, kH);
    const int frames = int(v.size() / (std::size_t(kW) * kH * 4));
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, kFrames);
    EXPECT_NE(r.err.find("rendered " + std::to_string(frames) + " of " + std::to_string(kFrames) +
                         " frames"),
              std::string::npos)
        << r.err;
    for (int k = 0; k < frames; ++k) {
        EXPECT_EQ(Mismatches(v, k, 0, frames, 0, 0, Inverted), 0) << "frame " << k;
    }
    // The sound goes as far as the frames.
    EXPECT_EQ(DecodeAudio(o).size(), std::size_t(frames) * kSamplesPerFrame * kChannels);

    // An MP4 with its index in front, cut: its index announces every frame.
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc2=s=160x120:r=25:d=2 -c:v "
                     "libx264 -g 10 -movflags +faststart " +
                     Quote(out / "fs.mp4")),
              0);
    const std::string mp4 = Slurp(out / "fs.mp4");
    std::ofstream(out / "fscut.mp4", std::ios::binary) << mp4.substr(0, mp4.size() * 6 / 10);
    r = Render(out / "fscut.mp4", out / "fscut-out.mkv");
    EXPECT_EQ(r.status, 8) << r.err;
    EXPECT_NE(r.err.find(" of 50 frames"), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(Shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of "
                    "csv=p=0 " +
                    Quote(out / "fscut-out.mkv") + " | grep -qx '[1-4][0-9]'"),
              0);
    EXPECT_TRUE(Leftovers(out).empty());
}

TEST_F(Cli, StreamJoinedMidGroupStartsAtItsFirstWholeFrameAndIsComplete) {
    // A transport stream picked up in the middle, as a capture starts: the frames before
    // the first key frame cannot be decoded, and the rest is the whole clip.
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc2=s=160x120:r=25:d=4 "
                     "-c:v libx264 -g 25 -bf 2 " +
                     Quote(out / "whole.ts")),
              0);
    const std::string ts = Slurp(out / "whole.ts");
    const std::size_t from = ts.size() / 188 / 3 * 188;
    std::ofstream(out / "joined.ts", std::ios::binary) << ts.substr(from);
    const Result r = Render(out / "joined.ts", out / "joined.mkv");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string count = "stream=nb_read_frames";
    const std::string decodable = Probe(out / "joined.ts", "v", count, "-count_frames");
    EXPECT_EQ(Probe(out / "joined.mkv", "v", count, "-count_frames"),
              decodable.substr(0, decodable.find('\n'))); // (listed per program too)
}

TEST_F(Cli, PipesStandardInputAndUrlsAreRefusedAtOnce) {
    const fs::path fifo = out / "fifo.mkv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TheClips(); // made on first use: not part of the time measured
    const auto t0 = std::chrono::steady_clock::now();
    Result r = Render(fifo, out / "o.mkv");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("named pipe"), std::string::npos) << r.err;
    r = Fxhost("render - -o " + Quote(out / "o.mkv") + " --plugin " + Quote(kInvert) + " <" +
               Quote(TheClips().rgb));
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("standard input"), std::string::npos) << r.err;
    r = Fxhost("render http://127.0.0.1:9/clip.mp4 -o " + Quote(out / "o.mkv") + " --plugin " +
               Quote(kInvert));
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("--network"), std::string::npos) << r.err;
    // A local playlist cannot reach the network either.
    std::ofstream(out / "list.m3u8") << "#EXTM3U\n#EXTINF:1,\nhttp://127.0.0.1:9/a.ts\n";
    r = Render(out / "list.m3u8", out / "o.mkv");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_FALSE(fs::exists(out / "o.mkv"));
}

TEST_F(Cli, BundleFailuresExitFour) {
    fs::copy(kInvert, out / "Bare.bundle", fs::copy_options::recursive);
    fs::remove(out / "Bare.bundle/Contents/Info.plist");
    const struct {
        fs::path bundle;
        const char* says;
    } cases[] = {{out / "None.bundle", "does not exist"},
                 {out / "Bare.bundle", "no Contents/Info.plist"},
                 {kBundles / "NoMain.bundle", "exports no 'main'"}};
    for (const auto& c : cases) {
        const Result r = Render(TheClips().rgb, out / "x.mkv", "", c.bundle);
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(Fxhost("info --plugin " + Quote(c.bundle)).status, 4);
    }
    // Without --plugin or $FXHOST_PLUGIN_PATH: the bundle next to the program.
    const fs::path lonely = out / "bin";
    fs::create_directories(lonely);
    fs::copy(kProgram, lonely / "fxhost");
    fs::create_directories(out / "lib");
    for (const auto& e : fs::directory_iterator(kProgram.parent_path().parent_path() / "lib")) {
        fs::copy(e.path(), out / "lib" / e.path().filename());
    }
    const int st = Shell("env -u FXHOST_PLUGIN_PATH " + Quote(lonely / "fxhost") +
                         " info >/dev/null 2>" + Quote(out / "e.txt"));
    EXPECT_EQ(st, 4);
    EXPECT_NE(Slurp(out / "e.txt").find((lonely / "Tessera.bundle").string()), std::string::npos);
}

TEST_F(Cli, PluginResultCodeIsNamedAndNoOutputIsLeft) {
    const fs::path o = out / "fail.mkv";
    const Result r = Render(TheClips().rgb, o, "", kInvert, "INVERT_TEST_FAIL_FRAME=3");
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find("kPluginFailed (6)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("frame 3"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(o));
    EXPECT_TRUE(Leftovers(out).empty());
}

TEST_F(Cli, OutputFailuresExitSix) {
    Result r = Fxhost("render " + Quote(TheClips().rgb) + " -o /nonexistent-dir/x.mkv --plugin " +
                      Quote(kInvert));
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_NE(r.err.find("/nonexistent-dir/x.mkv"), std::string::npos) << r.err;
    r = Render(TheClips().rgb, out / "x.mkv", "--codec no-such-codec");
    EXPECT_EQ(r.status, 6) << r.err;
    r = Render(TheClips().rgb, out / "x.mp4", "--lossless");
    EXPECT_EQ(r.status, 6) << r.err;
    r = Render(TheClips().rgb, out / "x.nosuchformat");
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_TRUE(fs::is_empty(out));
}

// Starts `fxhost render` of the built-in clip into `o` and waits until its temporary is
// there, so that whatever the test does next lands mid-render.
pid_t StartLongRender(const fs::path& o, const std::vector<std::string>& extra = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stderr);
        std::vector<std::string> args = {"fxhost",   "render",   "-o",
                                         o.string(), "--plugin", kInvert.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(kProgram.c_str(), argv.data());
        _exit(127);
    }
    for (int i = 0; i < 500 && Leftovers(o.parent_path()).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(Leftovers(o.parent_path()).empty()) << "the render never started writing";
    return pid;
}

TEST_F(Cli, EverySignalThatEndsARenderRemovesTheTemporaryWithinASecond) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
        const fs::path o = out / "long.mp4";
        const pid_t pid = StartLongRender(o);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto sent = std::chrono::steady_clock::now();
        kill(pid, sig);
        int st = 0;
        waitpid(pid, &st, 0);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
        ASSERT_TRUE(WIFEXITED(st)) << strsignal(sig);
        EXPECT_EQ(WEXITSTATUS(st), 128 + sig) << strsignal(sig);
        EXPECT_LT(took, 1.5) << strsignal(sig);
        EXPECT_FALSE(fs::exists(o)) << strsignal(sig);
        EXPECT_TRUE(Leftovers(out).empty()) << strsignal(sig);
    }
}

TEST_F(Cli, NothingAtTheOutputIsReplacedWithoutYes) {
    // A file that appears while the render runs is kept, and the render says so.
    const fs::path o = out / "late.mp4";
    const pid_t pid = StartLongRender(o, {"--frames", "0:60"});
    std::ofstream(o) << "arrived meanwhile";
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 6);
    EXPECT_EQ(Slurp(o), "arrived meanwhile");
    EXPECT_TRUE(Leftovers(out).empty());

    // A dangling link is something at the name too: kept, and nothing made where it points.
    const fs::path link = out / "link.mkv";
    fs::create_symlink(out / "nowhere.mkv", link);
    Result r = Render(TheClips().rgb, link, "--frames 0:3");
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(out / "nowhere.mkv"));
    r = Render(TheClips().rgb, link, "-y --frames 0:3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::is_symlink(link)) << "-y replaces the link, not what it points at";
    EXPECT_FALSE(fs::exists(out / "nowhere.mkv"));
}

TEST_F(Cli, OutputThatIsTheInputIsRefusedUnlessInsisted) {
    const fs::path clip = out / "clip.mkv";
    fs::copy(TheClips().rgb, clip);
    fs::create_hard_link(clip, out / "alias.mkv");
    const std::string before = Slurp(clip);
    for (const fs::path& o :
         {clip, out / "." / ".." / out.filename() / "clip.mkv", out / "alias.mkv"}) {
        const Result r = Render(clip, o, "-y --frames 0:3");
        EXPECT_EQ(r.status, 6) << o << ": " << r.err;
        EXPECT_NE(r.err.find("is the input"), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    }
    EXPECT_EQ(Slurp(clip), before);
    const Result r = Render(clip, clip, "-y --replace-input --lossless --frames 0:3");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = DecodeVideo(clip, kW, kH);
    ASSERT_EQ(v.size(), std::size_t(3) * kW * kH * 4);
    EXPECT_EQ(Mismatches(v, 1, 0, 3, 0, 0, Inverted), 0);
}

TEST_F(Cli, TemporariesOfDeadRunsAreRemovedAndOthersKept) {
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    waitpid(gone, nullptr, 0);
    const fs::path dead = out / (".x.mkv.part-" + std::to_string(gone) + "-aB3dE9");
    const fs::path older = out / (".y.mp4.part-" + std::to_string(gone));
    const fs::path live = out / (".z.mkv.part-" + std::to_string(getpid()) + "-aB3dE9");
    const fs::path other = out / ".notes.part-draft";
    for (const fs::path& p : {dead, older, live, other}) {
        std::ofstream(p) << "x";
    }
    const Result r = Render(TheClips().rgb, out / "x.mkv", "--frames 0:2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_FALSE(fs::exists(older));
    EXPECT_TRUE(fs::exists(live)) << "its run is alive";
    EXPECT_TRUE(fs::exists(other)) << "not a temporary of fxhost";
}

TEST_F(Cli, NamesWithColonsAndLongNamesWork) {
    fs::copy(TheClips().rgb, out / "in:put.mkv");
    const std::string longName = std::string(246, 'n') + ".mkv"; // 250 bytes, NAME_MAX 255
    for (const std::string& name : {std::string("a:b.mkv"), std::string("file:c.mkv"), longName}) {
        const int st = Shell(
            "cd " + Quote(out) + " && " + Quote(kProgram) + " render in:put.mkv -o " + Quote(name) +
            " --lossless --frames 0:2 --plugin " + Quote(kInvert) + " 2>" + Quote(out / "err.txt"));
        EXPECT_EQ(st, 0) << name << ": " << Slurp(out / "err.txt");
        const auto v = DecodeVideo(out / name, kW, kH);
        ASSERT_EQ(v.size(), std::size_t(2) * kW * kH * 4) << name;
        EXPECT_EQ(Mismatches(v, 1, 0, 2, 0, 0, Inverted), 0) << name;
    }
    EXPECT_TRUE(Leftovers(out).empty());
}

// --- footage as it comes: colours, depth, timing, display ---------------------------------

TEST_F(Cli, ColoursComeBackAndTheOutputIsTaggedAsTheInput) {
    const struct {
        const char *space, *primaries, *transfer, *matrix, *range;
    } cases[] = {{"smpte170m", "smpte170m", "smpte170m", "bt601", "tv"},
                 {"bt470bg", "bt470bg", "gamma28", "bt601", "pc"},
                 {"bt709", "bt709", "bt709", "bt709", "tv"},
                 {"bt709", "bt709", "bt709", "bt709", "pc"},
                 {"bt2020nc", "bt2020", "bt2020-10", "bt2020", "tv"},
                 {"bt2020nc", "bt2020", "bt2020-10", "bt2020", "pc"}};
    for (const auto& c : cases) {
        const std::string name = std::string(c.space) + "-" + c.range;
        const fs::path in = out / (name + ".mkv"), o = out / (name + "-out.mkv");
        ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc2=s=64x48:r=25:d=0.2 "
                         "-vf format=rgb24,scale=out_color_matrix=" +
                         std::string(c.matrix) + ":out_range=" + c.range +
                         ",format=yuv444p -colorspace " + c.space + " -color_primaries " +
                         c.primaries + " -color_trc " + c.transfer + " -color_range " + c.range +
                         " -c:v libx264 -crf 0 " + Quote(in)),
                  0);
        // Frame 0 of a fade-in is the untouched input; lossless H.264 leaves only the
        // conversions to ARGB and back (of colours an RGB picture can have).
        const Result r = Render(in, o, "--fade-in 100 --crf 0 --pix-fmt yuv444p");
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const std::string tags = "stream=color_space,color_range,color_primaries,color_transfer";
        EXPECT_EQ(Probe(o, "v", tags), Probe(in, "v", tags)) << name;
        EXPECT_LE(MaxDifference(FirstFrameRaw(in, "yuv444p"), FirstFrameRaw(o, "yuv444p")), 3)
            << name;
    }
}

// Flat colours in 4:2:0, as cameras and phones record them, through the plug-in's ARGB and
// back: fxhost must keep them at least as well as ffmpeg's own path through RGB with the
// matrix and range given both ways (ffmpeg's default path, which assumes BT.601, is further
// off still).
TEST_F(Cli, FlatColoursComeBackAsDecodedOrAsFfmpegsRgbPathKeepsThem) {
    const struct {
        const char *space, *matrix, *format, *other;
    } cases[] = {{"bt709", "bt709", "yuv420p", "yuv444p"},
                 {"bt2020nc", "bt2020", "yuv420p10le", "yuv444p10le"}};
    for (const auto& c : cases) {
        const std::string name = std::string("flat-") + c.space;
        const fs::path in = out / (name + ".mkv"), o = out / (name + "-out.mkv");
        const fs::path ff = out / (name + "-ffmpeg.mkv");
        ASSERT_EQ(Ffmpeg("-f lavfi -i color=c=0x3080C0:s=64x48:r=25:d=0.2 -vf scale=out_color_matrix=" +
                         std::string(c.matrix) + ":out_range=tv,format=" + c.format +
                         " -colorspace " + c.space + " -color_range tv -c:v ffv1 " + Quote(in)),
                  0);
        ASSERT_EQ(Ffmpeg("-i " + Quote(in) + " -vf scale=in_color_matrix=" + c.matrix +
                         ":in_range=tv,format=argb,scale=out_color_matrix=" + c.matrix +
                         ":out_range=tv,format=" + c.format + " -c:v ffv1 " + Quote(ff)),
                  0);
        // FFV1 keeps the input's own format; on the first frame of the fade the plug-in leaves
        // every pixel as it was given, so they come out as they were decoded.
        const Result r = Render(in, o, "--fade-in 100 --codec ffv1");
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(Probe(o, "v", "stream=pix_fmt"), c.format) << name;
        // Compared as 8-bit 4:4:4, so that a level is a level of 8-bit video for both.
        const std::string want = FirstFrameRaw(in, "yuv444p");
        const int ours = MaxDifference(want, FirstFrameRaw(o, "yuv444p"));
        const int ffmpegs = MaxDifference(want, FirstFrameRaw(ff, "yuv444p"));
        std::printf("[ %-14s ] fxhost %d level(s) off, ffmpeg's RGB path %d\n", name.c_str(),
                    ours, ffmpegs);
        EXPECT_EQ(ours, 0) << name;
        // Into another format every pixel is converted, and keeps ffmpeg's colours.
        const Result converted = Render(in, o, std::string("--fade-in 100 --codec ffv1 -y --pix-fmt ") +
                                                   c.other);
        ASSERT_EQ(converted.status, 0) << name << ": " << converted.err;
        EXPECT_LE(MaxDifference(want, FirstFrameRaw(o, "yuv444p")), ffmpegs) << name;
    }
}

TEST_F(Cli, DeepInputKeepsItsDepthOrSaysItDoesNot) {
    const fs::path in = out / "ten.mkv";
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc2=s=64x48:r=25:d=0.2 "
                     "-pix_fmt yuv420p10le -c:v ffv1 " +
                     Quote(in)),
              0);
    Result r = Render(in, out / "ten-out.mkv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Probe(out / "ten-out.mkv", "v", "stream=pix_fmt"), "yuv420p10le");
    r = Render(in, out / "ten-mpeg4.mkv", "--codec mpeg4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("10-bit"), std::string::npos) << r.err;
    EXPECT_EQ(Probe(out / "ten-mpeg4.mkv", "v", "stream=pix_fmt"), "yuv420p");
}

TEST_F(Cli, EncoderQualityPresetAndPixelFormatCanBeChosen) {
    const fs::path small = out / "small.mp4", big = out / "big.mp4", full = out / "444.mp4";
    ASSERT_EQ(Render(TheClips().rgb, small, "--crf 45 --preset ultrafast").status, 0);
    ASSERT_EQ(Render(TheClips().rgb, big, "--crf 5").status, 0);
    EXPECT_LT(fs::file_size(small) * 2, fs::file_size(big));
    ASSERT_EQ(Render(TheClips().rgb, full, "--pix-fmt yuv444p").status, 0);
    EXPECT_EQ(Probe(full, "v", "stream=pix_fmt"), "yuv444p");
    const struct {
        const char* options;
        int status;
    } refused[] = {{"--preset nonsense", 6},
                   {"--codec ffv1 --crf 10", 6},
                   {"--pix-fmt no-such-format", 6},
                   {"--pix-fmt yuv420p", 6}, // the clip is 97x61: no 4:2:0
                   {"--lossless --crf 3", 2}};
    for (const auto& c : refused) {
        const fs::path o = out / "refused.mkv";
        const Result r = Render(TheClips().rgb, o, c.options);
        EXPECT_EQ(r.status, c.status) << c.options << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_FALSE(fs::exists(o));
    }
}

TEST_F(Cli, VariableRateClipKeepsEveryFrameItsTimeAndItsSound) {
    // 25 frames at 25 fps, a gap of 5 s, 25 more; 7 s of sound throughout.
    const fs::path in = out / "gap.mkv";
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc=s=64x48:r=25:d=2 -f lavfi "
                     "-i sine=f=300:r=48000:d=7 -vf \"setpts='(N+if(gte(N,25),125,0))/25/TB'\" "
                     "-fps_mode passthrough -c:v ffv1 -c:a pcm_s16le " +
                     Quote(in)),
              0);
    const fs::path o = out / "gap-out.mkv";
    Result r = Render(in, o, "--lossless");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string times = "frame=pts_time";
    const std::string inTimes = Probe(in, "v", times);
    EXPECT_EQ(Lines(inTimes), 49) << inTimes;
    EXPECT_EQ(Probe(o, "v", times), inTimes);
    // The sound is all there, through the gap, sample for sample.
    const auto inSound = DecodeAudio(in), outSound = DecodeAudio(o);
    ASSERT_EQ(outSound.size(), std::size_t(7 * 48000 * 2));
    EXPECT_TRUE(std::equal(outSound.begin(), outSound.end(), inSound.begin()));

    // Frames chosen by index or by time start the output at their own time.
    r = Render(in, out / "part.mkv", "--lossless --frames 24:3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out / "part.mkv", "v", times), "0.000000\n5.040000\n5.080000");
    r = Render(in, out / "time.mkv", "--lossless -ss 6 -t 0.5 -an");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out / "time.mkv", "v", "stream=nb_read_frames", "-count_frames"), "13");
    EXPECT_EQ(Probe(out / "time.mkv", "a", "stream=codec_type"), "") << "-an: no sound";
    r = Render(in, out / "to.mkv", "--lossless -ss 0.5 -to 6.1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out / "to.mkv", "v", "stream=nb_read_frames", "-count_frames"), "15");
}

TEST_F(Cli, RotatedAnamorphicAndInterlacedClipsComeOutAsShown) {
    for (int degrees : {90, 180, 270}) {
        const fs::path in = out / ("rot" + std::to_string(degrees) + ".mp4");
        const fs::path o = out / ("rot" + std::to_string(degrees) + "-out.mkv");
        // The display matrix, as a phone writes it (ffmpeg sets it when copying).
        ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc2=s=64x48:r=25:d=0.2 "
                         "-c:v libx264 -crf 0 -pix_fmt yuv444p " +
                         Quote(out / "upright.mp4") + " && ffmpeg -nostdin -v error -y -i " +
                         Quote(out / "upright.mp4") + " -c copy -metadata:s:v:0 rotate=" +
                         std::to_string(degrees) + " " + Quote(in)),
                  0);
        const Result r = Render(in, o, "--lossless --fade-in 100");
        ASSERT_EQ(r.status, 0) << r.err;
        // Upright, as ffmpeg shows it (it turns the picture by the same matrix).
        EXPECT_EQ(Probe(o, "v", "stream=width,height"), degrees == 180 ? "64,48" : "48,64");
        EXPECT_LE(MaxDifference(FirstFrameRaw(in, "rgb24"), FirstFrameRaw(o, "rgb24")), 6)
            << degrees;
        // In the input's own format, what the plug-in left alone is the decoded picture,
        // turned as ffmpeg turns it.
        const fs::path kept = out / ("rot" + std::to_string(degrees) + "-kept.mkv");
        ASSERT_EQ(Render(in, kept, "--codec ffv1 --pix-fmt yuv444p --fade-in 100").status, 0);
        EXPECT_EQ(MaxDifference(FirstFrameRaw(in, "yuv444p"), FirstFrameRaw(kept, "yuv444p")), 0)
            << degrees;
        const fs::path png = out / ("rot" + std::to_string(degrees) + ".png");
        ASSERT_EQ(
            Fxhost("thumbnail " + Quote(in) + " -o " + Quote(png) + " --plugin " + Quote(kInvert))
                .status,
            0);
        EXPECT_EQ(Probe(png, "v", "stream=width,height"), degrees == 180 ? "64,48" : "48,64");
    }
    const fs::path wide = out / "sar.mkv";
    ASSERT_EQ(Ffmpeg("-f lavfi -i testsrc2=s=64x48:r=25:d=0.2 "
                     "-vf setsar=2/1 -c:v ffv1 -field_order tt " +
                     Quote(wide)),
              0);
    Result r = Render(wide, out / "sar-out.mkv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out / "sar-out.mkv", "v", "stream=sample_aspect_ratio,field_order"), "2:1,tt");
    // H.264 codes the fields as such.
    r = Render(wide, out / "sar-out.mp4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out / "sar-out.mp4", "v", "stream=sample_aspect_ratio,field_order"), "2:1,tt");
    r = Render(wide, out / "sar-half.mkv", "--size 32x48 --lossless");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out / "sar-half.mkv", "v", "stream=sample_aspect_ratio,field_order"), "4:1,tt")
        << "the picture keeps its shape";
}

TEST_F(Cli, LosslessRoundTripsTinyFrames) {
    std::mt19937 rng(3);
    for (const auto& [w, h] :
         std::vector<std::pair<int, int>>{{1, 1}, {1, 5}, {2, 2}, {3, 1}, {2, 7}, {5, 3}, {9, 2}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        std::string pixels;
        for (int i = 0; i < w * h * 3; ++i) {
            pixels += {char(rng()), char(rng()), char(rng()), char(255)};
        }
        const fs::path raw = out / (size + ".bgra"), o = out / (size + ".mkv");
        std::ofstream(raw, std::ios::binary) << pixels;
        ASSERT_EQ(Ffmpeg("-f rawvideo -pix_fmt bgra -s " + size + " -r 25 -i " + Quote(raw) +
                         " -c:v ffvhuff " + Quote(out / "in.mkv")),
                  0);
        const Result r = Render(out / "in.mkv", o, "--lossless -y");
        ASSERT_EQ(r.status, 0) << size << ": " << r.err;
        const auto v = DecodeVideo(o, w, h);
        ASSERT_EQ(v.size(), pixels.size()) << size;
        int wrong = 0;
        for (std::size_t i = 0; i < v.size(); i += 4) { // ARGB out, BGRA in, inverted
            wrong += v[i] != 255 || v[i + 1] != 255 - std::uint8_t(pixels[i + 2]) ||
                     v[i + 2] != 255 - std::uint8_t(pixels[i + 1]) ||
                     v[i + 3] != 255 - std::uint8_t(pixels[i]);
        }
        EXPECT_EQ(wrong, 0) << size;
    }
}

// --- the media layer on its own ----------------------------------------------------------

TEST(FFmpegFrameSource, RandomAccessGivesTheRightFrames) {
    fxhost::media::FFmpegFrameSource src(TheClips().rgb);
    EXPECT_EQ(src.width(), kW);
    EXPECT_EQ(src.height(), kH);
    EXPECT_EQ(src.frameCount(), kFrames);
    std::vector<std::uint8_t> buf(std::size_t(kW) * kH * 4);
    const fxhost::PixelTarget t{buf.data(), kW * 4, kW, kH};
    for (int index : {0, 1, 30, 5, 6, 6, 39, 0, 17, 18, 2}) {
        ASSERT_TRUE(src.fetch(index, t, fxhost::ScaleQuality::High)) << src.lastError();
        int bad = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const auto p = InputPixel(x, y, index);
                bad += !std::equal(p.begin(), p.end(), &buf[(std::size_t(y) * kW + x) * 4]);
            }
        }
        EXPECT_EQ(bad, 0) << "frame " << index;
    }
    EXPECT_FALSE(src.fetch(kFrames, t, fxhost::ScaleQuality::High));
}

TEST(FFmpegFrameSource, ScalesToTheRequestedSizeAtEitherQuality) {
    fxhost::media::FFmpegFrameSource src(TheClips().yuv);
    for (auto q : {fxhost::ScaleQuality::Low, fxhost::ScaleQuality::High}) {
        std::vector<std::uint8_t> buf(50 * 30 * 4 + 30 * 8, 0);
        const fxhost::PixelTarget t{buf.data(), 50 * 4 + 8, 50, 30};
        ASSERT_TRUE(src.fetch(10, t, q));
        for (int y = 0; y < 30; ++y) {
            EXPECT_EQ(buf[std::size_t(y) * t.rowBytes], 255) << "alpha";
            EXPECT_EQ(buf[std::size_t(y) * t.rowBytes + 200], 0) << "padding untouched";
        }
    }
}

TEST(FFmpegAudioSource, ReadsContiguouslyWithSilenceAfterTheEnd) {
    auto a = fxhost::media::FFmpegAudioSource::Open(TheClips().rgb, 0.0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->sampleRate(), kSampleRate);
    EXPECT_EQ(a->channels(), 2);
    std::vector<float> l(1000), r(1000);
    float* planes[2] = {l.data(), r.data()};
    std::int64_t pos = 0;
    int wrong = 0;
    for (int chunk : {1000, 7, 333, 1000}) {
        a->read(pos, chunk, planes);
        for (int i = 0; i < chunk; ++i) {
            wrong += std::lrint(l[i] * 32768) != InputSample(pos + i, 0);
            wrong += std::lrint(r[i] * 32768) != InputSample(pos + i, 1);
        }
        pos += chunk;
    }
    EXPECT_EQ(wrong, 0);
    a->read(std::int64_t(kFrames) * kSamplesPerFrame, 500, planes);
    EXPECT_TRUE(std::all_of(l.begin(), l.begin() + 500, [](float s) { return s == 0; }));
}

// --- the Tessera bundle ------------------------------------------------------------------

namespace {

constexpr int kTW = 320, kTH = 240, kTFrames = 12;

// Tessera's default configuration, through the plug-in tests' one mosaic oracle: the whole
// frame in blocks of 10/1000 of its width and height.
std::vector<std::uint8_t> MosaicOf(int i) {
    std::vector<tessera_test::ARGB> px(std::size_t(kTW) * kTH);
    for (int y = 0; y < kTH; ++y) {
        for (int x = 0; x < kTW; ++x) {
            const auto p = InputPixel(x, y, i);
            px[std::size_t(y) * kTW + x] = {p[0], p[1], p[2], p[3]};
        }
    }
    tessera_test::MosaicOracle(px, px, kTW, kTH, Rect{0, 0, kTH, kTW}, kTW * 10 / 1000,
                               kTH * 10 / 1000);
    std::vector<std::uint8_t> img;
    for (const auto& p : px) {
        img.insert(img.end(), {p.a, p.r, p.g, p.b});
    }
    return img;
}

class Tessera : public Cli {
  protected:
    fs::path clip, config;
    void SetUp() override {
        if (!fs::exists(kTessera / "Contents/Info.plist")) {
            GTEST_SKIP() << "Tessera.bundle is not built";
        }
        Cli::SetUp();
        config = out / "config";
        fs::create_directories(config);
        clip = out / "tessera-in.mkv";
        std::string video;
        for (int i = 0; i < kTFrames; ++i) {
            for (int y = 0; y < kTH; ++y) {
                for (int x = 0; x < kTW; ++x) {
                    const auto p = InputPixel(x, y, i);
                    video += {char(p[3]), char(p[2]), char(p[1]), char(p[0])};
                }
            }
        }
        std::ofstream(out / "t.raw", std::ios::binary) << video;
        ASSERT_EQ(Ffmpeg("-f rawvideo -pix_fmt bgra -s 320x240 -r 25 -i " + Quote(out / "t.raw") +
                         " -f lavfi -i sine=f=500:r=48000:d=0.48 -c:v ffv1 "
                         "-pix_fmt bgra -c:a pcm_s16le " +
                         Quote(clip)),
                  0);
    }
    std::string Env() const { return "XDG_CONFIG_HOME=" + Quote(config); }
    int Compare(const std::vector<std::uint8_t>& v, int fi, int fo) {
        int bad = 0;
        for (int k = 0; k < kTFrames; ++k) {
            const auto mosaic = MosaicOf(k);
            const int op = FadeOpacity(k, kTFrames, fi, fo);
            for (std::size_t p = 0; p < mosaic.size(); ++p) {
                const std::size_t y = p / 4 / kTW, x = p / 4 % kTW;
                const int src = InputPixel(int(x), int(y), k)[p % 4];
                const int want = op < 0 ? mosaic[p] : Blend(src, mosaic[p], op);
                bad += v[std::size_t(k) * mosaic.size() + p] != want;
            }
        }
        return bad;
    }
};

} // namespace

TEST_F(Tessera, LosslessRenderMatchesTheMosaicAndFades) {
    const fs::path o = out / "mosaic.mkv";
    Result r = Render(clip, o, "--lossless", kTessera, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    auto v = DecodeVideo(o, kTW, kTH);
    ASSERT_EQ(v.size(), std::size_t(kTFrames) * kTW * kTH * 4);
    EXPECT_EQ(Compare(v, 0, 0), 0);

    const fs::path faded = out / "faded.mkv";
    r = Render(clip, faded, "--lossless --fade-in 4 --fade-out 3 --sliders 0.1,0.9,0.3", kTessera,
               Env());
    ASSERT_EQ(r.status, 0) << r.err;
    v = DecodeVideo(faded, kTW, kTH);
    ASSERT_EQ(v.size(), std::size_t(kTFrames) * kTW * kTH * 4);
    EXPECT_EQ(Compare(v, 4, 3), 0) << "the host sliders do not change the rendering";
}

TEST_F(Tessera, SoundPassesThroughAndProxyIsSilent) {
    const fs::path o = out / "sound.mkv";
    Result r = Render(clip, o, "--lossless", kTessera, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto in = DecodeAudio(clip);
    const auto a = DecodeAudio(o);
    EXPECT_EQ(a, in);
    const fs::path p = out / "proxy.mkv";
    r = Render(clip, p, "--lossless --proxy", kTessera, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto silent = DecodeAudio(p);
    EXPECT_EQ(silent.size(), in.size());
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](std::int16_t s) { return s == 0; }));
}

TEST_F(Tessera, InfoAndThumbnail) {
    Result r = Fxhost("info --json --plugin " + Quote(kTessera), Env(), out / "info.json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json info = nlohmann::json::parse(Slurp(out / "info.json"));
    EXPECT_EQ(info.at("identifier"), "com.kelmar.vidkit.tessera") << info;
    EXPECT_EQ(info.at("type"), 105);
    const fs::path png = out / "t.png";
    r = Fxhost("thumbnail " + Quote(clip) + " -o " + Quote(png) + " --plugin " + Quote(kTessera),
               Env());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = DecodeVideo(png, kTW, kTH);
    EXPECT_EQ(v, MosaicOf(0));
}

TEST(FFmpegFrameSource, SharedFramesSurviveThePluginDisposingThem) {
    fxhost::media::FFmpegFrameSource src(TheClips().rgb);
    const fxhost::PluginBundle bundle(kInvert);
    {
        fxhost::RecordingSession s(bundle, src);
        // InvertTest's button fetches a frame at 720x480, gives it back and disposes of it
        // itself, then fetches one at 320x240 that the host frees.
        EXPECT_EQ(s.customButton(9), 0);
        EXPECT_EQ(s.log().framesDisposedByPlugin, 1);
        EXPECT_EQ(s.log().framesFreedByHost, 1);
        EXPECT_EQ(s.framesOutstanding(), 0);
        // The frames lent out went back to the source and sequential fetching goes on.
        std::vector<std::uint8_t> buf(std::size_t(kW) * kH * 4);
        ASSERT_TRUE(src.fetch(10, {buf.data(), kW * 4, kW, kH}, fxhost::ScaleQuality::High));
        const auto p = InputPixel(3, 4, 10);
        EXPECT_TRUE(std::equal(p.begin(), p.end(), &buf[(4 * kW + 3) * 4]));
    }
}

TEST_F(Cli, UnreadableInputIsRefused) {
    // Root reads everything, so as root the program runs as an ordinary user for this.
    fs::permissions(out, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec |
                             fs::perms::others_write);
    const fs::path locked = out / "locked.mkv";
    fs::copy(TheClips().rgb, locked);
    fs::permissions(locked, fs::perms::none);
    const std::string as =
        getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    const fs::path err = out / "err.txt";
    const int st = Shell(as + " " + Quote(kProgram) + " render " + Quote(locked) + " -o " +
                         Quote(out / "o.mkv") + " --plugin " + Quote(kInvert) + " 2>" + Quote(err));
    EXPECT_EQ(st, 3);
    EXPECT_NE(Slurp(err).find("cannot be read"), std::string::npos) << Slurp(err);
    EXPECT_FALSE(fs::exists(out / "o.mkv"));
}
