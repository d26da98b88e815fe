// TestSupport.h - fixtures shared by the plug-in's tests: a temporary Preferences folder,
// generated 32-bit frames, and pixel access to them.
#pragma once

#include "QuickDraw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace tessera_test {

// Points XDG_CONFIG_HOME at a fresh temporary folder for the life of the object, so the
// preferences file of a test is its own and real.
class TempConfigHome {
  public:
    TempConfigHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tessera-prefs-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        if (made == nullptr) {
            ADD_FAILURE() << "cannot make a temporary folder";
            return;
        }
        dir_ = made;
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) {
            old_ = old;
            hadOld_ = true;
        }
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    ~TempConfigHome() {
        if (hadOld_) {
            setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ec;
        // A test may have taken the folder's rights away; give them back so it can go.
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path prefsFile() const { return dir_ / "vemto-Prefs"; }

  private:
    std::filesystem::path dir_;
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

// A pattern with distinct values everywhere, so that a wrong block, a stride bug or an
// off-by-one shows. Alpha varies too, so that "the alpha of the last pixel read" is
// observable.
inline ARGB Pattern(int x, int y) {
    return ARGB{std::uint8_t(100 + (x * 7 + y * 3) % 156), std::uint8_t((x * 13 + y * 5) & 0xFF),
                std::uint8_t((x * 3 + y * 11) & 0xFF), std::uint8_t((x * y + 17) & 0xFF)};
}

} // namespace tessera_test
