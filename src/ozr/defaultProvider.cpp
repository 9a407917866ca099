#include "ozr/defaultProvider.h"

#include "kyr/status.h"

template <class DataT>
DefaultProvider<DataT>& DefaultProvider<DataT>::getInstance() {
    static DefaultProvider instance;
    return instance;
}

template <class DataT>
DefaultProvider<DataT>::DefaultProvider() = default;

template <class DataT>
DefaultProvider<DataT>::~DefaultProvider() = default;

template <class DataT>
int DefaultProvider<DataT>::getCalibrationData(uint32_t /*modFreq*/, DataT& data) {
    data = DataT{};
    return kyr::status::NO_ENTRY;
}

template <class DataT>
void DefaultProvider<DataT>::getCalibratedFrequencies(FrequencyList& freqList) {
    freqList.frequencies = nullptr;
    freqList.count = 0;
}

template class DefaultProvider<PhaseOffsetData>;
template class DefaultProvider<PhaseErrorLUTData>;
template class DefaultProvider<DsnuOffsetData>;
template class DefaultProvider<PrnuGainData>;
