// frei0reffect.cpp - tessera.so hosted as a frei0r host does, for rendering a track (see
// frameeffect.h).
//
// fxhost checks the track against the clip before anything is written and passes the plug-in
// the path through its `track` parameter; each frame is fetched from the source, handed over
// as R,G,B,A with the time of its frame of the track (the track's own time, so that no
// rounding of the clip's timestamps can pick a neighbour) and turned back into the encoder's
// A,R,G,B. The sound passes at its own level: the filter does not touch it.
#include "frameeffect.h"

#include "TrackFile.h"
#include "hosterror.h"

extern "C" {
#include <frei0r.h>
}

#include <dlfcn.h>

#include <cstdlib>
#include <vector>

namespace fxhost::media {

namespace {

namespace fs = std::filesystem;

// The plug-in's entry points, from a library closed again when it goes.
class Frei0rLibrary {
  public:
    explicit Frei0rLibrary(const fs::path& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char* why = dlerror();
            throw HostError(ErrorKind::Plugin, "cannot load the frei0r filter " + path.string() +
                                                   ": " + (why != nullptr ? why : "unknown"));
        }
        init = Entry<decltype(init)>("f0r_init", path);
        deinit = Entry<decltype(deinit)>("f0r_deinit", path);
        construct = Entry<decltype(construct)>("f0r_construct", path);
        destruct = Entry<decltype(destruct)>("f0r_destruct", path);
        setParam = Entry<decltype(setParam)>("f0r_set_param_value", path);
        update = Entry<decltype(update)>("f0r_update", path);
        if (init() == 0) {
            dlclose(handle_);
            throw HostError(ErrorKind::Plugin,
                            "the frei0r filter " + path.string() + " refused to start (f0r_init)");
        }
    }
    ~Frei0rLibrary() {
        deinit();
        dlclose(handle_);
    }
    Frei0rLibrary(const Frei0rLibrary&) = delete;
    Frei0rLibrary& operator=(const Frei0rLibrary&) = delete;

    int (*init)() = nullptr;
    void (*deinit)() = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*setParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

  private:
    template <typename F> F Entry(const char* name, const fs::path& path) {
        void* symbol = dlsym(handle_, name);
        if (symbol == nullptr) {
            dlclose(handle_);
            throw HostError(ErrorKind::Plugin,
                            path.string() + " is not a frei0r filter (no " + name + ")");
        }
        return reinterpret_cast<F>(symbol);
    }
    void* handle_ = nullptr;
};

// The parameters' positions in tessera.so (left, top, width, height, blockw, blockh,
// opacity, track).
enum { kBlockW = 4, kBlockH = 5, kOpacity = 6, kTrackParam = 7 };

class TrackEffect final : public FrameEffect {
  public:
    TrackEffect(const TrackRender& rq, tessera::tracks::Track track, FrameSource& video,
                std::int64_t trackFirst, int width, int height, bool proxy)
        : library_(rq.plugin), track_(std::move(track)), video_(video), trackFirst_(trackFirst),
          width_(width), height_(height), quality_(proxy ? ScaleQuality::Low : ScaleQuality::High),
          name_(rq.plugin.filename().string()) {
        instance_ = library_.construct(unsigned(width), unsigned(height));
        if (instance_ == nullptr) {
            throw HostError(ErrorKind::Plugin, name_ + " cannot render frames of " +
                                                   std::to_string(width) + "x" +
                                                   std::to_string(height));
        }
        // Half a unit over: the filter cuts toward zero, back to the very units.
        SetDouble(kBlockW, (rq.blockW + 0.5) / 1000.0);
        SetDouble(kBlockH, (rq.blockH + 0.5) / 1000.0);
        SetDouble(kOpacity, (rq.opacity + 0.5) / 100.0);
        std::string path = rq.track.string();
        f0r_param_string text = path.data();
        library_.setParam(instance_, &text, kTrackParam);
        const size_t pixels = size_t(width) * size_t(height);
        in_.resize(pixels);
        out_.resize(pixels);
    }
    ~TrackEffect() override { library_.destruct(instance_); }

    const std::string& name() const override { return name_; }
    SInt32 getInfo(SInt32) override { return kPluginOK; }
    SInt32 begin(SInt32 start, SInt32) override {
        start_ = start;
        return kPluginOK;
    }
    SInt32 frame(SInt32 renderFrame) override;
    SInt32 end() override { return kPluginOK; }
    void setFrameSize(int, int) override { destination_ = nullptr; }
    void attachDestination(std::uint8_t* base, std::ptrdiff_t rowBytes) override {
        destination_ = base;
        rowBytes_ = rowBytes;
    }
    std::optional<SInt16> mixedLevel(SInt32) const override { return SInt16(256); }
    const std::string& lastFrameError() const override { return error_; }

  private:
    void SetDouble(int index, double value) {
        f0r_param_double v = value;
        library_.setParam(instance_, &v, index);
    }

    Frei0rLibrary library_;
    tessera::tracks::Track track_;
    FrameSource& video_;
    std::int64_t trackFirst_; // the track's frame of the first frame rendered
    int width_, height_;
    ScaleQuality quality_;
    std::string name_, error_;
    f0r_instance_t instance_ = nullptr;
    std::int64_t start_ = 0;
    std::uint8_t* destination_ = nullptr;
    std::ptrdiff_t rowBytes_ = 0;
    std::vector<std::uint32_t> in_, out_;
};

SInt32 TrackEffect::frame(SInt32 renderFrame) {
    error_.clear();
    const std::int64_t index = start_ + renderFrame;
    if (destination_ == nullptr ||
        !video_.fetch(index, PixelTarget{destination_, rowBytes_, width_, height_}, quality_)) {
        error_ = video_.lastError();
        return kPluginCantGetNeededFrame;
    }
    // A,R,G,B bytes to R,G,B,A bytes and back, row by row.
    auto* in = reinterpret_cast<std::uint8_t*>(in_.data());
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* row = destination_ + y * rowBytes_;
        std::uint8_t* to = in + size_t(y) * size_t(width_) * 4;
        for (int x = 0; x < width_ * 4; x += 4) {
            to[x] = row[x + 1], to[x + 1] = row[x + 2], to[x + 2] = row[x + 3], to[x + 3] = row[x];
        }
    }
    const size_t at = size_t(trackFirst_ + renderFrame);
    const double time = at < track_.frames.size() ? track_.frames[at].time : 0.0;
    library_.update(instance_, time, in_.data(), out_.data());
    const auto* out = reinterpret_cast<const std::uint8_t*>(out_.data());
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* row = destination_ + y * rowBytes_;
        const std::uint8_t* from = out + size_t(y) * size_t(width_) * 4;
        for (int x = 0; x < width_ * 4; x += 4) {
            row[x] = from[x + 3], row[x + 1] = from[x], row[x + 2] = from[x + 1],
            row[x + 3] = from[x + 2];
        }
    }
    return kPluginOK;
}

// Track and clip agree, or a HostError of the input's kind says why.
tessera::tracks::Track ReadTrackFor(const fs::path& path, std::int64_t first, std::int64_t count,
                                    std::int64_t clipFrames, std::int64_t* trackFirst) {
    tessera::tracks::Track track;
    try {
        track = tessera::tracks::ReadTrackFile(path);
    } catch (const tessera::tracks::TrackError& e) {
        throw HostError(ErrorKind::Input, e.what());
    }
    const auto frames = std::int64_t(track.frames.size());
    if (frames == clipFrames) {
        *trackFirst = first;
    } else if (frames == count) {
        *trackFirst = 0;
    } else {
        throw HostError(ErrorKind::Input,
                        path.string() + ": the track has " + std::to_string(frames) +
                            " frames but the clip has " + std::to_string(clipFrames) +
                            (count != clipFrames ? " (" + std::to_string(count) + " selected)"
                                                 : std::string()) +
                            ": it is a track of another clip");
    }
    return track;
}

} // namespace

std::unique_ptr<FrameEffect> MakeTrackEffect(const TrackRender& rq, FrameSource& video,
                                             std::int64_t first, std::int64_t count,
                                             std::int64_t clipFrames, int width, int height,
                                             bool proxy) {
    std::int64_t trackFirst = 0;
    tessera::tracks::Track track = ReadTrackFor(rq.track, first, count, clipFrames, &trackFirst);
    return std::make_unique<TrackEffect>(rq, std::move(track), video, trackFirst, width, height,
                                         proxy);
}

fs::path LocateTesseraFrei0r(const fs::path& selfDir) {
    std::vector<fs::path> places{(selfDir / "../lib/frei0r-1").lexically_normal()};
    if (const char* env = std::getenv("FREI0R_PATH"); env != nullptr) {
        for (std::string_view rest = env; !rest.empty();) {
            const size_t colon = rest.find(':');
            if (colon != 0) {
                places.emplace_back(rest.substr(0, colon));
            }
            rest = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
        }
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
        places.push_back(fs::path(home) / ".frei0r-1/lib");
    }
    places.insert(places.end(), {"/usr/local/lib/frei0r-1", "/usr/lib/frei0r-1"});
    std::error_code ec;
    for (const fs::path& place : places) {
        if (fs::is_regular_file(place / "tessera.so", ec)) {
            return place / "tessera.so";
        }
    }
    return places.front() / "tessera.so";
}

} // namespace fxhost::media
