// HYPlugin.h - the video editor's plug-in interface, as host and plug-in both see it.
//
// Owns: the parameter block `_PluginParams` that the host hands to the plug-in's exported
// `main` on every call, the host's callback table `HYProcs`, the selectors and the result
// codes. Both sides include this one header and nothing else of each other.
//
// Layout: the records keep the historical field order and integer widths. In a 32-bit
// build they are exactly the historical 32-bit layout (checked by static assertions in
// tests/interface); in a 64-bit build pointers are native and the records grow where the
// pointers are. Nothing here allocates or has state.
#pragma once

#include "MacTypes.h"

struct GrafPort;
struct PixMap;
using CGrafPtr = GrafPort*;
using GWorldPtr = CGrafPtr;
using PixMapPtr = PixMap*;
using PixMapHandle = PixMap**;

// One-byte enumerations: the host stores each in a single byte.
using HYPluginSelector = UInt8;
using HYPluginResult = UInt8;
using HYRefDVQuality = UInt8;
using HYPluginType = UInt8;
using HYPluginChoiceFlags = UInt32;

enum : HYPluginSelector {
    kPlugGetInfo = 1,
    kPlugInitialize = 2,
    kPlugDrawIcon = 3,
    kPlugDrawThumbNail = 4,
    kPlugFilePlaceHolder = 5,
    kPlugDoFrame = 6,
    kPlugCallOnceWithInitAndTerminate = 7,
    kPlugTerminate = 8,
    kPlugCustomButtonClick = 9,
};

enum : HYPluginResult {
    kPluginOK = 0,
    kPluginCancel = 1,
    kPluginFinished = 2,
    kPluginBadParams = 3,
    kPluginOutOfMemory = 4,
    kPluginOutOfDiskSpace = 5,
    kPluginFailed = 6,
    kPluginCantGetNeededFrame = 7,
    kPluginUnimplemented = 8,
    kPluginTryAgainLater = 9,
    kPluginAppIsTooOld = 10,
    kPluginAppIsTooNew = 11,
};

enum : HYRefDVQuality {
    kDVLowQuality = 0,
    kDVHighQuality = 1,
    kDVHighQualitySingleField = 2,
};

enum : HYPluginType {
    kPluginUnknownType = 0,
    kPluginTitleType = 101,
    kPluginTransitionBeforeType = 102,
    kPluginTransitionBetweenType = 103,
    kPluginTransitionAfterType = 104,
    kPluginFilterType = 105,
};

// The frame cookie: the host's token for a fetched frame, handed back on release and
// audio mixing. The plug-in never looks inside.
using HYFrameCookie = void*;

// The historical FSSpec record carried in the open-file info (volume, parent
// directory, Pascal name). The plug-in does not use it; it is here for the layout.
struct HYFileSpec {
    SInt16 vRefNum;
    SInt32 parID;
    unsigned char name[64];
};

struct HYPluginGetInfo {
    HYPluginType pluginType;
    UInt8 titleType;
    HYPluginChoiceFlags pluginFlags;
    SInt32 framesToBeRendered;
    SInt32 takeFromClipBefore;
    SInt32 takeFromClipAfter;
    SInt32 minSpeedFrames;
    SInt32 maxSpeedFrames;
    Boolean mustTakeFromSingleClips;
    SInt32 bestThumbOffset;
    RGBColor defaultColor;
    UInt8 defaultDirection;
    UInt8 justify;
    SInt16 defaultFontNum;
    SInt16 defaultFontSize;
};

struct HYPluginFilterSliderInfo {
    char label[128];
    char minLabel[128];
    char maxLabel[128];
    float defaultValue;
};

struct HY2PluginGetInfo {
    char group[128];
    HYPluginFilterSliderInfo filterSliders[3];
    SInt32 defaultFadeInFrames;
    SInt32 defaultFadeOutFrames;
    SInt32 minHangFrames;
    SInt32 maxHangFrames;
    float defaultFontSizeScale;
    SInt32 selectedFrames;
    SInt32 speedFrames;
    SInt32 hangFrames;
    SInt32 baseMemoryNeeded;
};

struct HYPluginFileOpenInfo {
    SInt16 typeCount;
    Handle hTypes;
    HYFileSpec chosenFile;
};

struct HY3PluginGetInfo {
    float defaultX;
    float defaultY;
    float userX;
    float userY;
    HYPluginFileOpenInfo fileInfo;
    char buttonTitle[32];
};

struct HY4PluginGetInfo {
    HYPluginFilterSliderInfo titleSliders;
};

struct HYPluginFilterInfo {
    float sliderValues[3];
    SInt32 fadeInFrames;
    SInt32 fadeOutFrames;
};

// The callbacks the plug-in calls. `instance` is the host's own pointer from the block.
using HYNewPtrProc = Ptr (*)(SInt32 byteCount);
using HYDisposePtrProc = void (*)(Ptr block);
using HYGetFrameProc = HYPluginResult (*)(void* instance, SInt32 frameIndex, GWorldPtr* outFrame,
                                          SInt16 width, SInt16 height, HYRefDVQuality quality,
                                          SInt16* outVolume, HYFrameCookie* outCookie);
using HYReleaseFrameProc = HYPluginResult (*)(void* instance, HYFrameCookie cookie);
using HYBlitProc = HYPluginResult (*)(PixMapHandle source, PixMapHandle dest, const Rect* srcRect,
                                      const Rect* dstRect, SInt16 opacity);
using HYMixAudioProc = HYPluginResult (*)(void* instance, HYFrameCookie cookie, SInt16 level);
using HYGetFilterInfoProc = HYPluginResult (*)(void* instance, HYPluginFilterInfo** outInfo);
using HYReleaseFilterInfoProc = HYPluginResult (*)(void* instance, HYPluginFilterInfo* info);
// Callbacks of the table that this plug-in never calls; a host may leave them null.
using HYUnusedProc = void (*)();

struct HYProcs {
    HYNewPtrProc NewPtr;
    HYNewPtrProc NewPtrClear;
    HYDisposePtrProc DisposePtr;
    HYUnusedProc ptocstr;
    HYUnusedProc ctopstr;
    HYUnusedProc pstrcpy;
    HYUnusedProc strcpy;
    HYUnusedProc strlen;
    HYUnusedProc GetLocalizedString;
    HYGetFrameProc GetFrame;
    HYReleaseFrameProc ReleaseFrame;
    HYUnusedProc GetAudioFrame;
    HYUnusedProc ReleaseAudioFrame;
    HYUnusedProc GetMovieInfo;
    HYUnusedProc GetClipInfo;
    HYUnusedProc SetClipInfo;
    HYBlitProc Blit;
    HYUnusedProc FillRect;
    HYUnusedProc TextBounds;
    HYUnusedProc DrawText;
    HYUnusedProc GetTitleInfo;
    HYUnusedProc ReleaseTitleInfo;
    HYUnusedProc GetTransitionInfo;
    HYUnusedProc ReleaseTransitionInfo;
    HYMixAudioProc MixAudio;
    HYGetFilterInfoProc GetFilterInfo;
    HYReleaseFilterInfoProc ReleaseFilterInfo;
    HYUnusedProc StringWidth;
    HYUnusedProc CGDrawText;
    HYUnusedProc CGStringWidth;
};

struct _PluginParams {
    SInt16 interfaceVersion;
    void* instance;
    HYPluginSelector selector;
    HYProcs* procs;
    HYPluginGetInfo getInfo;
    SInt32 startFrame;
    SInt32 renderFrame;
    SInt32 frameCount;
    Boolean proxyOnly;
    Rect frameRect;
    GWorldPtr frame;
    void* clientData;
    HY2PluginGetInfo getInfo2;
    HY3PluginGetInfo getInfo3;
    HY4PluginGetInfo getInfo4;
};

// Bits the plug-in sets in `getInfo.pluginFlags`; their meaning is the host's.
enum : HYPluginChoiceFlags {
    kPluginFlag80 = 0x80,
    kPluginFlag100 = 0x100,
    kPluginFlag200 = 0x200,
    kPluginFlag1000 = 0x1000,
};

// The plug-in's one export. The symbol is named "main"; hosts find it with dlsym.
extern "C" {
using HYPluginMainProc = SInt32 (*)(SInt32 which, _PluginParams* params);
}

// The interface version this header describes; hosts put it in `interfaceVersion`.
constexpr SInt16 kHYInterfaceVersion = 4;
