// pixeleffect_bench.cpp - the mosaic's cost per frame, as ratios to memcpy of the same frame.
//
// One program, one run, single thread. For 720x480, 1920x1080 and 3840x2160, with blocks of
// about 1%, 5% and 25% of the frame's width and height and a region of the whole frame or of
// a quarter of it (half its width and height, centred), it times:
//   memcpy      one memcpy of the frame's pixel memory (row bytes x height), the reference;
//   blockpass   ThePixelEffect with opacity 0: the block pass alone;
//   opacity     the opacity step alone (the image of the source drawn at 50% over the frame);
//   hostblend   fxhost's Blit arithmetic alone: the source frame over the frame at 50%;
//   doframe     a whole kPlugDoFrame call through the bundle's `main` with fxhost's host
//               session, without a fade and (doframe_fade) in the middle of a fade-in;
//   ffmpeg      FFmpeg's pixelize filter through libavfilter on the same picture, in its
//               native planar RGB (gbrp) and from packed ARGB input with the conversions
//               it inserts (the quarter region as crop, pixelize and overlay).
// After the runs it prints every result's median CPU time as a ratio to the memcpy of the
// same size measured in the same run. Typical use (bench/compare.sh does this):
//   tessera_bench --benchmark_repetitions=5 --benchmark_min_time=0.1
// TESSERA_BENCH_MARKDOWN=FILE also writes the ratio table there as Markdown;
// TESSERA_BENCH_BUNDLE=DIR times the frame call of the bundle at DIR instead of this build's.
// `tessera_bench --save-config BLOCK,REGION` (REGION full or quarter) instead saves that
// configuration as the plug-in's preferences in $XDG_CONFIG_HOME, for fxhost to render with.
#include "DataHandling.h"
#include "PluginDefines.h"
#include "gworldprocs.h"
#include "iMovieGlue.h"
#include "pixeleffect.h"
#include "prefsloader.h"

#include "CGglue.h"
#include "QuickDraw.h"
#include "blend.h"
#include "hostsession.h"
#include "pluginbundle.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Size {
    const char* name;
    int width, height;
};
const Size kSizes[] = {{"720x480", 720, 480}, {"1920x1080", 1920, 1080}, {"3840x2160", 3840, 2160}};
// Block sizes in thousandths of the frame's width and height (the sliders' unit).
const int kBlocks[] = {10, 50, 250};
enum class Region { Full, Quarter };

relRect RelOf(Region r) {
    return r == Region::Full ? relRect{0, 1, 0, 1} : relRect{0.25, 0.75, 0.25, 0.75};
}
Rect PixelsOf(Region r, int w, int h) {
    if (r == Region::Full) {
        return Rect{0, 0, SInt16(h), SInt16(w)};
    }
    return Rect{SInt16(h / 4), SInt16(w / 4), SInt16(h / 4 + h / 2), SInt16(w / 4 + w / 2)};
}

// The picture every contender works on: an opaque gradient with some texture.
void Paint(UInt8* base, std::ptrdiff_t rowBytes, int width, int height) {
    for (int y = 0; y < height; ++y) {
        UInt8* p = base + y * rowBytes;
        for (int x = 0; x < width; ++x, p += 4) {
            p[0] = 255;
            p[1] = UInt8(x * 255 / width);
            p[2] = UInt8(y * 255 / height);
            p[3] = UInt8(((x + y) / 8) ^ (x * y));
        }
    }
}

struct Frames {
    GWorldPtr source = nullptr;
    GWorldPtr dest = nullptr;
    Rect bounds{};

    Frames(int width, int height) {
        bounds = Rect{0, 0, SInt16(height), SInt16(width)};
        NewGWorld(&source, 32, &bounds, nullptr, nullptr, 0);
        NewGWorld(&dest, 32, &bounds, nullptr, nullptr, 0);
        PixMapHandle pm = GetGWorldPixMap(source);
        Paint(reinterpret_cast<UInt8*>(GetPixBaseAddr(pm)), GetPixRowBytes(pm), width, height);
        std::memcpy(GetPixBaseAddr(GetGWorldPixMap(dest)), GetPixBaseAddr(pm), bytes());
    }
    ~Frames() {
        DisposeGWorld(source);
        DisposeGWorld(dest);
    }
    size_t bytes() const {
        return size_t(GetPixRowBytes(GetGWorldPixMap(source))) * size_t(bounds.bottom);
    }
};

void Memcpy(benchmark::State& state, Size s) {
    Frames f(s.width, s.height);
    void* to = GetPixBaseAddr(GetGWorldPixMap(f.dest));
    const void* from = GetPixBaseAddr(GetGWorldPixMap(f.source));
    const size_t n = f.bytes();
    for (auto _ : state) {
        std::memcpy(to, from, n);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
}

void HostBlend(benchmark::State& state, Size s) {
    Frames f(s.width, s.height);
    auto image = [&](GWorldPtr g) {
        PixMapHandle pm = GetGWorldPixMap(g);
        return fxhost::PixelImage{reinterpret_cast<std::uint8_t*>(GetPixBaseAddr(pm)),
                                  GetPixRowBytes(pm), s.width, s.height};
    };
    const fxhost::PixelImage from = image(f.source), to = image(f.dest);
    const fxhost::PixelRect all{0, 0, s.height, s.width};
    for (auto _ : state) {
        fxhost::BlendImage(from, all, to, all, 128);
        benchmark::ClobberMemory();
    }
}

void BlockPass(benchmark::State& state, Size s, int block, Region region) {
    Frames f(s.width, s.height);
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.sliders[0] = SInt16(block);
    config.sliders[1] = SInt16(block);
    config.sliders[2] = 0;
    const Rect r = PixelsOf(region, s.width, s.height);
    for (auto _ : state) {
        ThePixelEffect(f.source, f.dest, r, true, &config, 0, 1);
        benchmark::ClobberMemory();
    }
}

// The opacity step as ThePixelEffect runs it at 50%.
void Opacity(benchmark::State& state, Size s) {
    Frames f(s.width, s.height);
    for (auto _ : state) {
        OpacityStep(f.source, f.dest, 50);
        benchmark::ClobberMemory();
    }
}

// A clip of one picture, shared with the host session so that fetching a frame costs no copy
// (a decoder hands its frames over the same way).
class StillSource final : public fxhost::FrameSource {
  public:
    StillSource(int width, int height)
        : width_(width), height_(height),
          pixels_(static_cast<std::uint8_t*>(std::malloc(size_t(width) * height * 4)), std::free) {
        Paint(pixels_.get(), std::ptrdiff_t(width) * 4, width, height);
    }
    int width() const override { return width_; }
    int height() const override { return height_; }
    std::int64_t frameCount() const override { return 1000000; }
    int rateNum() const override { return 30; }
    int rateDen() const override { return 1; }
    bool fetch(std::int64_t, const fxhost::PixelTarget& t, fxhost::ScaleQuality) override {
        for (int y = 0; y < height_; ++y) {
            std::memcpy(t.base + y * t.rowBytes, pixels_.get() + size_t(y) * width_ * 4,
                        size_t(width_) * 4);
        }
        return true;
    }
    const std::string& lastError() const override { return error_; }
    std::optional<SharedFrame> share(std::int64_t, int w, int h, fxhost::ScaleQuality) override {
        if (w != width_ || h != height_) {
            return std::nullopt;
        }
        return SharedFrame{pixels_.get(), std::ptrdiff_t(width_) * 4,
                           std::shared_ptr<void>(pixels_, pixels_.get())};
    }

  private:
    int width_, height_;
    std::shared_ptr<std::uint8_t> pixels_;
    std::string error_;
};

const fxhost::PluginBundle& Bundle() {
    // TESSERA_BENCH_BUNDLE names another build's bundle, to time two builds side by side.
    const char* other = std::getenv("TESSERA_BENCH_BUNDLE");
    static fxhost::PluginBundle bundle(other != nullptr && *other != '\0' ? other
                                                                          : TESSERA_BUNDLE_PATH);
    return bundle;
}

void DoFrame(benchmark::State& state, Size s, int block, Region region, bool fade) {
    StillSource source(s.width, s.height);
    fxhost::HostSession host(Bundle(), source);
    host.setFrameSize(s.width, s.height);
    host.settings().fadeInFrames = fade ? 1000 : 0;
    const SInt32 frameCount = 1000000;
    if (host.begin(0, frameCount) != kPluginOK) {
        state.SkipWithError("the plug-in's begin failed");
        return;
    }
    // The clip's own copy of the configuration, set as the dialog would have left it.
    auto* clip = static_cast<EffectData*>(host.params().clientData);
    clip->engineData->sliders[0] = SInt16(block);
    clip->engineData->sliders[1] = SInt16(block);
    clip->engineData->sliders[2] = 0;
    clip->engineData->startRel = RelOf(region);
    const SInt32 renderFrame = fade ? 500 : 2000; // halfway through the fade, or past it
    for (auto _ : state) {
        if (host.frame(renderFrame) != kPluginOK) {
            state.SkipWithError("the frame call failed");
            break;
        }
    }
    host.end();
}

// FFmpeg's pixelize in one single-threaded filter graph, fed the same picture each time.
class FilterGraph {
  public:
    FilterGraph(AVPixelFormat format, int w, int h, const std::string& chain) {
        graph_ = avfilter_graph_alloc();
        graph_->nb_threads = 1;
        std::ostringstream args;
        args << "video_size=" << w << "x" << h << ":pix_fmt=" << int(format)
             << ":time_base=1/30:pixel_aspect=1/1";
        avfilter_graph_create_filter(&src_, avfilter_get_by_name("buffer"), "in",
                                     args.str().c_str(), nullptr, graph_);
        avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr,
                                     nullptr, graph_);
        const enum AVPixelFormat formats[] = {format, AV_PIX_FMT_NONE};
        av_opt_set_int_list(sink_, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = src_;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink_;
        ok_ = avfilter_graph_parse_ptr(graph_, chain.c_str(), &inputs, &outputs, nullptr) >= 0 &&
              avfilter_graph_config(graph_, nullptr) >= 0;
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        frame_ = av_frame_alloc();
        frame_->format = format;
        frame_->width = w;
        frame_->height = h;
        av_frame_get_buffer(frame_, 64);
        out_ = av_frame_alloc();
    }
    ~FilterGraph() {
        av_frame_free(&frame_);
        av_frame_free(&out_);
        avfilter_graph_free(&graph_);
    }
    bool ok() const { return ok_; }
    AVFrame* input() { return frame_; }
    bool Run(int64_t pts) {
        frame_->pts = pts;
        if (av_buffersrc_add_frame_flags(src_, frame_, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
            return false;
        }
        const bool got = av_buffersink_get_frame(sink_, out_) >= 0;
        av_frame_unref(out_);
        return got;
    }

  private:
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* src_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* out_ = nullptr;
    bool ok_ = false;
};

void FFmpegPixelize(benchmark::State& state, Size s, int block, Region region, bool packed) {
    av_log_set_level(AV_LOG_ERROR);
    const int bw = std::max(1, s.width * block / 1000), bh = std::max(1, s.height * block / 1000);
    std::ostringstream chain;
    if (region == Region::Full) {
        chain << "pixelize=w=" << bw << ":h=" << bh;
    } else {
        const Rect r = PixelsOf(region, s.width, s.height);
        chain << "split[a][b];[b]crop=" << (r.right - r.left) << ":" << (r.bottom - r.top) << ":"
              << r.left << ":" << r.top << ",pixelize=w=" << bw << ":h=" << bh
              << "[p];[a][p]overlay=" << r.left << ":" << r.top
              << ":format=" << (packed ? "rgb" : "gbrp");
    }
    FilterGraph g(packed ? AV_PIX_FMT_ARGB : AV_PIX_FMT_GBRP, s.width, s.height, chain.str());
    if (!g.ok()) {
        state.SkipWithError("the filter graph did not configure");
        return;
    }
    AVFrame* in = g.input();
    if (packed) {
        Paint(in->data[0], in->linesize[0], s.width, s.height);
    } else {
        std::vector<UInt8> argb(size_t(s.width) * s.height * 4);
        Paint(argb.data(), s.width * 4, s.width, s.height);
        // gbrp planes: 0 green, 1 blue, 2 red
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const UInt8* p = &argb[(size_t(y) * s.width + x) * 4];
                in->data[0][y * in->linesize[0] + x] = p[2];
                in->data[1][y * in->linesize[1] + x] = p[3];
                in->data[2][y * in->linesize[2] + x] = p[1];
            }
        }
    }
    int64_t pts = 0;
    for (auto _ : state) {
        if (!g.Run(pts++)) {
            state.SkipWithError("the filter graph gave no frame");
            break;
        }
    }
}

std::string BlockName(int block) {
    char name[16];
    std::snprintf(name, sizeof name, "b%d%%", block / 10);
    return name;
}
const char* RegionName(Region r) {
    return r == Region::Full ? "full" : "quarter";
}

void RegisterAll() {
    for (const Size& s : kSizes) {
        const std::string size = s.name;
        benchmark::RegisterBenchmark(("memcpy/" + size).c_str(), Memcpy, s);
        benchmark::RegisterBenchmark(("opacity/" + size).c_str(), Opacity, s);
        benchmark::RegisterBenchmark(("hostblend/" + size).c_str(), HostBlend, s);
        for (int block : kBlocks) {
            for (Region region : {Region::Full, Region::Quarter}) {
                const std::string tail =
                    "/" + size + "/" + BlockName(block) + "/" + RegionName(region);
                benchmark::RegisterBenchmark(("blockpass" + tail).c_str(), BlockPass, s, block,
                                             region);
                benchmark::RegisterBenchmark(("doframe" + tail).c_str(), DoFrame, s, block, region,
                                             false);
                benchmark::RegisterBenchmark(("doframe_fade" + tail).c_str(), DoFrame, s, block,
                                             region, true);
                benchmark::RegisterBenchmark(("ffmpeg_gbrp" + tail).c_str(), FFmpegPixelize, s,
                                             block, region, false);
                benchmark::RegisterBenchmark(("ffmpeg_argb" + tail).c_str(), FFmpegPixelize, s,
                                             block, region, true);
            }
        }
    }
}

// Keeps each benchmark's median CPU time (or its only run's) as the console shows them.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && run.repetitions <= 1)) {
                times_[run.run_name.function_name] =
                    run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
    }
    const std::map<std::string, double>& times() const { return times_; }

  private:
    std::map<std::string, double> times_;
};

void PrintRatios(const std::map<std::string, double>& times) {
    std::ostringstream md;
    md << "| size | block | region | block pass | opacity step | frame call | frame call, fade | "
          "ffmpeg gbrp | ffmpeg from ARGB |\n|---|---|---|---|---|---|---|---|---|\n";
    std::printf("\nMedian CPU time as a ratio to memcpy of the same frame (same run):\n");
    std::printf("%-10s %-5s %-8s %10s %10s %10s %10s %10s %10s\n", "size", "block", "region",
                "blockpass", "opacity", "doframe", "doframe_f", "ff_gbrp", "ff_argb");
    auto at = [&](const std::string& key) {
        auto it = times.find(key);
        return it == times.end() ? -1.0 : it->second;
    };
    for (const Size& s : kSizes) {
        const double memcpyTime = at(std::string("memcpy/") + s.name);
        if (memcpyTime <= 0) {
            continue;
        }
        const double opacityTime = at(std::string("opacity/") + s.name);
        const double opacity = opacityTime < 0 ? -1 : opacityTime / memcpyTime;
        std::printf("%-10s memcpy %.3f ms\n", s.name, memcpyTime * 1e3);
        md << "| " << s.name << " | memcpy | " << memcpyTime * 1e3 << " ms | | | | | | |\n";
        for (int block : kBlocks) {
            for (Region region : {Region::Full, Region::Quarter}) {
                const std::string tail =
                    std::string("/") + s.name + "/" + BlockName(block) + "/" + RegionName(region);
                double r[5];
                const char* kinds[5] = {"blockpass", "doframe", "doframe_fade", "ffmpeg_gbrp",
                                        "ffmpeg_argb"};
                for (int k = 0; k < 5; ++k) {
                    const double t = at(kinds[k] + tail);
                    r[k] = t < 0 ? -1 : t / memcpyTime;
                }
                std::printf("%-10s %-5s %-8s %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f\n", s.name,
                            BlockName(block).c_str(), RegionName(region), r[0], opacity, r[1], r[2],
                            r[3], r[4]);
                char line[256];
                std::snprintf(line, sizeof line,
                              "| %s | %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n",
                              s.name, BlockName(block).c_str(), RegionName(region), r[0], opacity,
                              r[1], r[2], r[3], r[4]);
                md << line;
            }
        }
    }
    if (const char* file = std::getenv("TESSERA_BENCH_MARKDOWN")) {
        std::ofstream(file) << md.str();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--save-config") {
        int block = 0;
        char region[16] = "";
        if (std::sscanf(argv[2], "%d,%15s", &block, region) != 2) {
            std::fprintf(stderr, "usage: tessera_bench --save-config BLOCK,full|quarter\n");
            return 2;
        }
        pluginDataRec config{};
        ResetConfig(&config, true);
        config.sliders[0] = config.sliders[1] = SInt16(block);
        config.sliders[2] = 0;
        config.startRel = RelOf(std::string(region) == "quarter" ? Region::Quarter : Region::Full);
        EnsurePrefsFile();
        return SaveConfig(&config) ? 0 : 1;
    }
    // As fxhost does: frame-sized blocks stay on the heap instead of being mapped and
    // unmapped (and faulted in again) at every frame.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // The bundle reads and writes its preferences: keep them away from the user's.
    const std::string config =
        (std::filesystem::temp_directory_path() / ("tessera-bench-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);

    benchmark::Initialize(&argc, argv);
    RegisterAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter.times());
    benchmark::Shutdown();
    std::filesystem::remove_all(config);
    return 0;
}
