// ImageIO.cpp - image sources on QImageReader (see ImageIO.h). Needs no QApplication: Qt's
// image plug-ins load without one, so decoding never starts the windowing system.
#include "ImageIO.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <string>

struct CGImageSource {
    int refCount = 1;
    QString path;
    size_t count = 0;
};

CGImageSourceRef CGImageSourceCreateWithURL(CFURLRef url, CFDictionaryRef options) {
    if (url == nullptr || options != nullptr) {
        return nullptr;
    }
    const std::string path = toolbox::cf::path(url);
    const QString qpath = QFile::decodeName(QByteArray(path.data(), qsizetype(path.size())));
    const QFileInfo info(qpath);
    if (!info.isFile() || !info.isReadable()) {
        return nullptr;
    }
    auto* source = new CGImageSource;
    source->path = qpath;
    QImageReader reader(qpath);
    if (reader.canRead()) {
        const int n = reader.imageCount();
        source->count = n > 0 ? size_t(n) : 1;
    }
    return source;
}

size_t CGImageSourceGetCount(CGImageSourceRef isrc) {
    return isrc != nullptr ? isrc->count : 0;
}

CGImageRef CGImageSourceCreateImageAtIndex(CGImageSourceRef isrc, size_t index,
                                           CFDictionaryRef options) {
    if (isrc == nullptr || options != nullptr || index >= isrc->count) {
        return nullptr;
    }
    QImageReader reader(isrc->path);
    if (index > 0 && !reader.jumpToImage(int(index))) {
        // Formats that cannot jump (GIF) are read image by image.
        for (size_t i = 0; i < index; ++i) {
            if (reader.read().isNull()) {
                return nullptr;
            }
        }
    }
    QImage image = reader.read();
    if (image.isNull()) {
        return nullptr;
    }
    // Qt's premultiplied 32-bit pixels are 0xAARRGGBB words: bytes A, R, G, B in memory on a
    // big-endian processor and B, G, R, A on a little-endian one.
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    const CGBitmapInfo order = kCGBitmapByteOrder32Little;
#else
    const CGBitmapInfo order = kCGBitmapByteOrder32Big;
#endif
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, image.constBits(),
                                                              size_t(image.sizeInBytes()), nullptr);
    CGImageRef result =
        CGImageCreate(size_t(image.width()), size_t(image.height()), 8, 32,
                      size_t(image.bytesPerLine()), space, kCGImageAlphaPremultipliedFirst | order,
                      provider, nullptr, false, kCGRenderingIntentDefault);
    CGDataProviderRelease(provider); // the image has its own copy of the pixels
    CGColorSpaceRelease(space);
    return result;
}

CGImageSourceRef CGImageSourceRetain(CGImageSourceRef isrc) {
    if (isrc != nullptr) {
        ++isrc->refCount;
    }
    return isrc;
}

void CGImageSourceRelease(CGImageSourceRef isrc) {
    if (isrc != nullptr && --isrc->refCount == 0) {
        delete isrc;
    }
}
