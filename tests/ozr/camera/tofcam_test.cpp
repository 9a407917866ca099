// The camera's lifecycle and controls without streaming, on the virtual
// sensor driver, through the public API.
#include <optional>
#include <vector>

#include "cameraTestUtil.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;
using ozrsim::Model;

constexpr int NOT_HANDLED = -1;
constexpr int EINVAL_ = -22;
constexpr int EAGAIN_ = -11;

class CameraLifecycle : public camtest::CameraOnSim {};

TEST_P(CameraLifecycle, AutodetectionWithOneBothOrNoNode) {
    const bool is310 = GetParam() == Model::OZR310;
    struct Case {
        bool configured, bothNodes;
        const char* detected;
        int openResult;
    };
    // With both present the OZR320 wins; its nodes serve only when it is
    // the driven model.
    const Case cases[] = {
        {true, false, is310 ? "Detected ozr310 sensor" : "Detected ozr320 sensor", 0},
        {true, true, "Detected ozr320 sensor", is310 ? EINVAL_ : 0},
        {false, false, "No supported TOF sensor detected in /run/", EINVAL_}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.detected);
        ozrsim::reset();
        ozrsim::Config cf = config();
        cf.otherModelNodes = c.bothNodes;
        if (c.configured) start(cf);
        log.clear();
        ozr::TOFCam camera(ozr::TOFSensor::autodetect);
        EXPECT_EQ(log.count("Autodetecting TOF sensor model..."), 1u);
        EXPECT_EQ(log.count(c.detected), 1u);
        EXPECT_EQ(camera.open(), c.openResult);
        EXPECT_EQ(log.count("Unknown sensor paths. Cannot create OZR sensor source."),
                  c.configured ? 0u : 1u);
    }
}

TEST_P(CameraLifecycle, DriverVersionCheck) {
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {std::nullopt, false}, {"0.9.7", true}, {"1.0.0", false}, {"1.0.3", false},
        {"1.2.0", false},      {"2.0.0", true}, {"", false}};
    for (const auto& [version, warning] : cases) {
        SCOPED_TRACE(version.value_or("missing"));
        ozrsim::Config cf = config();
        cf.driverVersion = version;
        start(cf);
        log.clear();
        ozr::TOFCam camera(sensor());
        EXPECT_EQ(log.count("Installed OZR driver version " + version.value_or("") +
                            " is incompatible with KYR version 0.1.0+33.g5b8e2f4. Consider "
                            "updating the driver to version 1.0.0 or higher."),
                  warning ? 1u : 0u);
        EXPECT_EQ(log.count("Driver not installed or not loaded."), version ? 0u : 1u);
        EXPECT_EQ(log.count("Driver version: " + version.value_or("")), version ? 1u : 0u);
        EXPECT_EQ(camera.open(), 0);  // whatever the version says
        ozrsim::reset();
    }
}

TEST_P(CameraLifecycle, NothingButCloseBeforeOpen) {
    start(config());
    ozr::TOFCam camera(sensor());
    int value = 0;
    std::unique_ptr<ozr::TOFFrame> frame;
    EXPECT_EQ(camera.setControl(ControlID::GAIN, 2), EINVAL_);
    EXPECT_EQ(camera.getControl(ControlID::GAIN, value), EINVAL_);
    EXPECT_EQ(camera.captureFrame(frame), EINVAL_);
    for (const char* what : {"setting controls", "getting controls", "capturing frames"}) {
        EXPECT_EQ(
            log.count(std::string("Sensor not opened. Please call open() before ") + what + "."),
            1u);
    }
    EXPECT_EQ(camera.startStream(), EAGAIN_);
    EXPECT_EQ(camera.stopStream(), EAGAIN_);
    EXPECT_EQ(camera.close(), 0);
    EXPECT_EQ(ozrsim::counters().openVideo, 0);
}

TEST_P(CameraLifecycle, CloseTwiceThenOpenAgain) {
    openCamera(config());
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::GRAYSCALE), 0);
    EXPECT_EQ(cam->close(), 0);
    EXPECT_EQ(cam->close(), 0);
    const ozrsim::Counters n = ozrsim::counters();
    EXPECT_EQ(n.openVideo + n.openSubdev + n.mappings, 0);
    // A new source and distance/amplitude pipeline; opening an open camera
    // releases the old device first.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(cam->open(), 0);
        EXPECT_EQ(ozrsim::counters().openVideo, 1);
        int mode = -1, minAmp = -1;
        EXPECT_EQ(cam->getControl(ControlID::ACQUISITION_MODE, mode), 0);
        EXPECT_EQ(mode, static_cast<int>(AcquisitionMode::DIST_AMP));
        EXPECT_EQ(cam->getControl(ControlID::MIN_AMPLITUDE, minAmp), 0);
        EXPECT_EQ(minAmp, 100);
    }
    // A moved-from camera refuses; the new owner has the open camera.
    ozr::TOFCam moved(std::move(*cam));
    int value = 0;
    EXPECT_EQ(cam->getControl(ControlID::GAIN, value), EINVAL_);
    EXPECT_EQ(moved.getControl(ControlID::GAIN, value), 0);
}

INSTANTIATE_TEST_SUITE_P(Models, CameraLifecycle, testing::Values(Model::OZR310, Model::OZR320),
                         camtest::modelName);

// Every control in every mode: the result of setting it and what reading it
// back returns. Each cell starts from a fresh pipeline of its mode.
class CameraControls : public camtest::CameraOnSim {};

constexpr int KEEP = INT32_MIN;  // read-back: the value before the set
struct Cell {
    int set, get, readBack;
};
// Mode m (DIST_AMP, GRAYSCALE, DIST_AMP_HDR, DCS4) sets value + m * step,
// so that a value left from an earlier mode shows.
struct Row {
    ControlID id;
    int value, step;
    Cell cells[4];
};
// The device takes its own controls in every mode.
Row device(ControlID id, int value, int step) {
    Row r{id, value, step, {}};
    for (int m = 0; m < 4; ++m) r.cells[m] = {0, 0, value + m * step};
    return r;
}
// A graph's control exists in the distance modes only; the grayscale and
// DCS pipelines hand it to the device, which refuses it.
Row graph(ControlID id, int value, int readBack) {
    const Cell ok{0, 0, readBack}, refused{EINVAL_, EINVAL_, 0};
    return {id, value, 0, {ok, refused, ok, refused}};
}
const Cell REFUSED{EINVAL_, EINVAL_, 0}, UNHANDLED{NOT_HANDLED, NOT_HANDLED, 0};

std::vector<Row> routingTable() {
    using C = ControlID;
    constexpr int MHZ_20 = 20000000;
    return {
        device(C::GAIN, 3, 1),
        // The device rounds to 10 kHz steps; the graphs take its value.
        {C::MODULATION_FREQ_HZ,
         MHZ_20 + 4000,
         0,
         {{0, 0, MHZ_20}, {0, 0, MHZ_20}, {0, 0, MHZ_20}, {0, 0, MHZ_20}}},
        {C::TRIGGER_SHUTTER, 1, 0, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
        device(C::EXPOSURE_US, 700, 10),
        device(C::HDR_INTEGRATION_TIME1_US, 300, 1),
        device(C::HDR_INTEGRATION_TIME2_US, 600, 1),
        device(C::HDR_INTEGRATION_TIME3_US, 900, 1),
        {C::ENABLE_HDR_ROLLING_MODE, 1, 0, {UNHANDLED, REFUSED, {0, 0, 1}, REFUSED}},
        // Refused by the HDR pipeline, yet its DCS-to-distance graph reports it.
        {C::ENABLE_DCS_ROLLING_MODE, 1, 0, {{0, 0, 1}, REFUSED, {NOT_HANDLED, 0, 0}, REFUSED}},
        graph(C::ENABLE_PHASE_OFFSET_COMPENSATION, 0, 0),
        graph(C::ENABLE_PHASE_ERROR_COMPENSATION, 0, 0),
        graph(C::ENABLE_TEMPERATURE_COMPENSATION, 0, 0),
        {C::ENABLE_GRAYSCALE_DSNU_COMPENSATION, 0, 0, {UNHANDLED, {0, 0, 0}, UNHANDLED, REFUSED}},
        {C::ENABLE_GRAYSCALE_PRNU_COMPENSATION, 7, 0, {UNHANDLED, {0, 0, 1}, UNHANDLED, REFUSED}},
        device(C::LED_DELAY_STEP, 7, 1),
        graph(C::MIN_AMPLITUDE, 70000, 4464),
        graph(C::INTERFERENCE_DETECTION_ENABLE, 5, 1),
        graph(C::INTERFERENCE_DETECTION_THRESHOLD, 650, 650),
        graph(C::INTERFERENCE_ENABLE_LATCHING, 1, 1),
        graph(C::AVERAGE_FILTER_ENABLE, 1, 1),
        graph(C::MEDIAN_FILTER_ENABLE, 1, 1),
        graph(C::TEMPORAL_FILTER_ENABLE, 1, 1),
        graph(C::TEMPORAL_FILTER_ALPHA, 53, 52),
        graph(C::TEMPORAL_FILTER_THRESHOLD, 400, 400),
        graph(C::KALMAN_FILTER_ENABLE, 1, 1),
        graph(C::KALMAN_FILTER_THRESHOLD, 250, 250),
        graph(C::KALMAN_FILTER_PROCESS_NOISE, 1200, 1200),
        graph(C::EDGE_FILTER_ENABLE, 1, 1),
        graph(C::EDGE_FILTER_THRESHOLD, 150, 150),
    };
}

TEST_P(CameraControls, RoutingOfEveryControlInEveryMode) {
    openCamera(config());
    const AcquisitionMode modes[] = {AcquisitionMode::DIST_AMP, AcquisitionMode::GRAYSCALE,
                                     AcquisitionMode::DIST_AMP_HDR, AcquisitionMode::DCS4};
    size_t checked = 0;
    for (const Row& row : routingTable()) {
        for (int m = 0; m < 4; ++m) {
            SCOPED_TRACE(testing::Message() << "control " << static_cast<int>(row.id) << " mode "
                                            << static_cast<int>(modes[m]));
            Cell want = row.cells[m];
            // The OZR310 builds HDR from ordinary frames and ignores the
            // exposure there.
            if (GetParam() == Model::OZR310 && row.id == ControlID::EXPOSURE_US &&
                modes[m] == AcquisitionMode::DIST_AMP_HDR) {
                want.readBack = KEEP;
            }
            ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, modes[m]), 0);
            int before = 0, value = KEEP;
            (void)cam->getControl(row.id, before);
            EXPECT_EQ(cam->setControl(row.id, row.value + m * row.step), want.set);
            EXPECT_EQ(cam->getControl(row.id, value), want.get);
            if (want.get == 0) {
                EXPECT_EQ(value, want.readBack == KEEP ? before : want.readBack);
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, (ozr::CONTROL_COUNT - 1) * 4);
    // The mode itself, read back from the sensor source.
    for (AcquisitionMode mode : modes) {
        EXPECT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, static_cast<int>(mode)), 0);
        int value = -1;
        EXPECT_EQ(cam->getControl(ControlID::ACQUISITION_MODE, value), 0);
        EXPECT_EQ(value, static_cast<int>(mode));
    }
}

TEST_P(CameraControls, ModeSwitchResetsTheGraphsButNotTheSensor) {
    openCamera(config());
    ASSERT_EQ(cam->setControl(ControlID::TEMPORAL_FILTER_ALPHA, 50), 0);
    ASSERT_EQ(cam->setControl(ControlID::GAIN, 5), 0);
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::GRAYSCALE), 0);
    // 258 is mode 2: only the low 8 bits count.
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, 258), 0);
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DIST_AMP), 0);
    for (const char* m : {"Grayscale", "HDR", "Distance/Amplitude"}) {
        EXPECT_EQ(log.count(std::string("Switched to ") + m + " pipeline"), 1u) << m;
    }
    int alpha = 0, gain = 0;
    EXPECT_EQ(cam->getControl(ControlID::TEMPORAL_FILTER_ALPHA, alpha), 0);
    EXPECT_EQ(alpha, 25);
    EXPECT_EQ(cam->getControl(ControlID::GAIN, gain), 0);
    EXPECT_EQ(gain, 5);
}

TEST_P(CameraControls, InvalidModeLeavesNoPipelineUntilAValidOne) {
    openCamera(config());
    for (int bad : {3, -1}) {
        log.clear();
        EXPECT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, bad), EINVAL_);
        EXPECT_EQ(log.count("Invalid pipeline value: " + std::to_string(bad & 0xFF)), 1u);
        EXPECT_EQ(log.count("Failed to set acquisition mode: Invalid argument"), 1u);
        int value = 0;
        std::unique_ptr<ozr::TOFFrame> frame;
        EXPECT_EQ(cam->startStream(), EAGAIN_);
        EXPECT_EQ(cam->stopStream(), EAGAIN_);
        EXPECT_EQ(cam->setControl(ControlID::GAIN, 2), EAGAIN_);
        EXPECT_EQ(cam->getControl(ControlID::GAIN, value), EAGAIN_);
        EXPECT_EQ(cam->captureFrame(frame), EAGAIN_);
    }
    EXPECT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DIST_AMP), 0);
    int value = 0;
    EXPECT_EQ(cam->getControl(ControlID::MIN_AMPLITUDE, value), 0);
}

INSTANTIATE_TEST_SUITE_P(Models, CameraControls, testing::Values(Model::OZR310, Model::OZR320),
                         camtest::modelName);

}  // namespace
