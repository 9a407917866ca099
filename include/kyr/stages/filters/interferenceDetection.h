// Interference test and latch in one stage, working directly on the image
// to be guarded (for example distance).
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/stage.h"

// The test of InterferenceMask on DCS0 to DCS3: an undisturbed pixel passes
// the input on and is remembered as the pixel's last value; a disturbed one
// becomes INTERFERENCE (64005), or its last undisturbed value (0 before the
// first) when latching. The dark offset per pixel comes from the DSNU
// calibration, fetched once at construction; the flat offset 2048 stands in
// when there is none, or when it has another size than the images (with a
// warning once). A threshold of 0 switches the stage off: the input image
// itself is published.
class InterferenceDetection : public Stage<Image<uint16_t>> {
public:
    InterferenceDetection();

    void setThreshold(uint16_t value) { threshold = value; }
    uint16_t getThreshold() const { return threshold; }
    void setLatch(bool enable) { latch = enable; }
    bool getLatch() const { return latch; }

    // 0 with the result published (the size of the input). SIZE_MISMATCH when
    // an image differs in size from DCS0, INVALID_ARGUMENT for a missing one,
    // NO_MEMORY when an image cannot be allocated; nothing published then.
    int action() override;

    // DCS0 to DCS3 of one exposure.
    Input<Image<uint16_t>> dcs_in[4];
    // The image to be guarded.
    Input<Image<uint16_t>> input;

private:
    uint16_t threshold = 0;
    bool latch = false;
    std::shared_ptr<Image<uint16_t>> lastValue;
    std::shared_ptr<Image<uint16_t>> dsnuOffsetImage;
};
