// track_test.cpp - fxhost track and detect on clips whose truth is known. For track: a
// textured patch moving over a textured background (straight, curved, accelerating, out of
// the frame and back, behind a bar), drawn here frame by frame and encoded losslessly with
// ffmpeg; in every frame not marked for review the patch's visible part lies inside the
// tracked region, the region stays tight, and the exit status says whether frames need
// review. For detect: OpenCV's sample film (Megamind.avi, Debian's opencv-doc), checked
// against faces listed by hand, and a face from it moving over a photograph.
#include "TestFiles.h"
#include "TrackFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testfs::Quote;
using testfs::Shell;

constexpr int kW = 320, kH = 180, kFrames = 90, kSide = 40;

struct Box {
    double x, y, w, h;
};
using Motion = std::function<Box(int)>; // the patch's top-left corner on frame n

struct Coverage {
    int worstFrame = -1;
    double worstUncovered = 0; // pixels of the patch's visible part outside the region
    double meanAreaRatio = 0;  // over the frames not marked for review
    int review = 0;
    int obscured =
        0; // frames where the patch is not wholly in view (off the frame, behind the bar)
};

std::uint8_t Background(int x, int y, int c) {
    const double v = 128 + 90 * std::sin(x / (5.0 + c) + c) * std::cos(y / (7.0 + 2 * c)) +
                     30 * std::sin((x * 3 + y * 5 + c * 11) / 13.0);
    return std::uint8_t(std::clamp(v, 0.0, 255.0));
}
std::uint8_t Patch(int u, int v, int c) {
    const unsigned h = unsigned(u) * 73856093u ^ unsigned(v) * 19349663u ^ unsigned(c) * 83492791u;
    const int blob = ((u / 5) * 7 + (v / 5) * 3 + c * 5) % 4;
    return std::uint8_t(blob * 60 + (h % 40));
}

class Track : public ::testing::Test {
  protected:
    testfs::TempFolder tmp{"fxhost-track"};

    // Draws the clip (the bar, when there is one, covers columns [barX, barX + barW)).
    fs::path Clip(const std::string& name, const Motion& at, int barX = -1, int barW = 0) {
        const fs::path raw = tmp.dir() / (name + ".rgb"), clip = tmp.dir() / (name + ".mkv");
        std::FILE* f = std::fopen(raw.c_str(), "wb");
        std::vector<std::uint8_t> frame(kW * kH * 3);
        for (int n = 0; n < kFrames; ++n) {
            const Box b = at(n);
            const int px = int(std::floor(b.x)), py = int(std::floor(b.y));
            for (int y = 0; y < kH; ++y) {
                for (int x = 0; x < kW; ++x) {
                    const bool inPatch = x >= px && x < px + kSide && y >= py && y < py + kSide;
                    const bool inBar = x >= barX && x < barX + barW;
                    for (int c = 0; c < 3; ++c) {
                        frame[(y * kW + x) * 3 + c] = inBar     ? std::uint8_t(40 + 60 * c)
                                                      : inPatch ? Patch(x - px, y - py, c)
                                                                : Background(x, y, c);
                    }
                }
            }
            std::fwrite(frame.data(), 1, frame.size(), f);
        }
        std::fclose(f);
        EXPECT_EQ(
            Shell("ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt rgb24 -s 320x180 -r 30 -i " +
                  Quote(raw) + " -c:v ffv1 -pix_fmt yuv444p " + Quote(clip)),
            0);
        return clip;
    }

    int Run(const std::string& args, const char* command = "track") {
        return Shell(Quote(FXHOST_PROGRAM) + " " + command + " " + args + " 2>" +
                     Quote(tmp / "err.txt"));
    }
    std::string Err() const { return testfs::Slurp(tmp / "err.txt"); }

    // Tracks the patch as drawn on `frame` and measures the track against the truth.
    Coverage Follow(const std::string& name, const Motion& at, int frame = 0, int barX = -1,
                    int barW = 0, const std::string& options = "") {
        const fs::path clip = Clip(name, at, barX, barW), out = tmp.dir() / (name + ".json");
        const Box b = at(frame);
        char region[128];
        std::snprintf(region, sizeof region, "%.6f,%.6f,%.6f,%.6f", std::floor(b.x) / kW,
                      std::floor(b.y) / kH, double(kSide) / kW, double(kSide) / kH);
        const int status = Run(Quote(clip) + " --region " + region + " --frame " +
                               std::to_string(frame) + " -o " + Quote(out) + " " + options);
        const tessera::tracks::Track track = tessera::tracks::ReadTrackFile(out);
        EXPECT_EQ(track.frames.size(), std::size_t(kFrames));
        Coverage cov = Measure(track, at, barX, barW);
        EXPECT_EQ(status, cov.review ? 9 : 0) << Err();
        std::printf("[ %-12s ] review %d of %d frames, worst frame %d (%.2f px uncovered), "
                    "mean region/patch area %.2f, patch not wholly in view %d\n",
                    name.c_str(), cov.review, kFrames, cov.worstFrame, cov.worstUncovered,
                    cov.meanAreaRatio, cov.obscured);
        return cov;
    }

    static Coverage Measure(const tessera::tracks::Track& track, const Motion& at, int barX,
                            int barW) {
        Coverage cov;
        int counted = 0;
        for (const auto& f : track.frames) {
            const auto& r = f.regions.at(0);
            const Box p = at(int(f.index));
            const double px = std::floor(p.x), py = std::floor(p.y);
            cov.obscured += px < 0 || py < 0 || px + kSide > kW || py + kSide > kH ||
                            (barW > 0 && px + kSide > barX && px < barX + barW);
            if (r.review) {
                ++cov.review;
                continue;
            }
            const Box t = at(int(f.index));
            // The patch's visible part: inside the frame (the bar hides it, but a region
            // that covers the patch behind the bar is still right).
            const double l = std::max(0.0, std::floor(t.x)), tp = std::max(0.0, std::floor(t.y));
            const double rt = std::min<double>(kW, std::floor(t.x) + kSide);
            const double bt = std::min<double>(kH, std::floor(t.y) + kSide);
            if (rt <= l || bt <= tp) {
                continue;
            }
            const double rl = r.left * kW, rtop = r.top * kH;
            const double rr = rl + r.width * kW, rb = rtop + r.height * kH;
            const double out = std::max({rl - l, rtop - tp, rt - rr, bt - rb, 0.0});
            if (out > cov.worstUncovered || cov.worstFrame < 0) {
                cov.worstUncovered = std::max(out, cov.worstUncovered);
                cov.worstFrame = int(f.index);
            }
            const double shown = (std::min<double>(rr, kW) - std::max(rl, 0.0)) *
                                 (std::min<double>(rb, kH) - std::max(rtop, 0.0));
            cov.meanAreaRatio += shown / ((rt - l) * (bt - tp));
            ++counted;
        }
        cov.meanAreaRatio /= std::max(counted, 1);
        return cov;
    }
};

// The margin is 15% of the box and 2 pixels a side: (40 + 2 * 8)^2 / 40^2 = 1.96 for a box
// the tracker sizes right; the bound leaves room for its size estimate to wander by a tenth.
constexpr double kAreaBound = 2.4;

TEST_F(Track, PatchStaysCoveredWhereverItMoves) {
    const Motion straight = [](int n) { return Box{20 + 2.5 * n, 30 + 0.9 * n, kSide, kSide}; };
    const Motion curved = [](int n) {
        return Box{140 + 100 * std::cos(n / 14.0), 70 + 50 * std::sin(n / 14.0), kSide, kSide};
    };
    const Motion accelerating = [](int n) { return Box{10 + 0.03 * n * n, 70, kSide, kSide}; };
    for (const auto& [name, motion, frame] :
         {std::tuple{"straight", straight, 0}, std::tuple{"curved", curved, 45},
          std::tuple{"accelerating", accelerating, 0}}) {
        const Coverage c = Follow(name, motion, frame);
        EXPECT_EQ(c.worstUncovered, 0) << name << ": frame " << c.worstFrame << " shows the patch";
        EXPECT_LT(c.meanAreaRatio, kAreaBound) << name;
        EXPECT_LT(c.review, kFrames / 10) << name << ": a patch in plain view was lost";
    }
}

TEST_F(Track, HiddenOrDepartedPatchIsMarkedAndFoundAgain) {
    const Motion outAndBack = [](int n) {
        return Box{140 + 210 * std::sin(2 * M_PI * n / kFrames), 70, kSide, kSide};
    };
    const Motion pastBar = [](int n) { return Box{10.0 + 3 * n, 70, kSide, kSide}; };
    const Coverage out = Follow("out-and-back", outAndBack);
    const Coverage bar = Follow("behind-bar", pastBar, 0, 140, 50);
    for (const Coverage& c : {out, bar}) {
        EXPECT_EQ(c.worstUncovered, 0) << "frame " << c.worstFrame << " shows the patch unmarked";
        EXPECT_GT(c.review, 0) << "frames where the patch cannot be seen were vouched for";
        // Found again within a few frames of coming back into full view.
        EXPECT_LE(c.review, c.obscured + 8) << "the patch was not found again";
        EXPECT_LT(c.meanAreaRatio, kAreaBound);
    }
    EXPECT_NE(Err().find("need a look"), std::string::npos) << Err();
}

TEST_F(Track, BadRequestsAreRefusedAndWriteNothing) {
    const fs::path clip = Clip("still", [](int) { return Box{100, 60, kSide, kSide}; });
    const fs::path out = tmp.dir() / "t.json";
    for (const char* bad :
         {"--region 0.9,0.1,0.2,0.2", "--region 0.1,0.1,0,0.2", "--region 0.1,0.1,0.2",
          "--region 0.1,0.1,0.2,0.2 --frame 90", "--region 0.1,0.1,0.2,0.2 -ss 9",
          "--region 0.1,0.1,0.2,0.2 --tracker mil"}) {
        EXPECT_EQ(Run(Quote(clip) + " " + bad + " -o " + Quote(out)), 2) << bad;
        const std::string err = Err();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << bad << ": " << err;
        EXPECT_EQ(err.rfind("fxhost: ", 0), 0u) << err;
        EXPECT_FALSE(fs::exists(out)) << bad;
    }
    testfs::WriteAll(out, "mine");
    EXPECT_EQ(Run(Quote(clip) + " --region 0.3,0.3,0.125,0.2 -o " + Quote(out)), 6);
    EXPECT_EQ(testfs::Slurp(out), "mine");
    // KCF instead of CSRT, and MLT keyframes instead of the track file.
    EXPECT_EQ(Run(Quote(clip) +
                  " --region 0.3125,0.3333,0.125,0.2222 --tracker kcf --format mlt "
                  "-y -o " +
                  Quote(out)),
              0)
        << Err();
    EXPECT_NE(testfs::Slurp(out).find("frei0r.tessera"), std::string::npos);
}

// OpenCV's sample footage, where faces were listed by looking at the frames.
const fs::path kSampleDir = "/usr/share/doc/opencv-doc/examples/data";
const fs::path kFilm = kSampleDir / "Megamind.avi";

bool Inside(const tessera::tracks::TrackRegion& r, double x, double y) {
    return x >= r.left && x <= r.left + r.width && y >= r.top && y <= r.top + r.height;
}

// The faces of the film listed by hand (megamind-faces.txt): per frame, each face's centre.
struct SeenFaces {
    int frame;
    std::vector<std::pair<double, double>> centres;
};
std::vector<SeenFaces> FilmFaces() {
    std::istringstream lines(testfs::Slurp(FACE_LIST));
    std::vector<SeenFaces> seen;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        SeenFaces s{};
        if (line.empty() || line[0] == '#' || !(in >> s.frame)) {
            continue;
        }
        for (double x, y; in >> x >> y;) {
            s.centres.emplace_back(x, y);
        }
        seen.push_back(s);
    }
    return seen;
}

TEST_F(Track, DetectFindsEveryFaceOfRealFootage) {
    if (!fs::exists(kFilm)) {
        GTEST_SKIP() << kFilm << " is not installed (Debian's opencv-doc)";
    }
    const fs::path out = tmp.dir() / "film.json";
    ASSERT_EQ(Run(Quote(kFilm) + " --faces -o " + Quote(out), "detect"), 0) << Err();
    const tessera::tracks::Track track = tessera::tracks::ReadTrackFile(out);
    EXPECT_TRUE(track.frames.at(0).regions.empty()) << "frame 0 is black";
    int faces = 0, found = 0;
    const std::vector<SeenFaces> seen = FilmFaces();
    ASSERT_EQ(seen.size(), 26u);
    for (const SeenFaces& s : seen) {
        const auto& regions = track.frames.at(std::size_t(s.frame)).regions;
        for (const auto& [x, y] : s.centres) {
            ++faces;
            const bool hit = std::any_of(regions.begin(), regions.end(),
                                         [&](const auto& r) { return Inside(r, x, y); });
            found += hit;
            EXPECT_TRUE(hit) << "the face at " << x << "," << y << " of frame " << s.frame;
        }
    }
    std::printf("[ Megamind.avi ] %d of %d faces listed by hand are hidden\n", found, faces);
    EXPECT_NE(Err().find("no frame needs a look"), std::string::npos) << Err();
}

// A face from the film moving over a photograph, coming in from the left edge: from the first
// frame to the last, the face's middle (eyes, nose, mouth: all but the outer 15% a side) is
// hidden wherever it is in the frame.
TEST_F(Track, DetectKeepsAMovingFaceHiddenFromItsFirstFrame) {
    if (!fs::exists(kFilm)) {
        GTEST_SKIP() << kFilm << " is not installed (Debian's opencv-doc)";
    }
    const fs::path clip = tmp.dir() / "face.mkv", out = tmp.dir() / "face.json";
    ASSERT_EQ(Shell("ffmpeg -nostdin -v quiet -y -i " + Quote(kFilm) + " -loop 1 -i " +
                    Quote(kSampleDir / "fruits.jpg") +
                    " -filter_complex \"[0:v]select='eq(n,230)',crop=288:288:245:136,"
                    "scale=120:120,loop=loop=-1:size=1,setpts=N/25/TB[face];[1:v]scale=640:360,"
                    "fps=25[bg];[bg][face]overlay=x='-60+5*n':y='120+60*sin(n/15)':eval=frame\""
                    " -an -frames:v 120 -c:v ffv1 " +
                    Quote(clip)),
              0);
    ASSERT_EQ(Run(Quote(clip) + " --faces --every 8 -o " + Quote(out), "detect"), 0) << Err();
    const tessera::tracks::Track track = tessera::tracks::ReadTrackFile(out);
    ASSERT_EQ(track.frames.size(), 120u);
    int bare = 0;
    double area = 0;
    for (const auto& f : track.frames) {
        const double x = std::floor(-60 + 5.0 * f.index), y = std::floor(120 + 60 * std::sin(f.index / 15.0));
        const double l = std::max(0.0, x + 18) / 640, t = (y + 18) / 360;
        const double r = std::min(640.0, x + 102) / 640, b = (y + 102) / 360;
        const auto covering = std::find_if(f.regions.begin(), f.regions.end(), [&](const auto& g) {
            return Inside(g, l, t) && Inside(g, r, b);
        });
        if (covering == f.regions.end()) {
            ++bare;
            ADD_FAILURE() << "frame " << f.index << " shows the face";
        } else {
            area += covering->width * 640 * covering->height * 360 / (120.0 * 120.0);
        }
    }
    const double meanArea = area / std::max(1, 120 - bare);
    std::printf("[ moving face  ] %d of 120 frames show it; mean region/face area %.2f\n", bare,
                meanArea);
    // The margin of a quarter of the face a side makes 2.25 for a face found to the pixel.
    EXPECT_LT(meanArea, 3.5) << "the regions are far larger than the face";
}

TEST_F(Track, DetectRefusesBadRequestsAndWritesNothing) {
    const fs::path clip = Clip("still", [](int) { return Box{100, 60, kSide, kSide}; });
    const fs::path out = tmp.dir() / "d.json";
    for (const char* bad : {"", "--faces --every 0", "--faces --margin -1", "--faces --hold x",
                            "--faces --threshold 1", "--faces --model"}) {
        EXPECT_EQ(Run(Quote(clip) + " -o " + Quote(out) + " " + bad, "detect"), 2) << bad;
        const std::string err = Err();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << bad << ": " << err;
        EXPECT_FALSE(fs::exists(out)) << bad;
    }
    EXPECT_EQ(Run(Quote(clip) + " --faces --model " + Quote(tmp.dir() / "none.onnx") + " -o " +
                      Quote(out),
                  "detect"),
              3);
    EXPECT_NE(Err().find("none.onnx"), std::string::npos) << Err();
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
