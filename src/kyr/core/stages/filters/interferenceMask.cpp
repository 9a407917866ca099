#include "kyr/stages/filters/interferenceMask.h"

#include <algorithm>
#include <utility>

#include "calibration/calibrationLookup.h"
#include "core/stages/basic_math/imagePair.h"
#include "core/stages/filledImage.h"
#include "kyr/status.h"
#include "optimized/interferenceKernels.h"

InterferenceMask::InterferenceMask() {
    setName("Interference Mask");
    for (auto& in : input) {
        in.setOwner(*this);
    }
    DsnuOffsetData data;
    (void)lookUpCalibrationData(0, data);
    dsnuOffsetImage = data.offsetImage;
}

int InterferenceMask::action() {
    std::shared_ptr<Image<uint16_t>> dcs[4];
    for (int k = 0; k < 4; ++k) {
        dcs[k] = input[k].value();
    }
    const int r = kyr::kernels::checkImages(
        getName(), {dcs[0].get(), dcs[1].get(), dcs[2].get(), dcs[3].get()});
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(dcs[0]->getWidth(), dcs[0]->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    if (!enabled) {
        std::fill_n(out->getData(), out->pixelCount(), uint16_t{0});
        buffer_out = std::move(out);
        return OK;
    }
    // Without an offset image of the DCS size the flat default serves; it is
    // made once and kept, and remade silently should the DCS size change.
    if (!dsnuOffsetImage || !kyr::kernels::sameSize(*dsnuOffsetImage, *dcs[0])) {
        if (dsnuOffsetImage && !flatOffset) {
            KYR_LOG_WARN(
                "%s: DSNU offset image of %zu x %zu does not match the DCS images of %zu x %zu. "
                "Using the default offset %u.",
                getName(), dsnuOffsetImage->getWidth(), dsnuOffsetImage->getHeight(),
                dcs[0]->getWidth(), dcs[0]->getHeight(),
                unsigned{kyr::kernels::DEFAULT_DARK_OFFSET});
        }
        dsnuOffsetImage = kyr::kernels::filledImage(*dcs[0], kyr::kernels::DEFAULT_DARK_OFFSET);
        flatOffset = true;
        if (!dsnuOffsetImage) {
            return kyr::status::NO_MEMORY;
        }
    }
    kyr::kernels::interferenceMask(dcs[0]->getData(), dcs[1]->getData(), dcs[2]->getData(),
                                   dcs[3]->getData(), dsnuOffsetImage->getData(), threshold,
                                   out->getData(), out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
