// QuickDraw.cpp - GWorlds, the current port and device, CopyBits and the dialog's drawing.
//
// A GrafPort record holds its pixel map, the map's master pointer (so a PixMapHandle is the
// address of a field of the port), the pen, colours, clip rectangle and the host's hooks.
// Drawing is done in spans: every primitive is reduced to runs of pixels of one row, so each
// pixel is touched once per call (which keeps patXor honest) and clipping is one place.
#include "QuickDraw.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "CorePrivate.h"
#include "ToolboxTesting.h"

struct GDevice {
    SInt16 type; // only one device exists; the record is here so that GDHandle is real
};

namespace {

constexpr int kMaxDimension = 32767;

// A PixMapHandle points at `map`; `owner` leads back to the port.
struct PixMapSlot {
    PixMap* map;
    GrafPort* owner;
};

} // namespace

struct GrafPort {
    PixMap pixMap;
    PixMapSlot slot;
    bool ownsPixels;
    GWorldFlags pixelsState;
    Rect clip;
    RGBColor fore;
    RGBColor back;
    Point penLoc;
    Point penSize;
    SInt16 penMode;
    QDGWorldDisposeProc disposeProc;
    void* disposeRefCon;
    void* refCon;
    CGContext* cgContext; // the context between QDBeginCGContext and QDEndCGContext
    bool disposing;
};

namespace {

GDevice gMainDeviceRecord{0};
GDevice* gMainDevicePtr = &gMainDeviceRecord;
const GDHandle gMainDevice = &gMainDevicePtr;

// Per thread: a host may render on several threads at once (one plug-in instance each), and
// each thread's drawing must see the port it set, not another thread's.
thread_local CGrafPtr gCurrentPort = nullptr;
thread_local GDHandle gCurrentDevice = gMainDevice;
thread_local OSErr tQDErr = noErr;
std::atomic<long> gLiveGWorlds{0};

// Every GWorld alive; never destroyed, as a plug-in may dispose of GWorlds while the
// process exits.
toolbox::detail::LiveSet& LivePorts() {
    static auto* set = new toolbox::detail::LiveSet;
    return *set;
}

bool IsLive(CGrafPtr port) {
    return port && LivePorts().contains(port);
}

// The pixel-map handles of the live GWorlds, so that a stale handle is known before it is
// read.
toolbox::detail::LiveSet& LivePixMaps() {
    static auto* set = new toolbox::detail::LiveSet;
    return *set;
}

GrafPort* PortOf(PixMapHandle pm) {
    if (!pm || !LivePixMaps().contains(pm))
        return nullptr;
    return reinterpret_cast<PixMapSlot*>(pm)->owner;
}

// Makes a new port known; false (and nothing known) when the sets cannot grow.
bool AddLive(GrafPort* port) {
    if (!LivePorts().add(port))
        return false;
    if (LivePixMaps().add(&port->slot.map))
        return true;
    LivePorts().remove(port);
    return false;
}

SInt32 PaddedRowBytes(int width) {
    return SInt32(((4 * width + 63) / 64) * 64 + 64);
}

// Width and height of a bounds rectangle if it is an acceptable frame, else paramErr.
OSErr CheckBounds(const Rect* bounds, int* width, int* height) {
    if (!bounds)
        return paramErr;
    const int w = int(bounds->right) - int(bounds->left);
    const int h = int(bounds->bottom) - int(bounds->top);
    if (w < 1 || h < 1 || w > kMaxDimension || h > kMaxDimension)
        return paramErr;
    *width = w;
    *height = h;
    return noErr;
}

void InitPort(GrafPort* port, const Rect& bounds, Ptr pixels, SInt32 rowBytes, bool owns) {
    port->pixMap.baseAddr = pixels;
    port->pixMap.rowBytes = rowBytes;
    port->pixMap.bounds = bounds;
    port->pixMap.pixelSize = 32;
    port->pixMap.cmpCount = 3;
    port->pixMap.cmpSize = 8;
    port->pixMap.pixelFormat = k32ARGBPixelFormat;
    port->slot.map = &port->pixMap;
    port->slot.owner = port;
    port->ownsPixels = owns;
    port->pixelsState = 0;
    port->clip = Rect{-32768, -32768, 32767, 32767};
    port->fore = RGBColor{0, 0, 0};
    port->back = RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
    port->penLoc = Point{0, 0};
    port->penSize = Point{1, 1};
    port->penMode = patCopy;
    port->disposeProc = nullptr;
    port->disposeRefCon = nullptr;
    port->refCon = nullptr;
    port->cgContext = nullptr;
    port->disposing = false;
}

// --- span drawing ------------------------------------------------------------------------

enum class SpanOp { Fore, Back, Invert, None };

SpanOp OpForPenMode(SInt16 mode) {
    switch (mode & 7) {
    case srcCopy:
    case srcOr:
        return SpanOp::Fore;
    case srcXor:
        return SpanOp::Invert;
    case srcBic:
    case notSrcCopy:
        return SpanOp::Back;
    default:
        return SpanOp::None;
    }
}

// The current port, its drawable area (bounds ∩ clip) and the colour ops of one call.
struct Canvas {
    GrafPort* port = nullptr;
    int left = 0, top = 0, right = 0, bottom = 0; // drawable, local coordinates, half-open

    bool Open() {
        port = IsLive(gCurrentPort) ? gCurrentPort : nullptr;
        if (!port || !port->pixMap.baseAddr)
            return false;
        const Rect& b = port->pixMap.bounds;
        left = std::max<int>(b.left, port->clip.left);
        top = std::max<int>(b.top, port->clip.top);
        right = std::min<int>(b.right, port->clip.right);
        bottom = std::min<int>(b.bottom, port->clip.bottom);
        return left < right && top < bottom;
    }

    // Pixels x0..x1-1 of row y, clipped.
    void Span(int y, int x0, int x1, SpanOp op) const {
        if (op == SpanOp::None || y < top || y >= bottom)
            return;
        x0 = std::max(x0, left);
        x1 = std::min(x1, right);
        if (x0 >= x1)
            return;
        const Rect& b = port->pixMap.bounds;
        UInt8* p = reinterpret_cast<UInt8*>(port->pixMap.baseAddr) +
                   ptrdiff_t(y - b.top) * port->pixMap.rowBytes + 4 * ptrdiff_t(x0 - b.left);
        if (op == SpanOp::Invert) {
            for (int x = x0; x < x1; ++x, p += 4) {
                p[0] = 255;
                p[1] = UInt8(~p[1]);
                p[2] = UInt8(~p[2]);
                p[3] = UInt8(~p[3]);
            }
            return;
        }
        const RGBColor& c = op == SpanOp::Fore ? port->fore : port->back;
        const UInt8 px[4] = {255, UInt8(c.red >> 8), UInt8(c.green >> 8), UInt8(c.blue >> 8)};
        for (int x = x0; x < x1; ++x, p += 4)
            std::memcpy(p, px, 4);
    }

    void Box(int l, int t, int r, int b, SpanOp op) const {
        for (int y = std::max(t, top); y < std::min(b, bottom); ++y)
            Span(y, l, r, op);
    }
};

// The pixels of row y whose centres lie inside the oval inscribed in r: [*x0, *x1).
bool OvalSpan(const Rect& r, int y, int* x0, int* x1) {
    const double w = double(r.right) - r.left, h = double(r.bottom) - r.top;
    if (w <= 0 || h <= 0 || y < r.top || y >= r.bottom)
        return false;
    const double cx = r.left + w / 2, cy = r.top + h / 2;
    const double dy = (y + 0.5 - cy) / (h / 2);
    const double q = 1.0 - dy * dy;
    if (q < 0)
        return false;
    const double half = (w / 2) * std::sqrt(q);
    // centre x + 0.5 within [cx - half, cx + half]
    *x0 = int(std::ceil(cx - half - 0.5));
    *x1 = int(std::floor(cx + half - 0.5)) + 1;
    return *x0 < *x1;
}

void DrawOval(const Rect* r, bool frame) {
    Canvas canvas;
    if (!r || !canvas.Open())
        return;
    const GrafPort* port = canvas.port;
    const SpanOp op = OpForPenMode(port->penMode);
    const int pw = port->penSize.h, ph = port->penSize.v;
    if (frame && (pw <= 0 || ph <= 0))
        return;
    Rect inner = *r;
    inner.left = SInt16(inner.left + pw);
    inner.right = SInt16(inner.right - pw);
    inner.top = SInt16(inner.top + ph);
    inner.bottom = SInt16(inner.bottom - ph);
    const bool hollow = frame && inner.left < inner.right && inner.top < inner.bottom;
    for (int y = r->top; y < r->bottom; ++y) {
        int x0, x1;
        if (!OvalSpan(*r, y, &x0, &x1))
            continue;
        int i0, i1;
        if (hollow && OvalSpan(inner, y, &i0, &i1)) {
            i0 = std::max(i0, x0);
            i1 = std::min(i1, x1);
            canvas.Span(y, x0, i0, op);
            canvas.Span(y, i1, x1, op);
        } else {
            canvas.Span(y, x0, x1, op);
        }
    }
}

GrafPort* CurrentPort() {
    return IsLive(gCurrentPort) ? gCurrentPort : nullptr;
}

} // namespace

namespace toolbox::detail {
CGContext** QDPortCGContext(CGrafPtr port) {
    return IsLive(port) && !port->disposing ? &port->cgContext : nullptr;
}
} // namespace toolbox::detail

namespace toolbox::testing {
long LiveGWorldCount() {
    return gLiveGWorlds.load();
}
} // namespace toolbox::testing

// --- GWorlds -----------------------------------------------------------------------------

QDErr NewGWorld(GWorldPtr* offscreenGWorld, SInt16 pixelDepth, const Rect* boundsRect, CTabHandle,
                GDHandle, GWorldFlags) {
    if (!offscreenGWorld)
        return tQDErr = paramErr;
    *offscreenGWorld = nullptr;
    if (pixelDepth != 0 && pixelDepth != 32)
        return tQDErr = cDepthErr;
    int width = 0, height = 0;
    if (OSErr err = CheckBounds(boundsRect, &width, &height))
        return tQDErr = err;
    OSErr injected = noErr;
    if (toolbox::testing::TakeAllocationFailure(&injected))
        return tQDErr = injected;
    const SInt32 rowBytes = PaddedRowBytes(width);
    auto* port = new (std::nothrow) GrafPort;
    Ptr pixels = static_cast<Ptr>(std::calloc(size_t(rowBytes) * size_t(height), 1));
    if (!port || !pixels) {
        delete port;
        std::free(pixels);
        return tQDErr = memFullErr;
    }
    InitPort(port, *boundsRect, pixels, rowBytes, true);
    if (!AddLive(port)) {
        delete port;
        std::free(pixels);
        return tQDErr = memFullErr;
    }
    gLiveGWorlds.fetch_add(1, std::memory_order_relaxed);
    *offscreenGWorld = port;
    return tQDErr = noErr;
}

QDErr NewGWorldFromPtr(GWorldPtr* offscreenGWorld, OSType pixelFormat, const Rect* boundsRect,
                       CTabHandle, GDHandle, GWorldFlags, Ptr buffer, SInt32 rowBytes) {
    if (!offscreenGWorld)
        return tQDErr = paramErr;
    *offscreenGWorld = nullptr;
    if (pixelFormat != k32ARGBPixelFormat && pixelFormat != FOUR_CHAR_CODE("ARGB"))
        return tQDErr = cDepthErr;
    int width = 0, height = 0;
    if (OSErr err = CheckBounds(boundsRect, &width, &height))
        return tQDErr = err;
    if (!buffer || rowBytes < 4 * width)
        return tQDErr = paramErr;
    OSErr injected = noErr;
    if (toolbox::testing::TakeAllocationFailure(&injected))
        return tQDErr = injected;
    auto* port = new (std::nothrow) GrafPort;
    if (!port)
        return tQDErr = memFullErr;
    InitPort(port, *boundsRect, buffer, rowBytes, false);
    if (!AddLive(port)) {
        delete port;
        return tQDErr = memFullErr;
    }
    gLiveGWorlds.fetch_add(1, std::memory_order_relaxed);
    *offscreenGWorld = port;
    return tQDErr = noErr;
}

GWorldFlags UpdateGWorld(GWorldPtr* offscreenGWorld, SInt16 pixelDepth, const Rect* boundsRect,
                         CTabHandle, GDHandle, GWorldFlags) {
    if (!offscreenGWorld || !IsLive(*offscreenGWorld)) {
        tQDErr = paramErr;
        return gwFlagErr;
    }
    if (pixelDepth != 0 && pixelDepth != 32) {
        tQDErr = cDepthErr;
        return gwFlagErr;
    }
    int width = 0, height = 0;
    if (OSErr err = CheckBounds(boundsRect, &width, &height)) {
        tQDErr = err;
        return gwFlagErr;
    }
    GrafPort* port = *offscreenGWorld;
    if (port->cgContext) {
        // A Core Graphics context is drawing on these pixels; they must not move under it.
        tQDErr = paramErr;
        return gwFlagErr;
    }
    const Rect old = port->pixMap.bounds;
    if (width == old.right - old.left && height == old.bottom - old.top) {
        port->pixMap.bounds = *boundsRect;
        tQDErr = noErr;
        return 0;
    }
    if (!port->ownsPixels) {
        // Memory that the caller owns cannot be replaced behind its back.
        tQDErr = paramErr;
        return gwFlagErr;
    }
    OSErr injected = noErr;
    if (toolbox::testing::TakeAllocationFailure(&injected)) {
        tQDErr = injected;
        return gwFlagErr;
    }
    const SInt32 rowBytes = PaddedRowBytes(width);
    Ptr pixels = static_cast<Ptr>(std::calloc(size_t(rowBytes) * size_t(height), 1));
    if (!pixels) {
        tQDErr = memFullErr;
        return gwFlagErr;
    }
    const int keepW = std::min(width, old.right - old.left);
    const int keepH = std::min(height, old.bottom - old.top);
    for (int y = 0; y < keepH; ++y)
        std::memcpy(pixels + ptrdiff_t(y) * rowBytes,
                    port->pixMap.baseAddr + ptrdiff_t(y) * port->pixMap.rowBytes, 4 * keepW);
    std::free(port->pixMap.baseAddr);
    port->pixMap.baseAddr = pixels;
    port->pixMap.rowBytes = rowBytes;
    port->pixMap.bounds = *boundsRect;
    tQDErr = noErr;
    return reallocPix;
}

void DisposeGWorld(GWorldPtr offscreenGWorld) {
    if (!IsLive(offscreenGWorld) || offscreenGWorld->disposing)
        return; // a hook that disposes of its GWorld again is answered here
    offscreenGWorld->disposing = true;
    if (QDGWorldDisposeProc proc = offscreenGWorld->disposeProc) {
        offscreenGWorld->disposeProc = nullptr;
        proc(offscreenGWorld, offscreenGWorld->disposeRefCon);
    }
    if (offscreenGWorld->cgContext) {
        toolbox::detail::CGDetachContext(offscreenGWorld->cgContext);
        offscreenGWorld->cgContext = nullptr;
    }
    if (gCurrentPort == offscreenGWorld) {
        gCurrentPort = nullptr;
        gCurrentDevice = gMainDevice;
    }
    if (offscreenGWorld->ownsPixels)
        std::free(offscreenGWorld->pixMap.baseAddr);
    LivePixMaps().remove(&offscreenGWorld->slot.map);
    LivePorts().remove(offscreenGWorld);
    delete offscreenGWorld;
    gLiveGWorlds.fetch_sub(1, std::memory_order_relaxed);
}

PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld) {
    return IsLive(offscreenGWorld) ? &offscreenGWorld->slot.map : nullptr;
}

PixMapHandle GetPortPixMap(CGrafPtr port) {
    return GetGWorldPixMap(port);
}

GDHandle GetGWorldDevice(GWorldPtr offscreenGWorld) {
    return IsLive(offscreenGWorld) ? gMainDevice : nullptr;
}

Ptr GetPixBaseAddr(PixMapHandle pm) {
    return pm && *pm ? (*pm)->baseAddr : nullptr;
}

SInt32 GetPixRowBytes(PixMapHandle pm) {
    return pm && *pm ? (*pm)->rowBytes : 0;
}

Rect* GetPixBounds(PixMapHandle pm, Rect* bounds) {
    if (bounds)
        *bounds = pm && *pm ? (*pm)->bounds : Rect{0, 0, 0, 0};
    return bounds;
}

SInt16 GetPixDepth(PixMapHandle pm) {
    return pm && *pm ? (*pm)->pixelSize : 0;
}

Boolean LockPixels(PixMapHandle pm) {
    GrafPort* port = PortOf(pm);
    if (!port)
        return false;
    port->pixelsState |= pixelsLocked;
    return true;
}

void UnlockPixels(PixMapHandle pm) {
    if (GrafPort* port = PortOf(pm))
        port->pixelsState &= ~pixelsLocked;
}

GWorldFlags GetPixelsState(PixMapHandle pm) {
    GrafPort* port = PortOf(pm);
    return port ? port->pixelsState : 0;
}

void SetPixelsState(PixMapHandle pm, GWorldFlags state) {
    if (GrafPort* port = PortOf(pm))
        port->pixelsState = state & (pixelsLocked | pixelsPurgeable);
}

Rect* GetPortBounds(CGrafPtr port, Rect* rect) {
    if (rect)
        *rect = IsLive(port) ? port->pixMap.bounds : Rect{0, 0, 0, 0};
    return rect;
}

const BitMap* GetPortBitMapForCopyBits(CGrafPtr port) {
    return IsLive(port) ? &port->pixMap : nullptr;
}

void QDSetGWorldDisposeHook(GWorldPtr world, QDGWorldDisposeProc proc, void* refCon) {
    if (!IsLive(world))
        return;
    world->disposeProc = proc;
    world->disposeRefCon = proc ? refCon : nullptr;
}

void* QDGetPortRefCon(CGrafPtr port) {
    return IsLive(port) ? port->refCon : nullptr;
}

void QDSetPortRefCon(CGrafPtr port, void* refCon) {
    if (IsLive(port))
        port->refCon = refCon;
}

Rect* QDGetPortClipRect(CGrafPtr port, Rect* clip) {
    if (clip)
        *clip = IsLive(port) ? port->clip : Rect{0, 0, 0, 0};
    return clip;
}

// --- Current port and device -------------------------------------------------------------

void GetGWorld(CGrafPtr* port, GDHandle* gdh) {
    if (port)
        *port = gCurrentPort;
    if (gdh)
        *gdh = gCurrentDevice;
}

void SetGWorld(CGrafPtr port, GDHandle gdh) {
    gCurrentPort = port;
    gCurrentDevice = IsLive(port) ? gMainDevice : (gdh ? gdh : gMainDevice);
}

void GetPort(GrafPtr* port) {
    if (port)
        *port = gCurrentPort;
}

void SetPort(GrafPtr port) {
    gCurrentPort = port;
}

GDHandle GetMainDevice() {
    return gMainDevice;
}

GDHandle GetGDevice() {
    return gCurrentDevice;
}

void SetGDevice(GDHandle gdh) {
    gCurrentDevice = gdh ? gdh : gMainDevice;
}

OSErr QDError() {
    return tQDErr;
}

// --- CopyBits ----------------------------------------------------------------------------

namespace {

UInt8* PixelAt(const BitMap* bm, int x, int y) {
    return reinterpret_cast<UInt8*>(bm->baseAddr) + ptrdiff_t(y - bm->bounds.top) * bm->rowBytes +
           4 * ptrdiff_t(x - bm->bounds.left);
}

bool MemoryOverlaps(const BitMap* a, const BitMap* b) {
    auto range = [](const BitMap* m, const UInt8** lo, const UInt8** hi) {
        const ptrdiff_t rows = m->bounds.bottom - m->bounds.top;
        *lo = reinterpret_cast<const UInt8*>(m->baseAddr);
        *hi = *lo + (rows > 0 ? rows * ptrdiff_t(m->rowBytes) : 0);
    };
    const UInt8 *alo, *ahi, *blo, *bhi;
    range(a, &alo, &ahi);
    range(b, &blo, &bhi);
    return alo < bhi && blo < ahi;
}

// Pixels in the destination bitmap's coordinates, [x0, x1) by [y0, y1).
struct PixelArea {
    int x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

// dstRect within the destination bitmap and, when drawing into the current port, within
// its clip.
PixelArea DestinationArea(const BitMap* dstBits, const Rect* dstRect) {
    PixelArea a{std::max<int>(dstRect->left, dstBits->bounds.left),
                std::max<int>(dstRect->top, dstBits->bounds.top),
                std::min<int>(dstRect->right, dstBits->bounds.right),
                std::min<int>(dstRect->bottom, dstBits->bounds.bottom)};
    if (GrafPort* port = CurrentPort(); port && dstBits == &port->pixMap) {
        a.x0 = std::max<int>(a.x0, port->clip.left);
        a.y0 = std::max<int>(a.y0, port->clip.top);
        a.x1 = std::min<int>(a.x1, port->clip.right);
        a.y1 = std::min<int>(a.y1, port->clip.bottom);
    }
    return a;
}

// Same-size copy: rows moved whole, limited further to where the source exists.
void CopyUnscaled(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
                  const Rect* dstRect, PixelArea a) {
    const int dx = srcRect->left - dstRect->left, dy = srcRect->top - dstRect->top;
    a.x0 = std::max(a.x0, srcBits->bounds.left - dx);
    a.y0 = std::max(a.y0, srcBits->bounds.top - dy);
    a.x1 = std::min(a.x1, srcBits->bounds.right - dx);
    a.y1 = std::min(a.y1, srcBits->bounds.bottom - dy);
    if (a.empty())
        return;
    const size_t bytes = 4 * size_t(a.x1 - a.x0);
    // Rows are moved in the order that never overwrites a source row not yet read.
    const bool upward = PixelAt(dstBits, a.x0, a.y0) > PixelAt(srcBits, a.x0 + dx, a.y0 + dy);
    for (int i = 0; i < a.y1 - a.y0; ++i) {
        const int y = upward ? a.y1 - 1 - i : a.y0 + i;
        std::memmove(PixelAt(dstBits, a.x0, y), PixelAt(srcBits, a.x0 + dx, y + dy), bytes);
    }
}

// Nearest neighbour: each destination pixel's centre mapped into srcRect; pixels whose
// source lies outside the source bitmap are left alone.
void CopyScaled(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
                const Rect* dstRect, const PixelArea& a) {
    const int sw = srcRect->right - srcRect->left, sh = srcRect->bottom - srcRect->top;
    const int dw = dstRect->right - dstRect->left, dh = dstRect->bottom - dstRect->top;
    std::vector<int> srcX(size_t(a.x1 - a.x0));
    for (int x = a.x0; x < a.x1; ++x)
        srcX[size_t(x - a.x0)] =
            srcRect->left + int((2 * SInt64(x - dstRect->left) + 1) * sw / (2 * SInt64(dw)));
    // A source that shares memory with the destination is read from a copy.
    std::vector<UInt8> copy;
    BitMap source = *srcBits;
    if (MemoryOverlaps(srcBits, dstBits)) {
        const int rows = srcBits->bounds.bottom - srcBits->bounds.top;
        copy.assign(size_t(rows) * size_t(srcBits->rowBytes), 0);
        std::memcpy(copy.data(), srcBits->baseAddr, copy.size());
        source.baseAddr = reinterpret_cast<Ptr>(copy.data());
    }
    for (int y = a.y0; y < a.y1; ++y) {
        const int sy =
            srcRect->top + int((2 * SInt64(y - dstRect->top) + 1) * sh / (2 * SInt64(dh)));
        if (sy < source.bounds.top || sy >= source.bounds.bottom)
            continue;
        UInt8* out = PixelAt(dstBits, a.x0, y);
        for (int x = a.x0; x < a.x1; ++x, out += 4) {
            const int sx = srcX[size_t(x - a.x0)];
            if (sx >= source.bounds.left && sx < source.bounds.right)
                std::memcpy(out, PixelAt(&source, sx, sy), 4);
        }
    }
}

} // namespace

void CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
              const Rect* dstRect, SInt16 mode, RgnHandle) {
    constexpr SInt16 ditherCopy = 64; // no dithering at 32 bits: the same as srcCopy
    if (!srcBits || !dstBits || !srcRect || !dstRect || !srcBits->baseAddr || !dstBits->baseAddr ||
        (mode != srcCopy && mode != ditherCopy)) {
        tQDErr = paramErr;
        return;
    }
    tQDErr = noErr;
    const int sw = srcRect->right - srcRect->left, sh = srcRect->bottom - srcRect->top;
    const int dw = dstRect->right - dstRect->left, dh = dstRect->bottom - dstRect->top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return;
    const PixelArea area = DestinationArea(dstBits, dstRect);
    if (sw == dw && sh == dh) {
        CopyUnscaled(srcBits, dstBits, srcRect, dstRect, area);
    } else if (!area.empty()) {
        CopyScaled(srcBits, dstBits, srcRect, dstRect, area);
    }
}

// --- Colours and pen ---------------------------------------------------------------------

void RGBForeColor(const RGBColor* color) {
    if (GrafPort* port = CurrentPort(); port && color)
        port->fore = *color;
}

void RGBBackColor(const RGBColor* color) {
    if (GrafPort* port = CurrentPort(); port && color)
        port->back = *color;
}

void GetForeColor(RGBColor* color) {
    if (!color)
        return;
    GrafPort* port = CurrentPort();
    *color = port ? port->fore : RGBColor{0, 0, 0};
}

void GetBackColor(RGBColor* color) {
    if (!color)
        return;
    GrafPort* port = CurrentPort();
    *color = port ? port->back : RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
}

void PenMode(SInt16 mode) {
    if (GrafPort* port = CurrentPort())
        port->penMode = mode;
}

void PenSize(SInt16 width, SInt16 height) {
    if (GrafPort* port = CurrentPort())
        port->penSize = Point{height, width};
}

void PenNormal() {
    if (GrafPort* port = CurrentPort()) {
        port->penSize = Point{1, 1};
        port->penMode = patCopy;
    }
}

void GetPen(Point* pt) {
    if (!pt)
        return;
    GrafPort* port = CurrentPort();
    *pt = port ? port->penLoc : Point{0, 0};
}

void ClipRect(const Rect* r) {
    if (GrafPort* port = CurrentPort(); port && r)
        port->clip = *r;
}

// --- Drawing -----------------------------------------------------------------------------

void FrameRect(const Rect* r) {
    Canvas canvas;
    if (!r || !canvas.Open() || EmptyRect(r))
        return;
    const int pw = canvas.port->penSize.h, ph = canvas.port->penSize.v;
    if (pw <= 0 || ph <= 0)
        return;
    const SpanOp op = OpForPenMode(canvas.port->penMode);
    const int l = r->left, t = r->top, rt = r->right, b = r->bottom;
    if (rt - l <= 2 * pw || b - t <= 2 * ph) {
        canvas.Box(l, t, rt, b, op);
        return;
    }
    // Four bands that do not overlap, so patXor inverts each pixel once.
    canvas.Box(l, t, rt, t + ph, op);
    canvas.Box(l, b - ph, rt, b, op);
    canvas.Box(l, t + ph, l + pw, b - ph, op);
    canvas.Box(rt - pw, t + ph, rt, b - ph, op);
}

void PaintRect(const Rect* r) {
    Canvas canvas;
    if (r && canvas.Open())
        canvas.Box(r->left, r->top, r->right, r->bottom, OpForPenMode(canvas.port->penMode));
}

void EraseRect(const Rect* r) {
    Canvas canvas;
    if (r && canvas.Open())
        canvas.Box(r->left, r->top, r->right, r->bottom, SpanOp::Back);
}

void InvertRect(const Rect* r) {
    Canvas canvas;
    if (r && canvas.Open())
        canvas.Box(r->left, r->top, r->right, r->bottom, SpanOp::Invert);
}

void FrameOval(const Rect* r) {
    DrawOval(r, true);
}

void PaintOval(const Rect* r) {
    DrawOval(r, false);
}

void MoveTo(SInt16 h, SInt16 v) {
    if (GrafPort* port = CurrentPort())
        port->penLoc = Point{v, h};
}

void LineTo(SInt16 h, SInt16 v) {
    GrafPort* port = CurrentPort();
    if (!port)
        return;
    const Point from = port->penLoc;
    port->penLoc = Point{v, h};
    Canvas canvas;
    const int pw = port->penSize.h, ph = port->penSize.v;
    if (pw <= 0 || ph <= 0 || !canvas.Open())
        return;
    // Each row's cover is one run: consecutive line points differ by at most one column.
    const int yMin = std::min<int>(from.v, v), yMax = std::max<int>(from.v, v) + ph;
    std::vector<int> runL(size_t(yMax - yMin), INT32_MAX), runR(size_t(yMax - yMin), INT32_MIN);
    int x = from.h, y = from.v;
    const int dx = std::abs(h - x), dy = -std::abs(v - y);
    const int stepX = x < h ? 1 : -1, stepY = y < v ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        for (int py = y; py < y + ph; ++py) {
            runL[size_t(py - yMin)] = std::min(runL[size_t(py - yMin)], x);
            runR[size_t(py - yMin)] = std::max(runR[size_t(py - yMin)], x + pw);
        }
        if (x == h && y == v)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += stepX;
        }
        if (e2 <= dx) {
            err += dx;
            y += stepY;
        }
    }
    const SpanOp op = OpForPenMode(port->penMode);
    for (int row = yMin; row < yMax; ++row)
        if (runL[size_t(row - yMin)] < runR[size_t(row - yMin)])
            canvas.Span(row, runL[size_t(row - yMin)], runR[size_t(row - yMin)], op);
}

// --- Rectangles and points ---------------------------------------------------------------

void SetRect(Rect* r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom) {
    if (r)
        *r = Rect{top, left, bottom, right};
}

void OffsetRect(Rect* r, SInt16 dh, SInt16 dv) {
    if (!r)
        return;
    r->left = SInt16(r->left + dh);
    r->right = SInt16(r->right + dh);
    r->top = SInt16(r->top + dv);
    r->bottom = SInt16(r->bottom + dv);
}

void InsetRect(Rect* r, SInt16 dh, SInt16 dv) {
    if (!r)
        return;
    r->left = SInt16(r->left + dh);
    r->right = SInt16(r->right - dh);
    r->top = SInt16(r->top + dv);
    r->bottom = SInt16(r->bottom - dv);
    if (EmptyRect(r))
        *r = Rect{0, 0, 0, 0};
}

Boolean SectRect(const Rect* src1, const Rect* src2, Rect* dstRect) {
    if (!src1 || !src2 || !dstRect)
        return false;
    Rect out{std::max(src1->top, src2->top), std::max(src1->left, src2->left),
             std::min(src1->bottom, src2->bottom), std::min(src1->right, src2->right)};
    if (EmptyRect(&out)) {
        *dstRect = Rect{0, 0, 0, 0};
        return false;
    }
    *dstRect = out;
    return true;
}

void UnionRect(const Rect* src1, const Rect* src2, Rect* dstRect) {
    if (!src1 || !src2 || !dstRect)
        return;
    *dstRect = Rect{std::min(src1->top, src2->top), std::min(src1->left, src2->left),
                    std::max(src1->bottom, src2->bottom), std::max(src1->right, src2->right)};
}

Boolean PtInRect(Point pt, const Rect* r) {
    return r && pt.h >= r->left && pt.h < r->right && pt.v >= r->top && pt.v < r->bottom;
}

Boolean EqualRect(const Rect* rect1, const Rect* rect2) {
    return rect1 && rect2 && rect1->top == rect2->top && rect1->left == rect2->left &&
           rect1->bottom == rect2->bottom && rect1->right == rect2->right;
}

Boolean EmptyRect(const Rect* r) {
    return !r || r->right <= r->left || r->bottom <= r->top;
}

void Pt2Rect(Point pt1, Point pt2, Rect* dstRect) {
    if (dstRect)
        *dstRect = Rect{std::min(pt1.v, pt2.v), std::min(pt1.h, pt2.h), std::max(pt1.v, pt2.v),
                        std::max(pt1.h, pt2.h)};
}

void SetPt(Point* pt, SInt16 h, SInt16 v) {
    if (pt)
        *pt = Point{v, h};
}

Boolean EqualPt(Point pt1, Point pt2) {
    return pt1.h == pt2.h && pt1.v == pt2.v;
}
