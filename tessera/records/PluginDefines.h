// PluginDefines.h - the effect's records and its build-time identity.
//
// Owns: the configuration record `pluginDataRec`, the dialog workspace `pluginWorkSpace`,
// the relative rectangle and point, the pixel record, and the constants fixed when the
// effect is built (names, bundle identifier, which sliders and colour boxes it offers,
// the number of regions). Promises: the records keep their field order; in a 32-bit build
// `pluginDataRec` is the 144-byte record the host allocates (checked below). Nothing here
// has behaviour or state. Every module of the plug-in may include this header and
// Globals.h; they include nothing of the plug-in's own.
#pragma once

#include "CoreGraphics.h"
#include "MacTypes.h"
#include "QuickDraw.h"

// ---- identity and features -------------------------------------------------------------

// The sources build two effects that differ only in their identity: Tessera, whose region
// stays put for the whole clip, and Tessera Motion, whose region moves from startRel on a
// clip's first frame to endRel on its last. Each has its own bundle identifier, names and
// preferences file, so the two never read or overwrite each other's settings.
struct effectIdentityRec {
    const char* clearName;     // the effect's name as users see it
    const char* bundleID;      // the bundle through which its resources are found
    const char* prefsFileName; // its saved configuration, in the Preferences folder
    int usedNumberOfRects;     // 1: startRel only; 2: startRel moving to endRel
};
constexpr effectIdentityRec cTesseraIdentity{"Tessera", "com.kelmar.vidkit.tessera", "vemto-Prefs",
                                             1};
constexpr effectIdentityRec cTesseraMotionIdentity{
    "Tessera Motion", "com.kelmar.vidkit.tesseramotion", "vemto-Motion-Prefs", 2};

// This executable's effect. Every executable links exactly one EffectIdentity object
// (CMake targets tessera_identity or tessera_motion_identity), which defines these from one
// of the records above: the values are fixed when the executable is built.
extern const char* const cMyClearName; // the effect's name as users see it
extern const char* const cMyBundleID;
extern const char* const cPrefsFileName; // the preferences file's name
extern const int cUsedNumberOfRects;     // number of regions the effect uses

constexpr const char* cMyPluginName = "tessera"; // nib file holding the dialog's windows
constexpr const char* cProductCode = "vemto";    // prefix of the preferences file names

// The version text of the about window. Every little-endian build is the x86 build (it
// writes the x86 record); a big-endian build is the PowerPC one.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* cPlugVersion = "3.0.0 (PPC Universal)";
#else
constexpr const char* cPlugVersion = "3.0.0 (i386 Universal)";
#endif

constexpr int cUsesColor1 = 0;
constexpr int cUsesColor2 = 0;
constexpr int cUsesColor3 = 0;
constexpr int cUsesColor4 = 0;
constexpr int cUsesColor5 = 0;
constexpr int cUsesColor6 = 0;

constexpr int cUsesSlider1 = 1;
constexpr int cUsesSlider2 = 1;
constexpr int cUsesSlider3 = 1;
constexpr int cUsesSlider4 = 0;
constexpr int cUsesSlider5 = 0;
constexpr int cUsesSlider6 = 0;

constexpr int cHandleSize = 6;           // half size of the region's grab handles, pixels
constexpr int cUseDisposeGWinSlider = 1; // frames fetched while stepping are disposed of

constexpr int cNumSliders = 6;
constexpr int cNumColors = 6;

// ---- frame formats ----------------------------------------------------------------------

// The formats a record's mediaType names: the dialog's window for each, the size of the
// frame that the host glue asks the host for, to preview in that window, and the format's
// name as the command line spells it (shown as is, taken as is or in lower case). Any other
// value is shown as the first (GetFrameFormat).
struct frameFormatRec {
    SInt16 mediaType;
    const char* windowName; // in the nib cMyPluginName
    SInt16 previewWidth;
    SInt16 previewHeight;
    const char* name;
};
constexpr frameFormatRec cFrameFormats[] = {
    {1, "configNTSC", 720, 480, "NTSC"},
    {2, "configPAL", 720, 576, "PAL"},
    {3, "configHD", 960, 540, "HD"},
};

// ---- geometry relative to a frame ------------------------------------------------------

// 0 is the frame's left (top) edge, 1 its right (bottom) edge. Values outside 0..1 are
// legal: a region may stick out of the frame.
struct relRect {
    double left;
    double right;
    double top;
    double bottom;
};

struct relPoint {
    double horiz;
    double vert;
};

// ---- one pixel of a 32-bit buffer, in memory order -------------------------------------

struct pixRec {
    UInt8 alpha;
    UInt8 red;
    UInt8 green;
    UInt8 blue;
};
using pixRecPtr = pixRec*;
static_assert(sizeof(pixRec) == 4);

// ---- the configuration ------------------------------------------------------------------

// Everything the user can set about the effect. Slider n of the user's view is
// sliders[n - 1]: sliders[0] block width and sliders[1] block height, both in thousandths
// of the frame; sliders[2] the opacity in percent of the source laid back over the mosaic.
struct pluginDataRec {
    relRect startRel;
    relRect endRel; // where a two-region effect's region ends; saved either way
    SInt16 sliders[cNumSliders];
    RGBColor colors[cNumColors];
    RGBColor frameStartColor; // outline and handles of the region in the preview
    RGBColor frameEndColor;
    SInt16 mediaType; // 1 NTSC 720x480, 2 PAL 720x576, 3 HD 960x540
    Boolean sync;
    Boolean outside;
    Boolean clipActive;
    CGImageRef theOriginalImage; // the picture chosen in the dialog; never in a clip copy
    CGImageRef theRendered;      // every copy owns its own deep copy of it
    Boolean keepProps;
    SInt16 blendMode;
};
using pluginDataPtr = pluginDataRec*;

#if __SIZEOF_POINTER__ == 4 // the 32-bit builds, x86 and PowerPC
static_assert(sizeof(pluginDataRec) == 144, "the host allocates a 144-byte record");
#endif

// ---- the dialog's workspace -------------------------------------------------------------

struct OpaqueControlRef;
struct OpaqueWindowPtr;
using ControlRef = OpaqueControlRef*;
using WindowRef = OpaqueWindowPtr*;

struct _PluginParams;

// Fetches frame frameIndex of the clip (relative to the clip's first frame) at theGW's size
// into theGW: -1 for an index before the clip, else the host's result. The host glue that
// opens the dialog hands over its own (GetFrameIntoGW), so the dialog needs no host code.
using FrameFetchProc = SInt16 (*)(GWorldPtr theGW, _PluginParams* params, SInt32 frameIndex,
                                  int disposeAfterUse);

struct pluginWorkSpace {
    pluginDataRec* theConfig;
    _PluginParams* iMovieParams;
    GWorldPtr sourceClip;
    GWorldPtr theFXClip;
    SInt32 currFrameIndex;
    SInt32 minFrameIndex;
    SInt32 maxFrameIndex;
    SInt16 activeRel; // 1 startRel, 2 endRel
    ControlRef theFrameCtrl;
    ControlRef sliders[cNumSliders];
    ControlRef clipSlider;
    ControlRef colors[cNumColors];
    WindowRef theWindow;
    FrameFetchProc getFrameIntoGW; // nil: the clip slider keeps the frame shown
};
