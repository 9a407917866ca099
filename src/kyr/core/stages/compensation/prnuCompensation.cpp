#include "kyr/stages/compensation/prnuCompensation.h"

#include <utility>

#include "calibration/calibrationLookup.h"
#include "core/stages/basic_math/imagePair.h"
#include "core/stages/filledImage.h"
#include "kyr/status.h"
#include "optimized/grayscaleKernels.h"

static_assert(PRNUCompensation::PRNU_FRAC_BITS == kyr::kernels::PRNU_FRACTION_BITS);

PRNUCompensation::PRNUCompensation() : input(*this) {
    setName("PRNU Compensation");
    registerInput(&input);
    PrnuGainData data;
    (void)lookUpCalibrationData(0, data);
    setPrnuGainImage(data.gainImage, data.scaleFactor);
}

void PRNUCompensation::setPrnuGainImage(std::shared_ptr<Image<uint16_t>> prnuGainImage,
                                        uint16_t prnuScaleFactor) {
    unityGain = false;
    prnuReciprocal.reset();
    if (!prnuGainImage) {
        return;
    }
    auto reciprocal =
        Image<uint16_t>::createNewBuffer(prnuGainImage->getWidth(), prnuGainImage->getHeight());
    if (!reciprocal) {
        return;  // logged by the image; frames then take unity gain
    }
    const uint16_t* gain = prnuGainImage->getData();
    uint16_t* r = reciprocal->getData();
    for (size_t i = 0, n = prnuGainImage->pixelCount(); i < n; ++i) {
        r[i] = kyr::kernels::prnuReciprocalPixel(gain[i], prnuScaleFactor);
    }
    prnuReciprocal = std::move(reciprocal);
}

int PRNUCompensation::action() {
    auto in = input.value();
    const int r = kyr::kernels::checkImages(getName(), {in.get()});
    if (r != kyr::status::OK) {
        return r;
    }
    if (!enabled) {
        buffer_out = std::move(in);
        return OK;
    }
    // Reciprocals for another pixel count cannot serve the frame: they count
    // as missing. The unity image made then is the stage's own, and a later
    // frame of yet another size gets a new one without a word.
    if (!prnuReciprocal || prnuReciprocal->pixelCount() != in->pixelCount()) {
        const int rStandIn = kyr::kernels::standInCalibration(
            prnuReciprocal, *in, kyr::kernels::PRNU_UNITY, unityGain,
            "PRNU compensation enabled but no gain image available. Using unity gain.");
        if (rStandIn != kyr::status::OK) {
            return rStandIn;
        }
    }
    auto out = Image<uint16_t>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::prnuCompensate(in->getData(), prnuReciprocal->getData(), out->getData(),
                                 in->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
