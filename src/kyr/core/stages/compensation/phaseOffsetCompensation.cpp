#include "kyr/stages/compensation/phaseOffsetCompensation.h"

#include <utility>

#include "calibration/calibrationLookup.h"
#include "core/stages/compensation/phaseImage.h"
#include "core/stages/filledImage.h"
#include "kyr/status.h"
#include "optimized/phaseKernels.h"

PhaseOffsetCompensation::PhaseOffsetCompensation(uint32_t modulationFrequencyHz) : input(*this) {
    setName("Phase Offset Comp.");
    registerInput(&input);
    setModulationFrequency(modulationFrequencyHz);
}

void PhaseOffsetCompensation::setModulationFrequency(uint32_t hz) {
    PhaseOffsetData data;
    (void)lookUpCalibrationData(hz, data);
    phaseOffsetImage = data.offsetImage;
    zeroOffset = false;
    if (!phaseOffsetImage && enabled) {
        KYR_LOG_WARN(
            "No phase offset image available for modulation frequency %u Hz. Phase offset "
            "compensation will be set to 0.",
            hz);
    }
}

void PhaseOffsetCompensation::setPhaseOffsetImage(
    std::shared_ptr<Image<PhaseType<uint16_t>>> image) {
    phaseOffsetImage = std::move(image);
    zeroOffset = false;
}

int PhaseOffsetCompensation::action() {
    auto in = input.value();
    if (!in) {
        return kyr::kernels::missingInput(getName());
    }
    if (!enabled) {
        buffer_out = std::move(in);
        return OK;
    }
    // An offset image with fewer pixels than the frame (for example after a
    // change of image size) cannot serve it: it counts as missing.
    if (!phaseOffsetImage || phaseOffsetImage->pixelCount() < in->pixelCount()) {
        const int rStandIn = kyr::kernels::standInCalibration(
            phaseOffsetImage, *in, PhaseType<uint16_t>(), zeroOffset,
            "Phase offset compensation enabled but no offset image available. Using zero offset.");
        if (rStandIn != kyr::status::OK) {
            return rStandIn;
        }
    }
    auto out = kyr::kernels::newPhaseImageLike(*in);
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::subtractPhase(kyr::kernels::rawPhases(*in),
                                kyr::kernels::rawPhases(*phaseOffsetImage),
                                kyr::kernels::rawPhases(*out), in->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
