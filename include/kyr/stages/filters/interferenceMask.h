// Error mask of the pixels whose four DCS samples do not fit one modulated
// signal, for instance because another camera's light reaches them.
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/stage.h"

// A pixel is undisturbed when DCS0 + DCS2 and DCS1 + DCS3 both lie strictly
// inside (2 * offset - threshold, 2 * offset + threshold), all modulo 65536;
// its mask value is then 0, else INTERFERENCE (64005). The dark offset per
// pixel comes from the DSNU calibration, fetched once at construction; the
// flat offset 2048 stands in when there is none, or when it has another size
// than the DCS images (with a warning once). Disabled, the mask is all 0.
class InterferenceMask : public Stage<Image<uint16_t>> {
public:
    InterferenceMask();

    void setEnabled(bool enable) { enabled = enable; }
    bool getEnabled() const { return enabled; }
    void setThreshold(uint16_t value) { threshold = value; }
    uint16_t getThreshold() const { return threshold; }

    // 0 with the mask published (the size of DCS0). SIZE_MISMATCH when a DCS
    // image differs in size from DCS0, INVALID_ARGUMENT for a missing one,
    // NO_MEMORY when an image cannot be allocated; nothing published then.
    int action() override;

    // DCS0 to DCS3 of one exposure.
    Input<Image<uint16_t>> input[4];

private:
    std::shared_ptr<Image<uint16_t>> dsnuOffsetImage;
    bool enabled = false;
    uint16_t threshold = 500;
    // dsnuOffsetImage is the stage's own flat image, not calibration.
    bool flatOffset = false;
};
