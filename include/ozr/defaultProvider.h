// The provider that has no calibration: every request resets the record to its
// defaults and returns kyr::status::NO_ENTRY. Stages then run uncompensated.
#pragma once

#include <cstdint>

#include "ozr/calibrationData.h"
#include "ozr/calibrationProviderIF.h"
#include "ozr/export.h"

template <class DataT>
class OZR_API DefaultProvider final : public CalibrationProviderIF<DataT> {
public:
    // The one instance per record type in the process, created on first use.
    static DefaultProvider& getInstance();

    int getCalibrationData(uint32_t modFreq, DataT& data) override;
    void getCalibratedFrequencies(FrequencyList& freqList) override;

    DefaultProvider(const DefaultProvider&) = delete;
    DefaultProvider& operator=(const DefaultProvider&) = delete;

private:
    DefaultProvider();
    ~DefaultProvider() override;
};

extern template class DefaultProvider<PhaseOffsetData>;
extern template class DefaultProvider<PhaseErrorLUTData>;
extern template class DefaultProvider<DsnuOffsetData>;
extern template class DefaultProvider<PrnuGainData>;
