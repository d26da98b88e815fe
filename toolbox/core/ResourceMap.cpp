// ResourceMap.cpp - the classic resource-file format, read and written.
//
// Layout: a 16-byte header (data offset, map offset, data length, map length), the data
// area (each resource a 4-byte length and its bytes), and the map: a copy of the header,
// 8 reserved bytes, the file attributes, the offsets of the type list and of the name list,
// then the type list (count - 1, and per type its code, count - 1 and the offset of its
// reference list), the reference lists (12 bytes per resource: ID, name offset or -1,
// attributes, 24-bit data offset, reserved handle) and the name list of Pascal strings.
// Everything is big-endian. The parser checks every offset against its input before using
// it, since resource files come from disk and fuzzers alike.
#include "Resources.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace toolbox::rsrc {
namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kHeaderArea = 256; // header, then space the original system reserved
constexpr std::size_t kMapHeaderSize = 28;
constexpr std::size_t kTypeEntrySize = 8;
constexpr std::size_t kRefEntrySize = 12;
constexpr UInt16 kNoName = 0xFFFF;

UInt16 be16(const UInt8* p) {
    return UInt16((p[0] << 8) | p[1]);
}
UInt32 be24(const UInt8* p) {
    return (UInt32(p[0]) << 16) | (UInt32(p[1]) << 8) | p[2];
}
UInt32 be32(const UInt8* p) {
    return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}
void put16(std::vector<UInt8>& v, std::size_t at, UInt16 x) {
    v[at] = UInt8(x >> 8);
    v[at + 1] = UInt8(x);
}
void put32(std::vector<UInt8>& v, std::size_t at, UInt32 x) {
    v[at] = UInt8(x >> 24);
    v[at + 1] = UInt8(x >> 16);
    v[at + 2] = UInt8(x >> 8);
    v[at + 3] = UInt8(x);
}

struct Range {
    UInt64 begin, end;
};

// True if any two of the ranges share a byte.
bool anyOverlap(std::vector<Range> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].begin < ranges[i - 1].end)
            return true;
    return false;
}

// Where the parts of a file being read lie, every offset already checked against it.
struct FileView {
    const UInt8* map = nullptr;
    UInt64 mapLength = 0;
    const UInt8* data = nullptr;
    UInt64 dataLength = 0;
    UInt64 nameListOffset = 0;
};

// The header's four numbers, if they put the data area and the map inside the file,
// apart, and leave the map room for its own header.
bool readHeader(std::span<const UInt8> bytes, FileView& view) {
    const UInt64 size = bytes.size();
    if (size < kHeaderSize)
        return false;
    const UInt8* b = bytes.data();
    const UInt64 dataOffset = be32(b), mapOffset = be32(b + 4);
    const UInt64 dataLength = be32(b + 8), mapLength = be32(b + 12);
    if (dataOffset < kHeaderSize || mapOffset < kHeaderSize)
        return false;
    if (dataOffset + dataLength > size || mapOffset + mapLength > size)
        return false;
    if (mapLength < kMapHeaderSize + 2)
        return false;
    if (dataLength > 0 && dataOffset < mapOffset + mapLength && mapOffset < dataOffset + dataLength)
        return false; // data and map overlap
    view.map = b + mapOffset;
    view.mapLength = mapLength;
    view.data = b + dataOffset;
    view.dataLength = dataLength;
    return true;
}

// One 12-byte reference entry and the name and data it points at; dataRange is the
// bytes of the data area it claims, for the overlap check.
bool readReference(const FileView& v, const UInt8* re, Resource& res, Range& dataRange) {
    res.id = ResID(be16(re));
    const UInt16 nameOffset = be16(re + 2);
    res.attributes = UInt8(re[4] & ~resChanged);
    const UInt64 dataAt = be24(re + 5);
    if (nameOffset != kNoName) {
        const UInt64 nameAt = v.nameListOffset + nameOffset;
        if (nameAt + 1 > v.mapLength || nameAt + 1 + v.map[nameAt] > v.mapLength)
            return false;
        res.name = std::string(reinterpret_cast<const char*>(v.map + nameAt + 1), v.map[nameAt]);
    }
    if (dataAt + 4 > v.dataLength)
        return false;
    const UInt64 length = be32(v.data + dataAt);
    if (dataAt + 4 + length > v.dataLength)
        return false;
    dataRange = {dataAt, dataAt + 4 + length};
    res.data.assign(v.data + dataAt + 4, v.data + dataAt + 4 + length);
    return true;
}

// The resources grouped by type, in the order the types first appear.
struct TypeGroups {
    std::vector<ResType> order;
    std::vector<std::vector<const Resource*>> members;
};

OSErr groupByType(const std::vector<Resource>& resources, TypeGroups& groups) {
    std::map<ResType, std::size_t> typeIndex;
    std::set<std::pair<ResType, ResID>> seen;
    for (const auto& r : resources) {
        if (!seen.insert({r.type, r.id}).second)
            return paramErr; // two resources with one type and ID could never be told apart
        if (r.name && r.name->size() > 255)
            return paramErr;
        auto [it, isNew] = typeIndex.try_emplace(r.type, groups.order.size());
        if (isNew) {
            groups.order.push_back(r.type);
            groups.members.emplace_back();
        }
        groups.members[it->second].push_back(&r);
    }
    if (groups.order.size() > 0x10000)
        return paramErr;
    return noErr;
}

// The data area, with each resource's offset into it in the grouped order.
OSErr buildDataArea(const TypeGroups& groups, std::vector<UInt8>& dataArea,
                    std::vector<UInt32>& dataOffsets) {
    for (const auto& group : groups.members)
        for (const Resource* r : group) {
            if (dataArea.size() > 0xFFFFFF || r->data.size() > 0xFFFFFFFFu - 4)
                return paramErr;
            dataOffsets.push_back(UInt32(dataArea.size()));
            std::size_t at = dataArea.size();
            dataArea.resize(at + 4 + r->data.size());
            put32(dataArea, at, UInt32(r->data.size()));
            std::copy(r->data.begin(), r->data.end(), dataArea.begin() + std::ptrdiff_t(at + 4));
        }
    return noErr;
}

// One reference entry at `at`; its name, if any, goes on the end of the name list.
OSErr putReference(std::vector<UInt8>& map, std::size_t at, const Resource& r, UInt32 dataOffset,
                   std::vector<UInt8>& names) {
    put16(map, at, UInt16(r.id));
    if (r.name) {
        if (names.size() >= kNoName)
            return paramErr;
        put16(map, at + 2, UInt16(names.size()));
        names.push_back(UInt8(r.name->size()));
        names.insert(names.end(), r.name->begin(), r.name->end());
    } else {
        put16(map, at + 2, kNoName);
    }
    map[at + 4] = UInt8(r.attributes & ~resChanged);
    map[at + 5] = UInt8(dataOffset >> 16);
    map[at + 6] = UInt8(dataOffset >> 8);
    map[at + 7] = UInt8(dataOffset);
    return noErr;
}

// The map: its header (less the copy of the file header, known only later), the type
// list, the reference lists and the names.
OSErr buildMap(const TypeGroups& groups, std::size_t resourceCount, UInt16 fileAttributes,
               const std::vector<UInt32>& dataOffsets, std::vector<UInt8>& map) {
    const std::size_t typeListOffset = kMapHeaderSize;
    std::size_t refListAt = typeListOffset + 2 + groups.order.size() * kTypeEntrySize;
    const std::size_t nameListOffset = refListAt + resourceCount * kRefEntrySize;
    if (nameListOffset > 0xFFFF)
        return paramErr;
    std::vector<UInt8> names;
    map.assign(nameListOffset, 0);
    put16(map, 22, fileAttributes & ~UInt16(mapChanged));
    put16(map, 24, UInt16(typeListOffset));
    put16(map, 26, UInt16(nameListOffset));
    put16(map, typeListOffset, UInt16(groups.order.size() - 1)); // 0xFFFF when empty
    std::size_t k = 0;
    for (std::size_t t = 0; t < groups.order.size(); ++t) {
        const std::size_t te = typeListOffset + 2 + t * kTypeEntrySize;
        if (refListAt - typeListOffset > 0xFFFF)
            return paramErr;
        put32(map, te, groups.order[t]);
        put16(map, te + 4, UInt16(groups.members[t].size() - 1));
        put16(map, te + 6, UInt16(refListAt - typeListOffset));
        for (const Resource* r : groups.members[t]) {
            if (OSErr err = putReference(map, refListAt, *r, dataOffsets[k++], names))
                return err;
            refListAt += kRefEntrySize;
        }
    }
    map.insert(map.end(), names.begin(), names.end());
    return noErr;
}

} // namespace

Resource* ResourceMap::find(ResType type, ResID id) {
    for (auto& r : resources)
        if (r.type == type && r.id == id)
            return &r;
    return nullptr;
}

const Resource* ResourceMap::find(ResType type, ResID id) const {
    for (const auto& r : resources)
        if (r.type == type && r.id == id)
            return &r;
    return nullptr;
}

OSErr ResourceMap::parse(std::span<const UInt8> bytes, ResourceMap& out) {
    FileView v;
    if (!readHeader(bytes, v))
        return mapReadErr;
    const UInt8* map = v.map;
    const UInt64 mapLength = v.mapLength;
    ResourceMap result;
    result.fileAttributes = be16(map + 22) & ~UInt16(mapChanged);
    const UInt64 typeListOffset = be16(map + 24);
    v.nameListOffset = be16(map + 26);
    if (typeListOffset < kMapHeaderSize || typeListOffset + 2 > mapLength)
        return mapReadErr;
    if (v.nameListOffset > mapLength)
        return mapReadErr;

    const UInt8* typeList = map + typeListOffset;
    const UInt64 typeCount = (be16(typeList) + 1) & 0xFFFF; // stored as count - 1
    const UInt64 typeEntriesEnd = typeListOffset + 2 + typeCount * kTypeEntrySize;
    if (typeEntriesEnd > mapLength)
        return mapReadErr;

    std::vector<Range> mapRanges{{typeListOffset, typeEntriesEnd}};
    std::vector<Range> dataRanges;
    std::set<ResType> types;
    std::set<std::pair<ResType, ResID>> seen;
    for (UInt64 t = 0; t < typeCount; ++t) {
        const UInt8* te = typeList + 2 + t * kTypeEntrySize;
        const ResType type = be32(te);
        const UInt64 refCount = UInt64(be16(te + 4)) + 1;
        const UInt64 refListOffset = typeListOffset + be16(te + 6);
        const UInt64 refListEnd = refListOffset + refCount * kRefEntrySize;
        if (!types.insert(type).second)
            return mapReadErr; // one type listed twice
        if (refListEnd > mapLength)
            return mapReadErr;
        mapRanges.push_back({refListOffset, refListEnd});

        for (UInt64 r = 0; r < refCount; ++r) {
            Resource res;
            res.type = type;
            Range dataRange{};
            if (!readReference(v, map + refListOffset + r * kRefEntrySize, res, dataRange))
                return mapReadErr;
            dataRanges.push_back(dataRange);
            if (!seen.insert({res.type, res.id}).second)
                return mapReadErr; // two resources with one type and ID
            result.resources.push_back(std::move(res));
        }
    }
    if (anyOverlap(mapRanges) || anyOverlap(dataRanges))
        return mapReadErr;
    out = std::move(result);
    return noErr;
}

OSErr ResourceMap::serialize(std::vector<UInt8>& out) const {
    TypeGroups groups;
    if (OSErr err = groupByType(resources, groups))
        return err;
    std::vector<UInt8> dataArea;
    std::vector<UInt32> dataOffsets;
    if (OSErr err = buildDataArea(groups, dataArea, dataOffsets))
        return err;
    std::vector<UInt8> map;
    if (OSErr err = buildMap(groups, resources.size(), fileAttributes, dataOffsets, map))
        return err;

    const std::size_t dataOffset = kHeaderArea;
    const std::size_t mapOffset = dataOffset + dataArea.size();
    if (mapOffset + map.size() > 0xFFFFFFFFu)
        return paramErr;
    std::vector<UInt8> file(kHeaderArea);
    put32(file, 0, UInt32(dataOffset));
    put32(file, 4, UInt32(mapOffset));
    put32(file, 8, UInt32(dataArea.size()));
    put32(file, 12, UInt32(map.size()));
    std::copy(file.begin(), file.begin() + kHeaderSize, map.begin()); // the map's header copy
    file.insert(file.end(), dataArea.begin(), dataArea.end());
    file.insert(file.end(), map.begin(), map.end());
    out = std::move(file);
    return noErr;
}

} // namespace toolbox::rsrc
