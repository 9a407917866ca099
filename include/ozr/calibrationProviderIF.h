// Interface of every source of calibration records.
//
// The library instantiates the interface for the four record types and
// exports those instantiations, so that an application can derive its own
// provider and register it with CalibrationDataRegistry.
#pragma once

#include <cstdint>

#include "ozr/calibrationData.h"
#include "ozr/export.h"

template <class DataT>
class OZR_API CalibrationProviderIF {
public:
    virtual ~CalibrationProviderIF();

    // Fills `data` for the modulation frequency `modFreq` in Hz. Returns 0,
    // or a negative error code with `data` saying "no calibration".
    virtual int getCalibrationData(uint32_t modFreq, DataT& data) = 0;

    // Reports the frequencies for which calibration exists.
    virtual void getCalibratedFrequencies(FrequencyList& freqList) = 0;

protected:
    CalibrationProviderIF() = default;
    CalibrationProviderIF(const CalibrationProviderIF&) = default;
    CalibrationProviderIF& operator=(const CalibrationProviderIF&) = default;
};

extern template class CalibrationProviderIF<PhaseOffsetData>;
extern template class CalibrationProviderIF<PhaseErrorLUTData>;
extern template class CalibrationProviderIF<DsnuOffsetData>;
extern template class CalibrationProviderIF<PrnuGainData>;
