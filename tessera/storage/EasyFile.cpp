// EasyFile.cpp - the Open dialog and image loading; see EasyFile.h.
#include "EasyFile.h"

#include "ImageIO.h"
#include "MacMemory.h"

#include <cstring>

Boolean EasyNavGetFile(ConstStr255Param inMessage, OSType inType, OSType inCreator,
                       Boolean /*inAllowMultiple*/, FSSpec& outFile) {
    NavReplyRecord reply;
    std::memset(&reply, 0, sizeof reply);
    reply.version = kNavReplyRecordVersion;
    NavDialogOptions options;
    std::memset(&options, 0, sizeof options);
    NavGetDefaultDialogOptions(&options);
    std::memcpy(options.windowTitle, inMessage, size_t(inMessage[0]) + 1);
    options.dialogOptionFlags &= ~NavDialogOptionFlags(kNavAllowMultipleFiles);

    OSErr err;
    if (inType == cAnyFileType) {
        err = NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr);
    } else {
        Handle h = NewHandleClear(sizeof(NavTypeList));
        if (h == nullptr) {
            return false;
        }
        NavTypeListHandle types = reinterpret_cast<NavTypeListHandle>(h);
        (**types).componentSignature = inCreator;
        (**types).osTypeCount = 1;
        (**types).osType[0] = inType;
        err = NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, types, nullptr);
        DisposeHandle(h);
    }
    if (err != noErr) {
        return false;
    }
    FileList list;
    std::memset(&list, 0, sizeof list);
    Boolean result = reply.validRecord;
    if (AEDescListToFileList(reply.selection, list) != noErr && list.count == 0) {
        result = false;
    }
    if (result) {
        if (list.count > 0) {
            outFile = list.spec[0];
        } else {
            result = false;
        }
    }
    NavDisposeReply(&reply);
    return result;
}

OSErr AEDescListToFileList(const AEDescList& inList, FileList& outFileList) {
    outFileList.count = 0;
    long items = 0;
    if (OSErr err = AECountItems(&inList, &items); err != noErr) {
        return err;
    }
    for (long i = 1; i <= items; ++i) {
        FSSpec spec;
        AEKeyword keyword = 0;
        DescType actualType = 0;
        Size actualSize = 0;
        if (OSErr err = AEGetNthPtr(&inList, i, typeFSS, &keyword, &actualType, &spec, sizeof spec,
                                    &actualSize);
            err != noErr) {
            return err;
        }
        if (i <= cMaxFilesInList) {
            outFileList.spec[i - 1] = spec;
        }
        outFileList.count = SInt16(i);
    }
    return noErr;
}

void FSSpec2FSRef(const FSSpec& theFSS, FSRef& theFSRef, OSErr* outErr) {
    FSRef made;
    const OSErr err = FSpMakeFSRef(&theFSS, &made);
    if (err == noErr) {
        theFSRef = made;
    }
    if (outErr != nullptr) {
        *outErr = err;
    }
}

CGImageRef GetCGImageFromURLUsingCG(CFURLRef theURL) {
    CGImageSourceRef source = CGImageSourceCreateWithURL(theURL, nullptr);
    if (source == nullptr) {
        return nullptr;
    }
    CGImageRef image = nullptr;
    if (CGImageSourceGetCount(source) > 0) {
        image = CGImageSourceCreateImageAtIndex(source, 0, nullptr);
    }
    CGImageSourceRelease(source);
    return image;
}

CGImageRef GetCGImageFromFSRefUsingCG(const FSRef& theFSRef) {
    const toolbox::cf::CFRef<CFURLRef> url(CFURLCreateFromFSRef(nullptr, &theFSRef));
    return url != nullptr ? GetCGImageFromURLUsingCG(url.get()) : nullptr;
}

CGImageRef GetCGImageFromFSSUsingCG(const FSSpec& theFSS) {
    FSRef ref;
    OSErr err = noErr;
    FSSpec2FSRef(theFSS, ref, &err);
    if (err != noErr) {
        return nullptr;
    }
    return GetCGImageFromFSRefUsingCG(ref);
}
