// CoreFoundation.h - reference-counted strings, URLs and bundles.
//
// Promises:
// - Every object starts with a retain count of 1; CFRelease frees it when the count reaches
//   0. CFRetain/CFRelease of nil do nothing. Strings made with CFSTR are never freed.
// - CFString holds Unicode text. Mac Roman (kCFStringEncodingMacRoman) and UTF-8 convert
//   through iconv; lengths and ranges count UTF-16 units. A conversion that cannot be done
//   exactly (invalid input, a character Mac Roman lacks, a buffer too small) fails: nil or
//   false, never a truncated or garbled text.
// - CFURL here is a file URL holding an absolute path (raw bytes, as Linux names are).
// - A bundle is a directory Name.bundle/Contents/ with Info.plist (XML or binary, read with
//   libplist), Linux/<CFBundleExecutable> and Resources/. Every bundle created in the process
//   is found by CFBundleGetBundleWithIdentifier while someone holds it, whoever created it:
//   the registry lives in this shared library. Creating a bundle for a URL already open
//   returns that bundle, retained.
// - toolbox::cf::CFRef owns one reference and releases it when it goes out of scope.
#pragma once

#include "Files.h"
#include "MacTypes.h"
#include "Resources.h"

using CFTypeRef = const void*;
using CFIndex = long;
using CFOptionFlags = unsigned long;
using CFTypeID = unsigned long;
using CFHashCode = unsigned long;
using CFStringEncoding = UInt32;

struct __CFAllocator;
using CFAllocatorRef = const __CFAllocator*;
struct __CFString;
using CFStringRef = const __CFString*;
using CFMutableStringRef = __CFString*;
struct __CFURL;
using CFURLRef = const __CFURL*;
struct __CFBundle;
using CFBundleRef = __CFBundle*;

// Only the default allocator exists.
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

struct CFRange {
    CFIndex location;
    CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
    return CFRange{location, length};
}

enum : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
};
constexpr CFIndex kCFNotFound = -1;

enum CFComparisonResult : CFIndex {
    kCFCompareLessThan = -1,
    kCFCompareEqualTo = 0,
    kCFCompareGreaterThan = 1,
};
enum : CFOptionFlags {
    kCFCompareCaseInsensitive = 1, // ASCII letters only
};

enum CFURLPathStyle : CFIndex {
    kCFURLPOSIXPathStyle = 0,
};

// ---- objects
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2); // strings by contents, URLs by path
CFTypeID CFStringGetTypeID();
CFTypeID CFURLGetTypeID();
CFTypeID CFBundleGetTypeID();

// ---- strings
// A string that lives as long as the process, for literals: CFSTR("com.example").
CFStringRef __CFStringMakeConstantString(const char* utf8);
#define CFSTR(literal) __CFStringMakeConstantString("" literal "")

CFStringRef CFStringCreateWithPascalString(CFAllocatorRef alloc, ConstStr255Param pStr,
                                           CFStringEncoding encoding);
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* chars,
                                         CFIndex numChars);
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString);
CFIndex CFStringGetLength(CFStringRef theString); // UTF-16 units
UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx);
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer);
// Writes the text and a NUL; false if it does not fit bufferSize or cannot be encoded.
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
// Writes a Pascal string; false if over 255 bytes, over bufferSize - 1, or not encodable.
Boolean CFStringGetPascalString(CFStringRef theString, StringPtr buffer, CFIndex bufferSize,
                                CFStringEncoding encoding);
// The largest number of bytes length UTF-16 units can take in the encoding.
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFOptionFlags compareOptions);
// Mutable strings, enough to join messages.
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength);
void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString);
void CFStringAppendCString(CFMutableStringRef theString, const char* cStr,
                           CFStringEncoding encoding);

// ---- URLs (file URLs)
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory);
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef alloc, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory);
// Writes the path's bytes and a NUL; false if it does not fit.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen);
// The path as a string (nil if the path is not UTF-8).
CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle);
CFStringRef CFURLCopyLastPathComponent(CFURLRef url);
Boolean CFURLHasDirectoryPath(CFURLRef anURL);
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef alloc, CFURLRef url,
                                               CFStringRef pathComponent, Boolean isDirectory);
// nil if fsRef is nil or empty.
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef alloc, const FSRef* fsRef);
// false unless the URL names an existing item.
Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef);

// ---- bundles
// nil unless bundleURL names a directory. A missing or unreadable Info.plist gives a bundle
// with no keys.
CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL);
// Not retained for the caller ("Get" rule).
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle);
// String values of Info.plist as CFStrings; other values and missing keys give nil.
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key);
CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);
CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
// Contents/Linux/<CFBundleExecutable>, nil if the key is missing or the file does not exist.
CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle);
// Resources/[subDirName/]resourceName[.resourceType], also looked for in Base.lproj,
// en.lproj and English.lproj; nil if there is no such file or folder.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName);
// Opens Resources/<CFBundleExecutable>.rsrc (or <bundle name>.rsrc) read-only and makes it
// the current resource file: its refNum, or kResFileNotOpened.
ResFileRefNum CFBundleOpenBundleResourceMap(CFBundleRef bundle);
void CFBundleCloseBundleResourceMap(CFBundleRef bundle, ResFileRefNum refNum);
// dlopen of the executable (RTLD_NOW | RTLD_LOCAL); kept loaded until unloaded or freed.
Boolean CFBundleLoadExecutable(CFBundleRef bundle);
Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle);
void CFBundleUnloadExecutable(CFBundleRef bundle);
// Loads the executable if needed and looks the symbol up; nil if either fails.
void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName);

// C++ helpers for the rest of the toolbox, hosts and tests.
#include <memory>
#include <string>
#include <type_traits>
namespace toolbox::cf {
struct CFReleaser {
    void operator()(CFTypeRef object) const { CFRelease(object); }
};
// One owned reference (from a Create or Copy function, or a CFRetain), released on every
// way out of the holder's scope; nil holds nothing. Moves hand the reference on.
template <class Ref> using CFRef = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;
// The string's UTF-8 text ("" for nil).
std::string utf8(CFStringRef s);
// A new string from UTF-8 text (nil if the text is not UTF-8).
CFStringRef makeString(const std::string& utf8);
// The URL's path bytes ("" for nil).
std::string path(CFURLRef url);
// The text of the last dlopen/dlsym failure of CFBundleLoadExecutable in this thread.
std::string lastLoadError();
} // namespace toolbox::cf
