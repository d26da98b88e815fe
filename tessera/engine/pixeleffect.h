// pixeleffect.h - the mosaic renderer.
//
// Owns: ThePixelEffect, the per-frame entry that turns the configuration into block
// sizes, clips the region and runs the opacity step; OpacityStep; and TesseraGWorld, the
// block pass on the pixel memory of two 32-bit buffers. Promises: inside the (clipped)
// active rectangle every block of the grid anchored at its top-left corner is painted with
// the truncated average of the red, green and blue of the source pixels it covers and the
// alpha of the last of them read; partial edge blocks average only their own pixels;
// nothing outside the rectangle is written by the block pass. With an opacity above 0 the
// unaltered source is then laid over the whole destination. Source and destination may be
// the same buffer. The current port and device are left as found.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"
#include "QuickDraw.h"

// copyRest, currentFrame and maxFrame are the renderer's call as the region path makes it
// for every effect of this family and are not read: the rest of the frame is the caller's
// (DoPixelEffect copies it), and the region was already chosen for the frame.
void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                    pluginDataRec* theConfig, SInt32 currentFrame, SInt32 maxFrame);

// The opacity step: the unaltered source laid over the whole destination at opacity percent
// (1 to 100), scaled when the two sizes differ.
void OpacityStep(GWorldPtr source, GWorldPtr dest, SInt16 opacity);

// wid x hig is the block size in pixels (values below 1 count as 1). A nil dest works in
// place on source; a nil source does nothing.
void TesseraGWorld(GWorldPtr source, GWorldPtr dest, Rect activeRect, SInt16 wid, SInt16 hig);
