#include "kyr/stages/compensation/phaseToDistance.h"

#include <utility>

#include "core/stages/compensation/phaseImage.h"
#include "kyr/status.h"
#include "optimized/phaseKernels.h"

PhaseToDistance::PhaseToDistance(uint32_t modulationFrequencyHz) : phaseInput(*this) {
    setName("Phase to Dist.");
    registerInput(&phaseInput);
    setModulationFrequency(modulationFrequencyHz);
}

void PhaseToDistance::setModulationFrequency(uint32_t hz) {
    scaleFactor = kyr::kernels::distanceScale(hz);
    if (hz == 0) {
        KYR_LOG_WARN("Modulation frequency 0 Hz has no distance scale. Distances will be 0.");
    }
}

int PhaseToDistance::action() {
    auto in = phaseInput.value();
    if (!in) {
        return kyr::kernels::missingInput(getName());
    }
    auto out = Image<uint16_t>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::phaseToDistance(kyr::kernels::rawPhases(*in), scaleFactor, out->getData(),
                                  in->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
