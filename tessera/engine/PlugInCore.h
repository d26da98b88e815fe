// PlugInCore.h - the engine's entries for the host glue: the configuration record's
// lifecycle and the per-frame effect.
//
// Owns: the size of the configuration record, the per-clip copies and their release, the
// engine's start hook and the per-frame entry DoEffect (the master record's start-up, which
// reads the preferences file, is InitMyPlugIn in prefsloader.h). Promises: a per-clip copy is
// byte-identical to its source except that it never refers to the user's picture and owns its own
// deep copy of `theRendered`; releasing a copy leaves the source's images valid. A nil record where
// one is required ends the process through Assert; blocks of different sizes through Terminate.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"
#include "QuickDraw.h"

struct _PluginParams;

void InitEngine();
void pGetConfigSize(UInt32& theSize);
void pCopyConfig(const pluginDataRec* source, pluginDataRec* dest);
void pUncopyConfig(pluginDataRec* theData);

// The per-frame entry: theTarget becomes theSource with the frame's region in mosaic. Only
// myConfig, the two frames, currentFrameIndex and totalFrames shape it. The rest is the
// glue's frame call passed on whole, so that the entry keeps one shape for every effect of
// this family: params (the host's block), fadeInFrames and fadeOutFrames (the glue blends
// the fades itself, after this call), s1 to s3 (the host's sliders, which this effect has
// no use for) and opacity (an answer for effects that set their own; never written here).
void DoEffect(pluginDataRec* myConfig, _PluginParams* params, GWorldPtr theSource,
              GWorldPtr theTarget, SInt32 currentFrameIndex, SInt32 fadeInFrames,
              SInt32 fadeOutFrames, SInt32 totalFrames, float s1, float s2, float s3,
              SInt16& opacity);
