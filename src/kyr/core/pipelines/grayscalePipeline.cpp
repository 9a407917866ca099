#include "kyr/pipelines/grayscalePipeline.h"

#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/status.h"

GrayscalePipeline::GrayscalePipeline(OZRSensorSourceIF& source) : OZRSensorPipeline(&source) {
    (void)source.setControl(ozr::ControlID::ACQUISITION_MODE,
                            static_cast<int32_t>(ozr::AcquisitionMode::GRAYSCALE));
    Source<Image<uint16_t>>* gray = source.getGrayscaleSource();
    if (gray != nullptr) {
        dsnuCompensationStage.input << *gray;
    }
    prnuCompensationStage.input << dsnuCompensationStage;
    output = &prnuCompensationStage;
}

GrayscalePipeline::~GrayscalePipeline() {
    // No stage may run while the stages are torn down.
    stopStream(true);
}

int GrayscalePipeline::setControl(ozr::ControlID id, int32_t value) {
    switch (id) {
        case ozr::ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION:
            dsnuCompensationStage.setCompensation(value != 0);
            return 0;
        case ozr::ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION:
            prnuCompensationStage.setCompensation(value != 0);
            return 0;
        case ozr::ControlID::ACQUISITION_MODE:
            if (value != static_cast<int32_t>(ozr::AcquisitionMode::GRAYSCALE)) {
                return kyr::status::INVALID_ARGUMENT;
            }
            return sensorSource->setControl(id, value);
        default:
            return sensorSource->setControl(id, value);
    }
}

int GrayscalePipeline::getControl(ozr::ControlID id, int& value) {
    switch (id) {
        case ozr::ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION:
            value = dsnuCompensationStage.isCompensationActive() ? 1 : 0;
            return 0;
        case ozr::ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION:
            value = prnuCompensationStage.isCompensationActive() ? 1 : 0;
            return 0;
        default:
            return sensorSource->getControl(id, value);
    }
}
