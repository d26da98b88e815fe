// callpixelfx.h - the path from the configuration's region to the mosaic renderer.
//
// Owns: turning the configuration's relative region into pixels of the destination and
// calling the renderer, for host frames (DoPixelEffect, whose destination already holds a
// copy of the source) and for the dialog's preview (CallPixelEffect, which makes that
// copy itself). Promises: the region of a frame is FrameRegion's: for a one-region effect
// the configuration's `startRel` whatever the frame; for a two-region effect the region
// moves from `startRel` on a clip's first frame to `endRel` on its last. The renderer itself
// never looks at the frame index.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"
#include "QuickDraw.h"

// The region of frame frameIndex (0 = the clip's first) of a clip of frameCount frames.
// With cUsedNumberOfRects = 1, startRel. With two regions, InterpolateRel (startRel, endRel,
// t) with t = frameIndex / (frameCount - 1); t = 0 for a clip of one frame (or a count the
// host left at 0), and a frame outside the clip takes the nearer end's region.
relRect FrameRegion(const pluginDataRec* theConfig, SInt32 frameIndex, SInt32 frameCount);

void DoPixelEffect(GWorldPtr source, GWorldPtr dest, pluginDataRec* theConfig,
                   SInt32 currentFrameIndex, SInt32 maxFrames);
// Whether DoPixelEffect paints every pixel of dest for that frame: the frame's region covers
// all of dest's frame and source has the very same frame. Then whatever dest held before the
// call is overwritten, and a host frame need not receive its copy of the source first.
bool DoPixelEffectPaintsAll(GWorldPtr source, GWorldPtr dest, const pluginDataRec* theConfig,
                            SInt32 currentFrameIndex, SInt32 maxFrames);
// The preview shows the frame minFrameIndex + currFrameIndex of the dialog's clip, whose
// last frame is maxFrameIndex: its region is that frame's.
void CallPixelEffect(GWorldPtr source, GWorldPtr dest);
void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, pluginDataRec* theConfig,
                SInt32 currentFrame, SInt32 numFrames);
