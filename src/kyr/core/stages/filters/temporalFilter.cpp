#include "kyr/stages/filters/temporalFilter.h"

#include <cmath>
#include <utility>

#include "kyr/platform.h"
#include "kyr/status.h"
#include "optimized/temporalKernels.h"

TemporalFilter::TemporalFilter() : input(*this) {
    setName("Temporal Filter");
    registerInput(&input);
}

void TemporalFilter::setAlpha(float value) {
    if (std::isnan(value)) {
        KYR_LOG_WARN("%s: alpha NaN ignored, keeping %g", getName(), static_cast<double>(alpha));
        return;
    }
    alpha = value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
}

void TemporalFilter::setEnabled(bool enable) {
    enabled = enable;
    if (!enable) {
        state.reset();
    }
}

int TemporalFilter::action() {
    auto in = input.value();
    if (!in) {
        KYR_LOG_ERROR("%s: Input image is null", getName());
        return kyr::status::INVALID_ARGUMENT;
    }
    if (!enabled) {
        buffer_out = std::move(in);
        return OK;
    }
    if (!state || state->getWidth() != in->getWidth() || state->getHeight() != in->getHeight()) {
        // A new average starts from this frame.
        state = in;
        buffer_out = std::move(in);
        return OK;
    }
    auto out = Image<uint16_t>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::temporalBlend(in->getData(), state->getData(), out->getData(), in->pixelCount(),
                                kyr::kernels::temporalWeight(alpha), threshold);
    state = out;
    buffer_out = std::move(out);
    return OK;
}
