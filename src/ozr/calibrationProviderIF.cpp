#include "ozr/calibrationProviderIF.h"

template <class DataT>
CalibrationProviderIF<DataT>::~CalibrationProviderIF() = default;

template class CalibrationProviderIF<PhaseOffsetData>;
template class CalibrationProviderIF<PhaseErrorLUTData>;
template class CalibrationProviderIF<DsnuOffsetData>;
template class CalibrationProviderIF<PrnuGainData>;
