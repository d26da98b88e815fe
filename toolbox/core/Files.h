// Files.h - the File Manager's FSSpec and FSRef records over Linux paths.
//
// Owns the process-wide tables that give Linux directories classic directory IDs and give
// file names that do not fit an FSSpec a stand-in name. Promises:
// - One volume (kToolboxVolumeRefNum; 0 and kOnSystemDisk mean it too). fsRtDirID is "/".
//   Every directory reached gets a stable ID for the life of the process.
// - FSSpec.name is Mac Roman, at most 63 characters, as on the original system. A Linux
//   name that is not UTF-8, has no Mac Roman spelling or is longer than 63 characters is
//   shown as a stand-in "<start>#<hex>" that maps back to the exact Linux name in this
//   process, so every name the user can pick round-trips. ':' in a Linux name reads as '/'
//   in an FSSpec and back, as the original system does.
// - FSRef holds the absolute Linux path itself: raw bytes (UTF-8 for names the user types),
//   NUL-terminated, at most kFSRefPathCapacity - 1 bytes. It names an existing object.
// - Results are classic codes: noErr, fnfErr (the folder exists, the item does not),
//   dirNFErr (unknown directory ID or missing folder), nsvErr (unknown volume), bdNamErr,
//   notAFileErr (a directory where a file is wanted), permErr, ioErr.
#pragma once

#include "MacTypes.h"

#include <functional>
#include <string>
#include <string_view>

#pragma pack(push, 2) // the classic 68K alignment: an FSSpec is 70 bytes, as callers expect
struct FSSpec {
    SInt16 vRefNum;
    SInt32 parID;
    StrFileName name;
};
#pragma pack(pop)
static_assert(sizeof(FSSpec) == 70, "FSSpec keeps its classic size");
using FSSpecPtr = FSSpec*;

constexpr std::size_t kFSRefPathCapacity = 4096;
struct FSRef {
    char path[kFSRefPathCapacity]; // absolute path, NUL-terminated
};
using FSRefPtr = FSRef*;

// Finder information of a file: type and creator, the two fields the system uses.
struct FInfo {
    OSType fdType;
    OSType fdCreator;
    UInt16 fdFlags;
    Point fdLocation;
    SInt16 fdFldr;
};

enum : SInt16 {
    kToolboxVolumeRefNum = -100, // the one volume: the Linux file tree
};
enum : SInt32 {
    fsRtParID = 1, // parent of the root
    fsRtDirID = 2, // the root directory "/"
};

// Open permissions (FSpOpenResFile and friends).
enum : SInt8 {
    fsCurPerm = 0,    // read/write if the file allows it, else read-only
    fsRdPerm = 1,     // read-only
    fsWrPerm = 2,     // write (treated as read/write)
    fsRdWrPerm = 3,   // read/write, or permErr
    fsRdWrShPerm = 4, // shared read/write (treated as read/write)
};

// Fills *spec for the item `name` (Mac Roman Pascal string; empty = the directory dirID
// itself; a leading ':' starts a partial path, "::" steps up) in directory dirID. Returns
// noErr if it exists, fnfErr if only the item is missing (spec still filled), dirNFErr,
// nsvErr, bdNamErr (name over 63 characters or a bad path), paramErr (spec nil).
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param name, FSSpec* spec);

// Converts an existing item's FSSpec to an FSRef: fnfErr if it does not exist.
OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef);
// Makes an FSRef from a path (UTF-8/raw bytes, NUL-terminated; relative paths are taken
// from the current directory). The item must exist (fnfErr otherwise). isDirectory may be nil.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
// Copies the FSRef's path into path (NUL-terminated). paramErr if it does not fit.
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
// The FSSpec of the item an FSRef names (its parent folder gets a directory ID).
OSErr FSGetFSSpecFromFSRef(const FSRef* ref, FSSpec* spec);

// Type and creator of a file. AppleSingle files keep them in their Finder Info entry; any
// other regular file reads as type and creator 0. Setting them is only possible on an
// AppleSingle file (the file is rewritten atomically); other files give wrPermErr, a
// directory gives notAFileErr, a symbolic link permErr (it is not followed).
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo);
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo);

// Deletes a file or an empty directory.
OSErr FSpDelete(const FSSpec* spec);

// C++ side of the tables, for the rest of the toolbox and for hosts and tests.
namespace toolbox::files {

// The absolute Linux path an FSSpec names (the item need not exist); empty + error code
// when the directory ID or the stand-in name is unknown.
OSErr pathFromSpec(const FSSpec& spec, std::string& path);
// The FSSpec of a path (absolute or relative to the current directory). noErr / fnfErr /
// dirNFErr as FSMakeFSSpec.
OSErr specFromPath(const std::string& path, FSSpec& spec);
// The directory ID of an existing directory (registered on first use); 0 if not a directory.
SInt32 directoryID(const std::string& directoryPath);
// The path of a directory ID, or empty.
std::string directoryPath(SInt32 dirID);

// True if path itself (its last component) is a symbolic link.
bool isSymbolicLink(const std::string& path);

// Maps errno from a failed system call to the classic result code.
OSErr errorFromErrno(int err);

// Replaces (or, with mustNotExist, creates) the file at path with contents, atomically: a
// temporary file in the same folder is written, fsync'ed and renamed over the old one, and
// the folder is fsync'ed. A failure at any step removes the temporary file and leaves the
// old file as it was. mode is used for a new file; an existing file keeps its own mode.
// mustNotExist gives dupFNErr if something already has the name. A symbolic link at the
// name is replaced itself: nothing is ever written elsewhere through it.
OSErr replaceFileAtomically(const std::string& path, const void* bytes, std::size_t length,
                            unsigned mode = 0600, bool mustNotExist = false);

// Reads a whole regular file (size limit 256 MiB): fnfErr, notAFileErr, permErr, ioErr.
// With followLinks false, a symbolic link at the name is refused (permErr) in the same call
// that opens the file, so a link put there after a check cannot be read through.
OSErr readWholeFile(const std::string& path, std::string& contents, bool followLinks = true);

// The process ID a temporary file's name ends with: "PID-XXXXXX" (mkstemp's six characters
// after the dash), or "PID" alone when bareAllowed. PID is 1 to 10 decimal digits and at most
// INT_MAX. 0 when `tail` is anything else.
long temporaryOwner(std::string_view tail, bool bareAllowed = false);

// Removes from the folder `dir` ("" = the current folder) the temporary files that processes
// which no longer exist left behind. ownerOf maps a name in the folder to the PID of the
// process that made it, or 0 for a name that is not such a temporary (temporaryOwner reads
// the usual tail). A file is removed only when its PID is not this process, no process with
// that PID exists (one that cannot be signalled counts as alive), and it is a regular file
// (a symbolic link is not followed) owned by this user. Failures are ignored: the clean-up
// is a courtesy and never the reason a save fails.
void removeDeadProcessTemporaries(const std::string& dir,
                                  const std::function<long(const std::string& name)>& ownerOf);

} // namespace toolbox::files
