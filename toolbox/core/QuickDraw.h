// QuickDraw.h - offscreen pixel buffers (GWorlds), the current port and device, CopyBits,
// and the rectangle, oval and line drawing that the dialog needs.
//
// Owns: every GWorld and its pixel memory; the current port and device, one pair per thread
// (shared by the host and every plug-in running on that thread, which is why toolbox_core is
// a shared library; a host that renders on several threads gets an independent pair on
// each); the last QuickDraw result (QDError), also per thread.
// Promises:
// - Every port is a 32-bit offscreen buffer. A pixel is four bytes in memory order
//   alpha, red, green, blue, on every processor. Pixel (x, y) of a bitmap lies at
//   baseAddr + (y - bounds.top) * rowBytes + 4 * (x - bounds.left). At the largest sizes
//   y * rowBytes passes 2^31: form it in 64 bits (ptrdiff_t).
// - NewGWorld keeps the bounds it is given (callers that want (0, 0) offset their rect
//   first). Width and height must be 1..32767; depth 0 or 32. Row bytes are deliberately
//   padded: 4 * width rounded up to 64, plus 64, so code that assumes 4 * width shows its
//   bug at once. New pixels are zero (transparent black). Pixels start unlocked.
// - Pixel memory never moves while the GWorld lives; the lock state is tracked all the
//   same (GetPixelsState) so that lock/restore discipline can be tested.
// - PixMap.rowBytes holds the plain byte count (no flag bits); use GetPixRowBytes.
//   A PixMapHandle is only ever one from GetGWorldPixMap / GetPortPixMap.
// - CopyBits supports srcCopy only (ditherCopy is the same at 32 bits; other modes draw
//   nothing and set QDError() to paramErr). All four bytes, alpha included, are copied as
//   they are. Equal sizes copy bytes exactly (memmove per row); different sizes scale by
//   nearest neighbour, sampling each destination pixel's centre. The copy is clipped to
//   both bitmaps' bounds and, when the destination is the current port's pixel map, to the
//   current port's clip rectangle. Foreground and background colours never tint the copy.
//   The mask region must be nil (there are no regions here). Overlapping source and
//   destination in one buffer are handled as if the source were read first.
// - Drawing (FrameRect ... LineTo) goes into the current port, in its local coordinates,
//   clipped to its bounds and clip rectangle; with no current port it does nothing. Drawn
//   pixels get alpha 255. The pen pattern is always solid, so with colour transfer modes:
//   patCopy/patOr (and srcCopy/srcOr) paint the foreground colour, patBic/notPatCopy paint
//   the background colour, patXor inverts, notPatOr/notPatXor/notPatBic leave the pixels.
// - Colour components are 16-bit; a pixel gets the high byte of each.
// - Rectangles are half-open: a pixel (h, v) is in r when r.left <= h < r.right and
//   r.top <= v < r.bottom. Frames and ovals lie inside their rectangle.
// - DisposeGWorld calls the GWorld's dispose hook (if any) once, before it frees; a hook
//   that disposes of the same GWorld again is harmless. If the disposed GWorld is the
//   calling thread's current port, that port becomes nil rather than dangling (a GWorld
//   must not be disposed of while it is another thread's current port).
#pragma once

#include "MacTypes.h"

struct GrafPort;
struct PixMap;
struct GDevice;
struct ColorTable;
struct MacRegion;
using GrafPtr = GrafPort*;
using CGrafPtr = GrafPort*;
using GWorldPtr = CGrafPtr;
using PixMapPtr = PixMap*;
using PixMapHandle = PixMap**;
using GDHandle = GDevice**;
using CTabHandle = ColorTable**;
using RgnHandle = MacRegion**;
using QDErr = OSErr;
using GWorldFlags = UInt32;

// The part of a pixel map that CopyBits reads. Every BitMap passed to CopyBits must be a
// 32-bit pixel map (a GWorld's, or one a caller filled in for its own 32-bit memory).
struct BitMap {
    Ptr baseAddr;
    SInt32 rowBytes; // bytes from one row to the next, no flag bits
    Rect bounds;
};

struct PixMap : BitMap {
    SInt16 pixelSize;   // always 32
    SInt16 cmpCount;    // 3 (alpha is carried but not counted, as classic direct pixels)
    SInt16 cmpSize;     // 8
    OSType pixelFormat; // k32ARGBPixelFormat
};

// Pixel formats accepted by NewGWorldFromPtr. k32ARGBPixelFormat is the classic value 32.
enum : OSType {
    k32ARGBPixelFormat = 0x00000020,
};

// GWorldFlags bits.
enum : GWorldFlags {
    pixPurge = 1u << 0,
    noNewDevice = 1u << 1,
    useTempMem = 1u << 2,
    keepLocal = 1u << 3,
    pixelsPurgeable = 1u << 6,
    pixelsLocked = 1u << 7,
    // UpdateGWorld results
    reallocPix = 1u << 0,
    gwFlagErr = 1u << 31,
};

// Transfer modes.
enum : SInt16 {
    srcCopy = 0,
    srcOr = 1,
    srcXor = 2,
    srcBic = 3,
    notSrcCopy = 4,
    notSrcOr = 5,
    notSrcXor = 6,
    notSrcBic = 7,
    patCopy = 8,
    patOr = 9,
    patXor = 10,
    patBic = 11,
    notPatCopy = 12,
    notPatOr = 13,
    notPatXor = 14,
    notPatBic = 15,
};

enum : OSErr {
    cDepthErr = -157, // pixel depth other than 32
};

// --- GWorlds -----------------------------------------------------------------------------

// depth 0 or 32; cTable and aGDevice are ignored (direct 32-bit pixels need neither).
// On failure *offscreenGWorld is nil and the result is paramErr (bad bounds), cDepthErr or
// memFullErr.
QDErr NewGWorld(GWorldPtr* offscreenGWorld, SInt16 pixelDepth, const Rect* boundsRect,
                CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags);
// A GWorld over the caller's memory (32-bit ARGB, rowBytes >= 4 * width). The memory stays
// the caller's: DisposeGWorld does not free it.
QDErr NewGWorldFromPtr(GWorldPtr* offscreenGWorld, OSType pixelFormat, const Rect* boundsRect,
                       CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags, Ptr buffer,
                       SInt32 rowBytes);
// Gives the GWorld new bounds keeping the same port object (so windows may hold on to it).
// If the size changes, fresh zeroed pixels are made and the old picture is copied in at the
// top-left corner (clipped); returns reallocPix. Same size: only the bounds move; returns 0.
// Failure: gwFlagErr, QDError() says why, and the GWorld is unchanged.
GWorldFlags UpdateGWorld(GWorldPtr* offscreenGWorld, SInt16 pixelDepth, const Rect* boundsRect,
                         CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags);
void DisposeGWorld(GWorldPtr offscreenGWorld); // nil is harmless

PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld);
PixMapHandle GetPortPixMap(CGrafPtr port);
GDHandle GetGWorldDevice(GWorldPtr offscreenGWorld);

Ptr GetPixBaseAddr(PixMapHandle pm);
SInt32 GetPixRowBytes(PixMapHandle pm);
Rect* GetPixBounds(PixMapHandle pm, Rect* bounds);
SInt16 GetPixDepth(PixMapHandle pm);

Boolean LockPixels(PixMapHandle pm); // true: the pixels are there (always, here)
void UnlockPixels(PixMapHandle pm);
GWorldFlags GetPixelsState(PixMapHandle pm); // pixelsLocked bit when locked
void SetPixelsState(PixMapHandle pm, GWorldFlags state);

Rect* GetPortBounds(CGrafPtr port, Rect* rect);
const BitMap* GetPortBitMapForCopyBits(CGrafPtr port);

// --- Host extensions (not classic) -------------------------------------------------------

// Called by DisposeGWorld before it frees the GWorld. A host that hands out GWorlds (frames)
// learns through it that the plug-in disposed of one, so it never frees it twice. One hook
// per GWorld; setting nil removes it.
using QDGWorldDisposeProc = void (*)(GWorldPtr world, void* refCon);
void QDSetGWorldDisposeHook(GWorldPtr world, QDGWorldDisposeProc proc, void* refCon);

// A pointer-sized value owned by whoever attaches the port to something else, e.g. the
// windowing toolbox attaching its window to the GWorld that is the window's port.
void* QDGetPortRefCon(CGrafPtr port);
void QDSetPortRefCon(CGrafPtr port, void* refCon);

// The port's clip rectangle (ClipRect sets it for the current port).
Rect* QDGetPortClipRect(CGrafPtr port, Rect* clip);

// --- Current port and device -------------------------------------------------------------

// All of these act on the calling thread's current port and device.
void GetGWorld(CGrafPtr* port, GDHandle* gdh);
// For a GWorld the device given is ignored and the GWorld's own device becomes current.
void SetGWorld(CGrafPtr port, GDHandle gdh);
void GetPort(GrafPtr* port);
void SetPort(GrafPtr port);
GDHandle GetMainDevice();
GDHandle GetGDevice();
void SetGDevice(GDHandle gdh);

// Keeps the calling thread's current port and device for its own life: saved when made, put back when it
// goes, whichever way the scope is left. Made with a port, it also makes that port current
// (with the device given, as SetGWorld does).
class GWorldSaver {
  public:
    GWorldSaver() { GetGWorld(&port_, &device_); }
    explicit GWorldSaver(CGrafPtr makeCurrent, GDHandle device = nullptr) : GWorldSaver() {
        SetGWorld(makeCurrent, device);
    }
    ~GWorldSaver() { SetGWorld(port_, device_); }
    GWorldSaver(const GWorldSaver&) = delete;
    GWorldSaver& operator=(const GWorldSaver&) = delete;

  private:
    CGrafPtr port_ = nullptr;
    GDHandle device_ = nullptr;
};

OSErr QDError(); // result of the last NewGWorld / UpdateGWorld / CopyBits / QDBeginCGContext

// --- CopyBits ----------------------------------------------------------------------------

void CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
              const Rect* dstRect, SInt16 mode, RgnHandle maskRgn);

// --- Colours and pen (of the current port) -----------------------------------------------

void RGBForeColor(const RGBColor* color);
void RGBBackColor(const RGBColor* color);
void GetForeColor(RGBColor* color);
void GetBackColor(RGBColor* color);
void PenMode(SInt16 mode);
void PenSize(SInt16 width, SInt16 height);
void PenNormal(); // size 1 x 1, mode patCopy
void GetPen(Point* pt);
void ClipRect(const Rect* r);

// --- Drawing into the current port -------------------------------------------------------

void FrameRect(const Rect* r);  // outline of pen width inside r, pen mode
void PaintRect(const Rect* r);  // fill with the pen mode
void EraseRect(const Rect* r);  // fill with the background colour
void InvertRect(const Rect* r); // complement red, green, blue
void FrameOval(const Rect* r);
void PaintOval(const Rect* r);
void MoveTo(SInt16 h, SInt16 v);
// Draws from the pen location to (h, v) with the pen (a pen-size rectangle hanging
// below-right of each point of the line, both ends included); the pen ends at (h, v).
void LineTo(SInt16 h, SInt16 v);

// --- Rectangle and point arithmetic ------------------------------------------------------

void SetRect(Rect* r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom);
void OffsetRect(Rect* r, SInt16 dh, SInt16 dv);
void InsetRect(Rect* r, SInt16 dh, SInt16 dv); // an inset that empties r makes it (0,0,0,0)
Boolean SectRect(const Rect* src1, const Rect* src2, Rect* dstRect); // empty: (0,0,0,0)
void UnionRect(const Rect* src1, const Rect* src2, Rect* dstRect);
Boolean PtInRect(Point pt, const Rect* r);
Boolean EqualRect(const Rect* rect1, const Rect* rect2);
Boolean EmptyRect(const Rect* r);                  // true when right <= left or bottom <= top
void Pt2Rect(Point pt1, Point pt2, Rect* dstRect); // the normalised rectangle of two corners
void SetPt(Point* pt, SInt16 h, SInt16 v);
Boolean EqualPt(Point pt1, Point pt2);
