// Raw access to phase images for the array kernels, and the one-line
// handling of a missing input that the compensation stages share.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/platform.h"
#include "kyr/status.h"

namespace kyr::kernels {

static_assert(sizeof(PhaseType<uint16_t>) == sizeof(uint16_t) &&
                  std::is_standard_layout_v<PhaseType<uint16_t>>,
              "a phase pixel is its raw 16-bit value");

inline const uint16_t* rawPhases(const Image<PhaseType<uint16_t>>& image) {
    return reinterpret_cast<const uint16_t*>(image.getData());
}

inline uint16_t* rawPhases(Image<PhaseType<uint16_t>>& image) {
    return reinterpret_cast<uint16_t*>(image.getData());
}

// A new phase image of the size of `like`, or null (logged by the image).
inline std::shared_ptr<Image<PhaseType<uint16_t>>> newPhaseImageLike(const ImageBase& like) {
    return Image<PhaseType<uint16_t>>::createNewBuffer(like.getWidth(), like.getHeight());
}

// Logs that a stage ran without an input image and returns -22.
inline int missingInput(const char* stageName) {
    KYR_LOG_ERROR("%s: no input image", stageName);
    return kyr::status::INVALID_ARGUMENT;
}

}  // namespace kyr::kernels
