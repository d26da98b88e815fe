// EffectIdentity.cpp - which effect an executable is.
//
// Compiled once per effect (CMake targets tessera_identity, and tessera_motion_identity with
// TESSERA_EFFECT_MOTION) and linked into every executable exactly once, so that the identity
// constants the other modules read are fixed when that executable is built. They are
// initialised from constant records, so they hold before any of the executable's code runs.
#include "PluginDefines.h"

namespace {
#if TESSERA_EFFECT_MOTION
constexpr const effectIdentityRec& kThisEffect = cTesseraMotionIdentity;
#else
constexpr const effectIdentityRec& kThisEffect = cTesseraIdentity;
#endif
} // namespace

const char* const cMyClearName = kThisEffect.clearName;
const char* const cMyBundleID = kThisEffect.bundleID;
const char* const cPrefsFileName = kThisEffect.prefsFileName;
const int cUsedNumberOfRects = kThisEffect.usedNumberOfRects;
