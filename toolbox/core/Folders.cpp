// Folders.cpp - the special folders of the Folder Manager on Linux (see Folders.h).
//
// The Preferences folder follows the XDG base-directory rules; as the original system
// guarantees that folder, it is made (mode 0700) when missing. A host may point it elsewhere
// for its own process (usePreferencesFolder).
#include "Folders.h"

#include "Files.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    struct passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir && pw->pw_dir[0] == '/' ? std::string(pw->pw_dir) : std::string();
}

// Makes the folder and any missing parents with mode 0700; true if it is a folder now.
bool makeFolders(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash)))
        return false;
    if (::mkdir(path.c_str(), 0700) == 0)
        return true;
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

OSErr FindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, SInt16* foundVRefNum,
                 SInt32* foundDirID) {
    (void)createFolder; // the folders below always exist on the original system
    if (!foundVRefNum || !foundDirID)
        return paramErr;
    if (vRefNum != kOnSystemDisk && vRefNum != kOnAppropriateDisk && vRefNum != kUserDomain &&
        vRefNum != kToolboxVolumeRefNum && vRefNum != 0)
        return nsvErr;
    std::string path;
    if (folderType == kPreferencesFolderType) {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        if (xdg && xdg[0] == '/') {
            path = xdg;
        } else {
            std::string home = homeDirectory();
            if (home.empty())
                return fnfErr;
            path = home + "/.config";
        }
    } else if (folderType == kTemporaryFolderType) {
        const char* tmp = std::getenv("TMPDIR");
        path = tmp && tmp[0] == '/' ? tmp : "/tmp";
    } else {
        return fnfErr;
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (!makeFolders(path))
        return fnfErr;
    SInt32 id = toolbox::files::directoryID(path);
    if (id == 0)
        return fnfErr;
    *foundVRefNum = kToolboxVolumeRefNum;
    *foundDirID = id;
    return noErr;
}

bool toolbox::folders::usePreferencesFolder(const std::string& dir) {
    if (dir.empty()) {
        return false;
    }
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
    if (ec ||
        (std::filesystem::exists(absolute, ec) && !std::filesystem::is_directory(absolute, ec))) {
        return false;
    }
    return ::setenv("XDG_CONFIG_HOME", absolute.c_str(), 1) == 0;
}
