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
    const Model model = GetParam();
    struct Case {
        bool configured;
        bool bothNodes;
        const char* detected;  // log line, or null for none found
        int openResult;
    };
    const Case cases[] = {
        {true, false, model == Model::OZR310 ? "Detected ozr310 sensor" : "Detected ozr320 sensor",
         0},
        // The OZR320 wins; its nodes serve only when it is the driven model.
        {true, true, "Detected ozr320 sensor", model == Model::OZR320 ? 0 : EINVAL_},
        {false, false, nullptr, EINVAL_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.configured << c.bothNodes);
        ozrsim::reset();
        if (c.configured) {
            ozrsim::Config cf = config();
            cf.otherModelNodes = c.bothNodes;
            start(cf);
        }
        log.clear();
        ozr::TOFCam camera(ozr::TOFSensor::autodetect);
        EXPECT_EQ(log.count("Autodetecting TOF sensor model..."), 1u);
        if (c.detected != nullptr) {
            EXPECT_EQ(log.count(c.detected), 1u);
        } else {
            EXPECT_EQ(log.count("No supported TOF sensor detected in /run/"), 1u);
        }
        EXPECT_EQ(camera.open(), c.openResult);
        if (c.detected == nullptr) {
            EXPECT_EQ(log.count("Unknown sensor paths. Cannot create OZR sensor source."), 1u);
        }
        if (c.openResult == 0) {
            int mode = -1;
            EXPECT_EQ(camera.getControl(ControlID::ACQUISITION_MODE, mode), 0);
            EXPECT_EQ(mode, static_cast<int>(AcquisitionMode::DIST_AMP));
        }
    }
}

TEST_P(CameraLifecycle, DriverVersionCheck) {
    struct Case {
        std::optional<std::string> version;
        bool warning;
    };
    const Case cases[] = {
        {std::nullopt, false}, {"0.9.7", true}, {"1.0.0", false}, {"1.0.3", false},
        {"1.2.0", false},      {"2.0.0", true}, {"", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version.value_or("missing"));
        ozrsim::Config cf = config();
        cf.driverVersion = c.version;
        start(cf);
        log.clear();
        ozr::TOFCam camera(sensor());
        const std::string warning = "Installed OZR driver version " + c.version.value_or("") +
                                    " is incompatible with KYR version 0.1.0+33.g5b8e2f4. "
                                    "Consider updating the driver to version 1.0.0 or higher.";
        EXPECT_EQ(log.count(warning), c.warning ? 1u : 0u);
        EXPECT_EQ(log.count("Driver not installed or not loaded."), c.version ? 0u : 1u);
        if (c.version) {
            EXPECT_EQ(log.count("Driver version: " + *c.version), 1u);
        }
        // The camera is usable whatever the version says.
        EXPECT_EQ(camera.open(), 0);
        ozrsim::reset();
    }
}

TEST_P(CameraLifecycle, NothingWorksBeforeOpen) {
    start(config());
    ozr::TOFCam camera(sensor());
    int value = 0;
    std::unique_ptr<ozr::TOFFrame> frame;
    EXPECT_EQ(camera.setControl(ControlID::GAIN, 2), EINVAL_);
    EXPECT_EQ(camera.getControl(ControlID::GAIN, value), EINVAL_);
    EXPECT_EQ(camera.captureFrame(frame), EINVAL_);
    EXPECT_EQ(log.count("Sensor not opened. Please call open() before setting controls."), 1u);
    EXPECT_EQ(log.count("Sensor not opened. Please call open() before getting controls."), 1u);
    EXPECT_EQ(log.count("Sensor not opened. Please call open() before capturing frames."), 1u);
    EXPECT_FALSE(frame);
    EXPECT_EQ(camera.startStream(), EAGAIN_);
    EXPECT_EQ(camera.stopStream(), EAGAIN_);
    EXPECT_FALSE(camera.isStreaming());
    EXPECT_EQ(camera.close(), 0);
    EXPECT_EQ(ozrsim::counters().openVideo, 0);
}

TEST_P(CameraLifecycle, OpenCloseAndOpenAgain) {
    openCamera(config());
    EXPECT_EQ(ozrsim::counters().openVideo, 1);
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::GRAYSCALE), 0);
    EXPECT_EQ(cam->close(), 0);
    EXPECT_EQ(cam->close(), 0);
    ozrsim::Counters n = ozrsim::counters();
    EXPECT_EQ(n.openVideo, 0);
    EXPECT_EQ(n.openSubdev, 0);
    EXPECT_EQ(n.mappings, 0);
    int value = 0;
    EXPECT_EQ(cam->getControl(ControlID::GAIN, value), EINVAL_);

    // A new source and a new distance/amplitude pipeline; opening an open
    // camera releases the old device first.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(cam->open(), 0) << round;
        EXPECT_EQ(ozrsim::counters().openVideo, 1) << round;
        EXPECT_EQ(cam->getControl(ControlID::ACQUISITION_MODE, value), 0);
        EXPECT_EQ(value, static_cast<int>(AcquisitionMode::DIST_AMP));
        EXPECT_EQ(cam->getControl(ControlID::MIN_AMPLITUDE, value), 0);
        EXPECT_EQ(value, 100);
    }
}

TEST_P(CameraLifecycle, MissingHwmonChannelFallsBackToAFixedTemperature) {
    ozrsim::Config c = config();
    c.hwmon = false;
    openCamera(c);
    EXPECT_EQ(log.count("Failed to acquire hardware monitoring sensor for temperature readings"),
              1u);
    EXPECT_EQ(log.count("Falling back to FakeTempSensor with default temperature value of 25.0°C"),
              1u);
}

TEST_P(CameraLifecycle, MovedFromCameraRefusesAndTheNewOwnerWorks) {
    openCamera(config());
    ozr::TOFCam moved(std::move(*cam));
    int value = 0;
    EXPECT_EQ(cam->getControl(ControlID::GAIN, value), EINVAL_);
    EXPECT_EQ(cam->close(), 0);
    EXPECT_EQ(moved.getControl(ControlID::ACQUISITION_MODE, value), 0);
    *cam = std::move(moved);  // takes the open camera back
    EXPECT_EQ(cam->getControl(ControlID::ACQUISITION_MODE, value), 0);
    EXPECT_EQ(ozrsim::counters().openVideo, 1);
}

INSTANTIATE_TEST_SUITE_P(Models, CameraLifecycle, testing::Values(Model::OZR310, Model::OZR320),
                         camtest::modelName);

// Every control in every mode: the result of setting it and what reading it
// back returns. Each cell starts from a fresh pipeline of its mode.
class CameraControls : public camtest::CameraOnSim {};

constexpr int KEEP = INT32_MIN;  // read-back: the value before the set
struct Cell {
    int set;
    int get;
    int readBack;  // when get is 0
};
// Mode m (in the order DIST_AMP, GRAYSCALE, DIST_AMP_HDR, DCS4) sets
// value + m * step, so that a value left from an earlier mode shows.
struct Row {
    ControlID id;
    int value;
    int step;
    Cell distAmp, grayscale, hdr, dcs4;
};

// The device takes its own controls in every mode; the graphs' controls
// exist in the distance modes only, where a control no layer takes fails
// with -1; the grayscale and DCS pipelines hand everything but their own
// controls to the device, which refuses what it does not know with -22.
const Cell DEV_ONLY{EINVAL_, EINVAL_, 0};
constexpr int MHZ_20 = 20000000;
const std::vector<Row>& routingTable() {
    static const std::vector<Row> rows = {
        {ControlID::GAIN, 3, 1, {0, 0, 3}, {0, 0, 4}, {0, 0, 5}, {0, 0, 6}},
        // The device rounds to 10 kHz steps; the graphs take its value.
        {ControlID::MODULATION_FREQ_HZ,
         MHZ_20 + 4000,
         0,
         {0, 0, MHZ_20},
         {0, 0, MHZ_20},
         {0, 0, MHZ_20},
         {0, 0, MHZ_20}},
        {ControlID::TRIGGER_SHUTTER, 1, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
        {ControlID::EXPOSURE_US, 700, 10, {0, 0, 700}, {0, 0, 710}, {0, 0, 720}, {0, 0, 730}},
        {ControlID::HDR_INTEGRATION_TIME1_US,
         300,
         1,
         {0, 0, 300},
         {0, 0, 301},
         {0, 0, 302},
         {0, 0, 303}},
        {ControlID::HDR_INTEGRATION_TIME2_US,
         600,
         1,
         {0, 0, 600},
         {0, 0, 601},
         {0, 0, 602},
         {0, 0, 603}},
        {ControlID::HDR_INTEGRATION_TIME3_US,
         900,
         1,
         {0, 0, 900},
         {0, 0, 901},
         {0, 0, 902},
         {0, 0, 903}},
        {ControlID::ENABLE_HDR_ROLLING_MODE,
         1,
         0,
         {NOT_HANDLED, NOT_HANDLED, 0},
         DEV_ONLY,
         {0, 0, 1},
         DEV_ONLY},
        // Refused by the HDR pipeline, yet its DCS-to-distance graph reports it.
        {ControlID::ENABLE_DCS_ROLLING_MODE,
         1,
         0,
         {0, 0, 1},
         DEV_ONLY,
         {NOT_HANDLED, 0, 0},
         DEV_ONLY},
        {ControlID::ENABLE_PHASE_OFFSET_COMPENSATION,
         0,
         0,
         {0, 0, 0},
         DEV_ONLY,
         {0, 0, 0},
         DEV_ONLY},
        {ControlID::ENABLE_PHASE_ERROR_COMPENSATION,
         0,
         0,
         {0, 0, 0},
         DEV_ONLY,
         {0, 0, 0},
         DEV_ONLY},
        {ControlID::ENABLE_TEMPERATURE_COMPENSATION,
         0,
         0,
         {0, 0, 0},
         DEV_ONLY,
         {0, 0, 0},
         DEV_ONLY},
        {ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION,
         0,
         0,
         {NOT_HANDLED, NOT_HANDLED, 0},
         {0, 0, 0},
         {NOT_HANDLED, NOT_HANDLED, 0},
         DEV_ONLY},
        {ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION,
         7,
         0,
         {NOT_HANDLED, NOT_HANDLED, 0},
         {0, 0, 1},
         {NOT_HANDLED, NOT_HANDLED, 0},
         DEV_ONLY},
        {ControlID::LED_DELAY_STEP, 7, 1, {0, 0, 7}, {0, 0, 8}, {0, 0, 9}, {0, 0, 10}},
        {ControlID::MIN_AMPLITUDE, 70000, 0, {0, 0, 4464}, DEV_ONLY, {0, 0, 4464}, DEV_ONLY},
        {ControlID::INTERFERENCE_DETECTION_ENABLE, 5, 0, {0, 0, 1}, DEV_ONLY, {0, 0, 1}, DEV_ONLY},
        {ControlID::INTERFERENCE_DETECTION_THRESHOLD,
         650,
         0,
         {0, 0, 650},
         DEV_ONLY,
         {0, 0, 650},
         DEV_ONLY},
        {ControlID::INTERFERENCE_ENABLE_LATCHING, 1, 0, {0, 0, 1}, DEV_ONLY, {0, 0, 1}, DEV_ONLY},
        {ControlID::AVERAGE_FILTER_ENABLE, 1, 0, {0, 0, 1}, DEV_ONLY, {0, 0, 1}, DEV_ONLY},
        {ControlID::MEDIAN_FILTER_ENABLE, 1, 0, {0, 0, 1}, DEV_ONLY, {0, 0, 1}, DEV_ONLY},
        {ControlID::TEMPORAL_FILTER_ENABLE, 1, 0, {0, 0, 1}, DEV_ONLY, {0, 0, 1}, DEV_ONLY},
        {ControlID::TEMPORAL_FILTER_ALPHA, 53, 0, {0, 0, 52}, DEV_ONLY, {0, 0, 52}, DEV_ONLY},
        {ControlID::TEMPORAL_FILTER_THRESHOLD,
         400,
         0,
         {0, 0, 400},
         DEV_ONLY,
         {0, 0, 400},
         DEV_ONLY},
        {ControlID::KALMAN_FILTER_ENABLE, 1, 0, {0, 0, 1}, DEV_ONLY, {0, 0, 1}, DEV_ONLY},
        {ControlID::KALMAN_FILTER_THRESHOLD, 250, 0, {0, 0, 250}, DEV_ONLY, {0, 0, 250}, DEV_ONLY},
        {ControlID::KALMAN_FILTER_PROCESS_NOISE,
         1200,
         0,
         {0, 0, 1200},
         DEV_ONLY,
         {0, 0, 1200},
         DEV_ONLY},
        {ControlID::EDGE_FILTER_ENABLE, 1, 0, {0, 0, 1}, DEV_ONLY, {0, 0, 1}, DEV_ONLY},
        {ControlID::EDGE_FILTER_THRESHOLD, 150, 0, {0, 0, 150}, DEV_ONLY, {0, 0, 150}, DEV_ONLY},
    };
    return rows;
}

TEST_P(CameraControls, RoutingOfEveryControlInEveryMode) {
    openCamera(config());
    const AcquisitionMode modes[] = {AcquisitionMode::DIST_AMP, AcquisitionMode::GRAYSCALE,
                                     AcquisitionMode::DIST_AMP_HDR, AcquisitionMode::DCS4};
    size_t checked = 0;
    for (const Row& row : routingTable()) {
        const Cell cells[] = {row.distAmp, row.grayscale, row.hdr, row.dcs4};
        for (size_t m = 0; m < 4; ++m) {
            SCOPED_TRACE(testing::Message() << "control " << static_cast<int>(row.id) << " mode "
                                            << static_cast<int>(modes[m]));
            Cell want = cells[m];
            // The OZR310 builds HDR from ordinary frames and ignores the
            // exposure there.
            if (GetParam() == Model::OZR310 && row.id == ControlID::EXPOSURE_US &&
                modes[m] == AcquisitionMode::DIST_AMP_HDR) {
                want.readBack = KEEP;
            }
            ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, modes[m]), 0);
            int before = 0;
            (void)cam->getControl(row.id, before);
            EXPECT_EQ(cam->setControl(row.id, row.value + static_cast<int>(m) * row.step),
                      want.set);
            int value = KEEP;
            EXPECT_EQ(cam->getControl(row.id, value), want.get);
            if (want.get == 0) {
                EXPECT_EQ(value, want.readBack == KEEP ? before : want.readBack);
            }
            ++checked;
        }
    }
    // The mode switch itself, in every mode: reading back gives the mode.
    for (AcquisitionMode mode : modes) {
        EXPECT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, static_cast<int>(mode)), 0);
        int value = -1;
        EXPECT_EQ(cam->getControl(ControlID::ACQUISITION_MODE, value), 0);
        EXPECT_EQ(value, static_cast<int>(mode));
    }
    EXPECT_EQ(checked, (ozr::CONTROL_COUNT - 1) * 4);
}

TEST_P(CameraControls, ModeSwitchResetsTheGraphsButNotTheSensor) {
    openCamera(config());
    ASSERT_EQ(cam->setControl(ControlID::TEMPORAL_FILTER_ALPHA, 50), 0);
    ASSERT_EQ(cam->setControl(ControlID::GAIN, 5), 0);
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::GRAYSCALE), 0);
    EXPECT_EQ(log.count("Switched to Grayscale pipeline"), 1u);
    int dsnu = 0;
    EXPECT_EQ(cam->getControl(ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION, dsnu), 0);
    EXPECT_EQ(dsnu, 1);
    // 258 is mode 2: only the low 8 bits count.
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, 258), 0);
    EXPECT_EQ(log.count("Switched to HDR pipeline"), 1u);
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DIST_AMP), 0);
    EXPECT_EQ(log.count("Switched to Distance/Amplitude pipeline"), 1u);
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
        EXPECT_FALSE(frame);
    }
    EXPECT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DIST_AMP), 0);
    int value = 0;
    EXPECT_EQ(cam->getControl(ControlID::MIN_AMPLITUDE, value), 0);
    EXPECT_EQ(value, 100);
}

INSTANTIATE_TEST_SUITE_P(Models, CameraControls, testing::Values(Model::OZR310, Model::OZR320),
                         camtest::modelName);

}  // namespace
