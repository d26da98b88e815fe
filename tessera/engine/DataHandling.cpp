// DataHandling.cpp - defaults and the current region (see DataHandling.h).
#include "DataHandling.h"

#include "Globals.h"
#include "commonprocs.h"
#include "relrects.h"

void ResetConfig(pluginDataRec* theConfig, Boolean fullInit) {
    Assert(theConfig, "Nil theConfig on ResetConfig");
    InitRelRect(theConfig->startRel);
    InitRelRect(theConfig->endRel);

    const RGBColor white{65535, 65535, 65535};
    const RGBColor black{0, 0, 0};
    for (int i = 0; i < cNumColors; ++i) {
        theConfig->colors[i] = i < 2 ? white : black;
    }
    const SInt16 sliderDefaults[cNumSliders] = {10, 10, 0, 0, 0, 0};
    for (int i = 0; i < cNumSliders; ++i) {
        theConfig->sliders[i] = sliderDefaults[i];
    }
    theConfig->frameStartColor = RGBColor{65535, 0, 0};

    if (fullInit) {
        // A full reset starts a record; whatever the fields held was never this record's.
        theConfig->theOriginalImage = nullptr;
        theConfig->theRendered = nullptr;
        theConfig->mediaType = 1;
    }
    theConfig->keepProps = false;
    theConfig->blendMode = 1;
    theConfig->sync = false;
    theConfig->outside = true;
    theConfig->clipActive = false;
}

SInt16 GetMediaFormat(const pluginDataRec* theData) {
    return theData == nullptr ? SInt16(1) : theData->mediaType;
}

const frameFormatRec& GetFrameFormat(SInt16 mediaType) {
    for (const frameFormatRec& format : cFrameFormats) {
        if (format.mediaType == mediaType) {
            return format;
        }
    }
    return cFrameFormats[0];
}

relRect GetCurrentRel() {
    pluginDataRec* theConfig = gConfigWorkSpace.theConfig;
    Assert(theConfig, "Nil theConfig on GetCurrentRel");
    if (cUsedNumberOfRects == 1 || gConfigWorkSpace.activeRel == 1) {
        return theConfig->startRel;
    }
    return theConfig->endRel;
}

void PutCurrentRel(const relRect& theRel) {
    pluginDataRec* theConfig = gConfigWorkSpace.theConfig;
    Assert(theConfig, "Nil theConfig on PutCurrentRel");
    if (cUsedNumberOfRects == 1 || gConfigWorkSpace.activeRel == 1) {
        theConfig->startRel = theRel;
    } else {
        theConfig->endRel = theRel;
    }
}
