#include <charconv>
#include <cstdint>
#include <fstream>
#include <utility>

#include "frameCapture.h"
#include "kyr/pipelines/dcs4Pipeline.h"
#include "kyr/pipelines/distAmplitudePipeline.h"
#include "kyr/pipelines/grayscalePipeline.h"
#include "kyr/pipelines/hdrDistAmplitudePipeline.h"
#include "kyr/platform.h"
#include "kyr/sensors/fakeTempSensor.h"
#include "kyr/sensors/hwmonSensor.h"
#include "kyr/sensors/v4l2Sensor.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "kyr/status.h"
#include "ozr/calibration.h"
#include "ozr/pointCloud.h"
#include "tofcamImpl.h"

namespace ozr {

namespace {

constexpr float FALLBACK_TEMPERATURE_C = 25.0f;
constexpr uint8_t RAW_SAMPLE_SHIFT_BITS = 4;

TOFSensor detectModel() {
    KYR_LOG_INFO("Autodetecting TOF sensor model...");
    const kyr::platform::OzrDeviceFiles* device = kyr::platform::detectOzrDevice();
    if (device == &kyr::platform::OZR320_DEVICE) {
        KYR_LOG_INFO("Detected ozr320 sensor");
        return TOFSensor::ozr320;
    }
    if (device == &kyr::platform::OZR310_DEVICE) {
        KYR_LOG_INFO("Detected ozr310 sensor");
        return TOFSensor::ozr310;
    }
    KYR_LOG_ERROR("No supported TOF sensor detected in /run/");
    return TOFSensor::autodetect;
}

// Reads "major.minor.patch" as the format "%u.%u.%u" does: a component that
// does not parse stays 0 and ends the parsing. Values beyond 32 bits
// saturate instead of overflowing.
void parseVersion(const std::string& text, uint32_t (&parts)[3]) {
    const char* p = text.data();
    const char* end = p + text.size();
    for (size_t k = 0; k < 3; ++k) {
        parts[k] = 0;
    }
    for (size_t k = 0; k < 3; ++k) {
        if (k > 0) {
            if (p == end || *p != '.') {
                return;
            }
            ++p;
        }
        while (p != end && (*p == ' ' || *p == '\t')) {
            ++p;
        }
        if (p != end && *p == '+') {
            ++p;
        }
        uint64_t value = 0;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (next == p) {
            return;
        }
        parts[k] = (ec == std::errc::result_out_of_range || value > UINT32_MAX)
                       ? UINT32_MAX
                       : static_cast<uint32_t>(value);
        p = next;
    }
}

// A sink input is left unconnected.
template <typename T>
void disconnect(Input<T>& input) {
    input.registerDependency(static_cast<Source<T>*>(nullptr));
}

}  // namespace

// ---- Impl ----

TOFCam::Impl::Impl(TOFSensor model) {
    distAmpSinks4DCS.setName("DistAmpSink 4DCS");
    distAmpSinksHDR.setName("DistAmpSink HDR");
    grayscaleSink.setName("GrayscaleSink");
    dcs4Sinks.setName("DCS4Sink");

    switch (model) {
        case TOFSensor::ozr310:
            KYR_LOG_INFO("Using OZR310 sensor module");
            sensorConfig = &ozr310Paths;
            break;
        case TOFSensor::ozr320:
            KYR_LOG_INFO("Using OZR320 sensor module");
            sensorConfig = &ozr320Paths;
            break;
        default:
            KYR_LOG_WARN("No configuration for TOF sensor model %d. Driver version not checked.",
                         static_cast<int>(model));
            return;
    }

    const std::string version = getDriverVersion();
    if (!version.empty() && !checkVersionRequirement(version, MIN_DRIVER_VERSION)) {
        KYR_LOG_WARN(
            "Installed OZR driver version %s is incompatible with KYR version %s. Consider "
            "updating the driver to version %s or higher.",
            version.c_str(), LIBRARY_VERSION, MIN_DRIVER_VERSION);
    }
}

TOFCam::Impl::~Impl() {
    // The pipeline goes before the source it reads from.
    close();
}

std::string TOFCam::Impl::getDriverVersion() const {
    std::ifstream file(sensorConfig->driverVersionPath);
    if (!file.is_open()) {
        KYR_LOG_ERROR("Driver not installed or not loaded.");
        return {};
    }
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    KYR_LOG_INFO("Driver version: %s", line.c_str());
    return line;
}

bool TOFCam::Impl::checkVersionRequirement(const std::string& installed,
                                           const std::string& required) {
    uint32_t have[3];
    uint32_t need[3];
    parseVersion(installed, have);
    parseVersion(required, need);
    if (have[0] != need[0]) {
        return false;
    }
    return have[1] > need[1] || (have[1] == need[1] && have[2] >= need[2]);
}

int TOFCam::Impl::open() {
    if (sensorConfig != &ozr310Paths && sensorConfig != &ozr320Paths) {
        KYR_LOG_ERROR("Unknown sensor paths. Cannot create OZR sensor source.");
        return kyr::status::INVALID_ARGUMENT;
    }
    // The device can be acquired only once the old source has let it go,
    // and the old pipeline still reads from the old source.
    if (ozrSensor) {
        close();
    }

    auto video = V4l2Sensor::acquire(sensorConfig->videoPath, sensorConfig->subdevPath,
                                     sensorConfig->nVideoBuffers);
    if (!video) {
        KYR_LOG_ERROR("Failed to acquire V4L2 sensor");
        return kyr::status::INVALID_ARGUMENT;
    }
    std::unique_ptr<TempSensorIF> temp =
        HwMonSensor::acquire(sensorConfig->tempPath, kyr::platform::HWMON_ROOT);
    if (!temp) {
        KYR_LOG_ERROR("Failed to acquire hardware monitoring sensor for temperature readings");
        KYR_LOG_WARN("Falling back to FakeTempSensor with default temperature value of 25.0°C");
        temp = std::make_unique<FakeTempSensor>(FALLBACK_TEMPERATURE_C);
    }
    if (sensorConfig == &ozr310Paths) {
        ozrSensor = std::make_unique<OZR310Source>(std::move(video), std::move(temp),
                                                   RAW_SAMPLE_SHIFT_BITS);
    } else {
        ozrSensor = std::make_unique<OZR320Source>(std::move(video), std::move(temp),
                                                   RAW_SAMPLE_SHIFT_BITS);
    }
    assembleDistAmpPipeline();
    currentAcquisitionMode = AcquisitionMode::DIST_AMP;
    return 0;
}

int TOFCam::Impl::close() {
    if (pipeline) {
        (void)pipeline->stopStream(true);
        pipeline.reset();
    }
    isStreaming = false;
    ozrSensor.reset();
    return 0;
}

int TOFCam::Impl::startStream() {
    if (!pipeline) {
        return kyr::status::FAILED;
    }
    const int r = pipeline->startStream(0);
    isStreaming = true;
    return r;
}

int TOFCam::Impl::stopStream() {
    if (!pipeline) {
        return kyr::status::FAILED;
    }
    const int r = pipeline->stopStream(true);
    isStreaming = false;
    return r;
}

void TOFCam::Impl::disconnectSinks() {
    auto distAmp = [](auto& sink) {
        disconnect(sink.distance);
        disconnect(sink.amplitude);
        disconnect(sink.phase);
        for (auto& in : sink.dcs) {
            disconnect(in);
        }
    };
    distAmp(distAmpSinks4DCS);
    distAmp(distAmpSinksHDR);
    disconnect(grayscaleSink.grayscale);
    for (auto& in : dcs4Sinks.dcs) {
        disconnect(in);
    }
}

void TOFCam::Impl::assembleDistAmpPipeline() {
    auto p = std::make_unique<DistAmplitudePipeline>(*ozrSensor);
    const auto& out = p->getOutputs();
    disconnectSinks();
    distAmpSinks4DCS.amplitude.registerDependency(out.amplitude);
    distAmpSinks4DCS.distance.registerDependency(out.distance);
    for (size_t i = 0; i < DCS_COUNT_DIST_AMP; ++i) {
        distAmpSinks4DCS.dcs[i].registerDependency(out.dcs[i]);
    }
    distAmpSinks4DCS.phase.registerDependency(out.phase);
    pipeline = std::move(p);
}

void TOFCam::Impl::assembleHDRPipeline() {
    auto p = std::make_unique<HDRDistAmplitudePipeline>(*ozrSensor);
    const auto& out = p->getOutputs();
    disconnectSinks();
    distAmpSinksHDR.amplitude.registerDependency(out.amplitude);
    distAmpSinksHDR.distance.registerDependency(out.distance);
    for (size_t i = 0; i < DCS_COUNT_HDR; ++i) {
        distAmpSinksHDR.dcs[i].registerDependency(out.dcs[i]);
    }
    distAmpSinksHDR.phase.registerDependency(out.phase);
    pipeline = std::move(p);
}

void TOFCam::Impl::assembleGrayscalePipeline() {
    auto p = std::make_unique<GrayscalePipeline>(*ozrSensor);
    disconnectSinks();
    grayscaleSink.grayscale.registerDependency(p->getOutput());
    pipeline = std::move(p);
}

void TOFCam::Impl::assembleDCS4Pipeline() {
    auto p = std::make_unique<DCS4Pipeline>(*ozrSensor);
    disconnectSinks();
    for (size_t i = 0; i < DCS_COUNT_DCS4; ++i) {
        dcs4Sinks.dcs[i].registerDependency(p->getOutputs().dcs[i]);
    }
    pipeline = std::move(p);
}

int TOFCam::Impl::requirePipeline() const {
    if (pipeline) {
        return 0;
    }
    KYR_LOG_ERROR("No pipeline. Please set a valid acquisition mode.");
    return kyr::status::FAILED;
}

int TOFCam::Impl::setAcquisitionMode(AcquisitionMode mode) {
    // Destroying the pipeline joins its streaming thread; the streaming flag
    // stays as it is.
    pipeline.reset();
    switch (mode) {
        case AcquisitionMode::DIST_AMP:
            assembleDistAmpPipeline();
            currentAcquisitionMode = mode;
            KYR_LOG_INFO("Switched to Distance/Amplitude pipeline");
            break;
        case AcquisitionMode::GRAYSCALE:
            assembleGrayscalePipeline();
            currentAcquisitionMode = mode;
            KYR_LOG_INFO("Switched to Grayscale pipeline");
            break;
        case AcquisitionMode::DIST_AMP_HDR:
            assembleHDRPipeline();
            currentAcquisitionMode = mode;
            KYR_LOG_INFO("Switched to HDR pipeline");
            break;
        case AcquisitionMode::DCS4:
            assembleDCS4Pipeline();
            currentAcquisitionMode = mode;
            KYR_LOG_INFO("Switched to DCS4 pipeline");
            break;
        default:
            KYR_LOG_ERROR("Invalid pipeline value: %d", static_cast<int>(mode));
            KYR_LOG_ERROR("Failed to set acquisition mode: %s",
                          kyr::status::text(kyr::status::INVALID_ARGUMENT));
            return kyr::status::INVALID_ARGUMENT;
    }
    return 0;
}

int TOFCam::Impl::setControl(ControlID id, int32_t value) {
    if (!ozrSensor) {
        KYR_LOG_ERROR("Sensor not opened. Please call open() before setting controls.");
        return kyr::status::INVALID_ARGUMENT;
    }
    if (id == ControlID::ACQUISITION_MODE) {
        // Only the low 8 bits name a mode.
        return setAcquisitionMode(static_cast<AcquisitionMode>(value & 0xFF));
    }
    if (const int r = requirePipeline(); r != 0) {
        return r;
    }
    if (!isStreaming) {
        return pipeline->setControl(id, value);
    }
    // No stage runs while its settings change.
    KYR_LOG_INFO("Stopping streaming to set control");
    int r = stopStream();
    if (r != 0) {
        KYR_LOG_ERROR("Failed to stop stream: %s", kyr::status::text(r));
        return r;
    }
    const int result = pipeline->setControl(id, value);
    r = startStream();
    if (r != 0) {
        KYR_LOG_ERROR("Failed to restart stream after setting control: %s", kyr::status::text(r));
        return r;
    }
    return result;
}

int TOFCam::Impl::getControl(ControlID id, int32_t& value) {
    if (!ozrSensor) {
        KYR_LOG_ERROR("Sensor not opened. Please call open() before getting controls.");
        return kyr::status::INVALID_ARGUMENT;
    }
    if (const int r = requirePipeline(); r != 0) {
        return r;
    }
    return pipeline->getControl(id, value);
}

int TOFCam::Impl::captureFrame(std::unique_ptr<TOFFrame>& frame) {
    if (!ozrSensor) {
        KYR_LOG_ERROR("Sensor not opened. Please call open() before capturing frames.");
        return kyr::status::INVALID_ARGUMENT;
    }
    if (const int r = requirePipeline(); r != 0) {
        return r;
    }
    switch (currentAcquisitionMode) {
        case AcquisitionMode::DIST_AMP:
            return capture::captureDistAmp(distAmpSinks4DCS, *pipeline, isStreaming, frame);
        case AcquisitionMode::DIST_AMP_HDR:
            return capture::captureDistAmp(distAmpSinksHDR, *pipeline, isStreaming, frame);
        case AcquisitionMode::GRAYSCALE:
            return capture::captureGrayscale(grayscaleSink, *pipeline, isStreaming, frame);
        case AcquisitionMode::DCS4:
            return capture::captureDcs(dcs4Sinks, *pipeline, isStreaming, frame);
        default:
            // A refused mode never becomes current.
            return kyr::status::FAILED;
    }
}

// ---- TOFCam ----

namespace {

bool hasState(const std::unique_ptr<TOFCam::Impl>& impl) {
    if (!impl) {
        KYR_LOG_ERROR("Camera object was moved from and has no state.");
        return false;
    }
    return true;
}

}  // namespace

TOFCam::TOFCam(TOFSensor sensor) {
    (void)registerCalibrationProviders("", "");
    if (sensor == TOFSensor::autodetect) {
        sensor = detectModel();
    }
    pImpl = std::make_unique<Impl>(sensor);
    capture::resetFrameCounter();
}

TOFCam::~TOFCam() {
    if (pImpl) {
        pImpl->close();
    }
}

TOFCam::TOFCam(TOFCam&&) noexcept = default;
TOFCam& TOFCam::operator=(TOFCam&&) noexcept = default;

int TOFCam::open() {
    return hasState(pImpl) ? pImpl->open() : kyr::status::INVALID_ARGUMENT;
}

int TOFCam::close() {
    return pImpl ? pImpl->close() : 0;
}

int TOFCam::startStream() {
    return hasState(pImpl) ? pImpl->startStream() : kyr::status::INVALID_ARGUMENT;
}

int TOFCam::stopStream() {
    return hasState(pImpl) ? pImpl->stopStream() : kyr::status::INVALID_ARGUMENT;
}

int TOFCam::getLensIntrinsics(LensIntrinsics& lens) const {
    if (!pImpl) {
        return kyr::status::INVALID_ARGUMENT;
    }
    return ozr::getLensIntrinsics(lens);
}

bool TOFCam::isStreaming() const {
    return pImpl && pImpl->streaming();
}

int TOFCam::setControl(ControlID id, int value) {
    return hasState(pImpl) ? pImpl->setControl(id, value) : kyr::status::INVALID_ARGUMENT;
}

int TOFCam::setControl(ControlID id, AcquisitionMode mode) {
    return setControl(id, static_cast<int>(mode));
}

int TOFCam::getControl(ControlID id, int& value) {
    return hasState(pImpl) ? pImpl->getControl(id, value) : kyr::status::INVALID_ARGUMENT;
}

int TOFCam::captureFrame(std::unique_ptr<TOFFrame>& frame) {
    return hasState(pImpl) ? pImpl->captureFrame(frame) : kyr::status::INVALID_ARGUMENT;
}

}  // namespace ozr
