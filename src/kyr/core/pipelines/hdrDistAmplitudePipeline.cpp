#include "kyr/pipelines/hdrDistAmplitudePipeline.h"

#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/status.h"

HDRDistAmplitudePipeline::HDRDistAmplitudePipeline(OZRSensorSourceIF& source)
    : OZRSensorPipeline(&source), dcsToDistAmpGraph(INITIAL_MODULATION_FREQ_HZ) {
    (void)source.setControl(ozr::ControlID::ACQUISITION_MODE,
                            static_cast<int32_t>(ozr::AcquisitionMode::DIST_AMP_HDR));
    // The graph starts from the frequency the sensor runs at (0 when the
    // sensor cannot tell).
    int hz = 0;
    (void)source.getControl(ozr::ControlID::MODULATION_FREQ_HZ, hz);
    (void)dcsToDistAmpGraph.setControl(ozr::ControlID::MODULATION_FREQ_HZ, hz);

    outputs.amplitude = filterGraph.getAmplitudeSource();
    outputs.distance = filterGraph.getDistanceSource();
    outputs.phase = dcsToDistAmpGraph.getPhaseSource();
    for (size_t i = 0; i < NDCS; ++i) {
        outputs.dcs[i] = source.getDCSSource(i);
    }

    dcs12To4HDRGraph.connect(outputs.dcs.data());
    Source<Image<uint16_t>>* merged[DCS12To4HDRGraph::DCS_COUNT_MERGED];
    for (size_t j = 0; j < DCS12To4HDRGraph::DCS_COUNT_MERGED; ++j) {
        merged[j] = dcs12To4HDRGraph.getDCSSource(j);
    }
    dcsToDistAmpGraph.connect(merged, source.getTemperatureSource());
    // The masks see the merged DCS images; the frame keeps the raw ones.
    filterGraph.connect(dcsToDistAmpGraph.getDistanceSource(),
                        dcsToDistAmpGraph.getAmplitudeSource(), merged);
}

HDRDistAmplitudePipeline::~HDRDistAmplitudePipeline() {
    // No stage may run while the graphs are torn down.
    stopStream(true);
}

int HDRDistAmplitudePipeline::setControl(ozr::ControlID id, int32_t value) {
    switch (id) {
        case ozr::ControlID::ENABLE_DCS_ROLLING_MODE:
            return kyr::status::NOT_HANDLED;
        case ozr::ControlID::ACQUISITION_MODE:
            if (value != static_cast<int32_t>(ozr::AcquisitionMode::DIST_AMP_HDR)) {
                return kyr::status::NOT_HANDLED;
            }
            break;
        case ozr::ControlID::MODULATION_FREQ_HZ: {
            // The device may adjust the frequency: the graphs take what it
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
    const int rHdr = dcs12To4HDRGraph.setControl(id, value);
    const int rGraph = dcsToDistAmpGraph.setControl(id, value);
    const int rFilter = filterGraph.setControl(id, value);
    const int rSource = sensorSource->setControl(id, value);
    return (rHdr == 0 || rGraph == 0 || rFilter == 0 || rSource == 0) ? 0
                                                                      : kyr::status::NOT_HANDLED;
}

int HDRDistAmplitudePipeline::getControl(ozr::ControlID id, int& value) {
    if (dcs12To4HDRGraph.getControl(id, value) == 0 ||
        dcsToDistAmpGraph.getControl(id, value) == 0 || filterGraph.getControl(id, value) == 0 ||
        sensorSource->getControl(id, value) == 0) {
        return 0;
    }
    return kyr::status::NOT_HANDLED;
}
