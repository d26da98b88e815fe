// TesseraFilter.cpp - one frei0r instance of the effect (see TesseraFilter.h).
//
// The frame goes through the same engine path as a host frame in the desktop glue
// (DoPixelEffect on a copy of the source), with the host's own buffer as that copy wherever
// the engine can work in place: without the opacity step, the block pass reads and writes only
// the region, so only the region is turned into A,R,G,B in the output buffer, mosaicked there
// and turned back, and the rest of the frame is one copy. The opacity step reads the whole
// unaltered source while it writes the whole destination, so it needs the source in A,R,G,B
// beside the output: one conversion into the instance's own buffer.
#include "TesseraFilter.h"

#include "DataHandling.h"
#include "QuickDraw.h"
#include "callpixelfx.h"
#include "commonprocs.h"
#include "pixeleffect.h"
#include "rectprocs.h"
#include "relrects.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace tessera::frei0r {

const std::array<ParamInfo, kParamCount> kParams = {{
    {"left", "Left edge of the region, as a fraction of the frame's width", 0.0},
    {"top", "Top edge of the region, as a fraction of the frame's height", 0.0},
    {"width", "Width of the region, as a fraction of the frame's width", 1.0},
    {"height", "Height of the region, as a fraction of the frame's height", 1.0},
    {"blockw", "Width of a block, as a fraction of the frame's width", 0.01},
    {"blockh", "Height of a block, as a fraction of the frame's height", 0.01},
    {"opacity", "How much of the original shows through the mosaic (0 none, 1 all)", 0.0},
}};
const ParamInfo kTrackParam = {
    "track", "Track file (JSON) whose regions follow the subject from frame to frame", 0.0};

namespace {

// A frame in the host's order is R,G,B,A in memory; the engine's is A,R,G,B. The engine is
// given opaque pixels (as fxhost gives it), and the host's alpha is put back afterwards.
constexpr bool kLittle = std::endian::native == std::endian::little;

inline std::uint32_t ToEngine(std::uint32_t rgba) {
    return kLittle ? (rgba << 8) | 0xFFu : (rgba >> 8) | 0xFF000000u;
}

inline std::uint32_t ToHost(std::uint32_t argb, std::uint32_t originalRgba) {
    return kLittle ? (argb >> 8) | (originalRgba & 0xFF000000u)
                   : (argb << 8) | (originalRgba & 0xFFu);
}

void ToEngineRun(const std::uint32_t* from, std::uint32_t* to, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        to[i] = ToEngine(from[i]);
    }
}

void ToHostRun(const std::uint32_t* engine, const std::uint32_t* original, std::uint32_t* to,
               size_t n) {
    for (size_t i = 0; i < n; ++i) {
        to[i] = ToHost(engine[i], original[i]);
    }
}

struct FatalFailure {
    std::string text;
};

void ThrowFatalFailure(std::string_view headline, std::string_view description) {
    throw FatalFailure{std::string(headline) + ": " + std::string(description)};
}

// Fatal engine failures on this thread become a FatalFailure for as long as it lives.
class FailuresThrow {
  public:
    FailuresThrow() : previous_(SetFatalFailureHandler(ThrowFatalFailure)) {}
    ~FailuresThrow() { SetFatalFailureHandler(previous_); }
    FailuresThrow(const FailuresThrow&) = delete;
    FailuresThrow& operator=(const FailuresThrow&) = delete;

  private:
    FatalFailureHandler previous_;
};

// A GWorld over memory of the caller's, disposed of when it goes.
class BorrowedGWorld {
  public:
    BorrowedGWorld(std::uint32_t* pixels, int width, int height) {
        const Rect bounds{0, 0, SInt16(height), SInt16(width)};
        if (NewGWorldFromPtr(&world_, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0,
                             reinterpret_cast<Ptr>(pixels), SInt32(width) * 4) != noErr) {
            world_ = nullptr;
        }
    }
    ~BorrowedGWorld() { DisposeGWorld(world_); }
    BorrowedGWorld(const BorrowedGWorld&) = delete;
    BorrowedGWorld& operator=(const BorrowedGWorld&) = delete;
    GWorldPtr get() const { return world_; }

  private:
    GWorldPtr world_ = nullptr;
};

// Rows of a strip of the region (rounded to whole block rows): about 250 KB of a 1080p frame,
// within a second-level cache with the input rows beside them.
constexpr SInt32 kStripRows = 32;

SInt16 Thousandths(double fraction) {
    return SaturateToSInt16(fraction * 1000.0); // cut toward zero, NaN 0, kept in range
}

} // namespace

std::unique_ptr<Filter> Filter::Make(unsigned width, unsigned height, std::string* why) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        if (why != nullptr) {
            *why = "tessera: a frame of " + std::to_string(width) + "x" + std::to_string(height) +
                   " cannot be rendered: each side must be 1 to " + std::to_string(kMaxSide) +
                   " pixels";
        }
        return nullptr;
    }
    return std::unique_ptr<Filter>(new Filter(width, height));
}

Filter::Filter(unsigned width, unsigned height) : width_(int(width)), height_(int(height)) {
    // A fresh configuration (the dialog's "reset"), then the parameters' own defaults over the
    // region, the block size and the opacity.
    ResetConfig(&config_, true);
    for (int i = 0; i < kParamCount; ++i) {
        SetParam(i, kParams[size_t(i)].defaultValue);
    }
}

void Filter::SetParam(int index, double value) {
    if (index < 0 || index >= kParamCount) {
        return;
    }
    values_[size_t(index)] = value;
    const double left = values_[kLeft], top = values_[kTop];
    config_.startRel =
        relRect{left, left + values_[kWidth], top, top + values_[kHeight]}; // l, r, t, b
    config_.sliders[0] = Thousandths(values_[kBlockWidth]);
    config_.sliders[1] = Thousandths(values_[kBlockHeight]);
    config_.sliders[2] = SaturateToSInt16(values_[kOpacity] * 100.0);
}

double Filter::GetParam(int index) const {
    return index >= 0 && index < kParamCount ? values_[size_t(index)] : 0.0;
}

void Filter::SetTrack(const std::string& path) {
    if (path == trackPath_) {
        return;
    }
    trackPath_ = path;
    track_ = {};
    trackBroken_ = false;
    if (path.empty()) {
        return;
    }
    try {
        track_ = tracks::ReadTrackFile(path);
    } catch (const std::exception& e) {
        // Censoring fails safe: what the track was to hide stays hidden, with everything else.
        trackBroken_ = true;
        std::fprintf(stderr, "tessera: %s; the whole frame is pixelated\n", e.what());
    }
}

void Filter::Update(const std::uint32_t* inframe, std::uint32_t* outframe, double seconds) {
    if (inframe == nullptr || outframe == nullptr) {
        return;
    }
    const size_t pixels = size_t(width_) * size_t(height_);
    try {
        if (inframe == outframe) {
            // The output is written before all of the input is read: keep the input whole,
            // for its alpha and for a frame that fails.
            inCopy_.assign(inframe, inframe + pixels);
            inframe = inCopy_.data();
        }
        FailuresThrow failuresThrow;
        GWorldSaver keepPort;
        if (trackPath_.empty()) {
            Render(inframe, outframe);
        } else {
            RenderTrackFrame(inframe, outframe, seconds);
        }
        return;
    } catch (const FatalFailure& failure) {
        std::fprintf(stderr, "tessera: %s; the frame is left as it came\n", failure.text.c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tessera: out of memory; the frame is left as it came\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessera: %s; the frame is left as it came\n", e.what());
    }
    if (inframe != outframe) {
        std::memcpy(outframe, inframe, pixels * 4);
    }
}

// The regions are drawn with the instance's record, its region set to each in turn and put back
// afterwards, so that the block size and opacity are the parameters' and a region renders as
// the static effect with that region does.
void Filter::RenderTrackFrame(const std::uint32_t* in, std::uint32_t* out, double seconds) {
    const size_t pixels = size_t(width_) * size_t(height_);
    std::vector<tracks::TrackRegion> whole;
    const std::vector<tracks::TrackRegion>* regions = &whole;
    if (trackBroken_ || track_.frames.empty()) {
        whole.push_back({0, 0, 0, 1, 1});
    } else {
        // Before the first frame's time (a host's rounding): the first frame's regions.
        const tracks::TrackFrame* frame = tracks::FrameAtTime(track_, seconds);
        regions = &(frame != nullptr ? *frame : track_.frames.front()).regions;
    }
    if (regions->empty()) {
        std::memcpy(out, in, pixels * 4);
        return;
    }
    struct Restore {
        pluginDataRec& config;
        relRect rect;
        SInt16 opacity;
        ~Restore() {
            config.startRel = rect;
            config.sliders[2] = opacity;
        }
    } restore{config_, config_.startRel, config_.sliders[2]};
    if (trackBroken_) {
        config_.sliders[2] = 0; // nothing of the original shows through
    }
    for (size_t i = 0; i < regions->size(); ++i) {
        const tracks::TrackRegion& r = (*regions)[i];
        config_.startRel = relRect{r.left, r.left + r.width, r.top, r.top + r.height};
        if (i == 0) {
            Render(in, out);
        } else {
            layer_.assign(out, out + pixels);
            Render(layer_.data(), out);
        }
    }
}

void Filter::Render(const std::uint32_t* in, std::uint32_t* out) {
    const size_t width = size_t(width_), pixels = width * size_t(height_);
    const Rect frame{0, 0, SInt16(height_), SInt16(width_)};

    if (config_.sliders[2] > 0) {
        source_.resize(pixels);
        ToEngineRun(in, source_.data(), pixels);
        BorrowedGWorld source(source_.data(), width_, height_);
        BorrowedGWorld target(out, width_, height_);
        if (source.get() == nullptr || target.get() == nullptr) {
            throw std::bad_alloc();
        }
        DoPixelEffect(source.get(), target.get(), &config_, 0, 0);
        ToHostRun(out, in, out, pixels);
        return;
    }

    // The block pass alone touches nothing outside the region, clipped to the frame.
    Rect region = Rel2Rect(config_.startRel, frame);
    ClipRectToFrame(region, frame);
    const bool empty = region.left >= region.right || region.top >= region.bottom;
    if (empty) {
        std::memcpy(out, in, pixels * 4);
        return;
    }
    const size_t above = size_t(region.top) * width, below = size_t(region.bottom) * width;
    std::memcpy(out, in, above * 4);
    std::memcpy(out + below, in + below, (pixels - below) * 4);

    BorrowedGWorld frameWorld(out, width_, height_);
    if (frameWorld.get() == nullptr) {
        throw std::bad_alloc();
    }
    // The region is worked in strips of whole block rows, each converted, mosaicked and
    // converted back while it is still in the caches: the frame is read once and written
    // once. A strip is the region's own rectangle cut at block-row boundaries, so its
    // bands are the bands of the whole region's call (the block height is the renderer's:
    // thousandths of the frame's height, cut toward zero, at least 1).
    SInt32 blockHig = SaturateToSInt16(std::trunc((double(height_) / 1000.0) * config_.sliders[1]));
    blockHig = std::max<SInt32>(blockHig, 1);
    const SInt32 stripRows = std::max<SInt32>(1, kStripRows / blockHig) * blockHig;
    const size_t x0 = size_t(region.left), x1 = size_t(region.right), runLength = x1 - x0;
    for (SInt32 top = region.top; top < region.bottom; top += stripRows) {
        const SInt32 bottom = std::min<SInt32>(top + stripRows, region.bottom);
        for (SInt32 y = top; y < bottom; ++y) {
            const size_t row = size_t(y) * width;
            std::memcpy(out + row, in + row, x0 * 4);
            ToEngineRun(in + row + x0, out + row + x0, runLength);
            std::memcpy(out + row + x1, in + row + x1, (width - x1) * 4);
        }
        const Rect strip{SInt16(top), region.left, SInt16(bottom), region.right};
        ThePixelEffect(frameWorld.get(), frameWorld.get(), strip, true, &config_, 0, 0);
        for (SInt32 y = top; y < bottom; ++y) {
            const size_t at = size_t(y) * width + x0;
            ToHostRun(out + at, in + at, out + at, runLength);
        }
    }
}

} // namespace tessera::frei0r
