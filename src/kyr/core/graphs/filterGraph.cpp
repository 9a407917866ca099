#include "kyr/graphs/filterGraph.h"

#include "kyr/platform.h"
#include "kyr/status.h"

FilterGraph::FilterGraph() {
    averageFilterStage.input << medianFilterStage;
    temporalFilterStage.input << averageFilterStage;
    kalmanFilterStage.inputDistance << temporalFilterStage;
    edgeFilterStage.input << kalmanFilterStage;
    mergedErrorMask.input[0] << saturationMask;
    mergedErrorMask.input[1] << minAmplitudeMask;
    mergedErrorMask.input[2] << interferenceMask;
    maskedDistance.mask << mergedErrorMask;
    maskedAmplitude.mask << saturationMask;
    interferenceLatch.input << maskedDistance;
    interferenceLatch.mask << interferenceMask;
}

void FilterGraph::connect(Source<Image<uint16_t>>* distance, Source<Image<uint16_t>>* amplitude,
                          Source<Image<uint16_t>>** dcs) {
    if (dcs == nullptr) {
        KYR_LOG_ERROR("FilterGraph: no DCS sources to connect");
    } else {
        for (size_t i = 0; i < 4; ++i) {
            if (dcs[i] == nullptr) {
                KYR_LOG_ERROR("FilterGraph: DCS source %zu is missing", i);
                continue;
            }
            saturationMask.input[i] << *dcs[i];
            interferenceMask.input[i] << *dcs[i];
        }
    }
    if (amplitude == nullptr || distance == nullptr) {
        KYR_LOG_ERROR("FilterGraph: %s source is missing",
                      amplitude == nullptr ? "amplitude" : "distance");
    }
    if (amplitude != nullptr) {
        minAmplitudeMask.amplitude << *amplitude;
    }
    if (distance != nullptr) {
        medianFilterStage.input << *distance;
    }
    if (amplitude != nullptr) {
        kalmanFilterStage.inputAmplitude << *amplitude;
    }
    maskedDistance.image << edgeFilterStage;
    if (amplitude != nullptr) {
        maskedAmplitude.image << *amplitude;
    }
}

int FilterGraph::setControl(ozr::ControlID id, int32_t value) {
    const bool on = value != 0;
    const auto u16 = static_cast<uint16_t>(value);
    switch (id) {
        case ozr::ControlID::ENABLE_DCS_ROLLING_MODE:
            for (size_t i = 0; i < 4; ++i) {
                saturationMask.input[i].setBuffered(on);
                interferenceMask.input[i].setBuffered(on);
            }
            return 0;
        case ozr::ControlID::MIN_AMPLITUDE:
            minAmplitudeMask.setMinAmplitude(u16);
            return 0;
        case ozr::ControlID::INTERFERENCE_DETECTION_ENABLE:
            interferenceMask.setEnabled(on);
            return 0;
        case ozr::ControlID::INTERFERENCE_DETECTION_THRESHOLD:
            interferenceMask.setThreshold(u16);
            return 0;
        case ozr::ControlID::INTERFERENCE_ENABLE_LATCHING:
            interferenceLatch.setEnabled(on);
            return 0;
        case ozr::ControlID::AVERAGE_FILTER_ENABLE:
            averageFilterStage.setEnabled(on);
            return 0;
        case ozr::ControlID::MEDIAN_FILTER_ENABLE:
            medianFilterStage.setEnabled(on);
            return 0;
        case ozr::ControlID::TEMPORAL_FILTER_ENABLE:
            temporalFilterStage.setEnabled(on);
            return 0;
        case ozr::ControlID::TEMPORAL_FILTER_ALPHA:
            temporalFilterStage.setAlpha(static_cast<float>(value) / 100.0f);
            return 0;
        case ozr::ControlID::TEMPORAL_FILTER_THRESHOLD:
            temporalFilterStage.setThreshold(u16);
            return 0;
        case ozr::ControlID::KALMAN_FILTER_ENABLE:
            kalmanFilterStage.setEnabled(on);
            return 0;
        case ozr::ControlID::KALMAN_FILTER_THRESHOLD:
            kalmanFilterStage.setUncertaintyThreshold(u16);
            return 0;
        case ozr::ControlID::KALMAN_FILTER_PROCESS_NOISE:
            kalmanFilterStage.setProcessNoise(u16);
            return 0;
        case ozr::ControlID::EDGE_FILTER_ENABLE:
            edgeFilterStage.setEnabled(on);
            return 0;
        case ozr::ControlID::EDGE_FILTER_THRESHOLD:
            edgeFilterStage.setThreshold(u16);
            return 0;
        default:
            return kyr::status::NOT_HANDLED;
    }
}

int FilterGraph::getControl(ozr::ControlID id, int& value) {
    switch (id) {
        case ozr::ControlID::MIN_AMPLITUDE:
            value = minAmplitudeMask.getMinAmplitude();
            return 0;
        case ozr::ControlID::INTERFERENCE_DETECTION_ENABLE:
            value = interferenceMask.getEnabled() ? 1 : 0;
            return 0;
        case ozr::ControlID::INTERFERENCE_DETECTION_THRESHOLD:
            value = interferenceMask.getThreshold();
            return 0;
        case ozr::ControlID::INTERFERENCE_ENABLE_LATCHING:
            value = interferenceLatch.getEnabled() ? 1 : 0;
            return 0;
        case ozr::ControlID::AVERAGE_FILTER_ENABLE:
            value = averageFilterStage.getEnabled() ? 1 : 0;
            return 0;
        case ozr::ControlID::MEDIAN_FILTER_ENABLE:
            value = medianFilterStage.getEnabled() ? 1 : 0;
            return 0;
        case ozr::ControlID::TEMPORAL_FILTER_ENABLE:
            value = temporalFilterStage.getEnabled() ? 1 : 0;
            return 0;
        case ozr::ControlID::TEMPORAL_FILTER_ALPHA:
            // Truncated: 0.53f reads back as 52.
            value = static_cast<int>(temporalFilterStage.getAlpha() * 100.0f);
            return 0;
        case ozr::ControlID::TEMPORAL_FILTER_THRESHOLD:
            value = temporalFilterStage.getThreshold();
            return 0;
        case ozr::ControlID::KALMAN_FILTER_ENABLE:
            value = kalmanFilterStage.getEnabled() ? 1 : 0;
            return 0;
        case ozr::ControlID::KALMAN_FILTER_THRESHOLD:
            value = kalmanFilterStage.getUncertaintyThreshold();
            return 0;
        case ozr::ControlID::KALMAN_FILTER_PROCESS_NOISE:
            value = kalmanFilterStage.getProcessNoise();
            return 0;
        case ozr::ControlID::EDGE_FILTER_ENABLE:
            value = edgeFilterStage.getEnabled() ? 1 : 0;
            return 0;
        case ozr::ControlID::EDGE_FILTER_THRESHOLD:
            value = edgeFilterStage.getThreshold();
            return 0;
        default:
            return kyr::status::NOT_HANDLED;
    }
}
