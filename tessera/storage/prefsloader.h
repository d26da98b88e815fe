// prefsloader.h - the saved configuration in the effect's preferences file (cPrefsFileName:
// "vemto-Prefs" for Tessera, "vemto-Motion-Prefs" for Tessera Motion).
//
// Owns: the flat record `configSaveRec` (resource 'Pref' 1 "Config Settings" of a resource
// file of type 'Pref' and creator 'klmr' in the user's Preferences folder), its conversion
// to and from the live configuration, the file routines, and the start-up of a record from
// the file (defaults, then the last saved configuration, then a save). Promises:
// - The record is written field by field at fixed offsets in the processor's byte order:
//   396 bytes in a little-endian build, 394 in a big-endian one. A reader accepts only its
//   own build's size and version 3, and never reads past the stored data: a record shorter
//   than its size word says is rejected.
// - SaveConfig and ReadConfig never create the file or the folder; EnsurePrefsFile creates
//   the file when it is missing. Failures return false (or nothing) and show nothing.
// - The file is opened and closed within each call.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"

#include <bit>
#include <string>

constexpr UInt32 cConfigSaveVersion = 3;
constexpr OSType cPrefsType = FOUR_CHAR_CODE("Pref");
constexpr OSType cPrefsCreator = FOUR_CHAR_CODE("klmr");
constexpr SInt16 cPrefsResID = 1;
constexpr const char* cPrefsResName = "Config Settings";
constexpr const char* cConfigMiscString = "Config save for kelmar iMovie plug-in";

// The record size of this build: little-endian builds pad the record to a multiple of 4.
constexpr UInt32 cConfigSaveSize = std::endian::native == std::endian::little ? 396 : 394;

// Offsets of the fields of configSaveRec.
namespace configSaveRec {
constexpr size_t sizeInBytes = 0;
constexpr size_t version = 4;
constexpr size_t startRel = 8; // left, right, top, bottom: 8 bytes each
constexpr size_t endRel = 40;
constexpr size_t colors = 72;   // 6 x (red, green, blue)
constexpr size_t sliders = 108; // 6 x signed 16-bit
constexpr size_t frameStartColor = 120;
constexpr size_t frameEndColor = 126;
constexpr size_t mediaType = 132;
constexpr size_t keepProps = 134;
constexpr size_t blendMode = 136;
constexpr size_t miscString = 138; // Str255
} // namespace configSaveRec

// theSaveConfig must hold at least cConfigSaveSize bytes.
Boolean Config2Save(const pluginDataRec* theConfig, Handle theSaveConfig);
Boolean Save2Config(pluginDataRec* theConfig, Handle theSaveConfig);

// The file routines work on this effect's preferences file; a tool that serves both effects
// (tessera-config) names the other's file (an effectIdentityRec's prefsFileName).
Boolean SaveConfig(const pluginDataRec* theConfig, const char* fileName = cPrefsFileName);
Boolean ReadConfig(pluginDataRec* theConfig, const char* fileName = cPrefsFileName);
void EnsurePrefsFile(const char* fileName = cPrefsFileName);
// Where that file is (or would be), whatever stands there; false when the Preferences folder
// cannot be found.
bool GetPrefsFilePath(std::string& path, const char* fileName = cPrefsFileName);

// The master record's start-up: the file is made if missing, then InitPluginData.
void InitMyPlugIn(pluginDataRec* theData);
// The engine's defaults, then the last saved configuration over them, then a save.
void InitPluginData(pluginDataRec* theConfig);
