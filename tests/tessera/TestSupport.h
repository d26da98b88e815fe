// TestSupport.h - what every test of the plug-in shares (tests/tessera, tests/robustness):
// temporary folders and a temporary Preferences folder, generated 32-bit frames and pixel
// access to them, the one mosaic oracle, and the one fake host.
#pragma once

#include "HYPlugin.h"
#include "MacMemory.h"
#include "QuickDraw.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessera_test {

using testfs::TempFolder;

// Points XDG_CONFIG_HOME at a fresh temporary folder for the life of the object, so the
// preferences file of a test is its own and real.
class TempConfigHome {
  public:
    TempConfigHome() {
        if (folder_.dir().empty()) {
            return;
        }
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) {
            old_ = old;
            hadOld_ = true;
        }
        setenv("XDG_CONFIG_HOME", folder_.dir().c_str(), 1);
    }
    ~TempConfigHome() {
        if (hadOld_) {
            setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }
    const std::filesystem::path& dir() const { return folder_.dir(); }
    std::filesystem::path prefsFile() const { return dir() / "vemto-Prefs"; }

  private:
    TempFolder folder_{"tessera-prefs"};
    std::string old_;
    bool hadOld_ = false;
};

struct ARGB {
    std::uint8_t a, r, g, b;
    bool operator==(const ARGB&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const ARGB& p) {
    return os << "(a " << int(p.a) << ", r " << int(p.r) << ", g " << int(p.g) << ", b " << int(p.b)
              << ")";
}

// A GWorld with its frame at (0, 0), owned by the object.
class Frame {
  public:
    Frame(int width, int height) {
        const Rect bounds{0, 0, SInt16(height), SInt16(width)};
        const QDErr err = NewGWorld(&gw_, 32, &bounds, nullptr, nullptr, 0);
        EXPECT_EQ(err, noErr);
        width_ = width;
        height_ = height;
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    ~Frame() { DisposeGWorld(gw_); }

    GWorldPtr get() const { return gw_; }
    int width() const { return width_; }
    int height() const { return height_; }

    std::uint8_t* pixel(int x, int y) const {
        PixMapHandle pm = GetGWorldPixMap(gw_);
        return reinterpret_cast<std::uint8_t*>(GetPixBaseAddr(pm)) +
               std::ptrdiff_t(y) * GetPixRowBytes(pm) + std::ptrdiff_t(x) * 4;
    }
    ARGB at(int x, int y) const {
        const std::uint8_t* p = pixel(x, y);
        return ARGB{p[0], p[1], p[2], p[3]};
    }
    void set(int x, int y, ARGB v) const {
        std::uint8_t* p = pixel(x, y);
        p[0] = v.a;
        p[1] = v.r;
        p[2] = v.g;
        p[3] = v.b;
    }
    void fill(const std::function<ARGB(int, int)>& f) const {
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                set(x, y, f(x, y));
            }
        }
    }
    void copyFrom(const Frame& other) const {
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                set(x, y, other.at(x, y));
            }
        }
    }

  private:
    GWorldPtr gw_ = nullptr;
    int width_ = 0, height_ = 0;
};

// Every pixel of f against want(x, y), naming the first one that differs.
template <typename F> void ExpectPixels(const Frame& f, F want) {
    for (int y = 0; y < f.height(); ++y) {
        for (int x = 0; x < f.width(); ++x) {
            ASSERT_EQ(f.at(x, y), want(x, y)) << "at " << x << ", " << y;
        }
    }
}

// A pattern with distinct values everywhere, so that a wrong block, a stride bug or an
// off-by-one shows. Alpha varies too, so that "the alpha of the last pixel read" is
// observable.
inline ARGB Pattern(int x, int y) {
    return ARGB{std::uint8_t(100 + (x * 7 + y * 3) % 156), std::uint8_t((x * 13 + y * 5) & 0xFF),
                std::uint8_t((x * 3 + y * 11) & 0xFF), std::uint8_t((x * y + 17) & 0xFF)};
}

// ---- the mosaic ---------------------------------------------------------------------------

// The pixels of a frame, row by row.
inline std::vector<ARGB> PixelsOf(const Frame& f) {
    std::vector<ARGB> v(size_t(f.width()) * f.height());
    for (int y = 0; y < f.height(); ++y) {
        for (int x = 0; x < f.width(); ++x) {
            v[size_t(y) * f.width() + x] = f.at(x, y);
        }
    }
    return v;
}

// The one mosaic oracle of the plug-in's tests: the block pass as the renderer's rules state
// it, pixel by pixel, independent of the renderer's code. Blocks of bw x bh (below 1 counts
// as 1) lie on the grid anchored at r's top-left corner; a pixel takes part when it lies in
// the W x H frame and before r's right and bottom edges. Each block's pixels of `out` get the
// truncated averages of the red, green and blue of its pixels of `source` and the alpha of
// the last of them read (its bottom-right one); every other pixel of `out` stays. `out` may be
// `source` itself.
inline void MosaicOracle(const std::vector<ARGB>& source, std::vector<ARGB>& out, int W, int H,
                         Rect r, int bw, int bh) {
    bw = bw < 1 ? 1 : bw;
    bh = bh < 1 ? 1 : bh;
    auto takesPart = [&](long x, long y) {
        return x >= 0 && x < W && y >= 0 && y < H && x < r.right && y < r.bottom;
    };
    for (long row = r.top; row < r.bottom; row += bh) {
        for (long col = r.left; col < r.right; col += bw) {
            long long sr = 0, sg = 0, sb = 0, n = 0;
            ARGB last{};
            for (long y = row; y < row + bh; ++y) {
                for (long x = col; x < col + bw; ++x) {
                    if (takesPart(x, y)) {
                        last = source[size_t(y) * W + size_t(x)];
                        sr += last.r, sg += last.g, sb += last.b, ++n;
                    }
                }
            }
            if (n == 0) {
                continue;
            }
            const ARGB block{last.a, std::uint8_t(sr / n), std::uint8_t(sg / n),
                             std::uint8_t(sb / n)};
            for (long y = row; y < row + bh; ++y) {
                for (long x = col; x < col + bw; ++x) {
                    if (takesPart(x, y)) {
                        out[size_t(y) * W + size_t(x)] = block;
                    }
                }
            }
        }
    }
}

// ---- a host -------------------------------------------------------------------------------

// The one fake host of the plug-in's tests: it serves a generated clip through the real
// callback table, as a host does. Frame i, at whatever size is asked for, is Pattern shifted
// by 9 * i with alpha 255 (PixelOf), so that two frames differ everywhere; with `deliver`
// set, every fetch gets that GWorld of the test's own instead. Indices outside
// [0, frameCount) get kPluginCantGetNeededFrame and no frame. Blocks come from the toolbox's
// memory; generated frames the plug-in did not dispose of go with the host. What the plug-in
// asked for and released is recorded.
class FakeHost {
  public:
    explicit FakeHost(SInt32 count) : frameCount(count) {
        procs_.NewPtr = OnNewPtrClear;
        procs_.NewPtrClear = OnNewPtrClear;
        procs_.DisposePtr = OnDisposePtr;
        procs_.GetFrame = OnGetFrame;
        procs_.ReleaseFrame = OnReleaseFrame;
        procs_.Blit = OnBlit;
        procs_.MixAudio = OnMix;
        procs_.GetFilterInfo = OnFilterInfo;
        procs_.ReleaseFilterInfo = OnReleaseFilterInfo;
        params_.interfaceVersion = kHYInterfaceVersion;
        params_.instance = this;
        params_.procs = &procs_;
        params_.frameCount = count;
    }
    ~FakeHost() {
        for (auto& lease : leases) {
            if (lease->gw != nullptr) {
                QDSetGWorldDisposeHook(lease->gw, nullptr, nullptr);
                DisposeGWorld(lease->gw);
            }
        }
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    _PluginParams& params() { return params_; }

    SInt32 frameCount;
    GWorldPtr deliver = nullptr;              // when set, what every fetch gets
    HYPluginFilterInfo* filterInfo = nullptr; // what GetFilterInfo hands over
    std::vector<SInt32> requested;            // absolute indices asked for
    int releases = 0;
    HYFrameCookie lastReleased = reinterpret_cast<HYFrameCookie>(1);
    struct Lease {
        GWorldPtr gw; // nil once the plug-in disposed of it
    };
    std::vector<std::unique_ptr<Lease>> leases;

    static ARGB PixelOf(SInt32 frame, int x, int y) {
        ARGB p = Pattern(x + 9 * frame, y);
        p.a = 255;
        return p;
    }
    static void Fill(GWorldPtr gw, SInt32 frame) {
        PixMapHandle pm = GetGWorldPixMap(gw);
        Rect r{};
        GetPortBounds(gw, &r);
        auto* base = reinterpret_cast<std::uint8_t*>(GetPixBaseAddr(pm));
        for (int y = 0; y < r.bottom - r.top; ++y) {
            for (int x = 0; x < r.right - r.left; ++x) {
                const ARGB p = PixelOf(frame, x, y);
                std::uint8_t* d = base + std::ptrdiff_t(y) * GetPixRowBytes(pm) + x * 4;
                d[0] = p.a, d[1] = p.r, d[2] = p.g, d[3] = p.b;
            }
        }
    }

  private:
    static void OnDisposed(GWorldPtr, void* refCon) { static_cast<Lease*>(refCon)->gw = nullptr; }
    static HYPluginResult OnGetFrame(void* instance, SInt32 index, GWorldPtr* out, SInt16 w,
                                     SInt16 h, HYRefDVQuality, SInt16* volume,
                                     HYFrameCookie* cookie) {
        auto* host = static_cast<FakeHost*>(instance);
        host->requested.push_back(index);
        *out = nullptr;
        if (host->deliver != nullptr) {
            *out = host->deliver;
            return kPluginOK;
        }
        if (index < 0 || index >= host->frameCount) {
            return kPluginCantGetNeededFrame;
        }
        const Rect bounds{0, 0, h, w};
        GWorldPtr gw = nullptr;
        NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0);
        Fill(gw, index);
        *out = gw;
        *volume = 256;
        host->leases.push_back(std::make_unique<Lease>(Lease{gw}));
        QDSetGWorldDisposeHook(gw, OnDisposed, host->leases.back().get());
        *cookie = host->leases.back().get();
        return kPluginOK;
    }
    // The plug-in may still dispose of a released frame itself (dispose-after-use); what it
    // leaves is freed with the host.
    static HYPluginResult OnReleaseFrame(void* instance, HYFrameCookie cookie) {
        auto* host = static_cast<FakeHost*>(instance);
        ++host->releases;
        host->lastReleased = cookie;
        return kPluginOK;
    }
    static Ptr OnNewPtrClear(SInt32 n) { return NewPtrClear(n); }
    static void OnDisposePtr(Ptr p) { DisposePtr(p); }
    static HYPluginResult OnBlit(PixMapHandle, PixMapHandle, const Rect*, const Rect*, SInt16) {
        return kPluginOK;
    }
    static HYPluginResult OnMix(void*, HYFrameCookie, SInt16) { return kPluginOK; }
    static HYPluginResult OnFilterInfo(void* instance, HYPluginFilterInfo** info) {
        *info = static_cast<FakeHost*>(instance)->filterInfo;
        return kPluginOK;
    }
    static HYPluginResult OnReleaseFilterInfo(void*, HYPluginFilterInfo*) { return kPluginOK; }

    HYProcs procs_{};
    _PluginParams params_{};
};

} // namespace tessera_test
