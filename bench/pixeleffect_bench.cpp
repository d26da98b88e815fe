// pixeleffect_bench.cpp - the mosaic renderer's cost per frame, against memcpy.
//
// Each size is timed three ways on one thread: ThePixelEffect over the whole frame with
// block sliders 10, 10 and opacity 0 (the block pass alone), the same with opacity 50
// (block pass plus the blend of the source over the whole frame), and memcpy of the
// frame's pixel memory (row bytes x height) as the reference. Compare medians, e.g.
//   tessera_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include "DataHandling.h"
#include "pixeleffect.h"

#include "QuickDraw.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

struct Frames {
    GWorldPtr source = nullptr;
    GWorldPtr dest = nullptr;
    Rect bounds{};

    Frames(int width, int height) {
        bounds = Rect{0, 0, SInt16(height), SInt16(width)};
        NewGWorld(&source, 32, &bounds, nullptr, nullptr, 0);
        NewGWorld(&dest, 32, &bounds, nullptr, nullptr, 0);
        PixMapHandle pm = GetGWorldPixMap(source);
        auto* base = reinterpret_cast<UInt8*>(GetPixBaseAddr(pm));
        const SInt32 rowBytes = GetPixRowBytes(pm);
        for (int y = 0; y < height; ++y) {
            UInt8* p = base + std::ptrdiff_t(y) * rowBytes;
            for (int x = 0; x < width; ++x, p += 4) {
                p[0] = 255;
                p[1] = UInt8(x * 255 / width);
                p[2] = UInt8(y * 255 / height);
                p[3] = UInt8((x + y) / 8);
            }
        }
        std::memcpy(GetPixBaseAddr(GetGWorldPixMap(dest)), base, bytes());
    }
    ~Frames() {
        DisposeGWorld(source);
        DisposeGWorld(dest);
    }
    size_t bytes() const {
        return size_t(GetPixRowBytes(GetGWorldPixMap(source))) * size_t(bounds.bottom);
    }
};

void RunEffect(benchmark::State& state, int width, int height, SInt16 opacity) {
    Frames f(width, height);
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.sliders[0] = 10;
    config.sliders[1] = 10;
    config.sliders[2] = opacity;
    for (auto _ : state) {
        ThePixelEffect(f.source, f.dest, f.bounds, true, &config, 0, 1);
        benchmark::DoNotOptimize(GetPixBaseAddr(GetGWorldPixMap(f.dest)));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bytes()));
}

void RunMemcpy(benchmark::State& state, int width, int height) {
    Frames f(width, height);
    void* to = GetPixBaseAddr(GetGWorldPixMap(f.dest));
    const void* from = GetPixBaseAddr(GetGWorldPixMap(f.source));
    const size_t n = f.bytes();
    for (auto _ : state) {
        std::memcpy(to, from, n);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

#define TESSERA_SIZE(name, w, h)                                                                   \
    BENCHMARK_CAPTURE(RunMemcpy, name##_memcpy, w, h)->Unit(benchmark::kMicrosecond);              \
    BENCHMARK_CAPTURE(RunEffect, name##_opacity0, w, h, 0)->Unit(benchmark::kMicrosecond);         \
    BENCHMARK_CAPTURE(RunEffect, name##_opacity50, w, h, 50)->Unit(benchmark::kMicrosecond);

TESSERA_SIZE(720x480, 720, 480)
TESSERA_SIZE(1920x1080, 1920, 1080)
TESSERA_SIZE(3840x2160, 3840, 2160)

} // namespace

BENCHMARK_MAIN();
