// iMovieGlue.h - the host glue: the plug-in's front door and its per-clip handlers.
//
// Owns: the dispatcher behind the exported entry (checks the parameter block, starts the
// engine and the master configuration on the first valid call, chooses the handler of the
// selector), the description of the effect for the host, and the begin / frame / end /
// placeholder / button handlers with the per-clip record `EffectData` in `clientData`.
// Promises: every handler returns an HYPluginResult: 0 OK, 3 bad parameters, 4 out of
// memory, 6 failed, 10 host too old, or a code passed through from a host callback.
// Offscreen buffers made during a call are gone when it returns, and the current port and
// device are as the call found them (the button's dialog included). The glue includes
// nothing of the dialog: the dialog is handed to it (SetConfigureDialog).
#pragma once

#include "HYPlugin.h"
#include "MacTypes.h"
#include "PluginDefines.h"
#include "QuickDraw.h"

// The per-clip record, allocated zero-filled through the host and kept in `clientData`
// from the begin to the end of a clip.
struct EffectData {
    SInt32 frameCount;        // not filled
    SInt32 effectSourceCount; // 1 once begun
    float sliderValues[3];    // the host's sliders, as its filter info reports them
    SInt32 fadeInFrames;      // limited by the clip's length at the begin
    SInt32 fadeOutFrames;
    GWorldPtr effectGWorld;    // exists only during one frame call
    pluginDataRec* engineData; // the clip's own copy of the configuration
};
#if __SIZEOF_POINTER__ == 4 // the 32-bit builds, x86 and PowerPC
static_assert(sizeof(EffectData) == 36, "the 32-bit per-clip record is 36 bytes");
#endif

// The dispatcher: what the exported symbol `main` runs. Returns the handler's result
// widened without sign.
SInt32 TesseraMain(SInt32 which, _PluginParams* params);

HYPluginResult EffectGetInfos(SInt16 which, _PluginParams* params);
void SetFilterParamInfos(SInt16 which, _PluginParams* params);

HYPluginResult EffectBegins(SInt16 which, _PluginParams* params);
HYPluginResult EffectDrives(SInt16 which, _PluginParams* params);
HYPluginResult EffectEnds(SInt16 which, _PluginParams* params);
HYPluginResult MakeEffectPlaceHolders(SInt16 which, _PluginParams* params);
HYPluginResult CustomButtons(SInt16 which, _PluginParams* params);

// The configuration dialog that the custom button opens, handed over by whoever links the
// dialog (the bundle's executable); without one the button opens nothing. Before it runs,
// the dialog's workspace gets GetFrameIntoGW as its frame fetch.
using ConfigureDialogProc = void (*)(pluginDataRec* theData, GWorldPtr theGW, _PluginParams* params,
                                     SInt32 firstFrameIndex, SInt32 numberOfFrames);
void SetConfigureDialog(ConfigureDialogProc proc);

// Fetches frame frameIndex of the clip (relative to the block's startFrame) at theGW's
// size into theGW; -1 for a negative index, else the host's result (0 to 255). The
// delivered frame is disposed of after the copy when disposeAfterUse is above 0.
SInt16 GetFrameIntoGW(GWorldPtr theGW, _PluginParams* params, SInt32 frameIndex,
                      int disposeAfterUse);
// The effect on one host frame: drawn into the host's frame at frameRect, directly where it
// can, else through a GWorld of the source's size copied (scaled) into it.
HYPluginResult ApplyEffect(GWorldPtr sourceFrame, _PluginParams* params);
// The engine's frame call (DoEffect) with the clip's record, fades and sliders; the current
// port is targetFrame during the call and restored after it.
void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, _PluginParams* params);
