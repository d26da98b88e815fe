// sliderHandlers.cpp - sliders and live re-render; see sliderHandlers.h.
#include "sliderHandlers.h"

#include "Globals.h"
#include "callpixelfx.h"
#include "carbonmacros.h"
#include "commonprocs.h"
#include "controlIDs.h"

#include <string>

namespace {

void ShowLegend(SInt16 n, SInt32 value) {
    Str255 text;
    Num2Text(value, text);
    AppendStr255(text, "%");
    SimpleSetControlText(gConfigWorkSpace.theWindow, cSigLegend, n, text);
}

void SliderAction(SInt16 n, ControlRef theControl) {
    pluginDataRec* config = gConfigWorkSpace.theConfig;
    Assert(config, "Nil theConfig in slider action");
    const SInt32 v = GetControl32BitValue(theControl);
    config->sliders[n - 1] = SInt16(UInt16(UInt32(v) & 0xFFFF));
    ShowLegend(n, v);
    ReRenderAndBlit();
}

} // namespace

void ShowFrameNumber(SInt32 frameIndex) {
    Str255 text, max;
    Num2Text(frameIndex, text);
    Num2Text(gConfigWorkSpace.maxFrameIndex, max);
    AppendStr255(text, "/");
    AppendStr255(text, Str255View(max));
    SimpleSetControlText(gConfigWorkSpace.theWindow, cSigClipLegend, 1, text);
}

void ReRenderAndBlit() {
    CallPixelEffect(gConfigWorkSpace.sourceClip, gConfigWorkSpace.theFXClip);
    if (ControlRef preview = gConfigWorkSpace.theFrameCtrl) {
        SetControl32BitValue(preview, GetControl32BitValue(preview) != 0 ? 0 : 1);
    }
}

void AccessRenderAndBlit(SInt32 frameIndex) {
    if (FrameFetchProc fetch = gConfigWorkSpace.getFrameIntoGW) {
        (void)fetch(gConfigWorkSpace.sourceClip, gConfigWorkSpace.iMovieParams,
                    gConfigWorkSpace.minFrameIndex + frameIndex, 1);
    }
    ReRenderAndBlit();
}

void Slider1Action(ControlRef c, ControlPartCode) {
    SliderAction(1, c);
}
void Slider2Action(ControlRef c, ControlPartCode) {
    SliderAction(2, c);
}
void Slider3Action(ControlRef c, ControlPartCode) {
    SliderAction(3, c);
}
void Slider4Action(ControlRef c, ControlPartCode) {
    SliderAction(4, c);
}
void Slider5Action(ControlRef c, ControlPartCode) {
    SliderAction(5, c);
}
void Slider6Action(ControlRef c, ControlPartCode) {
    SliderAction(6, c);
}

void ClipSliderAction(ControlRef theControl, ControlPartCode) {
    const SInt32 v = GetControl32BitValue(theControl);
    gConfigWorkSpace.currFrameIndex = v;
    ShowFrameNumber(v);
    AccessRenderAndBlit(v);
}

void SetupSliders(WindowRef theWindow) {
    static const ControlActionProcPtr actions[cNumSliders] = {
        Slider1Action, Slider2Action, Slider3Action, Slider4Action, Slider5Action, Slider6Action};
    static const int offered[cNumSliders] = {cUsesSlider1, cUsesSlider2, cUsesSlider3,
                                             cUsesSlider4, cUsesSlider5, cUsesSlider6};
    pluginDataRec* config = gConfigWorkSpace.theConfig;
    Assert(config, "Nil theConfig in SetupSliders");
    for (SInt16 n = 1; n <= cNumSliders; ++n) {
        ControlRef slider = SimpleGetControlByID(theWindow, cSigSlider, n);
        Assert(slider, "Cannot access slider " + std::to_string(n));
        gConfigWorkSpace.sliders[n - 1] = slider;
        if (offered[n - 1] != 0) {
            SetControlAction(slider, actions[n - 1]);
            SetControl32BitValue(slider, config->sliders[n - 1]);
            ShowLegend(n, config->sliders[n - 1]);
        } else {
            SimpleHideControl(theWindow, cSigSlider, n);
            SimpleHideControl(theWindow, cSigLegend, n);
            SimpleHideControl(theWindow, cSigLabel, n);
        }
    }
    ControlRef clip = SimpleGetControlByID(theWindow, cSigClipSlider, 1);
    Assert(clip, "Cannot access clip slider");
    gConfigWorkSpace.clipSlider = clip;
    SetControlAction(clip, ClipSliderAction);
    // The maximum goes last: with the nib's range the value would be pinned before it.
    SetControl32BitMaximum(clip, gConfigWorkSpace.maxFrameIndex);
    SetControl32BitValue(clip, gConfigWorkSpace.currFrameIndex);
    SetControl32BitMinimum(clip, 0);
    SetControl32BitMaximum(clip, gConfigWorkSpace.maxFrameIndex);
    ShowFrameNumber(gConfigWorkSpace.currFrameIndex);
}
