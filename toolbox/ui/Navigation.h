// Navigation.h - the Open dialog (Navigation Services' NavGetFile, on Qt's file dialog) and
// the Apple Event descriptor lists that carry its selection.
//
// Owns: descriptor lists made here (until AEDisposeDesc) and the reply's selection (until
// NavDisposeReply).
// Promises:
// - NavGetFile shows a modal Open dialog titled with the options' windowTitle. It lets the
//   user choose one existing file, or several when kNavAllowMultipleFiles is set. With a
//   type list only files whose type is one of its types (kNavGenericSignature '****' in
//   the list: any) are offered, and, when the list names a creator, only files whose
//   creator is that one or unknown. A file's type and creator are its Finder info where it
//   has one (AppleSingle files), else the type that its name extension stands for
//   (".png" 'PNGf', ".jpg" 'JPEG', ".gif" 'GIFf', ".tif" 'TIFF', ".bmp" 'BMPf', ".pdf"
//   'PDF ', ".txt" 'TEXT'); folders are always shown so the user can move through them.
// - Chosen: noErr, reply validRecord true and its selection a list of the files, which
//   AEGetNthPtr gives as typeFSRef or typeFSS. Cancelled: userCanceledErr, validRecord
//   false, an empty selection. No display: noUserInteractionAllowed, validRecord false.
// - The scripted-user seam (ToolboxUITesting.h) can choose or cancel instead of a user; it
//   goes through the same type filter (a scripted file the filter refuses cannot be chosen
//   and counts as a cancel).
#pragma once

#include "CarbonEvents.h"
#include "Files.h"
#include "MacTypes.h"

// ---- descriptors ------------------------------------------------------------------------

using AEKeyword = FourCharCode;
struct OpaqueAEDataStorageType;
using AEDataStorage = OpaqueAEDataStorageType*;

struct AEDesc {
    DescType descriptorType;
    AEDataStorage dataHandle;
};
using AEDescList = AEDesc;
using AEAddressDesc = AEDesc;

enum : DescType {
    typeNull = FOUR_CHAR_CODE("null"),
    typeAEList = FOUR_CHAR_CODE("list"),
    typeFSS = FOUR_CHAR_CODE("fss "),
    typeFSRef = FOUR_CHAR_CODE("fsrf"),
    typeChar = FOUR_CHAR_CODE("TEXT"),
};

enum : OSErr {
    errAEDescNotFound = -1701,
    errAEIllegalIndex = -1719,
    errAEWrongDataType = -1703,
};

// A descriptor holding one value (for NavGetFile's defaultLocation, say).
OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result);
// factoringPtr must be nil and factoredSize 0; isRecord must be false.
OSErr AECreateList(const void* factoringPtr, Size factoredSize, Boolean isRecord,
                   AEDescList* resultList);
// index 0 appends; 1..count replaces; count + 1 appends.
OSErr AEPutPtr(AEDescList* theAEDescList, long index, DescType typeCode, const void* dataPtr,
               Size dataSize);
OSErr AECountItems(const AEDescList* theAEDescList, long* theCount);
// Copies item index (from 1), coerced to desiredType (typeFSS <-> typeFSRef, typeWildCard:
// as stored); at most maximumSize bytes, *actualSize the full size.
OSErr AEGetNthPtr(const AEDescList* theAEDescList, long index, DescType desiredType,
                  AEKeyword* theAEKeyword, DescType* typeCode, void* dataPtr, Size maximumSize,
                  Size* actualSize);
OSErr AEDisposeDesc(AEDesc* theAEDesc); // the descriptor becomes typeNull / nil
void AEInitializeDesc(AEDesc* desc);

// ---- Navigation Services ----------------------------------------------------------------

using NavDialogOptionFlags = UInt32;
enum : NavDialogOptionFlags {
    kNavDefaultNavDlogOptions = 0x000000E4,
    kNavNoTypePopup = 0x00000001,
    kNavDontAutoTranslate = 0x00000002,
    kNavDontAddTranslateItems = 0x00000004,
    kNavAllFilesInPopup = 0x00000010,
    kNavAllowStationery = 0x00000020,
    kNavAllowPreviews = 0x00000040,
    kNavAllowMultipleFiles = 0x00000080,
    kNavAllowInvisibleFiles = 0x00000100,
    kNavSelectAllReadableItem = 0x00000800,
};

enum : UInt16 {
    kNavDialogOptionsVersion = 0,
    kNavReplyRecordVersion = 2,
};

enum : OSType {
    kNavGenericSignature = FOUR_CHAR_CODE("****"),
};

#pragma pack(push, 2)
struct NavDialogOptions {
    UInt16 version;
    NavDialogOptionFlags dialogOptionFlags;
    Point location; // (-1, -1): where the window system likes
    Str255 clientName;
    Str255 windowTitle; // the dialog's title bar
    Str255 actionButtonLabel;
    Str255 cancelButtonLabel;
    Str255 savedFileName;
    Str255 message;
    UInt32 preferenceKey;
    void* popupExtension;
    char reserved[494];
};

struct NavTypeList {
    OSType componentSignature; // the creator, or kNavGenericSignature for any
    SInt16 reserved;
    SInt16 osTypeCount;
    OSType osType[1];
};
#pragma pack(pop)
static_assert(sizeof(NavTypeList) == 12, "a one-type list is 12 bytes, as callers allocate");
using NavTypeListPtr = NavTypeList*;
using NavTypeListHandle = NavTypeList**;

struct NavReplyRecord {
    UInt16 version;
    Boolean validRecord;
    Boolean replacing;
    Boolean isStationery;
    Boolean translationNeeded;
    AEDescList selection;
    ScriptCode keyScript;
    void* fileTranslation;
    UInt32 reserved1;
    CFStringRef saveFileName;
    Boolean saveFileExtensionHidden;
    UInt8 reserved2;
    char reserved[225];
};

using NavEventUPP = void*;
using NavPreviewUPP = void*;
using NavObjectFilterUPP = void*;

OSErr NavGetDefaultDialogOptions(NavDialogOptions* dialogOptions);

// defaultLocation may be nil (the current directory) or hold one typeFSRef/typeFSS of a
// folder. eventProc, previewProc and filterProc must be nil. typeList may be nil (all files).
OSErr NavGetFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                 NavEventUPP eventProc, NavPreviewUPP previewProc, NavObjectFilterUPP filterProc,
                 NavTypeListHandle typeList, void* callBackUD);
OSErr NavDisposeReply(NavReplyRecord* reply);
