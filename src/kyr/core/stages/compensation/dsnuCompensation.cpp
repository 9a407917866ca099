#include "kyr/stages/compensation/dsnuCompensation.h"

#include <utility>

#include "calibration/calibrationLookup.h"
#include "core/stages/basic_math/imagePair.h"
#include "core/stages/filledImage.h"
#include "kyr/status.h"
#include "optimized/grayscaleKernels.h"

DSNUCompensation::DSNUCompensation() : input(*this) {
    setName("DSNU Compensation");
    registerInput(&input);
    DsnuOffsetData data;
    (void)lookUpCalibrationData(0, data);
    dsnuOffsetImage = data.offsetImage;
}

int DSNUCompensation::action() {
    auto in = input.value();
    const int r = kyr::kernels::checkImages(getName(), {in.get()});
    if (r != kyr::status::OK) {
        return r;
    }
    if (!enabled) {
        buffer_out = std::move(in);
        return OK;
    }
    // An offset image of another size than the frame cannot serve it: it
    // counts as missing. The zero image made then is the stage's own, and a
    // later frame of yet another size gets a new one without a word.
    if (!dsnuOffsetImage || !kyr::kernels::sameSize(*dsnuOffsetImage, *in)) {
        const int rStandIn = kyr::kernels::standInCalibration<uint16_t>(
            dsnuOffsetImage, *in, 0, zeroOffset,
            "DNSU compensation enabled but no offset image available. Using zero offset.");
        if (rStandIn != kyr::status::OK) {
            return rStandIn;
        }
    }
    auto out = Image<uint16_t>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::dsnuCompensate(in->getData(), dsnuOffsetImage->getData(), out->getData(),
                                 in->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
