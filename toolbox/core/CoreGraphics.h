// CoreGraphics.h - immutable images, bitmap contexts over pixel memory, and drawing an image
// into a rectangle under a transform with global alpha.
//
// Owns: images, colour spaces, data providers and contexts, each reference-counted
// (Create/Copy gives one reference; Release of nil is harmless).
// Promises:
// - CGFloat is float (single precision); transforms are applied in double internally.
// - Pixels: 8 bits per component, 32 bits per pixel. Images and contexts accept alpha first
//   or last, premultiplied (kCGImageAlphaPremultipliedFirst = 2 with the default or 32Big
//   byte order is bytes A,R,G,B, the GWorld order; with 32Little it is B,G,R,A). Images also
//   accept straight alpha (First/Last, premultiplied on creation) and no alpha
//   (NoneSkipFirst/Last, taken as opaque). An image keeps its own copy of the pixels.
// - Coordinates: origin at the bottom-left of the context, y up; the initial CTM is the
//   identity, one unit per pixel. A pixel is covered by a drawing when its centre lies inside
//   the transformed rectangle (no edge antialiasing).
// - CGContextDrawImage samples the image bilinearly at the pixel centre mapped back into the
//   image: at image position (su, sv) (pixel centres at integers; edge pixels repeat),
//   x0 = floor(su), wx = trunc((su - x0) * 256 + 0.5) (wx = 256 moves x0 on by one, wx = 0),
//   the same for y, and each channel is
//       (p00 (256-wx)(256-wy) + p10 wx (256-wy) + p01 (256-wx) wy + p11 wx wy + 32768) >> 16.
//   Then it blends in the normal mode, premultiplied, in exact integers. With A = lround(alpha *
//   255) clamped to 0..255, source S and destination D (a, r, g, b premultiplied), for each channel
//   c:
//       out_c = min(255, (S_c * A * 255 + D_c * (65025 - S_a * A) + 32512) / 65025)
//   with integer division. Drawing at the image's own size with a translation-only CTM at
//   whole pixels takes a fast path that gives exactly these bytes.
// - A rectangle of negative width or height stands for its standardised equivalent (the
//   image is not mirrored by it); mirroring is done with the CTM.
// - Only kCGBlendModeNormal is drawn; in any other mode CGContextDrawImage draws nothing.
// - CGContextClearRect writes 0 to all four bytes of the covered pixels; alpha does not
//   apply.
// - Pixels outside the context or its clip are never touched. A context made by
//   QDBeginCGContext is clipped to the port's bounds and clip rectangle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QuickDraw.h"

using CGFloat = float;

struct CGPoint {
    CGFloat x;
    CGFloat y;
};
struct CGSize {
    CGFloat width;
    CGFloat height;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
};
struct CGAffineTransform {
    CGFloat a, b, c, d, tx, ty; // x' = a x + c y + tx, y' = b x + d y + ty
};

inline CGPoint CGPointMake(CGFloat x, CGFloat y) {
    return CGPoint{x, y};
}
inline CGSize CGSizeMake(CGFloat w, CGFloat h) {
    return CGSize{w, h};
}
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    return CGRect{{x, y}, {w, h}};
}

struct CGImage;
struct CGContext;
struct CGColorSpace;
struct CGDataProvider;
using CGImageRef = CGImage*;
using CGContextRef = CGContext*;
using CGColorSpaceRef = CGColorSpace*;
using CGDataProviderRef = CGDataProvider*;

using CGBitmapInfo = UInt32;
using CGImageAlphaInfo = UInt32;
using CGBlendMode = SInt32;
using CGColorRenderingIntent = SInt32;

// Plain constants rather than enumerators, so that an alpha layout and a byte order combine
// with | into a CGBitmapInfo without conversions.
inline constexpr CGImageAlphaInfo kCGImageAlphaNone = 0;
inline constexpr CGImageAlphaInfo kCGImageAlphaPremultipliedLast = 1;
inline constexpr CGImageAlphaInfo kCGImageAlphaPremultipliedFirst = 2;
inline constexpr CGImageAlphaInfo kCGImageAlphaLast = 3;
inline constexpr CGImageAlphaInfo kCGImageAlphaFirst = 4;
inline constexpr CGImageAlphaInfo kCGImageAlphaNoneSkipLast = 5;
inline constexpr CGImageAlphaInfo kCGImageAlphaNoneSkipFirst = 6;
inline constexpr CGImageAlphaInfo kCGImageAlphaOnly = 7;

inline constexpr CGBitmapInfo kCGBitmapAlphaInfoMask = 0x1F;
inline constexpr CGBitmapInfo kCGBitmapByteOrderMask = 0x7000;
inline constexpr CGBitmapInfo kCGBitmapByteOrderDefault = 0 << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Little = 1 << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Little = 2 << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Big = 3 << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Big = 4 << 12;

enum : CGBlendMode {
    kCGBlendModeNormal = 0,
};

enum : CGColorRenderingIntent {
    kCGRenderingIntentDefault = 0,
};

// --- Colour spaces -----------------------------------------------------------------------

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
void CGColorSpaceRelease(CGColorSpaceRef space);

// --- Data providers ----------------------------------------------------------------------

// The provider does not copy: `data` must stay valid until releaseData is called (when the
// last reference goes). releaseData may be nil.
using CGDataProviderReleaseDataCallback = void (*)(void* info, const void* data, size_t size);
CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData);
CGDataProviderRef CGDataProviderRetain(CGDataProviderRef provider);
void CGDataProviderRelease(CGDataProviderRef provider);

// --- Images ------------------------------------------------------------------------------

// bitsPerComponent 8, bitsPerPixel 32, bytesPerRow >= 4 * width, the provider holding at
// least bytesPerRow * (height - 1) + 4 * width bytes; otherwise nil. decode must be nil.
// When the provider has a release callback (it says when its data goes) and its bytes already
// are premultiplied A, R, G, B in memory (kCGImageAlphaPremultipliedFirst, big-endian or
// default order), the image reads them in place, as Core Graphics does, and holds the
// provider while it lives: what is drawn is what the bytes hold at the time. Otherwise the
// pixels are copied and the provider may be released at once.
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, bool shouldInterpolate,
                         CGColorRenderingIntent intent);
CGImageRef CGImageCreateCopy(CGImageRef image); // a new image with its own pixels
CGImageRef CGImageRetain(CGImageRef image);
void CGImageRelease(CGImageRef image);
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
size_t CGImageGetBitsPerComponent(CGImageRef image);
size_t CGImageGetBitsPerPixel(CGImageRef image);
size_t CGImageGetBytesPerRow(CGImageRef image);
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image);
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef image);

// --- Bitmap contexts ---------------------------------------------------------------------

// Over caller memory (`data`), or over memory of its own (zeroed) when data is nil and then
// bytesPerRow 0 means 4 * width. bitsPerComponent 8; premultiplied alpha first or last;
// a colour space is required. Otherwise nil.
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space,
                                   CGBitmapInfo bitmapInfo);
CGImageRef CGBitmapContextCreateImage(CGContextRef context); // a copy of the pixels now
void* CGBitmapContextGetData(CGContextRef context);
size_t CGBitmapContextGetWidth(CGContextRef context);
size_t CGBitmapContextGetHeight(CGContextRef context);
size_t CGBitmapContextGetBytesPerRow(CGContextRef context);
CGContextRef CGContextRetain(CGContextRef context);
void CGContextRelease(CGContextRef context);

// --- Graphics state and drawing ----------------------------------------------------------

void CGContextSaveGState(CGContextRef c);
void CGContextRestoreGState(CGContextRef c); // without a matching save: nothing
// Each of these changes user space first: the new CTM is the operation followed by the old.
void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty);
void CGContextRotateCTM(CGContextRef c, CGFloat angle); // radians, counter-clockwise
void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy);
CGAffineTransform CGContextGetCTM(CGContextRef c);
void CGContextSetAlpha(CGContextRef c, CGFloat alpha); // clamped to 0..1
void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode);
void CGContextClearRect(CGContextRef c, CGRect rect);
void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image);
void CGContextFlush(CGContextRef c); // drawing is immediate; nothing to do

// --- Core Graphics on a QuickDraw port ---------------------------------------------------

// A context over the port's pixels (bytes A,R,G,B, the port's row bytes), its origin at the
// bottom-left of the port bounds, clipped to the port's clip rectangle. One at a time per
// port: a second begin before the end fails with paramErr. QDEndCGContext releases the
// context and sets *contextPtr to nil. While a context is drawing on a GWorld, UpdateGWorld
// refuses to move its pixels; if the GWorld is disposed of before the end, the context is
// left drawing nowhere (never into freed memory) and its holder releases it with
// CGContextRelease.
OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* contextPtr);
OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* contextPtr);
