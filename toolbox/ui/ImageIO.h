// ImageIO.h - image sources: decoding image files into Core Graphics images, on Qt's image
// reader (PNG, JPEG, GIF, BMP, TIFF, WebP and the other formats of Qt's image plug-ins).
//
// Owns: image sources, reference-counted: release them with CGImageSourceRelease (they are
// not Core Foundation objects here, so CFRelease does not know them).
// Promises:
// - CGImageSourceCreateWithURL gives a source for a readable file URL, nil otherwise.
// - CGImageSourceGetCount is the number of images in the file (frames of an animated GIF,
//   pages of a TIFF), 1 for a single-image format, 0 when the file is no image Qt can read.
// - CGImageSourceCreateImageAtIndex decodes that image into a new CGImage (premultiplied
//   alpha first: bytes A, R, G, B) owned by the caller; nil for a bad index or a damaged
//   file.
// - None of this starts the windowing system: decoding works with no display at all.
#pragma once

#include "CoreFoundation.h"
#include "CoreGraphics.h"
#include "MacTypes.h"

struct CGImageSource;
using CGImageSourceRef = CGImageSource*;
struct __CFDictionary;
using CFDictionaryRef = const __CFDictionary*;

// options must be nil.
CGImageSourceRef CGImageSourceCreateWithURL(CFURLRef url, CFDictionaryRef options);
size_t CGImageSourceGetCount(CGImageSourceRef isrc);
CGImageRef CGImageSourceCreateImageAtIndex(CGImageSourceRef isrc, size_t index,
                                           CFDictionaryRef options);
CGImageSourceRef CGImageSourceRetain(CGImageSourceRef isrc);
void CGImageSourceRelease(CGImageSourceRef isrc); // nil is harmless
