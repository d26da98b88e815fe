// CoreGraphics.cpp - images, bitmap contexts and the drawing of an image under a transform.
//
// Images hold their pixels in one canonical form, premultiplied bytes A,R,G,B packed at
// 4 * width per row, whatever layout they were made from; they report the layout they were
// made with. Contexts write their own layout through four channel offsets. Drawing maps each
// covered destination pixel's centre back into the image (the inverse of CTM and placement)
// and samples there, so the general path and the identity fast path agree bit for bit.
// The identity fast path hands rows in the canonical order to the toolbox's row blend
// (PixelBlend.h), whose vector kernels give the same bytes as the formula here.
#include "CoreGraphics.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "CorePrivate.h"
#include "PixelBlend.h"
#include "ToolboxTesting.h"

namespace {

std::atomic<long> gLiveImages{0};
std::atomic<long> gLiveContexts{0};
std::atomic<long> gLiveSpaces{0};
std::atomic<long> gLiveProviders{0};

// Byte offsets of alpha, red, green, blue within one pixel of a given layout.
struct Layout {
    int a, r, g, b;
    bool premultiplied;
    bool opaque; // no alpha in the data: every pixel is taken as alpha 255
};

bool LayoutFor(CGBitmapInfo info, bool forContext, Layout* out) {
    const CGImageAlphaInfo alpha = info & kCGBitmapAlphaInfoMask;
    const CGBitmapInfo order = info & kCGBitmapByteOrderMask;
    bool little;
    if (order == kCGBitmapByteOrderDefault || order == kCGBitmapByteOrder32Big)
        little = false;
    else if (order == kCGBitmapByteOrder32Little)
        little = true;
    else
        return false;
    bool first;
    switch (alpha) {
    case kCGImageAlphaPremultipliedFirst:
    case kCGImageAlphaFirst:
    case kCGImageAlphaNoneSkipFirst:
        first = true;
        break;
    case kCGImageAlphaPremultipliedLast:
    case kCGImageAlphaLast:
    case kCGImageAlphaNoneSkipLast:
        first = false;
        break;
    default:
        return false;
    }
    if (forContext && alpha != kCGImageAlphaPremultipliedFirst &&
        alpha != kCGImageAlphaPremultipliedLast)
        return false;
    // Big-endian order, alpha first: A R G B; a little-endian word reverses the bytes.
    int a, r, g, b;
    if (first) {
        a = 0, r = 1, g = 2, b = 3;
    } else {
        r = 0, g = 1, b = 2, a = 3;
    }
    if (little) {
        a = 3 - a, r = 3 - r, g = 3 - g, b = 3 - b;
    }
    *out =
        Layout{a,
               r,
               g,
               b,
               alpha == kCGImageAlphaPremultipliedFirst || alpha == kCGImageAlphaPremultipliedLast,
               alpha == kCGImageAlphaNoneSkipFirst || alpha == kCGImageAlphaNoneSkipLast};
    return true;
}

bool InjectedFailure() {
    OSErr err = noErr;
    return toolbox::testing::TakeAllocationFailure(&err);
}

struct Affine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    // this, then `then`
    Affine Then(const Affine& t) const {
        return Affine{a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
                      c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
    }
    bool Invert(Affine* out) const {
        const double det = a * d - b * c;
        if (det == 0 || !std::isfinite(det))
            return false;
        *out = Affine{
            d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
        return true;
    }
    void Apply(double x, double y, double* ox, double* oy) const {
        *ox = a * x + c * y + tx;
        *oy = b * x + d * y + ty;
    }
};

struct GState {
    Affine ctm;
    double alpha = 1.0;
    CGBlendMode blendMode = kCGBlendModeNormal;
};

} // namespace

struct CGColorSpace {
    std::atomic<long> refs{1};
};

struct CGDataProvider {
    std::atomic<long> refs{1};
    void* info;
    const void* data;
    size_t size;
    CGDataProviderReleaseDataCallback release;
};

// Pixel storage that is not cleared on allocation: every byte is written when an image is
// made, so clearing it first would cost a second pass over the whole frame.
class PixelStore {
  public:
    bool Allocate(size_t n) {
        data_.reset(new (std::nothrow) UInt8[n]);
        size_ = data_ ? n : 0;
        return data_ != nullptr || n == 0;
    }
    UInt8* data() { return data_.get(); }
    const UInt8* data() const { return data_.get(); }
    size_t size() const { return size_; }
    UInt8& operator[](size_t i) { return data_[i]; }
    const UInt8& operator[](size_t i) const { return data_[i]; }

  private:
    std::unique_ptr<UInt8[]> data_;
    size_t size_ = 0;
};

struct CGImage {
    std::atomic<long> refs{1};
    size_t width, height, bytesPerRow;
    CGBitmapInfo info;
    PixelStore argb;                      // the image's own pixels, 4 * width per row; or
    CGDataProviderRef borrowed = nullptr; // the provider whose bytes it reads in place
    const UInt8* pixels = nullptr;        // premultiplied A,R,G,B, row 0
    size_t stride = 0;                    // bytes from one row to the next
    const UInt8* at(size_t x, size_t y) const { return pixels + y * stride + x * 4; }
};

struct CGContext {
    std::atomic<long> refs{1};
    UInt8* data;
    bool ownsData;
    size_t width, height, bytesPerRow;
    CGBitmapInfo info;
    Layout layout;
    CGColorSpaceRef space;
    GState state;
    std::vector<GState> saved;
    // Pixels that may be written, in memory coordinates (column, row from the top), half-open.
    int clipL, clipT, clipR, clipB;
    bool detached; // its pixels went away with their GWorld
};

namespace toolbox::testing {
long LiveImageCount() {
    return gLiveImages.load();
}
long LiveContextCount() {
    return gLiveContexts.load();
}
long LiveColorSpaceCount() {
    return gLiveSpaces.load();
}
long LiveProviderCount() {
    return gLiveProviders.load();
}
} // namespace toolbox::testing

// --- Colour spaces and providers ---------------------------------------------------------

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
    auto* space = new (std::nothrow) CGColorSpace;
    if (space)
        gLiveSpaces.fetch_add(1);
    return space;
}

CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) {
    if (space)
        space->refs.fetch_add(1);
    return space;
}

void CGColorSpaceRelease(CGColorSpaceRef space) {
    if (space && space->refs.fetch_sub(1) == 1) {
        delete space;
        gLiveSpaces.fetch_sub(1);
    }
}

CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData) {
    auto* provider = new (std::nothrow) CGDataProvider;
    if (!provider)
        return nullptr;
    provider->info = info;
    provider->data = data;
    provider->size = size;
    provider->release = releaseData;
    gLiveProviders.fetch_add(1);
    return provider;
}

CGDataProviderRef CGDataProviderRetain(CGDataProviderRef provider) {
    if (provider)
        provider->refs.fetch_add(1);
    return provider;
}

void CGDataProviderRelease(CGDataProviderRef provider) {
    if (provider && provider->refs.fetch_sub(1) == 1) {
        if (provider->release)
            provider->release(provider->info, provider->data, provider->size);
        delete provider;
        gLiveProviders.fetch_sub(1);
    }
}

// --- Images ------------------------------------------------------------------------------

namespace {

// A new image of the given rows, converted from `layout` to the canonical form. Rows that
// already are in that form and belong to `lender` (a provider that says when its data goes)
// are read in place instead, the provider held as long as the image lives.
CGImageRef MakeImage(const UInt8* rows, size_t width, size_t height, size_t bytesPerRow,
                     CGBitmapInfo info, const Layout& layout, CGDataProviderRef lender = nullptr) {
    if (InjectedFailure())
        return nullptr;
    auto* image = new (std::nothrow) CGImage;
    if (!image)
        return nullptr;
    image->width = width;
    image->height = height;
    image->bytesPerRow = bytesPerRow;
    image->info = info;
    const bool canonical =
        layout.premultiplied && layout.a == 0 && layout.r == 1 && layout.g == 2 && layout.b == 3;
    if (canonical && lender != nullptr) {
        image->borrowed = CGDataProviderRetain(lender);
        image->pixels = rows;
        image->stride = bytesPerRow;
        gLiveImages.fetch_add(1);
        return image;
    }
    if (!image->argb.Allocate(width * height * 4)) {
        delete image;
        return nullptr;
    }
    image->pixels = image->argb.data();
    image->stride = width * 4;
    UInt8* out = image->argb.data();
    if (canonical) {
        for (size_t y = 0; y < height; ++y)
            std::memcpy(out + y * width * 4, rows + y * bytesPerRow, width * 4);
        gLiveImages.fetch_add(1);
        return image;
    }
    for (size_t y = 0; y < height; ++y) {
        const UInt8* in = rows + y * bytesPerRow;
        for (size_t x = 0; x < width; ++x, in += 4, out += 4) {
            unsigned a = layout.opaque ? 255 : in[layout.a];
            unsigned r = in[layout.r], g = in[layout.g], b = in[layout.b];
            if (!layout.premultiplied && !layout.opaque) {
                r = (r * a + 127) / 255;
                g = (g * a + 127) / 255;
                b = (b * a + 127) / 255;
            }
            out[0] = UInt8(a);
            out[1] = UInt8(r);
            out[2] = UInt8(g);
            out[3] = UInt8(b);
        }
    }
    gLiveImages.fetch_add(1);
    return image;
}

} // namespace

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, bool,
                         CGColorRenderingIntent) {
    Layout layout;
    if (width == 0 || height == 0 || bitsPerComponent != 8 || bitsPerPixel != 32 || !space ||
        !provider || !provider->data || decode || !LayoutFor(bitmapInfo, false, &layout))
        return nullptr;
    if (width > SIZE_MAX / 4 || bytesPerRow < 4 * width)
        return nullptr;
    if (height - 1 > (SIZE_MAX - 4 * width) / bytesPerRow ||
        provider->size < bytesPerRow * (height - 1) + 4 * width)
        return nullptr;
    return MakeImage(static_cast<const UInt8*>(provider->data), width, height, bytesPerRow,
                     bitmapInfo, layout, provider->release != nullptr ? provider : nullptr);
}

CGImageRef CGImageCreateCopy(CGImageRef image) {
    if (!image || InjectedFailure())
        return nullptr;
    auto* copy = new (std::nothrow) CGImage;
    if (!copy)
        return nullptr;
    if (!copy->argb.Allocate(image->width * image->height * 4)) {
        delete copy;
        return nullptr;
    }
    for (size_t y = 0; y < image->height; ++y)
        std::memcpy(copy->argb.data() + y * image->width * 4, image->at(0, y), image->width * 4);
    copy->pixels = copy->argb.data();
    copy->stride = image->width * 4;
    copy->width = image->width;
    copy->height = image->height;
    copy->bytesPerRow = image->bytesPerRow;
    copy->info = image->info;
    gLiveImages.fetch_add(1);
    return copy;
}

CGImageRef CGImageRetain(CGImageRef image) {
    if (image)
        image->refs.fetch_add(1);
    return image;
}

void CGImageRelease(CGImageRef image) {
    if (image && image->refs.fetch_sub(1) == 1) {
        CGDataProviderRelease(image->borrowed);
        delete image;
        gLiveImages.fetch_sub(1);
    }
}

size_t CGImageGetWidth(CGImageRef image) {
    return image ? image->width : 0;
}
size_t CGImageGetHeight(CGImageRef image) {
    return image ? image->height : 0;
}
size_t CGImageGetBitsPerComponent(CGImageRef image) {
    return image ? 8 : 0;
}
size_t CGImageGetBitsPerPixel(CGImageRef image) {
    return image ? 32 : 0;
}
size_t CGImageGetBytesPerRow(CGImageRef image) {
    return image ? image->bytesPerRow : 0;
}
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image) {
    return image ? image->info & kCGBitmapAlphaInfoMask : kCGImageAlphaNone;
}
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef image) {
    return image ? image->info : 0;
}

// --- Bitmap contexts ---------------------------------------------------------------------

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space,
                                   CGBitmapInfo bitmapInfo) {
    Layout layout;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
        bitsPerComponent != 8 || !space || !LayoutFor(bitmapInfo, true, &layout))
        return nullptr;
    if (!data && bytesPerRow == 0)
        bytesPerRow = 4 * width;
    if (bytesPerRow < 4 * width || height > SIZE_MAX / bytesPerRow)
        return nullptr;
    if (InjectedFailure())
        return nullptr;
    auto* context = new (std::nothrow) CGContext;
    if (!context)
        return nullptr;
    context->ownsData = !data;
    context->data = static_cast<UInt8*>(data ? data : std::calloc(height, bytesPerRow));
    if (!context->data) {
        delete context;
        return nullptr;
    }
    context->width = width;
    context->height = height;
    context->bytesPerRow = bytesPerRow;
    context->info = bitmapInfo;
    context->layout = layout;
    context->space = CGColorSpaceRetain(space);
    context->clipL = 0;
    context->clipT = 0;
    context->clipR = int(width);
    context->clipB = int(height);
    context->detached = false;
    gLiveContexts.fetch_add(1);
    return context;
}

CGImageRef CGBitmapContextCreateImage(CGContextRef context) {
    if (!context || context->detached)
        return nullptr;
    return MakeImage(context->data, context->width, context->height, context->bytesPerRow,
                     context->info, context->layout);
}

void* CGBitmapContextGetData(CGContextRef context) {
    return context && !context->detached ? context->data : nullptr;
}
size_t CGBitmapContextGetWidth(CGContextRef context) {
    return context ? context->width : 0;
}
size_t CGBitmapContextGetHeight(CGContextRef context) {
    return context ? context->height : 0;
}
size_t CGBitmapContextGetBytesPerRow(CGContextRef context) {
    return context ? context->bytesPerRow : 0;
}

CGContextRef CGContextRetain(CGContextRef context) {
    if (context)
        context->refs.fetch_add(1);
    return context;
}

void CGContextRelease(CGContextRef context) {
    if (context && context->refs.fetch_sub(1) == 1) {
        if (context->ownsData)
            std::free(context->data);
        CGColorSpaceRelease(context->space);
        delete context;
        gLiveContexts.fetch_sub(1);
    }
}

// --- Graphics state ----------------------------------------------------------------------

void CGContextSaveGState(CGContextRef c) {
    if (c)
        c->saved.push_back(c->state);
}

void CGContextRestoreGState(CGContextRef c) {
    if (c && !c->saved.empty()) {
        c->state = c->saved.back();
        c->saved.pop_back();
    }
}

void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty) {
    if (c)
        c->state.ctm = Affine{1, 0, 0, 1, tx, ty}.Then(c->state.ctm);
}

void CGContextRotateCTM(CGContextRef c, CGFloat angle) {
    if (!c)
        return;
    const double cs = std::cos(double(angle)), sn = std::sin(double(angle));
    c->state.ctm = Affine{cs, sn, -sn, cs, 0, 0}.Then(c->state.ctm);
}

void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy) {
    if (c)
        c->state.ctm = Affine{sx, 0, 0, sy, 0, 0}.Then(c->state.ctm);
}

CGAffineTransform CGContextGetCTM(CGContextRef c) {
    if (!c)
        return CGAffineTransform{1, 0, 0, 1, 0, 0};
    const Affine& m = c->state.ctm;
    return CGAffineTransform{CGFloat(m.a), CGFloat(m.b),  CGFloat(m.c),
                             CGFloat(m.d), CGFloat(m.tx), CGFloat(m.ty)};
}

void CGContextSetAlpha(CGContextRef c, CGFloat alpha) {
    if (c)
        c->state.alpha = std::isnan(alpha) ? 1.0 : std::clamp(double(alpha), 0.0, 1.0);
}

void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode) {
    if (c)
        c->state.blendMode = mode;
}

void CGContextFlush(CGContextRef) {}

// --- Drawing -----------------------------------------------------------------------------

namespace {

// The mapping of one drawing: user-space rectangle under the CTM, expressed between
// memory coordinates (column, row from the top) and the rectangle's own unit square.
struct Placement {
    Affine toRect;      // memory point -> (u, v) in [0,1) x [0,1), v = 0 at the rectangle's top
    int x0, y0, x1, y1; // candidate pixels, within the clip, half-open
};

bool Place(const CGContext* c, const CGRect& rect, Placement* out) {
    const double rx = rect.origin.x, ry = rect.origin.y;
    const double rw = rect.size.width, rh = rect.size.height;
    if (!(rw != 0 && rh != 0) || !std::isfinite(rx) || !std::isfinite(ry) || !std::isfinite(rw) ||
        !std::isfinite(rh))
        return false;
    // unit square (u, v) -> user space -> device space (y up) -> memory (row from top)
    const Affine unitToUser{rw, 0, 0, -rh, rx, ry + rh};
    const Affine deviceToMemory{1, 0, 0, -1, 0, double(c->height)};
    const Affine unitToMemory = unitToUser.Then(c->state.ctm).Then(deviceToMemory);
    if (!unitToMemory.Invert(&out->toRect))
        return false;
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (int corner = 0; corner < 4; ++corner) {
        double mx, my;
        unitToMemory.Apply(corner & 1, corner >> 1, &mx, &my);
        minX = std::min(minX, mx), maxX = std::max(maxX, mx);
        minY = std::min(minY, my), maxY = std::max(maxY, my);
    }
    if (!std::isfinite(minX) || !std::isfinite(minY) || !std::isfinite(maxX) ||
        !std::isfinite(maxY))
        return false;
    // Clamped on both sides before conversion: the corners may lie far outside int range.
    out->x0 = int(std::clamp<double>(std::floor(minX), c->clipL, c->clipR));
    out->y0 = int(std::clamp<double>(std::floor(minY), c->clipT, c->clipB));
    out->x1 = int(std::clamp<double>(std::ceil(maxX) + 1, c->clipL, c->clipR));
    out->y1 = int(std::clamp<double>(std::ceil(maxY) + 1, c->clipT, c->clipB));
    return out->x0 < out->x1 && out->y0 < out->y1;
}

inline void BlendPixel(UInt8* d, const Layout& l, const UInt8 s[4], unsigned A) {
    // s is canonical a, r, g, b
    const unsigned keep = 65025u - unsigned(s[0]) * A;
    const int offs[4] = {l.a, l.r, l.g, l.b};
    for (int ch = 0; ch < 4; ++ch) {
        const unsigned v =
            (unsigned(s[ch]) * A * 255u + unsigned(d[offs[ch]]) * keep + 32512u) / 65025u;
        d[offs[ch]] = UInt8(std::min(255u, v));
    }
}

unsigned GlobalAlpha(const CGContext* c) {
    // Rounded half away from zero by hand, as lround would: 32-bit PowerPC's lround switches
    // the rounding mode with an instruction (mffscrni) that the emulated PowerPC models of
    // qemu-user refuse. Below 1 or NaN is 0.
    const double v = c->state.alpha * 255.0;
    if (!(v > 0))
        return 0;
    if (v >= 255)
        return 255;
    const unsigned whole = unsigned(v);
    return whole + (v - whole >= 0.5 ? 1u : 0u);
}

// Bilinear sample at (su, sv) in image pixel coordinates (pixel centres at integers).
inline void Sample(const CGImage* img, double su, double sv, UInt8 out[4]) {
    double fx0 = std::floor(su), fy0 = std::floor(sv);
    // The fractions are in [0, 1): adding 0.5 and truncating rounds them.
    long wx = long((su - fx0) * 256 + 0.5), wy = long((sv - fy0) * 256 + 0.5);
    long x0 = long(fx0), y0 = long(fy0);
    if (wx == 256)
        ++x0, wx = 0;
    if (wy == 256)
        ++y0, wy = 0;
    const long w = long(img->width), h = long(img->height);
    const long xa = std::clamp(x0, 0L, w - 1), xb = std::clamp(x0 + 1, 0L, w - 1);
    const long ya = std::clamp(y0, 0L, h - 1), yb = std::clamp(y0 + 1, 0L, h - 1);
    const UInt8* p00 = img->at(size_t(xa), size_t(ya));
    const UInt8* p10 = img->at(size_t(xb), size_t(ya));
    const UInt8* p01 = img->at(size_t(xa), size_t(yb));
    const UInt8* p11 = img->at(size_t(xb), size_t(yb));
    const unsigned w00 = unsigned((256 - wx) * (256 - wy)), w10 = unsigned(wx * (256 - wy));
    const unsigned w01 = unsigned((256 - wx) * wy), w11 = unsigned(wx * wy);
    for (int ch = 0; ch < 4; ++ch)
        out[ch] =
            UInt8((p00[ch] * w00 + p10[ch] * w10 + p01[ch] * w01 + p11[ch] * w11 + 32768u) >> 16);
}

// The same rectangle with a non-negative width and height: drawing never mirrors.
CGRect Standardized(CGRect r) {
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

bool IsWhole(double v) {
    return std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e9;
}

// Identity size at whole pixels: image pixel (u, v) lands on memory pixel (u + dx, v + dy).
bool FastPlacement(const CGContext* c, const CGRect& rect, const CGImage* img, long* dx, long* dy) {
    const Affine& m = c->state.ctm;
    if (!toolbox::testing::CGFastPathEnabled() || m.a != 1 || m.b != 0 || m.c != 0 || m.d != 1)
        return false;
    if (double(rect.size.width) != double(img->width) ||
        double(rect.size.height) != double(img->height))
        return false;
    const double left = double(rect.origin.x) + m.tx, bottom = double(rect.origin.y) + m.ty;
    if (!IsWhole(left) || !IsWhole(bottom))
        return false;
    *dx = long(left);
    *dy = long(double(c->height) - bottom - double(img->height));
    return true;
}

} // namespace

void CGContextClearRect(CGContextRef c, CGRect rect) {
    Placement p;
    if (!c || !Place(c, rect, &p))
        return;
    for (int y = p.y0; y < p.y1; ++y) {
        UInt8* row = c->data + size_t(y) * c->bytesPerRow;
        for (int x = p.x0; x < p.x1; ++x) {
            double u, v;
            p.toRect.Apply(x + 0.5, y + 0.5, &u, &v);
            if (u >= 0 && u < 1 && v >= 0 && v < 1)
                std::memset(row + 4 * size_t(x), 0, 4);
        }
    }
}

void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image) {
    if (!c || !image || c->state.blendMode != kCGBlendModeNormal)
        return;
    rect = Standardized(rect);
    const unsigned A = GlobalAlpha(c);
    if (A == 0)
        return; // every channel would come out as it was
    const Layout& l = c->layout;

    long dx, dy;
    if (FastPlacement(c, rect, image, &dx, &dy)) {
        const long w = long(image->width), h = long(image->height);
        const long x0 = std::max<long>(c->clipL, dx), x1 = std::min<long>(c->clipR, dx + w);
        const long y0 = std::max<long>(c->clipT, dy), y1 = std::min<long>(c->clipB, dy + h);
        if (x1 <= x0)
            return; // wholly beside the clip: no pixel of any row is covered
        const bool canonical = l.a == 0 && l.r == 1 && l.g == 2 && l.b == 3;
        for (long y = y0; y < y1; ++y) {
            const UInt8* s = image->at(size_t(x0 - dx), size_t(y - dy));
            UInt8* d = c->data + size_t(y) * c->bytesPerRow + 4 * size_t(x0);
            if (canonical)
                toolbox::BlendPremultipliedRow(d, s, size_t(x1 - x0), A);
            else
                for (long x = x0; x < x1; ++x, s += 4, d += 4)
                    BlendPixel(d, l, s, A);
        }
        return;
    }

    Placement p;
    if (!Place(c, rect, &p))
        return;
    const double w = double(image->width), h = double(image->height);
    for (int y = p.y0; y < p.y1; ++y) {
        UInt8* row = c->data + size_t(y) * c->bytesPerRow;
        for (int x = p.x0; x < p.x1; ++x) {
            double u, v;
            p.toRect.Apply(x + 0.5, y + 0.5, &u, &v);
            if (!(u >= 0 && u < 1 && v >= 0 && v < 1))
                continue;
            UInt8 s[4];
            Sample(image, u * w - 0.5, v * h - 0.5, s);
            BlendPixel(row + 4 * size_t(x), l, s, A);
        }
    }
}

// --- Core Graphics on a QuickDraw port ---------------------------------------------------

namespace toolbox::detail {
void CGDetachContext(CGContext* context) {
    context->clipL = context->clipT = context->clipR = context->clipB = 0;
    context->detached = true;
}
} // namespace toolbox::detail

OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* contextPtr) {
    if (!contextPtr)
        return paramErr;
    *contextPtr = nullptr;
    CGContext** active = toolbox::detail::QDPortCGContext(port);
    if (!active || *active)
        return paramErr;
    PixMapHandle pm = GetGWorldPixMap(port);
    Rect bounds, clip;
    GetPortBounds(port, &bounds);
    QDGetPortClipRect(port, &clip);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context = CGBitmapContextCreate(
        GetPixBaseAddr(pm), size_t(bounds.right - bounds.left), size_t(bounds.bottom - bounds.top),
        8, size_t(GetPixRowBytes(pm)), space, kCGImageAlphaPremultipliedFirst);
    CGColorSpaceRelease(space);
    if (!context)
        return memFullErr;
    context->clipL = std::max(0, clip.left - bounds.left);
    context->clipT = std::max(0, clip.top - bounds.top);
    context->clipR = std::min(int(context->width), clip.right - bounds.left);
    context->clipB = std::min(int(context->height), clip.bottom - bounds.top);
    *active = context;
    *contextPtr = context;
    return noErr;
}

OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* contextPtr) {
    CGContext** active = toolbox::detail::QDPortCGContext(port);
    if (!active || !*active)
        return paramErr;
    CGContextRef context = *active;
    *active = nullptr;
    CGContextRelease(context); // the reference that QDBeginCGContext gave
    if (contextPtr)
        *contextPtr = nullptr;
    return noErr;
}
