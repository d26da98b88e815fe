// framesource.cpp - the generated clip.
//
// The pattern uses integer arithmetic only, so that tests and the host compute the very
// same bytes on every machine.
#include "framesource.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace fxhost {

GeneratedPixel GeneratedPattern(int x, int y, std::int64_t frame, int width, int height) {
    const std::int64_t w = width > 0 ? width : 1;
    const std::int64_t h = height > 0 ? height : 1;
    // Background: red across, green down, blue slowly cycling with time.
    GeneratedPixel p{255, std::uint8_t(x * 255 / w), std::uint8_t(y * 255 / h),
                     std::uint8_t((frame * 3 + (x + y) / 8) & 0xFF)};

    // A white square, a quarter of the height on each side, sliding left to right.
    const std::int64_t side = h / 4 > 0 ? h / 4 : 1;
    const std::int64_t sx = (frame * (w / 60 + 1)) % (w + side) - side;
    const std::int64_t sy = h / 8;
    if (x >= sx && x < sx + side && y >= sy && y < sy + side) {
        p.r = p.g = p.b = 240;
    }

    // A magenta disc bouncing vertically in the lower half.
    const std::int64_t radius = h / 8 > 0 ? h / 8 : 1;
    const std::int64_t period = 90;
    std::int64_t phase = frame % period;
    if (phase > period / 2) {
        phase = period - phase;
    }
    const std::int64_t cx = w / 2 + (frame * 5) % (w / 2 + 1) - w / 4;
    const std::int64_t cy = h / 2 + (h / 2 - radius) * phase / (period / 2);
    const std::int64_t dx = x - cx, dy = y - cy;
    if (dx * dx + dy * dy <= radius * radius) {
        p.r = 220;
        p.g = 30;
        p.b = 200;
    }
    return p;
}

GeneratedFrameSource::GeneratedFrameSource(int width, int height, std::int64_t frames, int rateNum,
                                           int rateDen)
    : width_(width), height_(height), frames_(frames), rateNum_(rateNum), rateDen_(rateDen) {}

// Draws the same bytes as GeneratedPattern, row by row: the shapes' spans are worked out
// once per row instead of testing every pixel, which keeps the built-in clip fast enough to
// feed an encoder in real time.
bool GeneratedFrameSource::fetch(std::int64_t index, const PixelTarget& target, ScaleQuality) {
    if (index < 0 || index >= frames_) {
        error_ = "frame " + std::to_string(index) + " is outside the clip (0.." +
                 std::to_string(frames_ - 1) + ")";
        return false;
    }
    const int width = target.width, height = target.height;
    if (width <= 0 || height <= 0) {
        return true;
    }
    const std::int64_t w = width, h = height, frame = index;
    const std::int64_t side = h / 4 > 0 ? h / 4 : 1;
    const std::int64_t sx = (frame * (w / 60 + 1)) % (w + side) - side;
    const std::int64_t sy = h / 8;
    const std::int64_t radius = h / 8 > 0 ? h / 8 : 1;
    const std::int64_t period = 90;
    std::int64_t phase = frame % period;
    if (phase > period / 2) {
        phase = period - phase;
    }
    const std::int64_t cx = w / 2 + (frame * 5) % (w / 2 + 1) - w / 4;
    const std::int64_t cy = h / 2 + (h / 2 - radius) * phase / (period / 2);
    std::vector<std::uint8_t> red(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        red[std::size_t(x)] = std::uint8_t(x * 255 / w);
    }
    auto paint = [&](std::uint8_t* row, std::int64_t from, std::int64_t to, std::uint8_t r,
                     std::uint8_t g, std::uint8_t b) { // [from, to], clipped to the row
        for (std::int64_t x = std::max<std::int64_t>(from, 0);
             x <= std::min<std::int64_t>(to, w - 1); ++x) {
            row[4 * x + 1] = r;
            row[4 * x + 2] = g;
            row[4 * x + 3] = b;
        }
    };
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = target.base + y * target.rowBytes;
        const std::uint8_t g = std::uint8_t(y * 255 / h);
        for (int x = 0; x < width; ++x) {
            row[4 * x + 0] = 255;
            row[4 * x + 1] = red[std::size_t(x)];
            row[4 * x + 2] = g;
            row[4 * x + 3] = std::uint8_t((frame * 3 + (x + y) / 8) & 0xFF);
        }
        if (y >= sy && y < sy + side) {
            paint(row, sx, sx + side - 1, 240, 240, 240);
        }
        const std::int64_t dy = y - cy, rest = radius * radius - dy * dy;
        if (rest >= 0) {
            std::int64_t half = std::int64_t(std::sqrt(double(rest)));
            while (half * half > rest) {
                --half;
            }
            while ((half + 1) * (half + 1) <= rest) {
                ++half;
            }
            paint(row, cx - half, cx + half, 220, 30, 200);
        }
    }
    return true;
}

} // namespace fxhost
