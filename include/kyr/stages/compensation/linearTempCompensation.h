// Subtracts one global phase shift that grows linearly with the sensor
// temperature's distance from the calibration temperature.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/stage.h"
#include "ozr/calibrationData.h"

// shift = raw phase of 4 pi f d / c for the drift d = (T - Tc) * s mm, from
// the phase offset calibration (Tc, s, f) and the last temperature T
// received; out[i] = in[i] - shift modulo 65536. Before any temperature has
// arrived the shift is 0. When disabled the input image itself is published.
class LinearTempCompensation : public Stage<Image<PhaseType<uint16_t>>> {
public:
    explicit LinearTempCompensation(uint32_t modulationFrequencyHz);

    // Fetches the phase offset calibration for `hz` into calibrationData.
    void setModulationFrequency(uint32_t hz);

    void setCompensation(bool enable) { enabled = enable; }
    bool isCompensationActive() const { return enabled; }

    // 0; kyr::status::INVALID_ARGUMENT without an input image,
    // kyr::status::NO_MEMORY when the output cannot be allocated.
    int action() override;

    Input<Image<PhaseType<uint16_t>>> phaseInput;
    // Sensor temperature in degrees Celsius; buffered, so the last value
    // serves every following frame.
    Input<float> tempInput;

private:
    bool enabled = true;
    PhaseOffsetData calibrationData;
};
