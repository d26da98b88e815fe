// DataHandling.h - the configuration's defaults and the region being edited.
//
// Owns: writing the defaults into a configuration record, the start-up initialisation of
// a record (defaults, then the last saved configuration, then a save), the frame format
// of a record, and access to the region that the dialog edits. Promises: with one region
// in this effect the current region is always `startRel`.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"

void ResetConfig(pluginDataRec* theConfig, Boolean fullInit);
void InitPluginData(pluginDataRec* theConfig);
SInt16 GetMediaFormat(const pluginDataRec* theData);

// Through the workspace's theConfig (gConfigWorkSpace).
relRect GetCurrentRel();
void PutCurrentRel(const relRect& theRel);
