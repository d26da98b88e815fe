// controlIDs.h - the signatures of the dialog's controls and the commands of its buttons.
//
// Owns: the four-character codes that the nib files "tessera" and "about" give their
// controls (a control ID is one of these signatures and a number) and the commands their
// buttons send. Promises: every module of the dialog names a control or a command through
// these constants alone, so a code is written once, here, as the nibs spell it.
#pragma once

#include "MacTypes.h"

// ---- control signatures -------------------------------------------------------------------

constexpr OSType cSigPreview = FOUR_CHAR_CODE("Clip");     // the preview, the region on it
constexpr OSType cSigSlider = FOUR_CHAR_CODE("Sldr");      // value sliders 1 to 6
constexpr OSType cSigLegend = FOUR_CHAR_CODE("Lgnd");      // a value slider's "n%"
constexpr OSType cSigLabel = FOUR_CHAR_CODE("Labl");       // a value slider's caption
constexpr OSType cSigClipSlider = FOUR_CHAR_CODE("ClpS");  // the frame of the clip shown
constexpr OSType cSigClipLegend = FOUR_CHAR_CODE("ClpM");  // "<frame>/<last frame>"
constexpr OSType cSigColor = FOUR_CHAR_CODE("Colr");       // colour boxes 1 to 6
constexpr OSType cSigColorLegend = FOUR_CHAR_CODE("CLgd"); // a colour box's caption
constexpr OSType cSigMedia = FOUR_CHAR_CODE("Medi");       // the frame format
constexpr OSType cSigRegion = FOUR_CHAR_CODE("Rect");      // 1 Start, 2 End: region edited
constexpr OSType cSigRegionBox = FOUR_CHAR_CODE("RChs");   // "Rect" 1, 2 and their caption
constexpr OSType cSigKeepProps = FOUR_CHAR_CODE("Prop");   // keep the picture's proportions
constexpr OSType cSigPicture = FOUR_CHAR_CODE("Pict");     // the picture box
constexpr OSType cSigBlend = FOUR_CHAR_CODE("Blnd");       // the blend mode
constexpr OSType cSigPlugName = FOUR_CHAR_CODE("Plug");    // about window: the effect's name
constexpr OSType cSigVersion = FOUR_CHAR_CODE("Vers");     // about window: the version line

// ---- commands -----------------------------------------------------------------------------

constexpr UInt32 cCmdOK = FOUR_CHAR_CODE("ok  ");
constexpr UInt32 cCmdCancel = FOUR_CHAR_CODE("not!");
constexpr UInt32 cCmdAbout = FOUR_CHAR_CODE("Info");
constexpr UInt32 cCmdColor1 = FOUR_CHAR_CODE("Col1"); // to "Col6": colour box n changed
constexpr UInt32 cCmdAdvance = FOUR_CHAR_CODE("Adva");
constexpr UInt32 cCmdReverse = FOUR_CHAR_CODE("Revi");
constexpr UInt32 cCmdReset = FOUR_CHAR_CODE("Rset");
constexpr UInt32 cCmdMedia = FOUR_CHAR_CODE("Medi");
constexpr UInt32 cCmdSelectAll = FOUR_CHAR_CODE("Sall");
constexpr UInt32 cCmdHelp = FOUR_CHAR_CODE("Help");
constexpr UInt32 cCmdRegion = FOUR_CHAR_CODE("Rect");
constexpr UInt32 cCmdKeepProps = FOUR_CHAR_CODE("Prop");
constexpr UInt32 cCmdPicture = FOUR_CHAR_CODE("Pict");
constexpr UInt32 cCmdBlend = FOUR_CHAR_CODE("Blnd");
