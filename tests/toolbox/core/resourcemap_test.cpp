// Tests of the resource-file format: round trips, the exact bytes of a written file, files
// laid out differently by other writers, and damaged files that must be refused.
#include "ResFixtures.h"

#include <gtest/gtest.h>
#include <random>

using toolbox::rsrc::Resource;
using toolbox::rsrc::ResourceMap;
using namespace restest;

namespace {

std::vector<UInt8> serialized(const ResourceMap& m) {
    std::vector<UInt8> out;
    EXPECT_EQ(m.serialize(out), noErr);
    return out;
}

UInt32 be32At(const std::vector<UInt8>& v, std::size_t at) {
    return (UInt32(v[at]) << 24) | (UInt32(v[at + 1]) << 16) | (UInt32(v[at + 2]) << 8) | v[at + 3];
}

void append(std::vector<UInt8>& v, std::initializer_list<int> bytes) {
    for (int b : bytes)
        v.push_back(UInt8(b));
}

void put32(std::vector<UInt8>& v, std::size_t at, UInt32 x) {
    for (int i = 0; i < 4; ++i)
        v[at + std::size_t(i)] = UInt8(x >> (24 - 8 * i));
}

ResourceMap sampleMap() {
    ResourceMap m;
    m.resources.push_back(
        makeResource(FOUR_CHAR_CODE("STR#"), 128, strList({"a", "bc"}), "Labels"));
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("STR#"), -5, "", std::nullopt));
    m.resources.push_back(
        makeResource(FOUR_CHAR_CODE("Pref"), 1, std::string(396, '\x07'), "Config Settings"));
    m.resources.back().attributes = resPurgeable | resProtected;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("TEXT"), 32767, "\x00\xFF zero", ""));
    m.fileAttributes = mapReadOnly;
    return m;
}

// One resource 'TEST' 7 named "name" holding "ok", written the canonical way by hand.
std::vector<UInt8> handBuiltFile() {
    std::vector<UInt8> f(256, 0);
    const UInt32 dataLen = 4 + 2, mapLen = 28 + 2 + 8 + 12 + 5;
    put32(f, 0, 256);
    put32(f, 4, 256 + dataLen);
    put32(f, 8, dataLen);
    put32(f, 12, mapLen);
    append(f, {0, 0, 0, 2, 'o', 'k'});
    std::vector<UInt8> map(f.begin(), f.begin() + 16); // header copy
    map.resize(28, 0);
    map[24] = 0, map[25] = 28;                                 // type list offset
    map[26] = 0, map[27] = 50;                                 // name list offset
    append(map, {0, 0, 'T', 'E', 'S', 'T', 0, 0, 0, 10});      // 1 type; 'TEST', 1 ref, at 10
    append(map, {0, 7, 0, 0, resLocked, 0, 0, 0, 0, 0, 0, 0}); // ID 7, name 0, data 0
    append(map, {4, 'n', 'a', 'm', 'e'});
    f.insert(f.end(), map.begin(), map.end());
    return f;
}

TEST(ResourceMapFormat, RoundTripKeepsEveryField) {
    ResourceMap m = sampleMap();
    ResourceMap back;
    ASSERT_EQ(ResourceMap::parse(serialized(m), back), noErr);
    EXPECT_EQ(back, m);
    // And writing what was read gives the same bytes again.
    EXPECT_EQ(serialized(back), serialized(m));
}

TEST(ResourceMapFormat, EmptyMapRoundTripsWithNoTypes) {
    ResourceMap m;
    auto bytes = serialized(m);
    ASSERT_EQ(bytes.size(), 256u + 30u);
    EXPECT_EQ(bytes[256 + 28], 0xFF); // type count - 1 = -1
    EXPECT_EQ(bytes[256 + 29], 0xFF);
    ResourceMap back;
    ASSERT_EQ(ResourceMap::parse(bytes, back), noErr);
    EXPECT_TRUE(back.resources.empty());
}

TEST(ResourceMapFormat, WrittenBytesFollowTheFormat) {
    ResourceMap m;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("TEST"), 7, "ok", "name"));
    m.resources.back().attributes = resLocked;
    EXPECT_EQ(serialized(m), handBuiltFile());
}

TEST(ResourceMapFormat, ResourcesAreGroupedByTypeInTheMap) {
    ResourceMap m;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("AAAA"), 1, "1"));
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("BBBB"), 1, "2"));
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("AAAA"), 2, "3"));
    auto bytes = serialized(m);
    const std::size_t map = be32At(bytes, 4);
    EXPECT_EQ(bytes[map + 28], 0); // two types
    EXPECT_EQ(bytes[map + 29], 1);
    EXPECT_EQ(be32At(bytes, map + 30), FOUR_CHAR_CODE("AAAA"));
    EXPECT_EQ(bytes[map + 35], 1); // AAAA holds two resources
    ResourceMap back;
    ASSERT_EQ(ResourceMap::parse(bytes, back), noErr);
    ASSERT_EQ(back.resources.size(), 3u);
    EXPECT_EQ(textOf(back.find(FOUR_CHAR_CODE("AAAA"), 2)->data), "3");
    EXPECT_EQ(textOf(back.find(FOUR_CHAR_CODE("BBBB"), 1)->data), "2");
}

TEST(ResourceMapFormat, ReadsAFileLaidOutByAnotherWriter) {
    // Map before the data, no reserved header area, a zeroed header copy, and a resource
    // without a name: legal, and written so by other tools.
    std::vector<UInt8> map(28, 0);
    map[25] = 28;
    map[27] = 50;
    append(map, {0, 0, 'S', 'T', 'R', ' ', 0, 0, 0, 10});
    append(map, {0xFF, 0xFE, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}); // ID -2, no name
    std::vector<UInt8> f(16, 0);
    put32(f, 0, UInt32(16 + map.size()));
    put32(f, 4, 16);
    put32(f, 8, 7);
    put32(f, 12, UInt32(map.size()));
    f.insert(f.end(), map.begin(), map.end());
    append(f, {0, 0, 0, 3, 2, 'h', 'i'});
    ResourceMap back;
    ASSERT_EQ(ResourceMap::parse(f, back), noErr);
    ASSERT_EQ(back.resources.size(), 1u);
    EXPECT_EQ(back.resources[0].id, -2);
    EXPECT_FALSE(back.resources[0].name.has_value());
    EXPECT_EQ(textOf(back.resources[0].data), "\x02hi");
}

TEST(ResourceMapFormat, ParsesTheHandBuiltFile) {
    ResourceMap back;
    ASSERT_EQ(ResourceMap::parse(handBuiltFile(), back), noErr);
    ASSERT_EQ(back.resources.size(), 1u);
    const Resource& r = back.resources[0];
    EXPECT_EQ(r.type, FOUR_CHAR_CODE("TEST"));
    EXPECT_EQ(r.id, 7);
    EXPECT_EQ(r.name, std::optional<std::string>("name"));
    EXPECT_EQ(r.attributes, resLocked);
    EXPECT_EQ(textOf(r.data), "ok");
}

TEST(ResourceMapDamage, EveryTruncationIsRefused) {
    auto bytes = serialized(sampleMap());
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        ResourceMap back;
        std::vector<UInt8> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
        EXPECT_EQ(ResourceMap::parse(cut, back), mapReadErr) << "length " << n;
    }
}

TEST(ResourceMapDamage, HeaderOffsetsPastTheEndAreRefused) {
    ResourceMap back;
    auto f = handBuiltFile();
    auto bad = f;
    put32(bad, 0, UInt32(f.size())); // data starts at the end
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    bad = f;
    put32(bad, 12, be32At(f, 12) + 1); // map one byte longer than the file
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    bad = f;
    put32(bad, 4, 0xFFFFFFF0); // offset + length wraps in 32 bits
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
}

TEST(ResourceMapDamage, OverlappingDataAndMapAreRefused) {
    ResourceMap back;
    auto bad = handBuiltFile();
    put32(bad, 8, be32At(bad, 8) + 4); // the data area runs into the map
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
}

TEST(ResourceMapDamage, MapOffsetsPastTheMapAreRefused) {
    ResourceMap back;
    const std::size_t map = 256 + 6;
    ASSERT_EQ(ResourceMap::parse(handBuiltFile(), back), noErr);
    auto bad = handBuiltFile();
    bad[map + 36] = 0x40; // reference list offset past the map
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    bad = handBuiltFile();
    bad[map + 40] = 0x00, bad[map + 41] = 0x03; // name offset: name runs past the map
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    bad = handBuiltFile();
    bad[map + 45] = 0x03; // data offset: data runs past the data area
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    bad = handBuiltFile();
    bad[map + 28] = 0x10; // 4097 types in a map that holds one
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    bad = handBuiltFile();
    bad[258] = 0x10; // the resource claims more data than the data area holds
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
}

TEST(ResourceMapDamage, SharedDataAndDuplicateIDsAreRefused) {
    ResourceMap m;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("TEST"), 1, "aa"));
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("TEST"), 2, "bb"));
    auto good = serialized(m);
    const std::size_t map = be32At(good, 4);
    const std::size_t secondRef = map + 28 + 2 + 8 + 12;
    ResourceMap back;
    auto bad = good;
    bad[secondRef + 7] = 0; // both resources' data at offset 0
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    bad = good;
    bad[secondRef + 1] = 1; // both resources have ID 1
    EXPECT_EQ(ResourceMap::parse(bad, back), mapReadErr);
    ASSERT_EQ(ResourceMap::parse(good, back), noErr);
}

TEST(ResourceMapWriting, RefusesWhatTheFormatCannotHold) {
    ResourceMap m;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("TEST"), 1, "a"));
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("TEST"), 1, "b"));
    std::vector<UInt8> out;
    EXPECT_EQ(m.serialize(out), paramErr);
    ResourceMap longName;
    longName.resources.push_back(
        makeResource(FOUR_CHAR_CODE("TEST"), 1, "a", std::string(256, 'n')));
    EXPECT_EQ(longName.serialize(out), paramErr);
}

} // namespace

namespace {

// Random damage anywhere in a file: the parser either refuses it or reads a map that writes
// and reads back unchanged; it never reads outside its input (checked under the sanitizers).
TEST(ResourceMapDamage, RandomDamageIsRefusedOrReadConsistently) {
    const auto good = serialized(sampleMap());
    std::mt19937 rng(20261208);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        auto bad = good;
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            // Most damage goes to the header and the map, where the offsets are.
            std::size_t at =
                rng() % 4 == 0
                    ? rng() % bad.size()
                    : (rng() % 2 ? rng() % 16 : be32At(good, 4) + rng() % be32At(good, 12));
            bad[at] = UInt8(rng());
        }
        if (rng() % 8 == 0)
            bad.resize(rng() % bad.size());
        ResourceMap m;
        if (ResourceMap::parse(bad, m) != noErr)
            continue;
        ++accepted;
        std::vector<UInt8> again;
        ASSERT_EQ(m.serialize(again), noErr) << "round " << round;
        ResourceMap back;
        ASSERT_EQ(ResourceMap::parse(again, back), noErr) << "round " << round;
        EXPECT_EQ(back, m) << "round " << round;
    }
    EXPECT_GT(accepted, 0); // some damage (to data bytes, names) is harmless
}

} // namespace
