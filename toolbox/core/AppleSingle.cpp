// AppleSingle.cpp - the AppleSingle version 2 container: a 26-byte header, 12-byte entry
// descriptors, then the entries' bytes, all big-endian.
#include "AppleSingle.h"

#include <algorithm>

namespace toolbox::applesingle {
namespace {

constexpr std::size_t kHeaderSize = 26;
constexpr std::size_t kDescriptorSize = 12;
constexpr std::size_t kFinderInfoSize = 32;

UInt32 be32(const UInt8* p) {
    return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}
void put32(std::vector<UInt8>& v, UInt32 x) {
    v.push_back(UInt8(x >> 24));
    v.push_back(UInt8(x >> 16));
    v.push_back(UInt8(x >> 8));
    v.push_back(UInt8(x));
}

} // namespace

const Entry* File::find(UInt32 id) const {
    for (const auto& e : entries)
        if (e.id == id)
            return &e;
    return nullptr;
}

Entry* File::find(UInt32 id) {
    for (auto& e : entries)
        if (e.id == id)
            return &e;
    return nullptr;
}

void File::set(UInt32 id, std::vector<UInt8> bytes) {
    if (Entry* e = find(id))
        e->bytes = std::move(bytes);
    else
        entries.push_back(Entry{id, std::move(bytes)});
}

OSType File::fileType() const {
    const Entry* e = find(kFinderInfo);
    return e && e->bytes.size() >= 4 ? be32(e->bytes.data()) : 0;
}

OSType File::creator() const {
    const Entry* e = find(kFinderInfo);
    return e && e->bytes.size() >= 8 ? be32(e->bytes.data() + 4) : 0;
}

void File::setTypeAndCreator(OSType type, OSType creatorCode) {
    Entry* e = find(kFinderInfo);
    if (!e) {
        // Finder Info goes first, where tools expect it.
        entries.insert(entries.begin(), Entry{kFinderInfo, std::vector<UInt8>(kFinderInfoSize)});
        e = &entries.front();
    }
    if (e->bytes.size() < kFinderInfoSize)
        e->bytes.resize(kFinderInfoSize);
    for (int i = 0; i < 4; ++i) {
        e->bytes[std::size_t(i)] = UInt8(type >> (24 - 8 * i));
        e->bytes[std::size_t(4 + i)] = UInt8(creatorCode >> (24 - 8 * i));
    }
}

bool looksLikeAppleSingle(std::span<const UInt8> bytes) {
    return bytes.size() >= 4 && be32(bytes.data()) == kMagic;
}

OSErr parse(std::span<const UInt8> bytes, File& out) {
    if (bytes.size() < kHeaderSize || be32(bytes.data()) != kMagic)
        return mapReadErr;
    UInt32 version = be32(bytes.data() + 4);
    if (version != kVersion2 && version != 0x00010000)
        return mapReadErr;
    std::size_t count = (std::size_t(bytes[24]) << 8) | bytes[25];
    std::size_t dataStart = kHeaderSize + count * kDescriptorSize;
    if (dataStart > bytes.size())
        return mapReadErr;

    struct Span {
        UInt64 begin, end;
    };
    std::vector<Span> spans;
    File file;
    for (std::size_t i = 0; i < count; ++i) {
        const UInt8* d = bytes.data() + kHeaderSize + i * kDescriptorSize;
        UInt32 id = be32(d);
        UInt64 offset = be32(d + 4);
        UInt64 length = be32(d + 8);
        if (id == 0 || file.find(id))
            return mapReadErr;
        if (offset + length > bytes.size())
            return mapReadErr;
        if (length > 0) {
            if (offset < dataStart)
                return mapReadErr; // entry data inside the header
            spans.push_back({offset, offset + length});
        }
        file.entries.push_back(
            Entry{id, std::vector<UInt8>(bytes.begin() + std::ptrdiff_t(offset),
                                         bytes.begin() + std::ptrdiff_t(offset + length))});
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].begin < spans[i - 1].end)
            return mapReadErr;
    out = std::move(file);
    return noErr;
}

std::vector<UInt8> serialize(const File& file) {
    std::vector<UInt8> v;
    put32(v, kMagic);
    put32(v, kVersion2);
    v.insert(v.end(), 16, 0);
    v.push_back(UInt8(file.entries.size() >> 8));
    v.push_back(UInt8(file.entries.size()));
    UInt32 offset = UInt32(kHeaderSize + file.entries.size() * kDescriptorSize);
    for (const auto& e : file.entries) {
        put32(v, e.id);
        put32(v, offset);
        put32(v, UInt32(e.bytes.size()));
        offset += UInt32(e.bytes.size());
    }
    for (const auto& e : file.entries)
        v.insert(v.end(), e.bytes.begin(), e.bytes.end());
    return v;
}

} // namespace toolbox::applesingle
