// Screenshots as PNG files, written without a compression library: the
// image data go in stored (uncompressed) deflate blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // rows top to bottom, 3 bytes a pixel
};

// The PNG file's bytes: 8-bit RGB, no interlace.
std::vector<std::uint8_t> PngBytes(const Image& image);

bool WritePng(const std::wstring& path, const Image& image);
