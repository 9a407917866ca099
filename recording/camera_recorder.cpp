#include "camera_recorder.h"

#include <algorithm>
#include <utility>

#include "kyr/sensors/ozrDriver.h"

namespace ozrrec {

namespace {

// The camera's stand-in when the sensor has no temperature channel.
constexpr float FIXED_TEMPERATURE_C = 25.0f;

}  // namespace

Model cameraModel(const std::string& requested) {
    if (requested == kyr::platform::OZR310_DEVICE.name) return Model::OZR310;
    if (requested == kyr::platform::OZR320_DEVICE.name) return Model::OZR320;
    return kyr::platform::detectOzrDevice() == &kyr::platform::OZR310_DEVICE ? Model::OZR310
                                                                             : Model::OZR320;
}

bool recordingMode(ozr::AcquisitionMode acquisition, Mode& mode) {
    switch (acquisition) {
        case ozr::AcquisitionMode::DCS4:
            mode = Mode::DCS4;
            return true;
        case ozr::AcquisitionMode::DIST_AMP_HDR:
            mode = Mode::DIST_AMP_HDR;
            return true;
        default:
            return false;
    }
}

CameraRecorder::CameraRecorder(std::string path, Model model, Mode mode, ozr::TOFCam& camera)
    : path_(std::move(path)), thermometer_(HwmonThermometer::open(model)) {
    info_.model = model;
    info_.mode = mode;
    info_.libraryVersion = builtLibraryVersion();
    const std::pair<ozr::ControlID, int32_t*> settings[] = {
        {ozr::ControlID::MODULATION_FREQ_HZ, &info_.modulationFrequencyHz},
        {ozr::ControlID::EXPOSURE_US, &info_.exposureUs},
        {ozr::ControlID::GAIN, &info_.gain},
        {ozr::ControlID::HDR_INTEGRATION_TIME1_US, &info_.hdrIntegrationTimesUs[0]},
        {ozr::ControlID::HDR_INTEGRATION_TIME2_US, &info_.hdrIntegrationTimesUs[1]},
        {ozr::ControlID::HDR_INTEGRATION_TIME3_US, &info_.hdrIntegrationTimesUs[2]},
    };
    for (auto [id, field] : settings) {
        int value = 0;
        if (camera.getControl(id, value) == 0) *field = value;
    }
}

std::string CameraRecorder::write(const ozr::TOFFrame& frame) {
    std::string error;
    if (!writer_) {
        info_.width = frame.getWidth();
        info_.height = frame.getHeight();
        writer_ = RecordingWriter::create(path_, info_, error);
        if (!writer_) return error;
    }
    if (frame.getWidth() != info_.width || frame.getHeight() != info_.height) {
        return "recording " + path_ + ": the image size changed";
    }
    const size_t pixels = size_t{info_.width} * info_.height;
    frame_.dcs.resize(info_.frameValues());
    for (uint32_t i = 0; i < info_.dcsCount(); ++i) {
        const uint16_t* dcs = frame.getData<uint16_t>(ozr::FrameType::DCS, i);
        if (!dcs) return "recording " + path_ + ": the frame has no DCS image " + std::to_string(i);
        std::copy(dcs, dcs + pixels, frame_.dcs.begin() + static_cast<ptrdiff_t>(i * pixels));
    }
    const ozr::TOFMetadata meta = frame.getMetadata();
    frame_.frameNumber = meta.frameNumber;
    frame_.timestampMs = meta.timestamp;
    if (!thermometer_ || !thermometer_->read(frame_.temperatureC)) {
        frame_.temperatureC = FIXED_TEMPERATURE_C;
    }
    return writer_->append(frame_, error) ? std::string() : error;
}

std::string CameraRecorder::finish() {
    std::string error;
    if (writer_ && !writer_->close(error)) return error;
    return {};
}

}  // namespace ozrrec
