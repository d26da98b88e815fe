// The configuration record's lifecycle: defaults, partial resets, per-clip copies and
// their release, the frame format and the current region.
#include "DataHandling.h"
#include "Globals.h"
#include "MacMemory.h"
#include "PlugInCore.h"
#include "TestSupport.h"
#include "ToolboxTesting.h"
#include "prefsloader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

using tessera_test::TempConfigHome;

pluginDataRec* NewRecord() {
    UInt32 size = 0;
    pGetConfigSize(size);
    return reinterpret_cast<pluginDataRec*>(NewPtrClear(Size(size)));
}

void ExpectWholeFrame(const relRect& r) {
    EXPECT_EQ(r.left, 0.0);
    EXPECT_EQ(r.right, 1.0);
    EXPECT_EQ(r.top, 0.0);
    EXPECT_EQ(r.bottom, 1.0);
}

CGImageRef MakeImage(int w, int h, UInt8 value) {
    std::vector<UInt8> pixels(size_t(w) * h * 4, value);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = 255;
    }
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef provider =
        CGDataProviderCreateWithData(nullptr, pixels.data(), pixels.size(), nullptr);
    CGImageRef image = CGImageCreate(size_t(w), size_t(h), 8, 32, size_t(w) * 4, space,
                                     kCGImageAlphaPremultipliedFirst, provider, nullptr, false,
                                     kCGRenderingIntentDefault);
    CGDataProviderRelease(provider);
    CGColorSpaceRelease(space);
    return image;
}

TEST(ConfigSize, IsTheRecordTheHostAllocates) {
    UInt32 size = 0;
    pGetConfigSize(size);
    EXPECT_EQ(size, sizeof(pluginDataRec));
    EXPECT_GE(size, 144u); // 144 in the 32-bit layout; pointers make it larger in 64 bits
}

TEST(ConfigDefaults, FreshRecordWithoutSavedConfiguration) {
    TempConfigHome home;
    pluginDataRec* r = NewRecord();
    InitPluginData(r);
    ExpectWholeFrame(r->startRel);
    ExpectWholeFrame(r->endRel);
    const SInt16 sliders[6] = {10, 10, 0, 0, 0, 0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(r->sliders[i], sliders[i]) << i;
    }
    for (int i = 0; i < 6; ++i) {
        const UInt16 v = i < 2 ? 65535 : 0;
        EXPECT_EQ(r->colors[i].red, v) << i;
        EXPECT_EQ(r->colors[i].green, v) << i;
        EXPECT_EQ(r->colors[i].blue, v) << i;
    }
    EXPECT_EQ(r->frameStartColor.red, 65535);
    EXPECT_EQ(r->frameStartColor.green, 0);
    EXPECT_EQ(r->frameStartColor.blue, 0);
    EXPECT_EQ(r->frameEndColor.red, 0);
    EXPECT_EQ(r->mediaType, 1);
    EXPECT_FALSE(r->sync);
    EXPECT_TRUE(r->outside);
    EXPECT_FALSE(r->clipActive);
    EXPECT_EQ(r->theOriginalImage, nullptr);
    EXPECT_EQ(r->theRendered, nullptr);
    EXPECT_FALSE(r->keepProps);
    EXPECT_EQ(r->blendMode, 1);
    DisposePtr(reinterpret_cast<Ptr>(r));
}

TEST(ConfigDefaults, InitMyPlugInCreatesAndFillsThePrefsFile) {
    TempConfigHome home;
    pluginDataRec* r = NewRecord();
    InitMyPlugIn(r);
    EXPECT_TRUE(std::filesystem::exists(home.prefsFile()));
    EXPECT_GT(std::filesystem::file_size(home.prefsFile()), 396u);
    EXPECT_EQ(r->sliders[0], 10);
    DisposePtr(reinterpret_cast<Ptr>(r));
}

TEST(ConfigDefaults, PartialResetKeepsPictureAndFrameFormat) {
    pluginDataRec* r = NewRecord();
    ResetConfig(r, true);
    CGImageRef picture = MakeImage(4, 4, 200);
    r->theOriginalImage = picture;
    r->mediaType = 3;
    r->sliders[0] = 99;
    r->keepProps = true;
    r->frameEndColor = RGBColor{1, 2, 3};
    ResetConfig(r, false);
    EXPECT_EQ(r->theOriginalImage, picture);
    EXPECT_EQ(r->mediaType, 3);
    EXPECT_EQ(r->sliders[0], 10);
    EXPECT_FALSE(r->keepProps);
    EXPECT_EQ(r->frameEndColor.green, 2); // never touched by a reset
    CGImageRelease(picture);
    DisposePtr(reinterpret_cast<Ptr>(r));
}

TEST(ConfigCopies, CopyIsByteIdenticalButForThePicture) {
    pluginDataRec* master = NewRecord();
    ResetConfig(master, true);
    master->startRel = relRect{0.1, 0.9, 0.2, 0.8};
    master->sliders[2] = 40;
    CGImageRef picture = MakeImage(2, 2, 10);
    master->theOriginalImage = picture;

    pluginDataRec* copy = NewRecord();
    pCopyConfig(master, copy);
    EXPECT_EQ(copy->theOriginalImage, nullptr);
    pluginDataRec expected;
    std::memcpy(static_cast<void*>(&expected), master, sizeof expected); // padding included
    expected.theOriginalImage = nullptr;
    EXPECT_EQ(std::memcmp(copy, &expected, sizeof expected), 0);

    pUncopyConfig(copy);
    DisposePtr(reinterpret_cast<Ptr>(copy));
    EXPECT_EQ(master->theOriginalImage, picture);
    CGImageRelease(picture);
    DisposePtr(reinterpret_cast<Ptr>(master));
}

TEST(ConfigCopies, EveryCopyOwnsItsOwnRenderedImage) {
    pluginDataRec* master = NewRecord();
    ResetConfig(master, true);
    master->theRendered = MakeImage(3, 2, 77);
    const long imagesBefore = toolbox::testing::GetLiveCounts().images;

    pluginDataRec* copy = NewRecord();
    pCopyConfig(master, copy);
    ASSERT_NE(copy->theRendered, nullptr);
    EXPECT_NE(copy->theRendered, master->theRendered); // a deep copy, not a reference
    EXPECT_EQ(CGImageGetWidth(copy->theRendered), 3u);
    EXPECT_EQ(toolbox::testing::GetLiveCounts().images, imagesBefore + 1);

    pUncopyConfig(copy);
    DisposePtr(reinterpret_cast<Ptr>(copy));
    EXPECT_EQ(toolbox::testing::GetLiveCounts().images, imagesBefore);
    EXPECT_EQ(CGImageGetHeight(master->theRendered), 2u); // the master's is still valid
    CGImageRelease(master->theRendered);
    DisposePtr(reinterpret_cast<Ptr>(master));
}

TEST(ConfigCopies, NilSourceOrDestinationCopiesNothing) {
    pluginDataRec* r = NewRecord();
    r->sliders[0] = 5;
    pCopyConfig(nullptr, r);
    pCopyConfig(r, nullptr);
    EXPECT_EQ(r->sliders[0], 5);
    DisposePtr(reinterpret_cast<Ptr>(r));
}

TEST(ConfigAccess, MediaFormatOfNilIsNTSC) {
    EXPECT_EQ(GetMediaFormat(nullptr), 1);
    pluginDataRec r{};
    r.mediaType = 2;
    EXPECT_EQ(GetMediaFormat(&r), 2);
}

TEST(ConfigAccess, CurrentRegionIsAlwaysStartRelWithOneRegion) {
    pluginDataRec r{};
    r.startRel = relRect{0.1, 0.2, 0.3, 0.4};
    r.endRel = relRect{0.5, 0.6, 0.7, 0.8};
    gConfigWorkSpace.theConfig = &r;
    gConfigWorkSpace.activeRel = 2;
    EXPECT_EQ(GetCurrentRel().left, 0.1);
    PutCurrentRel(relRect{0.9, 1.0, 0.0, 0.5});
    EXPECT_EQ(r.startRel.left, 0.9);
    EXPECT_EQ(r.endRel.left, 0.5);
    gConfigWorkSpace.theConfig = nullptr;
}

} // namespace
