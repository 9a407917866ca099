// Process-wide choice of calibration provider per record type.
//
// The camera registers one provider per record type when it is constructed;
// stages ask for the provider of their record type whenever they need data.
// The registry never owns a provider: providers are singletons that outlive
// every user.
//
// The storage of the pointers lives inside the library (one per record type
// and process), so registrations made by an application through this header
// are seen by the library and the other way round.
#pragma once

#include "kyr/platform.h"
#include "ozr/calibrationData.h"
#include "ozr/calibrationProviderIF.h"
#include "ozr/defaultProvider.h"

class OZR_API CalibrationDataRegistry {
public:
    static CalibrationDataRegistry& getInstance();

    // Stores `provider` for DataT, replacing any earlier one.
    template <class DataT>
    void registerProvider(CalibrationProviderIF<DataT>& provider) {
        getStorage<DataT>() = &provider;
    }

    // The provider stored for DataT, or DefaultProvider<DataT> if none was.
    template <class DataT>
    CalibrationProviderIF<DataT>& getProvider() {
        CalibrationProviderIF<DataT>* provider = getStorage<DataT>();
        if (provider != nullptr) {
            return *provider;
        }
        return DefaultProvider<DataT>::getInstance();
    }

    CalibrationDataRegistry(const CalibrationDataRegistry&) = delete;
    CalibrationDataRegistry& operator=(const CalibrationDataRegistry&) = delete;

private:
    CalibrationDataRegistry() = default;

    // The pointer for DataT, initially null. Defined in the library for the
    // four record types only.
    template <class DataT>
    static CalibrationProviderIF<DataT>*& getStorage();
};

extern template CalibrationProviderIF<PhaseOffsetData>*&
CalibrationDataRegistry::getStorage<PhaseOffsetData>();
extern template CalibrationProviderIF<PhaseErrorLUTData>*&
CalibrationDataRegistry::getStorage<PhaseErrorLUTData>();
extern template CalibrationProviderIF<DsnuOffsetData>*&
CalibrationDataRegistry::getStorage<DsnuOffsetData>();
extern template CalibrationProviderIF<PrnuGainData>*&
CalibrationDataRegistry::getStorage<PrnuGainData>();
