#include "kyr/graphs/dcs2DistAmpGraph.h"

#include "kyr/platform.h"
#include "kyr/status.h"

DCS2DistAmpGraph::DCS2DistAmpGraph(uint32_t modulationFrequencyHz)
    : modulationFrequencyHz(modulationFrequencyHz),
      phaseOffsetStage(modulationFrequencyHz),
      phaseErrorLUTStage(modulationFrequencyHz),
      tempCompensationStage(modulationFrequencyHz),
      phaseToDistStage(modulationFrequencyHz) {
    // Amplitude and phase from the two differences; the phase goes through
    // the table, the offset and the temperature drift to the distance.
    amplitudeStage.diff0 << diffStages[0];
    amplitudeStage.diff1 << diffStages[1];
    atan2Stage.nominator << diffStages[0];
    atan2Stage.denominator << diffStages[1];
    phaseErrorLUTStage.input << atan2Stage;
    phaseOffsetStage.input << phaseErrorLUTStage;
    tempCompensationStage.phaseInput << phaseOffsetStage;
    phaseToDistStage.phaseInput << tempCompensationStage;

    diffStages[0].setName("Subtract (DCS3 - DCS1)");
    diffStages[1].setName("Subtract (DCS2 - DCS0)");
}

void DCS2DistAmpGraph::connect(Source<Image<uint16_t>>** dcs, Source<float>* temperature) {
    if (dcs == nullptr) {
        KYR_LOG_ERROR("DCS2DistAmpGraph: no DCS sources to connect");
    } else {
        Input<Image<uint16_t>>* inputs[4] = {&diffStages[0].minuend, &diffStages[0].subtrahend,
                                             &diffStages[1].minuend, &diffStages[1].subtrahend};
        const int index[4] = {3, 1, 2, 0};
        for (int k = 0; k < 4; ++k) {
            if (dcs[index[k]] == nullptr) {
                KYR_LOG_ERROR("DCS2DistAmpGraph: DCS source %d is missing", index[k]);
                continue;
            }
            inputs[k]->registerDependency(dcs[index[k]]);
        }
    }
    if (temperature == nullptr) {
        KYR_LOG_ERROR("DCS2DistAmpGraph: temperature source is missing");
        return;
    }
    tempCompensationStage.tempInput.registerDependency(temperature);
}

int DCS2DistAmpGraph::setControl(ozr::ControlID id, int32_t value) {
    switch (id) {
        case ozr::ControlID::MODULATION_FREQ_HZ: {
            const auto hz = static_cast<uint32_t>(value);
            phaseToDistStage.setModulationFrequency(hz);
            phaseOffsetStage.setModulationFrequency(hz);
            phaseErrorLUTStage.setModulationFrequency(hz);
            tempCompensationStage.setModulationFrequency(hz);
            modulationFrequencyHz = hz;
            return 0;
        }
        case ozr::ControlID::ENABLE_DCS_ROLLING_MODE:
            setRollingMode(value != 0);
            return 0;
        case ozr::ControlID::ENABLE_PHASE_OFFSET_COMPENSATION:
            phaseOffsetStage.setCompensation(value != 0);
            return 0;
        case ozr::ControlID::ENABLE_PHASE_ERROR_COMPENSATION:
            phaseErrorLUTStage.setCompensation(value != 0);
            return 0;
        case ozr::ControlID::ENABLE_TEMPERATURE_COMPENSATION:
            tempCompensationStage.setCompensation(value != 0);
            return 0;
        default:
            return kyr::status::NOT_HANDLED;
    }
}

int DCS2DistAmpGraph::getControl(ozr::ControlID id, int& value) {
    switch (id) {
        case ozr::ControlID::MODULATION_FREQ_HZ:
            value = static_cast<int>(modulationFrequencyHz);
            return 0;
        case ozr::ControlID::ENABLE_DCS_ROLLING_MODE:
            value = rollingModeEnabled ? 1 : 0;
            return 0;
        case ozr::ControlID::ENABLE_PHASE_OFFSET_COMPENSATION:
            value = phaseOffsetStage.isCompensationActive() ? 1 : 0;
            return 0;
        case ozr::ControlID::ENABLE_PHASE_ERROR_COMPENSATION:
            value = phaseErrorLUTStage.isCompensationActive() ? 1 : 0;
            return 0;
        case ozr::ControlID::ENABLE_TEMPERATURE_COMPENSATION:
            value = tempCompensationStage.isCompensationActive() ? 1 : 0;
            return 0;
        default:
            return kyr::status::NOT_HANDLED;
    }
}

void DCS2DistAmpGraph::setRollingMode(bool enable) {
    diffStages[0].minuend.setBuffered(enable);
    diffStages[0].subtrahend.setBuffered(enable);
    diffStages[1].minuend.setBuffered(enable);
    diffStages[1].subtrahend.setBuffered(enable);
    amplitudeStage.diff0.setBuffered(enable);
    amplitudeStage.diff1.setBuffered(enable);
    atan2Stage.nominator.setBuffered(enable);
    atan2Stage.denominator.setBuffered(enable);
    rollingModeEnabled = enable;
}
