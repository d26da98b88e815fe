// Compiled with -m32 -fsyntax-only, and into the variant tests of the 32-bit builds (x86
// and PowerPC): the plug-in's own records keep the sizes the host allocates for them in the
// 32-bit layout (the configuration record 144 bytes, the
// per-clip record 36), with their fields at the historical offsets.
#include "PluginDefines.h"
#include "iMovieGlue.h"

#include <cstddef>

#if __SIZEOF_POINTER__ != 4
#error "this check is meant for the 32-bit compiler"
#endif

static_assert(sizeof(pluginDataRec) == 144);
static_assert(offsetof(pluginDataRec, startRel) == 0);
static_assert(offsetof(pluginDataRec, endRel) == 32);
static_assert(offsetof(pluginDataRec, sliders) == 64);
static_assert(offsetof(pluginDataRec, colors) == 76);
static_assert(offsetof(pluginDataRec, frameStartColor) == 112);
static_assert(offsetof(pluginDataRec, frameEndColor) == 118);
static_assert(offsetof(pluginDataRec, mediaType) == 124);
static_assert(offsetof(pluginDataRec, sync) == 126);
static_assert(offsetof(pluginDataRec, clipActive) == 128);
static_assert(offsetof(pluginDataRec, theOriginalImage) == 132);
static_assert(offsetof(pluginDataRec, theRendered) == 136);
static_assert(offsetof(pluginDataRec, keepProps) == 140);
static_assert(offsetof(pluginDataRec, blendMode) == 142);

static_assert(sizeof(EffectData) == 36);
static_assert(offsetof(EffectData, sliderValues) == 8);
static_assert(offsetof(EffectData, fadeInFrames) == 20);
static_assert(offsetof(EffectData, effectGWorld) == 28);
static_assert(offsetof(EffectData, engineData) == 32);
