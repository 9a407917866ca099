// Reading of the "grayscale" section of the calibration index, shared by the
// dark offset and the gain provider.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "kyr/image.h"

namespace ozr::calibration {

// True when the index holds a usable "grayscale" section: an object with the
// key whose value is neither null nor an empty object or array.
bool hasGrayscaleSection(const nlohmann::json& index);

// Reads the image named by the key `fileKey` of the grayscale section (or by
// "drnu_file" in preference when `preferDrnu`), checked against the
// section's "width" x "height". Returns 0 with `image` set; the reader's code
// (-2, -22, -12) with its message otherwise, `image` untouched. May throw the
// JSON library's exceptions for a malformed section.
int readGrayscaleImage(const nlohmann::json& index, const std::string& dir, const char* fileKey,
                       bool preferDrnu, std::shared_ptr<Image<uint16_t>>& image);

}  // namespace ozr::calibration
