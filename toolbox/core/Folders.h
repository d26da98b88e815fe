// Folders.h - the Folder Manager: where the system's special folders are on Linux.
//
// Promises: the Preferences folder (kPreferencesFolderType on kOnSystemDisk) is
// $XDG_CONFIG_HOME when it is set and absolute, else $HOME/.config (the password database's
// home directory when HOME is unset). The original system always has that folder, so it is
// created with mode 0700 (with any missing parents) when missing, whatever createFolder
// says. The temporary folder ('temp') is $TMPDIR or /tmp. Other folder types give fnfErr.
// For hosts, toolbox::folders::usePreferencesFolder points this process's Preferences folder
// elsewhere.
#pragma once

#include "MacTypes.h"

#include <string>

enum : SInt16 {
    kOnSystemDisk = -32768,
    kOnAppropriateDisk = -32767,
    kUserDomain = -32763,
};

enum : OSType {
    kPreferencesFolderType = FOUR_CHAR_CODE("pref"),
    kTemporaryFolderType = FOUR_CHAR_CODE("temp"),
};

enum : Boolean {
    kDontCreateFolder = 0,
    kCreateFolder = 1,
};

// Finds a special folder: its volume and directory ID (see Files.h). noErr, fnfErr
// (unknown folder type, or the folder could not be made), nsvErr (unknown volume),
// paramErr (nil output).
OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                 SInt32* foundDirID);

namespace toolbox::folders {
// Makes DIR (taken from the working folder when relative) this process's Preferences folder,
// by setting $XDG_CONFIG_HOME to it; FindFolder makes it when it is missing. False, with
// nothing changed, when DIR is empty or names something that is not a folder.
bool usePreferencesFolder(const std::string& dir);
} // namespace toolbox::folders
