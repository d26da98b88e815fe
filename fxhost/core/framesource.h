// framesource.h - where the host's frames come from.
//
// Owns: the FrameSource interface through which the host session answers the plug-in's
// frame requests, and GeneratedFrameSource, a deterministic clip that needs no file.
// Promises: a source fills a caller-owned 32-bit buffer (bytes A, R, G, B per pixel, any
// row length) with the frame at an absolute index, scaled to the size asked for, alpha
// 255. The generated pattern is a public pure function, so that a test can compute the
// pixels the host delivers without running the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace fxhost {

// How carefully a frame is scaled; the plug-in asks for Low in quick proxy renderings.
enum class ScaleQuality { Low, High };

// One request's destination: caller-owned memory of height rows of rowBytes bytes.
struct PixelTarget {
    std::uint8_t* base = nullptr;
    std::ptrdiff_t rowBytes = 0;
    int width = 0;
    int height = 0;
};

class FrameSource {
  public:
    virtual ~FrameSource() = default;

    // The clip's own size and length; frames are numbered 0 .. frameCount() - 1.
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual std::int64_t frameCount() const = 0;
    // Frame rate as a fraction (30/1, 30000/1001): the nominal rate, for encoders.
    virtual int rateNum() const = 0;
    virtual int rateDen() const = 0;
    // When each frame is shown: timestamp(i) is frame i's time in units of timeBase()
    // (a fraction of a second), counted from frame 0; timestamp(frameCount()) is the end of
    // the last frame. A clip at a fixed rate needs neither: frame i is at i / rate.
    struct TimeBase {
        int num, den;
    };
    virtual TimeBase timeBase() const { return {rateDen(), rateNum()}; }
    virtual std::int64_t timestamp(std::int64_t index) const { return index; }

    // Fills target with frame `index` scaled to target's size. False, with a reason in
    // lastError(), when the frame cannot be delivered (out of range, decoding failed).
    virtual bool fetch(std::int64_t index, const PixelTarget& target, ScaleQuality quality) = 0;
    virtual const std::string& lastError() const = 0;

    // A frame in memory the source keeps, for a host that can wrap it instead of copying.
    // The memory stays valid, and is not reused, for as long as `owner` is held.
    struct SharedFrame {
        std::uint8_t* base;
        std::ptrdiff_t rowBytes;
        std::shared_ptr<void> owner;
    };
    // The same frame fetch() would give, without the copy. Nothing when the source cannot
    // share (the caller then uses fetch()) or when the frame cannot be delivered (then
    // lastError() is set and fetch() fails too).
    virtual std::optional<SharedFrame> share(std::int64_t, int, int, ScaleQuality) {
        return std::nullopt;
    }
};

// The built-in clip: a pure function of (x, y, frame, width, height). Moving shapes over
// a gradient, so that motion, block averages and scaling all have something to show.
struct GeneratedPixel {
    std::uint8_t a, r, g, b;
};
GeneratedPixel GeneratedPattern(int x, int y, std::int64_t frame, int width, int height);

class GeneratedFrameSource final : public FrameSource {
  public:
    // Defaults: the built-in clip, 1280 x 720 at 30 fps for 10 s.
    GeneratedFrameSource(int width = 1280, int height = 720, std::int64_t frames = 300,
                         int rateNum = 30, int rateDen = 1);

    int width() const override { return width_; }
    int height() const override { return height_; }
    std::int64_t frameCount() const override { return frames_; }
    int rateNum() const override { return rateNum_; }
    int rateDen() const override { return rateDen_; }

    // A request at another size draws the pattern for that size directly (the pattern
    // scales with its size), so Low and High quality give the same pixels.
    bool fetch(std::int64_t index, const PixelTarget& target, ScaleQuality quality) override;
    const std::string& lastError() const override { return error_; }

  private:
    int width_, height_;
    std::int64_t frames_;
    int rateNum_, rateDen_;
    std::string error_;
};

} // namespace fxhost
