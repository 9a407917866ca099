#include "kyr/stages/splitStack.h"

#include <cstddef>
#include <cstring>

#include "kyr/platform.h"
#include "kyr/status.h"

SplitStack::SplitStack() : Stage<Image<uint16_t>>("SplitStack") {
    input.setOwner(*this);
}

int SplitStack::action() {
    const std::shared_ptr<Image<uint16_t>> in = input.value();
    if (!in) {
        KYR_LOG_ERROR("Input image is null");
        return kyr::status::INVALID_ARGUMENT;
    }
    const size_t w = in->getWidth();
    const size_t h = in->getHeight();
    const size_t half = w / 2;  // an odd last column has no partner and is dropped
    std::shared_ptr<Image<uint16_t>> out = Image<uint16_t>::createNewBuffer(half, 2 * h);
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    const uint16_t* src = in->getData();
    uint16_t* dst = out->getData();
    if (half != 0) {
        for (size_t y = 0; y < h; ++y) {
            const uint16_t* row = src + y * w;
            std::memcpy(dst + (h + y) * half, row, half * sizeof(uint16_t));
            std::memcpy(dst + (h - 1 - y) * half, row + half, half * sizeof(uint16_t));
        }
    }
    buffer_out = std::move(out);
    return OK;
}
