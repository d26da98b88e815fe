// pngwriter.h - one frame as a PNG file.
//
// Owns: WritePng. Promises: the ARGB frame is written as an 8-bit RGBA PNG (encoded with
// libavcodec), through a temporary file renamed over the name at the end, so a failure
// leaves no partial file; HostError (Output) on failure or when the file exists and
// `overwrite` is false.
#pragma once

#include <cstdint>
#include <filesystem>

namespace fxhost::media {

void WritePng(const std::filesystem::path& path, const std::uint8_t* argb, std::ptrdiff_t rowBytes,
              int width, int height, bool overwrite);

} // namespace fxhost::media
