#include "kyr/pipelines/dcs4Pipeline.h"

#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/status.h"

DCS4Pipeline::DCS4Pipeline(OZRSensorSourceIF& source) : OZRSensorPipeline(&source) {
    (void)source.setControl(ozr::ControlID::ACQUISITION_MODE,
                            static_cast<int32_t>(ozr::AcquisitionMode::DCS4));
    for (size_t i = 0; i < DCS_COUNT_DCS4; ++i) {
        outputs.dcs[i] = source.getDCSSource(i);
    }
}

DCS4Pipeline::~DCS4Pipeline() {
    // The streaming thread calls into this object through its virtual
    // functions: it must end before the first base destructor runs.
    stopStream(true);
}

int DCS4Pipeline::setControl(ozr::ControlID id, int32_t value) {
    if (id == ozr::ControlID::ACQUISITION_MODE &&
        value != static_cast<int32_t>(ozr::AcquisitionMode::DCS4)) {
        return kyr::status::NOT_HANDLED;
    }
    return sensorSource->setControl(id, value);
}

int DCS4Pipeline::getControl(ozr::ControlID id, int& value) {
    return sensorSource->getControl(id, value);
}
