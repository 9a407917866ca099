#include "kyr/pipelines/distAmpPipelineBase.h"

#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/status.h"

template <size_t NDCS>
DistAmpPipelineBase<NDCS>::DistAmpPipelineBase(OZRSensorSourceIF& source, ozr::AcquisitionMode mode,
                                               ozr::ControlID refused, GraphIF* front)
    : OZRSensorPipeline(&source),
      dcsToDistAmpGraph(INITIAL_MODULATION_FREQ_HZ),
      mode(mode),
      refused(refused),
      front(front) {
    (void)source.setControl(ozr::ControlID::ACQUISITION_MODE, static_cast<int32_t>(mode));
    // The graph starts from the frequency the sensor runs at (0 when the
    // sensor cannot tell).
    int hz = 0;
    (void)source.getControl(ozr::ControlID::MODULATION_FREQ_HZ, hz);
    (void)dcsToDistAmpGraph.setControl(ozr::ControlID::MODULATION_FREQ_HZ, hz);
    for (size_t i = 0; i < NDCS; ++i) {
        outputs.dcs[i] = source.getDCSSource(i);
    }
}

template <size_t NDCS>
void DistAmpPipelineBase<NDCS>::connectDistance(Source<Image<uint16_t>>** dcs) {
    dcsToDistAmpGraph.connect(dcs, sensorSource->getTemperatureSource());
    filterGraph.connect(dcsToDistAmpGraph.getDistanceSource(),
                        dcsToDistAmpGraph.getAmplitudeSource(), dcs);
    outputs.amplitude = filterGraph.getAmplitudeSource();
    outputs.distance = filterGraph.getDistanceSource();
    outputs.phase = dcsToDistAmpGraph.getPhaseSource();
}

template <size_t NDCS>
int DistAmpPipelineBase<NDCS>::setControl(ozr::ControlID id, int32_t value) {
    if (id == refused) {
        return kyr::status::NOT_HANDLED;
    }
    switch (id) {
        case ozr::ControlID::ACQUISITION_MODE:
            if (value != static_cast<int32_t>(mode)) {
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
    // Every layer is offered the control, also after one has taken it.
    const int rFront = front != nullptr ? front->setControl(id, value) : kyr::status::NOT_HANDLED;
    const int rGraph = dcsToDistAmpGraph.setControl(id, value);
    const int rFilter = filterGraph.setControl(id, value);
    const int rSource = sensorSource->setControl(id, value);
    return (rFront == 0 || rGraph == 0 || rFilter == 0 || rSource == 0) ? 0
                                                                        : kyr::status::NOT_HANDLED;
}

template <size_t NDCS>
int DistAmpPipelineBase<NDCS>::getControl(ozr::ControlID id, int& value) {
    if ((front != nullptr && front->getControl(id, value) == 0) ||
        dcsToDistAmpGraph.getControl(id, value) == 0 || filterGraph.getControl(id, value) == 0 ||
        sensorSource->getControl(id, value) == 0) {
        return 0;
    }
    return kyr::status::NOT_HANDLED;
}

template class DistAmpPipelineBase<4>;
template class DistAmpPipelineBase<12>;
