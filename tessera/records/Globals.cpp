// Globals.cpp - storage for the plug-in's process-wide state (see Globals.h).
#include "Globals.h"

pluginDataRec* gEngineData = nullptr;
Boolean gEngineInited = false;
SInt32 gMostRecentStartFrame = 0;
SInt32 gMostRecentFrameCount = 0;

pluginDataRec* gTheConfig = nullptr;
pluginWorkSpace gConfigWorkSpace = {};
