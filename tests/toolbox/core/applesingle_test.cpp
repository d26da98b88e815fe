// Tests of the AppleSingle container: round trips, a hand-built file as other tools write
// it, and damaged files.
#include "AppleSingle.h"

#include "ResFixtures.h"

#include <gtest/gtest.h>
#include <random>

namespace as = toolbox::applesingle;
using namespace restest;

namespace {

void put32(std::vector<UInt8>& v, UInt32 x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(UInt8(x >> (24 - 8 * i)));
}

// Finder Info ('TEXT', 'ttxt') then a 3-byte resource fork, as described by the format.
std::vector<UInt8> handBuilt() {
    std::vector<UInt8> f;
    put32(f, 0x00051600);
    put32(f, 0x00020000);
    f.insert(f.end(), 16, 0);
    f.push_back(0), f.push_back(2);
    put32(f, 9), put32(f, 50), put32(f, 32);
    put32(f, 2), put32(f, 82), put32(f, 3);
    for (char c : std::string("TEXTttxt"))
        f.push_back(UInt8(c));
    f.insert(f.end(), 24, 0);
    f.push_back('r'), f.push_back('e'), f.push_back('s');
    return f;
}

TEST(AppleSingle, ReadsAHandBuiltFile) {
    as::File file;
    ASSERT_EQ(as::parse(handBuilt(), file), noErr);
    EXPECT_EQ(file.fileType(), FOUR_CHAR_CODE("TEXT"));
    EXPECT_EQ(file.creator(), FOUR_CHAR_CODE("ttxt"));
    ASSERT_NE(file.find(as::kResourceFork), nullptr);
    EXPECT_EQ(textOf(file.find(as::kResourceFork)->bytes), "res");
    EXPECT_EQ(file.find(as::kDataFork), nullptr);
}

TEST(AppleSingle, WritesTheSameBytes) {
    as::File file;
    file.setTypeAndCreator(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"));
    file.set(as::kResourceFork, bytesOf("res"));
    EXPECT_EQ(as::serialize(file), handBuilt());
}

TEST(AppleSingle, RoundTripKeepsUnknownEntriesInOrder) {
    as::File file;
    file.set(as::kRealName, bytesOf("vemto-Prefs"));
    file.set(as::kResourceFork, bytesOf(std::string(1000, 'x')));
    file.set(77, {});
    file.setTypeAndCreator(FOUR_CHAR_CODE("Pref"), FOUR_CHAR_CODE("klmr"));
    as::File back;
    ASSERT_EQ(as::parse(as::serialize(file), back), noErr);
    EXPECT_EQ(back, file);
    EXPECT_EQ(back.entries.front().id, UInt32(as::kFinderInfo)); // Finder Info goes first
}

TEST(AppleSingle, DamagedFilesAreRefused) {
    as::File file;
    auto good = handBuilt();
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::vector<UInt8> cut(good.begin(), good.begin() + std::ptrdiff_t(n));
        EXPECT_EQ(as::parse(cut, file), mapReadErr) << "length " << n;
    }
    auto bad = good;
    bad[3] = 0x07; // magic
    EXPECT_EQ(as::parse(bad, file), mapReadErr);
    bad = good;
    bad[5] = 0x07; // version
    EXPECT_EQ(as::parse(bad, file), mapReadErr);
    bad = good;
    bad[26 + 12 + 7] = 70; // resource fork starts inside Finder Info
    EXPECT_EQ(as::parse(bad, file), mapReadErr);
    bad = good;
    bad[26 + 12 + 3] = 9; // two Finder Info entries
    EXPECT_EQ(as::parse(bad, file), mapReadErr);
    bad = good;
    bad[25] = 200; // more descriptors than the file holds
    EXPECT_EQ(as::parse(bad, file), mapReadErr);
    bad = good;
    bad[26 + 7] = 10; // Finder Info inside the header
    EXPECT_EQ(as::parse(bad, file), mapReadErr);
}

} // namespace

namespace {

// Random damage: refused, or read as entries that write and read back unchanged.
TEST(AppleSingle, RandomDamageIsRefusedOrReadConsistently) {
    as::File file;
    file.setTypeAndCreator(FOUR_CHAR_CODE("Pref"), FOUR_CHAR_CODE("klmr"));
    file.set(as::kResourceFork, bytesOf(std::string(300, 'r')));
    file.set(as::kRealName, bytesOf("name"));
    const auto good = as::serialize(file);
    std::mt19937 rng(1302);
    for (int round = 0; round < 20000; ++round) {
        auto bad = good;
        for (int e = 0, n = 1 + int(rng() % 3); e < n; ++e)
            bad[rng() % 2 ? rng() % 62 : rng() % bad.size()] = UInt8(rng());
        as::File read;
        if (as::parse(bad, read) != noErr)
            continue;
        as::File back;
        ASSERT_EQ(as::parse(as::serialize(read), back), noErr) << "round " << round;
        EXPECT_EQ(back, read) << "round " << round;
    }
}

} // namespace
