// callpixelfx.h - the path from the configuration's region to the mosaic renderer.
//
// Owns: turning the configuration's relative region into pixels of the destination and
// calling the renderer, for host frames (DoPixelEffect) and for the dialog's preview
// (CallPixelEffect); both give the destination the source's pixels first, DoPixelEffect
// only where the mosaic will not paint over them (the one place that decides it). Promises: the region of a frame is FrameRegion's: for a one-region effect
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

// Frame currentFrameIndex of a clip of maxFrames: dest (any contents) becomes source with
// the frame's region in mosaic.
void DoPixelEffect(GWorldPtr source, GWorldPtr dest, pluginDataRec* theConfig,
                   SInt32 currentFrameIndex, SInt32 maxFrames);
// Whether the mosaic paints every pixel of dest for that frame: the frame's region covers
// all of dest's frame and source has the very same frame. Then DoPixelEffect does not copy
// the source into dest first.
bool DoPixelEffectPaintsAll(GWorldPtr source, GWorldPtr dest, const pluginDataRec* theConfig,
                            SInt32 currentFrameIndex, SInt32 maxFrames);
// The preview shows the frame minFrameIndex + currFrameIndex of the dialog's clip, whose
// last frame is maxFrameIndex: its region is that frame's.
void CallPixelEffect(GWorldPtr source, GWorldPtr dest);
// The renderer on a rectangle already in dest's pixels; the frame numbers go on to it
// unread (see ThePixelEffect).
void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, pluginDataRec* theConfig,
                SInt32 currentFrame, SInt32 numFrames);
