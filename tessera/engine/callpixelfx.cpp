// callpixelfx.cpp - the region path into the renderer (see callpixelfx.h).
#include "callpixelfx.h"

#include "Globals.h"
#include "commonprocs.h"
#include "gworldprocs.h"
#include "pixeleffect.h"
#include "rectprocs.h"
#include "relrects.h"

#include <algorithm>
#include <cstdint>

relRect FrameRegion(const pluginDataRec* theConfig, SInt32 frameIndex, SInt32 frameCount) {
    Assert(theConfig, "Nil theConfig on FrameRegion");
    if (cUsedNumberOfRects == 1 || frameCount <= 1 || frameIndex <= 0) {
        return theConfig->startRel;
    }
    const double t = std::min(double(frameIndex) / double(frameCount - 1), 1.0);
    return InterpolateRel(theConfig->startRel, theConfig->endRel, t);
}

void DoPixelEffect(GWorldPtr source, GWorldPtr dest, pluginDataRec* theConfig,
                   SInt32 currentFrameIndex, SInt32 maxFrames) {
    Assert(theConfig, "Nil theConfig on DoPixelEffect");
    // The mosaic leaves the pixels outside its region as they are, so they must be the
    // source's; when it paints every pixel, a copy would only be overwritten.
    if (!DoPixelEffectPaintsAll(source, dest, theConfig, currentFrameIndex, maxFrames)) {
        Source2Target(source, dest);
    }
    const Rect theFrame = GetPortRect(dest);
    const Rect theRect = Rel2Rect(FrameRegion(theConfig, currentFrameIndex, maxFrames), theFrame);
    PixelDrive(source, dest, theRect, theConfig, currentFrameIndex, maxFrames);
}

bool DoPixelEffectPaintsAll(GWorldPtr source, GWorldPtr dest, const pluginDataRec* theConfig,
                            SInt32 currentFrameIndex, SInt32 maxFrames) {
    if (source == nullptr || dest == nullptr || theConfig == nullptr) {
        return false;
    }
    // The block pass paints the region clipped to dest's frame, and only between frames of
    // one size (see ThePixelEffect and TesseraGWorld); the opacity step then reads dest whole.
    const Rect theFrame = GetPortRect(dest);
    Rect theRect = Rel2Rect(FrameRegion(theConfig, currentFrameIndex, maxFrames), theFrame);
    ClipRectToFrame(theRect, theFrame);
    const Rect sourceFrame = GetPortRect(source);
    return EqualRect(&theRect, &theFrame) && EqualRect(&theFrame, &sourceFrame) &&
           theFrame.left < theFrame.right && theFrame.top < theFrame.bottom;
}

void CallPixelEffect(GWorldPtr source, GWorldPtr dest) {
    pluginDataRec* theConfig = gConfigWorkSpace.theConfig;
    Assert(theConfig, "Nil theConfig on CallPixelEffect");
    const Rect theFrame = GetPortRect(dest);
    Source2Target(source, dest);
    const SInt64 shown = SInt64(gConfigWorkSpace.minFrameIndex) + gConfigWorkSpace.currFrameIndex;
    const SInt32 frameIndex = SInt32(std::clamp<SInt64>(shown, INT32_MIN, INT32_MAX));
    const SInt32 frameCount =
        gConfigWorkSpace.maxFrameIndex < INT32_MAX ? gConfigWorkSpace.maxFrameIndex + 1 : INT32_MAX;
    const Rect theRect = Rel2Rect(FrameRegion(theConfig, frameIndex, frameCount), theFrame);
    PixelDrive(source, dest, theRect, theConfig, gConfigWorkSpace.currFrameIndex,
               gConfigWorkSpace.maxFrameIndex);
}

void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, pluginDataRec* theConfig,
                SInt32 currentFrame, SInt32 numFrames) {
    ThePixelEffect(source, dest, theRect, true, theConfig, currentFrame, numFrames);
}
