// Exponential moving average of the distance image over time, with a jump
// threshold.
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/stage.h"

// Blends each new distance into the running average with the weight alpha
// (12 fraction bits: trunc(alpha * 4096)); a pixel that differs from its
// average by `threshold` or more takes the new value at once. Disabled after
// construction. A disabled filter, the first enabled frame and a frame of
// another size than the previous one are published as they came (the very
// image); the last two start a new average. The published output is itself
// the state for the next frame.
class TemporalFilter : public Stage<Image<uint16_t>> {
public:
    static constexpr float DEFAULT_ALPHA = 0.25f;
    static constexpr uint16_t DEFAULT_THRESHOLD = 300;

    TemporalFilter();

    // Stores alpha clamped to [0, 1]. NaN is refused with a warning and the
    // previous alpha kept.
    void setAlpha(float alpha);
    float getAlpha() const { return alpha; }

    void setThreshold(uint16_t value) { threshold = value; }
    uint16_t getThreshold() const { return threshold; }

    // Disabling also releases the running average.
    void setEnabled(bool enable);
    bool getEnabled() const { return enabled; }

    // kyr::status::OK; INVALID_ARGUMENT (logged) without an input image,
    // NO_MEMORY when the output image cannot be allocated (the average is
    // kept, nothing published).
    int action() override;

    Input<Image<uint16_t>> input;

private:
    std::shared_ptr<Image<uint16_t>> state;
    float alpha = DEFAULT_ALPHA;
    uint16_t threshold = DEFAULT_THRESHOLD;
    bool enabled = false;
};
