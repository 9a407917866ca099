#include <utility>

#include "kyr/platform.h"
#include "tofFrameImpl.h"

namespace ozr {

uint64_t TOFFrame::Impl::frameCounter = 0;

TOFFrame::TOFFrame(std::unique_ptr<Impl> impl, uint16_t width, uint16_t height)
    : pImpl(std::move(impl)), height(height), width(width) {}

TOFFrame::~TOFFrame() = default;
TOFFrame::TOFFrame(TOFFrame&&) noexcept = default;
TOFFrame& TOFFrame::operator=(TOFFrame&&) noexcept = default;

TOFMetadata TOFFrame::getMetadata() const {
    return pImpl ? pImpl->metadata : TOFMetadata{};
}

template <>
const uint16_t* TOFFrame::getData<uint16_t>(FrameType type, size_t index) const {
    if (!pImpl) {
        return nullptr;
    }
    const Image<uint16_t>* image = nullptr;
    switch (type) {
        case FrameType::DCS:
            if (index >= Impl::MAX_DCS_IMAGES) {
                return nullptr;
            }
            image = pImpl->dcsImages[index].get();
            if (image == nullptr) {
                KYR_LOG_ERROR("DCS image %zu not available in this acquisition mode", index);
            }
            break;
        case FrameType::AMPLITUDE:
            image = pImpl->amplitudeImage.get();
            if (image == nullptr) {
                KYR_LOG_ERROR("Amplitude image not available in this acquisition mode");
            }
            break;
        case FrameType::DISTANCE:
            image = pImpl->distanceImage.get();
            if (image == nullptr) {
                KYR_LOG_ERROR("Distance image not available in this acquisition mode");
            }
            break;
        case FrameType::GRAYSCALE:
            image = pImpl->grayscaleImage.get();
            if (image == nullptr) {
                KYR_LOG_ERROR("Grayscale image not available in this acquisition mode");
            }
            break;
        default:
            return nullptr;
    }
    return image != nullptr ? image->getData() : nullptr;
}

template <>
const float* TOFFrame::getData<float>(FrameType type, size_t /*index*/) const {
    if (!pImpl || type != FrameType::PHASE) {
        return nullptr;
    }
    if (!pImpl->phaseImage) {
        KYR_LOG_ERROR("Phase image not available in this acquisition mode");
        return nullptr;
    }
    return pImpl->phaseImage->getData();
}

}  // namespace ozr
