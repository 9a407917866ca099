// ozr-capture: PNG files through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace capture {

// Text chunks written into the file (key, text), for example what the
// values mean.
using PngText = std::vector<std::pair<std::string, std::string>>;

// A 16-bit grayscale PNG holding the values unchanged (lossless). Returns an
// empty string, or what went wrong.
std::string writeGray16Png(const std::string& path, uint32_t width, uint32_t height,
                           const uint16_t* pixels, const PngText& text = {});

// The same PNG held in memory: `png` receives the file's bytes.
std::string encodeGray16Png(std::string& png, uint32_t width, uint32_t height,
                            const uint16_t* pixels, const PngText& text = {});

// An 8-bit RGB PNG of width x height pixels, three bytes per pixel.
std::string writeRgb8Png(const std::string& path, uint32_t width, uint32_t height,
                         const uint8_t* rgb, const PngText& text = {});

}  // namespace capture
