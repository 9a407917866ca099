#include "kyr/pipelines/distAmplitudePipeline.h"

#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/status.h"

DistAmplitudePipeline::DistAmplitudePipeline(OZRSensorSourceIF& source)
    : OZRSensorPipeline(&source), dcsToDistAmpGraph(INITIAL_MODULATION_FREQ_HZ) {
    (void)source.setControl(ozr::ControlID::ACQUISITION_MODE,
                            static_cast<int32_t>(ozr::AcquisitionMode::DIST_AMP));
    Source<Image<uint16_t>>* dcs[DCS_COUNT_DIST_AMP];
    for (size_t i = 0; i < DCS_COUNT_DIST_AMP; ++i) {
        dcs[i] = source.getDCSSource(i);
    }
    Source<float>* temperature = source.getTemperatureSource();

    // The graph starts from the frequency the sensor runs at (0 when the
    // sensor cannot tell).
    int hz = 0;
    (void)source.getControl(ozr::ControlID::MODULATION_FREQ_HZ, hz);
    (void)dcsToDistAmpGraph.setControl(ozr::ControlID::MODULATION_FREQ_HZ, hz);

    dcsToDistAmpGraph.connect(dcs, temperature);
    // The masks see the raw DCS images.
    filterGraph.connect(dcsToDistAmpGraph.getDistanceSource(),
                        dcsToDistAmpGraph.getAmplitudeSource(), dcs);

    outputs.amplitude = filterGraph.getAmplitudeSource();
    outputs.distance = filterGraph.getDistanceSource();
    outputs.phase = dcsToDistAmpGraph.getPhaseSource();
    for (size_t i = 0; i < DCS_COUNT_DIST_AMP; ++i) {
        outputs.dcs[i] = dcs[i];
    }
}

DistAmplitudePipeline::~DistAmplitudePipeline() {
    // No stage may run while the graphs are torn down.
    stopStream(true);
}

int DistAmplitudePipeline::setControl(ozr::ControlID id, int32_t value) {
    switch (id) {
        case ozr::ControlID::ENABLE_HDR_ROLLING_MODE:
            return kyr::status::NOT_HANDLED;
        case ozr::ControlID::ACQUISITION_MODE:
            if (value != static_cast<int32_t>(ozr::AcquisitionMode::DIST_AMP)) {
                return kyr::status::NOT_HANDLED;
            }
            break;
        case ozr::ControlID::MODULATION_FREQ_HZ: {
            // The device may adjust the frequency: the graph takes what it
            // reports.
            int r = sensorSource->setControl(id, value);
            if (r != 0) {
                return r;
            }
            r = sensorSource->getControl(id, value);
            if (r != 0) {
                return r;
            }
            break;
        }
        default:
            break;
    }
    const int rGraph = dcsToDistAmpGraph.setControl(id, value);
    const int rFilter = filterGraph.setControl(id, value);
    const int rSource = sensorSource->setControl(id, value);
    return (rGraph == 0 || rFilter == 0 || rSource == 0) ? 0 : kyr::status::NOT_HANDLED;
}

int DistAmplitudePipeline::getControl(ozr::ControlID id, int& value) {
    if (dcsToDistAmpGraph.getControl(id, value) == 0 || filterGraph.getControl(id, value) == 0 ||
        sensorSource->getControl(id, value) == 0) {
        return 0;
    }
    return kyr::status::NOT_HANDLED;
}
