// Calibration records that the calibration providers fill and the processing
// stages consume, and the view of a provider's calibrated frequencies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "ozr/export.h"

// A borrowed view of a provider's calibrated modulation frequencies in Hz,
// ascending. The provider owns the array; it stays valid until the provider
// loads its calibration again.
struct OZR_API FrequencyList {
    const uint32_t* frequencies = nullptr;
    size_t count = 0;
};

// Per-pixel phase offset for one modulation frequency, with the temperature
// it was recorded at and the distance drift per kelvin.
struct OZR_API PhaseOffsetData {
    std::shared_ptr<Image<PhaseType<uint16_t>>> offsetImage;
    float calibrationTemp_C = 25.0f;
    float sensorTempSlope_mm_K = 0.0f;
    uint32_t calibratedFrequency_Hz = 0;
};

// Phase error table for one modulation frequency: entry k is subtracted from
// the measured phases p with k = (p * lutSize) >> 16.
struct OZR_API PhaseErrorLUTData {
    std::unique_ptr<PhaseType<uint16_t>[]> lut;
    size_t lutSize = 0;
};

// Per-pixel dark offset of the grayscale image.
struct OZR_API DsnuOffsetData {
    std::shared_ptr<Image<uint16_t>> offsetImage;
};

// Per-pixel gain of the grayscale image, in units of 1/scaleFactor.
struct OZR_API PrnuGainData {
    std::shared_ptr<Image<uint16_t>> gainImage;
    uint16_t scaleFactor = 1000;
};
