#include "kyr/calibration/calibrationDataRegistry.h"

CalibrationDataRegistry& CalibrationDataRegistry::getInstance() {
    static CalibrationDataRegistry instance;
    return instance;
}

template <class DataT>
CalibrationProviderIF<DataT>*& CalibrationDataRegistry::getStorage() {
    static CalibrationProviderIF<DataT>* provider = nullptr;
    return provider;
}

template CalibrationProviderIF<PhaseOffsetData>*&
CalibrationDataRegistry::getStorage<PhaseOffsetData>();
template CalibrationProviderIF<PhaseErrorLUTData>*&
CalibrationDataRegistry::getStorage<PhaseErrorLUTData>();
template CalibrationProviderIF<DsnuOffsetData>*&
CalibrationDataRegistry::getStorage<DsnuOffsetData>();
template CalibrationProviderIF<PrnuGainData>*& CalibrationDataRegistry::getStorage<PrnuGainData>();
