#include "kyr/stages/compensation/linearTempCompensation.h"

#include <utility>

#include "calibration/calibrationLookup.h"
#include "core/stages/compensation/phaseImage.h"
#include "kyr/status.h"
#include "optimized/phaseKernels.h"

LinearTempCompensation::LinearTempCompensation(uint32_t modulationFrequencyHz)
    : phaseInput(*this), tempInput(*this) {
    setName("Linear Temp. Comp.");
    registerInput(&phaseInput);
    registerInput(&tempInput);
    tempInput.setBuffered(true);
    setModulationFrequency(modulationFrequencyHz);
}

void LinearTempCompensation::setModulationFrequency(uint32_t hz) {
    (void)lookUpCalibrationData(hz, calibrationData);
}

int LinearTempCompensation::action() {
    auto in = phaseInput.value();
    if (!in) {
        return kyr::kernels::missingInput(getName());
    }
    if (!enabled) {
        buffer_out = std::move(in);
        return OK;
    }
    // Without a temperature yet there is no drift to remove.
    const auto temperature = tempInput.value();
    const uint16_t shift = temperature ? kyr::kernels::temperatureShift(
                                             *temperature, calibrationData.calibrationTemp_C,
                                             calibrationData.sensorTempSlope_mm_K,
                                             calibrationData.calibratedFrequency_Hz)
                                       : 0;
    auto out = kyr::kernels::newPhaseImageLike(*in);
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::subtractPhaseShift(kyr::kernels::rawPhases(*in), shift,
                                     kyr::kernels::rawPhases(*out), in->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
