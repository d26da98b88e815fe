// Compiled with -m32, and into the variant tests of the 32-bit builds (x86 and PowerPC): the
// host records must have the historical sizes and offsets.
// (Compiled without -m32 it must fail, which proves the assertions are live.)
#include "HYPlugin.h"

#include <cstddef>

static_assert(sizeof(_PluginParams) == 1940);
static_assert(sizeof(HYPluginGetInfo) == 48);
static_assert(sizeof(HY2PluginGetInfo) == 1328);
static_assert(sizeof(HYPluginFilterSliderInfo) == 388);
static_assert(sizeof(HY3PluginGetInfo) == 128);
static_assert(sizeof(HYPluginFilterInfo) == 20);
static_assert(sizeof(HYPluginFileOpenInfo) == 80);
static_assert(sizeof(HYProcs) == 30 * 4);

static_assert(offsetof(_PluginParams, interfaceVersion) == 0);
static_assert(offsetof(_PluginParams, instance) == 4);
static_assert(offsetof(_PluginParams, selector) == 8);
static_assert(offsetof(_PluginParams, procs) == 12);
static_assert(offsetof(_PluginParams, getInfo) == 16);
static_assert(offsetof(_PluginParams, startFrame) == 64);
static_assert(offsetof(_PluginParams, renderFrame) == 68);
static_assert(offsetof(_PluginParams, frameCount) == 72);
static_assert(offsetof(_PluginParams, proxyOnly) == 76);
static_assert(offsetof(_PluginParams, frameRect) == 78);
static_assert(offsetof(_PluginParams, frame) == 88);
static_assert(offsetof(_PluginParams, clientData) == 92);
static_assert(offsetof(_PluginParams, getInfo2) == 96);
static_assert(offsetof(_PluginParams, getInfo3) == 1424);
static_assert(offsetof(_PluginParams, getInfo4) == 1552);

static_assert(offsetof(HYPluginGetInfo, pluginType) == 0);
static_assert(offsetof(HYPluginGetInfo, titleType) == 1);
static_assert(offsetof(HYPluginGetInfo, pluginFlags) == 4);
static_assert(offsetof(HYPluginGetInfo, framesToBeRendered) == 8);
static_assert(offsetof(HYPluginGetInfo, takeFromClipBefore) == 12);
static_assert(offsetof(HYPluginGetInfo, takeFromClipAfter) == 16);
static_assert(offsetof(HYPluginGetInfo, minSpeedFrames) == 20);
static_assert(offsetof(HYPluginGetInfo, maxSpeedFrames) == 24);
static_assert(offsetof(HYPluginGetInfo, mustTakeFromSingleClips) == 28);
static_assert(offsetof(HYPluginGetInfo, bestThumbOffset) == 32);
static_assert(offsetof(HYPluginGetInfo, defaultColor) == 36);
static_assert(offsetof(HYPluginGetInfo, defaultDirection) == 42);
static_assert(offsetof(HYPluginGetInfo, justify) == 43);
static_assert(offsetof(HYPluginGetInfo, defaultFontNum) == 44);
static_assert(offsetof(HYPluginGetInfo, defaultFontSize) == 46);

static_assert(offsetof(HY2PluginGetInfo, group) == 0);
static_assert(offsetof(HY2PluginGetInfo, filterSliders) == 128);
static_assert(offsetof(HY2PluginGetInfo, defaultFadeInFrames) == 1292);
static_assert(offsetof(HY2PluginGetInfo, defaultFadeOutFrames) == 1296);
static_assert(offsetof(HY2PluginGetInfo, minHangFrames) == 1300);
static_assert(offsetof(HY2PluginGetInfo, maxHangFrames) == 1304);
static_assert(offsetof(HY2PluginGetInfo, defaultFontSizeScale) == 1308);
static_assert(offsetof(HY2PluginGetInfo, selectedFrames) == 1312);
static_assert(offsetof(HY2PluginGetInfo, speedFrames) == 1316);
static_assert(offsetof(HY2PluginGetInfo, hangFrames) == 1320);
static_assert(offsetof(HY2PluginGetInfo, baseMemoryNeeded) == 1324);

static_assert(offsetof(HYPluginFilterSliderInfo, label) == 0);
static_assert(offsetof(HYPluginFilterSliderInfo, minLabel) == 128);
static_assert(offsetof(HYPluginFilterSliderInfo, maxLabel) == 256);
static_assert(offsetof(HYPluginFilterSliderInfo, defaultValue) == 384);

static_assert(offsetof(HY3PluginGetInfo, defaultX) == 0);
static_assert(offsetof(HY3PluginGetInfo, defaultY) == 4);
static_assert(offsetof(HY3PluginGetInfo, userX) == 8);
static_assert(offsetof(HY3PluginGetInfo, userY) == 12);
static_assert(offsetof(HY3PluginGetInfo, fileInfo) == 16);
static_assert(offsetof(HY3PluginGetInfo, buttonTitle) == 96);

static_assert(offsetof(HYPluginFilterInfo, sliderValues) == 0);
static_assert(offsetof(HYPluginFilterInfo, fadeInFrames) == 12);
static_assert(offsetof(HYPluginFilterInfo, fadeOutFrames) == 16);
