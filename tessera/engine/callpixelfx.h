// callpixelfx.h - the path from the configuration's region to the mosaic renderer.
//
// Owns: turning the configuration's relative region into pixels of the destination and
// calling the renderer, for host frames (DoPixelEffect, whose destination already holds a
// copy of the source) and for the dialog's preview (CallPixelEffect, which makes that
// copy itself). Promises: the region of every frame is the configuration's `startRel`;
// the frame index and count travel along but never change the result.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"
#include "QuickDraw.h"

void DoPixelEffect(GWorldPtr source, GWorldPtr dest, pluginDataRec* theConfig,
                   SInt32 currentFrameIndex, SInt32 maxFrames);
// Whether DoPixelEffect paints every pixel of dest: the configuration's region covers all of
// dest's frame and source has the very same frame. Then whatever dest held before the call
// is overwritten, and a host frame need not receive its copy of the source first.
bool DoPixelEffectPaintsAll(GWorldPtr source, GWorldPtr dest, const pluginDataRec* theConfig);
void CallPixelEffect(GWorldPtr source, GWorldPtr dest);
void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, pluginDataRec* theConfig,
                SInt32 currentFrame, SInt32 numFrames);
