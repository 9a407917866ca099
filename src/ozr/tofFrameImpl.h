// The images and metadata behind an ozr::TOFFrame.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "ozr/tofcam.h"

namespace ozr {

struct TOFFrame::Impl {
    static constexpr size_t MAX_DCS_IMAGES = 12;

    std::array<std::shared_ptr<Image<uint16_t>>, MAX_DCS_IMAGES> dcsImages;
    std::shared_ptr<Image<uint16_t>> amplitudeImage;
    std::shared_ptr<Image<uint16_t>> distanceImage;
    std::shared_ptr<Image<uint16_t>> grayscaleImage;
    std::shared_ptr<Image<float>> phaseImage;
    TOFMetadata metadata{};

    // Counts delivered frames; reset by each camera construction and advanced
    // by the thread that captures frames.
    static uint64_t frameCounter;
};

}  // namespace ozr
