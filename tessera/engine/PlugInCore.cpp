// PlugInCore.cpp - configuration lifecycle and the per-frame entry (see PlugInCore.h).
#include "PlugInCore.h"

#include "MacMemory.h"
#include "callpixelfx.h"
#include "commonprocs.h"

#include <cstring>

void InitEngine() {
    // Engine-wide start-up that must precede the first configuration record goes here.
    // The effect needs none today.
}

void pGetConfigSize(UInt32& theSize) {
    theSize = sizeof(pluginDataRec);
}

void pCopyConfig(const pluginDataRec* source, pluginDataRec* dest) {
    if (source == nullptr || dest == nullptr) {
        return;
    }
    if (GetPtrSize(Ptr(source)) != GetPtrSize(Ptr(dest))) {
        Terminate("Non-Matching Blocks", "The Size of Source and Dest do not match");
    }
    std::memcpy(static_cast<void*>(dest), source, sizeof(pluginDataRec));
    if (source->theRendered != nullptr) {
        dest->theRendered = CGImageCreateCopy(source->theRendered);
    }
    dest->theOriginalImage = nullptr;
}

void pUncopyConfig(pluginDataRec* theData) {
    Assert(theData, "Nil data in pUncopyConfig");
    if (theData->theRendered != nullptr) {
        CGImageRelease(theData->theRendered);
    }
}

void DoEffect(pluginDataRec* myConfig, _PluginParams* params, GWorldPtr theSource,
              GWorldPtr theTarget, SInt32 currentFrameIndex, SInt32 fadeInFrames,
              SInt32 fadeOutFrames, SInt32 totalFrames, float s1, float s2, float s3,
              SInt16& opacity) {
    (void)params;
    (void)fadeInFrames;
    (void)fadeOutFrames;
    (void)s1;
    (void)s2;
    (void)s3;
    (void)opacity;
    Assert(myConfig,
           "uninited theData in Plugin Effect master proc. need to call init before calling me");
    const GWorldSaver keepPort;
    DoPixelEffect(theSource, theTarget, myConfig, currentFrameIndex, totalFrames);
}
