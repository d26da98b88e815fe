// Tests of numbers as text, the string lists read through the resource chain, Pascal string
// helpers and the Mac Roman conversions.
#include "ResFixtures.h"
#include "TextUtils.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>

using toolbox::rsrc::Fork;
using toolbox::rsrc::ResourceMap;
using namespace restest;

namespace {

std::string num(SInt32 v) {
    Str255 s;
    NumToString(v, s);
    return fromP(s);
}

TEST(NumToString, DecimalWithSignAndNoPadding) {
    EXPECT_EQ(num(INT32_MIN), "-2147483648");
    EXPECT_EQ(num(0), "0");
    EXPECT_EQ(num(INT32_MAX), "2147483647");
    EXPECT_EQ(num(-7), "-7");
    EXPECT_EQ(num(1000), "1000");
    for (SInt32 v : {INT32_MIN, -1, 0, 42, INT32_MAX}) {
        Str255 s;
        NumToString(v, s);
        SInt32 back = 1;
        StringToNum(s, &back);
        EXPECT_EQ(back, v);
    }
}

class StringLists : public ::testing::Test {
  protected:
    TempDir dir;
    ResFileRefNum ref = kResFileNotOpened;
    void open(const ResourceMap& m) {
        writeResourceFile(dir / "lists.rsrc", m);
        ref = toolbox::rsrc::openResourceFile(dir / "lists.rsrc", Fork::data, fsRdPerm);
        ASSERT_NE(ref, kResFileNotOpened);
    }
    void TearDown() override {
        if (ref != kResFileNotOpened)
            CloseResFile(ref);
    }
    std::string text(SInt16 id, SInt16 index) {
        Str255 s;
        std::memset(s, 0x55, sizeof s);
        GetIndString(s, id, index);
        return fromP(s);
    }
};

TEST_F(StringLists, TextsByIndexFromOne) {
    ResourceMap m;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("STR#"), 129,
                                       strList({"Fine", "Coarse", "", std::string(255, 'x')})));
    open(m);
    EXPECT_EQ(text(129, 1), "Fine");
    EXPECT_EQ(text(129, 2), "Coarse");
    EXPECT_EQ(text(129, 3), "");
    EXPECT_EQ(text(129, 4), std::string(255, 'x'));
}

TEST_F(StringLists, MissingListOrIndexGivesEmptyText) {
    ResourceMap m;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("STR#"), 128, strList({"one", "two"})));
    open(m);
    EXPECT_EQ(text(128, 0), "");
    EXPECT_EQ(text(128, 3), "");
    EXPECT_EQ(text(128, -1), "");
    EXPECT_EQ(text(999, 1), "");
}

TEST_F(StringLists, DamagedListsAreNeverReadPastTheirEnd) {
    ResourceMap m;
    // Claims five texts, holds two.
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("STR#"), 1, strList({"a", "b"})));
    m.resources.back().data[1] = 5;
    // The second text's length byte runs past the end.
    m.resources.push_back(
        makeResource(FOUR_CHAR_CODE("STR#"), 2, std::string("\x00\x02\x01z\x30", 5)));
    // Shorter than the count itself.
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("STR#"), 3, std::string("\x00", 1)));
    open(m);
    EXPECT_EQ(text(1, 2), "b");
    EXPECT_EQ(text(1, 3), "");
    EXPECT_EQ(text(1, 5), "");
    EXPECT_EQ(text(2, 1), "z");
    EXPECT_EQ(text(2, 2), "");
    EXPECT_EQ(text(3, 1), "");
}

TEST(PascalStrings, ConversionsBothWaysAndCutAt255) {
    Str255 p;
    CopyCStringToPascal("Tessera", p);
    EXPECT_EQ(fromP(p), "Tessera");
    char c[256];
    CopyPascalStringToC(p, c);
    EXPECT_STREQ(c, "Tessera");
    std::string longText(300, 'q');
    CopyCStringToPascal(longText.c_str(), p);
    EXPECT_EQ(p[0], 255);
    char inPlace[64] = "in place";
    StringPtr ps = c2pstr(inPlace);
    EXPECT_EQ(fromP(ps), "in place");
    EXPECT_STREQ(p2cstr(ps), "in place");
}

TEST(MacRoman, ConvertsBothWays) {
    using toolbox::text::macRomanToUtf8;
    using toolbox::text::utf8ToMacRoman;
    EXPECT_EQ(macRomanToUtf8("\x8E"), std::optional<std::string>("\xC3\xA9"));     // é
    EXPECT_EQ(macRomanToUtf8("\xC9"), std::optional<std::string>("\xE2\x80\xA6")); // …
    EXPECT_EQ(macRomanToUtf8("\xAA"), std::optional<std::string>("\xE2\x84\xA2")); // ™
    EXPECT_EQ(utf8ToMacRoman("Region\xE2\x80\xA6"), std::optional<std::string>("Region\xC9"));
    for (int b = 0; b < 256; ++b) { // every Mac Roman byte has a character and comes back
        std::string one(1, char(b));
        auto u = macRomanToUtf8(one);
        ASSERT_TRUE(u) << b;
        EXPECT_EQ(utf8ToMacRoman(*u), std::optional<std::string>(one)) << b;
    }
    EXPECT_FALSE(utf8ToMacRoman("\xE6\x97\xA5")); // 日: not in Mac Roman
    EXPECT_FALSE(utf8ToMacRoman("\xC3"));         // cut sequence
    EXPECT_FALSE(utf8ToMacRoman("\xC0\xAF"));     // overlong
    EXPECT_FALSE(utf8ToMacRoman("\xED\xA0\x80")); // surrogate
}

} // namespace
