// Tests of the frei0r front end's instance: its frames against the engine's path for host
// frames, the alpha channel, hostile parameter values, sizes, failures and threads.
#include "TesseraFilter.h"
#include "TestSupport.h"
#include "ToolboxTesting.h"
#include "callpixelfx.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace {

using tessera::frei0r::Filter;
using tessera_test::ARGB;
using tessera_test::Frame;
using tessera_test::Pattern;

using Pixels = std::vector<std::uint32_t>;

std::uint32_t Rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    const std::uint8_t bytes[4] = {r, g, b, a};
    std::uint32_t w;
    std::memcpy(&w, bytes, 4);
    return w;
}

std::uint8_t Byte(std::uint32_t w, int i) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &w, 4);
    return bytes[i];
}

// A host frame (R,G,B,A bytes) with distinct colours and an alpha that varies, some of it
// transparent, so that a colour computed from the alpha or an alpha that moves shows.
Pixels HostFrame(int w, int h, int seed = 0) {
    Pixels p(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const ARGB c = Pattern(x + seed, y + 2 * seed);
            p[size_t(y) * size_t(w) + size_t(x)] =
                Rgba(c.r, c.g, c.b, std::uint8_t((x * 37 + y) & 0xFF));
        }
    }
    return p;
}

// What the desktop glue makes of the same frame: an opaque A,R,G,B source, its copy as the
// target, DoPixelEffect with the same record; the host's alpha laid back on the colours.
Pixels ThroughEngine(const Pixels& in, int w, int h, const pluginDataRec& config) {
    Frame source(w, h), target(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = in[size_t(y) * size_t(w) + size_t(x)];
            source.set(x, y, ARGB{255, Byte(p, 0), Byte(p, 1), Byte(p, 2)});
        }
    }
    target.copyFrom(source);
    pluginDataRec copy = config;
    DoPixelEffect(source.get(), target.get(), &copy, 0, 0);
    Pixels out(in.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const ARGB c = target.at(x, y);
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            out[i] = Rgba(c.r, c.g, c.b, Byte(in[i], 3));
        }
    }
    return out;
}

struct Settings {
    double left, top, width, height, blockw, blockh, opacity;
};

std::unique_ptr<Filter> MakeFilter(int w, int h, const Settings& s) {
    std::string why;
    auto f = Filter::Make(unsigned(w), unsigned(h), &why);
    EXPECT_TRUE(f) << why;
    const double v[] = {s.left, s.top, s.width, s.height, s.blockw, s.blockh, s.opacity};
    for (int i = 0; i < 7; ++i) {
        f->SetParam(i, v[i]);
    }
    return f;
}

// The first pixel that differs, as text, or "" when none does.
std::string FirstDifference(const Pixels& got, const Pixels& want, int w) {
    for (size_t i = 0; i < want.size(); ++i) {
        if (got[i] != want[i]) {
            char text[128];
            std::snprintf(text, sizeof text, "pixel (%d, %d): got %08x, want %08x",
                          int(i % size_t(w)), int(i / size_t(w)), got[i], want[i]);
            return text;
        }
    }
    return "";
}

const Settings kCases[] = {
    {0, 0, 1, 1, 0.01, 0.01, 0},              // the defaults: the whole frame
    {0.25, 0.25, 0.5, 0.5, 0.02, 0.04, 0},    // a quarter of the frame
    {0.1, 0.3, 0.37, 0.21, 0.013, 0.027, 0},  // blocks cut short at the region's edges
    {0.6, -0.2, 0.9, 0.5, 0.05, 0.05, 0},     // sticking out of the frame
    {0, 0.05, 1, 0.9, 0.03, 0.08, 0},         // block rows that do not divide a strip
    {0.25, 0.25, 0.5, 0.5, 0.02, 0.04, 0.37}, // with the opacity step
    {0, 0, 1, 1, 0.1, 0.1, 1.0},              // the original laid fully back
    {0.5, 0.5, 0, 0.2, 0.02, 0.02, 0},        // an empty region
    {0.3, 0.3, -0.2, 0.4, 0.02, 0.02, 0.5},   // an inverted one
};

TEST(Frei0rFrame, ColoursAreTheEnginesAndAlphaPassesThrough) {
    for (const auto& [w, h] : {std::pair{96, 64}, std::pair{101, 37}}) {
        const Pixels in = HostFrame(w, h);
        for (const Settings& s : kCases) {
            auto filter = MakeFilter(w, h, s);
            const Pixels want = ThroughEngine(in, w, h, filter->Config());
            Pixels out(in.size(), 0xDEADBEEFu);
            filter->Update(in.data(), out.data());
            EXPECT_EQ(FirstDifference(out, want, w), "")
                << w << "x" << h << " region " << s.left << "," << s.top << "," << s.width << ","
                << s.height << " blocks " << s.blockw << "," << s.blockh << " opacity "
                << s.opacity;

            // Hosts that render in place get the same frame.
            Pixels inPlace = in;
            filter->Update(inPlace.data(), inPlace.data());
            EXPECT_EQ(FirstDifference(inPlace, want, w), "") << "in place";
        }
    }
}

TEST(Frei0rFrame, RecordFollowsParametersByTruncation) {
    auto filter = MakeFilter(64, 64, {0.125, 0.25, 0.5, 0.25, 0.0299, 0.25, 0.579});
    const pluginDataRec& c = filter->Config();
    EXPECT_EQ(c.startRel.left, 0.125);
    EXPECT_EQ(c.startRel.right, 0.625);
    EXPECT_EQ(c.startRel.top, 0.25);
    EXPECT_EQ(c.startRel.bottom, 0.5);
    EXPECT_EQ(c.sliders[0], 29);
    EXPECT_EQ(c.sliders[1], 250);
    EXPECT_EQ(c.sliders[2], 57);
    EXPECT_EQ(filter->GetParam(tessera::frei0r::kOpacity), 0.579);
}

// Values no host clamps: each renders like the engine, inside the frame, without a crash.
TEST(Frei0rFrame, HostileValuesStayInsideTheFrame) {
    constexpr int w = 48, h = 32;
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const double hostile[] = {-1e300, -5, -0.5, 1.5, 7, 1e300, inf, -inf, nan};
    const Pixels in = HostFrame(w, h, 3);
    constexpr size_t guard = 64;
    for (int param = 0; param < tessera::frei0r::kParamCount; ++param) {
        for (const double v : hostile) {
            auto filter = MakeFilter(w, h, {0.2, 0.2, 0.5, 0.5, 0.1, 0.1, 0.3});
            filter->SetParam(param, v);
            const Pixels want = ThroughEngine(in, w, h, filter->Config());
            Pixels buffer(in.size() + 2 * guard, 0x5A5A5A5Au);
            filter->Update(in.data(), buffer.data() + guard);
            const Pixels out(buffer.begin() + guard, buffer.end() - guard);
            EXPECT_EQ(FirstDifference(out, want, w), "") << "parameter " << param << " = " << v;
            for (size_t i = 0; i < guard; ++i) {
                ASSERT_EQ(buffer[i], 0x5A5A5A5Au) << "written before the frame";
                ASSERT_EQ(buffer[buffer.size() - 1 - i], 0x5A5A5A5Au) << "written after the frame";
            }
        }
    }
}

TEST(Frei0rInstance, SidesBeyondTheEnginesRangeAreRefusedWithAReason) {
    std::string why;
    EXPECT_FALSE(Filter::Make(32768, 16, &why));
    EXPECT_NE(why.find("32768x16"), std::string::npos) << why;
    EXPECT_FALSE(Filter::Make(16, 40000, &why));
    EXPECT_FALSE(Filter::Make(0, 16, &why));
    EXPECT_TRUE(Filter::Make(32767, 2, &why));
}

// Every allocation of a frame's render fails in turn: each frame is either the right one or,
// after a failure reported on standard error, the input unchanged. Never a crash, never an exit.
TEST(Frei0rInstance, AFailedFrameIsReportedAndLeftAsItCame) {
    constexpr int w = 40, h = 24;
    const Pixels in = HostFrame(w, h, 5);
    for (const double opacity : {0.0, 0.5}) {
        auto filter = MakeFilter(w, h, {0.1, 0.1, 0.6, 0.7, 0.1, 0.1, opacity});
        const Pixels want = ThroughEngine(in, w, h, filter->Config());
        int failed = 0;
        for (int skip = 0; skip < 6; ++skip) {
            Pixels out(in.size(), 0);
            testing::internal::CaptureStderr();
            toolbox::testing::FailAllocations(skip, 1);
            filter->Update(in.data(), out.data());
            toolbox::testing::ClearAllocationFailures();
            const std::string said = testing::internal::GetCapturedStderr();
            if (out == want) {
                EXPECT_EQ(said, "");
                continue;
            }
            ++failed;
            EXPECT_EQ(FirstDifference(out, in, w), "") << "skip " << skip;
            EXPECT_NE(said.find("tessera:"), std::string::npos) << said;
            EXPECT_NE(said.find("left as it came"), std::string::npos) << said;
        }
        EXPECT_GT(failed, 0) << "no allocation of the render was made to fail";
    }
}

// Instances on several threads at once (as MLT runs them): each frame is the one the same
// instance renders alone. With one current port for the process, a thread's port would be
// another's in the middle of its frame.
TEST(Frei0rInstance, InstancesRenderOnSeveralThreadsAtOnce) {
    constexpr int kThreads = 4, kFrames = 30, w = 128, h = 72;
    std::vector<Settings> settings;
    std::vector<Pixels> inputs, wanted;
    for (int t = 0; t < kThreads; ++t) {
        settings.push_back(
            {0.05 * t, 0.1, 0.6, 0.5 + 0.1 * t, 0.01 + 0.01 * t, 0.03, t % 2 ? 0.4 : 0});
        inputs.push_back(HostFrame(w, h, t));
        auto alone = MakeFilter(w, h, settings.back());
        Pixels out(size_t(w) * h);
        alone->Update(inputs.back().data(), out.data());
        wanted.push_back(out);
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto filter = MakeFilter(w, h, settings[size_t(t)]);
            Pixels out(size_t(w) * h);
            for (int f = 0; f < kFrames; ++f) {
                filter->Update(inputs[size_t(t)].data(), out.data());
                mismatches[size_t(t)] += out != wanted[size_t(t)];
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[size_t(t)], 0) << "thread " << t;
    }
}

// A frame, rendered or failed, leaves the calling thread's current port as it found it (the
// engine changes it while it draws; a failure leaves the drawing half way).
TEST(Frei0rInstance, UpdateLeavesTheThreadsPortAsFound) {
    constexpr int w = 32, h = 16;
    const Pixels in = HostFrame(w, h);
    Frame hosts(4, 4);
    SetGWorld(hosts.get(), nullptr);
    for (int failAfter = -1; failAfter < 4; ++failAfter) {
        auto filter = MakeFilter(w, h, {0.1, 0.1, 0.5, 0.5, 0.1, 0.1, 0.5});
        Pixels out(in.size());
        testing::internal::CaptureStderr();
        if (failAfter >= 0) {
            toolbox::testing::FailAllocations(failAfter, 1);
        }
        filter->Update(in.data(), out.data());
        toolbox::testing::ClearAllocationFailures();
        (void)testing::internal::GetCapturedStderr();
        CGrafPtr now = nullptr;
        GDHandle device = nullptr;
        GetGWorld(&now, &device);
        EXPECT_EQ(now, hosts.get()) << "allocation failing after " << failAfter;
    }
    SetGWorld(nullptr, nullptr);
}

// The port a thread makes current is its own: another thread's changes do not reach it.
TEST(Frei0rInstance, CurrentPortIsPerThread) {
    Frame mine(8, 8), theirs(8, 8);
    SetGWorld(mine.get(), nullptr);
    std::thread other([&] {
        CGrafPtr seen = reinterpret_cast<CGrafPtr>(1);
        GDHandle device = nullptr;
        GetGWorld(&seen, &device);
        EXPECT_EQ(seen, nullptr) << "a new thread starts without a current port";
        SetGWorld(theirs.get(), nullptr);
    });
    other.join();
    CGrafPtr now = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&now, &device);
    EXPECT_EQ(now, mine.get());
    SetGWorld(nullptr, nullptr);
}

} // namespace
