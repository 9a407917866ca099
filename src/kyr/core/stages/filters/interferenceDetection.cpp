#include "kyr/stages/filters/interferenceDetection.h"

#include <cstring>
#include <utility>

#include "calibration/calibrationLookup.h"
#include "core/stages/basic_math/imagePair.h"
#include "core/stages/filledImage.h"
#include "kyr/status.h"
#include "optimized/interferenceKernels.h"

InterferenceDetection::InterferenceDetection() {
    setName("Interf. Detection");
    for (auto& in : dcs_in) {
        in.setOwner(*this);
    }
    input.setOwner(*this);
    DsnuOffsetData data;
    (void)lookUpCalibrationData(0, data);
    dsnuOffsetImage = data.offsetImage;
}

int InterferenceDetection::action() {
    // Every input is taken on every run, so that a stage switched on later
    // never tests a stale set of DCS images.
    std::shared_ptr<Image<uint16_t>> dcs[4];
    for (int k = 0; k < 4; ++k) {
        dcs[k] = dcs_in[k].value();
    }
    auto in = input.value();
    if (threshold == 0) {
        const int r = kyr::kernels::checkImages(getName(), {in.get()});
        if (r != kyr::status::OK) {
            return r;
        }
        buffer_out = std::move(in);
        return OK;
    }
    const int r = kyr::kernels::checkImages(
        getName(), {dcs[0].get(), dcs[1].get(), dcs[2].get(), dcs[3].get(), in.get()});
    if (r != kyr::status::OK) {
        return r;
    }
    if (dsnuOffsetImage && !kyr::kernels::sameSize(*dsnuOffsetImage, *in)) {
        KYR_LOG_WARN(
            "%s: DSNU offset image of %zu x %zu does not match the images of %zu x %zu. Using the "
            "default offset %u.",
            getName(), dsnuOffsetImage->getWidth(), dsnuOffsetImage->getHeight(), in->getWidth(),
            in->getHeight(), unsigned{kyr::kernels::DEFAULT_DARK_OFFSET});
        dsnuOffsetImage.reset();
    }
    // The last values start at 0, and again when the image size changes.
    if (!lastValue || !kyr::kernels::sameSize(*lastValue, *in)) {
        lastValue = kyr::kernels::filledImage<uint16_t>(*in, 0);
        if (!lastValue) {
            return kyr::status::NO_MEMORY;
        }
    }
    auto out = Image<uint16_t>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    const size_t n = in->pixelCount();
    uint16_t* result = out->getData();
    uint16_t* last = lastValue->getData();
    // First the interference mask, in the output...
    if (dsnuOffsetImage) {
        kyr::kernels::interferenceMask(dcs[0]->getData(), dcs[1]->getData(), dcs[2]->getData(),
                                       dcs[3]->getData(), dsnuOffsetImage->getData(), threshold,
                                       result, n);
    } else {
        kyr::kernels::interferenceMaskFlat(dcs[0]->getData(), dcs[1]->getData(), dcs[2]->getData(),
                                           dcs[3]->getData(), kyr::kernels::DEFAULT_DARK_OFFSET,
                                           threshold, result, n);
    }
    // ...then the last values keep their pixel where it is flagged and take
    // the input elsewhere...
    kyr::kernels::latch(in->getData(), result, last, last, n);
    // ...and the output is either those held values, or the input with the
    // flagged pixels left at the mask's code.
    if (latch) {
        std::memcpy(result, last, n * sizeof(uint16_t));
    } else {
        kyr::kernels::latch(in->getData(), result, result, result, n);
    }
    buffer_out = std::move(out);
    return OK;
}
