// What a camera owns: the sensor source, the one active pipeline and an
// application sink per mode.
#pragma once

#include <memory>
#include <string>

#include "kyr/pipeline.h"
#include "kyr/sinks/appSink.h"
#include "kyr/sources/ozrSensorSourceIF.h"
#include "ozr/tofcam.h"

namespace ozr {

// Internal to the library: not exported with the camera.
class __attribute__((visibility("hidden"))) TOFCam::Impl {
public:
    static constexpr size_t DCS_COUNT_DIST_AMP = 4;
    static constexpr size_t DCS_COUNT_HDR = 12;
    static constexpr size_t DCS_COUNT_DCS4 = 4;

    // The driver version the library needs at least, and its own version as
    // the incompatibility warning reports it.
    static constexpr const char* MIN_DRIVER_VERSION = "1.0.0";
    static constexpr const char* LIBRARY_VERSION = "0.1.0+33.g5b8e2f4";

    // For a model that is neither ozr310 nor ozr320 there is no
    // configuration: the driver check is skipped and open() refuses.
    explicit Impl(TOFSensor model);
    ~Impl();

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // First line of the driver's version file, or "" when there is none.
    std::string getDriverVersion() const;
    // True when `installed` ("major.minor.patch") has the major of
    // `required` and is not older.
    static bool checkVersionRequirement(const std::string& installed, const std::string& required);

    int open();
    int close();
    int startStream();
    int stopStream();
    bool streaming() const { return isStreaming; }

    int setAcquisitionMode(AcquisitionMode mode);
    int setControl(ControlID id, int32_t value);
    int getControl(ControlID id, int32_t& value);
    int captureFrame(std::unique_ptr<TOFFrame>& frame);

private:
    // Each builds the mode's pipeline on the sensor source, connects the
    // mode's sink to it and makes it the camera's pipeline.
    void assembleDistAmpPipeline();
    void assembleHDRPipeline();
    void assembleGrayscalePipeline();
    void assembleDCS4Pipeline();
    // Only the sink of the active mode listens: every sink input is
    // disconnected before a pipeline is assembled.
    void disconnectSinks();
    // -11 (logged) when an open camera was left without a pipeline by an
    // invalid mode.
    int requirePipeline() const;

    std::unique_ptr<Pipeline> pipeline;
    AcquisitionMode currentAcquisitionMode = AcquisitionMode::DIST_AMP;
    DistAmpSink<DCS_COUNT_DIST_AMP> distAmpSinks4DCS;
    DistAmpSink<DCS_COUNT_HDR> distAmpSinksHDR;
    GrayscaleSink grayscaleSink;
    DcsSink<DCS_COUNT_DCS4> dcs4Sinks;
    std::unique_ptr<OZRSensorSourceIF> ozrSensor;
    const OZRSensorConfig* sensorConfig = nullptr;
    bool isStreaming = false;
};

}  // namespace ozr
