// DataHandling.h - the configuration's defaults and the region being edited.
//
// Owns: writing the defaults into a configuration record, the frame format of a record
// (looked up in cFrameFormats, the one table the glue, the dialog and tessera-config use),
// and access to the region that the dialog edits. Promises: with one region (Tessera) the
// current region is always `startRel`; with two (Tessera Motion) it is `startRel` while the
// workspace's activeRel is 1 and `endRel` otherwise. A reset puts both regions to the whole frame.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"

void ResetConfig(pluginDataRec* theConfig, Boolean fullInit);
SInt16 GetMediaFormat(const pluginDataRec* theData);
// The entry of cFrameFormats for mediaType; the first (NTSC) for a value it does not name.
const frameFormatRec& GetFrameFormat(SInt16 mediaType);

// Through the workspace's theConfig (gConfigWorkSpace).
relRect GetCurrentRel();
void PutCurrentRel(const relRect& theRel);
