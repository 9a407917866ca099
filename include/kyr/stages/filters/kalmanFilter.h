// Scalar Kalman filter per pixel of the distance image, in fixed point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/stage.h"

// Keeps an estimate and its variance per pixel. The measurement noise falls
// with the pixel's amplitude; the gain widens when the innovation is larger
// than expected. A pixel whose variance reaches uncertaintyThreshold^2 is
// published as LOW_AMPLITUDE (its estimate is still kept). Disabled after
// construction.
//
// Published as they came (the very distance image): every frame while
// disabled; the first enabled frame and every frame of another size than the
// estimate, which (re)start the state from it; and a frame whose amplitude
// image differs in size from the distance image, which leaves the state
// alone (logged once per change of the two sizes).
class KalmanFilter : public Stage<Image<uint16_t>> {
public:
    static constexpr uint16_t DEFAULT_UNCERTAINTY_THRESHOLD = 200;
    static constexpr uint16_t DEFAULT_PROCESS_NOISE = 1000;

    KalmanFilter();

    void setUncertaintyThreshold(uint16_t threshold) { uncertaintyThreshold = threshold; }
    uint16_t getUncertaintyThreshold() const { return uncertaintyThreshold; }

    void setProcessNoise(uint16_t value) { q = value; }
    uint16_t getProcessNoise() const { return q; }

    // Disabling also drops the state: the next enabled frame starts afresh.
    void setEnabled(bool enable);
    bool getEnabled() const { return enabled; }

    // kyr::status::OK; INVALID_ARGUMENT (logged) when an input image is
    // missing, NO_MEMORY when an image cannot be allocated (nothing
    // published; a failed restart leaves the filter uninitialised, a failed
    // update keeps the state of the previous frame).
    int action() override;

    Input<Image<uint16_t>> inputDistance;
    Input<Image<uint16_t>> inputAmplitude;

private:
    void reset();
    // (Re)starts the state from `distance`.
    int initialize(const Image<uint16_t>& distance);
    // True when the two images have one size; logs the first frame of each
    // new mismatch.
    bool sizesMatch(const Image<uint16_t>& distance, const Image<uint16_t>& amplitude);

    std::shared_ptr<Image<uint16_t>> estimate;
    std::shared_ptr<Image<uint16_t>> uncertainty;
    bool initialized = false;
    bool enabled = false;
    uint16_t uncertaintyThreshold = DEFAULT_UNCERTAINTY_THRESHOLD;
    uint16_t q = DEFAULT_PROCESS_NOISE;
    // The sizes of the last mismatch logged (distance w, h, amplitude w, h),
    // all 0 while the sizes agree.
    size_t loggedMismatch[4] = {};
};
