// Globals.h - the plug-in's process-wide state.
//
// Owns: the master configuration record pointer and the engine's start flag (set by the
// host glue on the first valid call and kept for as long as the host keeps the plug-in
// loaded), the position of the most recently rendered clip, and the dialog's workspace.
// Promises: all of it is zero at load and only ever touched on the host's thread.
#pragma once

#include "PluginDefines.h"

extern pluginDataRec* gEngineData; // the master record; allocated once, never freed
extern Boolean gEngineInited;      // true once InitEngine has run
extern SInt32 gMostRecentStartFrame;
extern SInt32 gMostRecentFrameCount;

extern pluginDataRec* gTheConfig; // the record being configured in the dialog
extern pluginWorkSpace gConfigWorkSpace;
