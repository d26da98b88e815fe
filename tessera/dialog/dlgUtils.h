// dlgUtils.h - the geometry and drawing of the region on the dialog's preview.
//
// Owns: the hit zones of the region's four corner handles and its inside, the move and
// corner-resize steps of a drag (Option: symmetric about the centre; Shift: the proportions
// the region had when the drag began), fitting the region to the chosen picture's
// proportions, and drawing the rendered frame with the region's outline and handles.
// Promises: a corner drag always gives a normalised rectangle; a chosen picture's
// proportions (with keepProps on) win over Shift; drawing saves and restores nothing but
// the clip, which it leaves at the whole port (callers own the port choice). With two regions
// (start and end) the one being edited is drawn with its edge and handles, the other dimmed
// beneath it; with one region only the start region is drawn.
#pragma once

#include "HIToolbox.h"
#include "MacTypes.h"
#include "PluginDefines.h"

enum : SInt16 {
    kClipNoPart = 0,
    kClipTopLeft = 1,
    kClipTopRight = 2,
    kClipBottomLeft = 3,
    kClipBottomRight = 4,
    kClipInside = 5,
};

SInt16 IsHandleHit(const Rect& theRect, Point theLoc);
void DragRect(Rect& theRect, Point oldLoc, Point newLoc, UInt32 modifiers);
void DragCorner(SInt16 theHandle, Rect& theRect, Point oldLoc, Point newLoc, UInt32 modifiers,
                const Rect& theFrame, const relRect& origRel);
void KeepImageProps(Rect& theRect);
void CalcAndKeepImageProps();
void DrawHandles(const Rect& theRect);
void DrawFrameContents(WindowRef theWindow, const Rect& destRect);
