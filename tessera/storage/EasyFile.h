// EasyFile.h - choosing one file with the Open dialog and loading its first image.
//
// Owns: nothing beyond each call. Promises: EasyNavGetFile lets the user choose exactly one
// file (whatever inAllowMultiple says), titled with inMessage, filtered by type and creator
// unless inType is "****"; it returns false and leaves outFile alone when the user cancels
// or anything fails. The loaders return a new image owned by the caller (CGImageRelease),
// the first of a multi-image file, or nil; none of them shows anything or ends the process.
#pragma once

#include "CoreGraphics.h"
#include "Files.h"
#include "MacTypes.h"
#include "Navigation.h"

constexpr int cMaxFilesInList = 4;
constexpr OSType cAnyFileType = FOUR_CHAR_CODE("****");

struct FileList {
    SInt16 count;                 // items in the selection, even beyond cMaxFilesInList
    FSSpec spec[cMaxFilesInList]; // the first ones, in list order
};

Boolean EasyNavGetFile(ConstStr255Param inMessage, OSType inType, OSType inCreator,
                       Boolean inAllowMultiple, FSSpec& outFile);
OSErr AEDescListToFileList(const AEDescList& inList, FileList& outFileList);
void FSSpec2FSRef(const FSSpec& theFSS, FSRef& theFSRef, OSErr* outErr = nullptr);
CGImageRef GetCGImageFromFSSUsingCG(const FSSpec& theFSS);
CGImageRef GetCGImageFromFSRefUsingCG(const FSRef& theFSRef);
CGImageRef GetCGImageFromURLUsingCG(CFURLRef theURL);
