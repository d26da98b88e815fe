// The pixel record and its packing, direct pixel access with lock-state discipline, and
// the small conversions of numbers, colours and command codes.
#include "PixelLib.h"
#include "TestSupport.h"
#include "commonprocs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tessera_test::Frame;

std::string Text(const Str255 s) {
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

TEST(PixelPacking, LongIntToPixRecAndBack) {
    const pixRec p = LongInt2PixRec(SInt32(0xFF123456u));
    EXPECT_EQ(p.alpha, 0);
    EXPECT_EQ(p.red, 0x12);
    EXPECT_EQ(p.green, 0x34);
    EXPECT_EQ(p.blue, 0x56);
    EXPECT_EQ(PixRec2LongInt(p), 0x00123456);
    EXPECT_EQ(PixRec2LongInt(pixRec{255, 0, 0, 0}), 0);
    EXPECT_EQ(PixRec2LongInt(pixRec{0, 255, 255, 255}), 0x00FFFFFF);
}

TEST(PixelPacking, PixRecIsMemoryOrderAlphaFirst) {
    Frame f(3, 2);
    f.set(2, 1, {1, 2, 3, 4});
    const pixRec* p = PixAddress(GetPixBaseAddr(GetGWorldPixMap(f.get())),
                                 GetPixRowBytes(GetGWorldPixMap(f.get())), 2, 1);
    EXPECT_EQ(p->alpha, 1);
    EXPECT_EQ(p->red, 2);
    EXPECT_EQ(p->green, 3);
    EXPECT_EQ(p->blue, 4);
}

TEST(DirectPixelAccess, HandsOutTheBuffersOwnGeometryAndLocks) {
    Frame f(10, 7);
    PixMapHandle pm = GetGWorldPixMap(f.get());
    UnlockPixels(pm);
    Ptr base = nullptr;
    SInt32 rowBytes = 0;
    Rect frame{};
    GWorldFlags state = 0;
    GetPixInfoFromGWorld(f.get(), base, rowBytes, frame, state);
    EXPECT_EQ(base, GetPixBaseAddr(pm));
    EXPECT_EQ(rowBytes, GetPixRowBytes(pm));
    EXPECT_GT(rowBytes, 4 * 10); // the toolbox pads rows; code must not assume 4 x width
    EXPECT_EQ(frame.right, 10);
    EXPECT_EQ(frame.bottom, 7);
    EXPECT_EQ(state & pixelsLocked, 0u);
    EXPECT_NE(GetPixelsState(pm) & pixelsLocked, 0u);
    SetPixelsState(pm, state);
    EXPECT_EQ(GetPixelsState(pm) & pixelsLocked, 0u); // unlocked again
}

TEST(DirectPixelAccess, RestoringALockedBufferLeavesItLocked) {
    Frame f(4, 4);
    PixMapHandle pm = GetGWorldPixMap(f.get());
    LockPixels(pm);
    Ptr base = nullptr;
    SInt32 rowBytes = 0;
    Rect frame{};
    GWorldFlags state = 0;
    GetPixInfoFromGWorld(f.get(), base, rowBytes, frame, state);
    SetPixelsState(pm, state);
    EXPECT_NE(GetPixelsState(pm) & pixelsLocked, 0u);
}

TEST(ColourConversions, PackingKeepsTheHighBytes) {
    EXPECT_EQ(RGBColor2LongInt(SetRGBColor(65535, 32768, 255)), 0x00FF8000);
    const RGBColor c = LongInt2RGBColor(0x12FF8001);
    EXPECT_EQ(c.red, 65280);
    EXPECT_EQ(c.green, 32768);
    EXPECT_EQ(c.blue, 256);
    const RGBColor back = LongInt2RGBColor(RGBColor2LongInt(SetRGBColor(65535, 65535, 65535)));
    EXPECT_EQ(back.red, 65280);
    EXPECT_EQ(back.blue, 65280);
}

TEST(NumberConversions, Num2TextIsPlainDecimal) {
    Str255 s;
    Num2Text(-2147483647 - 1, s);
    EXPECT_EQ(Text(s), "-2147483648");
    Num2Text(0, s);
    EXPECT_EQ(Text(s), "0");
    Num2Text(1234567, s);
    EXPECT_EQ(Text(s), "1234567");
}

TEST(CommandConversions, CommandID2StrSpellsTheCodeMostSignificantByteFirst) {
    Str255 s;
    CommandID2Str(FOUR_CHAR_CODE("Info"), s);
    EXPECT_EQ(Text(s), "Info");
    CommandID2Str(FOUR_CHAR_CODE("ok  "), s);
    EXPECT_EQ(Text(s), "ok  ");
    CommandID2Str(0x41004243, s);
    ASSERT_EQ(s[0], 4);
    EXPECT_EQ(s[2], 0);
}

TEST(StringConversions, MakeCFStringReadsMacRoman) {
    Str255 s;
    CStr2Str255("Caf\x8E", s); // Mac Roman e-acute
    CFStringRef cf = MakeCFString(s);
    ASSERT_NE(cf, nullptr);
    char utf8[16];
    ASSERT_TRUE(CFStringGetCString(cf, utf8, sizeof utf8, kCFStringEncodingUTF8));
    EXPECT_STREQ(utf8, "Caf\xC3\xA9");
    CFRelease(cf);
}

TEST(StringConversions, Str255CompositionsAreCutAt255) {
    Str255 s;
    CStr2Str255(std::string(300, 'x'), s);
    EXPECT_EQ(s[0], 255);
    CStr2Str255("abc", s);
    AppendStr255(s, std::string(300, 'y'));
    EXPECT_EQ(s[0], 255);
    EXPECT_EQ(s[3], 'c');
    EXPECT_EQ(s[4], 'y');
}

TEST(SaturatingConversions, KeepTheSixteenBitRange) {
    EXPECT_EQ(SaturateToSInt16(1e9), 32767);
    EXPECT_EQ(SaturateToSInt16(-1e9), -32768);
    EXPECT_EQ(SaturateToSInt16(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(SaturateToSInt16(-7.9), -7);
    EXPECT_EQ(SaturateToSInt16(SInt64(70000)), 32767);
    EXPECT_EQ(SaturateToSInt16(SInt64(-12)), -12);
}

} // namespace
