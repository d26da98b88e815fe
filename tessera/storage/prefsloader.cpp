// prefsloader.cpp - the saved configuration (see prefsloader.h).
#include "prefsloader.h"

#include "DataHandling.h"
#include "Files.h"
#include "Folders.h"
#include "MacMemory.h"
#include "Resources.h"
#include "TextUtils.h"
#include "commonprocs.h"

#include <cstring>
#include <string>

namespace {

template <typename T> void Put(char* record, size_t offset, T value) {
    std::memcpy(record + offset, &value, sizeof value);
}

template <typename T> T Take(const char* record, size_t offset) {
    T value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

void PutRel(char* record, size_t offset, const relRect& r) {
    Put(record, offset, r.left);
    Put(record, offset + 8, r.right);
    Put(record, offset + 16, r.top);
    Put(record, offset + 24, r.bottom);
}

relRect TakeRel(const char* record, size_t offset) {
    relRect r;
    r.left = Take<double>(record, offset);
    r.right = Take<double>(record, offset + 8);
    r.top = Take<double>(record, offset + 16);
    r.bottom = Take<double>(record, offset + 24);
    return r;
}

void PutColor(char* record, size_t offset, const RGBColor& c) {
    Put(record, offset, c.red);
    Put(record, offset + 2, c.green);
    Put(record, offset + 4, c.blue);
}

RGBColor TakeColor(const char* record, size_t offset) {
    RGBColor c;
    c.red = Take<UInt16>(record, offset);
    c.green = Take<UInt16>(record, offset + 2);
    c.blue = Take<UInt16>(record, offset + 4);
    return c;
}

// The preferences file's FSSpec and, where it can be named, its path (else empty), whatever
// is at that name; false when the Preferences folder cannot be found. specErr receives
// FSMakeFSSpec's result (noErr when the file exists, fnfErr when not).
bool PrefsFileSpec(const char* fileName, FSSpec& spec, OSErr& specErr, std::string& path) {
    if (fileName == nullptr || fileName[0] == '\0') {
        return false;
    }
    SInt16 vRefNum = 0;
    SInt32 dirID = 0;
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID) !=
        noErr) {
        return false;
    }
    Str255 name;
    CopyCStringToPascal(fileName, name);
    specErr = FSMakeFSSpec(vRefNum, dirID, name, &spec);
    path.clear();
    if (specErr != dirNFErr && toolbox::files::pathFromSpec(spec, path) != noErr) {
        path.clear();
    }
    return true;
}

// The preferences file's FSSpec, as PrefsFileSpec, unless a symbolic link stands at the
// file's name: it points somewhere this file has no business in, so it is neither read
// through, nor written through, nor replaced.
bool LocatePrefsFile(const char* fileName, FSSpec& spec, OSErr& specErr) {
    std::string path;
    if (!PrefsFileSpec(fileName, spec, specErr, path)) {
        return false;
    }
    return path.empty() || !toolbox::files::isSymbolicLink(path);
}

// Puts back the resource file that was current before the preferences file was opened,
// so that the host's and the bundle's resources are found as before.
class KeepCurrentResFile {
  public:
    KeepCurrentResFile() : saved_(CurResFile()) {}
    ~KeepCurrentResFile() { UseResFile(saved_); }
    KeepCurrentResFile(const KeepCurrentResFile&) = delete;
    KeepCurrentResFile& operator=(const KeepCurrentResFile&) = delete;

  private:
    ResFileRefNum saved_;
};

// The existing preferences file, open and current for the life of the object; then closed,
// and the resource file that was current before is current again, whichever way the
// caller leaves. isOpen() is false when the file is missing or cannot be used.
class OpenPrefsFile {
  public:
    explicit OpenPrefsFile(const char* fileName) {
        FSSpec spec;
        OSErr specErr = noErr;
        if (!LocatePrefsFile(fileName, spec, specErr) || specErr != noErr) {
            return;
        }
        refNum_ = FSpOpenResFile(&spec, fsCurPerm);
        if (refNum_ == kResFileNotOpened) {
            return;
        }
        UseResFile(refNum_);
        usable_ = ResError() == noErr;
    }
    ~OpenPrefsFile() {
        if (refNum_ != kResFileNotOpened) {
            CloseResFile(refNum_);
        }
    }
    OpenPrefsFile(const OpenPrefsFile&) = delete;
    OpenPrefsFile& operator=(const OpenPrefsFile&) = delete;
    bool isOpen() const { return usable_; }
    ResFileRefNum refNum() const { return refNum_; }

  private:
    KeepCurrentResFile keepCurrent_; // made first, so it goes after the file is closed
    ResFileRefNum refNum_ = kResFileNotOpened;
    bool usable_ = false;
};

} // namespace

Boolean Config2Save(const pluginDataRec* theConfig, Handle theSaveConfig) {
    if (theConfig == nullptr || theSaveConfig == nullptr || *theSaveConfig == nullptr) {
        return false;
    }
    if (GetHandleSize(theSaveConfig) < Size(cConfigSaveSize)) {
        return false;
    }
    char* rec = *theSaveConfig;
    std::memset(rec, 0, cConfigSaveSize);
    Put<UInt32>(rec, configSaveRec::sizeInBytes, cConfigSaveSize);
    Put<UInt32>(rec, configSaveRec::version, cConfigSaveVersion);
    PutRel(rec, configSaveRec::startRel, theConfig->startRel);
    PutRel(rec, configSaveRec::endRel, theConfig->endRel);
    for (int i = 0; i < cNumColors; ++i) {
        PutColor(rec, configSaveRec::colors + 6 * i, theConfig->colors[i]);
    }
    for (int i = 0; i < cNumSliders; ++i) {
        Put<SInt16>(rec, configSaveRec::sliders + 2 * i, theConfig->sliders[i]);
    }
    PutColor(rec, configSaveRec::frameStartColor, theConfig->frameStartColor);
    PutColor(rec, configSaveRec::frameEndColor, theConfig->frameEndColor);
    Put<SInt16>(rec, configSaveRec::mediaType, theConfig->mediaType);
    Put<UInt8>(rec, configSaveRec::keepProps, theConfig->keepProps ? 1 : 0);
    Put<SInt16>(rec, configSaveRec::blendMode, theConfig->blendMode);
    const size_t textLength = std::strlen(cConfigMiscString);
    Put<UInt8>(rec, configSaveRec::miscString, UInt8(textLength));
    std::memcpy(rec + configSaveRec::miscString + 1, cConfigMiscString, textLength);
    return true;
}

Boolean Save2Config(pluginDataRec* theConfig, Handle theSaveConfig) {
    if (theConfig == nullptr || theSaveConfig == nullptr || *theSaveConfig == nullptr) {
        return false;
    }
    // The size word is only trusted as far as the data really goes.
    const Size available = GetHandleSize(theSaveConfig);
    if (available < Size(cConfigSaveSize)) {
        return false;
    }
    const char* rec = *theSaveConfig;
    if (Take<UInt32>(rec, configSaveRec::sizeInBytes) != cConfigSaveSize ||
        Take<UInt32>(rec, configSaveRec::version) != cConfigSaveVersion) {
        return false;
    }
    theConfig->startRel = TakeRel(rec, configSaveRec::startRel);
    theConfig->endRel = TakeRel(rec, configSaveRec::endRel);
    for (int i = 0; i < cNumColors; ++i) {
        theConfig->colors[i] = TakeColor(rec, configSaveRec::colors + 6 * i);
    }
    for (int i = 0; i < cNumSliders; ++i) {
        theConfig->sliders[i] = Take<SInt16>(rec, configSaveRec::sliders + 2 * i);
    }
    theConfig->frameStartColor = TakeColor(rec, configSaveRec::frameStartColor);
    theConfig->frameEndColor = TakeColor(rec, configSaveRec::frameEndColor);
    theConfig->mediaType = Take<SInt16>(rec, configSaveRec::mediaType);
    theConfig->keepProps = Take<UInt8>(rec, configSaveRec::keepProps) != 0;
    theConfig->blendMode = Take<SInt16>(rec, configSaveRec::blendMode);
    return true;
}

Boolean SaveConfig(const pluginDataRec* theConfig, const char* fileName) {
    if (theConfig == nullptr) {
        return false;
    }
    const OpenPrefsFile file(fileName);
    if (!file.isOpen()) {
        return false;
    }
    Handle old = Get1Resource(cPrefsType, cPrefsResID);
    if (old != nullptr) {
        RemoveResource(old);
        if (ResError() != noErr) {
            // Still the file's handle (a read-only file): it must not be freed here, and
            // the record cannot be replaced.
            return false;
        }
        // Not written out on its own: a file without the record on the disk, even for a
        // moment, is a lost configuration if the host dies then. The removal and the new
        // record reach the disk together in the one replacement below.
        DisposeHandle(old);
    }
    Handle record = NewHandleClear(Size(cConfigSaveSize));
    if (record == nullptr || !Config2Save(theConfig, record)) {
        DisposeHandle(record);
        return false;
    }
    Str255 name;
    CopyCStringToPascal(cPrefsResName, name);
    AddResource(record, cPrefsType, cPrefsResID, name);
    if (ResError() != noErr) {
        DisposeHandle(record); // not taken by the file: still ours
        return false;
    }
    UpdateResFile(file.refNum());
    const bool written = ResError() == noErr;
    ReleaseResource(record);
    // Only a record that reached the disk counts as saved.
    return written;
}

Boolean ReadConfig(pluginDataRec* theConfig, const char* fileName) {
    if (theConfig == nullptr) {
        return false;
    }
    Handle record = nullptr;
    {
        const OpenPrefsFile file(fileName);
        if (!file.isOpen()) {
            return false;
        }
        record = Get1Resource(cPrefsType, cPrefsResID);
        if (record == nullptr) {
            return false;
        }
        DetachResource(record);
    }
    const Boolean ok = Save2Config(theConfig, record);
    DisposeHandle(record);
    return ok;
}

bool GetPrefsFilePath(std::string& path, const char* fileName) {
    FSSpec spec;
    OSErr specErr = noErr;
    return PrefsFileSpec(fileName, spec, specErr, path) && !path.empty();
}

void EnsurePrefsFile(const char* fileName) {
    FSSpec spec;
    OSErr specErr = noErr;
    if (!LocatePrefsFile(fileName, spec, specErr) || specErr != fnfErr) {
        return;
    }
    FSpCreateResFile(&spec, cPrefsCreator, cPrefsType, smSystemScript);
    (void)ResError(); // a file that cannot be made only means later saves fail
}

void InitMyPlugIn(pluginDataRec* theData) {
    Assert(theData, "Unable to allocate new data structure");
    EnsurePrefsFile();
    InitPluginData(theData);
}

void InitPluginData(pluginDataRec* theConfig) {
    Assert(theConfig, "Nil theConfig on InitPluginData");
    ResetConfig(theConfig, true);
    (void)ReadConfig(theConfig); // without a saved configuration the defaults stay
    (void)SaveConfig(theConfig);
}
