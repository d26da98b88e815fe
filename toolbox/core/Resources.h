// Resources.h - the Resource Manager on the classic resource-file format.
//
// Two layers. toolbox::rsrc::ResourceMap is the format itself: a header, the resources'
// data, and a map (type list, reference lists, name list), all big-endian. parse() never
// reads past its input and rejects inconsistent maps; serialize() writes a canonical file
// that parse() reads back equal. The resource compiler, the fuzzers and the Manager all use it.
//
// The Manager keeps a chain of open resource files, the newest on top, and a current file.
// - FSpOpenResFile opens the resource fork of a file, which lives in an AppleSingle file;
//   FSOpenResourceFile / toolbox::rsrc::openResourceFile can also open a plain resource file
//   (the data fork), as bundles hold them. Opening an open file again returns its refNum.
//   The opened file becomes current. A resource fork is never opened through a symbolic
//   link (permErr): the file at the name is the user's, not one elsewhere.
// - Resource handles are Memory Manager handles owned by their file until DetachResource;
//   CloseResFile disposes of them.
// - UpdateResFile (and CloseResFile of a changed file) replaces the file atomically: the old
//   or the new file survives a crash, never a torn one. AppleSingle files keep their Finder
//   Info and their other entries.
// - Errors are reported through ResError(): resNotFound, resFNotFound, addResFailed,
//   rmvResFailed, resAttrErr, mapReadErr (damaged map), eofErr (a file without a resource
//   fork, e.g. not an AppleSingle file), notAFileErr (a directory), fnfErr, dirNFErr,
//   permErr, wrPermErr (a read-only map), dupFNErr, dskFulErr, ioErr.
// - A read-only map (fsRdPerm, or fsCurPerm on a file that cannot be written) may be changed
//   in memory, as the original system allows, but is never written: UpdateResFile and
//   WriteResource give wrPermErr and CloseResFile drops the changes. So a caller that goes
//   on after a refused save still hands its handles back correctly.
#pragma once

#include "Files.h"
#include "MacTypes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

using ResFileRefNum = SInt16;
using ResID = SInt16;
using ResAttributes = SInt16;
using ResFileAttributes = SInt16;
using UniChar = UInt16;
using UniCharCount = unsigned long;

// Resource attributes. resChanged is kept in memory only; it is never stored in a file.
enum : SInt16 {
    resSysHeap = 64,
    resPurgeable = 32,
    resLocked = 16,
    resProtected = 8,
    resPreload = 4,
    resChanged = 2,
};
// Resource file attributes.
enum : SInt16 {
    mapReadOnly = 128,
    mapCompact = 64,
    mapChanged = 32,
};

constexpr ResFileRefNum kResFileNotOpened = -1;

// A fork name as FSOpenResourceFile takes it.
struct HFSUniStr255 {
    UInt16 length;
    UniChar unicode[255];
};

// ---- opening, creating and closing files
ResFileRefNum FSpOpenResFile(const FSSpec* spec, SInt8 permission);
// Creates a new AppleSingle file (mode 0600) with the given type and creator and an empty
// resource fork. dupFNErr if the name is taken; the existing file is left untouched.
void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);
// forkName empty or the data fork name: a plain resource file; the resource fork name:
// the resource fork of an AppleSingle file.
OSErr FSOpenResourceFile(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                         SInt8 permissions, ResFileRefNum* refNum);
OSErr FSGetDataForkName(HFSUniStr255* dataForkName);
OSErr FSGetResourceForkName(HFSUniStr255* resourceForkName);
void CloseResFile(ResFileRefNum refNum);
void UpdateResFile(ResFileRefNum refNum);

// ---- the chain
void UseResFile(ResFileRefNum refNum);
ResFileRefNum CurResFile();
OSErr ResError();

// ---- reading resources
Handle Get1Resource(ResType theType, ResID theID); // current file only
Handle GetResource(ResType theType, ResID theID);  // current file, then older files
Handle Get1NamedResource(ResType theType, ConstStr255Param name);
Handle Get1IndResource(ResType theType, SInt16 index); // index from 1
SInt16 Count1Resources(ResType theType);
SInt16 Count1Types();
void Get1IndType(ResType* theType, SInt16 index);
void GetResInfo(Handle theResource, ResID* theID, ResType* theType, Str255 name);
void SetResInfo(Handle theResource, ResID theID, ConstStr255Param name);
ResAttributes GetResAttrs(Handle theResource);
void SetResAttrs(Handle theResource, ResAttributes attrs);
ResFileAttributes GetResFileAttrs(ResFileRefNum refNum);
ResFileRefNum HomeResFile(Handle theResource);
long GetResourceSizeOnDisk(Handle theResource);

// ---- changing resources
// Adds theData as a new resource of the current file; the handle then belongs to the file.
// addResFailed for a nil handle, a handle that already is a resource, no current file, or
// a (type, ID) the file already holds (two such resources could never be told apart).
void AddResource(Handle theData, ResType theType, ResID theID, ConstStr255Param name);
// Takes the resource out of the file's map; the handle becomes the caller's to dispose of.
void RemoveResource(Handle theResource);
void ChangedResource(Handle theResource);
// Saves the file at once if the resource has changed. The file is always written whole, so
// this also writes any other change pending in it.
void WriteResource(Handle theResource);
// Frees the resource's handle (a later Get finds the resource again). A change not yet
// written is kept and written by the next UpdateResFile.
void ReleaseResource(Handle theResource);
// The handle becomes the caller's; the resource stays in the file.
void DetachResource(Handle theResource);

namespace toolbox::rsrc {

struct Resource {
    ResType type = 0;
    ResID id = 0;
    std::optional<std::string> name; // Pascal string contents (Mac Roman), at most 255 bytes
    UInt8 attributes = 0;            // as stored in the file (without resChanged)
    std::vector<UInt8> data;
    bool operator==(const Resource&) const = default;
};

class ResourceMap {
  public:
    // Resources grouped by type in first-seen type order, then in the order added.
    std::vector<Resource> resources;
    UInt16 fileAttributes = 0;

    // Parses a resource file. noErr, or mapReadErr for anything damaged: truncated input,
    // offsets or lengths past the end, data and map overlapping, overlapping reference
    // lists or data, names past the name list, duplicate (type, ID) pairs.
    static OSErr parse(std::span<const UInt8> bytes, ResourceMap& out);
    // Writes the file: 256-byte header area, data, map. paramErr if it cannot be expressed
    // in the format (data over 16 MiB, names or map over 64 KiB, a name over 255 bytes,
    // duplicate (type, ID)).
    OSErr serialize(std::vector<UInt8>& out) const;

    Resource* find(ResType type, ResID id);
    const Resource* find(ResType type, ResID id) const;
    bool operator==(const ResourceMap&) const = default;
};

enum class Fork { data, resource };

// Opens a resource file at a Linux path and puts it on top of the chain as the current
// file; returns its refNum, or kResFileNotOpened with ResError() set.
ResFileRefNum openResourceFile(const std::string& path, Fork fork, SInt8 permission);

} // namespace toolbox::rsrc
