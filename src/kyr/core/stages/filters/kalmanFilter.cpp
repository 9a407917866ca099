#include "kyr/stages/filters/kalmanFilter.h"

#include <algorithm>
#include <utility>

#include "kyr/platform.h"
#include "kyr/status.h"
#include "optimized/temporalKernels.h"

KalmanFilter::KalmanFilter() : inputDistance(*this), inputAmplitude(*this) {
    setName("Kalman Filter");
    registerInput(&inputDistance);
    registerInput(&inputAmplitude);
}

void KalmanFilter::setEnabled(bool enable) {
    enabled = enable;
    if (!enable) {
        reset();
    }
}

void KalmanFilter::reset() {
    estimate.reset();
    uncertainty.reset();
    initialized = false;
}

int KalmanFilter::initialize(const Image<uint16_t>& distance) {
    reset();
    auto x = Image<uint16_t>::createNewBuffer(distance.getWidth(), distance.getHeight());
    auto p = Image<uint16_t>::createNewBuffer(distance.getWidth(), distance.getHeight());
    if (!x || !p) {
        return kyr::status::NO_MEMORY;
    }
    x->setData(distance.getData(), distance.pixelCount());
    std::fill_n(p->getData(), p->pixelCount(), uint16_t{0});
    estimate = std::move(x);
    uncertainty = std::move(p);
    initialized = true;
    return kyr::status::OK;
}

bool KalmanFilter::sizesMatch(const Image<uint16_t>& distance, const Image<uint16_t>& amplitude) {
    const size_t sizes[4] = {distance.getWidth(), distance.getHeight(), amplitude.getWidth(),
                             amplitude.getHeight()};
    if (sizes[0] == sizes[2] && sizes[1] == sizes[3]) {
        std::fill(std::begin(loggedMismatch), std::end(loggedMismatch), size_t{0});
        return true;
    }
    if (!std::equal(std::begin(sizes), std::end(sizes), std::begin(loggedMismatch))) {
        KYR_LOG_ERROR(
            "%s: amplitude image (%zu x %zu) differs in size from the distance image (%zu x %zu); "
            "distances passed on unfiltered",
            getName(), sizes[2], sizes[3], sizes[0], sizes[1]);
        std::copy(std::begin(sizes), std::end(sizes), std::begin(loggedMismatch));
    }
    return false;
}

int KalmanFilter::action() {
    auto distance = inputDistance.value();
    const auto amplitude = inputAmplitude.value();
    if (!distance || !amplitude) {
        KYR_LOG_ERROR("%s: Input image is null", getName());
        return kyr::status::INVALID_ARGUMENT;
    }
    if (!enabled || !sizesMatch(*distance, *amplitude)) {
        buffer_out = std::move(distance);
        return OK;
    }
    if (!initialized || !estimate || estimate->getWidth() != distance->getWidth() ||
        estimate->getHeight() != distance->getHeight()) {
        const int r = initialize(*distance);
        if (r != kyr::status::OK) {
            return r;
        }
        buffer_out = std::move(distance);
        return OK;
    }
    auto out = Image<uint16_t>::createNewBuffer(distance->getWidth(), distance->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::kalmanUpdate(distance->getData(), amplitude->getData(), estimate->getData(),
                               uncertainty->getData(), out->getData(), distance->pixelCount(), q,
                               kyr::kernels::kalmanLimit(uncertaintyThreshold));
    buffer_out = std::move(out);
    return OK;
}
