// How the library asks for calibration: through the provider registered for
// the record type. A provider that throws (one of an application's own) is
// reported and treated as having no calibration, so no exception leaves the
// library.
#pragma once

#include <cstdint>
#include <exception>

#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/platform.h"
#include "kyr/status.h"

template <class DataT>
int lookUpCalibrationData(uint32_t modFreq, DataT& data) noexcept {
    try {
        return CalibrationDataRegistry::getInstance().getProvider<DataT>().getCalibrationData(
            modFreq, data);
    } catch (const std::exception& e) {
        KYR_LOG_ERROR("Calibration provider failed: %s", e.what());
    } catch (...) {
        KYR_LOG_ERROR("Calibration provider failed: unknown exception");
    }
    data = DataT{};
    return kyr::status::INVALID_ARGUMENT;
}
