// Dark signal non-uniformity: subtracts the per-pixel dark offset of the
// grayscale calibration.
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/stage.h"

// out[i] = in[i] - offset[i], saturating at 0. The offset image comes from
// the calibration registry once, at construction. Without one of the
// frame's size a zero offset takes its place, with a warning once. When
// disabled the input image itself is published.
class DSNUCompensation : public Stage<Image<uint16_t>> {
public:
    DSNUCompensation();

    void setCompensation(bool active) { enabled = active; }
    bool isCompensationActive() const { return enabled; }

    // 0; INVALID_ARGUMENT without an input image, NO_MEMORY when an image
    // cannot be allocated (nothing published then).
    int action() override;

    Input<Image<uint16_t>> input;

private:
    std::shared_ptr<Image<uint16_t>> dsnuOffsetImage;
    bool enabled = true;
    // dsnuOffsetImage is the stage's own zero image, not calibration.
    bool zeroOffset = false;
};
