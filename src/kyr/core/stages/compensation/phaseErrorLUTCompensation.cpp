#include "kyr/stages/compensation/phaseErrorLUTCompensation.h"

#include <utility>

#include "calibration/calibrationLookup.h"
#include "core/stages/compensation/phaseImage.h"
#include "kyr/status.h"
#include "optimized/phaseKernels.h"

PhaseErrorLUTCompensation::PhaseErrorLUTCompensation(uint32_t modulationFrequencyHz)
    : input(*this) {
    setName("Phase Error LUT");
    registerInput(&input);
    setModulationFrequency(modulationFrequencyHz);
}

void PhaseErrorLUTCompensation::setModulationFrequency(uint32_t hz) {
    PhaseErrorLUTData data;
    (void)lookUpCalibrationData(hz, data);
    setLut(std::move(data.lut), data.lutSize);
    if (!hasTable()) {
        KYR_LOG_WARN("No phase error LUT available for modulation frequency %u Hz.", hz);
    }
}

void PhaseErrorLUTCompensation::setLut(std::unique_ptr<PhaseType<uint16_t>[]> table, size_t size) {
    lut = std::move(table);
    lutSize = size;
    lutWide = hasTable() ? kyr::kernels::widenPhaseErrorTable(
                               reinterpret_cast<const uint16_t*>(lut.get()), lutSize)
                         : nullptr;
}

int PhaseErrorLUTCompensation::action() {
    auto in = input.value();
    if (!in) {
        return kyr::kernels::missingInput(getName());
    }
    if (!enabled || !hasTable()) {
        buffer_out = std::move(in);
        return OK;
    }
    auto out = kyr::kernels::newPhaseImageLike(*in);
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::compensatePhaseError(kyr::kernels::rawPhases(*in),
                                       reinterpret_cast<const uint16_t*>(lut.get()), lutWide.get(),
                                       lutSize, kyr::kernels::rawPhases(*out), in->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
