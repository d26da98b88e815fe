// Image sources: the first image of multi-image files, the common formats, and files that
// are no image.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QImage>

using namespace uitest;

namespace {

CGImageRef FirstImage(const std::string& path, size_t* count = nullptr) {
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(path.c_str()), CFIndex(path.size()), false);
    CGImageSourceRef source = CGImageSourceCreateWithURL(url, nullptr);
    CFRelease(url);
    if (count != nullptr) {
        *count = CGImageSourceGetCount(source);
    }
    CGImageRef image = nullptr;
    if (source != nullptr && CGImageSourceGetCount(source) > 0) {
        image = CGImageSourceCreateImageAtIndex(source, 0, nullptr);
    }
    CGImageSourceRelease(source);
    return image;
}

// The image's pixel (x, y from the top) as 0x00RRGGBB, through a bitmap context.
UInt32 Pixel(CGImageRef image, int x, int y) {
    const size_t w = CGImageGetWidth(image);
    const size_t h = CGImageGetHeight(image);
    std::vector<unsigned char> bytes(w * h * 4);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef ctx =
        CGBitmapContextCreate(bytes.data(), w, h, 8, w * 4, space, kCGImageAlphaPremultipliedFirst);
    CGContextDrawImage(ctx, CGRectMake(0, 0, CGFloat(w), CGFloat(h)), image);
    CGContextRelease(ctx);
    CGColorSpaceRelease(space);
    const unsigned char* p = bytes.data() + (size_t(y) * w + size_t(x)) * 4;
    return (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

bool Near(UInt32 a, UInt32 b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) {
            return false;
        }
    }
    return true;
}

TEST(ImageSources, AnAnimatedGifGivesItsFirstFrame) {
    TempDir dir;
    dir.write("anim.gif", GifBytes(6, 4, {RGBColor{0xFFFF, 0, 0}, RGBColor{0, 0, 0xFFFF}}));
    size_t count = 0;
    CGImageRef image = FirstImage(dir.file("anim.gif"), &count);
    EXPECT_EQ(count, 2u);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 6u);
    EXPECT_EQ(CGImageGetHeight(image), 4u);
    EXPECT_EQ(Pixel(image, 0, 0), 0xFF0000u);
    EXPECT_EQ(Pixel(image, 5, 3), 0xFF0000u);
    CGImageRelease(image);
}

TEST(ImageSources, AMultiPageTiffGivesItsFirstPage) {
    TempDir dir;
    dir.write("pages.tif",
              TiffBytes({{4, 3, RGBColor{0, 0xFFFF, 0}}, {2, 2, RGBColor{0xFFFF, 0, 0}}}));
    size_t count = 0;
    CGImageRef image = FirstImage(dir.file("pages.tif"), &count);
    EXPECT_EQ(count, 2u);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 4u);
    EXPECT_EQ(CGImageGetHeight(image), 3u);
    EXPECT_EQ(Pixel(image, 3, 2), 0x00FF00u);
    CGImageRelease(image);
}

TEST(ImageSources, CommonSingleImageFormats) {
    TempDir dir;
    QImage picture(8, 5, QImage::Format_RGB32);
    picture.fill(QColor(10, 120, 240));
    picture.setPixel(0, 0, qRgb(255, 255, 255));
    for (const char* format : {"png", "jpg", "bmp", "webp"}) {
        const std::string path = dir.file(std::string("p.") + format);
        ASSERT_TRUE(picture.save(QString::fromStdString(path), format, 100)) << format;
        size_t count = 0;
        CGImageRef image = FirstImage(path, &count);
        EXPECT_EQ(count, 1u) << format;
        ASSERT_NE(image, nullptr) << format;
        EXPECT_EQ(CGImageGetWidth(image), 8u);
        EXPECT_EQ(CGImageGetHeight(image), 5u);
        EXPECT_TRUE(Near(Pixel(image, 6, 3), 0x0A78F0, 8))
            << format << std::hex << Pixel(image, 6, 3);
        if (std::string(format) == "png" || std::string(format) == "bmp") { // lossless
            EXPECT_EQ(Pixel(image, 0, 0), 0xFFFFFFu) << format;             // rows are top-down
        }
        CGImageRelease(image);
    }
}

TEST(ImageSources, TransparencyIsPremultiplied) {
    TempDir dir;
    QImage picture(2, 1, QImage::Format_ARGB32);
    picture.setPixel(0, 0, qRgba(255, 0, 0, 128));
    picture.setPixel(1, 0, qRgba(0, 0, 255, 0));
    ASSERT_TRUE(picture.save(QString::fromStdString(dir.file("a.png"))));
    CGImageRef image = FirstImage(dir.file("a.png"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetAlphaInfo(image), kCGImageAlphaPremultipliedFirst);
    CGImageRelease(image);
}

TEST(ImageSources, FilesThatAreNoImageGiveNil) {
    TempDir dir;
    dir.write("notes.txt", "just some text\n");
    size_t count = 99;
    EXPECT_EQ(FirstImage(dir.file("notes.txt"), &count), nullptr);
    EXPECT_EQ(count, 0u);
    // A damaged PNG: the header promises an image, the data is cut.
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(QString::fromStdString(dir.file("whole.png")));
    std::string bytes;
    {
        FILE* f = std::fopen(dir.file("whole.png").c_str(), "rb");
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            bytes.append(buf, n);
        }
        std::fclose(f);
    }
    dir.write("cut.png", bytes.substr(0, 40));
    EXPECT_EQ(FirstImage(dir.file("cut.png")), nullptr);
    // Missing files and folders have no source at all.
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(dir.path().c_str()), CFIndex(dir.path().size()),
        true);
    EXPECT_EQ(CGImageSourceCreateWithURL(url, nullptr), nullptr);
    CFRelease(url);
    EXPECT_EQ(FirstImage(dir.file("missing.png"), &count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(CGImageSourceCreateWithURL(nullptr, nullptr), nullptr);
}

TEST(ImageSources, AnIndexPastTheLastImageGivesNil) {
    TempDir dir;
    dir.write("anim.gif", GifBytes(2, 2, {RGBColor{0xFFFF, 0, 0}, RGBColor{0, 0, 0xFFFF}}));
    const std::string path = dir.file("anim.gif");
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(path.c_str()), CFIndex(path.size()), false);
    CGImageSourceRef source = CGImageSourceCreateWithURL(url, nullptr);
    CFRelease(url);
    ASSERT_NE(source, nullptr);
    CGImageRef second = CGImageSourceCreateImageAtIndex(source, 1, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Pixel(second, 1, 1), 0x0000FFu);
    CGImageRelease(second);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 2, nullptr), nullptr);
    CGImageSourceRelease(source);
}

} // namespace
