// AppleSingle.h - reading and writing AppleSingle (version 2) files.
//
// An AppleSingle file carries a file's forks and Finder information in one ordinary file,
// so a file's type and creator live with it and other tools can read it. The reader never
// reads past its input and rejects entries that leave the file or overlap; the writer keeps
// the entries in their order (new ones go last) with entries it does not interpret, so
// reading and rewriting a file loses nothing.
#pragma once

#include "MacTypes.h"

#include <cstdint>
#include <span>
#include <vector>

namespace toolbox::applesingle {

constexpr UInt32 kMagic = 0x00051600;
constexpr UInt32 kVersion2 = 0x00020000;

enum EntryID : UInt32 {
    kDataFork = 1,
    kResourceFork = 2,
    kRealName = 3,
    kComment = 4,
    kFileDates = 8,
    kFinderInfo = 9,
};

struct Entry {
    UInt32 id = 0;
    std::vector<UInt8> bytes;
    bool operator==(const Entry&) const = default;
};

struct File {
    // Entries in file order; at most one per ID.
    std::vector<Entry> entries;

    const Entry* find(UInt32 id) const;
    Entry* find(UInt32 id);
    // Sets (adds or replaces) an entry.
    void set(UInt32 id, std::vector<UInt8> bytes);

    // Finder Info: the first 4 bytes are the type, the next 4 the creator (big-endian).
    // Reads 0 when there is no Finder Info entry.
    OSType fileType() const;
    OSType creator() const;
    // Writes type and creator into the (created if missing, 32-byte) Finder Info entry.
    void setTypeAndCreator(OSType type, OSType creator);

    bool operator==(const File&) const = default;
};

// True when bytes start with the AppleSingle magic number.
bool looksLikeAppleSingle(std::span<const UInt8> bytes);

// Parses an AppleSingle file. noErr, or mapReadErr when the header or an entry is damaged
// (bad magic or version, entries past the end, overlapping or duplicate entries).
OSErr parse(std::span<const UInt8> bytes, File& out);

// The file's bytes: header, entry descriptors, entry data.
std::vector<UInt8> serialize(const File& file);

} // namespace toolbox::applesingle
