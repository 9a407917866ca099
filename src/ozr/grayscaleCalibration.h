// Reading of the "grayscale" section of the calibration index, shared by the
// dark offset and the gain provider.
#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "kyr/image.h"

namespace ozr::calibration {

// getCalibrationData of the grayscale providers: re-reads the index of `dir`
// and the image named by the key `fileKey` of its "grayscale" section (or by
// "drnu_file" in preference when `preferDrnu`), checked against the section's
// "width" x "height", into `image`; then hands the section to `readMore` for
// the record's other fields. Returns 0 or, with its message:
// - the index's code, kyr::status::NO_DATA for no usable section, or
//   kyr::status::INVALID_ARGUMENT for a key missing or of the wrong type
//   (also one read by `readMore`), `image` emptied;
// - the reader's code (kyr::status::NO_ENTRY, INVALID_ARGUMENT, NO_MEMORY)
//   for the image file, `image` untouched.
int requestGrayscaleImage(const std::string& dir, const char* fileKey, bool preferDrnu,
                          std::shared_ptr<Image<uint16_t>>& image,
                          const std::function<void(const nlohmann::json& section)>& readMore = {});

}  // namespace ozr::calibration
