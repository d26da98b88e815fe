// ColorPicker.h - the system colour picker, on Qt's colour dialog.
//
// Promises: NPickColor shows a modal colour dialog titled with the prompt and starting at
// the record's colour. If the user picks a colour, the record's colour becomes it and
// newColorChosen true; if the user cancels, the record is unchanged and newColorChosen
// false; both return noErr. Without a display nothing is shown and the result is
// noUserInteractionAllowed (record unchanged). The placement fields are accepted and left
// to the window system. The scripted-user seam (ToolboxUITesting.h) can answer instead.
#pragma once

#include "CarbonEvents.h"
#include "MacTypes.h"

struct CMRGBColor {
    UInt16 red;
    UInt16 green;
    UInt16 blue;
};
union CMColor {
    CMRGBColor rgb;
    UInt16 components[4];
};
using CMProfileRef = void*;

struct NPMColor {
    CMProfileRef profile;
    CMColor color;
};

using DialogPlacementSpec = SInt16;
enum : DialogPlacementSpec {
    kAtSpecifiedOrigin = 0,
    kDeepestColorScreen = 1,
    kCenterOnMainScreen = 2,
};

enum : UInt32 {
    kColorPickerDialogIsMoveable = 1,
    kColorPickerDialogIsModal = 2,
    kColorPickerCanModifyPalette = 4,
    kColorPickerCanAnimatePalette = 8,
    kColorPickerAppIsColorSyncAware = 0x10,
    kColorPickerInSystemDialog = 0x20,
    kColorPickerInApplicationDialog = 0x40,
    kColorPickerInPickerDialog = 0x80,
};

struct PickerMenuItemInfo {
    SInt16 editMenuID;
    SInt16 cutItem;
    SInt16 copyItem;
    SInt16 pasteItem;
    SInt16 clearItem;
    SInt16 undoItem;
};

using UserEventUPP = void*;
using NColorChangedUPP = void*;

struct NColorPickerInfo {
    NPMColor theColor;
    CMProfileRef dstProfile;
    UInt32 flags;
    DialogPlacementSpec placeWhere;
    Point dialogOrigin;
    OSType pickerType;
    UserEventUPP eventProc;
    NColorChangedUPP colorProc;
    UInt32 colorProcData;
    Str255 prompt; // Mac Roman
    PickerMenuItemInfo mInfo;
    Boolean newColorChosen;
    UInt8 reserved;
};

OSStatus NPickColor(NColorPickerInfo* theColorInfo);

// The older one-call form: true when a colour was chosen (then in *outColor).
Boolean GetColor(Point where, ConstStr255Param prompt, const RGBColor* inColor, RGBColor* outColor);
