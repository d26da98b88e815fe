// sliderHandlers.h - the dialog's value sliders, its clip slider and the live re-render.
//
// Owns: binding the six value sliders and the clip slider of a dialog window to the
// workspace, their live action routines, and the two re-render routines the whole dialog
// uses. Promises: while a slider is dragged every change is written into the record, its
// legend shows the value followed by "%", and the preview shows the new render before the
// action returns; a frame the host cannot deliver (or a workspace without a frame fetch)
// leaves the last frame in the preview.
#pragma once

#include "HIToolbox.h"

void SetupSliders(WindowRef theWindow);
void Slider1Action(ControlRef theControl, ControlPartCode partCode);
void Slider2Action(ControlRef theControl, ControlPartCode partCode);
void Slider3Action(ControlRef theControl, ControlPartCode partCode);
void Slider4Action(ControlRef theControl, ControlPartCode partCode);
void Slider5Action(ControlRef theControl, ControlPartCode partCode);
void Slider6Action(ControlRef theControl, ControlPartCode partCode);
void ClipSliderAction(ControlRef theControl, ControlPartCode partCode);
void ReRenderAndBlit();
void AccessRenderAndBlit(SInt32 frameIndex);

// "<v>/<maxFrameIndex>" into "ClpM" 1 of the dialog window.
void ShowFrameNumber(SInt32 frameIndex);
